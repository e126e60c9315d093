// The "Send to an Address Book" window driven as a user drives it, against a Radicale server the
// test starts on 127.0.0.1 with a user and password, and against a private Evolution Data Server:
// the account's books found with Test Connection, the sample store sent into a new book and
// counted back through the server's own listing, a second send that changes nothing, and a wrong
// password told as such. With LUMIVEX_SHOTS=DIR set, each state is also saved as DIR/NAME.png.
#include "app/SendPanel.h"

#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/convert/ProgramRun.h"
#include "tests/destination/EdsSession.h"
#include "tests/support/TestPaths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// readpst finds 46 contacts in the sample store's contacts folder.
constexpr int kSampleContacts = 46;

// Radicale with the user ann (password s3cret), in a folder of its own, stopped with it.
struct Radicale {
  explicit Radicale(const QString& dir) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
    probe.close();
    QFile users(dir + QStringLiteral("/users"));
    EXPECT_TRUE(users.open(QIODevice::WriteOnly) && users.write("ann:s3cret\n") > 0);
    users.close();
    QFile config(dir + QStringLiteral("/config"));
    EXPECT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n[auth]\ntype = htpasswd\n"
                                "htpasswd_filename = %2/users\nhtpasswd_encryption = plain\n"
                                "[storage]\nfilesystem_folder = %2/data\n")
                     .arg(port)
                     .arg(dir)
                     .toUtf8());
    config.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(dir + QStringLiteral("/server.log"));
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-m"), QStringLiteral("radicale"), QStringLiteral("--config"),
                   dir + QStringLiteral("/config")});
    for (int i = 0; i < 100 && !up; ++i) {
      QTcpSocket socket;
      socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
      up = socket.waitForConnected(100);
      if (!up) QThread::msleep(100);
    }
  }
  ~Radicale() {
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
    process.waitForFinished();
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port); }
  int port = 0;
  bool up = false;
  QProcess process;
};

// The number of cards in a book, as the server lists them to a client of the tests' own.
int CardsListed(const QString& book, const QString& dir) {
  const ProgramOutput run = RunProgram(
      QStringLiteral("/usr/bin/python3"),
      {SourceDir() + QStringLiteral("/tests/destination/dav_client.py"), QStringLiteral("list"),
       book, QStringLiteral("ann"), QStringLiteral("s3cret"), QStringLiteral("-"), dir});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  return static_cast<int>(QJsonDocument::fromJson(run.out.toUtf8()).object().size());
}

void Shot(SendPanel& panel, const char* name) {
  const QString dir = qEnvironmentVariable("LUMIVEX_SHOTS");
  if (dir.isEmpty()) return;
  panel.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
  QTest::qWait(200);
  panel.grab().save(dir + u'/' + QString::fromLatin1(name) + QStringLiteral(".png"));
}

// Clicks `button` and waits for the run it starts to end.
bool RunAndWait(SendPanel& panel, QPushButton* button, const char* runningShot = nullptr) {
  QSignalSpy finished(&panel, &SendPanel::Finished);
  button->click();
  if (runningShot != nullptr) Shot(panel, runningShot);
  return finished.count() > 0 || finished.wait(120000);
}

class SendPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetMailProvider(MakeStoreMailProvider(nullptr));
  }
  void TearDown() override { SetMailProvider(nullptr); }
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
};

}  // namespace

