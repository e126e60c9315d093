#include "common/TemporaryFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace lumivex::TemporaryFiles {

namespace {

// A fixed table the signal handler can walk without allocating or locking: a slot's path is
// written before it is marked in use, and marked free before it is written again.
constexpr int kSlots = 32;
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};
Slot table[kSlots];

void Handle(int signal) {
  RemoveAll();
  _exit(128 + signal);
}

}  // namespace

void RemoveAll() {
  for (Slot& slot : table)
    if (slot.used.load(std::memory_order_acquire)) unlink(slot.path);
}

void RemoveOnSignals() {
  struct sigaction action {};
  action.sa_handler = Handle;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored when the program was started (nohup, a background job) stays ignored.
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

void Register(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  if (name.size() >= PATH_MAX) return;
  for (Slot& slot : table) {
    bool expected = false;
    if (slot.used.load(std::memory_order_acquire)) continue;
    std::memcpy(slot.path, name.constData(), static_cast<size_t>(name.size()) + 1);
    if (slot.used.compare_exchange_strong(expected, true, std::memory_order_release)) return;
  }
}

void Unregister(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  for (Slot& slot : table)
    if (slot.used.load(std::memory_order_acquire) && name == slot.path) {
      slot.used.store(false, std::memory_order_release);
      return;
    }
}

QString WorkPath(const QString& target, qint64 pid) {
  const int slash = static_cast<int>(target.lastIndexOf(u'/'));
  return target.left(slash + 1) + u'.' + target.mid(slash + 1) + u'.' + QString::number(pid) +
         QStringLiteral(".part");
}

namespace {

// Whether process `pid` is known to be gone: one that runs under another user answers EPERM,
// and is taken for running.
bool Gone(qint64 pid) {
  if (pid <= 0 || pid == getpid() || pid > INT_MAX) return false;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

void RemoveStaleFolders(const QString& folder, const QString& prefix) {
  const QRegularExpression ours(u'^' + QRegularExpression::escape(prefix) +
                                QStringLiteral(R"((\d+)-)"));
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
    const QRegularExpressionMatch match = ours.match(name);
    if (match.hasMatch() && Gone(match.captured(1).toLongLong()))
      QDir(dir.filePath(name)).removeRecursively();
  }
}

void RemoveStaleTemporaries(const QString& folder) {
  static const QRegularExpression ours(
      QStringLiteral(R"(^\..+\.(\d+)\.part(\.records|\.tables|\.part)?$)"));
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    const QRegularExpressionMatch match = ours.match(name);
    if (!match.hasMatch()) continue;
    if (Gone(match.captured(1).toLongLong())) QFile::remove(dir.filePath(name));
  }
}

}  // namespace lumivex::TemporaryFiles
