// The store backend on a large contacts folder: writes a store of N contacts (100,000 unless
// given) with the fields a real address book fills, then times the walk an export makes: every
// entry opened once and every field the writers use read as text.
//
//   store_read_bench [N] [FILE]   (FILE: read this store; written first, and kept, when absent)
//
// Stores are read by our own reader; LUMIVEX_PST_READER=libpff in the environment times libpff
// on the same walk.
#include "bench/PeakMemory.h"
#include "bench/Usage.h"
#include "source/ContactProperties.h"
#include "source/StoreBackend.h"
#include "tools/pstwriter/Messaging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using lumivex::pst::MessageProperty;
using lumivex::pst::PropertyKey;
namespace value = lumivex::pst::value;

const auto Text = lumivex::pst::TextProperty;
const auto Address = lumivex::pst::AddressTextProperty;

void WriteStore(const std::string& path, int count) {
  lumivex::pst::StoreWriter writer(path, {});
  const auto folder = writer.Folder(lumivex::pst::DefaultFolder::kContacts);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    lumivex::pst::Message m;
    m.message_class = "IPM.Contact";
    m.properties = {
        Text(0x3001, "Contact Number " + n),
        Text(0x3A06, "Contact"),
        Text(0x3A11, "Number " + n),
        Text(0x3A16, "Company " + n),
        Text(0x3A17, "Engineer"),
        Text(0x3A18, "Research"),
        Text(0x3A08, "+44 20 7946 " + n),
        Text(0x3A09, "+44 20 7946 1" + n),
        Text(0x3A1C, "+44 7700 900" + n),
        Text(0x3A5D, n + " High Street"),
        Text(0x3A59, "London"),
        Text(0x3A5B, "SW1A 1AA"),
        Text(0x3A5A, "United Kingdom"),
        Text(0x1000, "Notes about contact " + n + "\r\nSecond line of the notes."),
        Address(0x8045, n + " Business Park"),
        Address(0x8046, "Leeds"),
        Address(0x8048, "LS1 4AP"),
        Address(0x8049, "United Kingdom"),
        Address(0x8082, "SMTP"),
        Address(0x8083, "contact" + n + "@example.com"),
        Address(0x802B, "https://example.com/" + n),
        {PropertyKey::Tagged(0x3A42), 0x0040,
         value::Time(lumivex::pst::FileTime(1970 + i % 40, 1 + i % 12, 1 + i % 28))},
        {PropertyKey::Named(lumivex::pst::kPsPublicStrings, "Keywords"), 0x101F,
         value::MultiString({"Work", "Bench"})},
    };
    writer.AddMessage(folder, m);
  }
  writer.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(argc, argv, "store_read_bench [N] [FILE]")) return 0;
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string path = argc > 2 ? argv[2] : "";
  const bool keep = !path.empty();
  QElapsedTimer timer;
  if (path.empty())
    path = QDir::temp().filePath(QStringLiteral("lumivex-store-bench.pst")).toStdString();
  if (!QFileInfo::exists(QString::fromStdString(path))) {
    timer.start();
    WriteStore(path, count);
    std::printf("wrote %d contacts in %.2f s\n", count, timer.elapsed() / 1000.0);
  }

  timer.start();
  auto store = lumivex::OpenStoreFile(QString::fromStdString(path));
  auto folder = store->DefaultContactsFolder();
  if (!folder) {
    std::fprintf(stderr, "store_read_bench: %s has no contacts folder\n", path.c_str());
    return 1;
  }
  auto items = folder->GetItems();
  const int entries = items->Count();
  const double openSeconds = timer.elapsed() / 1000.0;

  timer.start();
  long reads = 0, failed = 0, characters = 0;
  QString value;
  for (int i = 0; i < entries; ++i) {
    auto entry = items->Item(i);
    for (int slot = 0; slot < lumivex::kReadableSlots; ++slot) {
      if (entry->Read(lumivex::SlotName(slot), value))
        characters += value.size();
      else
        ++failed;
      ++reads;
    }
  }
  const double walkSeconds = timer.elapsed() / 1000.0;
  std::printf("opened the store and found %d entries in %.2f s\n", entries, openSeconds);
  std::printf(
      "read %ld fields (%ld failed, %ld characters) in %.2f s: %.1f us per entry, "
      "%.0f entries/s\n",
      reads, failed, characters, walkSeconds, entries ? walkSeconds * 1e6 / entries : 0.0,
      walkSeconds > 0 ? entries / walkSeconds : 0.0);
  std::printf("peak memory %ld MiB\n", lumivex::bench::PeakKiB() / 1024);
  if (!keep) std::remove(path.c_str());
  return failed == 0 ? 0 : 1;
}
