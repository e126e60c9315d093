// The full contact model read from the real store files: the values pffexport and readpst show
// for each contact and list, the same model through our reader and through libpff, and entries
// that cannot be read giving a reason instead of values.
#include "source/StoreBackend.h"
#include "source/StoreFile.h"
#include "tests/support/TestPaths.h"
#include "tools/pstgen/Contact.h"
#include "tools/pstgen/Description.h"
#include "tools/pstwriter/Messaging.h"

#include <libpff.h>

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>

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
// With `oneContact`, every entry is read into the same contact, as an export reads them.
std::vector<Contact> ReadAll(const QString& store, const char* reader,
                             const QString& folderPath = {}, bool oneContact = false) {
  qputenv("LUMIVEX_PST_READER", reader);
  auto opened = OpenStoreFile(store);
  auto folder =
      folderPath.isEmpty() ? opened->DefaultContactsFolder() : FindFolder(*opened, folderPath);
  qunsetenv("LUMIVEX_PST_READER");
  std::vector<Contact> contacts;
  if (!folder) {
    ADD_FAILURE() << "no contacts folder in " << store.toStdString();
    return contacts;
  }
  auto items = folder->GetItems();
  Contact reused;
  for (int i = 0; i < items->Count(); ++i) {
    Contact fresh;
    Contact& c = oneContact ? reused : fresh;
    QString why;
    EXPECT_TRUE(items->Item(i)->ReadContact(c, why)) << i << ": " << why.toStdString();
    contacts.push_back(c);
  }
  return contacts;
}

const QString kJapaneseContacts =
    QStringLiteral("Outlook データ ファイルのトップ/連絡先 (Contact dedicated)");

// Both readers give the same model for every entry of every fixture with contacts; the model
// holds what pffexport and readpst show. (The Japanese contact's fields are checked once, in
// StoreBackendTest.)
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

namespace value = pst::value;
using pst::PropertyKey;

const auto Tag = pst::TextProperty;
const auto Named = pst::AddressTextProperty;
pst::MessageProperty NamedBytes(uint32_t number, uint16_t type, pst::Bytes bytes) {
  return {PropertyKey::Numbered(pst::kPsetidAddress, number), type, std::move(bytes)};
}

// A one-off entry id in UTF-16, as the mail client writes one.
pst::Bytes OneOff(const char* name, const char* type, const char* address) {
  pst::Bytes id = {0,    0,    0,    0,    0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                   0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0,    0,    0x01, 0x80};
  for (const char* text : {name, type, address}) {
    const pst::Bytes utf16 = value::Utf16(text);
    id.insert(id.end(), utf16.begin(), utf16.end());
    id.insert(id.end(), {0, 0});
  }
  return id;
}

// A wrapped entry id naming an entry of the store (type 0xC3: a contact's first e-mail address).
pst::Bytes Wrapped(uint8_t type, const pst::Bytes& entryId) {
  pst::Bytes id = {0,    0,    0,    0,    0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF,
                   0x11, 0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4, type};
  id.insert(id.end(), entryId.begin(), entryId.end());
  return id;
}

// The compressed RTF example of the format's description: "hello world".
const pst::Bytes kHelloRtf = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a,
                              0x46, 0x75, 0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00,
                              0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0a,
                              0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62, 0x77,
                              0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};

