// utf8_bench: the export for other address books against the vCard 2.1 export, on one store.
//
//   utf8_bench [--runs N] [--work DIR] [STORE]
//
// Without STORE, a store of 100,000 contacts is made with lumivex-pstgen (--contacts 100000
// --seed 1). Each run exports the store twice as its own lumivex-cli process, in turn:
// --format vcard (vCard 2.1, one file) and --format vcard4 (vCard 4.0, one file), with the wall
// time and peak memory of each. The medians of N runs (default 3) and their ratio are printed
// last. Both read the same store through the same reader; the 4.0 export reads every field of
// each contact, the 2.1 export the 22 lines of its record.
#include "bench/Figures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using lumivex::bench::LoadText;
using lumivex::bench::Measured;
using lumivex::bench::Median;
using lumivex::bench::RunProgram;

qint64 SizeOf(const QString& path) {
  qint64 bytes = 0;
  for (const QFileInfo& f : QDir(path).entryInfoList(QDir::Files)) bytes += f.size();
  return QFileInfo(path).isDir() ? bytes : QFileInfo(path).size();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString bin = QCoreApplication::applicationDirPath();
  QStringList args = QCoreApplication::arguments().mid(1);
  int runs = 3;
  QString workRoot = QDir::tempPath();
  while (!args.isEmpty() && args[0].startsWith(u"-")) {
    if (args.size() >= 2 && args[0] == u"--runs") {
      runs = std::max(1, args[1].toInt());
    } else if (args.size() >= 2 && args[0] == u"--work") {
      workRoot = args[1];
    } else {
      std::printf(
          "Usage: utf8_bench [--runs N] [--work DIR] [STORE]\n"
          "Times the vCard 4.0 export (--format vcard4) against the vCard 2.1 export (--format\n"
          "vcard) of STORE, one file each, every export a lumivex-cli process of its own, N runs\n"
          "in turn (default 3); prints wall time and peak memory of each, their medians and the\n"
          "ratio. Without STORE a store of 100,000 contacts is made with lumivex-pstgen in DIR\n"
          "(default the temporary folder).\n");
      return args[0] == u"--help" || args[0] == u"-h" ? 0 : 2;
    }
    args = args.mid(2);
  }
  QTemporaryDir work(workRoot + "/utf8_bench-XXXXXX");
  if (!work.isValid()) {
    std::fprintf(stderr, "utf8_bench: cannot make a folder in %s\n", qPrintable(workRoot));
    return 1;
  }
  QString store = args.value(0);
  if (store.isEmpty()) {
    store = work.path() + QStringLiteral("/bench-100000.pst");
    std::printf("making a 100,000-contact store with lumivex-pstgen...\n");
    const Measured made = RunProgram({(bin + "/lumivex-pstgen").toStdString(), "--contacts",
                                      "100000", "--seed", "1", "--out", store.toStdString()});
    if (made.status != 0) {
      std::fprintf(stderr, "utf8_bench: lumivex-pstgen failed (status %d)\n", made.status);
      return 1;
    }
    std::printf("  made in %.2f s\n", made.seconds);
  }
  std::printf("%s (%.1f MB), %d runs, each export a process of its own:\n", qPrintable(store),
              QFileInfo(store).size() / 1e6, runs);

  const std::string cli = (bin + "/lumivex-cli").toStdString();
  struct Form {
    const char* name;
    const char* format;
    std::vector<Measured> runs;
    qint64 bytes = 0;
  };
  Form forms[] = {{"vCard 2.1, one file (--format vcard)", "vcard", {}},
                  {"vCard 4.0, one file (--format vcard4)", "vcard4", {}}};
  for (int run = 0; run < runs; ++run) {
    for (Form& form : forms) {
      const QString out =
          work.path() + QStringLiteral("/%1-%2").arg(QString::fromLatin1(form.format)).arg(run);
      const QString target = form.format == std::string("vcard") ? out : out + ".vcf";
      const Measured m = RunProgram({cli, "export", "--format", form.format, "--out",
                                     target.toStdString(), store.toStdString()});
      form.runs.push_back(m);
      form.bytes = SizeOf(target);
      std::printf(
          "  run %d  %-40s wall %5.2f s  cpu %5.2f s  peak %6.1f MB  exit %d  %7.1f MB written\n",
          run + 1, form.name, m.seconds, m.cpuSeconds, m.peakKiB / 1024.0, m.status,
          form.bytes / 1e6);
      QDir(out).removeRecursively();
      QFile::remove(out + ".vcf");
    }
  }
  std::printf("medians:\n");
  double medians[2] = {};
  double cpuMedians[2] = {};
  int i = 0;
  for (const Form& form : forms) {
    std::vector<double> seconds;
    std::vector<double> cpu;
    std::vector<long> peaks;
    for (const Measured& m : form.runs) {
      seconds.push_back(m.seconds);
      cpu.push_back(m.cpuSeconds);
      peaks.push_back(m.peakKiB);
    }
    medians[i] = Median(seconds);
    cpuMedians[i++] = Median(cpu);
    std::printf("  %-40s wall %5.2f s  cpu %5.2f s  peak %6.1f MB\n", form.name, Median(seconds),
                Median(cpu), Median(peaks) / 1024.0);
  }
  std::printf("vCard 4.0 / vCard 2.1: wall %.2f, cpu %.2f  [%s]\n", medians[1] / medians[0],
              cpuMedians[1] / cpuMedians[0], LoadText().c_str());
  return 0;
}
