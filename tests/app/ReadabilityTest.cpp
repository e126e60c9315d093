// Every text of the main window, the conversion window and the export dialog is readable under
// the light palette and under a dark desktop theme (qt6ct's "darker" colour scheme, read from
// the file qt6ct installs): the contrast of text against what is behind it is at least 4.5:1,
// WCAG 2's minimum for normal text.
#include "app/ExportDialog.h"
#include "app/FrmMain.h"
#include "convert/FrmConversion.h"
#include "tests/app/AppTestSupport.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <cmath>

namespace lumivex {
namespace {

// WCAG 2's relative luminance and contrast ratio.
double Luminance(const QColor& colour) {
  auto channel = [](double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
         0.0722 * channel(colour.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// qt6ct's scheme file lists each group's colours in the order of QPalette's roles.
QPalette Qt6ctScheme(const QString& name) {
  QSettings scheme(QStringLiteral("/usr/share/qt6ct/colors/%1.conf").arg(name),
                   QSettings::IniFormat);
  QPalette palette;
  const std::pair<const char*, QPalette::ColorGroup> groups[] = {
      {"ColorScheme/active_colors", QPalette::Active},
      {"ColorScheme/inactive_colors", QPalette::Inactive},
      {"ColorScheme/disabled_colors", QPalette::Disabled}};
  for (const auto& [key, group] : groups) {
    const QStringList colours = scheme.value(QLatin1String(key)).toStringList();
    for (int role = 0; role < colours.size() && role < QPalette::NColorRoles; ++role)
      palette.setColor(group, static_cast<QPalette::ColorRole>(role), QColor(colours[role]));
  }
  return palette;
}

// What is drawn behind a widget: its own button face for a push button, else the background of
// the nearest widget that fills its own (or of the window).
QColor Behind(const QWidget* widget) {
  if (qobject_cast<const QPushButton*>(widget)) return widget->palette().color(QPalette::Button);
  const QWidget* filled = widget->parentWidget();
  while (filled != nullptr && !filled->autoFillBackground() && !filled->isWindow())
    filled = filled->parentWidget();
  if (filled == nullptr) filled = widget;
  return filled->palette().color(QPalette::Active, filled->backgroundRole());
}

QColor TextOf(const QWidget* widget) {
  const QPalette::ColorRole role =
      qobject_cast<const QPushButton*>(widget) ? QPalette::ButtonText : QPalette::WindowText;
  return widget->palette().color(QPalette::Active, role);
}

QString Caption(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return {};
}

// Each captioned widget of `window` whose text is too faint, with its contrast.
QStringList Faint(const QWidget* window) {
  QStringList faint;
  for (const QWidget* widget : window->findChildren<const QWidget*>()) {
    if (Caption(widget).isEmpty()) continue;
    const double ratio = Contrast(TextOf(widget), Behind(widget));
    if (ratio < 4.5)
      faint << QStringLiteral("%1 \"%2\": %3:1 (%4 on %5)")
                   .arg(widget->objectName(), Caption(widget))
                   .arg(ratio, 0, 'f', 2)
                   .arg(TextOf(widget).name(), Behind(widget).name());
  }
  return faint;
}

TEST(ReadabilityTest, EveryTextStandsOutUnderLightAndDarkThemes) {
  testing::App();
  const QPalette darker = Qt6ctScheme(QStringLiteral("darker"));
  ASSERT_LT(darker.color(QPalette::Window).lightness(), 100)
      << "qt6ct's colour schemes are needed (the Debian package qt6ct)";
  const QPalette previous = QApplication::palette();
  const QString previousStyle = QApplication::style()->name();
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const std::pair<const char*, QPalette> themes[] = {
      {"light", QApplication::style()->standardPalette()}, {"darker", darker}};
  for (const auto& [name, palette] : themes) {
    SCOPED_TRACE(name);
    QApplication::setPalette(palette);
    FrmMain main;
    FrmConversion conversion(nullptr, {}, {});
    ExportDialog dialog(nullptr, ExportSource{});
    ExportDialog nothingScanned(nullptr, ExportSource{true, {}, {}});
    nothingScanned.ShowNothingToExport(QStringLiteral("Scan first."));
    for (const QWidget* window :
         std::initializer_list<const QWidget*>{&main, &conversion, &dialog, &nothingScanned})
      EXPECT_TRUE(Faint(window).isEmpty()) << window->objectName().toStdString() << ":\n"
                                           << Faint(window).join(u'\n').toStdString();
    // The export's error text, on the dialog's background.
    const QColor window = dialog.palette().color(QPalette::Window);
    EXPECT_GE(Contrast(ErrorTextColour(window), window), 4.5);
  }
  QApplication::setPalette(previous);
  QApplication::setStyle(previousStyle);
}

}  // namespace
}  // namespace lumivex
