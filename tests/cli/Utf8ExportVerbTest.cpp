// lumivex-cli export --format vcard4|vcard3|csv on real store files: every card and row read
// back by readers nobody on this team wrote holds the values the store holds, as pst-extractor
// (a reader apart from ours and libpff) sees them; unreadable entries are listed and end the
// export with status 3; wrong arguments are refused.
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <tuple>

#include <gtest/gtest.h>

using namespace lumivex::testing;

namespace {

ProgramOutput Cli(const QStringList& args) {
  return RunCli(QStringList{"export"} + args);
}

QString Text(const QJsonValue& item, const char* tag) {
  return item[QLatin1String(tag)].toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The calendar day of a FILETIME given as the hex of its eight bytes: the local day Outlook keeps
// beside a birthday, else the birthday's instant rounded to the nearest day (Outlook stores the
// local midnight of the day, which lies on either side of midnight UTC).
QString Day(const QJsonValue& item, const char* local, const char* instant) {
  QString hex = item[QLatin1String(local)].toString();
  const bool rounded = hex.isEmpty();
  if (rounded) hex = item[QLatin1String(instant)].toString();
  if (hex.size() != 16) return {};
  const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
  quint64 ticks = 0;
  for (int i = 7; i >= 0; --i) ticks = (ticks << 8) | static_cast<uchar>(bytes[i]);
  qint64 seconds = static_cast<qint64>(ticks / 10000000ULL) - 11644473600LL;
  if (rounded) seconds += 12 * 3600;
  return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).date().toString(Qt::ISODate);
}

const char* const kPhoneTags[] = {"0x3A08", "0x3A1B", "0x3A09", "0x3A2F", "0x3A1C",
                                  "0x3A1E", "0x3A21", "0x3A24", "0x3A25", "0x3A23",
                                  "0x3A2E", "0x3A02", "0x3A57", "0x3A2D", "0x3A1F",
                                  "0x3A1A", "0x3A1D", "0x3A2C", "0x3A4B"};

// An address as the readers give it (PO box, extended, street, city, region, code, country):
// each part from the named property Outlook writes, else from the tagged one.
// An address with none of its parts stored but its whole text (as some writers leave it) has
// that text as its street.
QStringList Address(const QJsonValue& item,
                    std::initializer_list<std::pair<const char*, const char*>> tags,
                    const char* whole) {
  QStringList parts;
  for (const auto& [named, tagged] : tags) {
    QString part = named ? Text(item, named) : QString();
    if (part.isEmpty() && tagged) part = Text(item, tagged);
    parts << part;
  }
  if (parts.join(QString()).isEmpty()) parts[2] = Text(item, whole);
  return parts;
}

QStringList WorkAddress(const QJsonValue& item) {
  return Address(item,
                 {{"lid:0x804A", nullptr},
                  {nullptr, nullptr},
                  {"lid:0x8045", nullptr},
                  {"lid:0x8046", nullptr},
                  {"lid:0x8047", nullptr},
                  {"lid:0x8048", nullptr},
                  {"lid:0x8049", nullptr}},
                 "lid:0x801B");
}

// The e-mail addresses of an item; an Exchange entry in the SMTP form its original display name
// holds.
QStringList Emails(const QJsonValue& item) {
  QStringList emails;
  for (const auto& [address, type, original] :
       {std::tuple{"lid:0x8083", "lid:0x8082", "lid:0x8084"},
        std::tuple{"lid:0x8093", "lid:0x8092", "lid:0x8094"},
        std::tuple{"lid:0x80A3", "lid:0x80A2", "lid:0x80A4"}}) {
    const bool exchange = Text(item, type) == u"EX" && Text(item, original).contains(u'@');
    const QString wanted = exchange ? Text(item, original) : Text(item, address);
    if (!wanted.isEmpty()) emails << wanted;
  }
  return emails;
}

// Whether the item's body is kept only as compressed RTF: there is no plain text to compare
// the notes with here (the store backend's own tests read it).
bool RtfOnly(const QJsonValue& item) {
  return Text(item, "0x1000").isEmpty() && !item["0x1009"].toString().isEmpty();
}

// Whether pst-extractor left some of the item's named properties unmapped ("0x80B1").
bool Unmapped(const QJsonValue& item) {
  const QStringList keys = item.toObject().keys();
  return std::any_of(keys.begin(), keys.end(),
                     [](const QString& key) { return key.startsWith(u"0x8"); });
}

class Utf8ExportVerb : public ::testing::Test {
 protected:
  void SetUp() override { out = ScratchDir(QStringLiteral("utf8-export-verb")); }
  QString out;
};

}  // namespace

