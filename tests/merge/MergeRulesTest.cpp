// The values entries are compared by (telephone numbers as the numbering plans write them in
// their international and national forms), and the spool that keeps entries between passes.
#include "merge/MergeRules.h"

#include "contact/VCardWriter.h"
#include "merge/EntrySpool.h"

#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <array>

#include <utility>
#include <vector>

using namespace lumivex;

namespace {

struct PhoneCase {
  const char* first;
  const char* second;
  int homeCode;  // the calling code of the user's country
  bool same;
};

// Numbers as the numbering plans write them (country codes from ITU-T E.164; the trunk prefix of
// each country's own plan); a number without country code is one of the user's country.
const PhoneCase kPhones[] = {
    {"+49 30 1234567", "030 1234567", 49, true},          // Germany, trunk 0
    {"0049 (30) 123-4567", "030/1234567", 49, true},      // the 00 exit code and punctuation
    {"+44 (0)20 7946 0018", "020 7946 0018", 44, true},   // United Kingdom, trunk in brackets
    {"+1 (555) 123-4567", "1-555-123-4567", 1, true},     // North America, trunk 1
    {"+1 555 123 4567", "555.123.4567", 1, true},         // North America without the trunk
    {"+33 1 42 68 53 00", "01 42 68 53 00", 33, true},    // France
    {"+353 1 234 5678", "01 234 5678", 353, true},        // Ireland, a three-digit code
    {"+81 3-1234-5678", "03-1234-5678", 81, true},        // Japan
    {"+49 30 1234567", "030 1234567", 44, false},         // a German number, a British user
    {"+44 20 1234 5678", "+92 20 1234 5678", 44, false},  // two countries
    {"+1 212 555 0100 ext. 12", "+1 212 555 0100 ext. 47", 1, false},
    {"+1 212 555 0100 ext. 12", "(212) 555-0100 x12", 1, true},
    {"+1 212 555 0100 ext. 12", "+1 212 555 0100", 1, false},
    {"+49 30 1234567", "+49 30 1234568", 49, false},
    {"030 1234567", "030 1234567", 0, true},  // no country known: national forms still agree
    // Italy, San Marino and the Vatican City have no trunk prefix: the 0 of a landline is part
    // of the number, which a mobile number without it is not.
    {"+39 0331 234567", "+39 331 234567", 44, false},
    {"0039 (0)331 234567", "0039 331 234567", 49, false},
    {"0331 234567", "+39 331 234567", 39, false},
    {"+378 0549 123456", "+378 549 123456", 378, false},
    {"+379 06 6988 1234", "+379 6 6988 1234", 379, false},
    // North American numbers written with the letters of the keys; a word after the number is
    // none of it.
    {"+1 212 55 CALL-NOW", "+1 212 55 HELP-NOW", 1, false},
    {"1-800-FLOWERS", "+1 800 356 9377", 1, true},
    {"+1 212 555 0100 (home)", "212-555-0100", 1, true},
};

TEST(ComparablePhone, WholeNumbersWithCountryCodeAndExtensionAreCompared) {
  for (const PhoneCase& c : kPhones) {
    const QString a = merge::ComparablePhone(QString::fromUtf8(c.first), c.homeCode);
    const QString b = merge::ComparablePhone(QString::fromUtf8(c.second), c.homeCode);
    EXPECT_FALSE(a.isEmpty()) << c.first;
    EXPECT_EQ(a == b, c.same) << c.first << " / " << c.second << " (" << c.homeCode << ")";
  }
  for (const char* tooShort : {"112", "ext. 1234"})
    EXPECT_TRUE(merge::ComparablePhone(tooShort, 49).isEmpty()) << tooShort;
  EXPECT_EQ(merge::CallingCode(u"DE"), 49);
  EXPECT_EQ(merge::CallingCode(u"ZZ"), 0);
}

struct NameCase {
  // given, middle, surname, suffix, display name (used when the parts are empty), birthday
  std::array<const char*, 6> a, b;
  bool compatible;
};

contact::Contact Named(const std::array<const char*, 6>& n) {
  contact::Contact c;
  c.givenName = QString::fromUtf8(n[0]);
  c.middleName = QString::fromUtf8(n[1]);
  c.surname = QString::fromUtf8(n[2]);
  c.suffix = QString::fromUtf8(n[3]);
  c.displayName = QString::fromUtf8(n[4]);
  if (*n[5]) {
    const QDate d = QDate::fromString(QString::fromUtf8(n[5]), Qt::ISODate);
    c.birthday = {d.year(), d.month(), d.day()};
  }
  return c;
}

// When two names may be one person's.
const NameCase kNames[] = {
    {{"Zoé", "", "Müller", "", "", ""}, {"ZOE", "", "muller", "", "", ""}, true},  // accents, case
    {{"John", "", "Smith", "", "", ""}, {"", "", "", "", "Smith, John", ""}, true},
    {{"John", "", "Smith", "", "", ""}, {"", "", "", "", "John  Q.  Smith", ""}, true},
    {{"John", "Quincy", "Smith", "", "", ""}, {"John", "R.", "Smith", "", "", ""}, false},
    {{"J.", "", "Smith", "", "", ""}, {"John", "", "Smith", "", "", ""}, true},  // an initial
    {{"Mary", "", "Lee", "", "", ""}, {"Anne", "", "Lee", "", "", ""}, false},
    {{"Ann", "", "Lee", "", "", ""}, {"Ann", "", "Park", "", "", ""}, false},
    {{"John", "", "Smith", "", "", ""}, {"John", "", "Smith", "Jr.", "", ""}, false},
    {{"", "", "", "", "John Smith Jr.", ""}, {"John", "", "Smith", "Junior", "", ""}, true},
    // A degree after a name is no generation: one entry of a person has it, another not. Any
    // other suffix is one, however written.
    {{"Jane", "", "Roe", "Ph.D.", "", ""}, {"Jane", "", "Roe", "", "", ""}, true},
    {{"", "", "", "", "Jane Roe MD", ""}, {"Jane", "", "Roe", "", "", ""}, true},
    {{"", "", "", "", "Jane Poe, PhD", ""}, {"Jane", "", "Poe", "", "", ""}, true},
    {{"", "", "", "", "Carl White Jr., MD", ""}, {"Carl", "", "White", "Jr", "", ""}, true},
    {{"", "", "", "", "John Smith, Jr.", ""}, {"John", "", "Smith", "", "", ""}, false},
    {{"Joe", "", "Family", "Jr.,MD", "", ""}, {"Joe", "", "Family", "", "", ""}, false},
    {{"Joe", "", "Family", "fils", "", ""}, {"Joe", "", "Family", "", "", ""}, false},
    {{"Joe", "", "Family", "2nd", "", ""}, {"", "", "", "", "Joe Family II", ""}, true},
    // A surname spelt like a degree.
    {{"", "", "", "", "Peter John Mba", ""}, {"Peter", "", "John", "", "", ""}, false},
    {{"", "", "", "", "Mary Ann Mba", ""}, {"Mary", "Ann", "Mba", "", "", ""}, true},
    {{"Ann", "", "Lee", "", "", "1980-01-02"}, {"Ann", "", "Lee", "", "", "1981-01-02"}, false},
    {{"Ann", "", "Lee", "", "", "1980-01-02"}, {"", "", "", "", "", ""}, true},  // nameless
    {{"Ann", "", "Lee", "", "", "1980-01-02"},
     {"", "", "", "", "ann@lee.example", "1979-05-05"},
     false},
    {{"Wei", "K.J.", "Zhao", "", "", ""}, {"", "", "", "", "Wei K. Zhao", ""}, true},
    {{"Wei", "Karl", "Zhao", "", "", ""}, {"Wei", "Kurt", "Zhao", "", "", ""}, false},
    // A name written precomposed or decomposed (canonically equivalent) is one name.
    {{"민준", "", "김", "", "", ""},
     {"\u1106\u1175\u11ab\u110c\u116e\u11ab", "", "\u1100\u1175\u11b7", "", "", ""},
     true},
    {{"민준", "", "김", "", "", ""}, {"서연", "", "김", "", "", ""}, false},
    {{"大輔", "", "ごとう", "", "", ""}, {"大輔", "", "こ\u3099とう", "", "", ""}, true},
    // A voicing mark makes another kana (ゆうこ, Yūko; ゆうご, Yūgo); one ideograph is a whole
    // given name, not an initial.
    {{"ゆうこ", "", "田中", "", "", ""}, {"ゆうご", "", "田中", "", "", ""}, false},
    {{"伟", "", "王", "", "", ""}, {"伟明", "", "王", "", "", ""}, false},
    // Capitals without ß or the dotless ı: the same name.
    {{"Jürgen", "", "Strauß", "", "", ""}, {"JÜRGEN", "", "STRAUSS", "", "", ""}, true},
    {{"Ayşe", "", "Işık", "", "", ""}, {"AYŞE", "", "IŞIK", "", "", ""}, true},
    // A vowel sign or tone mark of Thai or Devanagari is a letter, not an accent: Tik and Tuk,
    // Megha and Magha are other names.
    {{"ติ๊ก", "", "ศรีสุข", "", "", ""}, {"ตุ๊ก", "", "ศรีสุข", "", "", ""}, false},
    {{"मेघा", "", "शर्मा", "", "", ""}, {"मघा", "", "शर्मा", "", "", ""}, false},
    // A name of two people is a household's: never one of them, only the same household.
    {{"", "", "", "", "John and Jane Smith", ""}, {"John", "", "Smith", "", "", ""}, false},
    {{"John & Jane", "", "Smith", "", "", ""}, {"", "", "", "", "John and Jane Smith", ""}, true},
    // ... but a sign in a word of capitals, or a word joining surnames, names one person.
    {{"Jane", "", "Ford", "", "Jane Ford (R&D)", ""}, {"", "", "", "", "Jane Ford", ""}, true},
    {{"Jane", "", "Ford", "", "Jane Ford, AT&T", ""}, {"Jane", "", "Ford", "", "", ""}, true},
    {{"Ana Rita", "", "Sousa e Silva Pereira", "", "Sousa e Silva Pereira, Ana Rita", ""},
     {"Ana Rita", "", "Sousa e Silva Pereira", "", "Ana Rita Sousa e Silva Pereira", ""},
     true},
    {{"", "", "", "", "Ana Sousa e Silva Pereira", ""}, {"Ana", "", "Pereira", "", "", ""}, true},
    // A title before a name shown is none of the name, and tells a man from a woman.
    {{"", "", "", "", "Mr. John Ford", ""}, {"John", "", "Ford", "", "", ""}, true},
    {{"", "", "", "", "Ford, Mrs. Jane", ""}, {"Jane", "", "Ford", "", "", ""}, true},
    {{"J.", "", "Ford", "", "Mrs. J. Ford", ""}, {"J.", "", "Ford", "", "Mr. J. Ford", ""}, false},
    {{"", "", "", "", "Mrs. Ford", ""}, {"", "", "", "", "Mr. Ford", ""}, false},
    {{"", "", "", "", "M. Ford", ""}, {"", "", "", "", "Mme Ford", ""}, true},
};

TEST(Identity, NamesAgreeUnlessAPartBothHoldDiffers) {
  for (const NameCase& c : kNames) {
    const merge::Identity a = merge::IdentityOf(Named(c.a));
    const merge::Identity b = merge::IdentityOf(Named(c.b));
    EXPECT_EQ(merge::Compatible(a, b), c.compatible)
        << c.a[0] << " " << c.a[2] << c.a[4] << " / " << c.b[0] << " " << c.b[2] << c.b[4];
    EXPECT_EQ(merge::Compatible(b, a), c.compatible);
  }
  // A maiden and a married name: the same person but for the surname.
  EXPECT_TRUE(merge::OnlySurnameDiffers(merge::IdentityOf(Named(kNames[6].a)),
                                        merge::IdentityOf(Named(kNames[6].b))));
  EXPECT_FALSE(merge::OnlySurnameDiffers(merge::IdentityOf(Named(kNames[5].a)),
                                         merge::IdentityOf(Named(kNames[5].b))));
}

}  // namespace

