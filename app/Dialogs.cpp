#include "app/Dialogs.h"

#include <QPushButton>
#include <QFileDialog>
#include <QMessageBox>

namespace lumivex {

namespace {

class QtDialogs : public Dialogs {
 public:
  void Message(QWidget* owner, const QString& text, const QString& title, int style) override {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(style == 48   ? QMessageBox::Warning
                : style == 16 ? QMessageBox::Critical
                              : QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
  }

  bool Notice(QWidget* owner, const QString& text, const QString& title,
              const QString& offer) override {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    QPushButton* other =
        offer.isEmpty() ? nullptr : box.addButton(offer, QMessageBox::ActionRole);
    box.exec();
    return other != nullptr && box.clickedButton() == static_cast<QAbstractButton*>(other);
  }

  QString OpenFile(QWidget* owner, const QString& filter) override {
    return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
  }

  QStringList OpenFiles(QWidget* owner, const QString& filter) override {
    return QFileDialog::getOpenFileNames(owner, QString(), QString(), filter);
  }

  QString BrowseFolder(QWidget* owner, const QString& title) override {
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
  }

  QString SaveFile(QWidget* owner, const QString& title, const QString& suggested,
                   const QString& filter) override {
    return QFileDialog::getSaveFileName(owner, title, suggested, filter);
  }
};

std::shared_ptr<Dialogs>& Slot() {
  static std::shared_ptr<Dialogs> dialogs = std::make_shared<QtDialogs>();
  return dialogs;
}

}  // namespace

Dialogs& CurrentDialogs() {
  return *Slot();
}

void SetDialogs(std::shared_ptr<Dialogs> dialogs) {
  Slot() = dialogs ? std::move(dialogs) : std::make_shared<QtDialogs>();
}

}  // namespace lumivex
