// lumivex-cli migrate against a real Radicale with twenty accounts (htpasswd) started on
// 127.0.0.1 by the test: each person's stores, written by lumivex-pstgen with people shared among
// one person's stores, must arrive in that person's account exactly as `export --format vcard3`
// of the same stores gives them, read back through the server by the tests' own CardDAV client
// and parsed by vobject; faults are named and fixed by a re-run without a duplicate; shards run
// by GNU parallel give the same.
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"
#include "tests/support/LocalServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using namespace lumivex::testing;

namespace {

constexpr int kPeople = 20;

int FreePort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
}

// ann.pst in `dir`: `contacts` generated contacts.
void WriteAnn(const QString& dir, int contacts) {
  ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen",
                       {"--contacts", QString::number(contacts), "--out", dir + "/ann.pst"})
                .status,
            0);
}

QString Id(int person) {
  return QStringLiteral("p%1").arg(person, 2, 10, QLatin1Char('0'));
}
QString Password(int person) {
  return QStringLiteral("secret-%1").arg(person);
}

// Radicale with an account per person, its data kept in `dir` across a stop and a start. With
// `stopAt`, the first server stops itself once an account's book holds that many cards: its
// storage hook, run after each change before the change is answered, signals it, and it ends
// when the requests it has taken are answered.
struct Radicale {
  explicit Radicale(const QString& dir, int stopAt = 0) : dir(dir) {
    QByteArray users;
    for (int p = 1; p <= kPeople; ++p) users += (Id(p) + u':' + Password(p) + u'\n').toUtf8();
    WriteFile(dir + "/users", users);
    Start(stopAt);
  }
  ~Radicale() { Stop(); }
  void Start(int stopAt = 0) {
    up = false;
    QString config = QStringLiteral(
                         "[server]\nhosts = 127.0.0.1:%1\n[auth]\ntype = htpasswd\n"
                         "htpasswd_filename = %2/users\nhtpasswd_encryption = plain\n[storage]\n"
                         "filesystem_folder = %2/data\n")
                         .arg(port)
                         .arg(dir);
    if (stopAt > 0)
      config += QStringLiteral(
                    "hook = for b in collection-root/*/*/; do [ $(ls \"$b\" | grep -c "
                    "'[.]vcf$') -ge %1 ] && kill $PPID; done; true\n")
                    .arg(stopAt);
    WriteFile(dir + "/config", config.toUtf8());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(dir + "/server.log", QIODevice::Append);
    process.start("/usr/bin/python3", {"-m", "radicale", "--config", dir + "/config"});
    // The first start on a port the server picks; later ones on that port.
    if (port == 0) port = ListeningPort(process);
    for (int i = 0; i < 100 && !up && port > 0; ++i) {
      QTcpSocket socket;
      socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
      up = socket.waitForConnected(100);
      if (!up) QThread::msleep(100);
    }
  }
  void Stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
    process.waitForFinished();
    up = false;
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port); }
  // Whether it has ended (the wait alone says so once).
  bool Ended() { return process.state() == QProcess::NotRunning || process.waitForFinished(0); }

  QString dir;
  int port = 0;
  bool up = false;
  QProcess process;
};

// Person p's stores: 1 to 3 of them (p % 3 + 1), store j holding the synthetic people
// 10j+1..10j+20 of seed p, so that neighbouring stores share ten people.
struct People {
  explicit People(const QString& dir) : dir(dir) {
    for (int p = 1; p <= kPeople; ++p) {
      QDir().mkpath(dir + "/homes/" + Id(p));
      QStringList stores;
      for (int j = 0; j <= p % 3; ++j) {
        stores << QStringLiteral("%1/homes/%2/store%3.pst").arg(dir, Id(p)).arg(j);
        entries += 20;
        const ProgramOutput made =
            RunProgram(BinDir() + "/lumivex-pstgen",
                       {"--people", QStringLiteral("%1-%2").arg(10 * j + 1).arg(10 * j + 20),
                        "--seed", QString::number(p), "--store-key",
                        QStringLiteral("%1-%2").arg(Id(p)).arg(j), "--out", stores.last()});
        EXPECT_EQ(made.status, 0) << made.err.toStdString();
      }
      storesOf << stores;
      WriteFile(dir + "/" + Id(p) + ".password", Password(p).toUtf8() + "\n");
    }
  }
  // The plan's lines: odd people's passwords from a file, even people's from a command that
  // prints it as a line, without a line break (as secret-tool does into a pipe) or ending in
  // "\r\n".
  QByteArray Plan(const QString& url) const {
    static const char* const commands[] = {"cat %1.password", "tr -d '\\n' <%1.password",
                                           "printf '%s\\r\\n' $(cat %1.password)"};
    QString plan = QStringLiteral("id,stores,to,user,password-file,password-command,office\n");
    for (int p = 1; p <= kPeople; ++p) {
      plan += QStringLiteral("%1,homes/%1/*.pst,%2,%1,").arg(Id(p), url);
      plan += p % 2 ? QStringLiteral("%1.password,").arg(Id(p))
                    : u',' + QString::fromLatin1(commands[p / 2 % 3]).arg(Id(p));
      plan += QStringLiteral(",Room %1\n").arg(p);
    }
    return plan.toUtf8();
  }
  // Person p's vCard 3.0 export of the same stores.
  QString Exported(int p) const {
    const QString out = dir + "/" + Id(p) + ".vcf";
    const ProgramOutput run =
        RunCli(QStringList{"export", "--format", "vcard3", "--out", out} + storesOf[p - 1]);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return out;
  }

