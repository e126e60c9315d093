// Where the controls of the three fixed windows sit, in one table of the places the windows'
// design gives them (left, top, width, height in twips; inside a frame or strip, relative to
// it). A caption may run wider than its place where the stand-in face is wider.
#include "app/AboutFrm.h"
#include "app/FrmMain.h"
#include "convert/FrmConversion.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ExpectedPlaces.h"

#include <QAbstractButton>
#include <QLabel>

#include <gtest/gtest.h>

#include <map>

namespace lumivex {
namespace {

using testing::Px;
using testing::Tw;

struct Place {
  const char* window;
  const char* control;
  int left, top, width, height;
};

const Place kPlaces[] = {
    {"FrmMain", "Picture1", 0, 0, 10710, 930},
    {"FrmMain", "Image2", 120, 0, 1065, 870},
    {"FrmMain", "Label4", 1215, 90, 870, 195},
    {"FrmMain", "Label1", 1215, 240, 2070, 345},
    {"FrmMain", "Label2", 1215, 600, 2445, 195},
    {"FrmMain", "Label3", 240, 1080, 2250, 195},
    {"FrmMain", "OptDefaultPST", 240, 1320, 2175, 255},
    {"FrmMain", "OptSelectPST", 2640, 1320, 2895, 255},
    {"FrmMain", "txtNotesDatabaseFile", 240, 1800, 4575, 375},
    {"FrmMain", "CmdBrowse", 5040, 1800, 1335, 375},
    {"FrmMain", "CmdEnumerateNotes", 6600, 1800, 1815, 375},
    {"FrmMain", "CmdContactsCreate", 8640, 1800, 1815, 375},
    {"FrmMain", "LblRead", 240, 2400, 2295, 255},
    {"FrmMain", "ProgBarScanNotes", 2400, 2400, 8055, 300},
    {"FrmMain", "LblTotalContactsHead", 240, 2880, 2175, 255},
    {"FrmMain", "LblTotalContacts", 2400, 2880, 2415, 255},
    {"FrmMain", "LblCurrentContactHead", 5160, 2880, 1455, 255},
    {"FrmMain", "LblCurrentContact", 6600, 2880, 2655, 255},
    {"FrmMain", "StatusBar1", 0, 3255, 10710, 375},
    {"AboutFrm", "Image2", 120, 120, 1065, 870},
    {"AboutFrm", "Label4", 1215, 210, 870, 195},
    {"AboutFrm", "Label5", 1215, 360, 2070, 345},
    {"AboutFrm", "Label6", 1215, 720, 2370, 195},
    {"AboutFrm", "Label2", 1200, 1080, 1110, 195},
    {"AboutFrm", "Label3", 1200, 1800, 2490, 195},
    {"AboutFrm", "CmdOK", 1320, 2400, 1335, 375},
    {"FrmConversion", "Frame1", -120, 2520, 6255, 3690},
    {"FrmConversion", "Label2", 1200, 120, 1335, 255},
    {"FrmConversion", "Label6", 1200, 360, 4290, 195},
    {"FrmConversion", "OptvCardComplete", 1200, 600, 4575, 375},
    {"FrmConversion", "OptvCardEach", 1200, 960, 4575, 375},
    {"FrmConversion", "OptExcel", 1200, 1400, 3375, 495},
    {"FrmConversion", "OptWAB", 1200, 2160, 3375, 375},
    {"FrmConversion", "Label1", 1450, 2520, 3540, 195},
    {"FrmConversion", "ProgBarSave", 240, 3240, 5775, 255},
    {"FrmConversion", "CmdConversion", 1920, 6360, 2175, 435},
};

TEST(WindowGeometry, ControlsSitWhereTheDesignPutsThem) {
  testing::App();
  FrmMain main;
  AboutFrm about(nullptr);
  FrmConversion conversion(
      nullptr, [] { return SourceOptions{.defaultStore = true, .selectStore = false}; }, [] {});
  const std::map<std::string, QWidget*> windows = {
      {"FrmMain", &main}, {"AboutFrm", &about}, {"FrmConversion", &conversion}};
  EXPECT_EQ(main.findChild<QWidget*>("Client")->size(), QSize(Px(10710), Px(3630)));
  EXPECT_EQ(about.size(), QSize(Px(3975), Px(2940)));
  EXPECT_EQ(conversion.size(), QSize(Px(6090), Px(6945)));
  EXPECT_EQ(conversion.LblSaveProgress->pos(), Tw(3000, 2840, 0, 0).topLeft());
  for (const Place& p : kPlaces) {
    SCOPED_TRACE(std::string(p.window) + " " + p.control);
    auto* control = windows.at(p.window)->findChild<QWidget*>(QLatin1String(p.control));
    ASSERT_NE(control, nullptr);
    const QRect place = Tw(p.left, p.top, p.width, p.height);
    EXPECT_EQ(control->pos(), place.topLeft());
    EXPECT_EQ(control->height(), place.height());
    const auto* button = qobject_cast<QAbstractButton*>(control);
    if (qobject_cast<QLabel*>(control) || (button != nullptr && button->isCheckable()))
      EXPECT_GE(control->width(), place.width());
    else
      EXPECT_EQ(control->width(), place.width());
  }
}

}  // namespace
}  // namespace lumivex
