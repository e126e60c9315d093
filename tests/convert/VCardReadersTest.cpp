// Our vCard files read back by two readers nobody on this team wrote: every card found, and
// names, phones, addresses and e-mail in their fields.
#include "common/CodePage.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/RunTestSupport.h"

#include <QJsonObject>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// The full contact with text every reader takes as it stands: no separators inside a field, no
// line break in the note, no date to interpret.
FakeContact Full(const QString& first, const QString& last) {
  FakeContact c = VCardContact();
  for (const char* name : {"Body", "Birthday", "HomeAddressState"})
    c.properties.remove(QString::fromLatin1(name));
  c.properties.insert(MakeContact(first, last).properties);
  c.properties.insert({{"CompanyName", "Quorvane"}, {"Department", "Sales"}});
  return c;
}

class VCardReaders : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    SetAnsiCodePage(1252);
  }
  void TearDown() override {
    SetAnsiCodePage(0);
    RunTest::TearDown();
  }
};

void ExpectContact(const QJsonObject& card, const FakeContact& contact, const QString& reader) {
  const auto& p = contact.properties;
  SCOPED_TRACE(reader.toStdString() + ": " + p["FullName"].toStdString());
  EXPECT_EQ(card["family"].toString(), p["LastName"]);
  EXPECT_EQ(card["given"].toString(), p["FirstName"]);
  EXPECT_EQ(card["additional"].toString(), p["MiddleName"]);
  EXPECT_EQ(card["fn"].toString(), p["FullName"]);
  EXPECT_EQ(card["org"].toString(), p["CompanyName"]);
  EXPECT_EQ(card["orgUnit"].toString(), p["Department"]);
  EXPECT_EQ(card["title"].toString(), p["JobTitle"]);
  EXPECT_EQ(card["workPhone"].toString(), p["BusinessTelephoneNumber"]);
  EXPECT_EQ(card["homePhone"].toString(), p["HomeTelephoneNumber"]);
  EXPECT_EQ(card["cellPhone"].toString(), p["MobileTelephoneNumber"]);
  EXPECT_EQ(card["pager"].toString(), p["PagerNumber"]);
  EXPECT_EQ(card["workFax"].toString(), p["BusinessFaxNumber"]);
  EXPECT_EQ(card["homeFax"].toString(), p["HomeFaxNumber"]);
  EXPECT_EQ(card["email"].toString(), p["Email1Address"]);
  EXPECT_EQ(card["url"].toString(), p["WebPage"]);
  if (!p["BusinessAddressStreet"].isEmpty()) {
    EXPECT_EQ(card["workAdr"].toArray().toVariantList(),
              (QVariantList{"", "Room 4", "1 Main St", "Springfield", "IL", "62701", "USA"}));
    EXPECT_EQ(card["workLabel"].toString(),
              u"BusinessOffice\r\n1 Main St\r\nSpringfield, IL 62701\r\nUSA");
    EXPECT_EQ(card["homeAdr"].toArray().toVariantList(),
              (QVariantList{"", "", "2 Elm Rd", p["HomeAddressCity"], "", "46176", "USA"}));
  }
}

}  // namespace

TEST_F(VCardReaders, BothReadersFindEveryCardAndItsFields) {
  std::vector<FakeContact> contacts = {Full("Ann", "Lee"), MakeContact("Zoë", "Müller"),
                                       Full("José", "Núñez"), FakeContact{}};
  contacts[1].properties["Body"] = QStringLiteral("Met at the fair");
  contacts[2].properties["HomeAddressCity"] = QStringLiteral("Zürich");
  for (const FakeContact& c : contacts) Contacts().Add(c);
  ASSERT_EQ(Run(Single()).status, RunResult::kCompleted);
  const QString single = Module1::OutputPath;
  ASSERT_EQ(Run(Each()).status, RunResult::kCompleted);
  QStringList perContact = Files();
  perContact.removeAll(Module1::ExtractFileName(single));
  ASSERT_EQ(perContact.size(), 4);

  int readers = 0;
  for (const Utf8Reader& reader : {EvolutionCardReader(1252), KContactsCardReader(1252)}) {
    if (!reader.missing.isEmpty()) {
      ADD_FAILURE() << reader.missing.toStdString();
      continue;
    }
    ++readers;
    QString error;
    const QJsonArray cards = reader.Read({single}, &error).array();
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(cards.size(), 4) << reader.name.toStdString();
    for (int i = 0; i < 3; ++i) ExpectContact(cards[i].toObject(), contacts[i], reader.name);
    EXPECT_EQ(cards[1].toObject()["note"].toString(), u"Met at the fair");
    EXPECT_EQ(cards[3].toObject()["fn"].toString(), u"");

    for (const QString& file : perContact) {
      const QJsonArray one = reader.Read({target + u'/' + file}, &error).array();
      EXPECT_EQ(one.size(), 1) << file.toStdString() << " " << error.toStdString();
    }
  }
  EXPECT_EQ(readers, 2);
}
