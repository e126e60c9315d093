#include "source/SessionStore.h"

#include "source/EntryValues.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

namespace lumivex::backend {

namespace {

uint32_t NodeOfEntryId(const QByteArray& id) {
  if (id.size() < 24) return 0;
  const auto* b = reinterpret_cast<const uchar*>(id.constData() + id.size() - 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// The special folders `holder` (the Inbox or the root folder) names: the first four of its
// indexed entry ids are the conflicts, sync issues, local failures and server failures folders;
// among its blocks of entry ids, block 0x8008 names the suggested contacts (each block a 16-bit
// kind and size, then elements of a 16-bit kind and size each, 0x0001 an entry id; kind 0 ends).
void NoteSpecialFolders(const storefile::StoreItem& holder, std::map<uint32_t, FolderRole>& roles) {
  std::vector<QByteArray> ids;
  const int indexed = holder.Find(kTagAdditionalRenEntryIds);
  if (indexed >= 0 && holder.MultiData(indexed, ids))
    for (size_t i = 0; i < ids.size() && i < 4; ++i)
      if (const uint32_t node = NodeOfEntryId(ids[i]); node != 0)
        roles[node] = FolderRole::kConflicts;
  QByteArray blocks;
  const int ex = holder.Find(kTagAdditionalRenEntryIdsEx);
  if (ex < 0 || !holder.Data(ex, blocks)) return;
  const auto u16 = [&blocks](qsizetype at) {
    return static_cast<uint16_t>(uchar(blocks[at]) | (uchar(blocks[at + 1]) << 8));
  };
  constexpr uint16_t kSuggestedContacts = 0x8008, kEntryIdElement = 0x0001;
  for (qsizetype at = 0; at + 4 <= blocks.size();) {
    const uint16_t kind = u16(at), size = u16(at + 2);
    if (kind == 0) break;
    const qsizetype end = std::min<qsizetype>(at + 4 + size, blocks.size());
    for (qsizetype e = at + 4; kind == kSuggestedContacts && e + 4 <= end;) {
      const uint16_t element = u16(e), length = u16(e + 2);
      if (element == kEntryIdElement && e + 4 + length <= end)
        if (const uint32_t node = NodeOfEntryId(blocks.mid(e + 4, length)); node != 0)
          roles[node] = FolderRole::kSuggestedContacts;
      e += 4 + length;
    }
    at = end;
  }
}

}  // namespace

SessionStore::SessionStore(const QString& path) : path_(path), state_(OpenState(path)) {
  displayName_ = state_->displayName;
  subtreeNode_ = state_->subtreeNode;
  root_ = std::make_shared<FileFolder>(
      state_, std::shared_ptr<storefile::StoreItem>(state_->file->RootFolder()), QString(), true);
  // A file whose folder tree cannot be read fails here, not later.
  const std::vector<std::shared_ptr<FileFolder>> top = root_->SubFolderObjects();
  // The special folders named on the root folder and on the Inbox (at the top, or below the
  // top of the personal folders).
  NoteSpecialFolders(root_->RawItem(), state_->roles);
  for (const auto& folder : top) {
    std::vector<std::shared_ptr<FileFolder>> level{folder};
    if (folder->Id() == subtreeNode_ || folder->Name().startsWith(u"Top of")) {
      try {
        level = folder->SubFolderObjects();
      } catch (const StoreError&) {
        continue;
      }
    }
    for (const auto& f : level)
      if (f->Name().compare(u"Inbox", Qt::CaseInsensitive) == 0)
        NoteSpecialFolders(f->RawItem(), state_->roles);
  }
}

std::shared_ptr<Folder> SessionStore::DefaultContactsFolder() const {
  std::vector<std::shared_ptr<FileFolder>> all;  // breadth first, in store order
  std::vector<int> depth;
  std::deque<std::pair<std::shared_ptr<FileFolder>, int>> queue{{root_, 0}};
  while (!queue.empty()) {
    auto [folder, level] = queue.front();
    queue.pop_front();
    if (folder != root_) {
      all.push_back(folder);
      depth.push_back(level);
    }
    try {
      for (auto& sub : folder->SubFolderObjects()) queue.emplace_back(sub, level + 1);
    } catch (const StoreError&) {
      // A branch whose sub-folders cannot be read hides only itself: the contacts folder
      // elsewhere is still found. It is the store's damage all the same, told once.
      const QString why = QStringLiteral(
                              "the folders under \"%1\" cannot be read (the folder tree is "
                              "damaged), so a contacts folder among them would not be found")
                              .arg(folder->Path());
      if (!state_->damage.contains(why)) state_->damage << why;
    }
  }
  std::shared_ptr<FileFolder> top;
  for (size_t i = 0; i < all.size() && !top; ++i)
    if (depth[i] == 1 && subtreeNode_ != 0 && all[i]->Id() == subtreeNode_) top = all[i];
  for (size_t i = 0; i < all.size() && !top; ++i)
    if (all[i]->Path() == u"Root - Mailbox/IPM_SUBTREE") top = all[i];
  for (size_t i = 0; i < all.size() && !top; ++i)
    if (depth[i] == 1 && all[i]->Name().startsWith(u"Top of")) top = all[i];

  std::vector<const FileFolder*> holders{root_.get()};
  if (top) holders.push_back(top.get());
  for (auto& folder : all)
    if (folder->Name().compare(u"Inbox", Qt::CaseInsensitive) == 0) holders.push_back(folder.get());
  for (const FileFolder* holder : holders) {
    const uint32_t node = EntryIdNode(holder->RawItem(), kTagIpmContactEntryId);
    if (node == 0) continue;
    for (auto& folder : all) {
      if (folder->Id() != node) continue;
      if (folder->DefaultItemType() == kContactItem) return folder;
      // The store names this folder as its contacts, but cannot say what it is: another
      // folder taken in its place would be exported as if it were the contacts.
      if (folder->RawItem().PropertyCount() < 0)
        throw StoreError(Utf8(QStringLiteral("Cannot read the contacts folder of %1: the "
                                             "folder is damaged (%2)")
                                  .arg(state_->file->Path(), folder->RawItem().Failure())));
    }
  }
  // A search folder lists entries of other folders: it is never the contacts folder itself.
  constexpr uint32_t kNidTypeSearchFolder = 0x03;
  const QString topPath = top ? top->Path() + u'/' : QString();
  for (auto& folder : all)
    if (folder->DefaultItemType() == kContactItem && !folder->FlaggedHidden() &&
        (folder->Id() & 0x1F) != kNidTypeSearchFolder && folder->Path().startsWith(topPath))
      return folder;
  return nullptr;
}

}  // namespace lumivex::backend
