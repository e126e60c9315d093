// The members of a distribution list: entries of the same store read from those entries, and
// one-off addresses as the list writes them.
#include "source/EntryValues.h"
#include "source/FileContactEntry.h"

#include <algorithm>

namespace lumivex::backend {

bool FileContactEntry::ReadMembers(std::vector<contact::Member>& members, QString& why) const {
  std::vector<QByteArray> linked, oneOff;
  const int linkedIndex = index_[kDistributionListMembers];
  const int oneOffIndex = index_[kDistributionListOneOffMembers];
  if ((linkedIndex >= 0 && (types_[kDistributionListMembers] != storefile::kTypeMultiBinary ||
                            !item_->MultiData(linkedIndex, linked))) ||
      (oneOffIndex >= 0 && (types_[kDistributionListOneOffMembers] != storefile::kTypeMultiBinary ||
                            !item_->MultiData(oneOffIndex, oneOff)))) {
    why = QStringLiteral("its list of members cannot be read; the entry is damaged");
    return false;
  }
  const size_t count = std::max(linked.size(), oneOff.size());
  for (size_t i = 0; i < count; ++i) {
    contact::Member member;
    QString type;
    bool found = i < linked.size() && ResolveMember(linked[i], member);
    if (!found && i < linked.size())
      found = ParseOneOff(linked[i], CodePage(), member.name, type, member.address);
    if (!found && i < oneOff.size())
      found = ParseOneOff(oneOff[i], CodePage(), member.name, type, member.address);
    // A member is named as the list names it (the name in its one-off copy, "Ann Smith
    // (Work)"), not as its contact is named, where the list holds a name.
    contact::Member listed;
    if (found && i < oneOff.size() &&
        ParseOneOff(oneOff[i], CodePage(), listed.name, type, listed.address) &&
        !listed.name.trimmed().isEmpty())
      member.name = listed.name;
    if (found) members.push_back(member);
  }
  return true;
}

bool FileContactEntry::ResolveMember(const QByteArray& id, contact::Member& member) const {
  int kind = 0, address = 0;
  uint32_t node = 0;
  if (!ParseWrapped(id, kind, address, node)) return false;
  if (kind == 0) {  // a one-off entry id inside the wrapper
    QString type;
    return ParseOneOff(id.mid(21), CodePage(), member.name, type, member.address);
  }
  constexpr int kContact = 3, kList = 4;
  if (kind != kContact && kind != kList) return false;
  // The wrapped entry id names its store by the store's record key.
  if (!state_->recordKey.isEmpty() && id.mid(25, 16) != state_->recordKey.left(16)) return false;
  std::unique_ptr<storefile::StoreItem> item;
  try {
    item = state_->file->ItemById(node);
  } catch (const StoreError&) {
    return false;
  }
  if (!item) return false;
  const FileContactEntry entry(state_, std::move(item));
  if (!entry.item_ || !entry.ReadText(kFullName, member.name)) return false;
  if (member.name.isEmpty() && !entry.ReadText(kFileUnder, member.name)) return false;
  if (kind == kContact) {
    if (address < 4 || address > 6) return false;  // a fax number: the one-off copy has it
    contact::Email email;
    if (!entry.ReadEmailEntry(address - 4, email)) return false;
    member.address = email.address;
  }
  return true;
}

}  // namespace lumivex::backend
