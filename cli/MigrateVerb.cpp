// lumivex-cli migrate: the stores of many people sent into their address books, as a plan lists
// them (migrate/Plan.h), several people at once, each by a `send` of its own
// (migrate/Runner.h), with a journal to resume from and a report for the help desk.
#include "cli/CliCommon.h"
#include "cli/Command.h"
#include "cli/ConsoleProgress.h"
#include "cli/Verbs.h"
#include "common/TemporaryFiles.h"
#include "migrate/Journal.h"
#include "migrate/MigrationReport.h"
#include "migrate/Plan.h"
#include "migrate/Runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace lumivex::cli {

namespace {

using namespace lumivex::migrate;

const QString kVerb = QStringLiteral("migrate");

const Command& MigrateCommand() {
  static const Command command(
      kVerb,
      QStringLiteral(
          "Sends the contacts of many people's Outlook data files into their address books, as\n"
          "a plan lists them: one 'lumivex-cli send' per person, several at once.\n"),
      {
          {QStringLiteral("--check"), QString(),
           QStringLiteral("check the plan and send nothing: every store opens, every\n"
                          "destination answers and takes the login; prints each person's\n"
                          "contact count\n")},
          {QStringLiteral("-j"), QStringLiteral("N"),
           QStringLiteral("send for N people at once (default 1)\n")},
          {QStringLiteral("--per-server"), QStringLiteral("N"),
           QStringLiteral("at most N of them to one server (default 4; each send keeps up to\n"
                          "6 connections open)\n")},
          {QStringLiteral("--shard"), QStringLiteral("I/N"),
           QStringLiteral("take only slice I of N of the plan: the same person always falls in\n"
                          "the same slice, so N machines can each run one (slices cut another\n"
                          "number of ways are refused while these run)\n")},
          {QStringLiteral("--again"), QString(),
           QStringLiteral("send for the people already done too (only what changed is sent)\n")},
          {QStringLiteral("--report"), QString(),
           QStringLiteral("send nothing: read the journals of every slice and print where each\n"
                          "person stands; write PLAN.report.csv and PLAN.report.html\n")},
          {QStringLiteral("--overwrite"), QString(),
           QStringLiteral("replace contacts changed on the destination since the last send;\n"
                          "also sends again for the people done with conflicts\n")},
          {QStringLiteral("--all-folders"), QString(),
           QStringLiteral("send every contacts folder of each store, not only the default one\n")},
          FolderOption(QStringLiteral("send this folder of each store\n")),
          {QStringLiteral("--no-merge"), QString(),
           QStringLiteral("send every entry as it is, one person's entries not merged\n")},
          {QStringLiteral("--accept-suggestions"), QString(),
           QStringLiteral("also join the entries that may be one person, as send does\n")},
          {QStringLiteral("--allow-new-uids"), QString(),
           QStringLiteral("send a store whose record key cannot be read into a book that holds\n"
                          "cards already, as send does\n")},
          {QStringLiteral("--ca-file"), QStringLiteral("F"),
           QStringLiteral("trust the server certificates signed by the PEM certificates in F\n")},
          {QStringLiteral("--book"), QStringLiteral("NAME"),
           QStringLiteral("send into this address book of each account (a 'book' column of the\n"
                          "plan names one per person, which comes first for that person)\n")},
          {QStringLiteral("--new-book"), QStringLiteral("NAME"),
           QStringLiteral("make an address book of this name in each account (or use it when it\n"
                          "is there) and send into it; not for people whose 'book' column names\n"
                          "one\n")},
          {QString(), QStringLiteral("PLAN"),
           QStringLiteral("a CSV file (UTF-8) with a header row and one line per person\n"), true},
      },
      QStringLiteral(
          "The plan's columns (by name; others are left alone): id, stores (paths or\n"
          "globs, several separated by ';', relative ones from the plan's folder), to (as\n"
          "'send --to': a CardDAV URL, user@host, vdir:DIR, kde or evolution[:BOOK]),\n"
          "user, and where the password comes from: password-file (a file whose first\n"
          "line it is) or password-command (run by /bin/sh; its first line of output is\n"
          "the password, e.g. 'pass show dav/ann'). A plan holding passwords is refused.\n"
          "An optional book column names the address book.\n"
          "Each event (a person started, the stores found, finished with the counts,\n"
          "failed with the reason) is appended to PLAN.journal (PLAN.I-of-N.journal for\n"
          "--shard) and synced to the disk at once. Run again after a stop of any kind,\n"
          "the migration skips the people done and goes on with the others; the record\n"
          "of each send keeps a card from being created twice.\n"
          "Ctrl-C (or SIGTERM) stops every send after the contacts in flight.\n"
          "Exit status: 0 every person done, 1 the plan or the journal cannot be used,\n"
          "2 bad arguments, 3 some people failed (each listed with the reason and what to\n"
          "do), or it was stopped.\n"));
  return command;
}

std::atomic<bool> g_stop{false};

// Ctrl-C, and the SIGTERM a scheduler sends a job it stops (Kubernetes, Slurm): every send
// stops after the contacts in flight and the journal says so. A second one ends at once.
void OnInterrupt(int signal) {
  g_stop = true;
  std::signal(signal, SIG_DFL);
}

// "about 3 min left"
QString TimeLeft(double seconds) {
  if (seconds < 90) return QStringLiteral("about %1 s left").arg(qRound(seconds));
  if (seconds < 5400) return QStringLiteral("about %1 min left").arg(qRound(seconds / 60));
  return QStringLiteral("about %1 h left").arg(seconds / 3600, 0, 'f', 1);
}

// The whole plan's progress: a line that keeps its place on a terminal, plain lines (one per
// person ended) otherwise.
class ConsoleRun : public RunObserver {
 public:
  ConsoleRun(int total, bool check) : total_(total), check_(check) { clock_.start(); }

