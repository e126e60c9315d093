// The contact model's writers on their own: file names made from contacts, and vCard 4.0 and
// 3.0 lines as the standards want them escaped and folded.
#include "contact/FileNames.h"
#include "contact/GroupMembers.h"
#include "contact/VCardWriter.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace lumivex::contact;

TEST(FileNames, SafeOnLinuxAndWindowsAndUnique) {
  struct Case {
    QString name;
    QString expected;
  };
  const Case cases[] = {
      {"Ann Lee", "Ann Lee.vcf"},
      {"ann lee", "ann lee (2).vcf"},  // equal to the first but for case
      {"Ann Lee", "Ann Lee (3).vcf"},
      {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j.vcf"},
      {"CON", "CON_.vcf"},
      {"lpt1.old", "lpt1_.old.vcf"},
      {"Dots and spaces. . ", "Dots and spaces.vcf"},
      {QStringLiteral("Tab\tand\nline\x01"), "Tab and line.vcf"},
      {"...", "Contact.vcf"},
      {"", "Contact (2).vcf"},
  };
  UniqueFileNames names;
  for (const Case& c : cases)
    EXPECT_EQ(names.Take(c.name, QStringLiteral(".vcf")), c.expected) << c.name.toStdString();

  // A long name is cut on a character boundary to fit the file systems' 255 bytes.
  const QString longName = QString(300, QChar(u'é')) + QStringLiteral("😀");
  const QString stem = SafeFileStem(longName, 200);
  EXPECT_LE(stem.toUtf8().size(), 200);
  EXPECT_TRUE(longName.startsWith(stem));
  EXPECT_EQ(SafeFileStem(QString(99, u'a') + QStringLiteral("😀"), 101), QString(99, u'a'));
}

// Text values escaped as RFC 6350 (4.0: backslash, comma, line break) and RFC 2426 (3.0: the
// semicolon too) say, wherever the special character falls in a long run of plain text.
TEST(VCardLines, TextEscapedAsEachVersionWants) {
  Contact c;
  c.givenName = QStringLiteral("Ann");
  c.notes = QStringLiteral("abcdefghij,klmnopqrst;uvwxyzabcd\\efghijklmn\r\nopqrstuvwx\"yz01");
  const struct {
    VCardVersion version;
    const char* note;
  } cases[] = {
      {VCardVersion::k40,
       "NOTE:abcdefghij\\,klmnopqrst;uvwxyzabcd\\\\efghijklmn\\nopqrstuvwx\"yz01\r\n"},
      {VCardVersion::k30,
       "NOTE:abcdefghij\\,klmnopqrst\\;uvwxyzabcd\\\\efghijklmn\\nopqrstuvwx\"yz01\r\n"},
  };
  for (const auto& t : cases) {
    QByteArray card;
    AppendVCard(card, c, t.version);
    EXPECT_TRUE(card.contains(t.note)) << card.toStdString();
  }
}

// Only addresses mail can be sent to are e-mail addresses and mailto: members: an Exchange X.500
// name without its SMTP form, an X.400 address or a fax one-off is kept apart, and such a
// member is named by its name.
TEST(VCardLines, WhatIsNoMailAddressIsNoEmail) {
  Contact person;
  person.givenName = QStringLiteral("Ex");
  person.emails = {{QStringLiteral("ex@org.example"), {}, QStringLiteral("SMTP")},
                   {QStringLiteral("/o=Org/cn=noSmtp"), {}, QStringLiteral("EX")},
                   {QStringLiteral("c=US;p=Org;s=Change"), {}, QStringLiteral("X400")}};
  Contact list;
  list.isGroup = true;
  list.displayName = QStringLiteral("Team");
  list.members = {{QStringLiteral("Zed"), QStringLiteral("zed@elsewhere.example")},
                  {QStringLiteral("X500 Guy"), QStringLiteral("/o=Org/cn=x500guy")},
                  {QStringLiteral("Fax Guy"), QStringLiteral("Fax Guy@+1 555 2222")}};
  for (const VCardVersion version : {VCardVersion::k40, VCardVersion::k30}) {
    QByteArray card, team;
    AppendVCard(card, person, version);
    AppendVCard(team, list, version);
    EXPECT_EQ(card.count("\r\nEMAIL"), 1) << card.toStdString();
    EXPECT_TRUE(card.contains("X-LUMIVEX-ADDRESS;TYPE=EX:/o=Org/cn=noSmtp\r\n"));
    EXPECT_EQ(team.count("mailto:"), 1) << team.toStdString();
    // In 3.0 Evolution's own form of the list too: the member mail can go to alone.
    EXPECT_EQ(team.count("\r\nEMAIL"), version == VCardVersion::k30 ? 1 : 0) << team.toStdString();
    EXPECT_TRUE(team.contains("mailto:zed@elsewhere.example"));
  }
}

TEST(VCardLines, FoldedAt75OctetsOnCharacterBoundaries) {
  Contact c;
  c.givenName = QStringLiteral("Zoë");
  c.notes = QString(40, u'x') + QStringLiteral("日本語のメモ、長い。") + QString(30, u'\\') +
            QStringLiteral("Ελληνικά😀") + QString(200, u'é');
  c.photo.data = QByteArray(500, '\xAB');
  for (const VCardVersion version : {VCardVersion::k40, VCardVersion::k30}) {
    QByteArray card;
    AppendVCard(card, c, version);
    ASSERT_TRUE(card.endsWith("END:VCARD\r\n"));
    const QList<QByteArray> lines = card.chopped(1).split('\n');
    for (const QByteArray& line : lines) {
      ASSERT_TRUE(line.endsWith('\r')) << "a line ends in LF alone: " << line.toStdString();
      const QByteArray text = line.chopped(1);
      EXPECT_LE(text.size(), 75) << text.toStdString();
      QStringDecoder utf8(QStringDecoder::Utf8);
      const QString decoded = utf8(text);
      EXPECT_FALSE(utf8.hasError()) << "a line splits a character: " << text.toStdString();
    }
  }
}

// The time of the last change in UTC, to the second, on both sides of 1970, across leap days
// and century years, and at the ends of the years the stores hold. Expected values from
// Python's datetime for the same milliseconds.
TEST(VCardLines, RevisionIsTheUtcSecond) {
  const std::pair<qint64, const char*> cases[] = {
      {0, "19700101T000000Z"},
      {-1, "19691231T235959Z"},
      {-2203891200000, "19000301T000000Z"},
      {951827696789, "20000229T123456Z"},
      {4107542399000, "21000228T235959Z"},
      {-62135596800000, "00010101T000000Z"},
      {-11644473599000, "16010101T000001Z"},
      {253402300799999, "99991231T235959Z"},
  };
  for (const auto& [ms, expected] : cases) {
    Contact c;
    c.givenName = QStringLiteral("Ann");
    c.lastModified = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    QByteArray card;
    AppendVCard(card, c, VCardVersion::k40);
    EXPECT_TRUE(card.contains(QByteArray("\r\nREV:") + expected + "\r\n")) << ms << card.data();
  }
}

// A uid that is a UUID as QUuid writes it is taken as it is; any other text gives a UUID made
// from it (expected values from Python's uuid5 under the writer's namespace), or its own value
// in lower case where QUuid reads it as a UUID.
TEST(VCardLines, UidIsAUuid) {
  const std::pair<const char*, const char*> cases[] = {
      {"8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a69", "8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a69"},
      {"8A2B0A36-1F6C-4C1E-9A55-2F1D3C4B5A69", "8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a69"},
      {"00000000-0000-0000-0000-000000000000", "8206ae6f-068b-5b9c-ac19-4fa95d3bf0a1"},
      {"-1234567a1234-1234-1234-1234567890ab", "bf74b6a0-e103-5558-8215-b6237e25c0ea"},
      {"8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a6g", "b7b4140c-bc6b-562d-9c17-5f822ba587be"},
      {"8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5A69", "8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a69"},
      {"8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a-9", "c35cecc2-dc62-54df-a7d2-6b7b39401847"},
  };
  for (const auto& [uid, expected] : cases) {
    Contact c;
    c.givenName = QStringLiteral("Ann");
    c.uid = QString::fromLatin1(uid);
    QByteArray card;
    AppendVCard(card, c, VCardVersion::k40);
    EXPECT_TRUE(card.contains(QByteArray("\r\nUID:urn:uuid:") + expected + "\r\n")) << card.data();
  }
}

// A list's member is named by the first card met with its address, compared without case; by
// none where cards of different names have it (a family's address on each one's card), while
// two cards of one name (one person's entries left apart) are one; a card renamed after it was
// noted names its members under its new UUID. The same whether the addresses are all held in
// memory or, past a bound of one, written out to a temporary file.
TEST(MemberCards, FirstCardWithTheAddressNoneWhereOthersShareItWhereverItIsKept) {
  const auto uuid = [](char last) {
    return QStringLiteral("00000000-0000-4000-8000-00000000000") + last;
  };
  struct Noted {
    char card;
    const char* name;
    QStringList emails;
  };
  const Noted noted[] = {
      {'a', "", {"ann@x.org", "Ann.Two@x.org"}},
      {'b', "", {"bob@x.org", "ANN@x.org"}},
      {'c', "", {"carl@x.org", QStringLiteral("zoë@x.org")}},
      {'d', "", {"dora@x.org", "bob@X.org", ""}},
      {'6', "Alice Berg", {"family@x.org", "alice@x.org"}},
      {'7', "Bob Berg", {"Family@x.org"}},
      {'8', "Anna Lund", {"lund@x.org"}},
      {'9', "Anna Lund", {"LUND@x.org"}},
      {'e', "", {"eve@x.org", "carl@x.org"}},  // then renamed to f
  };
  const std::pair<QString, QString> lookups[] = {
      {"ann@x.org", uuid('a')},
      {" ann.two@X.ORG ", uuid('a')},
      {"bob@x.org", uuid('b')},
      {"Carl@x.org", uuid('c')},
      {QStringLiteral("ZOË@x.org"), uuid('c')},
      {"dora@x.org", uuid('d')},
      {"eve@x.org", uuid('f')},
      {"family@x.org", ""},
      {"alice@x.org", uuid('6')},
      {"lund@x.org", uuid('8')},
      {"nobody@x.org", ""},
      {"", ""},
  };
  for (const size_t inMemory : {size_t(1) << 18, size_t(1)}) {
    MemberCards cards(inMemory);
    Contact contact;
    for (const Noted& n : noted) {
      contact.uid = uuid(n.card);
      contact.displayName = QString::fromUtf8(n.name);
      contact.emails.clear();
      for (const QString& address : n.emails) contact.emails.push_back({address, {}, {}});
      cards.Note(contact);
    }
    contact.uid = uuid('f');
    cards.Renamed(uuid('e'), contact);
    for (const auto& [address, card] : lookups) {
      bool shared = true;
      EXPECT_EQ(cards.CardOf(address, &shared), card)
          << address.toStdString() << " in memory " << inMemory;
      EXPECT_EQ(shared, address == u"family@x.org") << address.toStdString();
    }
  }
}