// A store written with every field of the contact form filled, a contact whose notes are kept
// only as compressed RTF, and a list with a linked and a one-off member: every value comes back
// as written, through both readers.
TEST(ContactModel, EveryWrittenFieldComesBackThroughBothReaders) {
  const QString path = testing::ScratchDir(QStringLiteral("contact-model-fields")) + "/all.pst";
  {
    pst::StoreWriter writer(path.toStdString(), {});
    const auto folder = writer.Folder(pst::DefaultFolder::kContacts);
    pst::Message full;
    full.message_class = "IPM.Contact";
    full.properties = {
        Tag(0x3001, "Dr. Ada King Lovelace"),
        Tag(0x3A45, "Dr."),
        Tag(0x3A06, "Ada"),
        Tag(0x3A44, "King"),
        Tag(0x3A11, "Lovelace"),
        Tag(0x3A05, "Jr."),
        Named(0x8005, "Lovelace, Ada"),
        Tag(0x3A4F, "Ada"),
        Tag(0x3A16, "Analytical Engines"),
        Tag(0x3A18, "Research"),
        Tag(0x3A17, "Programmer"),
        Tag(0x3A46, "Mathematician"),
        Tag(0x3A19, "Room 12"),
        Tag(0x3A4E, "Charles Babbage"),
        Tag(0x3A30, "Mary Somerville"),
        Named(0x8080, "Ada (ada@engine.example)"),
        Named(0x8082, "EX"),
        Named(0x8083, "/o=Engines/cn=Recipients/cn=ada"),
        Named(0x8084, "Ada"),
        NamedBytes(0x8085, 0x0102, OneOff("Ada", "SMTP", "ada@engine.example")),
        Named(0x8092, "SMTP"),
        Named(0x8093, "ada@home.example"),
        Named(0x80A2, "SMTP"),
        Named(0x80A3, "ada@third.example"),
        Tag(0x3A08, "+44 1"),
        Tag(0x3A1B, "+44 2"),
        Tag(0x3A09, "+44 3"),
        Tag(0x3A2F, "+44 4"),
        Tag(0x3A1C, "+44 5"),
        Tag(0x3A1E, "+44 6"),
        Tag(0x3A21, "+44 7"),
        Tag(0x3A24, "+44 8"),
        Tag(0x3A25, "+44 9"),
        Tag(0x3A23, "+44 10"),
        Tag(0x3A2E, "+44 11"),
        Tag(0x3A02, "+44 12"),
        Tag(0x3A57, "+44 13"),
        Tag(0x3A2D, "+44 14"),
        Tag(0x3A1F, "+44 15"),
        Tag(0x3A1A, "+44 16"),
        Tag(0x3A1D, "+44 17"),
        Tag(0x3A2C, "+44 18"),
        Tag(0x3A4B, "+44 19"),
        Named(0x8045, "12 St James's Square\r\nSecond floor"),
        Named(0x804A, "PO 1"),
        Named(0x8046, "London"),
        Named(0x8047, "Westminster"),
        Named(0x8048, "SW1Y 4JH"),
        Named(0x8049, "United Kingdom"),
        Tag(0x3A5D, "Ockham Park"),
        Tag(0x3A5E, "PO 2"),
        Tag(0x3A59, "Ockham"),
        Tag(0x3A5C, "Surrey"),
        Tag(0x3A5B, "GU23"),
        Tag(0x3A5A, "England"),
        Tag(0x3A63, "Horsley Towers"),
        Tag(0x3A64, "PO 3"),
        Tag(0x3A5F, "East Horsley"),
        Tag(0x3A62, "Surrey"),
        Tag(0x3A61, "KT24"),
        Tag(0x3A60, "England"),
        NamedBytes(0x8022, 0x0003, value::Int32(1)),
        Named(0x802B, "https://engine.example"),
        Tag(0x3A50, "https://ada.example"),
        Named(0x8062, "ada@im.example"),
        Named(0x80D8, "https://engine.example/freebusy"),
        {PropertyKey::Tagged(0x3A42), 0x0040, value::Time(pst::FileTime(1815, 12, 9, 23))},
        NamedBytes(0x80DE, 0x0040, value::Time(pst::FileTime(1815, 12, 10))),
        {PropertyKey::Tagged(0x3A41), 0x0040, value::Time(pst::FileTime(1835, 7, 8, 5))},
        {PropertyKey::Tagged(0x3A4D), 0x0002, value::Int16(1)},
        Tag(0x3A48, "William King"),
        {PropertyKey::Tagged(0x3A58), 0x101F, value::MultiString({"Byron", "Annabella"})},
        {PropertyKey::Named(pst::kPsPublicStrings, "Keywords"), 0x101F,
         value::MultiString({"Family", "Mathematics"})},
        Tag(0x1000, "Line one\r\nLine two"),
    };
    const pst::Nid ada = writer.AddMessage(folder, full);

    pst::Message rich;
    rich.message_class = "IPM.Contact";
    rich.properties = {Tag(0x3001, "Rich Text"), {PropertyKey::Tagged(0x1009), 0x0102, kHelloRtf}};
    writer.AddMessage(folder, rich);

    pst::Message list;
    list.message_class = "IPM.DistList";
    list.properties = {
        Tag(0x3001, "Engines"),
        NamedBytes(0x8055, 0x1102,
                   value::MultiBinary({Wrapped(0xC3, writer.EntryId(ada)),
                                       OneOff("Charles", "SMTP", "charles@engine.example")})),
        NamedBytes(0x8054, 0x1102,
                   value::MultiBinary({OneOff("Old Ada", "SMTP", "old@engine.example"),
                                       OneOff("Charles", "SMTP", "charles@engine.example")})),
    };
    writer.AddMessage(folder, list);
    writer.Finish();
  }
  const auto own = ReadAll(path, "lumivex");
  const auto libpff = ReadAll(path, "libpff");
  ASSERT_EQ(own.size(), 3u);
  ASSERT_EQ(libpff.size(), 3u);
  for (size_t i = 0; i < own.size(); ++i)
    EXPECT_EQ(Describe(own[i]), Describe(libpff[i])) << "entry " << i;

  const Contact& c = own[0];
  EXPECT_EQ(c.displayName, QStringLiteral("Dr. Ada King Lovelace"));
  EXPECT_EQ(
      (QStringList{c.prefix, c.givenName, c.middleName, c.surname, c.suffix, c.fileAs, c.nickname}),
      (QStringList{"Dr.", "Ada", "King", "Lovelace", "Jr.", "Lovelace, Ada", "Ada"}));
  EXPECT_EQ((QStringList{c.company, c.department, c.jobTitle, c.profession, c.officeLocation,
                         c.manager, c.assistant}),
            (QStringList{"Analytical Engines", "Research", "Programmer", "Mathematician", "Room 12",
                         "Charles Babbage", "Mary Somerville"}));
  const std::vector<contact::Email> emails = {
      {"ada@engine.example", "Ada (ada@engine.example)", "EX"},
      {"ada@home.example", "", "SMTP"},
      {"ada@third.example", "", "SMTP"}};
  EXPECT_EQ(c.emails, emails);
  ASSERT_EQ(c.phones.size(), 19u);
  for (int i = 0; i < 19; ++i) {
    EXPECT_EQ(int(c.phones[size_t(i)].kind), i);  // the form's order, PhoneKind's order
    EXPECT_EQ(c.phones[size_t(i)].number, QStringLiteral("+44 %1").arg(i + 1));
  }
  const std::vector<contact::Address> addresses = {
      {AddressKind::kBusiness, "12 St James's Square\nSecond floor", "PO 1", "London",
       "Westminster", "SW1Y 4JH", "United Kingdom", false},
      {AddressKind::kHome, "Ockham Park", "PO 2", "Ockham", "Surrey", "GU23", "England", true},
      {AddressKind::kOther, "Horsley Towers", "PO 3", "East Horsley", "Surrey", "KT24", "England",
       false}};
  EXPECT_EQ(c.addresses, addresses);
  EXPECT_EQ((QStringList{c.businessWebPage, c.personalWebPage, c.imAddress, c.freeBusyUrl}),
            (QStringList{"https://engine.example", "https://ada.example", "ada@im.example",
                         "https://engine.example/freebusy"}));
  EXPECT_EQ(c.birthday, (contact::Date{1815, 12, 10}));  // the local copy, not the UTC instant
  EXPECT_EQ(c.anniversary, (contact::Date{1835, 7, 8}));
  EXPECT_EQ(c.gender, contact::Gender::kFemale);
  EXPECT_EQ(c.spouse, QStringLiteral("William King"));
  EXPECT_EQ(c.children, (QStringList{"Byron", "Annabella"}));
  EXPECT_EQ(c.categories, (QStringList{"Family", "Mathematics"}));
  EXPECT_EQ(c.notes, QStringLiteral("Line one\nLine two"));
  EXPECT_EQ(c.lastModified, QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
  EXPECT_FALSE(QUuid::fromString(c.uid).isNull());

  EXPECT_EQ(own[1].notes, QStringLiteral("hello world"));
  EXPECT_NE(own[1].uid, c.uid);
  EXPECT_TRUE(own[2].isGroup);
  const std::vector<contact::Member> members = {
      // named as the list names it (its copy), the address read from the entry
      {"Old Ada", "ada@engine.example"},
      {"Charles", "charles@engine.example"}};
  EXPECT_EQ(own[2].members, members);

  // Body of the four fixed forms: the RTF's text where the entry has no plain body.
  auto store = OpenStoreFile(path);
  auto items = store->DefaultContactsFolder()->GetItems();
  QString body;
  ASSERT_TRUE(items->Item(1)->Read("Body", body));
  EXPECT_EQ(body, QStringLiteral("hello world"));
  ASSERT_TRUE(items->Item(0)->Read("Body", body));
  EXPECT_EQ(body, QStringLiteral("Line one\r\nLine two"));
}

// Attachments through the store layer: every attachment of the real store's messages gives the
// bytes libpff's own attachment reader gives, through our reader and through libpff alike.
TEST(ContactModel, AttachmentsReadAsLibpffReadsThem) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString path = testing::FixturePst(QStringLiteral("mail-and-one-contact.pst"));
  libpff_file_t* file = nullptr;
  ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
  ASSERT_EQ(libpff_file_open(file, QFile::encodeName(path).constData(), LIBPFF_OPEN_READ, nullptr),
            1);
  for (auto choice : {storefile::ReaderChoice::kOwn, storefile::ReaderChoice::kLibpff}) {
    SCOPED_TRACE(choice == storefile::ReaderChoice::kOwn ? "lumivex" : "libpff");
    auto store = storefile::StoreFile::Open(path, choice);
    int attachments = 0, pictures = 0;
    std::function<void(storefile::StoreItem&)> walk = [&](storefile::StoreItem& folder) {
      for (int m = 0; m < folder.MessageCount(); ++m) {
        auto message = folder.Message(m);
        libpff_item_t* item = nullptr;
        ASSERT_EQ(libpff_file_get_item_by_identifier(file, message->Id(), &item, nullptr), 1);
        int expected = 0;
        ASSERT_EQ(libpff_message_get_number_of_attachments(item, &expected, nullptr), 1);
        ASSERT_EQ(message->AttachmentCount(), expected);
        for (int a = 0; a < expected; ++a) {
          auto attachment = message->Attachment(a);
          libpff_item_t* theirs = nullptr;
          ASSERT_EQ(libpff_message_get_attachment(item, a, &theirs, nullptr), 1);
          int type = 0;
          libpff_attachment_get_type(theirs, &type, nullptr);
          const int data = attachment->Find(0x3701);
          if (type == LIBPFF_ATTACHMENT_TYPE_DATA) {
            size64_t size = 0;
            ASSERT_EQ(libpff_attachment_get_data_size(theirs, &size, nullptr), 1);
            QByteArray bytes(static_cast<qsizetype>(size), '\0');
            const auto read = libpff_attachment_data_read_buffer(
                theirs, reinterpret_cast<uint8_t*>(bytes.data()), size, nullptr);
            ASSERT_EQ(read, static_cast<ssize_t>(size));
            QByteArray ours;
            ASSERT_GE(data, 0);
            ASSERT_TRUE(attachment->Data(data, ours));
            EXPECT_TRUE(ours == bytes) << "attachment " << a << " of message " << message->Id();
            const QString name = attachment->Text(0x3707, 1252).toLower();
            if (name.endsWith(u".png") || name.endsWith(u".gif")) ++pictures;
          }
          libpff_item_free(&theirs, nullptr);
          ++attachments;
        }
        libpff_item_free(&item, nullptr);
      }
      for (int f = 0; f < folder.SubFolderCount(); ++f) walk(*folder.SubFolder(f));
    };
    walk(*store->RootFolder());
    EXPECT_GE(attachments, 15);
    EXPECT_GE(pictures, 11);  // the pictures pffexport saves from one of the sent messages
    EXPECT_THROW(store->RootFolder()->Attachment(0), StoreError);
  }
  libpff_file_close(file, nullptr);
  libpff_file_free(&file, nullptr);
}

