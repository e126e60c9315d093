// What the window tests share: one QApplication for the program, and dialogs that answer from a
// script and record what they were asked.
#pragma once

#include "app/Dialogs.h"

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

namespace lumivex::testing {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

struct AskedMessage {
  QString text;
  QString title;
  int style = 0;
};

class ScriptedDialogs : public Dialogs {
 public:
  void Message(QWidget*, const QString& text, const QString& title, int style) override {
    messages.push_back({text, title, style});
    if (onMessage) onMessage();
  }
  bool Notice(QWidget*, const QString& text, const QString& title, const QString& offer) override {
    notices.push_back({text, title, offer});
    return takeOffer && !offer.isEmpty();
  }
  QString OpenFile(QWidget*, const QString& filter) override {
    filters << filter;
    if (files.empty()) return {};
    QString file = files.front();
    files.pop_front();
    return file;
  }
  QString BrowseFolder(QWidget*, const QString& title) override {
    browseTitles << title;
    if (duringBrowse) duringBrowse();
    return folder;
  }
  QString SaveFile(QWidget*, const QString&, const QString& suggested,
                   const QString& filter) override {
    saveSuggestions << suggested;
    saveFilters << filter;
    return saveFile;
  }

  std::deque<QString> files;  // answers of the open-file dialog, in order; empty text = cancel
  QStringList filters;
  QString folder;    // the folder browser's answer; empty = cancel
  QString saveFile;  // the save-file dialog's answer; empty = cancel
  QStringList saveSuggestions, saveFilters;
  std::vector<AskedMessage> messages;
  struct AskedNotice {
    QString text, title, offer;
  };
  std::vector<AskedNotice> notices;    // the notices after result boxes, in order
  bool takeOffer = false;              // a notice's offer is chosen rather than OK
  QStringList browseTitles;            // the folder browser's titles, one per time it was shown
  std::function<void()> duringBrowse;  // runs while the folder browser is up
  std::function<void()> onMessage;     // runs as each message box comes up
};

// Runs `handle` on the modal window that an exec() about to start will show, once it is up.
// The handler closes the window (a click, accept(), reject()) so that exec() returns.
inline void OnNextModal(std::function<void(QWidget*)> handle, int triesLeft = 200) {
  QTimer::singleShot(triesLeft == 200 ? 0 : 5, [handle, triesLeft] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && triesLeft > 0) return OnNextModal(handle, triesLeft - 1);
    handle(modal);
  });
}

}  // namespace lumivex::testing
