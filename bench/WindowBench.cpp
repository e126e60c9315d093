// The conversion window's progress during a real export: how often the user sees it move and
// what showing it costs. Runs "Start Conversion" in the conversion window (offscreen unless a
// display is set) on a store's default contacts folder, as the desktop does, and reports:
//   - the run's wall and processor time, against the processor time of the same run through a
//     view that shows nothing (run before and after it, in the same process): the difference
//     is what showing progress costs;
//   - how many times the label and the bar were painted, paints per second, and the longest
//     time between two paints (the user sees no movement for that long).
//
//   window_bench STORE [vcard|vcards|xls|wab] [OUT_DIR]
#include "app/Dialogs.h"
#include "bench/PeakMemory.h"
#include "bench/QuietView.h"
#include "common/Module1.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace lumivex;

namespace {

// Processor time of this thread: on a busy machine wall time would also count the time the
// process waits for a processor, wherever it happens to be.
qint64 CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class Answers : public Dialogs {
 public:
  explicit Answers(QString folder) : folder_(std::move(folder)) {}
  void Message(QWidget*, const QString& text, const QString&, int) override {
    std::printf("message: %s\n", qPrintable(text));
  }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString BrowseFolder(QWidget*, const QString&) override { return folder_; }

 private:
  QString folder_;
};

class NoPicker : public FolderPicker {
 public:
  std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>&) override {
    return nullptr;
  }
};

// Notes the moment of every paint of the label.
class PaintClock : public QObject {
 public:
  explicit PaintClock(const QElapsedTimer& run) : run_(run) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint) moments.push_back(run_.nsecsElapsed());
    return QObject::eventFilter(object, event);
  }
  std::vector<qint64> moments;

 private:
  const QElapsedTimer& run_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2 || argv[1][0] == '-') {
    const bool help =
        argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fprintf(help ? stdout : stderr,
                 "usage: window_bench STORE [vcard|vcards|xls|wab] [OUT_DIR]\n"
                 "Runs Start Conversion in the conversion window on STORE's default contacts\n"
                 "folder and reports how often progress was painted and what showing it cost.\n");
    return help ? 0 : 2;
  }
  const QString store = QString::fromLocal8Bit(argv[1]);
  const QString form = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("vcard");
  QTemporaryDir temporary;
  const QString out = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path();
  QDir().mkpath(out);

  {
    auto opened = OpenStoreFile(store);
    Module1::FilePath = store;
    Module1::PickedFolderPath = opened->DefaultContactsFolder()->Path();
  }
  SetDialogs(std::make_shared<Answers>(out));
  SetMailProvider(MakeStoreMailProvider(std::make_shared<NoPicker>()));

  SourceOptions source;
  source.selectStore = true;
  OutputOptions output;
  output.vCardComplete = form == u"vcard";
  output.vCardEach = form == u"vcards";
  output.excel = form == u"xls";
  output.wab = form == u"wab";
  QDir().mkpath(out + QStringLiteral("/plain"));
  Module1::SetFolderBrowser(
      [&out](int32_t, const QString&) { return out + QStringLiteral("/plain"); });
  bench::QuietView nullView;
  qint64 cpuStart = CpuNs();
  RunConversion(source, output, nullView);
  const double plainCpuBefore = (CpuNs() - cpuStart) / 1e9;

  auto* window = new FrmConversion(
      nullptr, [source] { return source; }, [] {});
  window->show();
  QApplication::processEvents();
  QElapsedTimer run;
  PaintClock clock(run);
  window->LblSaveProgress->installEventFilter(&clock);
  QRadioButton* option = form == u"vcards" ? window->OptvCardEach
                         : form == u"xls"  ? window->OptExcel
                         : form == u"wab"  ? window->OptWAB
                                           : window->OptvCardComplete;
  option->setChecked(true);
  run.start();
  cpuStart = CpuNs();
  window->CmdConversion_Click();
  const double seconds = run.nsecsElapsed() / 1e9;
  const double cpuSeconds = (CpuNs() - cpuStart) / 1e9;
  // The plain run again, after the window's: the mean of the two is fair to both orders.
  QDir(out + QStringLiteral("/plain")).removeRecursively();
  QDir().mkpath(out + QStringLiteral("/plain"));
  Module1::SetFolderBrowser(
      [&out](int32_t, const QString&) { return out + QStringLiteral("/plain"); });
  cpuStart = CpuNs();
  RunConversion(source, output, nullView);
  const double plainCpu = (plainCpuBefore + (CpuNs() - cpuStart) / 1e9) / 2;

  qint64 longest = 0;
  qint64 last = 0;
  for (qint64 moment : clock.moments) {
    longest = std::max(longest, moment - last);
    last = moment;
  }
  std::printf("%s export of %d contacts from the window: %.2f s (processor %.2f s)\n",
              qPrintable(form), window->LastRun().contacts, seconds, cpuSeconds);
  std::printf(
      "the same run with a view that shows nothing: processor %.2f s; the window's "
      "progress costs %.1f %% of its run\n",
      plainCpu, cpuSeconds > 0 ? 100.0 * (cpuSeconds - plainCpu) / cpuSeconds : 0.0);
  std::printf("label painted %zu times, %.1f a second, longest still %.0f ms\n",
              clock.moments.size(), seconds > 0 ? clock.moments.size() / seconds : 0.0,
              longest / 1e6);
  std::printf("peak memory %ld MiB\n", bench::PeakKiB() / 1024);
  const bool completed = window->LastRun().status == RunResult::kCompleted;
  delete window;
  SetDialogs(nullptr);
  return completed ? 0 : 1;
}
