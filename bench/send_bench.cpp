// send_bench: the time to send N contacts (10,000 by default) into a fresh address book of a
// Radicale server on 127.0.0.1 with `lumivex-cli send`, against `vdirsyncer sync` uploading the
// same contacts' vCard 3.0 files from a vdir into another fresh book of the same server, in one
// run; then the re-send of the unchanged store, which should take under a tenth of the first.
//
//   send_bench [--contacts N] [--rounds R] [--first-round K] [--side-by-side]
//
// With several rounds the two take turns at going first, each round into fresh books, and their
// totals are compared. Round K goes on from where an earlier run of K rounds stopped (odd rounds
// start with vdirsyncer), so a long alternation can be taken in separate runs.
//
// --side-by-side runs the two at the same time instead, each with a server process of its own
// started for the round, each client pinned with its server to one of processors 0 and 1, the
// two swapping processors from round to round. A shared machine's load then weighs on both alike,
// and a round takes half the time: at 10,000 contacts a sequential round is over an hour, and
// loads that change in that time have moved the ratio of a round by several percent.
//
// Beside each client's time: the processor time its server spent on it. The cards being the
// same, that differs only by what each client's way of sending costs the server.
//
// Needs radicale and vdirsyncer (Debian packages). The server runs with a user and password
// (htpasswd, plain), as both clients log in.
#include "bench/Figures.h"  // LoadText
#include "bench/Radicale.h"
#include "bench/RunProgram.h"
#include "bench/Usage.h"
#include "destination/CardDav.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>

using namespace lumivex;

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "send_bench: %s\n", what);
  return 1;
}

// A server as one client meets it in a round.
struct Server {
  QString dir;  // its configuration and data
  QString url;
  qint64 pid = 0;
  int processor = -1;  // where it and its client run; -1: wherever the bench runs
};

// Starts Radicale in `server.dir` (pinned to `server.processor` when that is set) and fills in
// the server's address and process. False when it did not start.
bool StartRadicale(QProcess& radicale, Server& server) {
  server.url = bench::StartRadicale(radicale, server.dir, "ann:s3cret\n", server.processor);
  server.pid = radicale.processId();
  return !server.url.isEmpty();
}

std::vector<std::string> With(std::vector<std::string> a, std::initializer_list<std::string> more) {
  a.insert(a.end(), more);
  return a;
}

// What one run measured, round by round.
struct Figures {
  std::vector<double> ours, theirs, again, theirsAgain, oursCpu, theirsCpu, oursServer,
      theirsServer;
};

