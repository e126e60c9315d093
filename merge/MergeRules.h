// When two entries are the same person, and how the entries of one person become one contact.
// The review window and the command line both merge through these rules.
//
// The same person: two entries whose names do not conflict (Identity, Compatible) and that share
// strong evidence:
//   - the same entry: copies of one entry (a store and its backup) share the store's record key,
//     the entry's node id and the time it was made (two copies of a store edited apart may give
//     two new entries the same node id: the time tells them apart);
//   - every field equal;
//   - an e-mail address in common (SMTP form, compared without case; an Exchange entry is
//     compared by the SMTP form the store resolves it to);
//   - a telephone number of the person's own in common, compared as the whole international
//     number with its extension (a number written without country code is taken as one of the
//     user's own country); numbers that are nobody's own (the company's main number, faxes, an
//     assistant's) are no evidence. A home number is, but it is a household's: an entry whose
//     name agrees with two people sharing a value ("J. Smith" beside John and Jane Smith) is
//     joined to neither by it.
// Names conflict where a part both hold differs, where one's title says a man and the other's a
// woman ("Mr." and "Mrs."), and where one names two people (a household: "John & Jane Smith")
// and the other one person.
// An entry without a personal name joins a named one only through a value no other named entry
// holds. Entries with the same name and company, and entries sharing an e-mail address under
// another surname (a maiden name), are suggestions: not joined unless the user accepts them.
// A distribution list is only ever the same as a list of the same name whose members are the
// same people after merging.
//
// The merged contact, of the copies of one entry only the one changed last (OlderCopies): the
// union of e-mail addresses, telephones, postal addresses, web pages and
// categories without repeats (the newest entry's first; web pages beyond the two slots of the
// contact model among its further pages); every single value from the most recently modified
// entry, taken from older ones where it is empty, an older entry's different value kept as an
// "Earlier: ..." line of the notes; the name (its parts and the name shown) of the newest entry
// that has one, whole, never pieced together from several; a department, office, manager and
// assistant only from entries of the contact's company, another company's kept with it (beside
// the newer one) or in the notes; different notes joined, newest first, with a separator line;
// the picture of the newest entry that has one; the uid of one of the entries, chosen as
// OpenContacts (ContactSources.h) says.
#pragma once

#include "contact/Contact.h"

#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <unordered_map>
#include <vector>

