// Times the worksheet export of a large contacts folder and reports its peak memory.
//
//   xls_bench [--contacts N] [--out DIR] [--pst FILE]
//
// The contacts are made as they are read (every property filled, with accented letters), so that
// the figures are those of the export and ExcelFile, not of a store reader.
// With --pst, the default contacts folder of that store file is exported as well, through the
// store-file backend (lumivex-pstgen --contacts 30000 --seed 1 --out FILE writes such a file).
// Prints one line per measurement: the time of the whole export, the time of the cell writes
// alone, the size of the sheet and the process's peak resident memory.
#include "bench/PeakMemory.h"
#include "bench/Usage.h"
#include "common/CodePage.h"
#include "convert/ConversionRun.h"
#include "source/StoreBackend.h"
#include "xls/ExcelFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace lumivex;

namespace {

// Every property the export asks for has a value: its own name with accented letters and the
// contact's number, the body a long note. Values are made as they are read, so nothing but the
// export and ExcelFile holds memory.
class MemoryEntry : public ContactEntry {
 public:
  explicit MemoryEntry(int n) : n_(n) {}
  bool Read(std::string_view name, QString& value) const override {
    const QString property = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    value = property == u"Body"
                ? QStringLiteral("Met at the trade fair in Köln; prefers e-mail. Notes: ") +
                      QString(120, u'x') + QString::number(n_)
                : QStringLiteral("%1 Müller-Lefèvre %2").arg(property).arg(n_);
    return true;
  }

 private:
  int n_;
};

class MemoryItems : public Items {
 public:
  explicit MemoryItems(int count) : count_(count) {}
  int Count() const override { return count_; }
  std::unique_ptr<ContactEntry> Item(int index) const override {
    return std::make_unique<MemoryEntry>(index);
  }

 private:
  int count_;
};

class MemoryFolder : public Folder {
 public:
  explicit MemoryFolder(std::shared_ptr<Items> items) : items_(std::move(items)) {}
  QString Name() const override { return QStringLiteral("Contacts"); }
  QString Path() const override { return QStringLiteral("Top of Personal Folders/Contacts"); }
  QString ContainerClass() const override { return QStringLiteral("IPF.Contact"); }
  int DefaultItemType() const override { return kContactItem; }
  std::shared_ptr<Items> GetItems() const override { return items_; }
  std::vector<std::shared_ptr<Folder>> SubFolders() const override { return {}; }

 private:
  std::shared_ptr<Items> items_;
};

class QuietView : public ConversionView {
 public:
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void SetProgressLabel(const QString& text) override { last = text; }
  void EnableButtons() override {}
  void ShowMessage(const QString& text, const QString&, int) override { message = text; }
  void Hide() override {}
  QString last;
  QString message;
};

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(argc, argv, "xls_bench [--contacts N] [--out DIR] [--pst FILE]"))
    return 0;
  int count = 30000;
  QString outDir;
  QString pst;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--contacts") == 0 && i + 1 < argc) {
      count = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--pst") == 0 && i + 1 < argc) {
      pst = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      outDir = QString::fromLocal8Bit(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: xls_bench [--contacts N] [--out DIR] [--pst FILE]\n");
      return 2;
    }
  }
  QTemporaryDir scratch;
  if (outDir.isEmpty()) outDir = scratch.path();
  QDir().mkpath(outDir);
  SetAnsiCodePage(1252);

  auto items = std::make_shared<MemoryItems>(count);
  QuietView view;
  RunContext run(QDir(outDir).absolutePath() + u'/', std::make_shared<MemoryFolder>(items), items,
                 view);
  QElapsedTimer timer;
  timer.start();
  ExportWorksheet(run);
  const qint64 exportMs = timer.elapsed();

  // The cell writes alone: the same number of text cells straight into ExcelFile.
  const QString cellsPath = QDir(outDir).absoluteFilePath(QStringLiteral("cells-only.xls"));
  const QString text = QStringLiteral("Müller-Lefèvre Business Street 12");
  timer.restart();
  ExcelFile sheet;
  sheet.CreateFile(cellsPath);
  const int rows = std::min(count, 32766);
  for (int row = 2; row <= rows + 1; ++row)
    for (int column = 1; column <= 39; ++column) sheet.WriteValue(2, 0, 1, 0, row, column, text);
  sheet.CloseFile();
  const qint64 cellsMs = timer.elapsed();

  const QFileInfoList sheets = QDir(outDir).entryInfoList({QStringLiteral("OutlookContacts-*.xls")},
                                                          QDir::Files, QDir::Time);
  const qint64 size = sheets.isEmpty() ? -1 : sheets.first().size();
  std::printf("contacts            %d\n", count);
  std::printf("export              %lld ms (%.1f us per contact)\n",
              static_cast<long long>(exportMs), 1000.0 * exportMs / std::max(count, 1));
  std::printf("sheet size          %lld bytes\n", static_cast<long long>(size));
  std::printf("completion message  %s\n", qPrintable(view.message));
  std::printf("cell writes alone   %lld ms for %d cells\n", static_cast<long long>(cellsMs),
              rows * 39);
  std::printf("peak memory         %ld kB\n", lumivex::bench::PeakKiB());

  if (!pst.isEmpty()) {
    try {
      const QString storeDir = QDir(outDir).absoluteFilePath(QStringLiteral("from-store"));
      QDir().mkpath(storeDir);
      timer.restart();
      std::shared_ptr<Folder> folder = OpenStoreFile(pst)->DefaultContactsFolder();
      if (!folder) throw StoreError("the store has no default contacts folder");
      std::shared_ptr<Items> entries = folder->GetItems();
      QuietView storeView;
      RunContext storeRun(storeDir + u'/', folder, entries, storeView);
      ExportWorksheet(storeRun);
      const qint64 storeMs = timer.elapsed();
      std::printf("from %s: %d contacts in %lld ms (%s), peak memory now %ld kB\n", qPrintable(pst),
                  entries->Count(), static_cast<long long>(storeMs), qPrintable(storeView.message),
                  lumivex::bench::PeakKiB());
    } catch (const StoreError& error) {
      std::fprintf(stderr, "xls_bench: %s\n", error.what());
      return 1;
    }
  }
  return 0;
}
