#include "app/Dialogs.h"

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
