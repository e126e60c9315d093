#include "migrate/Journal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumivex::migrate {

void Counts::Add(const Counts& o) {
  entries += o.entries;
  contacts += o.contacts;
  added += o.added;
  updated += o.updated;
  unchanged += o.unchanged;
  conflicts += o.conflicts;
  failed += o.failed;
  unreadable += o.unreadable;
}

QJsonObject Counts::ToJson() const {
  return {{"entries", entries}, {"contacts", contacts},    {"added", added},
          {"updated", updated}, {"unchanged", unchanged},  {"conflicts", conflicts},
          {"failed", failed},   {"unreadable", unreadable}};
}

Counts Counts::FromJson(const QJsonObject& o) {
  Counts c;
  c.entries = o["entries"].toInt();
  c.contacts = o["contacts"].toInt();
  c.added = o["added"].toInt();
  c.updated = o["updated"].toInt();
  c.unchanged = o["unchanged"].toInt();
  c.conflicts = o["conflicts"].toInt();
  c.failed = o["failed"].toInt();
  c.unreadable = o["unreadable"].toInt();
  return c;
}

bool Journal::Open(const QString& path, QString& error) {
  path_ = path;
  const bool existed = QFileInfo::exists(path);
  fd_ =
      ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error = QStringLiteral("cannot write the journal %1: %2")
                .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error = QStringLiteral(
                "%1 is in use: another migration of this plan (or of this slice of "
                "it) is running; wait for it to end")
                .arg(path);
    return false;
  }
  if (!existed) {  // the new name made durable too
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  return true;
}

bool Journal::LockPlan(const QString& planPath, int slices, QString& error) {
  const bool wholePlan = slices <= 1;
  planFd_ = ::open(QFile::encodeName(planPath).constData(), O_RDONLY | O_CLOEXEC);
  if (planFd_ < 0) {
    error = QStringLiteral("cannot read the plan %1: %2")
                .arg(planPath, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  if (::flock(planFd_, (wholePlan ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
    return wholePlan || LockSliceCount(planPath, slices, error);
  error = wholePlan ? QStringLiteral(
                          "another migration of the plan %1 (of all of it, or of slices of it) "
                          "is running; wait for it to end")
                          .arg(planPath)
                    : QStringLiteral(
                          "a migration of the whole plan %1 is running; wait for it to end "
                          "before running slices of it")
                          .arg(planPath);
  return false;
}

bool Journal::LockSliceCount(const QString& planPath, int slices, QString& error) {
  // Each run of N slices read-locks byte N of a file beside the plan; a lock on any other byte
  // is a run of slices of another count, which would send for some of the same people at once.
  const QString path = planPath + QStringLiteral(".slices.lock");
  slicesFd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (slicesFd_ < 0) {
    error = QStringLiteral("cannot make %1: %2")
                .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  struct flock mine = {};
  mine.l_type = F_RDLCK;
  mine.l_whence = SEEK_SET;
  mine.l_start = slices;
  mine.l_len = 1;
  bool other = ::fcntl(slicesFd_, F_SETLK, &mine) != 0;
  for (const auto& [from, length] : {std::pair<off_t, off_t>{0, slices}, {slices + 1, 0}}) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = from;
    probe.l_len = length;
    if (!other && ::fcntl(slicesFd_, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
      other = true;
      error = QStringLiteral(
                  "slices of the plan %1 cut %2 ways are being run, which share people with "
                  "these cut %3 ways; wait for them to end, or run the slices of one count")
                  .arg(planPath)
                  .arg(probe.l_start)
                  .arg(slices);
    }
  }
  if (other && error.isEmpty())
    error = QStringLiteral(
                "slices of another count of the plan %1 are being run; run the slices "
                "of one count at a time")
                .arg(planPath);
  return !other;
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
  if (planFd_ >= 0) ::close(planFd_);
  if (slicesFd_ >= 0) ::close(slicesFd_);
}

bool Journal::Append(const QString& id, const QString& event, QJsonObject record) {
  record.insert("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
  record.insert("id", id);
  record.insert("event", event);
  if (!shard_.isEmpty()) record.insert("shard", shard_);
  const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  qsizetype written = 0;
  while (written < line.size()) {
    const ssize_t n =
        ::write(fd_, line.constData() + written, static_cast<size_t>(line.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += n;
  }
  return ::fsync(fd_) == 0;
}

QString JournalPath(const QString& planPath, int shardIndex, int shardCount) {
  if (shardCount <= 1) return planPath + QStringLiteral(".journal");
  return planPath + QStringLiteral(".%1-of-%2.journal").arg(shardIndex).arg(shardCount);
}

QStringList JournalsOf(const QString& planPath) {
  const QFileInfo plan(planPath);
  // Matched as text, not as a wildcard: a plan's name may hold [, ] or *, and a slice's journal
  // is the plan's name, ".I-of-N", ".journal" and nothing else.
  const QRegularExpression journal(QStringLiteral("^%1(\\.\\d+-of-\\d+)?\\.journal$")
                                       .arg(QRegularExpression::escape(plan.fileName())));
  QStringList paths;
  for (const QString& name : QDir(plan.absolutePath()).entryList(QDir::Files, QDir::Name))
    if (journal.match(name).hasMatch()) paths << plan.absolutePath() + u'/' + name;
  return paths;
}

std::map<QString, PersonState> ReadJournals(const QStringList& paths) {
  struct Event {
    QString time;
    int file;
    int line;
    QJsonObject record;
  };
  std::vector<Event> events;
  for (int f = 0; f < paths.size(); ++f) {
    QFile file(paths[f]);
    if (!file.open(QIODevice::ReadOnly)) continue;
    int line = 0;
    while (!file.atEnd()) {
      const QByteArray bytes = file.readLine();
      // A line cut by a power cut is not whole JSON: it is left out, as if never written.
      const QJsonObject record = QJsonDocument::fromJson(bytes).object();
      if (record.isEmpty()) continue;
      events.push_back({record["time"].toString(), f, line++, record});
    }
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.time != b.time ? a.time < b.time
                            : std::pair(a.file, a.line) < std::pair(b.file, b.line);
  });
  std::map<QString, PersonState> states;
  for (const Event& e : events) {
    PersonState& s = states[e.record["id"].toString()];
    const QString event = e.record["event"].toString();
    s.when = e.time;
    s.shard = e.record["shard"].toString();
    if (event == u"started") {
      s = PersonState{Status::kPending, true,  {}, {}, {}, e.time, s.shard, {},
                      s.attempts + 1,   s.made};
    } else if (event == u"stores") {
      s.stores.clear();
      for (const QJsonValue store : e.record["stores"].toArray()) s.stores << store.toString();
    }
    if (event == u"finished") {
      s.status = Status::kDone;
      s.interrupted = false;
      s.counts = Counts::FromJson(e.record);
      s.made += s.counts.added;
      s.reason.clear();
      s.remedy = e.record["remedy"].toString();
    } else if (event == u"failed") {
      s.status = Status::kFailed;
      s.interrupted = false;
      s.counts = Counts::FromJson(e.record);
      s.made += s.counts.added;
      s.reason = e.record["reason"].toString();
      s.remedy = e.record["remedy"].toString();
    } else if (event == u"stopped") {
      s.status = Status::kPending;
      s.interrupted = true;
      s.counts = Counts::FromJson(e.record);
      s.made += s.counts.added;
    }
  }
  return states;
}

}  // namespace lumivex::migrate
