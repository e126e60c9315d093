#include "migrate/Runner.h"

#include "destination/Destinations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#include <sys/prctl.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <deque>
#include <functional>
#include <initializer_list>
#include <list>
#include <map>

namespace lumivex::migrate {

QString AdviceFor(const QString& remedy) {
  static const std::map<QString, QString> advice = {
      {"credentials",
       "check the person's user and password (password-file or password-command) in the plan"},
      {"certificate",
       "if this is your own server, give its certificate or its authority's with --ca-file"},
      {"choose-book",
       "the account has several address books: name one in the plan's book column or --book"},
      {"new-book",
       "the account has no address book of that name: name one it has in the plan's book "
       "column or --book, or make it with --new-book NAME"},
      {"store", "correct the person's stores in the plan, or put the files back"},
      {"network", "check that the server answers (address, port, proxy); then run again"},
      {"other-server",
       "the server sends the person's requests on to another one, which the password does not "
       "go to: if that address is the person's address book's, put it in the plan's to column"},
      {"contacts", "run the migration again: it sends only what is missing"},
      {"conflicts",
       "cards changed on the server since the last send were left alone; --overwrite replaces "
       "them (the same command with --overwrite sends again for the people with conflicts)"},
      {"crash", "run the person again; if it fails the same way, send its stores for a look"},
      {"password-command", "run the person's password-command by hand and correct it"},
      {"damaged",
       "what could be read was sent; mend the person's stores (Outlook's Inbox Repair Tool, "
       "scanpst.exe) or take fresh copies, then run the person again"},
  };
  const auto it = advice.find(remedy);
  return it == advice.end() ? QString() : it->second;
}

namespace {

// The last lines of what a send printed, for the journal and the report.
QString Tail(const QByteArray& log, int lines) {
  QStringList all = QString::fromUtf8(log).split(u'\n', Qt::SkipEmptyParts);
  if (all.size() > lines) all = all.mid(all.size() - lines);
  return all.join(u'\n');
}

// The send's own failure line ("lumivex-cli send: REASON"), else its last line.
QString LastWords(const QByteArray& log) {
  const QStringList lines = QString::fromUtf8(log).split(u'\n', Qt::SkipEmptyParts);
  for (qsizetype i = lines.size() - 1; i >= 0; --i)
    if (lines[i].startsWith(u"lumivex-cli send: ")) return lines[i].mid(18);
  return lines.isEmpty() ? QString() : lines.last();
}

// The first line the send printed that starts with one of `kinds` ("not sent: ", "unreadable: "),
// whole; empty when none does.
QString FirstLine(const QByteArray& log, std::initializer_list<const char*> kinds) {
  for (const QString& line : QString::fromUtf8(log).split(u'\n'))
    for (const char* kind : kinds)
      if (line.startsWith(QLatin1String(kind))) return line;
  return {};
}

Outcome OutcomeOf(const QProcess& process, const QByteArray& log, const QString& resultPath) {
  Outcome o;
  QFile file(resultPath);
  const QJsonObject result = file.open(QIODevice::ReadOnly)
                                 ? QJsonDocument::fromJson(file.readAll()).object()
                                 : QJsonObject();
  o.counts = Counts::FromJson(result);
  o.log = Tail(log, 20);
  if (process.exitStatus() == QProcess::CrashExit) {
    o.status = Status::kFailed;
    o.reason = QStringLiteral("the send ended abnormally (it crashed or was killed)");
    o.remedy = QStringLiteral("crash");
    return o;
  }
  const int code = process.exitCode();
  if (result.contains("error") || result.isEmpty()) {
    o.status = Status::kFailed;
    o.reason = result.contains("error") ? result["error"].toString() : LastWords(log);
    if (o.reason.isEmpty()) o.reason = QStringLiteral("the send ended with status %1").arg(code);
    // The send names the remedy of a failure it knows one for ("network" where the server was
    // not reached); the others (its usage errors, a refused redirect, Evolution missing) get no
    // advice rather than a wrong one: their reason says what is wrong.
    o.remedy = result["remedy"].toString();
    return o;
  }
  if (result["cancelled"].toBool()) {
    o.status = Status::kPending;
    o.reason = QStringLiteral("stopped");
    return o;
  }
  if (o.counts.failed > 0) {
    o.status = Status::kFailed;
    o.reason = QStringLiteral("%1 of %2 contacts were not sent")
                   .arg(o.counts.failed)
                   .arg(o.counts.contacts);
    if (const QString first = FirstLine(log, {"not sent: "}); !first.isEmpty())
      o.reason += QStringLiteral(" (the first: %1)").arg(first.mid(10));
    o.remedy = QStringLiteral("contacts");
    return o;
  }
  // Entries of the stores that could not be read whole, or a store damaged as a whole: the
  // person's contacts did not all arrive as their stores hold them. Not done, so that the
  // person is looked at and run again once the stores are mended.
  if (o.counts.unreadable > 0) {
    o.status = Status::kFailed;
    o.reason = QStringLiteral(
                   "the stores are damaged: %1 of their entries, or a store as a "
                   "whole, could not be read whole")
                   .arg(o.counts.unreadable);
    if (const QString first = FirstLine(
            log, {"unreadable: ", "not whole: ", "damaged: ", "damaged folder: ", "left out: "});
        !first.isEmpty())
      o.reason += QStringLiteral(" (the first: %1)").arg(first);
    o.remedy = QStringLiteral("damaged");
    return o;
  }
  o.status = Status::kDone;
  if (o.counts.conflicts > 0) o.remedy = QStringLiteral("conflicts");
  return o;
}

// Ends process `pid` and every process it started, and theirs (a password-command's shell runs
// `sleep 5; pass show x` in children of its own, which would go on after the shell).
void KillTree(qint64 pid) {
  std::vector<qint64> tree = {pid};
  for (size_t i = 0; i < tree.size(); ++i) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(tree[i]);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile children(tasks + u'/' + task + QStringLiteral("/children"));
      if (!children.open(QIODevice::ReadOnly)) continue;
      for (const QByteArray& child : children.readAll().split(' '))
        if (const qint64 id = child.trimmed().toLongLong(); id > 0) tree.push_back(id);
    }
  }
  for (const qint64 id : tree) ::kill(static_cast<pid_t>(id), SIGKILL);
}