  QString dir;
  QList<QStringList> storesOf;
  int entries = 0;
};

// The UIDs of the cards in a vCard file, in order, as the file's lines give them.
QStringList UidLines(const QString& path) {
  QStringList uids;
  for (const QByteArray& line : FileBytes(path).split('\n'))
    if (line.startsWith("UID:")) uids << QString::fromUtf8(line.mid(4)).trimmed();
  return uids;
}

// The cards of person p's "Contacts" book, fetched through the server one file per card into
// `out`.
QStringList Fetch(const Radicale& server, int p, const QString& out) {
  const QString password = out + ".password";
  WriteFile(password, Password(p).toUtf8());
  const ProgramOutput books = RunCli(
      {"send", "--to", server.Url(), "--user", Id(p), "--password-file", password, "--list-books"});
  const QString book = books.out.split(u'\n').filter("Contacts").value(0).section(u'\t', 1, 1);
  EXPECT_FALSE(book.isEmpty()) << Id(p).toStdString() << books.err.toStdString();
  QDir(out).removeRecursively();
  const ProgramOutput listed =
      RunProgram("/usr/bin/python3", {SourceDir() + "/tests/destination/dav_client.py", "list",
                                      book, Id(p), Password(p), "-", out});
  EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
  QStringList files;
  for (const QString& name : QDir(out).entryList(QDir::Files)) files << out + u'/' + name;
  return files;
}

// The cards of vCard files as vobject reads them, by UID.
QHash<QString, QJsonObject> ByUid(const QStringList& files) {
  QHash<QString, QJsonObject> cards;
  if (files.isEmpty()) return cards;
  for (const QJsonValue card : VObjectReader().ReadOrFail(files).array())
    cards.insert(card["UID"][0]["value"].toString(), card.toObject());
  return cards;
}

// Every account (of the `count` people from `first`) holds exactly its person's merged contacts,
// each once, with every field the export gives; their number.
int ExpectEveryAccountHoldsItsPerson(const Radicale& server, const People& people,
                                     const QString& scratch, int first = 1, int count = kPeople) {
  QStringList exported;
  QStringList fetched;
  QDir().mkpath(scratch + "/held");
  for (int p = first; p < first + count; ++p) {
    SCOPED_TRACE(Id(p).toStdString());
    exported << people.Exported(p);
    const QStringList files = Fetch(server, p, QStringLiteral("%1/held/%2").arg(scratch, Id(p)));
    QStringList held;
    for (const QString& file : files) held += UidLines(file);
    QStringList expected = UidLines(exported.last());
    EXPECT_EQ(held.size(), files.size()) << "one card a file";
    held.sort();
    expected.sort();
    EXPECT_EQ(held, expected);
    fetched += files;
  }
  // Every field of every card as the export has it (the UIDs differ from person to person).
  const QHash<QString, QJsonObject> expected = ByUid(exported);
  const QHash<QString, QJsonObject> held = ByUid(fetched);
  EXPECT_EQ(held.size(), expected.size());
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const QJsonObject card = held.value(it.key());
    for (const QString& field : it.value().keys()) {
      if (field == u"PRODID") continue;
      EXPECT_EQ(card[field], it.value()[field]) << it.key().toStdString() << field.toStdString();
    }
  }
  return static_cast<int>(expected.size());
}

// The report's lines by their first word ("People", "Contacts", "failed").
QStringList ReportLines(const ProgramOutput& report, const QString& first) {
  QStringList lines;
  for (const QString& line : report.out.split(u'\n'))
    if (line.startsWith(first + u' ')) lines << line.mid(first.size()).trimmed();
  return lines;
}

// Whether the journal names a send that failed after it had added cards (and said how many).
bool FailedOnTheWay(const QString& journal) {
  for (const QByteArray& line : FileBytes(journal).split('\n')) {
    const QJsonObject event = QJsonDocument::fromJson(line).object();
    if (event["event"].toString() == u"failed" && event["added"].toInt() > 0) return true;
  }
  return false;
}

QMap<QString, QString> StateHome(const QString& dir) {
  return {{"XDG_STATE_HOME", dir + "/state"}};
}

