// Contact properties the real store files do not hold, read from stores written for the test by
// lumivex-pstgen's writer: multi-valued fields, local-time dates, Exchange addresses, and a named
// property whose number belongs to another property set.
#include "source/StoreBackend.h"
#include "tests/support/TestPaths.h"
#include "tools/pstwriter/Messaging.h"

#include <QDate>
#include <QLocale>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

namespace value = pst::value;
using pst::PropertyKey;

const auto Text = pst::TextProperty;
const auto Address = pst::AddressTextProperty;

QString Read(const ContactEntry& entry, const char* name) {
  QString value = QStringLiteral("<unset>");
  EXPECT_TRUE(entry.Read(name, value)) << name;
  return value;
}

// The second contact holds properties of another set or type than the fields it looks like.
TEST(BackendProperties, MultiValuedDatesAddressesAndPropertiesOfAnotherSetOrType) {
  const QString path = testing::ScratchDir(QStringLiteral("backend-properties")) + "/written.pst";
  {
    pst::StoreWriter writer(path.toStdString(), {});
    const auto contacts = writer.Folder(pst::DefaultFolder::kContacts);

    pst::Message full;
    full.message_class = "IPM.Contact";
    full.properties = {
        Text(0x3001, "Ada Lovelace"),
        Text(0x3A06, "Ada"),
        {PropertyKey::Tagged(0x3A58), 0x101F, value::MultiString({"Byron", "Annabella", "Ralph"})},
        {PropertyKey::Named(pst::kPsPublicStrings, "Keywords"), 0x101F,
         value::MultiString({"Family", "Mathematics"})},
        // Entered as 10 December 1815 by a user east of UTC: the UTC instant is the day before.
        {PropertyKey::Tagged(0x3A42), 0x0040, value::Time(pst::FileTime(1815, 12, 9, 15))},
        {PropertyKey::Numbered(pst::kPsetidAddress, 0x80DE), 0x0040,
         value::Time(pst::FileTime(1815, 12, 10))},
        // Entered west of UTC, no local copy: 05:00 UTC of the entered day.
        {PropertyKey::Tagged(0x3A41), 0x0040, value::Time(pst::FileTime(1835, 7, 8, 5))},
        Address(0x8082, "EX"),
        Address(0x8083, "/o=Analytical/ou=Engines/cn=Recipients/cn=ada"),
        Address(0x8084, "Ada Lovelace (ada@engine.example)"),
        Address(0x8092, "EX"),
        Address(0x8093, "/o=Analytical/ou=Engines/cn=Recipients/cn=charles"),
        Address(0x8094, "Charles Babbage"),
        Address(0x80A2, "SMTP"),
        Address(0x80A3, "third@engine.example"),
        Address(0x8045, "12 St James's Square"),
        Text(0x3A51, "https://engine.example/home"),
        Text(0x1000, "Line one\r\nLine two"),
    };
    writer.AddMessage(contacts, full);

    // The number of Email1Address, but in PS_PUBLIC_STRINGS: another property altogether.
    pst::Message clash;
    clash.message_class = "IPM.Contact";
    clash.properties = {
        Text(0x3001, "Clash"),
        {PropertyKey::Numbered(pst::kPsPublicStrings, 0x8083), 0x001F,
         value::Utf16("wrong@public.example")},
        {PropertyKey::Numbered(pst::kPsPublicStrings, 0x802B), 0x001F,
         value::Utf16("https://wrong.example")},
        {PropertyKey::Named(pst::kPsetidAddress, "Keywords"), 0x101F,
         value::MultiString({"Wrong"})},
        // A value type no contact field has.
        {PropertyKey::Tagged(0x3A16), 0x0003, value::Int32(7)},
        // The mail client's "no date".
        {PropertyKey::Tagged(0x3A42), 0x0040, value::Time(pst::FileTime(4501, 1, 1))},
    };
    writer.AddMessage(contacts, clash);
    writer.Finish();
  }
  auto store = OpenStoreFile(path);
  auto folder = store->DefaultContactsFolder();
  ASSERT_NE(folder, nullptr);
  auto items = folder->GetItems();
  ASSERT_EQ(items->Count(), 2);
  auto ada = items->Item(0);
  EXPECT_EQ(Read(*ada, "FullName"), QStringLiteral("Ada Lovelace"));
  EXPECT_EQ(Read(*ada, "Children"), QStringLiteral("Byron, Annabella, Ralph"));
  EXPECT_EQ(Read(*ada, "Categories"), QStringLiteral("Family, Mathematics"));
  // The tests run in en_US: the short date as Windows writes it there.
  EXPECT_EQ(Read(*ada, "Birthday"), QStringLiteral("12/10/1815"));
  EXPECT_EQ(Read(*ada, "Anniversary"), QStringLiteral("7/8/1835"));
  // Exchange addresses: the SMTP form of the display text where it holds one.
  EXPECT_EQ(Read(*ada, "Email1Address"), QStringLiteral("ada@engine.example"));
  EXPECT_EQ(Read(*ada, "Email2Address"),
            QStringLiteral("/o=Analytical/ou=Engines/cn=Recipients/cn=charles"));
  EXPECT_EQ(Read(*ada, "Email3Address"), QStringLiteral("third@engine.example"));
  EXPECT_EQ(Read(*ada, "BusinessAddressStreet"), QStringLiteral("12 St James's Square"));
  EXPECT_EQ(Read(*ada, "WebPage"), QStringLiteral("https://engine.example/home"));
  EXPECT_EQ(Read(*ada, "Body"), QStringLiteral("Line one\r\nLine two"));
  EXPECT_EQ(Read(*ada, "Spouse"), QString());

  auto clash = items->Item(1);
  EXPECT_EQ(Read(*clash, "FullName"), QStringLiteral("Clash"));
  EXPECT_EQ(Read(*clash, "Email1Address"), QString());
  EXPECT_EQ(Read(*clash, "WebPage"), QString());
  EXPECT_EQ(Read(*clash, "Categories"), QString());
  EXPECT_EQ(Read(*clash, "Birthday"), QString());
  // A number where text is wanted reads as its decimal text.
  EXPECT_EQ(Read(*clash, "CompanyName"), QStringLiteral("7"));
}