namespace lumivex::merge {

// Why entries were taken as one person, strongest first. kNameAndCompany and kEmailOtherSurname
// only suggest: they join entries only where the user accepted the suggestion.
enum class MatchRule : uint8_t {
  kNone,
  kSameEntry,
  kEqual,
  kEmail,
  kPhone,
  kNameAndCompany,
  kList,
  kEmailOtherSurname,
};
inline constexpr MatchRule kRulesStrongestFirst[] = {MatchRule::kSameEntry,
                                                     MatchRule::kEqual,
                                                     MatchRule::kEmail,
                                                     MatchRule::kPhone,
                                                     MatchRule::kNameAndCompany,
                                                     MatchRule::kList,
                                                     MatchRule::kEmailOtherSurname};

// The words a merge report uses for a rule ("same e-mail address", ...).
QString RuleText(MatchRule rule);

// The line between the notes of two merged entries.
inline constexpr char16_t kNoteSeparator[] = u"\n----------\n";

// An address in the form it is compared in: trimmed, without "mailto:" or a name before it
// ("Per Lund <per@lund.example>"), and without case; empty when none.
QString ComparableEmail(const QString& address);
// A telephone number as the whole international number: its country code (from the number, else
// `homeCode`, the calling code of the user's country) and the national number without trunk
// prefix, then "x" and the extension where it has one ("+49 30 123456" and, with home code 49,
// "030 123456" both give "4930123456"; "+1 212 555 0100 ext. 12" gives "12125550100x12"). The
// numbers of Italy, San Marino and the Vatican City keep their leading 0: it is no trunk prefix
// there ("+39 0331 234567" and, with home code 39, "0331 234567" give "390331234567").
// Without a country code in the number nor a home code, "0" and the national number. Empty when
// fewer than five digits remain.
QString ComparablePhone(const QString& number, int homeCode);
// The calling code of the country of the user's locale (49 for de_DE); 0 when not known.
int HomeCallingCode();
// The calling code of a territory (ISO 3166 letters, "DE"); 0 when not known.
int CallingCode(QStringView territory);
// The full name in the form it is compared in: display name, else the name parts; spacing
// collapsed and without case.
QString ComparableName(const contact::Contact& contact);

// Who an entry says it is, compact enough to be kept for every entry while groups are found:
// the parts of its name folded (case, accents, spacing and dots) and hashed, and its birthday.
// The name parts are the entry's own, else read from its display name ("Last, First" or
// "First Middle Last"). A title (the name's prefix) that says a man or a woman is kept too.
struct Identity {
  enum Sex : uint8_t { kUnknown, kMan, kWoman };
  uint32_t given = 0;         // the given name's hash; 0 for none or an initial only
  uint32_t surname = 0;       // the surname's hash (a list's name for a list); 0 for none
  uint32_t suffix = 0;        // "Jr.", "Sr.", "III": the suffix's hash; 0 for none
  uint32_t birthday = 0;      // yyyymmdd; 0 for none
  uint32_t middle = 0;        // the whole middle name's hash; 0 for none or one with initials
  char16_t givenInitial = 0;  // the given name's first letter, folded
  // The first letters of the first two middle names, folded ("K. J." and "Karl Josef": k, j)
  char16_t middleInitials[2] = {0, 0};
  bool list = false;
  uint8_t sex : 2 = kUnknown;  // what the title says: "Mr", "Herr" a man, "Mrs", "Frau" a woman
  // A name of two people ("John & Jane Smith", "Smith, John and Jane"): a household, whose given
  // names are hashed whole as `given`
  bool household : 1 = false;
  bool Named() const { return given != 0 || surname != 0 || givenInitial != 0; }
};
Identity IdentityOf(const contact::Contact& contact);
// Whether two entries (or groups) may be one person: nothing both hold differs. A missing part
// (middle name, a second middle name, given name, birthday) is no conflict; an initial agrees
// with a name it begins; a different given name, middle name or initial ("K. J." and "K. Y."),
// surname, suffix or birthday is, and so are titles of a man and of a woman ("Mr." and "Mrs.").
// A household is only ever another household of the same name, never one of its people.
bool Compatible(const Identity& a, const Identity& b);
// `a` completed with what `b` holds and `a` lacks: the identity of a group as entries join it.
void Absorb(Identity& a, const Identity& b);
// Two named identities that agree but for the surname: a shared e-mail address under a maiden or
// married name.
bool OnlySurnameDiffers(const Identity& a, const Identity& b);

// Where an entry goes among the entries of one person as they are merged (the first gives the
// contact its single values and its name): entries with a personal name, and lists, before those
// without (the contact is named after a person, not after an address), then the newest first.
// Equally placed entries go in the order of their content (EntryContent, EntrySpool.h, the
// smaller first), so that which store was read first does not decide. The command line and the
// review window order a group's entries by this.
struct MergeRank {
  bool named = false;            // a personal name (Identity::Named()), or a list
  int64_t modified = INT64_MIN;  // last changed, ms since 1970; INT64_MIN when not known
  static MergeRank Of(const contact::Contact& contact, const Identity& identity) {
    return {identity.Named() || identity.list,
            contact.lastModified.isValid() ? contact.lastModified.toMSecsSinceEpoch() : INT64_MIN};
  }
  bool Before(const MergeRank& other) const {
    return named != other.named ? named : modified > other.modified;
  }
  bool operator==(const MergeRank&) const = default;
};

// What an entry is matched by: 64-bit hashes of its comparable values, each tagged with its rule.
struct MatchKey {
  uint64_t hash = 0;
  MatchRule rule = MatchRule::kNone;
};
// The keys of `contact`, strongest rule first: kSameEntry (where `copies`: copies of one entry
// may be among those merged, as in several stores; the uid's, which entries made apart in two
// copies of a store can share too, so the time made tells them apart), kEmail, kPhone,
// kNameAndCompany (where `suggestions`: it only suggests). A list has kSameEntry only: its
// members are compared once the people are grouped (ListKey). The kEqual key is EqualKey's, made
// from the entry's bytes as the merge keeps them.
void MatchKeys(const contact::Contact& contact, const Identity& identity, bool copies,
               std::vector<MatchKey>& out, bool suggestions = true);
// The kEqual key: the bytes of every field but those that tell copies of one entry apart (its
// uid, the times it was made and last changed), in one form for every entry, hashed: entries
// alike in everything have the same key.
uint64_t EqualKey(std::initializer_list<QByteArrayView> parts);
// The kEmail key of one address, as MatchKeys makes it; 0 for an empty address.
uint64_t EmailKey(QStringView address);
// A list's key from its name's hash and its members, each given as the first entry of the group
// holding the member's address, else the member's own address or name hashed: lists of the same
// name and the same people after merging have the same key.
uint64_t ListKey(uint32_t name, std::vector<uint64_t> members);

// Merges the entries of one person into one contact, the newest first, then each older one in
// turn: what the contact lacks is taken from the older entry; a list keeps the newest entry's
// members (an older entry's where it has none). The compared forms of the contact's e-mail
// addresses, telephones, postal addresses and list members are made once for the whole group
// and looked up by hash, not made again for every older entry: a group of many entries would
// otherwise cost the square of its size.
class Combiner {
 public:
  // Merges into `newest`, which must outlive the combiner.
  explicit Combiner(contact::Contact& newest) : into_(newest) {}
  // Merges `older` in. `dropped`, when given, gets a line for each of its single values that
  // differs from the contact's: "job title \"Engineer\" (in the notes)" for a text kept as an
  // "Earlier: ..." line of the notes, "picture (left out)" for what has no place, and for each
  // member of an older list that the newer list does not hold, "Member: Name <address> (left
  // out)".
  void Add(const contact::Contact& older, QStringList* dropped = nullptr);
  // Tells into `told` what `older`, an older copy of one of the contact's entries, holds that
  // the contact does not, each line ending "(older copy of the same entry)"; the contact stays as
  // it is. A copy is a version of its entry, not more of the person: what its newer copy
  // replaced or took out is not put back.
  void TellOlderCopy(const contact::Contact& older, QStringList& told) const;

