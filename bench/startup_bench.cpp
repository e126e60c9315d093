// How long the command line takes to start: `lumivex-cli --version` and `lumivex-cli --help`
// against startup_reference, a program linking QtCore alone that starts the same way, run in
// turn (A B A B ...) so that the machine's drift hits both. Prints the medians of each, of the
// pair-by-pair differences and of the ratios, wall and processor time, with the load average.
// What the command line loads beyond QtCore (Qt Network, libpff, our own code) is the
// difference; the libraries behind Evolution's address books and the keyring are loaded only
// when used, never at start.
//
//   startup_bench [RUNS]   (default 200; lumivex-cli and startup_reference beside it)
#include "bench/Figures.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace lumivex::bench;

namespace {

double MedianDifference(const Paired& p, double Measured::*field) {
  std::vector<double> differences;
  for (size_t i = 0; i < p.ours.size() && i < p.yardstick.size(); ++i)
    differences.push_back(p.ours[i].*field - p.yardstick[i].*field);
  return Median(differences);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::atoi(argv[1]) <= 0)) {
    std::printf(
        "usage: startup_bench [RUNS]\n"
        "Times lumivex-cli --version and --help against a program linking QtCore alone,\n"
        "RUNS times each in turn (default 200): medians, pair-by-pair differences and ratios.\n");
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const QDir here(QCoreApplication::applicationDirPath());
  const std::string cli = here.filePath(QStringLiteral("lumivex-cli")).toStdString();
  const std::string reference = here.filePath(QStringLiteral("startup_reference")).toStdString();
  std::printf("%d runs each, in turn with the QtCore-only program; %s\n", runs, LoadText().c_str());
  bool within = true;
  for (const char* argument : {"--version", "--help"}) {
    RunProgram({cli, argument});  // the libraries read once into the page cache
    RunProgram({reference});
    const Paired p = RunPaired(
        runs,
        [&] {
          return std::vector<std::string>{cli, argument};
        },
        [&] { return std::vector<std::string>{reference}; });
    const double difference = MedianDifference(p, &Measured::seconds) * 1000;
    const double cpuDifference = MedianDifference(p, &Measured::cpuSeconds) * 1000;
    std::printf(
        "lumivex-cli %-9s wall %.2f ms against %.2f ms: %+.2f ms, x %.2f; processor %.2f ms "
        "against %.2f ms: %+.2f ms, x %.2f%s\n",
        argument, p.Wall() * 1000, p.YardstickWall() * 1000, difference, p.WallRatio(),
        p.Cpu() * 1000, p.YardstickCpu() * 1000, cpuDifference, p.CpuRatio(),
        p.AllDone() ? "" : " (some runs FAILED)");
    // Judged on processor time: on a busy machine a run's wall time also holds its waits for a
    // processor, which grow with the load rather than with what the program does.
    within = within && cpuDifference <= 3.0 && p.AllDone();
  }
  std::printf("%s\n", within ? "processor time within 3 ms of the QtCore-only program"
                             : "processor time MORE than 3 ms over the QtCore-only program");
  return within ? 0 : 1;
}