TEST(Migrate, TwentyPeopleFaultsNamedThenResumedWithoutADuplicate) {
  const QString dir = ScratchDir(QStringLiteral("migrate"));
  QDir().mkpath(dir + "/server");
  // Stopped once a book holds ten cards: a send of twenty or more is then on its way.
  Radicale server(dir + "/server", 10);
  ASSERT_TRUE(server.up) << "Radicale did not start; see " << dir.toStdString();
  const People people(dir);
  const QString plan = dir + "/plan.csv";
  const QByteArray whole = people.Plan(server.Url());

  // Faults: p03's password wrong, p05's stores gone, p07's server a port nothing listens on.
  QByteArray faulty = whole;
  faulty.replace("p03,homes/p03/*.pst", "p03,homes/p03/*.pst")
      .replace("p05,homes/p05/*.pst", "p05,homes/gone/*.pst")
      .replace(QStringLiteral("p07,homes/p07/*.pst,%1").arg(server.Url()).toUtf8(),
               QStringLiteral("p07,homes/p07/*.pst,http://127.0.0.1:%1/").arg(FreePort()).toUtf8());
  WriteFile(plan, faulty);
  WriteFile(dir + "/p03.password", "wrong\n");

  // The check names the three and sends nothing.
  const QStringList run = {"migrate", "-j", "4", "--new-book", "Contacts", plan};
  ProgramOutput check = RunCli(
      QStringList{"migrate", "--check", "-j", "4", "--new-book", "Contacts", plan}, StateHome(dir));
  EXPECT_EQ(check.status, 3) << check.err.toStdString();
  for (const char* named : {"p03: failed: ", "p05: failed: no store file matches homes/gone/*.pst",
                            "p07: failed: ", "p01: ready: 2 stores, 40 entries, ",
                            "p02: ready: 3 stores, 60 entries, ", "p04: ready: ", "p06: ready: "})
    EXPECT_TRUE(check.out.contains(QLatin1String(named))) << named << check.out.toStdString();

  // The first run, with the server stopped and started again on the way.
  QProcess migrate;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_STATE_HOME", dir + "/state");
  migrate.setProcessEnvironment(env);
  migrate.start(BinDir() + "/lumivex-cli", run.mid(0));
  QElapsedTimer clock;
  clock.start();
  // Whether the migration has ended, waiting up to 0.1 s for it (the wait alone says so once).
  const auto ended = [&] {
    return migrate.state() == QProcess::NotRunning || migrate.waitForFinished(100);
  };
  bool stopped = false;
  while (!ended() && clock.elapsed() < 300000) {
    if (!stopped && server.Ended()) {
      // Down until the send it stopped on the way has failed, saying what it had sent.
      while (!FailedOnTheWay(plan + ".journal") && !ended()) {
      }
      server.Start();
      stopped = true;
    }
  }
  EXPECT_TRUE(stopped) << "the server did not stop on the way";
  ASSERT_EQ(migrate.state(), QProcess::NotRunning) << "the migration did not end in 5 minutes";
  EXPECT_EQ(migrate.exitCode(), 3) << migrate.readAllStandardError().toStdString();

  ProgramOutput report = RunCli({"migrate", "--report", plan});
  EXPECT_EQ(report.status, 3);
  const QStringList failures = ReportLines(report, "failed");
  const auto failure = [&](const QString& id) {
    return failures.filter(QRegularExpression("^" + id + ": ")).value(0).toStdString();
  };
  EXPECT_NE(failure("p03").find("refused the user name or password"), std::string::npos);
  EXPECT_NE(failure("p03").find("check the person's user and password"), std::string::npos)
      << failure("p03");
  EXPECT_NE(failure("p05").find("correct the person's stores"), std::string::npos)
      << failure("p05");
  EXPECT_NE(failure("p07").find("check that the server answers"), std::string::npos)
      << failure("p07");
  for (const QString& line : failures)  // the server's stop may fail others, as a network fault
    EXPECT_TRUE(line.startsWith("p03") || line.startsWith("p05") ||
                line.contains("check that the server answers") ||
                line.contains("run the migration again"))
        << line.toStdString();
  const QString csv = QString::fromUtf8(FileBytes(plan + ".report.csv"));
  EXPECT_TRUE(csv.section(u'\n', 1, 1).startsWith("p0")) << "failures come first";
  for (const char* id : {"\np03,failed,", "\np05,failed,0,", "\np07,failed,"})
    EXPECT_TRUE(csv.contains(QLatin1String(id))) << id << csv.toStdString();
  const QByteArray html = FileBytes(plan + ".report.html");
  EXPECT_TRUE(html.contains("<tr class=\"failed\"><td>p03</td>")) << html.left(2000).toStdString();

  // Fixed: the right password, the store back, the right server. The re-run finishes.
  WriteFile(dir + "/p03.password", Password(3).toUtf8() + "\n");
  WriteFile(plan, whole);
  ProgramOutput again = RunCli(run, StateHome(dir));
  EXPECT_EQ(again.status, 0) << again.out.toStdString() << again.err.toStdString();
  const int cards = ExpectEveryAccountHoldsItsPerson(server, people, dir);

  // Sent again (--again): nothing is sent; the report's numbers are the server's.
  again = RunCli(QStringList{"migrate", "--again", "-j", "4", "--book", "Contacts", plan},
                 StateHome(dir));
  EXPECT_EQ(again.status, 0) << again.err.toStdString();
  report = RunCli({"migrate", "--report", plan});
  EXPECT_EQ(report.status, 0) << report.out.toStdString();
  EXPECT_EQ(ReportLines(report, "People"),
            QStringList{QStringLiteral("%1 done, 0 failed, 0 pending (of %1)").arg(kPeople)});
  EXPECT_EQ(ReportLines(report, "Contacts"),
            QStringList{QStringLiteral("%1 read, %2 after merging, 0 sent, %2 unchanged, "
                                       "0 conflicts, 0 failed")
                            .arg(people.entries)
                            .arg(cards)});
  // Every card counted once over the runs, the ones the send stopped on the way made too.
  EXPECT_EQ(ReportLines(report, "Cards"),
            QStringList{QStringLiteral("%1 made over all runs").arg(cards)});
}

