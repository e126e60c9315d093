// Every window and dialog on a 1600 x 1000 screen at scale 2 (800 x 500 in the windows' own
// units): each fits the screen with its buttons within reach, no access key is taken twice in one
// window, and every control a user can reach with the keyboard has a name a screen reader says.
// This test runs in its own program: the screen and the scale are set before the application.
#include "app/AboutFrm.h"
#include "app/ExportDialog.h"
#include "app/FolderPickerDialog.h"
#include "app/FrmMain.h"
#include "app/HelpViewer.h"
#include "app/ReviewWindow.h"
#include "app/SendPanel.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestPaths.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPalette>
#include <QScreen>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace lumivex {
namespace {

// The letter after a single '&' in `text`, lower case; 0 when none.
QChar AccessKey(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return {};
}

// The access keys of a window: its buttons, labels naming a control, group boxes, tabs and
// menu titles, each with the text that takes it.
std::multimap<QChar, QString> AccessKeys(QWidget* window) {
  std::multimap<QChar, QString> keys;
  auto add = [&](const QString& text) {
    if (const QChar key = AccessKey(text); !key.isNull()) keys.emplace(key, text);
  };
  for (auto* b : window->findChildren<QAbstractButton*>())
    if (b->isVisibleTo(window)) add(b->text());
  for (auto* l : window->findChildren<QLabel*>())
    if (l->buddy() && l->isVisibleTo(window)) add(l->text());
  for (auto* g : window->findChildren<QGroupBox*>())
    if (g->isVisibleTo(window)) add(g->title());
  for (auto* t : window->findChildren<QTabWidget*>())
    for (int i = 0; i < t->count(); ++i) add(t->tabText(i));
  for (auto* m : window->findChildren<QMenuBar*>())
    for (QAction* a : m->actions()) add(a->text());
  return keys;
}

TEST(WindowFit, EveryWindowFitsSpeaksAndHasNoKeyClash) {
  // A screen of 1600 x 1000 pixels at scale 2, set before the application starts.
  ASSERT_EQ(QCoreApplication::instance(), nullptr) << "run this test in a program of its own";
  const QString dir = testing::ScratchDir("window-fit");
  QFile config(dir + "/screen.json");
  ASSERT_TRUE(config.open(QIODevice::WriteOnly));
  config.write(R"({"screens": [{"name": "S", "x": 0, "y": 0, "width": 1600, "height": 1000,
                               "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
  config.close();
  qputenv("QT_QPA_PLATFORM", QFile::encodeName("offscreen:configfile=" + config.fileName()));
  qputenv("QT_SCALE_FACTOR", "2");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir + "/config"));
  qputenv("XDG_STATE_HOME", QFile::encodeName(dir + "/state"));
  testing::App();
  // With LUMIVEX_SHOTS=DIR each window is grabbed there to be looked at; LUMIVEX_SHOTS_DARK=1
  // shows them in a dark palette, as a dark desktop theme does.
  const QString shots = qEnvironmentVariable("LUMIVEX_SHOTS");
  const bool dark = qEnvironmentVariable("LUMIVEX_SHOTS_DARK") == "1";
  if (dark) {
    QApplication::setStyle("Fusion");
    QPalette night;
    night.setColor(QPalette::Window, QColor(45, 45, 48));
    night.setColor(QPalette::WindowText, QColor(230, 230, 230));
    night.setColor(QPalette::Base, QColor(30, 30, 32));
    night.setColor(QPalette::AlternateBase, QColor(50, 50, 54));
    night.setColor(QPalette::Text, QColor(230, 230, 230));
    night.setColor(QPalette::Button, QColor(60, 60, 64));
    night.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    night.setColor(QPalette::Highlight, QColor(60, 110, 180));
    night.setColor(QPalette::HighlightedText, Qt::white);
    night.setColor(QPalette::Link, QColor(120, 170, 255));
    night.setColor(QPalette::Disabled, QPalette::Text, QColor(130, 130, 130));
    night.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(130, 130, 130));
    night.setColor(QPalette::Disabled, QPalette::WindowText, QColor(130, 130, 130));
    QApplication::setPalette(night);
  }
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_EQ(screen.size(), QSize(800, 500));

  const QString sample = testing::BinDir() + "/sample.pst";
  std::vector<std::shared_ptr<Store>> stores{OpenStoreFile(sample)};
  std::vector<std::pair<const char*, std::unique_ptr<QWidget>>> windows;
  windows.emplace_back("main window", std::make_unique<FrmMain>());
  windows.emplace_back("about box", std::make_unique<AboutFrm>(nullptr));
  windows.emplace_back(
      "conversion window",
      std::make_unique<FrmConversion>(
          nullptr, [] { return SourceOptions{.defaultStore = true, .selectStore = false}; },
          [] {}));
  windows.emplace_back("folder picker", std::make_unique<FolderPickerDialog>(nullptr, stores));
  windows.emplace_back("export dialog",
                       std::make_unique<ExportDialog>(nullptr, ExportSource{true, sample, {}}));
  windows.emplace_back("send panel", std::make_unique<SendPanel>(
                                         nullptr, [] { return nullptr; }, "the sample store"));
  windows.emplace_back("review", std::make_unique<ReviewWindow>(nullptr, QStringList{sample}));
  windows.emplace_back(
      "help", std::make_unique<HelpViewer>(nullptr, testing::BinDir() + "/help/index.html"));
  for (auto& [name, window] : windows) {
    SCOPED_TRACE(name);
    window->show();
    if (auto* review = qobject_cast<ReviewWindow*>(window.get())) {
      QElapsedTimer clock;
      clock.start();
      while (!review->Loaded() && !clock.hasExpired(20000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      ASSERT_TRUE(review->Loaded());
    }
    QCoreApplication::processEvents();
    // Within the screen, frame and all; and no smaller than it lets itself be made.
    EXPECT_TRUE(screen.contains(window->frameGeometry()))
        << window->frameGeometry().width() << "x" << window->frameGeometry().height();
    EXPECT_LE(window->minimumSize().height(), screen.height());
    EXPECT_LE(window->minimumSize().width(), screen.width());
    // Every button in the window (a scroll area's contents reach it by scrolling).
    for (auto* b : window->findChildren<QAbstractButton*>()) {
      if (!b->isVisibleTo(window.get()) || b->parentWidget()->inherits("QScrollArea")) continue;
      const QRect at(b->mapTo(window.get(), QPoint(0, 0)), b->size());
      bool scrolled = false;
      for (QWidget* w = b->parentWidget(); w && w != window.get(); w = w->parentWidget())
        scrolled |= w->objectName() == "qt_scrollarea_viewport";
      if (!scrolled) {
        EXPECT_TRUE(window->rect().contains(at)) << b->text().toStdString() << " out of reach";
      }
    }
    const std::multimap<QChar, QString> keys = AccessKeys(window.get());
    for (auto it = keys.begin(); it != keys.end(); ++it)
      if (const auto next = std::next(it); next != keys.end() && next->first == it->first)
        ADD_FAILURE() << "Alt+" << QString(it->first).toStdString() << " takes both \""
                      << it->second.toStdString() << "\" and \"" << next->second.toStdString()
                      << "\"";
    for (auto* w : window->findChildren<QWidget*>()) {
      // What the keyboard reaches, and the progress bars.
      if (!(w->focusPolicy() & Qt::TabFocus) && !w->inherits("QProgressBar")) continue;
      if (!w->isVisibleTo(window.get()) || w->focusProxy() != nullptr ||
          w->objectName().startsWith("qt_"))
        continue;
      QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(w);
      ASSERT_NE(spoken, nullptr);
      EXPECT_FALSE(spoken->text(QAccessible::Name).trimmed().isEmpty())
          << w->metaObject()->className() << " " << w->objectName().toStdString() << " has no name";
    }
    if (!shots.isEmpty())
      window->grab().save(
          QStringLiteral("%1/scale2-%2-%3.png")
              .arg(shots, QString::fromLatin1(name).replace(u' ', u'-'), dark ? "dark" : "light"));
    window->hide();
  }
}

}  // namespace
}  // namespace lumivex
