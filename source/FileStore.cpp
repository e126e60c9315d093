#include "source/FileStore.h"

#include "source/EntryValues.h"

#include <deque>
#include <utility>
#include <vector>

namespace lumivex::backend {

FileStore::FileStore(const QString& path) : path_(path), state_(OpenState(path)) {
  displayName_ = state_->displayName;
  subtreeNode_ = state_->subtreeNode;
  root_ = std::make_shared<FileFolder>(
      state_, std::shared_ptr<storefile::StoreItem>(state_->file->RootFolder()), QString(), true);
  root_->SubFolderObjects();  // a file whose folder tree cannot be read fails here, not later
}

std::shared_ptr<Folder> FileStore::DefaultContactsFolder() const {
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