// Into folders (vdir), without a server: a person whose store is damaged is not done; a person
// with conflicts ends the run with status 3 and the advice; a plan whose name holds [ ] keeps its
// journal; a % in a store's name stays as it is in the HTML report; the reports are the user's.
TEST(Migrate, WhatASendCouldNotFinishIsNeverDone) {
  const QString dir = ScratchDir(QStringLiteral("migrate-vdir"));
  QDir().mkpath(dir + "/homes");
  ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen",
                       {"--contacts", "6", "--encoding", "none", "--out", dir + "/homes/ann.pst"})
                .status,
            0);
  ASSERT_TRUE(QFile::copy(dir + "/homes/ann.pst", dir + "/homes/bob.pst"));
  // Cy's second contact points at the fifth's data: neither can be read.
  ASSERT_EQ(
      RunProgram("/usr/bin/python3", {SourceDir() + "/tools/mutate/share_contact_data.py",
                                      dir + "/homes/ann.pst", dir + "/homes/c%2Fy.pst", "2", "5"})
          .status,
      0);
  const QString plan = dir + "/office[1].csv";
  WriteFile(plan, QStringLiteral("id,stores,to\n"
                                 "ann,homes/ann.pst,vdir:%1/books/ann\n"
                                 "bob,homes/bob.pst,vdir:%1/books/bob\n"
                                 "cy,homes/c%2Fy.pst,vdir:%1/books/cy\n")
                      .arg(dir)
                      .toUtf8());
  ProgramOutput run = RunCli({"migrate", plan}, StateHome(dir));
  EXPECT_EQ(run.status, 3) << run.out.toStdString() << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("cy: failed: the stores are damaged: 2 of their entries"))
      << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("mend the person's stores")) << run.out.toStdString();

  // A card Ann's book holds changed there since: a conflict, told with its way out, status 3.
  const QStringList cards = QDir(dir + "/books/ann").entryList(QDir::Files);
  ASSERT_FALSE(cards.isEmpty());
  QFile edited(dir + "/books/ann/" + cards.first());
  ASSERT_TRUE(edited.open(QIODevice::Append));
  edited.write("X-EDITED:yes\r\n");
  edited.close();
  run = RunCli({"migrate", "--again", plan}, StateHome(dir));
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(run.err.contains("1 of 3 people have conflicts: cards changed on the server"))
      << run.err.toStdString();
  // The way out it names, --overwrite, sends again for Ann alone of the people done and replaces
  // the card.
  run = RunCli({"migrate", "--overwrite", plan}, StateHome(dir));
  EXPECT_TRUE(run.out.contains("1 people done before are left alone")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("ann: done: ")) << run.out.toStdString();
  EXPECT_FALSE(run.out.contains("bob: ")) << run.out.toStdString();
  EXPECT_FALSE(FileBytes(edited.fileName()).contains("X-EDITED")) << "the card was not replaced";

  // The journal of a plan named with brackets is found: Bob is done and left alone.
  run = RunCli({"migrate", plan}, StateHome(dir));
  EXPECT_TRUE(run.out.contains("2 people done before are left alone")) << run.out.toStdString();
  run = RunCli({"migrate", "--report", plan});
  EXPECT_TRUE(run.out.contains("2 done, 1 failed, 0 pending")) << run.out.toStdString();
  EXPECT_TRUE(FileBytes(plan + ".report.html").contains("c%2Fy.pst"));
  for (const char* suffix : {".report.csv", ".report.html"})
    EXPECT_EQ(QFileInfo(plan + suffix).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
}