  void Started(const Person&) override {
    ++running_;
    Draw(false);
  }
  void Ended(const Person& person, const Outcome& o) override {
    --running_;
    ++ended_;
    if (o.status == Status::kFailed) ++failed_;
    if (o.status == Status::kDone && o.counts.conflicts > 0 && !check_) ++conflicted_;
    if (o.status == Status::kPending) ++stopped_;
    // The rate is of contacts that reached their books (or would, in a check): those of a person
    // whose send failed on the way are not counted as done.
    contacts_ += o.counts.Sent() + o.counts.unchanged + o.counts.conflicts;
    QString line = QStringLiteral("[%1/%2] %3: ").arg(ended_).arg(total_).arg(person.id);
    const Counts& c = o.counts;
    if (o.status == Status::kFailed) {
      line += QStringLiteral("failed: ") + o.reason;
      if (const QString advice = AdviceFor(o.remedy); !advice.isEmpty())
        line += QStringLiteral("; ") + advice;
    } else if (o.status == Status::kPending) {
      line += QStringLiteral("stopped");
    } else if (check_) {
      line += QStringLiteral(
                  "ready: %1 stores, %2 entries, %3 contacts (%4 new, %5 changed, %6 "
                  "unchanged, %7 conflicts)")
                  .arg(o.stores.size())
                  .arg(c.entries)
                  .arg(c.contacts)
                  .arg(c.added)
                  .arg(c.updated)
                  .arg(c.unchanged)
                  .arg(c.conflicts);
    } else {
      line += QStringLiteral("done: %1 entries, %2 contacts: %3 sent, %4 unchanged, %5 conflicts")
                  .arg(c.entries)
                  .arg(c.contacts)
                  .arg(c.Sent())
                  .arg(c.unchanged)
                  .arg(c.conflicts);
    }
    progress_.Above();
    std::printf("%s\n", qPrintable(line));
    if (!progress_.Enabled()) {
      std::printf("%s\n", qPrintable(Label()));
    }
    std::fflush(stdout);
    progress_.Below();
    Draw(ended_ == total_);
  }
  bool Stopping() const override { return g_stop; }
  void Waiting() override { Draw(false); }
  void End() { progress_.End(); }
  int Failed() const { return failed_; }
  // People done, but with cards changed on the server since they were last sent, left alone.
  int Conflicted() const { return conflicted_; }
  // People whose send stopped before it was done (ended from outside the migration, which may
  // go on): pending, for the next run.
  int Stopped() const { return stopped_; }

