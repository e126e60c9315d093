// migrate_bench: N people of M contacts each (one store apiece, written by the store writer)
// migrated into a Radicale server on 127.0.0.1, one account per person, with
// `lumivex-cli migrate -j J` for each J given: people per minute, and the memory of the
// migration process against the number of people (which its children keep flat).
//
//   migrate_bench [--people N] [--contacts M] [--jobs 1,2,4,8] [--work DIR]
//
// Each J migrates into a fresh server with a fresh send record (and --per-server J: every send
// goes to the one server). Then, at -j 4, N/4 and N/2 people are migrated too, for the memory
// against the number of people. "migrate" is the
// peak resident size of the migrating process itself (read from /proc while it runs); "largest"
// that of the largest process of the run, the migration or one person's send (wait4).
//
// Needs radicale (a Debian package). The server's writes are not forced to the disk, so that the
// figures are the program's and the server's, not those of a disk shared with other work.
#include "bench/Figures.h"  // LoadText
#include "bench/Radicale.h"
#include "bench/RunProgram.h"
#include "bench/Usage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace lumivex;

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "migrate_bench: %s\n", what);
  return 1;
}

QString Id(int person) {
  return QStringLiteral("p%1").arg(person, 4, 10, QLatin1Char('0'));
}

// Radicale with one account per person in `dir`, counting the requests into `dir`/counts; its
// URL, empty when it did not start.
QString StartRadicale(QProcess& radicale, const QString& dir, int people) {
  QByteArray users;
  for (int p = 1; p <= people; ++p) users += (Id(p) + QStringLiteral(":pw\n")).toUtf8();
  return bench::StartRadicale(radicale, dir, users, -1, dir + "/counts");
}