// A contact picture written as the mail client attaches one comes back byte for byte with its
// type, and a list's member linked to that contact comes back as the contact's name and the
// e-mail address the list names; through both readers.
TEST(ContactModel, PictureAndLinkedMembersOfAGeneratedStore) {
  const QString path = testing::ScratchDir(QStringLiteral("contact-model-picture")) + "/pic.pst";
  pst::Bytes picture = {0xFF, 0xD8, 0xFF, 0xE0};  // a JPEG's start, then 20 KB: several blocks
  for (uint32_t i = 0, x = 1; i < 20000; ++i, x = x * 1103515245 + 12345)
    picture.push_back(static_cast<uint8_t>(x >> 16));
  {
    pst::StoreWriter writer(path.toStdString(), {});
    const auto folder = writer.Folder(pst::DefaultFolder::kContacts);
    pstgen::Item grace;
    grace.fields = {{"FirstName", std::string("Grace")},
                    {"LastName", std::string("Hopper")},
                    {"Email1Address", std::string("grace@navy.example")},
                    {"Email2Address", std::string("grace@home.example")}};
    grace.picture = picture;
    const pst::Message graceMessage = pstgen::ToMessage(grace, {});
    const pst::Nid graceNode = writer.AddMessage(folder, graceMessage);
    pstgen::Item list;
    list.message_class = "IPM.DistList";
    list.fields = {{"FullName", std::string("Navy")}};
    pstgen::Item::Member linked;
    linked.label = "grace";
    linked.email = 2;
    pstgen::Item::Member oneOff;
    oneOff.name = "Alan";
    oneOff.address = "alan@bletchley.example";
    list.members = {linked, oneOff};
    writer.AddMessage(folder, pstgen::ToMessage(list, {}, [&](const std::string&) {
                        return pstgen::LinkedContactOf(graceMessage, writer.EntryId(graceNode));
                      }));
    writer.Finish();
  }
  for (const char* reader : {"lumivex", "libpff"}) {
    SCOPED_TRACE(reader);
    const auto contacts = ReadAll(path, reader);
    ASSERT_EQ(contacts.size(), 2u);
    const Contact& c = contacts[0];
    EXPECT_TRUE(c.photo.data == QByteArray(reinterpret_cast<const char*>(picture.data()),
                                           static_cast<qsizetype>(picture.size())));
    EXPECT_EQ(c.photo.mimeType, QStringLiteral("image/jpeg"));
    EXPECT_TRUE(contacts[1].isGroup);
    EXPECT_TRUE(contacts[1].photo.IsEmpty());
    // The linked member named as the list's copy names it: the e-mail's display name.
    const QString listed = c.emails.size() > 1 && !c.emails[1].displayName.isEmpty()
                               ? c.emails[1].displayName
                               : c.displayName;
    const std::vector<contact::Member> members = {{listed, "grace@home.example"},
                                                  {"Alan", "alan@bletchley.example"}};
    EXPECT_EQ(contacts[1].members, members);
    EXPECT_FALSE(c.displayName.isEmpty());
  }
}

