// One open store file as a Store: its name, its folder tree and its default contacts folder.
#pragma once

#include "source/FileFolder.h"
#include "source/MailStore.h"
#include "source/StoreContext.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace lumivex::backend {

class SessionStore : public Store {
 public:
  // Opens the file (or takes the one already open) and reads its folder tree's top. Throws
  // StoreError.
  explicit SessionStore(const QString& path);

  QString FilePath() const override { return path_; }
  QString DisplayName() const override { return displayName_; }
  std::shared_ptr<Folder> RootFolder() const override { return root_; }

  // The folder named by the contacts entry id of the root, the top of the personal folders or
  // the Inbox; else the first visible contacts folder under the top of the personal folders,
  // nearest the top first. (Exchange offline stores name it by a long-term id that does not
  // lead to a node of the file; the search finds it there.)
  std::shared_ptr<Folder> DefaultContactsFolder() const override;

 private:
  QString path_;
  std::shared_ptr<StoreContext> state_;
  std::shared_ptr<FileFolder> root_;
  QString displayName_;
  uint32_t subtreeNode_ = 0;
};

}  // namespace lumivex::backend
