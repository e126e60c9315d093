#include "contact/GroupMembers.h"

#include "contact/VCardWriter.h"

#include <iterator>

namespace lumivex::contact {

quint64 MemberCards::AddressKey(const QString& address) {
  // Addresses are compared trimmed and without case. Most are ASCII: folded on the stack, without
  // the two strings trimmed() and toCaseFolded() would make.
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

void MemberCards::Note(const Contact& contact) {
  if (contact.isGroup || contact.uid.trimmed().isEmpty()) return;
  QUuid card;
  for (const Email& email : contact.emails) {
    if (QStringView(email.address).trimmed().isEmpty()) continue;
    if (card.isNull()) card = QUuid::fromString(CardUuid(contact.uid));
    QUuid& noted = byAddress_[AddressKey(email.address)];
    if (noted.isNull()) noted = card;  // the first card an address is met on keeps it
  }
}

void MemberCards::Renamed(const QString& was, const Contact& contact) {
  if (contact.isGroup || was == contact.uid || contact.uid.trimmed().isEmpty()) return;
  const QUuid before = QUuid::fromString(CardUuid(was)),
              now = QUuid::fromString(CardUuid(contact.uid));
  for (const Email& email : contact.emails) {
    const auto it = byAddress_.find(AddressKey(email.address));
    if (it != byAddress_.end() && *it == before) *it = now;
  }
}

QString MemberCards::CardOf(const QString& address) const {
  if (QStringView(address).trimmed().isEmpty()) return {};
  const auto it = byAddress_.constFind(AddressKey(address));
  return it == byAddress_.cend() ? QString() : it->toString(QUuid::WithoutBraces);
}

bool GroupsLast::Next(SourcedContact& out) {
  while (!innerDone_) {
    if (!inner_.Next(out)) {
      innerDone_ = true;
      break;
    }
    if (!out.contact.isGroup) {
      cards_.Note(out.contact);
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
