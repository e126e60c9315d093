// The scan as the user runs it, on a large store: writes a store of N contacts (30,000 unless
// given), then scans it from the main window (offscreen unless a display is set), as the
// desktop does: the real backend, the folder picker answered at once, one yield per entry.
// The store is opened once beforehand, so that the scan's figure is the window's own cost; the
// opening and a bare walk over the same entries are timed beside it.
//
//   scan_bench [N] [FILE]   (FILE: scan this store's Contacts folder instead of writing one)
#include "app/Dialogs.h"
#include "app/FrmMain.h"
#include "bench/PeakMemory.h"
#include "bench/Usage.h"
#include "common/Module1.h"
#include "source/StoreBackend.h"
#include "tools/pstwriter/Messaging.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace pst = lumivex::pst;

void WriteStore(const std::string& path, int count) {
  pst::StoreWriter writer(path, {});
  const auto folder = writer.Folder(pst::DefaultFolder::kContacts);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    pst::Message m;
    m.message_class = "IPM.Contact";
    m.properties = {
        {pst::PropertyKey::Tagged(0x3001), 0x001F, pst::value::Utf16("Contact " + n)},
        {pst::PropertyKey::Tagged(0x3A06), 0x001F, pst::value::Utf16("Contact")},
        {pst::PropertyKey::Tagged(0x3A11), 0x001F, pst::value::Utf16("Number " + n)},
    };
    writer.AddMessage(folder, m);
  }
  writer.Finish();
}

// Chooses the first contacts folder of the attached store, as a user clicking OK at once would.
class FirstContactsFolder : public lumivex::FolderPicker {
 public:
  std::shared_ptr<lumivex::Folder> Pick(
      const std::vector<std::shared_ptr<lumivex::Store>>& stores) override {
    return stores.empty() ? nullptr : stores.back()->DefaultContactsFolder();
  }
};

class Answers : public lumivex::Dialogs {
 public:
  explicit Answers(QString file) : file_(std::move(file)) {}
  void Message(QWidget*, const QString& text, const QString&, int) override {
    std::printf("message: %s\n", qPrintable(text));
  }
  QString OpenFile(QWidget*, const QString&) override { return file_; }
  QString BrowseFolder(QWidget*, const QString&) override { return {}; }

 private:
  QString file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(argc, argv, "scan_bench [N] [FILE]")) return 0;
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 30000;
  std::string path = argc > 2 ? argv[2] : "";
  QElapsedTimer timer;
  if (path.empty()) {
    path = QDir::temp().filePath(QStringLiteral("lumivex-scan-bench.pst")).toStdString();
    timer.start();
    WriteStore(path, count);
    std::printf("wrote %d contacts in %.2f s\n", count, timer.elapsed() / 1000.0);
  }
  const QString file = QString::fromStdString(path);

  // The store opened first on its own: libpff reads the whole node index of the file, which is
  // most of a scan's time on a large file. The backend keeps the file open while this store
  // lives, so the scan below shows what the window itself costs.
  timer.start();
  auto store = lumivex::OpenStoreFile(file);
  auto items = store->DefaultContactsFolder()->GetItems();
  const int entries = items->Count();
  const double openSeconds = timer.elapsed() / 1000.0;
  lumivex::SetDialogs(std::make_shared<Answers>(file));
  lumivex::SetMailProvider(lumivex::MakeStoreMailProvider(std::make_shared<FirstContactsFolder>()));
  lumivex::FrmMain window;
  window.show();
  window.OptSelectPST->click();
  window.CmdBrowse->click();

  timer.start();
  window.CmdEnumerateNotes->click();
  const double scanSeconds = timer.elapsed() / 1000.0;
  const int scanned = window.LastScan().contacts;

  timer.start();
  for (int i = 0; i < entries; ++i) items->Item(i);
  const double walkSeconds = timer.elapsed() / 1000.0;
  // The count the scan asks for afresh at each entry.
  timer.start();
  long total = 0;
  for (int i = 0; i < entries; ++i) total += items->Count();
  const double countSeconds = timer.elapsed() / 1000.0;

  std::printf("scan of %d entries from the main window (store open): %.2f s, %.1f us per entry\n",
              scanned, scanSeconds, scanned ? scanSeconds * 1e6 / scanned : 0.0);
  std::printf("opening the store and its contacts folder first: %.2f s\n", openSeconds);
  std::printf("bare walk opening each entry: %.2f s, %.1f us per entry\n", walkSeconds,
              entries ? walkSeconds * 1e6 / entries : 0.0);
  std::printf("the folder's count asked %d times: %.2f s, %.1f us each (%ld)\n", entries,
              countSeconds, entries ? countSeconds * 1e6 / entries : 0.0,
              total / (entries ? entries : 1));
  std::printf("peak memory %ld MiB\n", lumivex::bench::PeakKiB() / 1024);
  if (argc <= 2) std::remove(path.c_str());
  lumivex::SetDialogs(nullptr);
  return scanned > 0 ? 0 : 1;
}
