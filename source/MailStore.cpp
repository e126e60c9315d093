#include "source/MailStore.h"

#include "source/ContactProperties.h"

#include <QStringView>

namespace lumivex {

namespace {
std::shared_ptr<MailProvider>& ProviderSlot() {
  static std::shared_ptr<MailProvider> provider;
  return provider;
}
}  // namespace

namespace {

// The folder under `folder` at `rest`. A folder's own name may hold "/" ("Family/Friends"), so
// each sub-folder whose name matches the start of `rest` is followed in turn.
std::shared_ptr<Folder> FindBelow(const std::shared_ptr<Folder>& folder, QStringView rest,
                                  int depth) {
  while (rest.startsWith(u'/')) rest = rest.mid(1);
  if (rest.isEmpty()) return folder;
  constexpr int kMaxDepth = 64;  // a damaged store could nest its folders in a loop
  if (depth >= kMaxDepth) return nullptr;
  for (const auto& sub : folder->SubFolders()) {
    const QString name = sub->Name();
    if (name.isEmpty() || !rest.startsWith(name)) continue;
    if (rest.size() != name.size() && rest[name.size()] != u'/') continue;
    if (auto found = FindBelow(sub, rest.mid(name.size()), depth + 1)) return found;
  }
  return nullptr;
}

}  // namespace

int ContactEntry::ReadFields(std::span<const int> fields, QString* values, QString& why) const {
  int read = 0;
  bool failed = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (Read(SlotName(fields[i]), values[i])) {
      ++read;
    } else if (!failed) {
      why = Failure();
      failed = true;
    }
  }
  return read;
}

bool ContactEntry::ReadContact(contact::Contact& contact, QString& why) const {
  (void)contact;
  why = QStringLiteral("this store gives no full contact records");
  return false;
}

std::shared_ptr<Folder> FindFolder(const Store& store, const QString& path) {
  return FindBelow(store.RootFolder(), path, 0);
}

MailProvider& CurrentMailProvider() {
  auto& provider = ProviderSlot();
  if (!provider) throw StoreError("No mail store backend has been set up");
  return *provider;
}

void SetMailProvider(std::shared_ptr<MailProvider> provider) {
  ProviderSlot() = std::move(provider);
}

}  // namespace lumivex
