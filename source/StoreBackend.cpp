// The sessions of the store-file backend: the mail client's namespace (stores added by path, a
// folder picked), the session whose default store is the default profile's, and the provider
// that makes them. The store, its folders and entries: SessionStore.h, FileFolder.h,
// FileContactEntry.h.
#include "source/StoreBackend.h"

#include "source/SessionStore.h"
#include "source/StoreContext.h"

#include <string>
#include <vector>

namespace lumivex {

namespace {

using backend::Utf8;

class FileNamespace : public MapiNamespace {
 public:
  explicit FileNamespace(std::shared_ptr<FolderPicker> picker) : picker_(std::move(picker)) {}

  void AddStore(const QString& path) override { stores_.push_back(OpenStoreFile(path)); }

  std::shared_ptr<Folder> PickFolder() override {
    if (!picker_) throw StoreError("No folder picker has been set up");
    return picker_->Pick(stores_);
  }

  std::vector<std::shared_ptr<Store>> Stores() const override { return stores_; }

 private:
  std::shared_ptr<FolderPicker> picker_;
  std::vector<std::shared_ptr<Store>> stores_;
};

class FileMailClientApp : public MailClientApp {
 public:
  explicit FileMailClientApp(std::shared_ptr<FolderPicker> picker) : picker_(std::move(picker)) {}

  std::unique_ptr<MapiNamespace> GetNamespace(const QString& type) override {
    if (type.compare(u"MAPI", Qt::CaseInsensitive) != 0)
      throw StoreError(
          Utf8(QStringLiteral("Unknown mail namespace \"%1\": only \"MAPI\" is known").arg(type)));
    return std::make_unique<FileNamespace>(picker_);
  }

 private:
  std::shared_ptr<FolderPicker> picker_;
};

class FileRdoSession : public RdoSession {
 public:
  explicit FileRdoSession(QString defaultStore) : defaultStore_(std::move(defaultStore)) {}

  // Logging on never fails for want of a default store: a session is also what the scan and the
  // run use to attach another store file, which must work on a machine where no default store
  // exists. When the default store is missing or unreadable, the reason is kept and
  // GetDefaultFolder reports it.
  void Logon() override {
    logonError_.clear();
    try {
      if (!defaultStore_.isEmpty()) {
        store_ = OpenStoreFile(defaultStore_);
        return;
      }
      const QString path = DefaultStorePath();
      try {
        store_ = OpenStoreFile(path);
      } catch (const StoreError& error) {
        const QString advice = DefaultStoreAdvice();
        throw StoreError(
            std::string(error.what()) + " (the default store; " +
            (advice.isEmpty()
                 ? std::string("set LUMIVEX_DEFAULT_STORE to another file or choose a file")
                 : advice.toStdString()) +
            ")");
      }
    } catch (const StoreError& error) {
      store_.reset();
      logonError_ = error.what();
    }
  }

  std::shared_ptr<Folder> GetDefaultFolder(int kind) override {
    if (!store_)
      throw StoreError(logonError_.empty() ? "The mail session is not logged on" : logonError_);
    if (kind != kFolderContacts)
      throw StoreError(Utf8(QStringLiteral("Default folder %1 is not available: only the contacts "
                                           "folder (10) is read")
                                .arg(kind)));
    auto folder = store_->DefaultContactsFolder();
    if (!folder)
      throw StoreError(Utf8(QStringLiteral("%1 has no contacts folder; choose another file or "
                                           "one of its folders")
                                .arg(store_->FilePath())));
    return folder;
  }

  void Logoff() override { store_.reset(); }

 private:
  QString defaultStore_;
  std::shared_ptr<Store> store_;
  std::string logonError_;
};

class FileMailProvider : public MailProvider {
 public:
  FileMailProvider(std::shared_ptr<FolderPicker> picker, QString defaultStore)
      : picker_(std::move(picker)), defaultStore_(std::move(defaultStore)) {}

  std::unique_ptr<MailClientApp> CreateMailClientApp() override {
    return std::make_unique<FileMailClientApp>(picker_);
  }
  std::unique_ptr<RdoSession> CreateRdoSession() override {
    return std::make_unique<FileRdoSession>(defaultStore_);
  }

 private:
  std::shared_ptr<FolderPicker> picker_;
  QString defaultStore_;
};

}  // namespace

std::shared_ptr<MailProvider> MakeStoreMailProvider(std::shared_ptr<FolderPicker> picker) {
  return MakeStoreMailProvider(std::move(picker), QString());
}

std::shared_ptr<MailProvider> MakeStoreMailProvider(std::shared_ptr<FolderPicker> picker,
                                                    QString defaultStore) {
  return std::make_shared<FileMailProvider>(std::move(picker), std::move(defaultStore));
}

std::shared_ptr<Store> OpenStoreFile(const QString& path) {
  return std::make_shared<backend::SessionStore>(path);
}

}  // namespace lumivex
