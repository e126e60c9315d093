// vcard_bench: how fast the vCard exports go and how much memory they take.
//
//   vcard_bench [--work DIR] [STORE]
//
// --work DIR: where the exports go (default: the temporary folder). Per-contact exports time the
// file system as much as the programs: give a freshly made file system, or a tmpfs, to compare.
//
// 1. In process, over a contacts folder made up on the fly (no store file, so the writers alone
//    are timed): the single file and the per-contact files for 10,000 and 100,000 contacts,
//    with the peak memory after each, to show that memory does not grow with the contacts.
// 2. On a store file (STORE, else stores of 10,000, 30,000 and 100,000 contacts made with
//    lumivex-pstgen when it has been built): lumivex-cli export --format vcard and
//    --format vcards against readpst -cv -o DIR (libpst's export, contacts as vCards; also with
//    -tc, contacts alone) and readpst -S -cv (one file per item, as the per-contact export), each
//    as its own process, with its wall time and peak memory.
//
// Exports are kept until the end: ext4 looks past recently deleted inodes when it makes new
// files, so removing 100,000 files would slow down whichever export came next.
#include "bench/PeakMemory.h"
#include "bench/QuietView.h"
#include "bench/RunProgram.h"
#include "common/CodePage.h"
#include "common/Module1.h"
#include "convert/ConversionRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

using namespace lumivex;

namespace {

using lumivex::bench::Measured;
using lumivex::bench::RunProgram;

// A contact made up from its index, filled the way a full business card is.
class MadeUpEntry : public ContactEntry {
 public:
  explicit MadeUpEntry(int index) : index_(index) {}
  bool Read(std::string_view name, QString& value) const override {
    const QString n = QString::number(index_);
    if (name == "FirstName")
      value = QStringLiteral("Given") + n;
    else if (name == "LastName")
      value = QStringLiteral("Family") + QString::number(index_ % 977);
    else if (name == "FullName")
      value = QStringLiteral("Given%1 Family%2").arg(n).arg(index_ % 977);
    else if (name == "CompanyName")
      value = QStringLiteral("Company Ltd");
    else if (name == "JobTitle")
      value = QStringLiteral("Buyer");
    else if (name.find("TelephoneNumber") != std::string_view::npos)
      value = "+1 555 " + n;
    else if (name == "MobileTelephoneNumber")
      value = "+1 556 " + n;
    else if (name == "BusinessAddressStreet")
      value = n + QStringLiteral(" Main Street");
    else if (name == "BusinessAddressCity")
      value = QStringLiteral("Zürich");
    else if (name == "BusinessAddressPostalCode")
      value = QStringLiteral("8001");
    else if (name == "BusinessAddressCountry")
      value = QStringLiteral("Schweiz");
    else if (name == "Email1Address")
      value = "given" + n + QStringLiteral("@example.com");
    else if (name == "Body")
      value = QStringLiteral("Met at the fair, ordered twice.");
    else
      value.clear();
    return true;
  }

 private:
  int index_;
};

class MadeUpItems : public Items {
 public:
  explicit MadeUpItems(int count) : count_(count) {}
  int Count() const override { return count_; }
  std::unique_ptr<ContactEntry> Item(int index) const override {
    return std::make_unique<MadeUpEntry>(index);
  }

 private:
  int count_;
};

class MadeUpFolder : public Folder {
 public:
  explicit MadeUpFolder(int count) : count_(count) {}
  QString Name() const override { return QStringLiteral("Contacts"); }
  QString Path() const override { return QStringLiteral("Top of Personal Folders/Contacts"); }
  QString ContainerClass() const override { return QStringLiteral("IPF.Contact"); }
  int DefaultItemType() const override { return kContactItem; }
  std::shared_ptr<Items> GetItems() const override { return std::make_shared<MadeUpItems>(count_); }
  std::vector<std::shared_ptr<Folder>> SubFolders() const override { return {}; }

 private:
  int count_;
};

qint64 DirBytes(const QString& dir, int* files) {
  qint64 bytes = 0;
  *files = 0;
  for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
    it.next();
    bytes += it.fileInfo().size();
    ++*files;
  }
  return bytes;
}

void InProcess(int contacts, bool perContact, const QString& workRoot) {
  QTemporaryDir dir(workRoot + "/in-process-XXXXXX");
  auto folder = std::make_shared<MadeUpFolder>(contacts);
  bench::QuietView view;
  RunContext run(dir.path() + u'/', folder, folder->GetItems(), view);
  QElapsedTimer timer;
  timer.start();
  if (perContact)
    ExportVCardPerContact(run);
  else
    ExportVCardSingleFile(run);
  const double seconds = timer.nsecsElapsed() / 1e9;
  const long peak = lumivex::bench::PeakKiB();
  int files = 0;
  const qint64 bytes = DirBytes(dir.path(), &files);
  std::printf(
      "  %-12s %7d contacts  %6.2f s  %8.0f contacts/s  %6d files  %7.1f MB  peak %6.1f MB\n",
      perContact ? "per-contact" : "single file", contacts, seconds, contacts / seconds, files,
      bytes / 1e6, peak / 1024.0);
}

