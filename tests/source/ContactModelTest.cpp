// The full contact model read from the real store files: the values pffexport and readpst show
// for each contact and list, the same model through our reader and through libpff, and entries
// that cannot be read giving a reason instead of values.
#include "source/PffBackend.h"
#include "tests/support/TestPaths.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>

namespace lumivex {
namespace {

using contact::AddressKind;
using contact::Contact;
using contact::PhoneKind;

// Every field of a contact as text, so that two models can be compared and a difference shown.
QString Describe(const Contact& c) {
  QStringList out;
  out << c.messageClass << QString::number(c.isGroup) << c.prefix << c.givenName << c.middleName
      << c.surname << c.suffix << c.displayName << c.fileAs << c.nickname << c.company
      << c.department << c.jobTitle << c.profession << c.officeLocation << c.manager << c.assistant
      << c.businessWebPage << c.personalWebPage << c.imAddress << c.freeBusyUrl << c.spouse
      << c.children.join(u'|') << c.categories.join(u'|') << c.notes << c.uid
      << c.lastModified.toString(Qt::ISODateWithMs) << QString::number(int(c.gender))
      << QStringLiteral("%1-%2-%3").arg(c.birthday.year).arg(c.birthday.month).arg(c.birthday.day)
      << QStringLiteral("%1-%2-%3")
             .arg(c.anniversary.year)
             .arg(c.anniversary.month)
             .arg(c.anniversary.day)
      << QString::fromLatin1(c.photo.data.toHex()) << c.photo.mimeType;
  for (const auto& e : c.emails) out << e.address + u'/' + e.displayName + u'/' + e.type;
  for (const auto& p : c.phones) out << QString::number(int(p.kind)) + u'=' + p.number;
  for (const auto& a : c.addresses)
    out << QStringList{QString::number(int(a.kind)),
                       a.street,
                       a.poBox,
                       a.city,
                       a.state,
                       a.postalCode,
                       a.country,
                       QString::number(a.mailing)}
               .join(u'/');
  for (const auto& m : c.members) out << m.name + u'<' + m.address + u'>';
  return out.join(u'\n');
}

// Every entry of the store's default contacts folder (or of `folderPath`), read through one reader.
std::vector<Contact> ReadAll(const QString& store, const char* reader,
                             const QString& folderPath = {}) {
  qputenv("LUMIVEX_PST_READER", reader);
  auto opened = OpenPffStore(store);
  auto folder =
      folderPath.isEmpty() ? opened->DefaultContactsFolder() : FindFolder(*opened, folderPath);
  qunsetenv("LUMIVEX_PST_READER");
  std::vector<Contact> contacts;
  if (!folder) {
    ADD_FAILURE() << "no contacts folder in " << store.toStdString();
    return contacts;
  }
  auto items = folder->GetItems();
  for (int i = 0; i < items->Count(); ++i) {
    Contact c;
    QString why;
    EXPECT_TRUE(items->Item(i)->ReadContact(c, why)) << i << ": " << why.toStdString();
    contacts.push_back(c);
  }
  return contacts;
}

const QString kJapaneseContacts =
    QStringLiteral("Outlook データ ファイルのトップ/連絡先 (Contact dedicated)");

// Both readers give the same model for every entry of every fixture with contacts; the model
// holds what pffexport and readpst show.
TEST(ContactModel, FixturesReadAsTheIndependentReadersShowThemThroughBothReaders) {
  LUMIVEX_REQUIRE_FIXTURES();
  struct Store {
    const char* file;
    QString folder;
    int count;
  };
  const Store stores[] = {
      {"six-contacts.pst", {}, 6},
      {"contact-and-distlist.pst", {}, 2},
      {"japanese-contact-unicode.pst", kJapaneseContacts, 1},
      {"japanese-contact-ansi-cp932.pst", kJapaneseContacts, 1},
      {"mail-and-one-contact.pst", {}, 1},
  };
  std::map<QString, std::vector<Contact>> read;
  for (const Store& s : stores) {
    SCOPED_TRACE(s.file);
    const QString path = testing::FixturePst(QString::fromLatin1(s.file));
    const auto own = ReadAll(path, "lumivex", s.folder);
    const auto libpff = ReadAll(path, "libpff", s.folder);
    ASSERT_EQ(own.size(), size_t(s.count));
    ASSERT_EQ(libpff.size(), own.size());
    for (size_t i = 0; i < own.size(); ++i)
      EXPECT_EQ(Describe(own[i]), Describe(libpff[i])) << "entry " << i;
    read[QString::fromLatin1(s.file)] = own;
  }

  // six-contacts.pst (pffexport's Contact.txt, readpst's vCards).
  const auto& six = read["six-contacts.pst"];
  const Contact& tolle = six[3];
  EXPECT_EQ(tolle.displayName, QStringLiteral("Margaret J. Tolle"));
  EXPECT_EQ(tolle.fileAs, QStringLiteral("Tolle, Margaret J."));
  EXPECT_EQ(tolle.givenName, QStringLiteral("Margaret"));
  EXPECT_EQ(tolle.middleName, QStringLiteral("J."));
  EXPECT_EQ(tolle.surname, QStringLiteral("Tolle"));
  EXPECT_EQ(tolle.company, QStringLiteral("Adaptaz"));
  EXPECT_EQ(tolle.jobTitle, QStringLiteral("Recording engineer"));
  ASSERT_EQ(tolle.emails.size(), 1u);
  EXPECT_EQ(tolle.emails[0].address, QStringLiteral("MargaretJTolle@dayrep.com"));
  EXPECT_EQ(tolle.emails[0].type, QStringLiteral("SMTP"));
  const std::vector<contact::Phone> tollePhones = {
      {PhoneKind::kBusiness, QStringLiteral("(08)9080-1183")},
      {PhoneKind::kMobile, QStringLiteral("(925)599-3355(925)599-3355")}};
  EXPECT_EQ(tolle.phones, tollePhones);
  // Only the business address as one text (readpst's LABEL;TYPE=work).
  ASSERT_EQ(tolle.addresses.size(), 1u);
  EXPECT_EQ(tolle.addresses[0].kind, AddressKind::kBusiness);
  EXPECT_EQ(tolle.addresses[0].street, QStringLiteral("4 Darwinia Loop EIGHTY MILE BEACH WA 6725"));
  EXPECT_EQ(tolle.gender, contact::Gender::kFemale);
  EXPECT_EQ(six[4].gender, contact::Gender::kMale);
  EXPECT_TRUE(six[4].emails.empty());
  // readpst's TEL;TYPE=phone,pref: the primary telephone number.
  EXPECT_EQ(six[5].phones,
            std::vector<contact::Phone>({{PhoneKind::kPrimary, QStringLiteral("06605045265")}}));
  EXPECT_EQ(six[0].displayName, QStringLiteral("Sebastian Wright"));
  EXPECT_TRUE(six[0].givenName.isEmpty());
  QStringList uids;
  for (const Contact& c : six) uids << c.uid;
  uids.removeDuplicates();
  EXPECT_EQ(uids.size(), 6);

  // contact-and-distlist.pst: the list's members, one linked to the store's contact.
  const auto& pair = read["contact-and-distlist.pst"];
  const Contact& list = pair[0].isGroup ? pair[0] : pair[1];
  const Contact& one = pair[0].isGroup ? pair[1] : pair[0];
  EXPECT_EQ(list.messageClass, QStringLiteral("IPM.DistList"));
  EXPECT_EQ(list.displayName, QStringLiteral("test dist list"));
  const std::vector<contact::Member> members = {
      {QStringLiteral("contact name 1"), QStringLiteral("contact1@rjohnson.id.au")},
      {QStringLiteral("dist name 1"), QStringLiteral("dist1@rjohnson.id.au")},
      {QStringLiteral("dist name 2"), QStringLiteral("dist2@rjohnson.id.au")}};
  EXPECT_EQ(list.members, members);
  EXPECT_FALSE(one.isGroup);
  EXPECT_EQ(one.fileAs, QStringLiteral("1, contact name"));
  EXPECT_EQ(one.givenName, QStringLiteral("contact"));
  EXPECT_EQ(one.surname, QStringLiteral("1"));
  EXPECT_EQ(one.lastModified,
            QDateTime(QDate(2014, 5, 25), QTime(13, 58, 28, 425), Qt::UTC));  // pffexport
  EXPECT_EQ(list.lastModified, QDateTime(QDate(2014, 5, 25), QTime(13, 57, 41, 190), Qt::UTC));

  // The Japanese contact, the same from the Unicode and the code page 932 store.
  for (const char* file : {"japanese-contact-unicode.pst", "japanese-contact-ansi-cp932.pst"}) {
    SCOPED_TRACE(file);
    const Contact& c = read[QString::fromLatin1(file)][0];
    EXPECT_EQ(c.prefix, QStringLiteral("Mr."));
    EXPECT_EQ(c.givenName, QStringLiteral("コム"));
    EXPECT_EQ(c.middleName, QStringLiteral("ドット"));
    EXPECT_EQ(c.surname, QStringLiteral("イグザンプル"));
    EXPECT_EQ(c.suffix, QStringLiteral("殿"));
    EXPECT_EQ(c.company, QStringLiteral("My work company"));
    EXPECT_EQ(c.department, QStringLiteral("My division"));
    EXPECT_EQ(c.jobTitle, QStringLiteral("My position"));
    EXPECT_EQ(c.businessWebPage, QStringLiteral("https://example.com"));
    const std::vector<contact::Phone> phones = {
        {PhoneKind::kBusiness, QStringLiteral("06-0001-0002")},
        {PhoneKind::kHome, QStringLiteral("06-0001-0001")},
        {PhoneKind::kMobile, QStringLiteral("080-0001-0001")},
        {PhoneKind::kBusinessFax, QStringLiteral("06-0001-0003")}};
    EXPECT_EQ(c.phones, phones);
    ASSERT_EQ(c.addresses.size(), 1u);  // readpst: ADR;TYPE=work:;;Somewhere;Osaka;Osaka;...
    contact::Address work;
    work.kind = AddressKind::kBusiness;
    work.street = QStringLiteral("Somewhere");
    work.city = QStringLiteral("Osaka");
    work.state = QStringLiteral("Osaka");
    work.postalCode = QStringLiteral("544-0001");
    work.country = QStringLiteral("日本");
    work.mailing = true;
    EXPECT_EQ(c.addresses[0], work);
    // readpst: BDAY:1999-12-31T15:00:00Z, midnight of 1 January 2000 in Japan.
    EXPECT_EQ(c.birthday, (contact::Date{2000, 1, 1}));
    EXPECT_FALSE(c.anniversary.IsValid());
    ASSERT_EQ(c.emails.size(), 1u);
    EXPECT_EQ(c.emails[0].address, QStringLiteral("test@example.com"));
  }
  EXPECT_EQ(read["japanese-contact-unicode.pst"][0].uid.isEmpty(), false);

  // mail-and-one-contact.pst.
  const Contact& saqib = read["mail-and-one-contact.pst"][0];
  EXPECT_EQ(saqib.fileAs, QStringLiteral("Razzaq, Saqib"));
  EXPECT_EQ(saqib.company, QStringLiteral("Aspose"));
  EXPECT_EQ(saqib.jobTitle, QStringLiteral("Developer"));
  const std::vector<contact::Phone> saqibPhones = {
      {PhoneKind::kBusiness, QStringLiteral("1110001234")},
      {PhoneKind::kHome, QStringLiteral("1112223333")},
      {PhoneKind::kMobile, QStringLiteral("3334443333")}};
  EXPECT_EQ(saqib.phones, saqibPhones);
  EXPECT_TRUE(saqib.notes.isEmpty());  // an empty line as plain text and as RTF
  EXPECT_EQ(saqib.lastModified, QDateTime(QDate(2011, 6, 21), QTime(23, 53, 13, 984), Qt::UTC));
}

// An entry that cannot be read gives false and a reason, in both readers, and nothing of any
// other entry.
TEST(ContactModel, UnreadableEntriesGiveAReasonAndNoValues) {
  LUMIVEX_REQUIRE_FIXTURES();
  for (const char* reader : {"lumivex", "libpff"}) {
    SCOPED_TRACE(reader);
    qputenv("LUMIVEX_PST_READER", reader);
    auto store = OpenPffStore(testing::FixturePst(QStringLiteral("six-contacts.pst")));
    qunsetenv("LUMIVEX_PST_READER");
    auto items = store->DefaultContactsFolder()->GetItems();
    Contact c;
    QString why;
    ASSERT_TRUE(items->Item(3)->ReadContact(c, why));
    auto missing = items->Item(9);
    EXPECT_FALSE(missing->ReadContact(c, why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(missing->Failure(), why);
    EXPECT_TRUE(c.displayName.isEmpty()) << "filled from the entry read before";
  }
  // The name-to-id map is spoiled: the contacts' named properties (e-mail addresses) cannot be
  // told from one another. Our reader reads the rest of the store; libpff refuses the file.
  auto store =
      OpenPffStore(testing::SharedDir() + "/fixtures/damaged/name-map-block-overwritten.pst");
  auto items = store->DefaultContactsFolder()->GetItems();
  Contact c;
  QString why;
  EXPECT_FALSE(items->Item(0)->ReadContact(c, why));
  EXPECT_TRUE(why.contains(QStringLiteral("name-to-id map"))) << why.toStdString();
}

}  // namespace
}  // namespace lumivex
