#include "source/StoreState.h"

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

}  // namespace

// Stores already open in this process, by path, size and modification time: the scan, the
// conversion run after it and a picked folder share one open file instead of opening it again
// (opening reads the file's whole node index, which takes long for large stores).
std::shared_ptr<StoreState> OpenState(const QString& path) {
  static std::map<QString, std::weak_ptr<StoreState>> open;
  const QFileInfo info(path);
  QString key;
  if (info.isFile()) {
    key = QStringLiteral("%1|%2|%3")
              .arg(info.canonicalFilePath(), QString::number(info.size()),
                   QString::number(info.lastModified().toMSecsSinceEpoch()));
    if (auto state = open[key].lock()) return state;
  }
  auto state = std::make_shared<StoreState>();
  state->file = storefile::StoreFile::Open(path);
  int codePage = 0;
  if (auto store = state->file->MessageStore()) {
    codePage =
        ItemCodePage(*store, store->Find(kTagMessageCodepage), store->Find(kTagInternetCodepage));
    if (codePage == 0 && !state->file->IsUnicode()) codePage = FirstEntryCodePage(*state->file);
    state->codePage = codePage != 0 ? codePage : AnsiCodePage();
    state->displayName = store->Text(kTagDisplayName, state->codePage);
    state->subtreeNode = EntryIdNode(*store, kTagIpmSubtreeEntryId);
    const int recordKey = store->Find(kTagRecordKey);
    if (recordKey >= 0) store->Data(recordKey, state->recordKey);
  } else {
    state->codePage = AnsiCodePage();
  }
  if (state->displayName.isEmpty()) state->displayName = QStringLiteral("Personal Folders");
  for (auto it = open.begin(); it != open.end();) it = it->second.expired() ? open.erase(it) : ++it;
  if (!key.isEmpty()) open[key] = state;
  return state;
}

}  // namespace lumivex::backend