namespace {

// A contact with every field of the model set.
contact::Contact FullContact(int n) {
  contact::Contact c;
  c.messageClass = "IPM.Contact";
  c.prefix = "Dr.";
  c.givenName = QString("Zoé %1").arg(n);
  c.middleName = "Q.";
  c.surname = "Łęcka 日本";
  c.suffix = "Jr.";
  c.displayName = "Dr. Zoé Łęcka";
  c.fileAs = "Łęcka, Zoé";
  c.nickname = "Zo";
  c.company = "Contoso";
  c.department = "R&D";
  c.jobTitle = "Chief";
  c.profession = "Chemist";
  c.officeLocation = "B4";
  c.manager = "M";
  c.assistant = "A";
  c.emails = {{"zoe@example.com", "Zoé (zoe@example.com)", "SMTP"}, {"z@x.example", "", "EX"}};
  c.phones = {{contact::PhoneKind::kMobile, "+48 600 100 200"},
              {contact::PhoneKind::kTty, "123456"}};
  c.addresses = {{contact::AddressKind::kHome, "ul. Długa 1\nm. 2", "PO 3", "Gdańsk", "Pomorskie",
                  "80-001", "Polska", true}};
  c.businessWebPage = "https://w.example";
  c.personalWebPage = "https://p.example";
  c.imAddress = "im:zoe";
  c.freeBusyUrl = "https://fb.example";
  c.birthday = {1980, 2, 29};
  c.anniversary = {2001, 9, 8};
  c.gender = contact::Gender::kFemale;
  c.spouse = "S";
  c.children = {"Ida", "Per"};
  c.categories = {"VIP"};
  c.notes = "Line 1\nLine 2 — ü";
  c.photo = {QByteArray("\x89PNG\0\x01", 6), "image/png"};
  c.lastModified = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC);
  c.uid = "uid";
  return c;
}

