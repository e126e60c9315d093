// The dialogs the windows open: message boxes, the open-file and save-file dialogs and the folder
// browser.
// The windows reach them through this seam so that tests can answer them.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

namespace lumivex {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message box with a single OK button. `style` 64 information icon, 48 exclamation, 16
  // critical.
  virtual void Message(QWidget* owner, const QString& text, const QString& title, int style) = 0;
  // A notice after a result box: `text` with an exclamation icon, an OK button and, where `offer`
  // is not empty, a button of that caption beside it. True when the user chose `offer`. Shown as
  // a plain message box unless a seam says otherwise.
  virtual bool Notice(QWidget* owner, const QString& text, const QString& title,
                      const QString& offer) {
    (void)offer;
    Message(owner, text, title, 48);
    return false;
  }
  // The open-file dialog: the chosen file's full path, or empty text on cancel. `filter` in Qt's
  // form, e.g. "Outlook PST File (*.pst)".
  virtual QString OpenFile(QWidget* owner, const QString& filter) = 0;
  // The same, several files chosen at once: their full paths, none on cancel. A seam that
  // answers OpenFile alone answers with its one file.
  virtual QStringList OpenFiles(QWidget* owner, const QString& filter) {
    const QString path = OpenFile(owner, filter);
    return path.isEmpty() ? QStringList() : QStringList{path};
  }
  // The folder browser: the chosen folder's path, or empty text on cancel.
  virtual QString BrowseFolder(QWidget* owner, const QString& title) = 0;
  // The save-file dialog, starting at `suggested` (a full path) and asking before it lets an
  // existing file be chosen: the chosen file's full path, or empty text on cancel. `filter` in
  // Qt's form, e.g. "vCard file (*.vcf)". Answers as cancelled unless a seam says otherwise.
  virtual QString SaveFile(QWidget* owner, const QString& title, const QString& suggested,
                           const QString& filter) {
    (void)owner;
    (void)title;
    (void)suggested;
    (void)filter;
    return {};
  }
};

// The dialogs in use: Qt's own unless a test has put others in place.
Dialogs& CurrentDialogs();
void SetDialogs(std::shared_ptr<Dialogs> dialogs);

}  // namespace lumivex
