// The about box: the logo, the product's name, version and web site, and an OK button.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace lumivex {

class AboutFrm : public QDialog {
  Q_OBJECT

 public:
  explicit AboutFrm(QWidget* owner);

  QLabel* Image2;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Label2;
  QLabel* Label3;
  QWidget* Line1;
  QPushButton* CmdOK;

  void CmdOK_Click();
};

}  // namespace lumivex