// The options for the accounts of CardDAV servers, given to a migration whose plan sends into
// folders too: the folders' people are sent as without them (the servers' people are sent with
// them, as the runs against Radicale above do).
TEST(Migrate, ServerOptionsLeaveTheFoldersPeopleAlone) {
  const QString dir = ScratchDir(QStringLiteral("server-options"));
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 3));
  const QStringList cases[] = {
      {"--ca-file", dir + "/ann.pst"}, {"--book", "Work"}, {"--new-book", "Outlook"}};
  for (const QStringList& options : cases) {
    SCOPED_TRACE(options.first().toStdString());
    const QString plan = QStringLiteral("%1/plan%2.csv").arg(dir, options.first());
    WriteFile(plan, QStringLiteral("id,stores,to\nann,ann.pst,vdir:%1/books%2\n")
                        .arg(dir, options.first())
                        .toUtf8());
    const ProgramOutput run =
        RunCli(QStringList{"migrate"} + options + QStringList{plan}, StateHome(dir));
    EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("ann: done: 3 entries, 3 contacts: 3 sent"))
        << run.out.toStdString();
  }
}

// A password-command that fails says so with its status: what it printed on its standard error
// (which may be the password) is kept nowhere, neither in the lines shown nor in the journal or
// the reports.
TEST(Migrate, AFailingPasswordCommandLeavesNoSecretBehind) {
  const QString dir = ScratchDir(QStringLiteral("password-command"));
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 2));
  const QString plan = dir + "/plan.csv";
  WriteFile(plan,
            QStringLiteral("id,stores,to,user,password-command\n"
                           "ann,ann.pst,http://127.0.0.1:%1/,ann,echo Zq9-SECRET >&2; exit 1\n")
                .arg(FreePort())
                .toUtf8());
  const ProgramOutput run = RunCli({"migrate", plan}, StateHome(dir));
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("ann: failed: the password-command failed (status 1)"))
      << run.out.toStdString();
  const ProgramOutput report = RunCli({"migrate", "--report", plan});
  QByteArray written;
  for (const QString& file : QDir(dir).entryList(QDir::Files))  // the user's plan aside
    if (file != "plan.csv") written += FileBytes(dir + "/" + file);
  for (const QByteArray& text : {run.out.toUtf8(), run.err.toUtf8(), report.out.toUtf8(), written})
    EXPECT_FALSE(text.contains("Zq9-SECRET")) << text.toStdString();
}

// The advice to check the server follows a failure to reach it, once; a failure that is no
// fault of a server (a folder that cannot be made) gets none.
TEST(Migrate, ServerAdviceOnlyForAServerNotReachedAndOnce) {
  const QString dir = ScratchDir(QStringLiteral("network-advice"));
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 2));
  WriteFile(dir + "/password", "pw\n");
  WriteFile(dir + "/taken", "a file where the folder would be\n");
  const struct {
    const char* id;
    QString to;
    bool advised;
  } cases[] = {{"unreached", QStringLiteral("http://127.0.0.1:%1/").arg(FreePort()), true},
               {"folder", QStringLiteral("vdir:%1/taken").arg(dir), false}};
  const QString advice = QStringLiteral("check that the server answers (address, port, proxy)");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const QString plan = QStringLiteral("%1/%2.csv").arg(dir, c.id);
    WriteFile(plan,
              QStringLiteral("id,stores,to,user,password-file\n%1,ann.pst,%2,%3\n")
                  .arg(c.id, c.to, c.advised ? QStringLiteral("ann,password") : QStringLiteral(","))
                  .toUtf8());
    const ProgramOutput run = RunCli({"migrate", plan}, StateHome(dir));
    EXPECT_EQ(run.status, 3) << run.err.toStdString();
    const QString line = run.out.section(u'\n', 0, 0);
    EXPECT_TRUE(line.startsWith(QStringLiteral("[1/1] %1: failed: ").arg(c.id)))
        << line.toStdString();
    EXPECT_EQ(line.count(advice), c.advised ? 1 : 0) << line.toStdString();
    // The server's own advice is not said a second time beside it.
    EXPECT_FALSE(line.contains("Check the address and that the server is running"))
        << line.toStdString();
  }
}