// The peak resident size of process `pid` so far (VmHWM), in KiB; 0 once it is gone.
long HighWaterKiB(pid_t pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

struct Figures {
  int people = 0;
  int jobs = 0;
  double seconds = 0;
  long migrateKiB = 0;
  long largestKiB = 0;
  int status = -1;
  int failed = 0;                     // people whose send failed (the journal's count)
  double cpuSeconds = 0;              // the migration and its sends, user and system
  double serverSeconds = 0;           // the server's processor time over the run
  QMap<QByteArray, qint64> requests;  // as the server counted them: by verb, and the bytes
};

Figures Migrate(const QString& bin, const QString& dir, const QString& stores, int people,
                int jobs) {
  Figures f;
  f.people = people;
  f.jobs = jobs;
  const QString run = QStringLiteral("%1/run-%2-j%3").arg(dir).arg(people).arg(jobs);
  QProcess radicale;
  const QString url = StartRadicale(radicale, run + "/server", people);
  if (url.isEmpty()) return f;
  const double serverStart = bench::ProcessorSeconds(radicale.processId());
  QByteArray plan = "id,stores,to,user,password-file\n";
  for (int p = 1; p <= people; ++p)
    plan +=
        QStringLiteral("%1,%2/%1.pst,%3,%1,%4/password\n").arg(Id(p), stores, url, dir).toUtf8();
  bench::Write(run + "/plan.csv", plan);
  setenv("XDG_STATE_HOME", qPrintable(run + "/state"), 1);
  const bench::Running r = bench::StartProgram(
      {bin.toStdString() + "/lumivex-cli", "migrate", "-j", std::to_string(jobs), "--per-server",
       std::to_string(jobs), "--new-book", "Contacts", (run + "/plan.csv").toStdString()});
  for (;;) {
    f.migrateKiB = std::max(f.migrateKiB, HighWaterKiB(r.pid));
    int status = 0;
    rusage usage{};
    if (wait4(r.pid, &status, WNOHANG, &usage) == r.pid) {
      const bench::Measured m = bench::Took(r, status, usage);
      f.seconds = m.seconds;
      f.largestKiB = m.peakKiB;
      f.status = m.status;
      f.cpuSeconds = m.cpuSeconds;
      break;
    }
    usleep(50000);
  }
  f.serverSeconds = bench::ProcessorSeconds(radicale.processId()) - serverStart;
  radicale.terminate();
  radicale.waitForFinished(10000);
  QFile counts(run + "/server/counts");
  if (counts.open(QIODevice::ReadOnly))
    for (const QByteArray& line : counts.readAll().split('\n'))
      if (const QList<QByteArray> w = line.split(' '); w.size() == 2)
        f.requests[w[0]] = w[1].toLongLong();
  QFile journal(run + "/plan.csv.journal");
  if (journal.open(QIODevice::ReadOnly))
    f.failed = static_cast<int>(journal.readAll().count("\"event\":\"failed\""));
  QDir(run).removeRecursively();  // a run's cards are many small files: let them go
  return f;
}

void Print(const Figures& f, int contacts) {
  const QByteArray note =
      f.status == 0 ? QByteArray() : QStringLiteral("  (%1 people failed)").arg(f.failed).toUtf8();
  std::printf(
      "%6d people  -j %d  %8.1f s  %7.1f people/min  migrate %6.1f MiB  largest %6.1f MiB%s\n",
      f.people, f.jobs, f.seconds, f.people / f.seconds * 60, f.migrateKiB / 1024.0,
      f.largestKiB / 1024.0, note.constData());
  // Our side of it: processor time and what was asked of the server, per contact.
  const double n = double(f.people) * contacts;
  QByteArray verbs;
  qint64 total = 0;
  for (auto v = f.requests.constBegin(); v != f.requests.constEnd(); ++v)
    if (!v.key().endsWith("-bytes")) {
      verbs += " " + v.key() + " " + QByteArray::number(v.value());
      total += v.value();
    }
  std::printf(
      "        client %7.1f s processor (%.2f ms a contact)  server %7.1f s processor\n"
      "        requests %lld (%.3f a contact:%s)  bytes %.0f up, %.0f down a contact\n",
      f.cpuSeconds, f.cpuSeconds * 1000 / n, f.serverSeconds, static_cast<long long>(total),
      total / n, verbs.constData(), f.requests.value("request-bytes") / n,
      f.requests.value("answer-bytes") / n);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(
          argc, argv, "migrate_bench [--people N] [--contacts M] [--jobs 1,2,4,8] [--work DIR]"))
    return 0;
  QCoreApplication app(argc, argv);
  int people = 40;
  int contacts = 200;
  QList<int> jobs = {1, 2, 4, 8};
  QString work;
  const QStringList args = app.arguments();
  for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == u"--people") {
      people = args[i + 1].toInt();
    } else if (args[i] == u"--contacts") {
      contacts = args[i + 1].toInt();
    } else if (args[i] == u"--jobs") {
      jobs.clear();
      for (const QString& j : args[i + 1].split(u',')) jobs << j.toInt();
    } else if (args[i] == u"--work") {
      work = args[i + 1];
    } else {
      return Fail("usage: migrate_bench [--people N] [--contacts M] [--jobs 1,2,4,8] [--work DIR]");
    }
  }
  if (people < 4 || contacts < 1 || jobs.isEmpty())
    return Fail("--people 4 or more, --contacts 1 or more");
  QTemporaryDir scratch(work.isEmpty() ? QDir::tempPath() + "/migrate_bench-XXXXXX"
                                       : work + "/migrate_bench-XXXXXX");
  if (!scratch.isValid()) return Fail("cannot make the work folder");
  const QString dir = scratch.path();
  const QString bin = QCoreApplication::applicationDirPath();
  const QString stores = dir + "/stores";
  QDir().mkpath(stores);
  bench::Write(dir + "/password", "pw\n");
  std::printf("Writing %d stores of %d contacts...\n", people, contacts);
  std::fflush(stdout);
  for (int p = 1; p <= people; ++p) {
    const bench::Measured m = bench::RunProgram(
        {bin.toStdString() + "/lumivex-pstgen", "--contacts", std::to_string(contacts), "--seed",
         std::to_string(p), "--out", (stores + "/" + Id(p) + ".pst").toStdString()});
    if (m.status != 0) return Fail("lumivex-pstgen failed");
  }
  std::printf("%s\n", bench::LoadText().c_str());
  for (const int j : jobs) Print(Migrate(bin, dir, stores, people, j), contacts);
  // Memory against people at -j 4 (or the largest -j below it), which one server takes.
  int memoryJobs = jobs.front();
  for (const int j : jobs)
    if (j <= 4) memoryJobs = std::max(memoryJobs, j);
  for (const int fewer : {people / 4, people / 2})
    Print(Migrate(bin, dir, stores, fewer, memoryJobs), contacts);
  std::printf("%s\n", bench::LoadText().c_str());
  return 0;
}