// One round: fresh books for both clients, lumivex-cli and vdirsyncer taking turns at going
// first (or, `together`, at the same time), then each again over what is there. Null, or what
// failed.
const char* RunRound(int round, const QString& bin, const QString& dir, const Server& ours,
                     const Server& theirs, bool together, const std::string& store,
                     Figures& figures) {
  const std::string d = dir.toStdString();
  const std::string r = std::to_string(round);
  // vdirsyncer's book is made beforehand, as a user would, and discovered (not timed).
  destination::CardDavAccountSession session({theirs.url, "ann", "s3cret", {}, 6});
  const QString book =
      session.CreateBook(QStringLiteral("vdirsyncer-%1").arg(round)).url.toString();
  const QString conf = QStringLiteral("%1/vdirsyncer-%2.conf").arg(dir).arg(round);
  bench::Write(conf, QStringLiteral("[general]\nstatus_path = \"%1/status-%3/\"\n\n[pair bench]\n"
                                    "a = \"local\"\nb = \"remote\"\ncollections = null\n\n"
                                    "[storage local]\ntype = \"filesystem\"\npath = \"%1/vdir/\"\n"
                                    "fileext = \".vcf\"\n\n[storage remote]\ntype = \"carddav\"\n"
                                    "url = \"%2\"\nusername = \"ann\"\npassword = \"s3cret\"\n")
                         .arg(dir, book)
                         .arg(round)
                         .toUtf8());
  const std::vector<std::string> vdirsyncer = {"vdirsyncer", "-c", conf.toStdString()};
  if (bench::RunProgram(With(vdirsyncer, {"discover"})).status != 0)
    return "vdirsyncer discover failed";
  const std::vector<std::string> send = {(bin + "/lumivex-cli").toStdString(),
                                         "send",
                                         "--to",
                                         ours.url.toStdString(),
                                         "--user",
                                         "ann",
                                         "--password-file",
                                         d + "/password",
                                         "--no-merge",
                                         "--book",
                                         "lumivex-" + r,
                                         store};
  std::vector<std::string> first = send;
  first[9] = "--new-book";
  const std::vector<std::string> sync = With(vdirsyncer, {"sync"});
  setenv("XDG_STATE_HOME", (d + "/state-" + r).c_str(), 1);

  // A server serves one client at a time, so what it spends across that client's run is what
  // the client cost it.
  const auto pin = [](const Server& s) {
    return s.processor >= 0 ? std::vector<int>{s.processor} : std::vector<int>{};
  };
  bench::Measured o, t;
  double oServer = 0, tServer = 0;
  if (together) {
    const double oStart = bench::ProcessorSeconds(ours.pid),
                 tStart = bench::ProcessorSeconds(theirs.pid);
    const std::vector<bench::Measured> both = bench::FinishPrograms(
        {bench::StartProgram(first, pin(ours)), bench::StartProgram(sync, pin(theirs))},
        [&](std::size_t i) {
          if (i == 0) oServer = bench::ProcessorSeconds(ours.pid) - oStart;
          if (i == 1) tServer = bench::ProcessorSeconds(theirs.pid) - tStart;
        });
    o = both[0];
    t = both[1];
  } else {
    const auto timed = [](bench::Measured& m, double& server, const Server& s,
                          const std::vector<std::string>& argv) {
      const double start = bench::ProcessorSeconds(s.pid);
      m = bench::RunProgram(argv);
      server = bench::ProcessorSeconds(s.pid) - start;
    };
    if (round % 2 == 0) {
      timed(o, oServer, ours, first);
      timed(t, tServer, theirs, sync);
    } else {
      timed(t, tServer, theirs, sync);
      timed(o, oServer, ours, first);
    }
  }
  const bench::Measured a2 = bench::FinishProgram(bench::StartProgram(send, pin(ours)));
  const bench::Measured t2 = bench::FinishProgram(bench::StartProgram(sync, pin(theirs)));
  if (o.status != 0 || a2.status != 0) return "lumivex-cli send failed";
  if (t.status != 0) return "vdirsyncer sync failed";
  const auto held = [&](const Server& s, const QString& name) {
    return static_cast<int>(
        QDir(s.dir + "/data/collection-root/ann/" + name).entryList({"*.vcf"}, QDir::Files).size());
  };
  std::printf(
      "  round %d: send %.2f s, vdirsyncer %.2f s (server cpu %.2f s and %.2f s), re-send "
      "%.2f s, vdirsyncer again %.2f s (%d and %d cards on the server; %s)\n",
      round + 1, o.seconds, t.seconds, oServer, tServer, a2.seconds, t2.seconds,
      held(ours, QStringLiteral("lumivex-") + QString::number(round)),
      held(theirs, QUrl(book).path().section(u'/', -2, -2)), bench::LoadText().c_str());
  std::fflush(stdout);
  figures.ours.push_back(o.seconds);
  figures.oursCpu.push_back(o.cpuSeconds);
  figures.theirs.push_back(t.seconds);
  figures.theirsCpu.push_back(t.cpuSeconds);
  figures.again.push_back(a2.seconds);
  figures.theirsAgain.push_back(t2.seconds);
  figures.oursServer.push_back(oServer);
  figures.theirsServer.push_back(tServer);
  return nullptr;
}

