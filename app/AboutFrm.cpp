#include "app/AboutFrm.h"

#include "app/Artwork.h"
#include "app/Twips.h"
#include "common/Module1.h"

#include <QLabel>
#include <QPushButton>

namespace lumivex {

namespace {
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& where,
                  const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(where);
  label->setFont(font);
  return label;
}
}  // namespace

AboutFrm::AboutFrm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("AboutFrm"));
  setWindowTitle(QStringLiteral("About"));
  // A dialog window of its owner: no taskbar entry, no minimize or maximize button.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  setFixedSize(TwipsToPixels(3975), TwipsToPixels(2940));
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  setPalette(white);
  setAutoFillBackground(true);

  Image2 = new QLabel(this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(TwipsRect(120, 120, 1065, 870));
  Image2->setPixmap(ProductLogo(Image2->size(), devicePixelRatioF()));

  const QString verdana = QStringLiteral("Verdana");
  const QString tahoma = QStringLiteral("Tahoma");
  Label4 = MakeLabel(this, "Label4", QStringLiteral("Quorvane"), TwipsRect(1215, 210, 870, 195),
                     PointFont(verdana, 8.25, true));
  Label5 = MakeLabel(this, "Label5", QStringLiteral("Lumivex"), TwipsRect(1215, 360, 2070, 345),
                     PointFont(verdana, 14.25, true));
  QPalette navy = Label5->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  Label5->setPalette(navy);
  Label6 = MakeLabel(this, "Label6", QStringLiteral("Export Outlook Contacts to vCard"),
                     TwipsRect(1215, 720, 2370, 195), PointFont(tahoma, 8.25));
  Label2 = MakeLabel(this, "Label2", QStringLiteral("v3.0 Build 1078"),
                     TwipsRect(1200, 1080, 1110, 195), PointFont(tahoma, 8.25));
  Label3 = MakeLabel(this, "Label3", QString::fromLatin1(Module1::kWebsite),
                     TwipsRect(1200, 1800, 2490, 195), PointFont(tahoma, 8.25, true));
  Label3->setTextInteractionFlags(Qt::NoTextInteraction);
  for (QLabel* caption : {Label4, Label5, Label6, Label2, Label3}) FitWidth(caption);

  Line1 = new QWidget(this);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setGeometry(TwipsToPixels(120), TwipsToPixels(2160), TwipsToPixels(3840 - 120), 1);
  QPalette grey = Line1->palette();
  grey.setColor(QPalette::Window, QColor(224, 224, 224));
  Line1->setPalette(grey);
  Line1->setAutoFillBackground(true);

  CmdOK = new QPushButton(QStringLiteral("&OK"), this);
  CmdOK->setObjectName(QStringLiteral("CmdOK"));
  CmdOK->setGeometry(TwipsRect(1320, 2400, 1335, 375));
  CmdOK->setDefault(true);
  connect(CmdOK, &QPushButton::clicked, this, &AboutFrm::CmdOK_Click);
}

void AboutFrm::CmdOK_Click() {
  accept();
}

}  // namespace lumivex