// The spool gives back every field of every entry, whether it kept it in memory or on disk, and
// whether it is taken in order or apart (on its own, or as part of a run of entries that follow
// one another in the file).
TEST(EntrySpool, GivesBackEveryFieldFromMemoryAndFromDisk) {
  for (const int64_t cap : {merge::EntrySpool::kMemoryCap, int64_t(0)}) {
    merge::EntrySpool spool(cap);
    contact::Contact list;
    list.isGroup = true;
    list.displayName = "Team";
    list.members = {{"Ann", "ann@example.com"}, {"Bo", ""}};
    for (int n = 0; n < 4; ++n) spool.Add(FullContact(n));
    spool.Add(list);
    spool.Finish();
    contact::Contact back;
    spool.Take(4, back);  // the list, on its own
    EXPECT_TRUE(back.isGroup);
    EXPECT_EQ(back.members, list.members);
    // Apart: on its own, a run's start, its next (read ahead), one in its window; then in order.
    const std::vector<std::pair<uint32_t, bool>> takes = {{3, false}, {0, false}, {1, false},
                                                          {2, false}, {0, true},  {1, true}};
    for (const auto& [n, inOrder] : takes) {
      spool.Take(n, back, inOrder);
      QByteArray want, got;
      contact::AppendVCard(want, FullContact(int(n)), contact::VCardVersion::k40);
      contact::AppendVCard(got, back, contact::VCardVersion::k40);
      EXPECT_EQ(got, want) << "cap " << cap << ", entry " << n;
    }
  }
}