// Totals over the rounds: with two rounds a median would be the slower of each. The exit status:
// 0 when both targets are met, 3 when not.
int Report(const Figures& f) {
  const auto sum = [](const std::vector<double>& v) {
    double total = 0;
    for (const double x : v) total += x;
    return total;
  };
  const double o = sum(f.ours), t = sum(f.theirs), a = sum(f.again);
  std::printf("  lumivex-cli send, all rounds  %8.2f s wall %7.2f s cpu (server %.2f s)\n", o,
              sum(f.oursCpu), sum(f.oursServer));
  std::printf("  vdirsyncer sync, all rounds   %8.2f s wall %7.2f s cpu (server %.2f s)\n", t,
              sum(f.theirsCpu), sum(f.theirsServer));
  std::printf("  send / vdirsyncer             %8.3f  (target at most 1)\n", o / t);
  std::printf("  re-send, unchanged, all rounds %7.2f s wall (vdirsyncer again %.2f s)\n", a,
              sum(f.theirsAgain));
  std::printf("  re-send / first send          %8.3f  (target under 0.1)\n", a / o);
  return o <= t && a < o / 10 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(
          argc, argv, "send_bench [--contacts N] [--rounds R] [--first-round K] [--side-by-side]"))
    return 0;
  QCoreApplication app(argc, argv);
  int contacts = 10000;
  const QStringList args = app.arguments();
  const qsizetype at = args.indexOf(QStringLiteral("--contacts"));
  if (at > 0 && at + 1 < args.size()) contacts = args[at + 1].toInt();
  if (contacts <= 0) return Fail("--contacts needs a positive number");
  int rounds = 1;
  const qsizetype ra = args.indexOf(QStringLiteral("--rounds"));
  if (ra > 0 && ra + 1 < args.size()) rounds = args[ra + 1].toInt();
  if (rounds <= 0) return Fail("--rounds needs a positive number");
  int firstRound = 0;
  const qsizetype fa = args.indexOf(QStringLiteral("--first-round"));
  if (fa > 0 && fa + 1 < args.size()) firstRound = args[fa + 1].toInt();
  if (firstRound < 0) return Fail("--first-round needs a number from 0");
  const QString bin = app.applicationDirPath();
  QTemporaryDir work;
  const QString dir = work.path();
  const std::string d = dir.toStdString();

  // The store and the vdir of its cards.
  const std::string store = d + "/bench.pst";
  if (bench::RunProgram({(bin + "/lumivex-pstgen").toStdString(), "--contacts",
                         std::to_string(contacts), "--seed", "1", "--out", store})
          .status != 0)
    return Fail("lumivex-pstgen failed");
  if (bench::RunProgram({(bin + "/lumivex-cli").toStdString(), "export", "--format", "vcard3",
                         "--per-contact", "--no-merge", "--out", d + "/vdir", store})
          .status != 0)
    return Fail("the vdir export failed");

  const bool sideBySide = args.contains(QStringLiteral("--side-by-side"));
  bench::Write(dir + "/password", "s3cret\n");
  std::printf("send_bench: %d contacts to Radicale on 127.0.0.1, %d round(s)%s (%s)\n", contacts,
              rounds, sideBySide ? ", side by side" : "", bench::LoadText().c_str());
  std::fflush(stdout);

  Figures figures;
  if (sideBySide) {
    for (int round = firstRound; round < firstRound + rounds; ++round) {
      QProcess a, b;
      Server ours{QStringLiteral("%1/server-%2-a").arg(dir).arg(round), {}, 0, round % 2};
      Server theirs{QStringLiteral("%1/server-%2-b").arg(dir).arg(round), {}, 0, 1 - round % 2};
      if (!StartRadicale(a, ours) || !StartRadicale(b, theirs))
        return Fail("radicale did not start");
      const char* failed = RunRound(round, bin, dir, ours, theirs, true, store, figures);
      for (QProcess* p : {&a, &b}) {
        p->terminate();
        p->waitForFinished(10000);
      }
      if (failed) return Fail(failed);
    }
    return Report(figures);
  }
  QProcess radicale;
  Server server{dir + "/server", {}, 0, -1};
  if (!StartRadicale(radicale, server)) return Fail("radicale did not start");
  for (int round = firstRound; round < firstRound + rounds; ++round)
    if (const char* failed = RunRound(round, bin, dir, server, server, false, store, figures))
      return Fail(failed);
  radicale.terminate();
  radicale.waitForFinished(10000);
  return Report(figures);
}
