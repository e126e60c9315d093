#include "source/MailStore.h"

#include <QStringList>

namespace lumivex {

namespace {
std::shared_ptr<MailProvider>& ProviderSlot() {
  static std::shared_ptr<MailProvider> provider;
  return provider;
}
}  // namespace

std::shared_ptr<Folder> FindFolder(const Store& store, const QString& path) {
  std::shared_ptr<Folder> folder = store.RootFolder();
  for (const QString& name : path.split(u'/', Qt::SkipEmptyParts)) {
    std::shared_ptr<Folder> next;
    for (auto& sub : folder->SubFolders()) {
      if (sub->Name() == name) {
        next = sub;
        break;
      }
    }
    if (!next) return nullptr;
    folder = std::move(next);
  }
  return folder;
}

MailProvider& CurrentMailProvider() {
  auto& provider = ProviderSlot();
  if (!provider) throw StoreError("No mail store backend has been set up");
  return *provider;
}

void SetMailProvider(std::shared_ptr<MailProvider> provider) { ProviderSlot() = std::move(provider); }

}  // namespace lumivex