 private:
  QString Label() const {
    const double seconds = clock_.elapsed() / 1000.0;
    QString label = QStringLiteral("%1 of %2 people: %3 done")
                        .arg(ended_)
                        .arg(total_)
                        .arg(ended_ - failed_ - stopped_);
    if (failed_ > 0) label += QStringLiteral(", %1 failed").arg(failed_);
    if (stopped_ > 0) label += QStringLiteral(", %1 stopped").arg(stopped_);
    if (running_ > 0) label += QStringLiteral(", %1 running").arg(running_);
    if (seconds > 0.5 && contacts_ > 0)
      label += QStringLiteral(", %1 contacts/s").arg(qRound(contacts_ / seconds));
    if (seconds > 0.5 && ended_ > 0 && ended_ < total_ && !g_stop)
      label += QStringLiteral(", ") + TimeLeft(seconds / ended_ * (total_ - ended_));
    return label;
  }
  // Padded to the longest label drawn, so that a shorter one leaves nothing of the one before.
  void Draw(bool last) {
    if (!progress_.Enabled()) return;
    QString label = Label();
    width_ = std::max(width_, label.size());
    progress_.Show(label.leftJustified(width_), last);
  }

  ConsoleProgress progress_;
  QElapsedTimer clock_;
  int total_;
  bool check_;
  int running_ = 0;
  int ended_ = 0;
  int failed_ = 0;
  int conflicted_ = 0;
  int stopped_ = 0;
  qsizetype width_ = 0;
  qint64 contacts_ = 0;
};

// --report: the journals of every slice, read together.
int WriteReport(const Plan& plan) {
  const Report report = MakeReport(plan, ReadJournals(JournalsOf(plan.path)));
  std::printf("%s", qPrintable(SummaryText(report)));
  for (const auto& [suffix, bytes] :
       {std::pair{QStringLiteral(".report.csv"), ReportCsv(report)},
        std::pair{
            QStringLiteral(".report.html"),
            ReportHtml(report, QStringLiteral("Migration: ") + QFileInfo(plan.path).fileName())}}) {
    QSaveFile file(plan.path + suffix);
    // The user's alone, as the journal is: it names people, contacts and what their
    // password-commands said.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(bytes) != bytes.size() || !file.commit())
      return Failure(
          kVerb, QStringLiteral("cannot write %1: %2").arg(plan.path + suffix, file.errorString()));
    std::printf("Written: %s\n", qPrintable(plan.path + suffix));
  }
  return report.failed > 0 || report.pending > 0 ? kExitIncomplete : kExitSuccess;
}

// The send options every person's send is given.
QStringList SendOptionsOf(const Arguments& args) {
  QStringList options;
  for (const char* flag :
       {"--overwrite", "--all-folders", "--no-merge", "--accept-suggestions", "--allow-new-uids"})
    if (args.Has(QLatin1String(flag))) options << QLatin1String(flag);
  for (const char* valued : {"--folder", "--ca-file", "--book", "--new-book"})
    if (args.Has(QLatin1String(valued)))
      options << QLatin1String(valued) << args.Value(QLatin1String(valued));
  if (options.contains(QStringLiteral("--ca-file"))) {
    const qsizetype at = options.indexOf(QStringLiteral("--ca-file")) + 1;
    options[at] = QFileInfo(options[at]).absoluteFilePath();
  }
  return options;
}

}  // namespace

