// The benchmarks' one way of timing another program: run as a process of its own, its output
// thrown away, with its wall time, processor time (user and system, every thread), peak memory
// and exit status. Lumivex reads a store on two threads: its wall time is what a user waits,
// its processor time what the machine spends.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace lumivex::bench {

struct Measured {
  double seconds = 0;     // wall
  double cpuSeconds = 0;  // user + system
  long peakKiB = 0;
  int status = -1;  // the exit status; -1 when it did not exit normally
};

// Writes `bytes` as the whole of the file at `path`: a plan, a password, a server's settings.
inline bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The processors every program run here is pinned to, as taskset -c does; empty: not pinned.
inline std::vector<int>& PinnedProcessors() {
  static std::vector<int> processors;
  return processors;
}

// A program started and not yet waited for: several can run at once.
struct Running {
  pid_t pid = -1;
  QElapsedTimer timer;
};

// Starts `argv` pinned to `processors` (empty: PinnedProcessors()).
inline Running StartProgram(const std::vector<std::string>& argv,
                            const std::vector<int>& processors = {}) {
  Running r;
  r.timer.start();
  std::fflush(stdout);
  const std::vector<int>& pin = processors.empty() ? PinnedProcessors() : processors;
  r.pid = fork();
  if (r.pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    if (!pin.empty()) {
      cpu_set_t set;
      CPU_ZERO(&set);
      for (const int processor : pin) CPU_SET(processor, &set);
      sched_setaffinity(0, sizeof set, &set);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return r;
}

// What a program took, from the status and usage wait4 gave at its end.
inline Measured Took(const Running& r, int status, const rusage& usage) {
  Measured m;
  m.seconds = r.timer.nsecsElapsed() / 1e9;
  m.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
  m.peakKiB = usage.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

// Waits for a started program and gives what it took.
inline Measured FinishProgram(const Running& r) {
  int status = 0;
  rusage usage{};
  wait4(r.pid, &status, 0, &usage);
  return Took(r, status, usage);
}

// Waits for several programs running at once, each timed when it ends, whatever the order.
// `ended(i)` is called as program i ends, before the others do.
template <typename Ended>
std::vector<Measured> FinishPrograms(const std::vector<Running>& running, Ended ended) {
  std::vector<Measured> out(running.size());
  std::vector<bool> done(running.size(), false);
  for (std::size_t left = running.size(); left > 0;) {
    for (std::size_t i = 0; i < running.size(); ++i) {
      int status = 0;
      rusage usage{};
      if (done[i] || wait4(running[i].pid, &status, WNOHANG, &usage) != running[i].pid) continue;
      out[i] = Took(running[i], status, usage);
      done[i] = true;
      --left;
      ended(i);
    }
    if (left > 0) usleep(5000);
  }
  return out;
}

inline Measured RunProgram(const std::vector<std::string>& argv) {
  return FinishProgram(StartProgram(argv));
}

}  // namespace lumivex::bench