TEST_F(Utf8ExportVerb, RealStoresReadBackFieldForField) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  ASSERT_TRUE(QFileInfo::exists(sample)) << "the sample store has not been built";
  // Every field of the contact form filled, pictures and a list among them (data/edge).
  const QString everyField = BinDir() + QStringLiteral("/every-field.pst");
  ASSERT_TRUE(QFileInfo::exists(everyField)) << "the every-field store has not been built";

  struct Case {
    QString store;
    QString folder;  // empty: the default contacts folder, "Top of Personal Folders/Contacts"
  };
  const Case cases[] = {
      {sample, {}},
      {everyField, {}},
      {FixturePst("six-contacts.pst"), {}},
      {FixturePst("contact-and-distlist.pst"), {}},
      {FixturePst("mail-and-one-contact.pst"), {}},
      {FixturePst("72-contacts-in-mail-folder.pst"), "Top of Personal Folders/myInbox"},
  };
  // Every store's files first, so that each reader reads them all in one go.
  QStringList files[3];  // vcard4, vcard3, csv
  std::vector<QJsonArray> sources;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.store.toStdString());
    const char* formats[] = {"vcard4", "vcard3", "csv"};
    for (int f = 0; f < 3; ++f) {
      const QString file = QStringLiteral("%1/%2-%3.%4")
                               .arg(out)
                               .arg(n)
                               .arg(QString::fromLatin1(formats[f]))
                               .arg(f == 2 ? "csv" : "vcf");
      QStringList args = {"--format", formats[f], "--out", file, c.store};
      if (!c.folder.isEmpty()) args << "--folder" << c.folder;
      const ProgramOutput run = Cli(args);
      ASSERT_EQ(run.status, 0) << run.err.toStdString();
      EXPECT_TRUE(run.out.startsWith(file + u'\n')) << run.out.toStdString();
      files[f] << file;
    }
    sources.push_back(SourceItems(c.store, c.folder.isEmpty()
                                               ? QStringLiteral("Top of Personal Folders/Contacts")
                                               : c.folder));
    ASSERT_FALSE(sources.back().isEmpty());
    ++n;
  }
  qsizetype entries = 0;
  for (const QJsonArray& items : sources) entries += items.size();

  for (int f = 0; f < 2; ++f) {
    const bool four = f == 0;
    SCOPED_TRACE(four ? "vCard 4.0" : "vCard 3.0");
    // Strict vobject parses every card of every file.
    EXPECT_EQ(VObjectReader().ReadOrFail(files[f]).array().size(), entries);
    for (const Utf8Reader& reader : {EvolutionCardReader(), KContactsCardReader()}) {
      SCOPED_TRACE(reader.name.toStdString());
      const QJsonArray cards = reader.ReadOrFail(files[f]).array();
      ASSERT_EQ(cards.size(), entries);
      qsizetype offset = 0;  // the first card of the store's file
      int compared = 0;
      int pictures = 0;
      for (size_t s = 0; s < sources.size(); ++s) {
        const QJsonArray& items = sources[s];
        std::vector<bool> taken(items.size());
        for (const QJsonValue item : items) {
          if (item["0x001A"].toString() != u"IPM.Contact") continue;
          const QString name = item["0x3001"].toString();
          SCOPED_TRACE(name.toStdString());
          // The card of the same name (the readers may walk a folder in another order).
          qsizetype at = 0;
          while (at < items.size() && (taken[at] || cards[offset + at]["fn"].toString() != name))
            ++at;
          ASSERT_LT(at, items.size()) << "no card for " << name.toStdString();
          taken[at] = true;
          const QJsonObject card = cards[offset + at].toObject();
          EXPECT_EQ(card["given"].toString(), Text(item, "0x3A06"));
          EXPECT_EQ(card["family"].toString(), Text(item, "0x3A11"));
          EXPECT_EQ(card["additional"].toString(), Text(item, "0x3A44"));
          EXPECT_EQ(card["org"].toString(), Text(item, "0x3A16"));
          EXPECT_EQ(Strings(card["emails"]), Emails(item));
          QStringList phones;
          for (const char* tag : kPhoneTags)
            if (!Text(item, tag).isEmpty()) phones << Text(item, tag);
          QStringList read;
          for (const QJsonValue p : card["phones"].toArray()) read << p["number"].toString();
          phones.sort();
          read.sort();
          EXPECT_EQ(read, phones);
          const QStringList work = WorkAddress(item);
          const QStringList home = Address(item,
                                           {{nullptr, "0x3A5E"},
                                            {nullptr, nullptr},
                                            {nullptr, "0x3A5D"},
                                            {nullptr, "0x3A59"},
                                            {nullptr, "0x3A5C"},
                                            {nullptr, "0x3A5B"},
                                            {nullptr, "0x3A5A"}},
                                           "lid:0x801A");
          const QStringList none = {"", "", "", "", "", "", ""};
          // The business address is named: where pst-extractor left named properties unmapped
          // (a store whose name map it reads only in part), there is nothing to compare with.
          if (!Unmapped(item)) {
            EXPECT_EQ(card["workAdr"].isNull() ? none : Strings(card["workAdr"]), work);
          }
          EXPECT_EQ(card["homeAdr"].isNull() ? none : Strings(card["homeAdr"]), home);
          EXPECT_EQ(card["birthday"].toString(), Day(item, "lid:0x80DE", "0x3A42"));
          if (!RtfOnly(item)) {
            // The readers' two slips on a ";" in a note (see Utf8ReadersTest.cpp).
            QString note = Text(item, "0x1000");
            if (note.trimmed().isEmpty()) note.clear();  // a note of blanks is no note
            if (four && reader.name != u"KContacts") note = note.section(u';', 0, 0);
            if (!four && reader.name == u"KContacts")
              note.replace(QStringLiteral(";"), QStringLiteral("\\;"));
            EXPECT_EQ(card["note"].toString(), note);
          }
          // The contact pictures come out byte for byte (KContacts 5 reads no data: URI
          // picture from a 4.0 card).
          for (const auto& [given, picture] : {std::pair{u"Amélie", "every-field-portrait.jpg"},
                                               std::pair{u"Александр", "every-field-badge.png"}}) {
            if (s != 1 || Text(item, "0x3A06") != given) continue;
            if (four && reader.name == u"KContacts") continue;
            QFile file(SourceDir() + QStringLiteral("/data/edge/") + QLatin1String(picture));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(card["photo"].toString(), QString::fromLatin1(file.readAll().toBase64()))
                << picture;
            ++pictures;
          }
          ++compared;
        }
        offset += items.size();
      }
      EXPECT_GT(compared, 80);
      EXPECT_EQ(pictures, four && reader.name == u"KContacts" ? 0 : 2);
    }
  }

  // A CardDAV server takes every card of both versions.
  const QJsonObject server = CardDavServer().ReadOrFail(files[0] + files[1]).object();
  const QJsonArray puts = server["puts"].toArray();
  EXPECT_EQ(puts.size(), 2 * entries);
  for (const QJsonValue put : puts)
    EXPECT_EQ(put["status"].toInt(), 201) << put["error"].toString().toStdString();
  EXPECT_EQ(server["held"].toInt(), 2 * entries);

  // Python's csv module and LibreOffice find each value in the column of its heading.
  for (const Utf8Reader& reader : {PythonCsvReader(), LibreOfficeCsvReader()}) {
    SCOPED_TRACE(reader.name.toStdString());
    const QJsonArray tables = reader.ReadOrFail(files[2]).array();
    ASSERT_EQ(tables.size(), static_cast<qsizetype>(sources.size()));
    for (size_t s = 0; s < sources.size(); ++s) {
      const QJsonArray rows = RowsByHeading(tables[s].toArray());
      ASSERT_EQ(rows.size(), sources[s].size());
      const qsizetype cells = tables[s][0].toArray().size();
      std::vector<bool> taken(rows.size());
      for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["#cells"].toInt(), cells);
        const QJsonValue item = sources[s][i];
        if (item["0x001A"].toString() != u"IPM.Contact") continue;
        // The row of the same names (the folder may be walked in another order).
        qsizetype at = 0;
        while (at < rows.size() &&
               (taken[at] || rows[at]["First Name"].toString() != Text(item, "0x3A06") ||
                rows[at]["Last Name"].toString() != Text(item, "0x3A11") ||
                rows[at]["Company"].toString() != Text(item, "0x3A16")))
          ++at;
        ASSERT_LT(at, rows.size()) << item["0x3001"].toString().toStdString();
        taken[at] = true;
        const QJsonObject row = rows[at].toObject();
        const std::pair<const char*, QString> columns[] = {
            {"Home City", Text(item, "0x3A59")},
            {"Mobile Phone", Text(item, "0x3A1C")},
            {"E-mail Address", Emails(item).value(0)},
            {"Business Street",
             Unmapped(item) ? row["Business Street"].toString() : WorkAddress(item)[2]},
            {"Notes", RtfOnly(item) || Text(item, "0x1000").trimmed().isEmpty()
                          ? row["Notes"].toString().trimmed()
                          : Text(item, "0x1000")}};
        for (const auto& [column, value] : columns)
          EXPECT_EQ(row[QLatin1String(column)].toString(), value) << column;
        EXPECT_EQ(row["Birthday"].toString(), Day(item, "lid:0x80DE", "0x3A42"));
      }
    }
  }
}

