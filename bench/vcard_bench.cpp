// vcard_bench: the export's speed and memory figures, each beside its yardstick and the load
// average, in one run.
//
//   vcard_bench [--runs N] [--busy] [--pin CPUS] [--quick] [--work DIR] [--stores DIR]
//
// Every program is a process of its own, timed whole (wall, processor time of every thread,
// peak memory); ours and its yardstick run in turn, N times each (default 7), and the medians
// of each and of the pair-by-pair ratios are printed:
//   - vCard 2.1, one file, 100,000 contacts: against readpst -q -D -cv, and against the floor of
//     reading the store and copying the output (cat + cp);
//   - one vCard 2.1 file per contact, 30,000 contacts: against readpst -q -S -cv;
//   - vCard 4.0 against vCard 2.1, 100,000 contacts (--no-merge), and with the entries of one
//     person merged, as by default;
//   - the peak memory of the address book and of vCard 4.0 as merged by default at 10,000 to
//     1,000,000 contacts, against vCard 2.1's (one run each: peak memory does not move with the
//     machine's load);
//   - scan of 1,000,000 contacts, against folders on the same store.
// --busy starts two processes that keep a processor busy each for the whole run (the busy
// machine); --pin 0 pins every run to processor 0 (as taskset -c 0). --quick leaves out the
// stores of 300,000 and 1,000,000 contacts. Stores are made with lumivex-pstgen (--seed 1) in
// --stores DIR (default: the temporary folder) and kept there for the next run; exports go to
// --work DIR (default: the temporary folder), a fresh folder each run, removed after it: give a
// tmpfs to time the programs rather than the disk.
#include "bench/Figures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace lumivex::bench;

struct Options {
  int runs = 7;
  bool busy = false;
  bool quick = false;
  QString work = QDir::tempPath();
  QString stores = QDir::tempPath();
};

class Bench {
 public:
  Bench(const Options& options, const QString& work)
      : options_(options),
        work_(work),
        bin_(QCoreApplication::applicationDirPath()),
        cli_((bin_ + "/lumivex-cli").toStdString()) {}

  // The store of `contacts` synthetic contacts, made when it is not there yet; empty on failure.
  std::string Store(int contacts) {
    const QString path = options_.stores + QStringLiteral("/lumivex-bench-%1.pst").arg(contacts);
    if (!QFileInfo::exists(path)) {
      std::printf("making a %d-contact store with lumivex-pstgen...\n", contacts);
      const Measured made =
          RunProgram({(bin_ + "/lumivex-pstgen").toStdString(), "--contacts",
                      std::to_string(contacts), "--seed", "1", "--out", path.toStdString()});
      if (made.status != 0) {
        std::fprintf(stderr, "vcard_bench: lumivex-pstgen failed (status %d)\n", made.status);
        QFile::remove(path);
        return {};
      }
    }
    return path.toStdString();
  }

  // A fresh, empty folder for one run's output; the last one is removed.
  std::string Fresh(const char* name) {
    QDir(work_ + "/" + name).removeRecursively();
    QDir().mkpath(work_ + "/" + name);
    return (work_ + "/" + name).toStdString();
  }

  std::vector<std::string> Export(const char* format, const std::string& store,
                                  const char* out = "ours") {
    const std::string dir = Fresh(out);
    const bool file = std::string(format) == "vcard4" || std::string(format) == "vcard3";
    return {cli_, "export", "--format", format, "--out", file ? dir + "/out.vcf" : dir, store};
  }

  std::vector<std::string> Readpst(const char* option, const std::string& store) {
    return {"readpst", "-q", option, "-cv", "-o", Fresh("theirs"), store};
  }

  // What lumivex-cli export --help says.
  QString Help() {
    QProcess help;
    help.start(QString::fromStdString(cli_), {"export", "--help"});
    help.waitForFinished();
    return QString::fromUtf8(help.readAllStandardOutput());
  }

  void Print(const char* what, const char* yardstick, const Paired& p) {
    char ratio[96];
    std::snprintf(ratio, sizeof ratio, "%.2f x wall, %.2f x processor%s", p.WallRatio(),
                  p.CpuRatio(), p.AllDone() ? "" : " (a run failed)");
    char ours[96];
    std::snprintf(ours, sizeof ours, "%.2f s wall, %.2f s processor, %.1f MiB", p.Wall(), p.Cpu(),
                  p.PeakKiB() / 1024.0);
    table_.push_back({what, yardstick, ours, ratio});
    std::printf("%s, against %s (%zu pairs)  [%s]\n", what, yardstick, p.ours.size(),
                LoadText().c_str());
    std::printf(
        "  ours  wall %6.3f s  cpu %6.3f s  peak %6.1f MiB%s\n"
        "  %-5s wall %6.3f s  cpu %6.3f s  peak %6.1f MiB\n"
        "  ratio wall %6.2f x  cpu %6.2f x\n",
        p.Wall(), p.Cpu(), p.PeakKiB() / 1024.0, p.AllDone() ? "" : "  (a run failed)", "them",
        p.YardstickWall(), p.YardstickCpu(), p.YardstickPeakKiB() / 1024.0, p.WallRatio(),
        p.CpuRatio());
    std::fflush(stdout);
  }