void Report(const char* what, const Measured& m, const QString& dir) {
  int files = 0;
  const qint64 bytes = DirBytes(dir, &files);  // readpst writes into folders of its own
  std::printf(
      "  %-34s wall %6.2f s  cpu %6.2f s  peak %7.1f MB  exit %d  %6d files  %7.1f MB written\n",
      what, m.seconds, m.cpuSeconds, m.peakKiB / 1024.0, m.status, files, bytes / 1e6);
}

void Ratio(const char* what, const Measured& ours, const Measured& theirs) {
  std::printf("  %-34s wall %6.2f x    cpu %6.2f x\n", what, ours.seconds / theirs.seconds,
              ours.cpuSeconds / theirs.cpuSeconds);
}

void CompareWithReadpst(const QString& store, const QString& bin, const QString& work) {
  std::printf("%s (%.1f MB), each export a process of its own:\n", qPrintable(store),
              QFileInfo(store).size() / 1e6);
  const std::string cli = (bin + "/lumivex-cli").toStdString();
  Measured ours[2];
  int n = 0;
  for (const char* format : {"vcard", "vcards"}) {
    const QString out = work + "/" + QFileInfo(store).baseName() + "-lumivex-" + format;
    const Measured m = RunProgram(
        {cli, "export", "--format", format, "--out", out.toStdString(), store.toStdString()});
    Report(qPrintable(QStringLiteral("lumivex-cli export --format %1").arg(format)), m, out);
    ours[n++] = m;
  }
  Measured theirs[3];
  n = 0;
  // readpst as asked of it for a vCard export, kept to contacts alone, and with a file per item.
  const struct {
    const char* name;
    const char* option;
  } variants[] = {{"readpst -cv -o DIR", nullptr},
                  {"readpst -cv -tc -o DIR", "-tc"},
                  {"readpst -cv -S -o DIR", "-S"}};
  for (const auto& variant : variants) {
    const QString out = work + "/" + QFileInfo(store).baseName() + "-readpst" +
                        (variant.option ? variant.option : "");
    QDir().mkpath(out);
    std::vector<std::string> args = {"readpst", "-q", "-cv"};
    if (variant.option) args.push_back(variant.option);
    args.insert(args.end(), {"-o", out.toStdString(), store.toStdString()});
    theirs[n] = RunProgram(args);
    Report(variant.name, theirs[n++], out);
  }
  Ratio("vcard / readpst -cv", ours[0], theirs[0]);
  Ratio("vcards / readpst -cv -S", ours[1], theirs[2]);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  SetAnsiCodePage(1252);
  const QString bin = QCoreApplication::applicationDirPath();

  QStringList args = QCoreApplication::arguments().mid(1);
  QString workRoot = QDir::tempPath();
  if (args.size() >= 2 && args[0] == u"--work") {
    workRoot = args[1];
    args = args.mid(2);
  }
  if (!args.isEmpty() && args[0].startsWith(u'-')) {
    std::printf(
        "Usage: vcard_bench [--work DIR] [STORE]\n"
        "Times the vCard exports in process over a made-up folder (10,000 and 100,000 contacts),\n"
        "then lumivex-cli export --format vcard and vcards against readpst on STORE (else on\n"
        "stores of 10,000, 30,000 and 100,000 contacts made with lumivex-pstgen). DIR is where\n"
        "the exports go: give a freshly made file system or a tmpfs for a fair comparison.\n");
    return args[0] == u"--help" || args[0] == u"-h" ? 0 : 2;
  }
  QTemporaryDir work(workRoot + "/vcard_bench-XXXXXX");
  if (!work.isValid()) {
    std::fprintf(stderr, "vcard_bench: cannot make a folder in %s\n", qPrintable(workRoot));
    return 1;
  }
  if (!args.isEmpty()) {
    CompareWithReadpst(args[0], bin, work.path());
  } else if (QFileInfo::exists(bin + "/lumivex-pstgen")) {
    for (const int contacts : {10000, 30000, 100000}) {
      const QString store = work.path() + QStringLiteral("/bench-%1.pst").arg(contacts);
      std::printf("making a %d-contact store with lumivex-pstgen...\n", contacts);
      const Measured made =
          RunProgram({(bin + "/lumivex-pstgen").toStdString(), "--contacts",
                      std::to_string(contacts), "--seed", "1", "--out", store.toStdString()});
      std::printf("  made in %.2f s\n", made.seconds);
      if (made.status == 0) CompareWithReadpst(store, bin, work.path());
      QFile::remove(store);
      std::printf("\n");
    }
  } else {
    std::printf(
        "no store file: give one (vcard_bench STORE) or build lumivex-pstgen to compare "
        "with readpst\n");
  }

  // After the separate processes: a child's peak counts the memory of the process it was forked
  // from, which is kept small until here.
  std::printf("\nvCard writers in process, made-up contacts:\n");
  for (int contacts : {10000, 100000}) {
    InProcess(contacts, false, work.path());
    InProcess(contacts, true, work.path());
  }
  return 0;
}