// Ctrl-C or SIGTERM sent to the migration alone while a password-command runs (no terminal passes
// it on to the command): the command is ended and the migration stops at once, the person
// pending.
TEST(Migrate, StoppedWhileAPasswordCommandRuns) {
  const QString dir = ScratchDir(QStringLiteral("password-command-stopped"));
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 2));
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "Ctrl-C" : "SIGTERM");
    const QString plan = QStringLiteral("%1/plan-%2.csv").arg(dir).arg(signal);
    WriteFile(plan, QStringLiteral("id,stores,to,user,password-command\n"
                                   "ann,ann.pst,http://127.0.0.1:%1/,ann,sleep 30; echo pw\n")
                        .arg(FreePort())
                        .toUtf8());
    QProcess migrate;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", dir + "/state");
    migrate.setProcessEnvironment(env);
    migrate.start(BinDir() + "/lumivex-cli", {"migrate", plan});
    // The password-command runs once the person's stores are journaled.
    QElapsedTimer clock;
    clock.start();
    while (!FileBytes(plan + ".journal").contains("\"event\":\"stores\"") &&
           clock.elapsed() < 60000)
      QThread::msleep(20);
    QThread::msleep(300);
    ::kill(static_cast<pid_t>(migrate.processId()), signal);
    clock.restart();
    ASSERT_TRUE(migrate.waitForFinished(60000));
    EXPECT_LT(clock.elapsed(), 5000) << "the migration waited for the password-command";
    EXPECT_EQ(migrate.exitCode(), 3);
    EXPECT_TRUE(migrate.readAllStandardError().contains("stopped; run the same migration again"));
    const ProgramOutput report = RunCli({"migrate", "--report", plan});
    EXPECT_EQ(ReportLines(report, "People"), QStringList{"0 done, 0 failed, 1 pending (of 1)"});
  }
}

// The migration stopped by Ctrl-C, or killed outright, once the first person's line is out: no
// one is failed, the people not done are pending; the same command again finishes them, and every
// account holds its person's cards once.
TEST(Migrate, StoppedOrKilledMidwayThenResumedWithoutADuplicate) {
  const QString dir = ScratchDir(QStringLiteral("stopped"));
  QDir().mkpath(dir + "/server");
  Radicale server(dir + "/server");
  ASSERT_TRUE(server.up) << "Radicale did not start; see " << dir.toStdString();
  const People people(dir);
  const QStringList lines = QString::fromUtf8(people.Plan(server.Url())).split(u'\n');
  const struct {
    int signal;
    int first;  // the plan's four people, from this one
  } cases[] = {{SIGINT, 1}, {SIGKILL, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal == SIGINT ? "Ctrl-C" : "killed");
    const QString plan = QStringLiteral("%1/plan-%2.csv").arg(dir).arg(c.signal);
    WriteFile(plan, (lines.mid(0, 1) + lines.mid(c.first, 4)).join(u'\n').toUtf8() + "\n");
    const QStringList run = {"migrate", "-j", "1", "--new-book", "Contacts", plan};
    QProcess migrate;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", dir + "/state");
    env.insert("TMPDIR", dir);  // where a migration killed outright leaves its scratch folder
    migrate.setProcessEnvironment(env);
    migrate.start(BinDir() + "/lumivex-cli", run);
    QByteArray said;
    const QByteArray ended = "[1/4] " + Id(c.first).toUtf8() + ": ";
    while (!said.contains(ended) && migrate.waitForReadyRead(120000))
      said += migrate.readAllStandardOutput();
    ASSERT_TRUE(said.contains(ended)) << said.toStdString();
    ::kill(static_cast<pid_t>(migrate.processId()), c.signal);
    ASSERT_TRUE(migrate.waitForFinished(120000));
    if (c.signal == SIGINT) {
      EXPECT_EQ(migrate.exitCode(), 3);
      EXPECT_TRUE(migrate.readAllStandardError().contains("stopped; run the same migration again"));
    } else {
      EXPECT_EQ(migrate.exitStatus(), QProcess::CrashExit);
    }
    ProgramOutput report = RunCli({"migrate", "--report", plan});
    EXPECT_EQ(ReportLines(report, "failed"), QStringList());
    const QString standing = ReportLines(report, "People").value(0);
    EXPECT_TRUE(standing.contains(" 0 failed, ") && !standing.startsWith("0 done"))
        << standing.toStdString();

    QMap<QString, QString> againEnv = StateHome(dir);
    againEnv.insert("TMPDIR", dir);
    const ProgramOutput again = RunCli(run, againEnv);
    EXPECT_EQ(again.status, 0) << again.out.toStdString() << again.err.toStdString();
    // The scratch folder of the run killed outright went with this one, and this one's own.
    EXPECT_EQ(QDir(dir).entryList({"lumivex-*"}, QDir::Dirs), QStringList());
    const int cards = ExpectEveryAccountHoldsItsPerson(
        server, people, QStringLiteral("%1/signal-%2").arg(dir).arg(c.signal), c.first, 4);
    report = RunCli({"migrate", "--report", plan});
    EXPECT_EQ(ReportLines(report, "People"), QStringList{"4 done, 0 failed, 0 pending (of 4)"});
    // Every card counted once over the two runs, where the stopped send could say what it did.
    if (c.signal == SIGINT) {
      EXPECT_EQ(ReportLines(report, "Cards"),
                QStringList{QStringLiteral("%1 made over all runs").arg(cards)});
    }
  }
}