TEST_F(SendPanelTest, SendsTheStoreIntoANewCardDavBookOnceAndSaysSo) {
  const QString dir = ScratchDir(QStringLiteral("send-panel"));
  const Radicale server(dir);
  ASSERT_TRUE(server.up);
  SendPanel panel(nullptr, StoreContacts(sample, {}, false),
                  QStringLiteral("Contacts of the default contacts folder in sample.pst"));
  panel.OptCardDav->setChecked(true);
  panel.EdtServer->setText(server.Url());
  panel.EdtUser->setText(QStringLiteral("ann"));
  panel.EdtPassword->setText(QStringLiteral("s3cret"));
  Shot(panel, "send-panel-carddav");

  // A fresh account has no book: the user types a name for a new one.
  ASSERT_TRUE(RunAndWait(panel, panel.CmdTest));
  EXPECT_TRUE(panel.LastError().isEmpty()) << panel.LastError().toStdString();
  EXPECT_EQ(panel.CboBook->count(), 0);
  panel.CboBook->setEditText(QStringLiteral("Outlook"));
  Shot(panel, "send-panel-connected");

  ASSERT_TRUE(RunAndWait(panel, panel.CmdSend, "send-panel-running"));
  EXPECT_TRUE(panel.LastError().isEmpty()) << panel.LastError().toStdString();
  EXPECT_EQ(panel.LastResult().added, kSampleContacts);
  EXPECT_TRUE(panel.LblResult->text().startsWith(
      QStringLiteral("%1 added, 0 updated, 0 unchanged, 0 conflicts, 0 failed")
          .arg(kSampleContacts)))
      << panel.LblResult->text().toStdString();
  Shot(panel, "send-panel-done");

  // The new book is listed now; sent into again, it changes nothing.
  ASSERT_TRUE(RunAndWait(panel, panel.CmdTest));
  ASSERT_EQ(panel.CboBook->count(), 1);
  EXPECT_EQ(panel.CboBook->currentText(), u"Outlook");
  EXPECT_EQ(CardsListed(panel.CboBook->currentData().toString(), dir + QStringLiteral("/list")),
            kSampleContacts);
  ASSERT_TRUE(RunAndWait(panel, panel.CmdSend));
  EXPECT_EQ(panel.LastResult().unchanged, kSampleContacts);
  EXPECT_TRUE(panel.LblResult->text().startsWith(
      QStringLiteral("0 added, 0 updated, %1 unchanged").arg(kSampleContacts)))
      << panel.LblResult->text().toStdString();
  Shot(panel, "send-panel-again");

  // A wrong password sends nothing and says so.
  panel.EdtPassword->setText(QStringLiteral("wrong"));
  ASSERT_TRUE(RunAndWait(panel, panel.CmdSend));
  EXPECT_FALSE(panel.LastError().isEmpty());
  EXPECT_EQ(panel.LblResult->text(), panel.LastError());
  EXPECT_EQ(panel.LastResult().added + panel.LastResult().unchanged, 0);
  Shot(panel, "send-panel-wrong-password");
}

TEST_F(SendPanelTest, CancelStopsTheSendAndSendingAgainFinishesIt) {
  const QString dir = ScratchDir(QStringLiteral("send-panel-cancel"));
  const Radicale server(dir);
  ASSERT_TRUE(server.up);
  SendPanel panel(nullptr, StoreContacts(sample, {}, false), QStringLiteral("sample.pst"));
  panel.EdtServer->setText(server.Url());
  panel.EdtUser->setText(QStringLiteral("ann"));
  panel.EdtPassword->setText(QStringLiteral("s3cret"));
  panel.CboBook->setEditText(QStringLiteral("Outlook"));
  // The worker is held after its first contact until Cancel has been clicked.
  QSemaphore reached, go;
  SendPanel::SetProgressHook([&](int done) {
    if (done != 1) return;
    reached.release();
    go.acquire();
  });
  QSignalSpy finished(&panel, &SendPanel::Finished);
  panel.CmdSend->click();
  while (!reached.tryAcquire(1, 10)) QCoreApplication::processEvents();
  panel.CmdCancel->click();
  go.release();
  ASSERT_TRUE(finished.wait(120000));
  SendPanel::SetProgressHook({});
  EXPECT_TRUE(panel.LastResult().cancelled);
  const int first = panel.LastResult().added;
  EXPECT_LT(first, kSampleContacts);
  EXPECT_TRUE(panel.LblProgress->text().contains(u"cancelled"));

  ASSERT_TRUE(RunAndWait(panel, panel.CmdSend));
  EXPECT_FALSE(panel.LastResult().cancelled);
  EXPECT_EQ(first + panel.LastResult().added, kSampleContacts);
  ASSERT_TRUE(RunAndWait(panel, panel.CmdTest));
  ASSERT_EQ(panel.CboBook->count(), 1);
  EXPECT_EQ(CardsListed(panel.CboBook->currentData().toString(), dir + QStringLiteral("/list")),
            kSampleContacts);
}

TEST_F(SendPanelTest, ListsEvolutionsBooksAndSendsIntoTheChosenOne) {
  const EdsSession eds;
  ASSERT_TRUE(eds.missing.isEmpty());
  SendPanel panel(nullptr, StoreContacts(sample, {}, false),
                  QStringLiteral("Contacts of the default contacts folder in sample.pst"));
  panel.OptEvolution->setChecked(true);
  ASSERT_EQ(panel.CboEvolutionBook->count(), 1);
  EXPECT_EQ(panel.CboEvolutionBook->currentText(), u"Personal (default)");
  Shot(panel, "send-panel-evolution");
  ASSERT_TRUE(RunAndWait(panel, panel.CmdSend));
  EXPECT_TRUE(panel.LastError().isEmpty()) << panel.LastError().toStdString();
  EXPECT_EQ(panel.LastResult().added, kSampleContacts);
  Shot(panel, "send-panel-evolution-done");
}
