// Fuzz target of the store reader: a personal-folder file (laid out as FuzzInput.h says) is
// opened by our own reader, its folder tree walked and every property of every entry read
// through the storefile::StoreFile/Item layer, then the same file is read through the backend the
// exports use: the folders, the default contacts folder, and every field of every entry by
// ContactEntry::Read and ReadContact. A damaged file may fail anywhere, but only with a
// StoreError or a failed read.
#include "fuzz/FuzzInput.h"
#include "source/ContactProperties.h"
#include "source/MailStore.h"
#include "source/StoreBackend.h"
#include "source/StoreFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace lumivex::fuzz {
namespace {

// Bounds on one input's walk, so that a store of many entries or a folder tree that loops
// costs a bounded time; they are far above what the seeds hold.
constexpr int kMaxDepth = 12;
constexpr int kMaxItems = 400;

void ReadProperties(storefile::StoreFile& file, const storefile::StoreItem& item) {
  const int count = item.PropertyCount();
  for (int i = 0; i < count; ++i) {
    uint32_t id = 0, type = 0;
    if (!item.PropertyTag(i, id, type)) continue;
    QByteArray data;
    item.Data(i, data);
    int32_t number = 0;
    item.Int32(i, number);
    uint64_t time = 0;
    item.FileTime(i, time);
    std::vector<QByteArray> values;
    item.MultiData(i, values);
    if (id >= 0x8000) {
      file.Named(id, item, i);
    } else {
      item.Text(id, 1252);
      item.Text(id, 932);
    }
  }
  item.Find(0x3001);
}

void WalkItems(storefile::StoreFile& file, const storefile::StoreItem& folder, int depth,
               int& budget) {
  ReadProperties(file, folder);
  const int messages = folder.MessageCount();
  for (int i = 0; i < messages && budget > 0; ++i, --budget) {
    try {
      ReadProperties(file, *folder.Message(i));
    } catch (const StoreError&) {
    }
  }
  if (depth >= kMaxDepth) return;
  const int folders = folder.SubFolderCount();
  for (int i = 0; i < folders && budget > 0; ++i, --budget) {
    try {
      WalkItems(file, *folder.SubFolder(i), depth + 1, budget);
    } catch (const StoreError&) {
    }
  }
}

// Reads every field of one entry the way the exports do.
void ReadEntry(const ContactEntry& entry) {
  QString value;
  for (int slot = 0; slot < kReadableSlots; ++slot) {
    const std::string_view name = SlotName(slot);
    if (!entry.Read(name, value)) entry.Failure();
  }
  entry.Read("NoSuchField", value);
  contact::Contact contact;
  QString why;
  entry.ReadContact(contact, why);
}

void WalkFolders(const Folder& folder, int depth, int& budget) {
  folder.Name();
  folder.Path();
  folder.ContainerClass();
  folder.DefaultItemType();
  try {
    const auto items = folder.GetItems();
    const int count = items->Count();
    for (int i = 0; i < count && budget > 0; ++i, --budget) ReadEntry(*items->Item(i));
  } catch (const StoreError&) {
  }
  if (depth >= kMaxDepth) return;
  try {
    for (const auto& sub : folder.SubFolders()) {
      if (--budget <= 0) break;
      WalkFolders(*sub, depth + 1, budget);
    }
  } catch (const StoreError&) {
  }
}

}  // namespace
}  // namespace lumivex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumivex;
  static fuzz::MemoryFile memory;
  memory.Write(fuzz::ExpandStore(data, size));
  const QString path = memory.Path();

  // Our reader alone: a file it declines would go to libpff, which is not ours to fuzz.
  try {
    const auto file = storefile::StoreFile::Open(path, storefile::ReaderChoice::kOwn);
    if (const auto store = file->MessageStore()) fuzz::ReadProperties(*file, *store);
    int budget = fuzz::kMaxItems;
    fuzz::WalkItems(*file, *file->RootFolder(), 0, budget);
  } catch (const StoreError&) {
    return 0;
  }

  // The backend over the same file, which our reader has just taken.
  try {
    const auto store = OpenStoreFile(path);
    store->DisplayName();
    if (const auto contacts = store->DefaultContactsFolder()) contacts->Path();
    int budget = fuzz::kMaxItems;
    fuzz::WalkFolders(*store->RootFolder(), 0, budget);
  } catch (const StoreError&) {
  }
  return 0;
}
