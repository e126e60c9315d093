// The help pages read inside the program: shown when no web browser takes them, so that help is
// never out of reach. Links between the pages are followed here; links to the web site go to the
// desktop's browser.
#pragma once

#include <QDialog>

class QPushButton;
class QTextBrowser;

namespace lumivex {

class HelpViewer : public QDialog {
  Q_OBJECT

 public:
  // `page`: a help page's path (help/index.html in the data folder when relative).
  HelpViewer(QWidget* owner, const QString& page);

  QTextBrowser* Pages;
  QPushButton* CmdBack;
  QPushButton* CmdForward;
  QPushButton* CmdContents;
  QPushButton* CmdClose;
};

// Opens a help page (a file:// address) in the desktop's browser, and here when none takes it.
void OpenHelpPage(const QString& address);

}  // namespace lumivex