// An export reads every entry into one contact, whose texts and lists keep their room: nothing of
// an entry read before shows in the next (an address, telephone or e-mail more or fewer, another
// mailing address, a field present or not). Each entry as libpff gives it read on its own, in
// generated contacts of every kind and in the fixtures.
TEST(ContactModel, OneContactReadAgainHoldsOnlyTheEntryRead) {
  const QString generated =
      testing::ScratchDir(QStringLiteral("reused")) + QStringLiteral("/generated.pst");
  const QString edge = testing::SourceDir() + QStringLiteral("/data/edge");
  pstgen::StorePlan plan = pstgen::ParseDescription(
      testing::FileBytes(edge + QStringLiteral("/every-field.json")).toStdString(),
      edge.toStdString());
  ASSERT_EQ(plan.folders.size(), 1u);
  plan.folders[0].generate = 300;  // after every-field's own entries
  pstgen::BuildStore(plan, generated.toStdString());
  std::vector<std::pair<QString, QString>> stores = {{generated, {}}};
  if (!testing::SharedDir().isEmpty())
    stores.insert(stores.end(),
                  {{testing::FixturePst(QStringLiteral("six-contacts.pst")), {}},
                   {testing::FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst")),
                    QStringLiteral("Top of Personal Folders/myInbox")}});
  for (const auto& [path, folder] : stores) {
    SCOPED_TRACE(path.toStdString());
    const auto own = ReadAll(path, "lumivex", folder, true);
    const auto libpff = ReadAll(path, "libpff", folder);
    ASSERT_EQ(own.size(), libpff.size());
    for (size_t i = 0; i < own.size(); ++i)
      EXPECT_EQ(Describe(own[i]), Describe(libpff[i])) << "entry " << i;
  }
}