int MigrateVerb(const QStringList& arguments) {
  Arguments args;
  if (const int status = MigrateCommand().Parse(arguments, args); status >= 0) return status;
  if (args.Operands().size() != 1) return UsageError(kVerb, QStringLiteral("give one PLAN"));
  int jobs = 1;
  int perServer = 4;
  int shard = 1;
  int shards = 1;
  bool ok = true;
  if (args.Has(QStringLiteral("-j")) &&
      ((jobs = args.Value(QStringLiteral("-j")).toInt(&ok)) < 1 || !ok))
    return UsageError(kVerb, QStringLiteral("-j takes a number of people, 1 or more"));
  if (args.Has(QStringLiteral("--per-server")) &&
      ((perServer = args.Value(QStringLiteral("--per-server")).toInt(&ok)) < 1 || !ok))
    return UsageError(kVerb, QStringLiteral("--per-server takes a number, 1 or more"));
  if (args.Has(QStringLiteral("--shard")) &&
      !ParseShard(args.Value(QStringLiteral("--shard")), shard, shards))
    return UsageError(kVerb, QStringLiteral("--shard takes I/N, a slice I of N (1 <= I <= N): "
                                            "--shard 2/3"));
  if (args.Has(QStringLiteral("--folder")) && args.Has(QStringLiteral("--all-folders")))
    return UsageError(kVerb, QStringLiteral("--all-folders and --folder exclude each other"));
  if (args.Has(QStringLiteral("--book")) && args.Has(QStringLiteral("--new-book")))
    return UsageError(kVerb, QStringLiteral("--book and --new-book exclude each other"));
  if (args.Has(QStringLiteral("--report")) && args.Has(QStringLiteral("--check")))
    return UsageError(kVerb, QStringLiteral("--report and --check exclude each other"));

  Plan plan;
  QString error;
  if (!ReadPlan(args.Operands().front(), plan, error)) return Failure(kVerb, error);
  if (args.Has(QStringLiteral("--report"))) return WriteReport(plan);

  const bool check = args.Has(QStringLiteral("--check"));
  const std::map<QString, PersonState> states =
      check ? std::map<QString, PersonState>() : ReadJournals(JournalsOf(plan.path));
  std::vector<const Person*> people;
  int done = 0;
  // With --overwrite, a person done with conflicts is not done yet: what the advice for
  // conflicts says to do, --overwrite alone, sends again for them (and only them).
  const bool overwrite = args.Has(QStringLiteral("--overwrite"));
  for (const Person& person : plan.people) {
    if (ShardOf(person.id, shards) != shard) continue;
    const auto state = states.find(person.id);
    if (!check && !args.Has(QStringLiteral("--again")) && state != states.end() &&
        state->second.status == Status::kDone &&
        !(overwrite && state->second.counts.conflicts > 0)) {
      ++done;
      continue;
    }
    people.push_back(&person);
  }

  Journal journal;
  if (!check) {
    if (!journal.LockPlan(plan.path, shards, error) ||
        !journal.Open(JournalPath(plan.path, shard, shards), error))
      return Failure(kVerb, error);
    if (shards > 1) journal.SetShard(QStringLiteral("%1/%2").arg(shard).arg(shards));
  }
  if (done > 0)
    std::printf("%d people done before are left alone (--again sends for them too)\n", done);
  // Each person's send leaves its result here; the folder of a migration killed outright (its
  // name carries the process id) goes with the next one.
  const QString scratchPrefix = QStringLiteral("lumivex-migrate-");
  TemporaryFiles::RemoveStaleFolders(QDir::tempPath(), scratchPrefix);
  QTemporaryDir scratch(QDir::tempPath() + u'/' + scratchPrefix +
                        QString::number(QCoreApplication::applicationPid()) +
                        QStringLiteral("-XXXXXX"));
  if (!scratch.isValid())
    return Failure(kVerb,
                   QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
  RunOptions options;
  options.program = QCoreApplication::applicationFilePath();
  options.sendOptions = SendOptionsOf(args);
  options.jobs = jobs;
  options.perServer = perServer;
  options.check = check;
  options.scratch = scratch.path();

  ConsoleRun view(static_cast<int>(people.size()), check);
  g_stop = false;
  std::signal(SIGINT, OnInterrupt);
  const auto terminated = std::signal(SIGTERM, OnInterrupt);
  const bool ran = RunPeople(people, plan, options, check ? nullptr : &journal, view, error);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, terminated);
  view.End();
  if (!ran) return Failure(kVerb, error);
  if (g_stop) {
    std::fprintf(stderr, "lumivex-cli migrate: stopped; run the same migration again to go on\n");
    return kExitIncomplete;
  }
  // People done with cards changed on the server left alone: told with the way out.
  if (view.Conflicted() > 0)
    std::fprintf(stderr, "lumivex-cli migrate: %d of %d people have conflicts: %s\n",
                 view.Conflicted(), static_cast<int>(people.size()),
                 qPrintable(AdviceFor(QStringLiteral("conflicts"))));
  if (view.Failed() > 0)
    std::fprintf(stderr,
                 "lumivex-cli migrate: %d of %d people failed; fix what the lines above say and "
                 "run again%s\n",
                 view.Failed(), static_cast<int>(people.size()),
                 check ? "" : " (the people done are left alone)");
  // A send stopped by someone else (a SIGTERM to it alone, the system ending it) while the
  // migration went on: its person is not done, and the run is not a success.
  if (view.Stopped() > 0)
    std::fprintf(stderr,
                 "lumivex-cli migrate: %d of %d people were stopped before they were done (their "
                 "send was ended from outside); run the same %s again to go on\n",
                 view.Stopped(), static_cast<int>(people.size()), check ? "check" : "migration");
  return view.Failed() > 0 || view.Stopped() > 0 || view.Conflicted() > 0 ? kExitIncomplete
                                                                          : kExitSuccess;
}

}  // namespace lumivex::cli
