#include "source/StoreContactStream.h"

#include "contact/CardUuid.h"
#include "source/ContactFolders.h"

#include <algorithm>

namespace lumivex {

namespace {

// The uid of an entry that has none: made from where it is.
QString PlaceUid(const QString& folder, int position) {
  return contact::CardUuid(QStringLiteral("%1|%2").arg(folder).arg(position));
}

}  // namespace

std::vector<std::shared_ptr<Folder>> ContactFolders(const Store& store) {
  std::vector<std::shared_ptr<Folder>> folders;
  for (const auto& found : FindContactFolders(store).folders) folders.push_back(found.folder);
  return folders;
}

bool IsAutoCollected(const Folder& folder) {
  return folder.Role() != FolderRole::kOwn;
}

bool ContactsOnly(const Folder& folder) {
  return folder.DefaultItemType() != kContactItem;
}

bool GivenAsContact(bool contactsOnly, const contact::Contact& entry) {
  return !contactsOnly || IsContactClass(entry.messageClass);
}

struct StoreContactStream::Work {
  int store = 0;
  QString path;
  std::shared_ptr<Items> items;
  int count = 0;
  bool contactsOnly = false;  // a folder of another class: only its contacts and lists are given
};

StoreContactStream::StoreContactStream(std::vector<StoreFolders> sources)
    : sources_(std::move(sources)) {
  for (size_t s = 0; s < sources_.size(); ++s) {
    problems_.insert(problems_.end(), sources_[s].storesLeftOut.begin(),
                     sources_[s].storesLeftOut.end());
    // The store's own damage, once for the store whatever number of its folders is read.
    if (!sources_[s].folders.empty())
      for (const QString& damage : sources_[s].folders.front()->StoreDamage())
        problems_.push_back({QString(), 0, damage, false, sources_[s].path, false, true});
    for (const auto& folder : sources_[s].folders) {
      Work w;
      w.store = static_cast<int>(s);
      w.path = folder->Path();
      try {
        w.items = folder->GetItems();
        w.count = std::max(0, w.items->Count());
      } catch (const StoreError& e) {
        throw StoreError(QStringLiteral("Cannot read the folder \"%1\"%2: %3")
                             .arg(w.path,
                                  sources_[s].path.isEmpty()
                                      ? QString()
                                      : QStringLiteral(" of %1").arg(sources_[s].path),
                                  QString::fromUtf8(e.what()))
                             .toStdString());
      }
      w.contactsOnly = ContactsOnly(*folder);
      // The same check of a folder as every form makes: a list of entries shorter than the
      // folder's own count has lost some.
      const QString missing = folder->MissingEntries();
      if (!missing.isEmpty()) problems_.push_back({w.path, 0, missing, false, sources_[s].path});
      total_ += w.count;
      withEntries_ += w.count > 0;
      work_.push_back(std::move(w));
    }
  }
}

QStringList StoreContactStream::NewUidStores() const {
  QStringList stores;
  for (const StoreFolders& source : sources_)
    if (!source.folders.empty() && source.folders.front()->NewUids() &&
        !stores.contains(source.path))
      stores << source.path;
  return stores;
}

StoreContactStream::~StoreContactStream() = default;

contact::Origin StoreContactStream::MakeOrigin(int folder, int position,
                                               const QDateTime& lastModified) const {
  const Work& w = work_[size_t(folder)];
  return contact::Origin{sources_[size_t(w.store)].path, w.path, position, lastModified};
}

void StoreContactStream::PlaceOrigin(int folder, int position, contact::Origin& origin) const {
  const Work& w = work_[size_t(folder)];
  const QString& store = sources_[size_t(w.store)].path;
  if (!origin.store.isSharedWith(store)) origin.store = store;
  if (!origin.folder.isSharedWith(w.path)) origin.folder = w.path;
  origin.position = position;
}

bool StoreContactStream::Next(contact::SourcedContact& out) {
  while (work_index_ < work_.size()) {
    const Work& w = work_[work_index_];
    if (position_ >= w.count) {
      ++work_index_;
      position_ = 0;
      continue;
    }
    const int i = position_++;
    QString why;
    bool read = false;
    try {
      const std::unique_ptr<ContactEntry> entry = w.items->Item(i);
      read = entry && entry->ReadContact(out.contact, why);
      if (!read && why.isEmpty() && entry) why = entry->Failure();
      // A part the store lost is told even where the entry's reading does not miss it.
      if (read && why.isEmpty() && entry) why = entry->Damage();
    } catch (const std::exception& e) {
      why = QString::fromUtf8(e.what());
    }
    const QString& store = sources_[size_t(w.store)].path;
    if (!read) {
      // Whatever was read of it stays out: the entry is reported, never given.
      problems_.push_back({w.path, i + 1,
                           why.isEmpty() ? QStringLiteral("the entry cannot be read") : why, false,
                           store});
      continue;
    }
    if (out.contact.uid.isEmpty()) out.contact.uid = PlaceUid(w.path, i + 1);
    // Mail kept beside contacts in a folder of another class is passed over.
    if (!GivenAsContact(w.contactsOnly, out.contact)) continue;
    // Read, less the fields `why` names: given, and told of.
    if (!why.isEmpty()) problems_.push_back({w.path, i + 1, why, false, store, true});
    out.origins.resize(1);
    out.origins[0] = contact::Origin{.store = store,
                                     .folder = w.path,
                                     .position = i + 1,
                                     .lastModified = out.contact.lastModified,
                                     .entry = out.contact.uid,
                                     .made = out.contact.created};
    out.mergeRule.clear();
    last_folder_ = static_cast<int>(work_index_);
    return true;
  }
  return false;
}

bool StoreContactStream::InLastStore() const {
  return !work_.empty() && size_t(work_[size_t(last_folder_)].store) + 1 == sources_.size();
}

void StoreContactStream::ReadAgain(int folder, int position, contact::Contact& out) const {
  const Work& w = work_[size_t(folder)];
  QString why;
  bool read = false;
  try {
    const std::unique_ptr<ContactEntry> entry = w.items->Item(position - 1);
    read = entry && entry->ReadContact(out, why);
  } catch (const std::exception& e) {
    why = QString::fromUtf8(e.what());
  }
  if (!read)
    throw StoreError(QStringLiteral("Entry %1 of the folder \"%2\" of %3 could be read once, "
                                    "but not a second time%4")
                         .arg(position)
                         .arg(w.path, sources_[size_t(w.store)].path,
                              why.isEmpty() ? QString() : QStringLiteral(": ") + why)
                         .toStdString());
  if (out.uid.isEmpty()) out.uid = PlaceUid(w.path, position);
}

}  // namespace lumivex