// Entries written ahead, kept as their bytes among entries kept whole, come back as they were
// written: in memory, in the file, and across the change from one to the other (an entry too
// large for memory sends it and all after it to the file).
TEST(EntrySpool, GivesBackWrittenBytesAmongWholeEntries) {
  const QByteArray large(int(merge::EntrySpool::kChunk) + 10, 'x');
  // Entries 0 and 4 whole, the others written, each after bytes already in the room.
  const std::vector<QByteArray> written = {{}, "first card", "second card", large, {}, "last card"};
  for (const int64_t cap : {merge::EntrySpool::kMemoryCap, int64_t(0)}) {
    merge::EntrySpool spool(cap);
    for (size_t n = 0; n < written.size(); ++n) {
      if (written[n].isEmpty()) {
        spool.Add(FullContact(int(n)));
        continue;
      }
      spool.WriteRoom().append(written[n]);
      spool.AddWritten();
    }
    spool.Finish();
    const std::vector<std::pair<uint32_t, bool>> takes = {
        {5, false}, {2, false}, {0, true}, {1, true}, {2, true}, {3, true}, {4, true}, {5, true}};
    for (const auto& [n, inOrder] : takes) {
      if (written[n].isEmpty()) {
        contact::Contact back;
        spool.Take(n, back, inOrder);
        EXPECT_EQ(back.givenName, FullContact(int(n)).givenName)
            << "cap " << cap << ", entry " << n;
        continue;
      }
      QByteArray back;
      spool.TakeWritten(n, back, inOrder);
      EXPECT_EQ(back, written[n]) << "cap " << cap << ", entry " << n;
    }
  }
}

}  // namespace