// The first line a password command printed (all of it when it printed no line break). False, with
// `error`, when it failed, or was ended because `stopping` said the run is to stop (Ctrl-C reaches
// it from the terminal, but a SIGTERM or SIGINT to the migration alone does not).
bool RunPasswordCommand(const QString& command, const QString& folder,
                        const std::function<bool()>& stopping, QByteArray& password,
                        QString& error) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
  process.closeWriteChannel();
  QElapsedTimer clock;
  clock.start();
  while (process.state() != QProcess::NotRunning && !process.waitForFinished(100)) {
    if (process.state() == QProcess::NotRunning) break;
    const bool stopped = stopping();
    if (stopped || clock.elapsed() >= 60000) {
      KillTree(process.processId());
      process.waitForFinished();
      error = stopped ? QStringLiteral("the password-command was ended: the migration stopped")
                      : QStringLiteral("the password-command did not answer within 60 seconds");
      return false;
    }
  }
  password = process.readAllStandardOutput();
  // Its first line, or all it printed when that has no line break (secret-tool and printf print
  // none): left(-1) would give nothing.
  if (const qsizetype end = password.indexOf('\n'); end >= 0) password.truncate(end);
  if (password.endsWith('\r')) password.chop(1);
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
      password.isEmpty()) {
    // What it said on its standard error is not kept: the journal and the reports keep the
    // reason, and a command that fails may have printed the password (or been the password).
    error = QStringLiteral("the password-command %1")
                .arg(process.exitStatus() != QProcess::NormalExit
                         ? QStringLiteral("was ended by a signal")
                     : process.exitCode() != 0
                         ? QStringLiteral("failed (status %1)").arg(process.exitCode())
                         : QStringLiteral("printed no password"));
    return false;
  }
  return true;
}

struct Running {
  const Person* person = nullptr;
  QString server;
  QString resultPath;
  QStringList stores;
  QProcess process;
  QByteArray log;
};

class Run {
 public:
  Run(const Plan& plan, const RunOptions& options, Journal* journal, RunObserver& observer)
      : plan_(plan), options_(options), journal_(journal), observer_(observer) {}