// Folder names may hold "/": such a folder is found again by the path it reports, beside a
// folder whose name is the part before the "/"; so is a folder without a name.
TEST(BackendProperties, FolderNamesHoldingASlashAreFoundByTheirPath) {
  const QString path = testing::ScratchDir(QStringLiteral("backend-slash-names")) + "/written.pst";
  {
    pst::StoreWriter writer(path.toStdString(), {});
    const auto contacts = writer.Folder(pst::DefaultFolder::kContacts);
    const auto family = writer.CreateFolder(contacts, "Family", "IPF.Contact");
    writer.CreateFolder(family, "Cousins", "IPF.Contact");
    const auto friends = writer.CreateFolder(contacts, "Family/Friends", "IPF.Contact");
    pst::Message friendEntry;
    friendEntry.message_class = "IPM.Contact";
    friendEntry.properties = {Text(0x3001, "Ann Lee")};
    writer.AddMessage(friends, friendEntry);
    // A folder without a name (as a damaged store may hold), and one inside it.
    const auto nameless = writer.CreateFolder(contacts, "", "IPF.Contact");
    writer.AddMessage(nameless, friendEntry);
    writer.CreateFolder(nameless, "Inner", "IPF.Contact");
    writer.Finish();
  }
  auto store = OpenStoreFile(path);
  for (const char* wanted :
       {"Top of Personal Folders/Contacts/Family/Friends",
        "Top of Personal Folders/Contacts/Family/Cousins",
        "Top of Personal Folders/Contacts/Family", "Top of Personal Folders/Contacts/",
        "Top of Personal Folders/Contacts//Inner"}) {
    const auto folder = FindFolder(*store, QString::fromUtf8(wanted));
    ASSERT_NE(folder, nullptr) << wanted;
    EXPECT_EQ(folder->Path(), QString::fromUtf8(wanted));
  }
  EXPECT_EQ(
      FindFolder(*store, "Top of Personal Folders/Contacts/Family/Friends")->GetItems()->Count(),
      1);
  EXPECT_EQ(FindFolder(*store, "Top of Personal Folders/Contacts/Family/Frie"), nullptr);
  EXPECT_EQ(FindFolder(*store, "Top of Personal Folders/Contacts/")->GetItems()->Count(), 1);
}

}  // namespace
}  // namespace lumivex