namespace {

using contact::AddressKind;
using contact::PhoneKind;

// Entries of one person merged newest first: what an older entry brought is not taken again from
// a still older one where it is written with other case or spacing, and a value new to the
// group still comes in.
TEST(Combiner, ValuesAnOlderEntryBroughtAreNotTakenAgain) {
  contact::Contact newest, older, oldest;
  newest.emails = {{"ann@example.com", "", "SMTP"}};
  older.emails = {{"ann@work.example", "", "SMTP"}};
  oldest.emails = {{" ANN@Work.Example", "", "SMTP"}, {"mailto:ann@example.com", "", "SMTP"}};
  newest.phones = {{PhoneKind::kMobile, "+49 30 1234567"}};
  older.phones = {{PhoneKind::kHome, "+49 40 7654321"}};
  oldest.phones = {{PhoneKind::kHome, "+49 (40) 765-4321"}, {PhoneKind::kCar, "0049 30 1234567"}};
  older.addresses = {{AddressKind::kHome, "Lange  Str. 5", "", "Berlin", "", "10115", "DE", true}};
  oldest.addresses = {
      {AddressKind::kHome, "Lange Str. 5", "", "BERLIN ", "", "10115", "de", false},
      {AddressKind::kBusiness, "Lange Str. 5", "", "Berlin", "", "10115", "DE", true}};

  merge::Combiner merged(newest);
  merged.Add(older);
  merged.Add(oldest);

  QStringList emails, phones, addresses;
  for (const auto& e : newest.emails) emails << e.address;
  for (const auto& p : newest.phones) phones << p.number;
  for (const auto& a : newest.addresses)
    addresses << QString("%1 %2 %3").arg(int(a.kind)).arg(a.street).arg(a.mailing);
  EXPECT_EQ(emails, QStringList({"ann@example.com", "ann@work.example"}));
  EXPECT_EQ(phones, QStringList({"+49 30 1234567", "+49 40 7654321"}));
  EXPECT_EQ(addresses,
            QStringList({QString("%1 Lange  Str. 5 0").arg(int(AddressKind::kHome)),
                         QString("%1 Lange Str. 5 0").arg(int(AddressKind::kBusiness))}));
}

// What an older entry holds that the merged contact does not, as it held it, is told: names it
// was shown and filed by, the name shown with an address both have, a number's other kind, the
// gender left out.
TEST(Combiner, OlderValuesNotCarriedOverAreTold) {
  contact::Contact newer, older;
  newer.displayName = "Eva Holm";
  older.displayName = "Eva \"Evi\" Holm";
  newer.fileAs = "Holm, Eva";
  older.fileAs = "Holm, Eva (Stockholm)";
  older.initials = "E.H.";  // the newer entry has none: taken, not told
  newer.emails = {{"eva@holm.example", "Eva Holm", "SMTP"}};
  older.emails = {{"EVA@holm.example", "Eva private", "SMTP"}};
  newer.phones = {{PhoneKind::kBusiness, "+46 70 123 45 67"}, {PhoneKind::kHome, "+46 8 555 0101"}};
  older.phones = {{PhoneKind::kMobile, "+46 (0)70-123 45 67"},
                  {PhoneKind::kHome, "+46 8 555 0101"}};
  newer.gender = contact::Gender::kMale;
  older.gender = contact::Gender::kFemale;

  QStringList told;
  merge::Combiner(newer).Add(older, &told);
  told.sort();
  EXPECT_EQ(told,
            QStringList({"Display name: Eva \"Evi\" Holm (left out)",
                         "E-mail display name: Eva private (left out)",
                         "File as: Holm, Eva (Stockholm) (left out)", "Gender: female (left out)",
                         "Mobile Phone: +46 (0)70-123 45 67 (kept as Business Phone)"}));
  EXPECT_EQ(newer.initials, "E.H.");
}

}  // namespace