TEST_F(Utf8ExportVerb, EveryFolderAndFilePerContact) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample)) GTEST_SKIP() << "the sample store has not been built";
  const QString dir = out + QStringLiteral("/cards");
  const ProgramOutput run =
      Cli({"--format", "vcard3", "--per-contact", "--all-folders", "--out", dir, sample});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
  const QString summary = lines.takeLast();
  const QStringList names = QDir(dir).entryList(QDir::Files);
  // One file per entry of both contacts folders of the sample store, each listed as written.
  EXPECT_EQ(names.size(), lines.size());
  EXPECT_TRUE(summary.startsWith(QString::number(names.size()) +
                                 QStringLiteral(" Contacts Saved Successfully")))
      << summary.toStdString();
  QStringList files;
  for (const QString& name : names) files << dir + u'/' + name;
  EXPECT_EQ(VObjectReader().ReadOrFail(files).array().size(), names.size());
  // The folder below the top is each contact's category.
  const QJsonArray cards = EvolutionCardReader().ReadOrFail(files).array();
  int suppliers = 0;
  for (const QJsonValue card : cards)
    suppliers += card["categories"].toString().split(u',').contains(u"Contacts/Suppliers");
  EXPECT_EQ(suppliers, 3);
}

TEST_F(Utf8ExportVerb, UnreadableEntriesAreListedAndTheStatusIs3) {
  LUMIVEX_REQUIRE_FIXTURES();
  // Part of the store's name-to-id map is overwritten: entries whose named properties cannot be
  // resolved cannot be read whole.
  const QString store =
      SharedDir() + QStringLiteral("/fixtures/damaged/name-map-block-overwritten.pst");
  const QString file = out + QStringLiteral("/damaged.vcf");
  const ProgramOutput run = Cli({"--format", "vcard4", "--out", file, store});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QRegularExpression entry(QStringLiteral(
      "^lumivex-cli export: warning: entry (\\d+) of \"Top of Personal Folders/Contacts\" "
      "cannot be read: .+$"));
  const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 2);
  for (qsizetype i = 0; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(entry.match(lines[i]).hasMatch()) << lines[i].toStdString();
  const qsizetype skipped = lines.size() - 1;
  const QRegularExpression summary(
      QStringLiteral("^lumivex-cli export: incomplete: (\\d+) of 6 entries could not be read "
                     "\\(they are left out, the other (\\d+) were written\\); see the lines "
                     "above$"));
  const auto m = summary.match(lines.last());
  ASSERT_TRUE(m.hasMatch()) << lines.last().toStdString();
  EXPECT_EQ(m.captured(1).toInt(), skipped);
  EXPECT_EQ(m.captured(2).toInt(), 6 - skipped);
  // The file holds the other entries, and nothing of those skipped; with none read, there is
  // no file.
  if (skipped == 6) {
    EXPECT_FALSE(QFileInfo::exists(file));
  } else {
    EXPECT_EQ(VObjectReader().ReadOrFail({file}).array().size(), 6 - skipped);
  }
}

TEST_F(Utf8ExportVerb, WrongArgumentsAreRefused) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  struct Case {
    QStringList args;
    const char* says;
  };
  const Case cases[] = {
      {{"--format", "csv", "--per-contact", "--out", out, sample}, "--per-contact is for vcard4"},
      {{"--format", "vcard4", "--code-page", "1252", "--out", out, sample}, "UTF-8"},
      {{"--format", "vcard3", "--all-folders", "--folder", "Top", "--out", out, sample},
       "exclude each other"},
      {{"--format", "vcard4", sample}, "--out FILE or DIR is missing"},
      {{"--format", "vcard4", "--out", out, "--frobnicate", sample}, "unknown option"},
  };
  for (const Case& c : cases) {
    const ProgramOutput run = Cli(c.args);
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
  }
  const ProgramOutput help = Cli({"--help"});
  for (const char* text : {"vcard4", "vcard3", "csv", "--per-contact", "--all-folders",
                           "KIND:group", "X-ADDRESSBOOKSERVER-MEMBER", "Exit status", "3 "})
    EXPECT_TRUE(help.out.contains(QString::fromUtf8(text))) << text;
}
