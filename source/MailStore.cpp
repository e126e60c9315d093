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
// each sub-folder whose name matches the start of `rest` is followed in turn. A sub-folder
// without a name has its parent's path and "/" ("Top of Personal Folders/"): a "/" that ends the
// path, or that another follows, leads to it where there is one.
std::shared_ptr<Folder> FindBelow(const std::shared_ptr<Folder>& folder, QStringView rest,
                                  int depth) {
  constexpr int kMaxDepth = 64;  // a damaged store could nest its folders in a loop
  if (depth >= kMaxDepth) return nullptr;
  if (rest.startsWith(u'/') && (rest.size() == 1 || rest[1] == u'/'))
    for (const auto& sub : folder->SubFolders())
      if (sub->Name().isEmpty())
        if (auto found = FindBelow(sub, rest.mid(1), depth + 1)) return found;
  while (rest.startsWith(u'/')) rest = rest.mid(1);
  if (rest.isEmpty()) return folder;
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

QString FolderRoleText(FolderRole role) {
  switch (role) {
    case FolderRole::kOwn:
      return {};
    case FolderRole::kDeletedItems:
      return QStringLiteral("deleted items");
    case FolderRole::kSuggestedContacts:
      return QStringLiteral("contacts the mail client suggested by itself");
    case FolderRole::kRecipientCache:
      return QStringLiteral("addresses the mail client remembered from mail");
    case FolderRole::kAddressListCopy:
      return QStringLiteral("a copy of the organisation's address list");
    case FolderRole::kMessengerContacts:
      return QStringLiteral("the instant-messaging program's contact list");
    case FolderRole::kConflicts:
      return QStringLiteral("copies kept from synchronisation conflicts");
  }
  return {};
}

FolderRole Folder::Role() const {
  const QString type = ContainerClass();
  const auto classIs = [&type](const char16_t* c) {
    return type.compare(QStringView(c), Qt::CaseInsensitive) == 0;
  };
  if (classIs(u"IPF.Contact.RecipientCache")) return FolderRole::kRecipientCache;
  if (classIs(u"IPF.Contact.GalContacts") || classIs(u"IPF.Contact.OrganizationalContacts"))
    return FolderRole::kAddressListCopy;
  if (classIs(u"IPF.Contact.PeopleCentricConversationBuddies"))
    return FolderRole::kSuggestedContacts;
  if (type.startsWith(u"IPF.Contact.MOC.", Qt::CaseInsensitive))
    return FolderRole::kMessengerContacts;
  // Stores that do not name them (older mail clients, other writers): the English names.
  const QString name = Name();
  const auto named = [&name](const char16_t* n) {
    return name.compare(QStringView(n), Qt::CaseInsensitive) == 0;
  };
  if (named(u"Suggested Contacts")) return FolderRole::kSuggestedContacts;
  if (named(u"Recipient Cache")) return FolderRole::kRecipientCache;
  if (named(u"GAL Contacts") || named(u"Organizational Contacts"))
    return FolderRole::kAddressListCopy;
  if (named(u"Quick Contacts")) return FolderRole::kMessengerContacts;
  if (named(u"Conflicts") || named(u"Sync Issues") || named(u"Local Failures") ||
      named(u"Server Failures"))
    return FolderRole::kConflicts;
  if (named(u"Deleted Items")) return FolderRole::kDeletedItems;
  return FolderRole::kOwn;
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