namespace {

// A department, an office, a manager and an assistant are those of the company they came with:
// an older entry's are the contact's only where its company is the contact's (written in other
// case or spacing) or the contact has none; another company's stay with that company, on its
// own ORG where it is kept beside the newer one, else in the notes, and are told unless the
// contact has the same.
// Where the contact takes an older entry's company, that entry's department and office come
// with it, and the contact's own, which had no company, are told.
TEST(Combiner, DepartmentAndOfficeStayWithTheirCompany) {
  struct Side {
    const char* company;
    const char* department;
    const char* office;
    const char* manager;
  };
  struct Case {
    const char* name;
    Side newer, older;
    QStringList orgs;  // the card's ORG values
    const char* manager;
    QStringList told;  // sorted
    QString notes;
  };
  const Case cases[] = {
      {"another company",
       {"NewCo", "", "", ""},
       {"OldCo", "Sales", "B 2", "Mia"},
       {"ORG;PREF=1:NewCo", "ORG:OldCo;Sales;B 2"},
       "",
       {"Company: OldCo (kept beside the newer one)",
        "Department: Sales (kept beside the newer one)", "Manager: Mia (in the notes)",
        "Office: B 2 (kept beside the newer one)"},
       "Earlier: Manager: Mia"},
      {"another company, the contact's manager",
       {"NewCo", "", "", "Max"},
       {"OldCo", "", "", "Max"},
       {"ORG;PREF=1:NewCo", "ORG:OldCo"},
       "Max",
       {"Company: OldCo (kept beside the newer one)"},
       ""},
      {"the same company, written otherwise",
       {"NewCo", "", "", ""},
       {" newco", "Sales", "B 2", "Mia"},
       {"ORG:NewCo;Sales;B 2"},
       "Mia",
       {},
       ""},
      {"no company on the contact",
       {"", "", "", ""},
       {"OldCo", "Sales", "", ""},
       {"ORG:OldCo;Sales"},
       "",
       {},
       ""},
      {"the contact's department without a company",
       {"", "Floating", "", ""},
       {"Zeta", "Support", "Z1", ""},
       {"ORG:Zeta;Support;Z1"},
       "",
       {"Department: Floating (in the notes)"},
       "Earlier: Department: Floating"},
      {"the contact's department without a company, the older entry's company without one",
       {"", "Floating", "", ""},
       {"Zeta", "", "Z1", ""},
       {"ORG:Zeta;;Z1"},
       "",
       {"Department: Floating (in the notes)"},
       "Earlier: Department: Floating"},
      {"no company on the older entry",
       {"NewCo", "", "", ""},
       {"", "Sales", "", ""},
       {"ORG:NewCo"},
       "",
       {"Department: Sales (in the notes)"},
       "Earlier: Department: Sales"},
      {"the contact's own department differs",
       {"NewCo", "Support", "", ""},
       {"NewCo", "Sales", "", ""},
       {"ORG:NewCo;Support"},
       "",
       {"Department: Sales (in the notes)"},
       "Earlier: Department: Sales"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    contact::Contact newer, older;
    for (const auto& [side, entry] : {std::pair{&c.newer, &newer}, std::pair{&c.older, &older}}) {
      entry->givenName = "Eva";
      entry->company = side->company;
      entry->department = side->department;
      entry->officeLocation = side->office;
      entry->manager = side->manager;
    }
    QStringList told;
    merge::Combiner(newer).Add(older, &told);
    told.sort();
    QByteArray card;
    contact::AppendVCard(card, newer, contact::VCardVersion::k40);
    QStringList orgs;
    for (const QString& line : QString::fromUtf8(card).split("\r\n"))
      if (line.startsWith("ORG")) orgs << line;
    EXPECT_EQ(orgs, c.orgs);
    EXPECT_EQ(newer.manager, c.manager);
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(newer.notes, c.notes);
  }
}

}  // namespace

namespace {

// A person's name is one entry's, its parts and the name shown together: the newest entry's that
// has one, never pieced together with an older entry's parts; the older parts the name does not
// hold are told and kept in the notes. Where the newest has only a name shown, an older entry's
// parts that are all words of it become the card's N, else they are all told. A reader shows FN,
// which the card's N agrees with.
TEST(Combiner, TheNameIsOneEntrysWhole) {
  struct Name {
    const char* prefix;
    const char* given;
    const char* middle;
    const char* surname;
    const char* shown;  // the display name
  };
  struct Case {
    const char* name;
    std::vector<Name> entries;  // newest first
    QStringList names;          // the card's N and FN lines
    QStringList told;           // of the second entry, sorted
    QString notes;
  };
  const Case cases[] = {
      {"parts and a name shown",
       {{"", "Anna", "", "Berg", "Anna Berg"}, {"Dr.", "Anna", "Maria", "Berg", "Dr. Anna Berg"}},
       {"N:Berg;Anna;;;", "FN:Anna Berg"},
       {"Display name: Dr. Anna Berg (left out)", "Middle name: Maria (in the notes)",
        "Title: Dr. (in the notes)"},
       "Earlier: Title: Dr.\nEarlier: Middle name: Maria"},
      {"only a name shown, not holding the older parts",
       {{"", "", "", "", "Anna Berg"}, {"Dr.", "Anna", "Maria", "Berg", ""}},
       {"FN:Anna Berg"},
       {"First name: Anna (in the notes)", "Last name: Berg (in the notes)",
        "Middle name: Maria (in the notes)", "Title: Dr. (in the notes)"},
       "Earlier: Title: Dr.\nEarlier: First name: Anna\nEarlier: Middle name: Maria\nEarlier: "
       "Last name: Berg"},
      {"only a name shown, holding the older parts",
       {{"", "", "", "", "Berg, Anna"}, {"", "Anna", "", "Berg", "Anna Berg"}},
       {"N:Berg;Anna;;;", "FN:Berg\\, Anna"},
       {"Display name: Anna Berg (left out)"},
       ""},
      {"only parts",
       {{"", "Anna", "", "Berg", ""}, {"", "", "", "", "Anna Maria Berg"}},
       {"N:Berg;Anna;;;", "FN:Anna Berg"},
       {"Display name: Anna Maria Berg (left out)"},
       ""},
      {"no name: the next entry's whole",
       {{"", "", "", "", ""},
        {"", "Anna", "Maria", "Berg", "Anna Maria Berg"},
        {"Dr.", "Anna", "", "Berg", ""}},
       {"N:Berg;Anna;Maria;;", "FN:Anna Maria Berg"},
       {},
       "Earlier: Title: Dr."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<contact::Contact> entries(c.entries.size());
    for (size_t k = 0; k < entries.size(); ++k) {
      entries[k].prefix = c.entries[k].prefix;
      entries[k].givenName = c.entries[k].given;
      entries[k].middleName = c.entries[k].middle;
      entries[k].surname = c.entries[k].surname;
      entries[k].displayName = c.entries[k].shown;
    }
    merge::Combiner merged(entries[0]);
    QStringList told;
    for (size_t k = 1; k < entries.size(); ++k) merged.Add(entries[k], k == 1 ? &told : nullptr);
    told.sort();
    QByteArray card;
    contact::AppendVCard(card, entries[0], contact::VCardVersion::k40);
    QStringList names;
    for (const QString& line : QString::fromUtf8(card).split("\r\n"))
      if (line.startsWith("N:") || line.startsWith("FN:")) names << line;
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(entries[0].notes, c.notes);
  }
}

}  // namespace
