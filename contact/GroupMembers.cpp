#include "contact/GroupMembers.h"

#include "contact/VCardWriter.h"

namespace lumivex::contact {

void MemberCards::Note(const Contact& contact) {
  if (contact.isGroup || contact.uid.trimmed().isEmpty()) return;
  for (const Email& email : contact.emails) {
    const QString key = email.address.trimmed().toCaseFolded();
    if (!key.isEmpty() && !byAddress_.contains(key)) byAddress_.insert(key, CardUuid(contact.uid));
  }
}

void MemberCards::Renamed(const QString& was, const Contact& contact) {
  if (contact.isGroup || was == contact.uid || contact.uid.trimmed().isEmpty()) return;
  const QString before = CardUuid(was), now = CardUuid(contact.uid);
  for (const Email& email : contact.emails) {
    const auto it = byAddress_.find(email.address.trimmed().toCaseFolded());
    if (it != byAddress_.end() && *it == before) *it = now;
  }
}

QString MemberCards::CardOf(const QString& address) const {
  return byAddress_.value(address.trimmed().toCaseFolded());
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