// The processes `pid` started, from any of its threads.
QList<qint64> ChildrenOf(qint64 pid) {
  QList<qint64> children;
  const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
  for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    for (const QByteArray& child : FileBytes(tasks + u'/' + task + "/children").split(' '))
      if (!child.trimmed().isEmpty()) children << child.trimmed().toLongLong();
  return children;
}

// Slices cut another number of ways share people with these: while such a run holds its count
// (the test stands in for a run of slices cut 3 ways), a run of 1 of 2 is refused and sends for
// nobody; one of 1 of 3 goes on.
TEST(Migrate, SlicesCutAnotherNumberOfWaysAreNotRunAtOnce) {
  const QString dir = ScratchDir(QStringLiteral("slice-counts"));
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 3));
  const QString plan = dir + "/plan.csv";
  WriteFile(plan, QStringLiteral("id,stores,to\nann,ann.pst,vdir:%1/books/ann\n"
                                 "bob,ann.pst,vdir:%1/books/bob\n")
                      .arg(dir)
                      .toUtf8());
  const int held = ::open(QFile::encodeName(plan + ".slices.lock").constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  struct flock three = {};
  three.l_type = F_RDLCK;
  three.l_whence = SEEK_SET;
  three.l_start = 3;
  three.l_len = 1;
  ASSERT_EQ(::fcntl(held, F_SETLK, &three), 0);
  const QMap<QString, QString> env{{"XDG_STATE_HOME", dir + "/state"}};
  ProgramOutput run = RunCli({"migrate", "--shard", "1/2", plan}, env);
  EXPECT_EQ(run.status, 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("cut 3 ways are being run")) << run.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(dir + "/books"));
  for (const char* slice : {"1/3", "2/3", "3/3"})
    EXPECT_EQ(RunCli({"migrate", "--shard", slice, plan}, env).status, 0) << slice;
  ::close(held);
  EXPECT_EQ(RunCli({"migrate", "--shard", "1/2", plan}, env).status, 0);
}

// A person's send ended from outside the migration (a SIGTERM to the send alone) while the
// migration goes on: the person is pending, and the run ends with status 3, saying to run it
// again, not as a success.
TEST(Migrate, ASendStoppedFromOutsideIsNotASuccess) {
  const QString dir = ScratchDir(QStringLiteral("send-stopped"));
  QDir().mkpath(dir + "/tmp");
  ASSERT_NO_FATAL_FAILURE(WriteAnn(dir, 2000));
  const QString plan = dir + "/plan.csv";
  WriteFile(plan,
            QStringLiteral("id,stores,to\nann,ann.pst,vdir:%1/books/ann\n").arg(dir).toUtf8());
  QProcess migrate;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_STATE_HOME", dir + "/state");
  env.insert("TMPDIR", dir + "/tmp");  // where the migration's sends leave their results
  migrate.setProcessEnvironment(env);
  migrate.start(BinDir() + "/lumivex-cli", {"migrate", plan});
  ASSERT_TRUE(migrate.waitForStarted());
  // The send has begun once its first result is in the migration's scratch folder: from then on
  // it answers a SIGTERM as stopped.
  QElapsedTimer clock;
  clock.start();
  qint64 send = 0;
  while (send == 0 && clock.elapsed() < 60000 && migrate.state() == QProcess::Running) {
    const QStringList scratch = QDir(dir + "/tmp").entryList({"lumivex-migrate-*"}, QDir::Dirs);
    if (!scratch.isEmpty() && QFileInfo::exists(dir + "/tmp/" + scratch.first() + "/1.json"))
      send = ChildrenOf(migrate.processId()).value(0);
    if (send == 0) QThread::msleep(10);
  }
  ASSERT_NE(send, 0) << "the send did not start";
  ::kill(static_cast<pid_t>(send), SIGTERM);
  ASSERT_TRUE(migrate.waitForFinished(120000));
  const QString out = QString::fromUtf8(migrate.readAllStandardOutput());
  const QString err = QString::fromUtf8(migrate.readAllStandardError());
  EXPECT_TRUE(out.contains("[1/1] ann: stopped")) << out.toStdString();
  EXPECT_EQ(migrate.exitCode(), 3) << err.toStdString();
  EXPECT_TRUE(err.contains("run the same migration again")) << err.toStdString();
  const ProgramOutput report = RunCli({"migrate", "--report", plan});
  EXPECT_EQ(ReportLines(report, "People"), QStringList{"0 done, 0 failed, 1 pending (of 1)"});
}

