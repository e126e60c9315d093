// A folder of a store file: its name, path and class, whether the mail client shows it, its
// sub-folders (a damaged folder table that loops is refused), and its entries (FileFolder.cpp,
// FileItems), read ahead on a thread of their own when they are asked for in order.
#pragma once

#include "source/MailStore.h"
#include "source/StoreContext.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace lumivex::backend {

class FileFolder : public Folder {
 public:
  // `root`: the store's root folder, which has no name or path of its own. `ancestors`: the
  // node ids of the folders above this one.
  FileFolder(std::shared_ptr<StoreContext> state, std::shared_ptr<storefile::StoreItem> item,
             QString parentPath, bool root, std::vector<uint32_t> ancestors = {});

  QString Name() const override { return name_; }
  QString Path() const override { return path_; }
  QString ContainerClass() const override { return containerClass_; }

  int DefaultItemType() const override;

  std::shared_ptr<Items> GetItems() const override;

  // The folder keeps the number of its entries apart from the table that lists them: a table
  // that lists fewer has lost some, though each of its own parts looks whole.
  QString MissingEntries() const override;

  // Every folder the folder lists, in order; one whose node cannot be found stands as an
  // unreadable folder in its place.
  std::vector<std::shared_ptr<Folder>> SubFolders() const override;

  QString Unreadable() const override { return unreadable_; }
  QStringList StoreDamage() const override { return state_->damage; }
  bool NewUids() const override { return state_->recordKey.isEmpty(); }
  FolderRole Role() const override;

  // The sub-folders as FileFolders (one whose node holds no readable folder says so through
  // Unreadable). Throws StoreError when the folder table cannot be read or lists a folder above
  // this one, or one folder twice. With `all`, every folder listed goes there too, with a folder
  // whose node cannot be found as an unreadable one in its place; without it, such a folder
  // makes the branch unreadable (StoreError).
  std::vector<std::shared_ptr<FileFolder>> SubFolderObjects(
      std::vector<std::shared_ptr<Folder>>* all = nullptr) const;

  uint32_t Id() const { return item_->Id(); }
  bool Hidden() const override { return system_; }
  // Flagged hidden by the store (the default contacts folder search passes these over).
  bool FlaggedHidden() const { return hidden_; }
  const storefile::StoreItem& RawItem() const { return *item_; }

 private:
  std::shared_ptr<StoreContext> state_;
  std::shared_ptr<storefile::StoreItem> item_;
  QString name_;
  QString path_;
  QString containerClass_;
  bool hidden_ = false;
  bool system_ = false;
  QString unreadable_;             // why the folder's own node cannot be read
  std::vector<uint32_t> lineage_;  // the node ids of the folders from the root down to this one
};

}  // namespace lumivex::backend