// Our reader builds a folder's entries on a second thread while they are asked for in order.
// In any order of asking (in order, backwards, skipping, stopping early) each entry is the one
// libpff, which reads nothing ahead, gives at that place.
TEST(ContactModel, EntriesReadAheadComeInAnyOrderAsLibpffGivesThem) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString path = testing::FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst"));
  const QString folderPath = QStringLiteral("Top of Personal Folders/myInbox");
  const auto expected = ReadAll(path, "libpff", folderPath);
  ASSERT_EQ(expected.size(), 72u);  // more than the reader builds ahead at a time
  std::vector<int> forwards(72);
  for (int i = 0; i < 72; ++i) forwards[size_t(i)] = i;
  const std::vector<int> backwards(forwards.rbegin(), forwards.rend());
  struct Pattern {
    const char* name;
    std::vector<int> order;
  };
  const Pattern patterns[] = {
      {"in order", forwards},
      {"backwards", backwards},
      {"skipping", {0, 1, 2, 3, 60, 61, 62, 4, 5, 6, 7, 71, 70, 8, 9, 10, 11, 12}},
      {"stopping early", {0, 1, 2}},
  };
  for (const Pattern& p : patterns) {
    SCOPED_TRACE(p.name);
    qputenv("LUMIVEX_PST_READER", "lumivex");
    auto store = OpenStoreFile(path);
    qunsetenv("LUMIVEX_PST_READER");
    auto folder = FindFolder(*store, folderPath);
    ASSERT_TRUE(folder);
    auto items = folder->GetItems();
    Contact c;  // one for every entry, as the export reads them
    for (int i : p.order) {
      QString why;
      ASSERT_TRUE(items->Item(i)->ReadContact(c, why)) << i << ": " << why.toStdString();
      EXPECT_EQ(Describe(c), Describe(expected[size_t(i)])) << "entry " << i;
    }
  }
}