  void Run() {
    const int runs = options_.runs;
    if (const std::string store = Store(100000); !store.empty()) {
      Print(
          "vCard 2.1, one file, 100,000 contacts", "readpst -q -D -cv",
          RunPaired(
              runs, [&] { return Export("vcard", store); }, [&] { return Readpst("-D", store); }));
      // The floor: the store read once and the output copied once, with nothing in between.
      const RunOnce kept = Export("vcard", store, "kept");
      RunProgram(kept);
      const std::string out = QDir(QString::fromStdString(kept[5]))
                                  .entryInfoList({QStringLiteral("*.vcf")}, QDir::Files)
                                  .value(0)
                                  .filePath()
                                  .toStdString();
      Print("vCard 2.1, one file, 100,000 contacts", "cat STORE + cp OUTPUT",
            RunPaired(
                runs, [&] { return Export("vcard", store); },
                [&] {
                  return std::vector<std::string>{"sh",
                                                  "-c",
                                                  "cat \"$1\" > /dev/null && cp \"$2\" \"$3\"",
                                                  "floor",
                                                  store,
                                                  out,
                                                  Fresh("theirs") + "/copy.vcf"};
                }));
      // The entries of one person are merged by default where the program can; --no-merge
      // times the writer against the vCard 2.1 export on the same entries.
      const bool merges = Help().contains("--no-merge");
      auto vcard4 = [&](bool merge) {
        std::vector<std::string> args = Export("vcard4", store);
        if (!merge && merges) args.insert(args.begin() + 4, "--no-merge");
        return args;
      };
      Print("vCard 4.0 against vCard 2.1, one file, 100,000 contacts", "lumivex-cli vcard",
            RunPaired(
                runs, [&] { return vcard4(false); },
                [&] { return Export("vcard", store, "theirs"); }));
      if (merges)
        Print("vCard 4.0, entries of one person merged (the default)", "lumivex-cli vcard",
              RunPaired(
                  runs, [&] { return vcard4(true); },
                  [&] { return Export("vcard", store, "theirs"); }));
    }
    if (const std::string store = Store(30000); !store.empty()) {
      Print(
          "vCard 2.1, one file per contact, 30,000 contacts", "readpst -q -S -cv",
          RunPaired(
              runs, [&] { return Export("vcards", store); }, [&] { return Readpst("-S", store); }));
    }
    std::printf("address book, vCard 4.0 merged: peak memory, one run each  [%s]\n",
                LoadText().c_str());
    std::vector<int> sizes = {10000, 100000};
    if (!options_.quick) sizes.insert(sizes.end(), {300000, 1000000});
    for (const int contacts : sizes) {
      const std::string store = Store(contacts);
      if (store.empty()) continue;
      const Paired p = RunPaired(
          1, [&] { return Export("wab", store); },
          [&] { return Export("vcard", store, "theirs"); });
      const Paired merged = RunPaired(
          1, [&] { return Export("vcard4", store); },
          [&] { return Export("vcard", store, "theirs"); });
      char count[48];
      std::snprintf(count, sizeof count, "%d", contacts);
      Grouped(count, "address book", p.PeakKiB(), p.Wall());
      Grouped(count, "vCard 4.0, merged", merged.PeakKiB(), merged.Wall());
      if (!options_.quick || contacts <= 100000) {
        const Paired each = RunPaired(
            1, [&] { return Export("vcards", store); },
            [&] { return Export("vcard", store, "theirs"); });
        Grouped(count, "vCard 2.1, one file per contact", each.PeakKiB(), each.Wall());
      }
      std::printf(
          "  %7d contacts  wab %6.1f MiB (%5.2f s)  vCard 4.0 merged %6.1f MiB (%5.2f s)  vCard "
          "2.1 "
          "%6.1f MiB  [%s]\n",
          contacts, p.PeakKiB() / 1024.0, p.Wall(), merged.PeakKiB() / 1024.0, merged.Wall(),
          p.YardstickPeakKiB() / 1024.0, LoadText().c_str());
      std::fflush(stdout);
    }
    const int scanned = options_.quick ? 100000 : 1000000;
    if (const std::string store = Store(scanned); !store.empty()) {
      const std::string what = "scan, " + std::to_string(scanned) + " contacts";
      Print(what.c_str(), "lumivex-cli folders",
            RunPaired(
                runs,
                [&] {
                  return std::vector<std::string>{cli_, "scan", store};
                },
                [&] {
                  return std::vector<std::string>{cli_, "folders", store};
                }));
    }
    QDir(work_ + "/ours").removeRecursively();
    QDir(work_ + "/theirs").removeRecursively();
    QDir(work_ + "/kept").removeRecursively();
    PrintTable();
  }

