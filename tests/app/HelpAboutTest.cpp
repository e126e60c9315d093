// The Help menu: the help pages shipped beside the program, the web site and the about box.
#include "app/AboutFrm.h"
#include "app/FrmMain.h"
#include "common/Module1.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ExpectedPlaces.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

using testing::App;
using testing::OnNextModal;
using testing::ScriptedDialogs;

class HelpAboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetDialogs(dialogs);
    Module1::SetUrlOpener([this](const QString& address) { opened << address; });
  }
  void TearDown() override {
    Module1::SetUrlOpener(nullptr);
    FrmMain::SetHelpIndex(QString());
    SetDialogs(nullptr);
  }
  std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
  QStringList opened;
};

TEST_F(HelpAboutTest, ContentsAndWebsiteOpenInTheBrowser) {
  FrmMain window;
  const QString index = testing::BinDir() + "/help/index.html";
  FrmMain::SetHelpIndex(index);
  window.mnuContent->trigger();
  window.mnuWebsite->trigger();
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(QUrl(opened[0]).toLocalFile(), index);
  EXPECT_EQ(opened[1], "https://www.lumivex.app");
  EXPECT_TRUE(dialogs->messages.empty());

  // Pages that are not there: the user is told where they were looked for.
  FrmMain::SetHelpIndex("/nowhere/help/index.html");
  window.mnuContent->trigger();
  EXPECT_EQ(opened.size(), 2);
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_TRUE(dialogs->messages[0].text.contains("/nowhere/help/index.html"));
}

TEST_F(HelpAboutTest, ShippedHelpPagesLinkOnlyToPagesThatExist) {
  const QDir help(testing::BinDir() + "/help");
  const QStringList pages = help.entryList({"*.html"}, QDir::Files);
  ASSERT_TRUE(pages.contains("index.html")) << help.path().toStdString();
  EXPECT_GE(pages.size(), 5);
  const QRegularExpression link(R"re((?:href|src)="([^"#:]+)(?:#[^"]*)?")re");
  QStringList reached;
  for (const QString& page : pages) {
    QFile file(help.filePath(page));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(html.contains("<title>")) << page.toStdString();
    for (auto it = link.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      EXPECT_TRUE(help.exists(target))
          << page.toStdString() << " links to " << target.toStdString();
      reached << target;
    }
  }
  // Every page can be reached from the others, and the texts the user sees are the window's own.
  for (const QString& page : pages) EXPECT_TRUE(reached.contains(page)) << page.toStdString();
  QFile main(help.filePath("main-window.html"));
  ASSERT_TRUE(main.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(main.readAll());
  for (const char* caption : {"Default Outlook Contacts", "Select Other Outlook File",
                              "Scan Outlook Contacts", "Save Contacts", "Select Folder"})
    EXPECT_TRUE(text.contains(caption)) << caption;
}

TEST_F(HelpAboutTest, ProgramAnswersHelpAndVersionWithoutADisplay) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  auto run = [&](const QStringList& args, int& status) {
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(testing::BinDir() + "/lumivex", args);
    EXPECT_TRUE(program.waitForFinished(20000));
    status = program.exitCode();
    return QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
  };
  int status = -1;
  const QString help = run({"--help"}, status);
  EXPECT_EQ(status, 0);
  for (const char* text : {"Usage:", "--version", "LUMIVEX_DEFAULT_STORE", "lumivex-cli"})
    EXPECT_TRUE(help.contains(text)) << text << " in " << help.toStdString();
  EXPECT_TRUE(run({"--version"}, status).contains("3.0 Build 1078"));
  EXPECT_EQ(status, 0);
  const QString headless = run({}, status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(headless.contains("no display found")) << headless.toStdString();
}

TEST_F(HelpAboutTest, AboutBoxShowsOverTheMainWindowAndClosesWithOk) {
  FrmMain window;
  window.show();
  bool seen = false;
  OnNextModal([&](QWidget* modal) {
    auto* about = qobject_cast<AboutFrm*>(modal);
    if (about == nullptr) {
      ADD_FAILURE() << "the about box did not come up";
      if (modal) modal->close();
      return;
    }
    seen = true;
    EXPECT_EQ(about->windowTitle(), "About");
    EXPECT_EQ(about->parentWidget(), &window);
    EXPECT_FALSE(about->windowFlags() & Qt::WindowMaximizeButtonHint);
    QStringList texts;
    for (QLabel* label :
         {about->Label4, about->Label5, about->Label6, about->Label2, about->Label3})
      texts << label->text();
    EXPECT_EQ(texts, QStringList({"Quorvane", "Lumivex", "Export Outlook Contacts to vCard",
                                  "v3.0 Build 1078", "https://www.lumivex.app"}));
    about->CmdOK->click();
  });
  window.mnuAbout->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(opened.isEmpty());
}

}  // namespace
}  // namespace lumivex