  bool Go(const std::vector<const Person*>& people, QString& error) {
    queue_.assign(people.begin(), people.end());
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop_, [this] {
      observer_.Waiting();
      Tick();
    });
    watch.start(100);
    Tick();
    if (!Finished()) loop_.exec();
    error = error_;
    return error_.isEmpty();
  }

 private:
  bool Finished() const { return running_.empty() && (queue_.empty() || stopping_); }

  void Record(const Person& person, const QString& event, const QJsonObject& record) {
    if (journal_ && error_.isEmpty() && !journal_->Append(person.id, event, record)) {
      error_ =
          QStringLiteral("cannot write the journal %1 (disk full?); stopped").arg(journal_->Path());
      stopping_ = true;
    }
  }

  void End(const Person& person, const Outcome& o) {
    QJsonObject record = o.counts.ToJson();
    if (!o.remedy.isEmpty()) record.insert("remedy", o.remedy);
    if (o.status == Status::kFailed) {
      record.insert("reason", o.reason);
      record.insert("log", o.log);
    }
    Record(person,
           o.status == Status::kDone     ? QStringLiteral("finished")
           : o.status == Status::kFailed ? QStringLiteral("failed")
                                         : QStringLiteral("stopped"),
           record);
    observer_.Ended(person, o);
  }

  void Tick() {
    ended_.clear();
    if (observer_.Stopping() && !stopping_) stopping_ = true;
    if (stopping_ && !relayed_) {
      relayed_ = true;  // each send stops after the contacts in flight, as on its own Ctrl-C
      for (const auto& r : running_)
        if (r->process.processId() > 0) ::kill(static_cast<pid_t>(r->process.processId()), SIGINT);
    }
    while (!stopping_ && static_cast<int>(running_.size()) < options_.jobs) {
      // A stop asked for while the last person was started (its password-command ran) starts
      // nobody more.
      if (observer_.Stopping()) {
        stopping_ = true;
        break;
      }
      auto next = queue_.end();
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        const QString server = ServerOf((*it)->to);
        if (server == u"local" || perServer_[server] < options_.perServer) {
          next = it;
          break;
        }
      }
      if (next == queue_.end()) break;
      const Person* person = *next;
      queue_.erase(next);
      Start(*person);
    }
    if (Finished()) loop_.quit();
  }

  void Start(const Person& person) {
    observer_.Started(person);
    Record(person, QStringLiteral("started"), {});
    QStringList unmatched;
    const QStringList stores = ExpandStores(person.storePatterns, plan_.folder, unmatched);
    QJsonArray list;
    for (const QString& s : stores) list << s;
    Record(person, QStringLiteral("stores"), {{"stores", list}});
    Outcome failed;
    failed.status = Status::kFailed;
    failed.stores = stores;
    if (!unmatched.isEmpty()) {
      failed.reason = QStringLiteral("no store file matches %1 (from %2)")
                          .arg(unmatched.join(QStringLiteral(", ")), plan_.folder);
      failed.remedy = QStringLiteral("store");
      return End(person, failed);
    }
    QByteArray password;
    if (!person.passwordCommand.isEmpty()) {
      QString why;
      if (!RunPasswordCommand(
              person.passwordCommand, plan_.folder, [this] { return observer_.Stopping(); },
              password, why)) {
        // Ctrl-C reaches the password-command too: the person was stopped, not failed.
        if (observer_.Stopping()) {
          Outcome stopped;
          stopped.status = Status::kPending;
          stopped.reason = QStringLiteral("stopped");
          stopped.stores = stores;
          return End(person, stopped);
        }
        failed.reason = why;
        failed.remedy = QStringLiteral("password-command");
        return End(person, failed);
      }
    }
    auto r = std::make_unique<Running>();
    r->person = &person;
    r->server = ServerOf(person.to);
    r->stores = stores;
    r->resultPath = QStringLiteral("%1/%2.json").arg(options_.scratch).arg(++started_);
    QFile::remove(r->resultPath);
    QStringList args = {QStringLiteral("send"), QStringLiteral("--to"), person.to};
    if (!person.user.isEmpty()) args << QStringLiteral("--user") << person.user;
    // The password goes through the child's standard input, never its arguments (which any
    // user of the machine can list) nor a file of ours.
    if (!person.passwordFile.isEmpty())
      args << QStringLiteral("--password-file") << person.passwordFile;
    else if (!password.isEmpty())
      args << QStringLiteral("--password-file") << QStringLiteral("/dev/stdin");
    // The plan's book for the person comes before the command line's --book or --new-book. Those
    // and --ca-file are for the accounts of CardDAV servers: a folder or Evolution takes none
    // of them, and the send would refuse the person for them.
    QStringList sendOptions = options_.sendOptions;
    if (!person.book.isEmpty()) args << QStringLiteral("--book") << person.book;
    destination::ParsedDestination parsed;
    QString unused;
    const bool carddav = destination::ParseDestination(person.to, parsed, unused) &&
                         parsed.kind == destination::DestinationKind::kCardDav;
    for (const QString& option :
         {QStringLiteral("--book"), QStringLiteral("--new-book"), QStringLiteral("--ca-file")}) {
      const bool kept = carddav && (option == u"--ca-file" || person.book.isEmpty());
      if (const qsizetype at = sendOptions.indexOf(option); at >= 0 && !kept)
        sendOptions.remove(at, 2);
    }
    args += sendOptions;
    if (options_.check) args << QStringLiteral("--dry-run");
    args += stores;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LUMIVEX_SEND_RESULT"), r->resultPath);
    r->process.setProcessEnvironment(env);
    r->process.setWorkingDirectory(plan_.folder);
    r->process.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that a Ctrl-C on the terminal reaches the migration alone, which
    // passes it on once; and ended with the migration if that is killed.
    r->process.setChildProcessModifier([] {
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    Running* raw = r.get();
    QObject::connect(&raw->process, &QProcess::readyReadStandardOutput, [raw] {
      raw->log += raw->process.readAllStandardOutput();
      if (raw->log.size() > 65536) raw->log = raw->log.right(32768);
    });
    QObject::connect(&raw->process, &QProcess::finished, [this, raw] { Done(raw); });
    QObject::connect(&raw->process, &QProcess::errorOccurred,
                     [this, raw](QProcess::ProcessError e) {
                       if (e == QProcess::FailedToStart) Done(raw);
                     });
    ++perServer_[raw->server];
    running_.push_back(std::move(r));
    raw->process.start(options_.program, args);
    raw->process.write(password + '\n');
    raw->process.closeWriteChannel();
  }

  void Done(Running* raw) {
    const auto found = std::find_if(running_.begin(), running_.end(),
                                    [raw](const auto& r) { return r.get() == raw; });
    if (found == running_.end()) return;  // told twice (an error, then the end)
    raw->log += raw->process.readAllStandardOutput();
    // A send the stop reached before it could answer for itself (still starting: it ended by the
    // signal, or before writing its result) was stopped, not failed: the next run goes on with it.
    const bool unanswered =
        raw->process.exitStatus() == QProcess::CrashExit || !QFileInfo::exists(raw->resultPath);
    Outcome o = OutcomeOf(raw->process, raw->log, raw->resultPath);
    if (relayed_ && unanswered && raw->process.error() != QProcess::FailedToStart) {
      o.status = Status::kPending;
      o.reason = QStringLiteral("stopped");
      o.remedy.clear();
    }
    if (raw->process.error() == QProcess::FailedToStart) {
      o.status = Status::kFailed;
      o.reason =
          QStringLiteral("cannot start %1: %2").arg(options_.program, raw->process.errorString());
      o.remedy = QStringLiteral("crash");
    }
    o.stores = raw->stores;
    QFile::remove(raw->resultPath);
    --perServer_[raw->server];
    const Person& person = *raw->person;
    // Deleted at the next tick, not from inside its own process's signal.
    ended_.push_back(std::move(*found));
    running_.erase(found);
    End(person, o);
    QTimer::singleShot(0, &loop_, [this] { Tick(); });
  }

  const Plan& plan_;
  const RunOptions& options_;
  Journal* journal_;
  RunObserver& observer_;
  std::deque<const Person*> queue_;
  std::list<std::unique_ptr<Running>> running_;
  std::vector<std::unique_ptr<Running>> ended_;
  std::map<QString, int> perServer_;
  QEventLoop loop_;
  QString error_;
  bool stopping_ = false;
  bool relayed_ = false;
  int started_ = 0;
};

}  // namespace

bool RunPeople(const std::vector<const Person*>& people, const Plan& plan,
               const RunOptions& options, Journal* journal, RunObserver& observer, QString& error) {
  Run run(plan, options, journal, observer);
  return run.Go(people, error);
}

}  // namespace lumivex::migrate
