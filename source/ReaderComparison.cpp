// libpff's reading of a store our reader refused, held against what our reader can still read of
// the same file item by item (StoreFileReaders.h, CompareReadings). libpff reads past damage our
// reader stops at, and then may give a folder without some of its entries, entries without their
// named properties, or one entry's data in another's place: each of these is damage to tell.
#include "source/StoreFileReaders.h"

#include <QCryptographicHash>
#include <QHash>

namespace lumivex::storefile::detail {

namespace {

constexpr uint32_t kTagMessageClass = 0x001A;
constexpr uint32_t kTagDisplayName = 0x3001;
constexpr uint32_t kTagSearchKey = 0x300B;
constexpr uint32_t kTagCreationTime = 0x3007;
// libpff finds each entry of a folder by a linear search: the first entries of a large store
// are compared, not all of them.
constexpr int kEntriesCompared = 5000;
// Entries whose named properties are asked of libpff before they are known to resolve.
constexpr int kNamedEntriesAsked = 20;

QByteArray Value(const ItemImpl& item, uint32_t id) {
  const int index = item.Find(id);
  QByteArray bytes;
  if (index >= 0) item.Data(index, bytes);
  return bytes;
}

QString Text(const ItemImpl& item, uint32_t id) {
  const int index = item.Find(id);
  uint32_t tag = 0, type = 0;
  QByteArray bytes;
  if (index < 0 || !item.PropertyTag(index, tag, type) || !item.Data(index, bytes)) return {};
  return type == kTypeUnicode ? DecodeUtf16(bytes) : DecodeString8(bytes, 1252);
}

// Every property of `item`, tags and bytes, as one digest: two entries with the same one hold
// the same data.
QByteArray Digest(const ItemImpl& item) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  const int count = item.PropertyCount();
  QByteArray bytes;
  for (int i = 0; i < count; ++i) {
    uint32_t id = 0, type = 0;
    if (!item.PropertyTag(i, id, type) || !item.Data(i, bytes)) continue;
    const uint32_t tag[2] = {id, type};
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(tag), sizeof tag));
    hash.addData(bytes);
  }
  return hash.result();
}

class Comparison {
 public:
  Comparison(FileImpl& other, FileImpl* own) : other_(other), own_(own) {}

  QStringList Run() {
    QString why;
    if (auto root = other_.RootFolder(why)) Folder(*root, QString(), 0);
    if (namedUnresolved_ > 0 && namedResolved_ == 0)
      found_ << QStringLiteral(
          "libpff cannot resolve the store's named properties, so every contact's e-mail "
          "addresses, business address, web page and categories are missing");
    return found_;
  }

 private:
  void Folder(ItemImpl& theirs, const QString& path, int depth) {
    if (depth > 64) return;
    const int count = theirs.MessageCount();
    if (auto mine = own_ ? own_->ItemById(theirs.Id()) : nullptr;
        mine && mine->PropertyCount() >= 0) {
      const int listed = mine->MessageCount();
      if (count >= 0 && listed >= 0 && count != listed)
        found_ << QStringLiteral(
                      "libpff reads %1 entries in \"%2\", whose list of entries holds %3")
                      .arg(count)
                      .arg(path, QString::number(listed));
    }
    QHash<QByteArray, int> seen;  // an entry's data, by digest: its position
    for (int i = 0; i < count && compared_ < kEntriesCompared; ++i, ++compared_) {
      QString why;
      const auto entry = theirs.Message(i, why);
      if (!entry || entry->PropertyCount() < 0) continue;
      Entry(*entry, path, i + 1, seen);
    }
    const int folders = theirs.SubFolderCount();
    for (int i = 0; i < folders; ++i) {
      QString why;
      const auto sub = theirs.SubFolder(i, why);
      if (!sub) continue;
      const QString name = Text(*sub, kTagDisplayName);
      Folder(*sub, path.isEmpty() ? name : path + u'/' + name, depth + 1);
    }
  }

  void Entry(ItemImpl& entry, const QString& path, int position, QHash<QByteArray, int>& seen) {
    const QString name = Text(entry, kTagDisplayName);
    const QByteArray digest = Digest(entry);
    if (const auto first = seen.constFind(digest); first != seen.cend()) {
      found_ << QStringLiteral(
                    "libpff reads entries %1 and %2 of \"%3\" (\"%4\") as the same data: one of "
                    "them holds the other's values")
                    .arg(*first)
                    .arg(position)
                    .arg(path, name);
    } else {
      seen.insert(digest, position);
    }
    // The entry's own node, where our reader can still find and read it.
    if (auto mine = own_ ? own_->ItemById(entry.Id()) : nullptr;
        mine && mine->PropertyCount() >= 0) {
      for (uint32_t id : {kTagMessageClass, kTagDisplayName, kTagSearchKey, kTagCreationTime}) {
        if (Value(entry, id) == Value(*mine, id)) continue;
        found_ << QStringLiteral(
                      "libpff reads entry %1 of \"%2\" (\"%3\") with values its own node does "
                      "not hold")
                      .arg(position)
                      .arg(path, name);
        break;
      }
    }
    if (askedNamed_ >= kNamedEntriesAsked || namedResolved_ > 0) return;
    bool asked = false;
    for (int i = 0; i < entry.PropertyCount(); ++i) {
      uint32_t id = 0, type = 0;
      if (!entry.PropertyTag(i, id, type) || id < 0x8000 || id > 0xFFFF) continue;
      asked = true;
      (other_.Named(id, entry, i) ? namedResolved_ : namedUnresolved_)++;
    }
    askedNamed_ += asked;
  }

  FileImpl& other_;
  FileImpl* own_;  // null when our reader cannot open the file even item by item
  QStringList found_;
  int compared_ = 0;
  int askedNamed_ = 0;
  int namedResolved_ = 0;
  int namedUnresolved_ = 0;
};

}  // namespace

QStringList CompareReadings(FileImpl& other, FileImpl* own) {
  return Comparison(other, own).Run();
}

}  // namespace lumivex::storefile::detail