  // Every figure of the run once more, as the table the README holds.
  void PrintTable() const {
    std::printf("\n| figure | against | ours (median) | ratio (median) |\n|---|---|---|---|\n");
    for (const Row& row : table_)
      std::printf("| %s | %s | %s | %s |\n", row.what.c_str(), row.yardstick.c_str(),
                  row.ours.c_str(), row.ratio.c_str());
    std::printf("\n[%s]\n", LoadText().c_str());
  }

 private:
  using RunOnce = std::vector<std::string>;
  struct Row {
    std::string what, yardstick, ours, ratio;
  };

  // A peak-memory figure of one run: its row in the table.
  void Grouped(const char* contacts, const char* form, long peakKiB, double wall) {
    char ours[64];
    std::snprintf(ours, sizeof ours, "%.1f MiB peak (%.2f s wall)", peakKiB / 1024.0, wall);
    table_.push_back({std::string(form) + ", " + contacts + " contacts: memory", "-", ours, "-"});
  }

  std::vector<Row> table_;
  const Options& options_;
  QString work_;
  QString bin_;
  std::string cli_;
};

int Usage(int status) {
  std::printf(
      "Usage: vcard_bench [--runs N] [--busy] [--pin CPUS] [--quick] [--work DIR] [--stores DIR]\n"
      "Prints the export's figures beside their yardsticks and the load average: vCard 2.1\n"
      "(100,000 contacts) against readpst -q -D -cv and against cat + cp, one file per contact\n"
      "(30,000) against readpst -q -S -cv, vCard 4.0 against 2.1, the address book's peak\n"
      "memory up to 1,000,000 contacts, and scan of 1,000,000 contacts against folders. Each\n"
      "figure is the median of N runs (default 7) taken in turn with its yardstick. At the end\n"
      "every figure again, as the Markdown table the README holds.\n"
      "  --busy        two other processes keep a processor busy each during the whole run\n"
      "  --pin CPUS    pin every run to these processors (\"0\", \"0,1\"), as taskset -c does\n"
      "  --quick       leave out the stores of 300,000 and 1,000,000 contacts\n"
      "  --work DIR    where the exports go (default: the temporary folder); a tmpfs times the\n"
      "                programs rather than the disk\n"
      "  --stores DIR  where the stores are made and kept (default: the temporary folder)\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments().mid(1);
  Options options;
  while (!args.isEmpty()) {
    const QString option = args.takeFirst();
    const QString value = args.isEmpty() ? QString() : args.first();
    if (option == u"--busy") {
      options.busy = true;
    } else if (option == u"--quick") {
      options.quick = true;
    } else if (option == u"--runs" && value.toInt() > 0) {
      options.runs = args.takeFirst().toInt();
    } else if (option == u"--work" && !value.isEmpty()) {
      options.work = args.takeFirst();
    } else if (option == u"--stores" && !value.isEmpty()) {
      options.stores = args.takeFirst();
    } else if (option == u"--pin" && !value.isEmpty()) {
      for (const QString& cpu : args.takeFirst().split(u','))
        PinnedProcessors().push_back(cpu.toInt());
    } else {
      return Usage(option == u"--help" || option == u"-h" ? 0 : 2);
    }
  }
  QTemporaryDir work(options.work + "/vcard_bench-XXXXXX");
  if (!work.isValid() || !QDir().mkpath(options.stores)) {
    std::fprintf(stderr, "vcard_bench: cannot make a folder in %s\n", qPrintable(options.work));
    return 1;
  }
  std::string pinned;
  for (const int cpu : PinnedProcessors())
    pinned += (pinned.empty() ? "" : ",") + std::to_string(cpu);
  std::printf("condition: %s%s%s; %s\n",
              options.busy ? "two busy processes started for the run" : "no busy process started",
              pinned.empty() ? "" : ", every run pinned to processor ", pinned.c_str(),
              LoadText().c_str());
  BusyProcesses busy(options.busy ? 2 : 0);
  Bench(options, work.path()).Run();
  return 0;
}
