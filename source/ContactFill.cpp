// The full contact model of an entry (ReadContact): its fields read group by group, each group
// from a table of the slots it reads and the fields they fill, into the room the contact's texts
// and lists kept from the entry read before.
#include "source/EntryValues.h"
#include "source/FileContactEntry.h"

#include <QDateTime>

#include <algorithm>
#include <vector>

namespace lumivex::backend {

namespace {

using contact::Contact;

// Elements cut from the lists of contacts read before, with the room of their texts: how many
// e-mail addresses, telephones and addresses an entry has changes from one entry to the next,
// and a list cut to its length would free what it cut, and grow anew for the next entry.
template <typename T>
std::vector<T>& Spare() {
  thread_local std::vector<T> spare;
  return spare;
}

// The element of `list` that the next item read goes into: one left from an earlier entry,
// whose texts have room already, or a new one. `used` counts those taken.
template <typename T>
T& NextElement(std::vector<T>& list, size_t& used) {
  if (used == list.size()) {
    std::vector<T>& spare = Spare<T>();
    if (spare.empty()) {
      list.emplace_back();
    } else {
      list.push_back(std::move(spare.back()));
      spare.pop_back();
    }
  }
  return list[used++];
}

// Cuts `list` to the `used` elements read, keeping the rest for later entries.
template <typename T>
void CutTo(std::vector<T>& list, size_t used) {
  std::vector<T>& spare = Spare<T>();
  while (list.size() > used) {
    spare.push_back(std::move(list.back()));
    list.pop_back();
  }
}

// Empties what of `c` the fill does not write for every entry, keeping the room of its texts
// and lists: an export reads every entry into one contact, and each field takes about as much
// room from one entry to the next, so that reading an entry allocates hardly anything. Every
// text but the picture's type is written by the fill (read, or emptied where the entry has
// none); they are emptied here only when the entry cannot be read (EmptyTexts).
void Empty(contact::Contact& c) {
  c.isGroup = false;
  if (!c.photo.mimeType.isEmpty()) c.photo.mimeType.resize(0);
  // Emails, phones and addresses are read into the elements already there (NextElement), and
  // the list cut to what was read.
  c.birthday = {};
  c.anniversary = {};
  c.gender = contact::Gender::kUnspecified;
  c.children.clear();
  c.categories.clear();
  c.moreWebPages.clear();
  if (!c.photo.data.isEmpty()) c.photo.data.resize(0);
  c.lastModified = QDateTime();
  c.created = QDateTime();
  c.members.clear();
}

// A FILETIME (100 ns since 1601) as a UTC time.
QDateTime FromFileTime(uint64_t time) {
  constexpr int64_t kUnixEpochMs = 11644473600000LL;
  return QDateTime::fromMSecsSinceEpoch(static_cast<int64_t>(time / 10000) - kUnixEpochMs, Qt::UTC);
}

void EmptyTexts(contact::Contact& c) {
  for (QString* text : contact::TextFields(c))
    if (!text->isEmpty()) text->resize(0);
}

// Why a field cannot be read, `what` naming it.
bool Unreadable(QString& why, const char* what) {
  why = QStringLiteral("its %1 cannot be read; the entry is damaged").arg(QLatin1String(what));
  return false;
}

}  // namespace

void FileContactEntry::NoteSkipped(const char* what) const {
  leftOut_ << QStringLiteral("its %1 (stored as a value of type 0x%2)")
                  .arg(QLatin1String(what))
                  .arg(skipped_, 4, 16, QLatin1Char('0'));
  skipped_ = 0;
}

bool FileContactEntry::ReadContact(contact::Contact& contact, QString& why) const {
  if (hints_) hints_->whole.store(true, std::memory_order_relaxed);
  Empty(contact);
  if (!item_) {
    why = failure_;
  } else {
    leniency_ = true;
    leftOut_.clear();
    unreadParts_.clear();
    skipped_ = 0;
    // The value bytes of the item's properties, taken once for the ~70 fields read; kept per
    // thread so that reading an entry allocates nothing for them.
    thread_local std::vector<QByteArrayView> views;
    views.resize(static_cast<size_t>(std::max(item_->PropertyCount(), 0)));
    if (item_->Views(views)) views_ = views.data();
    const bool filled = FillContact(contact, why);
    views_ = nullptr;
    leniency_ = false;
    if (filled && !state_->file->Changed(!state_->file->Concurrent())) {
      // What the entry's attachments and list members were read from is the file as opened.
      // Written without the fields of a type they cannot take: `why` names them.
      why = leftOut_.isEmpty() ? QString()
                               : QStringLiteral("written without %1: a type that field cannot take")
                                     .arg(leftOut_.join(QStringLiteral(", ")));
      // A part that could not be read says what its damage is; told once.
      const QString damage = unreadParts_.isEmpty()
                                 ? damage_
                                 : QStringLiteral("written without what could not be read (%1)")
                                       .arg(unreadParts_.join(QStringLiteral("; ")));
      if (!damage.isEmpty()) why = why.isEmpty() ? damage : why + QStringLiteral("; ") + damage;
      return true;
    }
    if (filled || state_->file->Changed(true))
      why = QString::fromLatin1(storefile::kFileChangedText);
  }
  // Nothing of the entry, or of an earlier one, stays.
  EmptyTexts(contact);
  contact.emails.clear();
  contact.phones.clear();
  contact.addresses.clear();
  lastFailure_ = why;
  return false;
}

bool FileContactEntry::FillContact(contact::Contact& c, QString& why) const {
  static constexpr Filler kGroups[] = {
      &FileContactEntry::FillNames,      &FileContactEntry::FillWork,
      &FileContactEntry::FillOtherTexts, &FileContactEntry::FillEmails,
      &FileContactEntry::FillPhones,     &FileContactEntry::FillAddresses,
      &FileContactEntry::FillDays,       &FileContactEntry::FillGender,
      &FileContactEntry::FillLists,      &FileContactEntry::FillNotes,
      &FileContactEntry::FillLastChange, &FileContactEntry::FillUid,
      &FileContactEntry::FillPicture,    &FileContactEntry::FillGroup,
  };
  // The names, the uid, the time and whether it is a list make the entry what it is: without
  // one of them it is not given. Any other group that cannot be read is left out, and told.
  for (Filler fill : kGroups) {
    if ((this->*fill)(c, why)) continue;
    const bool essential =
        fill == &FileContactEntry::FillNames || fill == &FileContactEntry::FillLastChange ||
        fill == &FileContactEntry::FillUid || fill == &FileContactEntry::FillGroup;
    if (essential || state_->file->Changed(true)) return false;
    unreadParts_ << why;
    why.clear();
  }
  return true;
}

bool FileContactEntry::FillTexts(std::span<const TextField> fields, contact::Contact& c,
                                 QString& why) const {
  for (const TextField& field : fields) {
    if (!ReadText(field.slot, c.*field.member)) return Unreadable(why, field.label);
    Noted(field.label);
    LinesInPlace(c.*field.member);
  }
  return true;
}

// The name, the file-as name and the message class (which tells a distribution list).
bool FileContactEntry::FillNames(contact::Contact& c, QString& why) const {
  static constexpr TextField kNames[] = {
      {kMessageClass, "message class", &Contact::messageClass},
      {kTitle, "title", &Contact::prefix},
      {kFirstName, "first name", &Contact::givenName},
      {kMiddleName, "middle name", &Contact::middleName},
      {kLastName, "last name", &Contact::surname},
      {kSuffix, "suffix", &Contact::suffix},
      {kFullName, "full name", &Contact::displayName},
      {kFileUnder, "file-as name", &Contact::fileAs},
      {kNickname, "nickname", &Contact::nickname},
      {kInitials, "initials", &Contact::initials},
  };
  return FillTexts(kNames, c, why);
}

bool FileContactEntry::FillWork(contact::Contact& c, QString& why) const {
  static constexpr TextField kWork[] = {
      {kCompanyName, "company", &Contact::company},
      {kDepartment, "department", &Contact::department},
      {kJobTitle, "job title", &Contact::jobTitle},
      {kProfession, "profession", &Contact::profession},
      {kOfficeLocation, "office", &Contact::officeLocation},
      {kManagerName, "manager's name", &Contact::manager},
      {kAssistantName, "assistant's name", &Contact::assistant},
  };
  return FillTexts(kWork, c, why);
}

// The web pages, the IM and free/busy addresses and the spouse's name. The business web page is
// kept in either of two properties.
bool FileContactEntry::FillOtherTexts(contact::Contact& c, QString& why) const {
  static constexpr TextField kOther[] = {
      {kPersonalHomePage, "personal web page", &Contact::personalWebPage},
      {kInstantMessagingAddress, "IM address", &Contact::imAddress},
      {kFreeBusyLocation, "free/busy address", &Contact::freeBusyUrl},
      {kSpouse, "spouse's name", &Contact::spouse},
  };
  if (!FillTexts(kOther, c, why)) return false;
  c.isGroup = c.messageClass.startsWith(u"IPM.DistList", Qt::CaseInsensitive);
  if (!ReadText(Has(kWebPage) ? kWebPage : kBusinessHomePage, c.businessWebPage))
    return Unreadable(why, "business web page");
  Noted("business web page");
  return true;
}

// E-mail addresses 1-3, those that hold an address.
bool FileContactEntry::FillEmails(contact::Contact& c, QString& why) const {
  size_t emails = 0;
  for (int n = 0; n < 3; ++n) {
    contact::Email& email = NextElement(c.emails, emails);
    if (!ReadEmailEntry(n, email)) return Unreadable(why, "e-mail address");
    Noted(n == 0 ? "e-mail address" : n == 1 ? "e-mail address 2" : "e-mail address 3");
    if (email.address.isEmpty()) --emails;
  }
  CutTo(c.emails, emails);
  return true;
}

// The telephone numbers the entry holds, in the order of the contact form.
bool FileContactEntry::FillPhones(contact::Contact& c, QString& why) const {
  using contact::PhoneKind;
  static constexpr std::pair<int, PhoneKind> kPhones[] = {
      {kBusinessTelephoneNumber, PhoneKind::kBusiness},
      {kBusiness2TelephoneNumber, PhoneKind::kBusiness2},
      {kHomeTelephoneNumber, PhoneKind::kHome},
      {kHome2TelephoneNumber, PhoneKind::kHome2},
      {kMobileTelephoneNumber, PhoneKind::kMobile},
      {kCarTelephoneNumber, PhoneKind::kCar},
      {kPagerNumber, PhoneKind::kPager},
      {kBusinessFaxNumber, PhoneKind::kBusinessFax},
      {kHomeFaxNumber, PhoneKind::kHomeFax},
      {kOtherFaxNumber, PhoneKind::kOtherFax},
      {kAssistantTelephoneNumber, PhoneKind::kAssistant},
      {kCallbackTelephoneNumber, PhoneKind::kCallback},
      {kCompanyMainTelephoneNumber, PhoneKind::kCompanyMain},
      {kIsdnNumber, PhoneKind::kIsdn},
      {kOtherTelephoneNumber, PhoneKind::kOther},
      {kPrimaryTelephoneNumber, PhoneKind::kPrimary},
      {kRadioTelephoneNumber, PhoneKind::kRadio},
      {kTelexNumber, PhoneKind::kTelex},
      {kTtyTddPhoneNumber, PhoneKind::kTty},
  };
  size_t phones = 0;
  for (const auto& [slot, kind] : kPhones) {
    contact::Phone& phone = NextElement(c.phones, phones);
    phone.kind = kind;
    if (!ReadText(slot, phone.number)) return Unreadable(why, "telephone numbers");
    Noted("telephone number");
    if (phone.number.isEmpty()) --phones;
  }
  CutTo(c.phones, phones);
  return true;
}

// The business, home and other addresses the entry holds, the mailing address marked.
bool FileContactEntry::FillAddresses(contact::Contact& c, QString& why) const {
  // The mailing address: 1 home, 2 business, 3 other.
  int32_t mailing = 0;
  if (Has(kPostalAddressId)) {
    if (types_[kPostalAddressId] != storefile::kTypeInt32) {
      skipped_ = types_[kPostalAddressId];
      Noted("mailing-address choice");
    } else if (!item_->Int32(index_[kPostalAddressId], mailing)) {
      return Unreadable(why, "mailing-address choice");
    }
  }
  using contact::AddressKind;
  struct AddressSlots {
    AddressKind kind;
    int street, poBox, city, state, postalCode, country;
    int formatted;  // the whole address as one text, which some stores hold alone
    int32_t mailingId;
  };
  static constexpr AddressSlots kAddresses[] = {
      {AddressKind::kBusiness, kBusinessAddressStreet, kBusinessAddressPostOfficeBox,
       kBusinessAddressCity, kBusinessAddressState, kBusinessAddressPostalCode,
       kBusinessAddressCountry, kBusinessAddressFormatted, 2},
      {AddressKind::kHome, kHomeAddressStreet, kHomeAddressPostOfficeBox, kHomeAddressCity,
       kHomeAddressState, kHomeAddressPostalCode, kHomeAddressCountry, kHomeAddressFormatted, 1},
      {AddressKind::kOther, kOtherAddressStreet, kOtherAddressPostOfficeBox, kOtherAddressCity,
       kOtherAddressState, kOtherAddressPostalCode, kOtherAddressCountry, kOtherAddressFormatted,
       3},
  };
  size_t addresses = 0;
  for (const AddressSlots& where : kAddresses) {
    contact::Address& address = NextElement(c.addresses, addresses);
    address.kind = where.kind;
    address.mailing = mailing == where.mailingId;
    if (!ReadText(where.street, address.street) || !ReadText(where.poBox, address.poBox) ||
        !ReadText(where.city, address.city) || !ReadText(where.state, address.state) ||
        !ReadText(where.postalCode, address.postalCode) ||
        !ReadText(where.country, address.country))
      return Unreadable(why, "postal addresses");
    if (address.IsEmpty() && !ReadText(where.formatted, address.street))
      return Unreadable(why, "postal addresses");
    Noted("postal address");
    LinesInPlace(address.street);
    if (address.IsEmpty()) --addresses;
  }
  CutTo(c.addresses, addresses);
  return true;
}

// The birthday and the anniversary, as the days entered.
bool FileContactEntry::FillDays(contact::Contact& c, QString& why) const {
  struct DayField {
    int localSlot, utcSlot;
    const char* label;
    contact::Date Contact::*member;
  };
  static constexpr DayField kDays[] = {
      {kBirthdayLocal, kBirthday, "birthday", &Contact::birthday},
      {kAnniversaryLocal, kAnniversary, "anniversary", &Contact::anniversary},
  };
  for (const DayField& field : kDays) {
    if (!ReadDay(field.localSlot, field.utcSlot, c.*field.member))
      return Unreadable(why, field.label);
    Noted(field.label);
  }
  return true;
}

bool FileContactEntry::FillGender(contact::Contact& c, QString& why) const {
  if (!Has(kGender)) return true;
  if (types_[kGender] != storefile::kTypeInt16 && types_[kGender] != storefile::kTypeBoolean) {
    skipped_ = types_[kGender];
    Noted("gender");
    return true;
  }
  int32_t gender = 0;
  if (!item_->Int16(index_[kGender], gender)) return Unreadable(why, "gender");
  c.gender = gender == 1   ? contact::Gender::kFemale
             : gender == 2 ? contact::Gender::kMale
                           : contact::Gender::kUnspecified;
  return true;
}

// The children's names and the categories, one value each.
bool FileContactEntry::FillLists(contact::Contact& c, QString& why) const {
  struct ListField {
    int slot;
    const char* label;
    QStringList Contact::*member;
  };
  static constexpr ListField kLists[] = {
      {kChildren, "children's names", &Contact::children},
      {kCategories, "categories", &Contact::categories},
  };
  for (const ListField& field : kLists) {
    if (!ReadList(field.slot, c.*field.member)) return Unreadable(why, field.label);
    Noted(field.label);
  }
  return true;
}

bool FileContactEntry::FillNotes(contact::Contact& c, QString& why) const {
  if (!ReadBody(c.notes, &why)) return false;
  Noted("notes");
  return true;
}

bool FileContactEntry::FillLastChange(contact::Contact& c, QString& why) const {
  // The time the entry was made tells two entries apart that a store and its diverged copy gave
  // the same node id; an entry without one, or with one of another type, is simply not told by it.
  if (Has(kCreationTime) && types_[kCreationTime] == storefile::kTypeTime) {
    uint64_t created = 0;
    if (item_->FileTime(index_[kCreationTime], created)) c.created = FromFileTime(created);
  }
  if (!Has(kLastModificationTime)) return true;
  if (types_[kLastModificationTime] != storefile::kTypeTime) {
    skipped_ = types_[kLastModificationTime];
    Noted("time of last change");
    return true;
  }
  uint64_t time = 0;
  if (!item_->FileTime(index_[kLastModificationTime], time))
    return Unreadable(why, "time of last change");
  c.lastModified = FromFileTime(time);
  return true;
}

// The uid made ahead on the read-ahead thread, else made now.
bool FileContactEntry::FillUid(contact::Contact& c, QString&) const {
  if (uid_.isEmpty())
    UidInto(c.uid);
  else
    c.uid = uid_;
  return true;
}

bool FileContactEntry::FillPicture(contact::Contact& c, QString& why) const {
  return ReadPhoto(c.photo, why);
}

// A distribution list's name, where it has no full name, and its members.
bool FileContactEntry::FillGroup(contact::Contact& c, QString& why) const {
  if (!c.isGroup) return true;
  if (c.displayName.isEmpty() && !ReadText(kDistributionListName, c.displayName))
    return Unreadable(why, "list name");
  return ReadMembers(c.members, why);
}

}  // namespace lumivex::backend
