#include "source/StoreContext.h"

#include "common/CodePage.h"
#include "source/EntryValues.h"
#include "source/MailStore.h"

#include <QDateTime>
#include <QFileInfo>

#include <deque>
#include <map>

namespace lumivex::backend {

namespace {

// The code page named by the first entry of the store that names one: ANSI stores keep folder
// names in the code page of the system that wrote them, which their entries name as well.
int FirstEntryCodePage(storefile::StoreFile& file) {
  std::deque<std::unique_ptr<storefile::StoreItem>> queue;
  queue.push_back(file.RootFolder());
  for (int visited = 0; !queue.empty() && visited < 500; ++visited) {
    std::unique_ptr<storefile::StoreItem> folder = std::move(queue.front());
    queue.pop_front();
    const int messages = folder->MessageCount();
    for (int i = 0; i < messages && i < 3; ++i) {
      try {
        auto message = folder->Message(i);
        const int codePage = ItemCodePage(*message, message->Find(kTagMessageCodepage),
                                          message->Find(kTagInternetCodepage));
        if (codePage != 0) return codePage;
      } catch (const StoreError&) {
        // An entry that cannot be read names nothing; try the next.
      }
    }
    for (int i = 0; i < folder->SubFolderCount(); ++i) {
      try {
        queue.push_back(folder->SubFolder(i));
      } catch (const StoreError&) {
      }
    }
  }
  return 0;
}

// The store's record key as the entry ids its folders keep name it (the root's, the top folders'
// ids of their default folders: four flag bytes, the record key, the node id), for a store whose
// own properties cannot be read. Empty when none names it.
QByteArray RecordKeyFromFolders(storefile::StoreFile& file) {
  constexpr uint32_t kFirstDefaultFolderId = 0x36D0;  // PidTagIpmAppointmentEntryId ...
  constexpr uint32_t kLastDefaultFolderId = 0x36D7;
  constexpr int kEntryIdSize = 24;
  std::deque<std::pair<std::unique_ptr<storefile::StoreItem>, int>> queue;
  try {
    queue.emplace_back(file.RootFolder(), 0);
  } catch (const StoreError&) {
    return {};
  }
  while (!queue.empty()) {
    auto [folder, depth] = std::move(queue.front());
    queue.pop_front();
    for (uint32_t id = kFirstDefaultFolderId; id <= kLastDefaultFolderId; ++id) {
      QByteArray entryId;
      const int index = folder->Find(id);
      if (index >= 0 && folder->Data(index, entryId) && entryId.size() == kEntryIdSize &&
          entryId.first(4) == QByteArray(4, '\0'))
        return entryId.mid(4, 16);
    }
    if (depth == 2) continue;
    for (int i = 0; i < folder->SubFolderCount(); ++i) {
      try {
        queue.emplace_back(folder->SubFolder(i), depth + 1);
      } catch (const StoreError&) {
      }
    }
  }
  return {};
}

}  // namespace

// Stores already open in this process, by path, size and modification time: the scan, the
// conversion run after it and a picked folder share one open file instead of opening it again
// (opening reads the file's whole node index, which takes long for large stores).
std::shared_ptr<StoreContext> OpenState(const QString& path) {
  static std::map<QString, std::weak_ptr<StoreContext>> open;
  const QFileInfo info(path);
  QString key;
  if (info.isFile()) {
    key = QStringLiteral("%1|%2|%3")
              .arg(info.canonicalFilePath(), QString::number(info.size()),
                   QString::number(info.lastModified().toMSecsSinceEpoch()));
    if (auto state = open[key].lock()) return state;
  }
  auto state = std::make_shared<StoreContext>();
  state->file = storefile::StoreFile::Open(path);
  int codePage = 0;
  if (auto store = state->file->MessageStore()) {
    codePage =
        ItemCodePage(*store, store->Find(kTagMessageCodepage), store->Find(kTagInternetCodepage));
    if (codePage == 0 && !state->file->IsUnicode()) codePage = FirstEntryCodePage(*state->file);
    state->codePage = codePage != 0 ? codePage : AnsiCodePage();
    state->displayName = store->Text(kTagDisplayName, state->codePage);
    state->subtreeNode = EntryIdNode(*store, kTagIpmSubtreeEntryId);
    if (const uint32_t deleted = EntryIdNode(*store, kTagIpmWastebasketEntryId); deleted != 0)
      state->roles[deleted] = FolderRole::kDeletedItems;
    const int recordKey = store->Find(kTagRecordKey);
    if (recordKey >= 0) store->Data(recordKey, state->recordKey);
  } else {
    state->codePage = AnsiCodePage();
  }
  state->damage = state->file->Damage();
  if (state->recordKey.isEmpty()) {
    // Every store keeps its record key in its own properties: without it the entries' UIDs,
    // made from it, would change. Its folders name it too, in the entry ids they keep.
    state->recordKey = RecordKeyFromFolders(*state->file);
    state->damage
        << (state->recordKey.isEmpty()
                ? QStringLiteral("the store's own properties cannot be read, so its record key "
                                 "is unknown: its contacts get UIDs made from each entry's own "
                                 "search key and creation time, not those of earlier exports")
                : QStringLiteral("the store's own properties cannot be read; its contacts keep "
                                 "their UIDs, made from the record key its folders name"));
  }
  if (state->displayName.isEmpty()) state->displayName = QStringLiteral("Personal Folders");
  for (auto it = open.begin(); it != open.end();) it = it->second.expired() ? open.erase(it) : ++it;
  if (!key.isEmpty()) open[key] = state;
  return state;
}

}  // namespace lumivex::backend
