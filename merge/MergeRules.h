// When two entries are the same person, and how the entries of one person become one contact.
// The review window and the command line both merge through these rules.
//
// The same person:
//   - the same entry: copies of one entry (a store and its backup) share the entry's uid;
//   - an e-mail address in common (SMTP form, compared without case; an Exchange entry is
//     compared by the SMTP form the store resolves it to);
//   - else the same full name and a telephone number in common (digits compared, spacing and a
//     leading country code or trunk prefix ignored);
//   - else the same full name and company.
// A distribution list is only ever the same as a list of the same name and the same members.
//
// The merged contact: the union of e-mail addresses, telephones, postal addresses, web pages and
// categories without repeats (the newest entry's first; web pages beyond the two slots of the
// contact model among its further pages); every single value from the most recently modified
// entry, taken from older ones where it is empty; different notes joined, newest first, with a
// separator line; the picture of the newest entry that has one; the uid shared by all entries,
// else the least of their uids, so that the same stores always give the same uids.
#pragma once

#include "contact/Contact.h"

#include <QSet>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace lumivex::merge {

// Why entries were taken as one person, strongest first.
enum class MatchRule : uint8_t { kNone, kSameEntry, kEmail, kNameAndPhone, kNameAndCompany, kList };

// The words a merge report uses for a rule ("same e-mail address", ...).
QString RuleText(MatchRule rule);

// The line between the notes of two merged entries.
inline constexpr char16_t kNoteSeparator[] = u"\n----------\n";

// An address in the form it is compared in: trimmed and without case; empty when none.
QString ComparableEmail(const QString& address);
// A telephone number's digits without a leading country code or trunk prefix ("+49 30 123456",
// "0049 30 123456" and "030 123456" all give "30123456"); empty when fewer than five digits
// remain.
QString ComparablePhone(const QString& number);
// The full name in the form it is compared in: display name, else the name parts; spacing
// collapsed and without case.
QString ComparableName(const contact::Contact& contact);

// What an entry is matched by: 64-bit hashes of its comparable values, each tagged with its rule.
struct MatchKey {
  uint64_t hash = 0;
  MatchRule rule = MatchRule::kNone;
};
// The keys of `contact`, strongest rule first.
void MatchKeys(const contact::Contact& contact, std::vector<MatchKey>& out);

// Merges the entries of one person into one contact, the newest first, then each older one in
// turn: what the contact lacks is taken from the older entry; lists are joined. The compared
// forms of the contact's e-mail addresses, telephones and postal addresses are made once for the
// whole group and looked up by hash, not made again for every older entry: a group of many
// entries would otherwise cost the square of its size.
class Combiner {
 public:
  // Merges into `newest`, which must outlive the combiner.
  explicit Combiner(contact::Contact& newest) : into_(newest) {}
  void Add(const contact::Contact& older);

 private:
  // An address as it is compared: kind, street and postal code as they are (spacing
  // collapsed), the others without case.
  struct AddressForm {
    contact::AddressKind kind;
    QString street, poBox, city, state, postalCode, country;
    size_t hash = 0;  // of kind, street and postal code, the parts compared with case
  };
  static AddressForm FormOf(const contact::Address& a);
  static bool Same(const AddressForm& a, const AddressForm& b);
  void AddEmails(const std::vector<contact::Email>& older);
  void AddPhones(const std::vector<contact::Phone>& older);
  void AddAddresses(const std::vector<contact::Address>& older);

  contact::Contact& into_;
  // The forms of into_'s values so far; made when an older entry first has values of the kind.
  bool emailsKnown_ = false, phonesKnown_ = false, addressesKnown_ = false;
  // Compared forms seen so far: looked through in a list while there are few, as in most groups;
  // by hash once there are many, so that a large group does not cost the square of its size.
  class Seen {
   public:
    bool Contains(const QString& form) const {
      return many_.isEmpty() ? std::find(few_.begin(), few_.end(), form) != few_.end()
                             : many_.contains(form);
    }
    void Insert(QString form) {
      if (many_.isEmpty() && few_.size() < 16) {
        few_.push_back(std::move(form));
        return;
      }
      for (QString& f : few_) many_.insert(std::move(f));
      few_.clear();
      many_.insert(std::move(form));
    }

   private:
    std::vector<QString> few_;
    QSet<QString> many_;
  };
  Seen emails_, phones_;
  std::vector<AddressForm> addresses_;
  std::unordered_multimap<size_t, size_t> addressIndex_;  // hash: index in addresses_
};

// Merges `older` into `newer`: what `newer` lacks is taken from `older`; lists are joined.
void Combine(contact::Contact& newer, const contact::Contact& older);

}  // namespace lumivex::merge
