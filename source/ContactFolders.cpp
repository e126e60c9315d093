#include "source/ContactFolders.h"

#include <QStringList>

namespace lumivex {

namespace {

constexpr int kMaxFolderDepth = 64;  // a damaged store could nest its folders in a loop

// The contact and list entries of a folder of another class: each entry's message class is
// read. An entry that cannot be opened counts as none (the export of that folder reports it).
int ContactEntries(const Items& items) {
  int contacts = 0;
  const int count = items.Count();
  for (int i = 0; i < count; ++i) {
    QString messageClass;
    try {
      const std::unique_ptr<ContactEntry> entry = items.Item(i);
      if (entry && entry->Read("MessageClass", messageClass) && IsContactClass(messageClass))
        ++contacts;
    } catch (const StoreError&) {
    }
  }
  return contacts;
}

void Search(const std::shared_ptr<Folder>& folder, int depth, ContactFolderSearch& out) {
  if (depth >= kMaxFolderDepth) return;
  std::vector<std::shared_ptr<Folder>> subs;
  try {
    subs = folder->SubFolders();
  } catch (const StoreError& e) {
    out.unreadable.push_back(
        {folder->Path(), QString::fromUtf8(e.what()), UnreadableFolder::Part::kFoldersUnder});
    return;
  }
  for (const auto& sub : subs) {
    const QString damage = sub->Unreadable();
    if (!damage.isEmpty()) {
      out.unreadable.push_back({sub->Path(), damage});
      continue;
    }
    if (sub->Hidden()) continue;
    try {
      const std::shared_ptr<Items> items = sub->GetItems();
      if (const FolderRole role = sub->Role(); role != FolderRole::kOwn) {
        const int contacts = sub->DefaultItemType() == kContactItem ? std::max(0, items->Count())
                                                                    : ContactEntries(*items);
        if (contacts > 0) out.leftOut.push_back({sub, role, contacts});
        continue;
      }
      if (sub->DefaultItemType() == kContactItem)
        out.folders.push_back({sub, std::max(0, items->Count())});
      else if (const int contacts = ContactEntries(*items); contacts > 0)
        out.folders.push_back({sub, contacts});
    } catch (const StoreError& e) {
      out.unreadable.push_back(
          {sub->Path(), QString::fromUtf8(e.what()), UnreadableFolder::Part::kEntries});
    }
    Search(sub, depth + 1, out);
  }
}

}  // namespace

bool IsContactClass(const QString& messageClass) {
  for (const char16_t* kind : {u"IPM.Contact", u"IPM.DistList"}) {
    const QStringView k(kind);
    if (messageClass.compare(k, Qt::CaseInsensitive) == 0 ||
        (messageClass.size() > k.size() && messageClass.startsWith(k, Qt::CaseInsensitive) &&
         messageClass[k.size()] == u'.'))
      return true;
  }
  return false;
}

ContactFolderSearch FindContactFolders(const Store& store) {
  ContactFolderSearch search;
  Search(store.RootFolder(), 0, search);
  return search;
}

QString ContactsKeptIn(const ContactFolderSearch& search, bool allFolders) {
  QStringList holding;
  const ContactFolderSearch::Found* first = nullptr;
  for (const auto& found : search.folders) {
    if (found.contacts == 0) continue;
    if (!first) first = &found;
    holding << QStringLiteral("\"%1\" (%2 %3)")
                   .arg(found.folder->Path())
                   .arg(found.contacts)
                   .arg(found.contacts == 1 ? QStringLiteral("contact")
                                            : QStringLiteral("contacts"));
  }
  if (!first) return {};
  return QStringLiteral("contacts are kept in %1: name one with --folder \"%2\"%3")
      .arg(holding.join(QStringLiteral(", ")), first->folder->Path(),
           allFolders ? QStringLiteral(", or take all of them with --all-folders") : QString());
}

QString ContactFoldersAdvice(const ContactFolderSearch& search, const QString& storePath,
                             bool allFolders) {
  const QString where = ContactsKeptIn(search, allFolders);
  if (where.isEmpty()) return {};
  return QStringLiteral("%1 has no contacts folder, but %2").arg(storePath, where);
}

QString ContactsKeptElsewhere(const Store& store, bool allFolders) {
  const std::shared_ptr<Folder> contacts = store.DefaultContactsFolder();
  if (!contacts) return {};
  try {
    if (contacts->GetItems()->Count() != 0) return {};
    // The default folder holds none, so it is not among those the advice names.
    return ContactsKeptIn(FindContactFolders(store), allFolders);
  } catch (const StoreError&) {
    return {};  // a folder that cannot be read is reported where it is read
  }
}

QString MissingContactsFolder(const ContactFolderSearch& search, const QString& storePath,
                              bool allFolders) {
  const QString advice = ContactFoldersAdvice(search, storePath, allFolders);
  if (!advice.isEmpty() || search.unreadable.empty()) return advice;
  return QStringLiteral(
             "%1 has no contacts folder that can be read: %2 of its folders cannot be read, so "
             "the store is damaged (see 'lumivex-cli folders %1')")
      .arg(storePath)
      .arg(search.unreadable.size());
}

}  // namespace lumivex
