// What the folders and entries of one open store file share: the file, the code page of its
// 8-bit text, its name, the top of its personal folders, its record key and the contact slots
// of its named properties; and the store files already open in this process (OpenState).
#pragma once

#include "source/ContactProperties.h"
#include "source/MailStore.h"
#include "source/StoreFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace lumivex::backend {

// Properties of folders and of the store itself that the backend reads by tag.
constexpr uint32_t kTagDisplayName = 0x3001;
constexpr uint32_t kTagContainerClass = 0x3613;
constexpr uint32_t kTagIpmContactEntryId = 0x36D1;
constexpr uint32_t kTagIpmSubtreeEntryId = 0x35E0;
constexpr uint32_t kTagMessageCodepage = 0x3FFD;
constexpr uint32_t kTagAttributeHidden = 0x10F4;
constexpr uint32_t kTagContentCount = 0x3602;
constexpr uint32_t kTagFolderType = 0x3601;  // 2: a search folder
constexpr uint32_t kTagInternetCodepage = 0x3FDE;
constexpr uint32_t kTagRecordKey = 0x0FF9;
// The special folders' entry ids: the deleted items (on the store itself); conflicts, sync
// issues, local and server failures, junk mail (indexed, on the Inbox and the root folder); the
// newer ones in blocks (one of them the suggested contacts).
constexpr uint32_t kTagIpmWastebasketEntryId = 0x35E3;
constexpr uint32_t kTagAdditionalRenEntryIds = 0x36D8;
constexpr uint32_t kTagAdditionalRenEntryIdsEx = 0x36D9;

inline std::string Utf8(const QString& text) {
  return text.toStdString();
}

// What every folder and entry of one open file shares. The entries of a folder may be built on
// a read-ahead thread (EntryReadAhead.h) while the caller reads earlier ones: what is filled
// in after opening (the slots of named properties) is guarded.
struct StoreContext {
  StoreContext() {
    for (auto& slot : namedSlots) slot.store(kUnknown, std::memory_order_relaxed);
  }

  std::shared_ptr<storefile::StoreFile> file;
  int codePage = 1252;  // for 8-bit strings of items that name no code page of their own
  QString displayName;
  uint32_t subtreeNode = 0;  // the top of the personal folders, 0 when the store names none
  QByteArray recordKey;      // the store's own key: the middle of every entry id of the store
  // Damage of the store as a whole, found on opening it, one sentence each (the forms tell each
  // once): the hand-over to libpff and what its reading lacks, a record key that cannot be read.
  QStringList damage;
  // The folders the store marks as special, by node id; filled when the store is opened.
  std::map<uint32_t, FolderRole> roles;

  // The slot of named property `localId`, -1 when no slot wants it. `unresolved` is set when
  // the store's name-to-id map cannot be read, so that nobody can tell what the property is.
  // Every entry asks this of each of its named properties: once known, a slot is read without
  // a lock.
  int NamedSlot(uint32_t localId, const storefile::StoreItem& item, int index, bool& unresolved) {
    const bool kept = localId >= 0x8000 && localId <= 0xFFFF;
    const size_t at = localId & 0x7FFF;
    int slot = kept ? namedSlots[at].load(std::memory_order_acquire) : kUnknown;
    if (slot == kUnknown) {
      std::lock_guard lock(mutex_);
      const storefile::NamedKey* key = file->Named(localId, item, index);
      slot = key != nullptr                     ? SlotForNamed(*key)
             : file->NameMapFailure().isEmpty() ? -1
                                                : kUnresolved;
      if (kept) namedSlots[at].store(static_cast<int16_t>(slot), std::memory_order_release);
    }
    unresolved = slot == kUnresolved;
    return unresolved ? -1 : slot;
  }

  // Why the store's name-to-id map cannot be read; empty when it can.
  QString NameMapFailure() {
    std::lock_guard lock(mutex_);
    return file->NameMapFailure();
  }

  static constexpr int kUnresolved = -2;

 private:
  static constexpr int16_t kUnknown = -3;
  std::mutex mutex_;
  std::array<std::atomic<int16_t>, 0x8000> namedSlots;  // by local id - 0x8000
};

// The state of the store file at `path`: the one already open when the file is the same (path,
// size and modification time), else the file opened now. Throws StoreError.
std::shared_ptr<StoreContext> OpenState(const QString& path);

}  // namespace lumivex::backend