 private:
  // Appends `line` to `dropped` with why it is not carried as it was: `how`, or for an older copy
  // (TellOlderCopy) that it is one.
  void Tell(QStringList& dropped, const QString& line, const QString& how) const;
  bool olderCopy_ = false;  // told by TellOlderCopy: every line is an older copy's
  // An address as it is compared: kind, street and postal code as they are (spacing
  // collapsed), the others without case.
  struct AddressForm {
    contact::AddressKind kind;
    QString street, poBox, city, state, postalCode, country;
    size_t hash = 0;  // of kind, street and postal code, the parts compared with case
  };
  static AddressForm FormOf(const contact::Address& a);
  static bool Same(const AddressForm& a, const AddressForm& b);
  // `dropped`, when given, gets what the contact does not hold as the older entry did: an
  // address's other display name, a number's other kind.
  void AddEmails(const std::vector<contact::Email>& older, QStringList* dropped);
  void AddPhones(const std::vector<contact::Phone>& older, QStringList* dropped);
  void AddAddresses(const std::vector<contact::Address>& older);
  // A list member as it is compared: its address, else its name; empty when it has neither.
  static QString MemberForm(const contact::Member& m);
  // Puts into `dropped` the members of `older` that into_'s members do not hold.
  void TellMembersLeftOut(const std::vector<contact::Member>& older, QStringList& dropped);

  contact::Contact& into_;
  // The forms of into_'s values so far; made when an older entry first has values of the kind.
  bool emailsKnown_ = false, phonesKnown_ = false, addressesKnown_ = false, membersKnown_ = false;
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
  Seen emails_, phones_, members_;
  std::vector<AddressForm> addresses_;
  std::unordered_multimap<size_t, size_t> addressIndex_;  // hash: index in addresses_
};

// Whether `a` and `b` are copies of one entry (a store and its copy): the same uid and the same
// time made.
bool CopiesOfOneEntry(const contact::Contact& a, const contact::Contact& b);
// Of the entries of one person in the order they are merged, each that is an older copy of
// another: a copy of one changed later, or as late and before it in that order. Only the newest
// copy of an entry is merged, whichever is ranked first (a copy whose name was taken out ranks
// after the named older one); the older ones are told (Combiner::TellOlderCopy).
std::vector<bool> OlderCopies(std::span<const contact::Contact> entries);
// The same of entries known by what tells their copies apart: the uid and the time made (ms
// since 1970, INT64_MIN where not known: no copies then), and when last changed.
struct CopyKey {
  QString uid;
  int64_t made = INT64_MIN;
  int64_t changed = INT64_MIN;
};
std::vector<bool> OlderCopies(std::span<const CopyKey> keys);

// Merges `older` into `newer`: what `newer` lacks is taken from `older` (a list's members where
// `newer` has none).
void Combine(contact::Contact& newer, const contact::Contact& older);

}  // namespace lumivex::merge
