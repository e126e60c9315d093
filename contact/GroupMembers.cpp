#include "contact/GroupMembers.h"

#include "contact/TextOut.h"
#include "contact/VCardWriter.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace lumivex::contact {

namespace {

// A 64-bit hash of an address as it is compared: trimmed and without case. Most addresses are
// ASCII: folded on the stack, without the two strings trimmed() and toCaseFolded() would make.
quint64 AddressHash(const QString& address) {
  QStringView text = QStringView(address).trimmed();
  char16_t folded[128];
  if (text.size() <= qsizetype(std::size(folded))) {
    const char16_t* units = text.utf16();
    bool ascii = true;
    for (qsizetype i = 0; i < text.size() && ascii; ++i) {
      const char16_t u = units[i];
      ascii = u < 0x80;
      folded[i] = u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
    }
    if (ascii) return qHash(QStringView(folded, text.size()), size_t(0x51ed270b));
  }
  return qHash(text.toString().toCaseFolded(), size_t(0x51ed270b));
}

// `value` appended to `out` as it is in memory.
template <typename T>
void Put(QByteArray& out, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  AppendBytes(out, QByteArrayView(reinterpret_cast<const char*>(&value), qsizetype(sizeof value)));
}

}  // namespace

MemberCards::Address MemberCards::AddressKey(const QString& address) {
  const quint64 hash = AddressHash(address);
  return {quint32(hash), quint32(hash >> 32)};
}

quint32 MemberCards::NameKey(const Contact& contact) {
  const size_t h =
      qHashMulti(size_t(0x2545f491), contact.displayName, contact.givenName, contact.surname);
  return quint32(h ^ (quint64(h) >> 32)) | 1;
}

void MemberCards::Note(const Contact& contact) {
  if (contact.isGroup || contact.uid.trimmed().isEmpty()) return;
  // Before the contact's addresses, not after: those of the contact noted last stay in memory
  // for Renamed.
  if (byAddress_.size() >= qsizetype(inMemory_) && !memoryOnly_) Spill();
  Card card;
  for (const Email& email : contact.emails) {
    if (QStringView(email.address).trimmed().isEmpty()) continue;
    if (card.card.isNull()) card = {QUuid::fromString(CardUuid(contact.uid)), NameKey(contact)};
    NoteAddress(AddressKey(email.address), card);
  }
}

void MemberCards::NoteAddress(Address address, const Card& card) {
  Card& noted = byAddress_[address];
  if (noted.card.isNull() && noted.name == 0)
    noted = card;  // the first card an address is met on keeps it
  else if (noted.name != card.name)
    noted.card = QUuid();  // but not where a card of another name has it too
}

void MemberCards::AheadNote(const Contact& contact, QByteArray& out) {
  // How many addresses (one byte: a card with more than 255 has the rest left out), then the
  // card's uuid and name, then the addresses' keys.
  const qsizetype count = out.size();
  out.append('\0');
  if (contact.isGroup || contact.uid.trimmed().isEmpty()) return;
  int n = 0;
  for (const Email& email : contact.emails) {
    if (QStringView(email.address).trimmed().isEmpty()) continue;
    // As they are in memory: read back by the same program.
    if (n == 0) {
      const Card card{QUuid::fromString(CardUuid(contact.uid)), NameKey(contact)};
      Put(out, card.card);
      Put(out, card.name);
    }
    Put(out, AddressKey(email.address));
    if (++n == 255) break;
  }
  out[count] = static_cast<char>(n);
}