// An entry that cannot be read gives false and a reason, in both readers, and nothing of any
// other entry.
TEST(ContactModel, UnreadableEntriesGiveAReasonAndNoValues) {
  LUMIVEX_REQUIRE_FIXTURES();
  for (const char* reader : {"lumivex", "libpff"}) {
    SCOPED_TRACE(reader);
    qputenv("LUMIVEX_PST_READER", reader);
    auto store = OpenStoreFile(testing::FixturePst(QStringLiteral("six-contacts.pst")));
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
}

// The name-to-id map is spoiled: the contacts' named properties (e-mail addresses, the business
// address kept as one text) cannot be told from one another. Our reader gives each entry with
// its tagged fields, as in six-contacts.pst of which these stores are damaged copies, without
// the named ones, and says so; nothing of the entry read before stays.
TEST(ContactModel, ADamagedNameMapGivesTheEntriesWithoutTheirNamedFields) {
  LUMIVEX_REQUIRE_FIXTURES();
  for (const char* file :
       {"name-map-block-overwritten.pst", "name-map-lost-silently-six-contacts.pst",
        "name-map-stream-zeroed-six-contacts.pst"}) {
    SCOPED_TRACE(file);
    auto store = OpenStoreFile(testing::SharedDir() + "/fixtures/damaged/" + file);
    auto items = store->DefaultContactsFolder()->GetItems();
    ASSERT_EQ(items->Count(), 6);
    Contact c;
    QString why;
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(items->Item(i)->ReadContact(c, why)) << i;
    ASSERT_TRUE(items->Item(3)->ReadContact(c, why));
    EXPECT_TRUE(why.startsWith(u"written without its e-mail addresses, business address") &&
                why.contains(u"name-to-id map is damaged"))
        << why.toStdString();
    EXPECT_EQ(c.displayName, QStringLiteral("Margaret J. Tolle"));
    EXPECT_EQ(c.surname, QStringLiteral("Tolle"));
    EXPECT_EQ(c.company, QStringLiteral("Adaptaz"));
    EXPECT_EQ(c.jobTitle, QStringLiteral("Recording engineer"));
    const std::vector<contact::Phone> phones = {
        {PhoneKind::kBusiness, QStringLiteral("(08)9080-1183")},
        {PhoneKind::kMobile, QStringLiteral("(925)599-3355(925)599-3355")}};
    EXPECT_EQ(c.phones, phones);
    EXPECT_TRUE(c.emails.empty());
    EXPECT_TRUE(c.addresses.empty());
    EXPECT_TRUE(c.fileAs.isEmpty());
  }
}

}  // namespace
}  // namespace lumivex
