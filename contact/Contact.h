// The full contact model: every field of an Outlook contact or distribution list that the
// address books of other programs can hold, read once per entry through the store interface
// (ContactEntry::ReadContact) and handed to the vCard 4.0, vCard 3.0 and CSV writers.
//
// Text is Unicode as the store holds it (8-bit strings already decoded in the item's code page);
// multi-line values keep their line breaks as "\n"; absent fields are empty. Nothing here is
// formatted for one output: dates are calendar days, the photo is its bytes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace lumivex::contact {

// A calendar day as the user entered it (not shifted by the time zone it was stored in).
struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  bool IsValid() const { return year > 0 && month > 0 && day > 0; }
  friend bool operator==(const Date&, const Date&) = default;
};

struct Email {
  QString address;      // SMTP form where the store holds one (Exchange entries resolved)
  QString displayName;  // "Ann Smith (ann@example.com)" as the contact form shows it
  QString type;         // the address type as stored: "SMTP", "EX", ...
  friend bool operator==(const Email&, const Email&) = default;
};

// Every telephone field of the contact form, in the form's order.
enum class PhoneKind {
  kBusiness,
  kBusiness2,
  kHome,
  kHome2,
  kMobile,
  kCar,
  kPager,
  kBusinessFax,
  kHomeFax,
  kOtherFax,
  kAssistant,
  kCallback,
  kCompanyMain,
  kIsdn,
  kOther,
  kPrimary,
  kRadio,
  kTelex,
  kTty,
};

// How a telephone of `kind` is named: as Outlook heads its column ("Mobile Phone"), in CSV files,
// notes and reports.
inline const char* PhoneHeading(PhoneKind kind) {
  switch (kind) {
    case PhoneKind::kBusiness:
      return "Business Phone";
    case PhoneKind::kBusiness2:
      return "Business Phone 2";
    case PhoneKind::kHome:
      return "Home Phone";
    case PhoneKind::kHome2:
      return "Home Phone 2";
    case PhoneKind::kMobile:
      return "Mobile Phone";
    case PhoneKind::kCar:
      return "Car Phone";
    case PhoneKind::kPager:
      return "Pager";
    case PhoneKind::kBusinessFax:
      return "Business Fax";
    case PhoneKind::kHomeFax:
      return "Home Fax";
    case PhoneKind::kOtherFax:
      return "Other Fax";
    case PhoneKind::kAssistant:
      return "Assistant's Phone";
    case PhoneKind::kCallback:
      return "Callback";
    case PhoneKind::kCompanyMain:
      return "Company Main Phone";
    case PhoneKind::kIsdn:
      return "ISDN";
    case PhoneKind::kOther:
      return "Other Phone";
    case PhoneKind::kPrimary:
      return "Primary Phone";
    case PhoneKind::kRadio:
      return "Radio Phone";
    case PhoneKind::kTelex:
      return "Telex";
    case PhoneKind::kTty:
      return "TTY/TDD Phone";
  }
  return "Phone";
}

struct Phone {
  PhoneKind kind = PhoneKind::kOther;
  QString number;
  friend bool operator==(const Phone&, const Phone&) = default;
};

enum class AddressKind { kBusiness, kHome, kOther };

struct Address {
  AddressKind kind = AddressKind::kOther;
  QString street;  // may hold several lines
  QString poBox;
  QString city;
  QString state;
  QString postalCode;
  QString country;
  bool mailing = false;  // the address the user marked as the mailing address
  bool IsEmpty() const {
    return street.isEmpty() && poBox.isEmpty() && city.isEmpty() && state.isEmpty() &&
           postalCode.isEmpty() && country.isEmpty();
  }
  friend bool operator==(const Address&, const Address&) = default;
};

enum class Gender { kUnspecified, kFemale, kMale };

// A member of a distribution list: a one-off address or a contact of the store, resolved to
// its name and address.
struct Member {
  QString name;
  QString address;
  friend bool operator==(const Member&, const Member&) = default;
};

struct Photo {
  QByteArray data;   // the picture file's bytes as attached
  QString mimeType;  // "image/jpeg", "image/png", ...; empty when it cannot be told
  bool IsEmpty() const { return data.isEmpty(); }
};

struct Contact {
  bool isGroup = false;  // a distribution list (IPM.DistList)
  QString messageClass;

  // Name parts and the names the contact is filed and shown under.
  QString prefix;  // "Dr."
  QString givenName;
  QString middleName;
  QString surname;
  QString suffix;  // "Jr."
  QString displayName;
  QString fileAs;
  QString nickname;
  QString initials;  // "A.C.L." as the contact form keeps them

  // Work.
  QString company;
  QString department;
  QString jobTitle;
  QString profession;
  QString officeLocation;
  QString manager;
  QString assistant;
  // The different companies and job titles of older entries merged into this contact (the newest
  // entry's are those above): only merging fills them.
  QStringList earlierCompanies;
  // The department and office of each of earlierCompanies, at its place (empty where its entry
  // gave none): they belong to that company, not to the newest one.
  QStringList earlierDepartments;
  QStringList earlierOffices;
  QStringList earlierTitles;

  std::vector<Email> emails;       // Email1..3 in order, only those present
  std::vector<Phone> phones;       // in PhoneKind order, only those present
  std::vector<Address> addresses;  // business, home, other; only those with a value

  QString businessWebPage;
  QString personalWebPage;
  // Further web pages, of entries merged into this contact, when both of the above are taken:
  // only merging fills it (an entry of a store has the two above at most).
  QStringList moreWebPages;
  QString imAddress;
  QString freeBusyUrl;

  Date birthday;
  Date anniversary;
  Gender gender = Gender::kUnspecified;
  QString spouse;
  QStringList children;
  QStringList categories;

  QString notes;  // the plain body, or the text of the compressed RTF body
  Photo photo;

  QDateTime lastModified;  // UTC; invalid when the store holds none
  QDateTime created;       // UTC, when the entry was made; invalid when the store holds none
  QString uid;             // stable across exports of the same store: derived from the entry's key

  std::vector<Member> members;  // distribution lists only
};

// Every text field of the contact, in one order: for code that treats them alike (emptying a
// contact for the next entry, keeping one on disk), so that a field added to the model is added
// to them all here.
inline std::array<QString*, 25> TextFields(Contact& c) {
  return {&c.messageClass,  &c.prefix,          &c.givenName,       &c.middleName,
          &c.surname,       &c.suffix,          &c.displayName,     &c.fileAs,
          &c.nickname,      &c.initials,        &c.company,         &c.department,
          &c.jobTitle,      &c.profession,      &c.officeLocation,  &c.manager,
          &c.assistant,     &c.businessWebPage, &c.personalWebPage, &c.imAddress,
          &c.freeBusyUrl,   &c.spouse,          &c.notes,           &c.uid,
          &c.photo.mimeType};
}

}  // namespace lumivex::contact