QByteArrayView MemberCards::NoteAhead(QByteArrayView written) {
  if (written.isEmpty()) return written;
  const int n = static_cast<unsigned char>(written[0]);
  const qsizetype size =
      1 + (n == 0 ? 0 : qsizetype(sizeof(QUuid) + sizeof(quint32) + n * sizeof(Address)));
  if (written.size() < size) return {};
  if (n > 0) {
    if (byAddress_.size() >= qsizetype(inMemory_) && !memoryOnly_) Spill();
    const char* at = written.data() + 1;
    Card card;
    std::memcpy(&card.card, at, sizeof card.card);
    std::memcpy(&card.name, at + sizeof card.card, sizeof card.name);
    at += sizeof card.card + sizeof card.name;
    for (int k = 0; k < n; ++k, at += sizeof(Address)) {
      Address key;
      std::memcpy(&key, at, sizeof key);
      NoteAddress(key, card);
    }
  }
  return written.sliced(size);
}

void MemberCards::Spill() {
  if (!file_.IsOpen() && !file_.Open()) {
    memoryOnly_ = true;
    return;
  }
  std::vector<Noted> run;
  run.reserve(size_t(byAddress_.size()));
  for (auto it = byAddress_.cbegin(); it != byAddress_.cend(); ++it)
    run.push_back({it.key(), it.value()});
  std::sort(run.begin(), run.end(),
            [](const Noted& a, const Noted& b) { return a.address < b.address; });
  const int64_t first = file_.Size() / int64_t(sizeof(Noted));
  if (!file_.Append(reinterpret_cast<const char*>(run.data()),
                    int64_t(run.size() * sizeof(Noted)))) {
    memoryOnly_ = true;  // the disk is full: what is in memory stays there, and what comes after
    return;
  }
  runs_.emplace_back(first, qint64(run.size()));
  byAddress_ = {};
}

bool MemberCards::Find(Address address, Card& found) const {
  bool any = false;
  const auto take = [&](const Card& noted) {
    if (!any)
      found = noted;
    else if (noted.name != found.name || noted.card.isNull())
      found.card = QUuid();
    any = true;
  };
  // A search of each run in the file, a record read at each step: lists' members are few.
  for (const auto& [first, count] : runs_) {
    qint64 low = 0, high = count;
    while (low < high) {
      const qint64 mid = low + (high - low) / 2;
      Noted noted;
      const qint64 at = (first + mid) * qint64(sizeof(Noted));
      if (file_.ReadUpTo(reinterpret_cast<char*>(&noted), at, sizeof noted) !=
          int64_t(sizeof noted))
        break;
      if (noted.address == address) {
        take(noted.held);
        break;
      }
      if (noted.address < address)
        low = mid + 1;
      else
        high = mid;
    }
  }
  if (const auto it = byAddress_.constFind(address); it != byAddress_.cend()) take(*it);
  return any;
}

void MemberCards::Renamed(const QString& was, const Contact& contact) {
  if (contact.isGroup || was == contact.uid || contact.uid.trimmed().isEmpty()) return;
  const QUuid before = QUuid::fromString(CardUuid(was)),
              now = QUuid::fromString(CardUuid(contact.uid));
  for (const Email& email : contact.emails) {
    const auto it = byAddress_.find(AddressKey(email.address));
    if (it != byAddress_.end() && it->card == before) it->card = now;
  }
}

QString MemberCards::CardOf(const QString& address, bool* shared) const {
  if (shared) *shared = false;
  if (QStringView(address).trimmed().isEmpty()) return {};
  Card found;
  if (!Find(AddressKey(address), found)) return {};
  if (shared) *shared = found.card.isNull();
  return found.card.isNull() ? QString() : found.card.toString(QUuid::WithoutBraces);
}

bool GroupsLast::Next(SourcedContact& out) {
  while (!innerDone_) {
    if (!inner_.Next(out)) {
      innerDone_ = true;
      break;
    }
    if (!out.contact.isGroup) {
      // One given as written is noted by its consumer, from what it wrote ahead.
      if (out.written.isEmpty()) cards_.Note(out.contact);
      return true;
    }
    groups_.push_back(std::move(out));
    out = SourcedContact();
  }
  if (groups_.empty()) return false;
  out = std::move(groups_.front());
  groups_.pop_front();
  return true;
}

}  // namespace lumivex::contact