TEST(Migrate, ShardsUnderGnuParallelGiveWhatOneRunGives) {
  const QString dir = ScratchDir(QStringLiteral("shards"));
  QDir().mkpath(dir + "/server");
  Radicale server(dir + "/server");
  ASSERT_TRUE(server.up) << "Radicale did not start; see " << dir.toStdString();
  const People people(dir);
  const QString plan = dir + "/plan.csv";
  WriteFile(plan, people.Plan(server.Url()));

  const ProgramOutput run =
      RunProgram("parallel",
                 {"--halt", "never", BinDir() + "/lumivex-cli", "migrate", "--shard", "{}/3", "-j",
                  "3", "--per-server", "1", "--new-book", "Contacts", plan, ":::", "1", "2", "3"},
                 StateHome(dir), 300000);
  EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
  // Three journals, each person in exactly one of them; within one, with --per-server 1, one
  // person's send to the server at a time (each started after the one before ended).
  QStringList seen;
  for (int shard = 1; shard <= 3; ++shard) {
    const QByteArray journal = FileBytes(QStringLiteral("%1.%2-of-3.journal").arg(plan).arg(shard));
    for (int p = 1; p <= kPeople; ++p)
      if (journal.contains("\"id\":\"" + Id(p).toUtf8() + "\"")) seen << Id(p);
    QString ended;
    for (const QByteArray& line : journal.split('\n')) {
      const QJsonObject event = QJsonDocument::fromJson(line).object();
      if (event["event"].toString() == u"started") {
        EXPECT_GE(event["time"].toString(), ended) << line.toStdString();
      } else if (event["event"].toString() == u"finished") {
        ended = event["time"].toString();
      }
    }
  }
  seen.sort();
  EXPECT_EQ(seen.size(), kPeople) << seen.join(u' ').toStdString();
  EXPECT_EQ(seen.removeDuplicates(), 0);

  const int cards = ExpectEveryAccountHoldsItsPerson(server, people, dir);
  const ProgramOutput report = RunCli({"migrate", "--report", plan});
  EXPECT_EQ(report.status, 0) << report.out.toStdString();
  EXPECT_EQ(ReportLines(report, "People"),
            QStringList{QStringLiteral("%1 done, 0 failed, 0 pending (of %1)").arg(kPeople)});
  EXPECT_EQ(ReportLines(report, "Contacts"),
            QStringList{QStringLiteral("%1 read, %2 after merging, %2 sent, 0 unchanged, "
                                       "0 conflicts, 0 failed")
                            .arg(people.entries)
                            .arg(cards)});
}

}  // namespace

namespace {

// The whole plan's progress: on a terminal (script(1) gives one) a line redrawn in place, with
// the people done of all; otherwise plain lines, one per person and one of the whole after it.
TEST(Migrate, ProgressOnATerminalAndPlainLinesElsewhere) {
  const QString dir = ScratchDir(QStringLiteral("progress"));
  QByteArray plan = "id,stores,to\n";
  for (int p = 1; p <= 3; ++p) {
    const ProgramOutput made = RunProgram(
        BinDir() + "/lumivex-pstgen", {"--contacts", "20", "--seed", QString::number(p), "--out",
                                       QStringLiteral("%1/%2.pst").arg(dir, Id(p))});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    plan += QStringLiteral("%1,%1.pst,vdir:cards/%1\n").arg(Id(p)).toUtf8();
  }
  WriteFile(dir + "/plan.csv", plan);
  const QString cli = BinDir() + "/lumivex-cli";
  const QString shell = QStringLiteral("'%1' migrate --again '%2/plan.csv'").arg(cli, dir);
  struct Case {
    const char* name;
    QString program;
    QStringList args;
    bool drawn;  // a line redrawn in place
  } cases[] = {
      {"terminal", "script", {"-qec", shell, "/dev/null"}, true},
      {"pipe", cli, {"migrate", "--again", dir + "/plan.csv"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramOutput shown = RunProgram(c.program, c.args, StateHome(dir));
    ASSERT_EQ(shown.status, 0) << shown.out.toStdString() << shown.err.toStdString();
    const QString all = shown.out + shown.err;
    for (int p = 1; p <= 3; ++p)
      EXPECT_TRUE(all.contains(QRegularExpression(
          QStringLiteral("\\[\\d/3\\] %1: done: 20 entries, 20 contacts: ").arg(Id(p)))))
          << all.toStdString();
    EXPECT_EQ(all.contains(u'\r') && all.contains("\r3 of 3 people: 3 done"), c.drawn)
        << all.toStdString();
    EXPECT_EQ(shown.out.contains(QRegularExpression("^3 of 3 people: 3 done",
                                                    QRegularExpression::MultilineOption)),
              !c.drawn)
        << shown.out.toStdString();
  }
  EXPECT_EQ(QDir(dir + "/cards/p01").entryList({"*.vcf"}).size(), 20);
}

}  // namespace
