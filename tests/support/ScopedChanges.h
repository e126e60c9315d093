// What a test changes in its own process for a while, taken back when the object goes: a limit
// on the size of the files it writes (a full disk as the writers meet it), an environment
// variable.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/resource.h>
#include <csignal>
#include <cstdlib>
#include <optional>

namespace lumivex::testing {

// Files written while it lives cannot grow past `bytes`: a write beyond fails (EFBIG) instead
// of stopping the process, SIGXFSZ being ignored meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    set_ = ::getrlimit(RLIMIT_FSIZE, &saved_) == 0;
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    set_ = set_ && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() { End(); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool IsSet() const { return set_; }
  // Takes the limit back before the object goes.
  void End() {
    if (ended_) return;
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
    ended_ = true;
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
  bool set_ = false;
  bool ended_ = false;
};

// An environment variable set while it lives; its earlier value (or its absence) comes back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const QString& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = QByteArray(old);
    ::setenv(name, value.toLocal8Bit().constData(), 1);
  }
  ~ScopedEnvironment() {
    if (previous_)
      ::setenv(name_, previous_->constData(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<QByteArray> previous_;
};

}  // namespace lumivex::testing
