// What the benchmarks need to quote a figure fairly on a shared machine: the load average
// beside it, runs paired with their yardstick in turn (A B A B ...) so that the machine's drift
// hits both, medians, and the two conditions a figure is asked for beside the quiet one: two
// other busy processes, and every run pinned to one processor.
#pragma once

#include "bench/RunProgram.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace lumivex::bench {

// The machine's load average over the last 1, 5 and 15 minutes, as "load 1.23 1.10 0.98".
inline std::string LoadText() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "load unknown";
  char text[64];
  std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

// Processes that each keep a processor busy (a loop that never sleeps) while the object lives:
// the busy machine. They are killed and reaped when it goes.
class BusyProcesses {
 public:
  explicit BusyProcesses(int count) {
    for (int i = 0; i < count; ++i) {
      std::fflush(stdout);
      const pid_t pid = fork();
      if (pid == 0) {
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyProcesses() {
    for (const pid_t pid : pids_) kill(pid, SIGKILL);
    for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  BusyProcesses(const BusyProcesses&) = delete;
  BusyProcesses& operator=(const BusyProcesses&) = delete;

 private:
  std::vector<pid_t> pids_;
};

template <typename T>
T Median(std::vector<T> values) {
  if (values.empty()) return T();
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// `runs` runs of `ours` and of `yardstick` in turn, each after its `prepare` (a fresh output
// folder); the medians of each and of the pair-by-pair ratios.
struct Paired {
  std::vector<Measured> ours, yardstick;
  double Wall() const { return Median(Pick(ours, &Measured::seconds)); }
  double Cpu() const { return Median(Pick(ours, &Measured::cpuSeconds)); }
  double YardstickWall() const { return Median(Pick(yardstick, &Measured::seconds)); }
  double YardstickCpu() const { return Median(Pick(yardstick, &Measured::cpuSeconds)); }
  double WallRatio() const { return MedianRatio(&Measured::seconds); }
  double CpuRatio() const { return MedianRatio(&Measured::cpuSeconds); }
  long PeakKiB() const { return Median(Pick(ours, &Measured::peakKiB)); }
  long YardstickPeakKiB() const { return Median(Pick(yardstick, &Measured::peakKiB)); }
  // Whether every run of ours ended with status 0.
  bool AllDone() const {
    return std::all_of(ours.begin(), ours.end(), [](const Measured& m) { return m.status == 0; });
  }

 private:
  template <typename T>
  static std::vector<T> Pick(const std::vector<Measured>& runs, T Measured::*field) {
    std::vector<T> values;
    for (const Measured& m : runs) values.push_back(m.*field);
    return values;
  }
  double MedianRatio(double Measured::*field) const {
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < yardstick.size(); ++i)
      if (yardstick[i].*field > 0) ratios.push_back(ours[i].*field / (yardstick[i].*field));
    return Median(ratios);
  }
};

inline Paired RunPaired(int runs, const std::function<std::vector<std::string>()>& ours,
                        const std::function<std::vector<std::string>()>& yardstick) {
  Paired paired;
  for (int run = 0; run < runs; ++run) {
    paired.ours.push_back(RunProgram(ours()));
    paired.yardstick.push_back(RunProgram(yardstick()));
  }
  return paired;
}

}  // namespace lumivex::bench
