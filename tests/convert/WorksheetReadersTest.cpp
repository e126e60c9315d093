// The contact sheet read back by programs that nobody on this team wrote: LibreOffice Calc, which
// opens the file as it is, and xlrd, which tells an empty text cell from no cell and reads the
// fonts, formats and page breaks. Each must find every cell at its place with its text.
#include "source/StoreBackend.h"
#include "tests/convert/ProgramRun.h"
#include "tests/convert/WorksheetTestSupport.h"
#include "xls/ExcelFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// What a reader should find: every cell the sheet was given, its text as it comes back from
// the code page (a character the code page lacks reads as "?").
SheetCells ExpectedCells(const std::vector<FakeContact>& contacts) {
  SheetCells cells;
  for (int column = 1; column <= 39; ++column) cells[{1, column}] = SheetTitles()[column - 1];
  int row = 2;
  for (const FakeContact& contact : contacts) {
    for (int column = 1; column <= 39; ++column) {
      const QString value = SheetValue(contact, column);
      if (ExcelFile::TextLength(value) > 255) continue;
      cells[{row, column}] = FromAnsi(ExcelFile::EncodeText(value), 1252);
    }
    ++row;
  }
  return cells;
}

std::string Describe(const SheetCells& cells, const SheetCells& other) {
  std::string text;
  for (const auto& [position, value] : cells) {
    auto it = other.find(position);
    if (it == other.end() || it->second != value)
      text += "  R" + std::to_string(position.first) + "C" + std::to_string(position.second) +
              ": \"" + value.toStdString() + "\" vs \"" +
              (it == other.end() ? std::string("<none>") : it->second.toStdString()) + "\"\n";
  }
  return text;
}

// Splits CSV text into rows of fields: fields in double quotes may hold commas, doubled quotes
// and line breaks.
std::vector<QStringList> ParseCsv(const QString& text) {
  std::vector<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (quoted) {
      if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
        field += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      row << field;
      field.clear();
    } else if (c == u'\n' || c == u'\r') {
      if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
      row << field;
      field.clear();
      rows.push_back(row);
      row.clear();
    } else {
      field += c;
    }
  }
  if (!field.isEmpty() || !row.isEmpty()) rows.push_back(row << field);
  return rows;
}

// A few contacts as users have them: accents, typographic quotes, the euro sign, a character
// that code page 1252 lacks, a comma and quotes that CSV must escape, "0" titles, a long body.
std::vector<FakeContact> RealisticContacts() {
  std::vector<FakeContact> contacts;
  contacts.push_back(FullContact(QStringLiteral("Zoë"), QStringLiteral("Müller"), 1));
  FakeContact second = FullContact(QStringLiteral("Łukasz"), QStringLiteral("Øster, \"Jr\""), 2);
  second.properties["Title"] = QStringLiteral("0");
  second.properties["Body"] = QStringLiteral("日本 team lead; 2 × weekly");
  contacts.push_back(second);
  FakeContact third = MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee"));
  third.properties["Body"] = QString(300, u'x');
  third.properties["Department"] = QStringLiteral("0");
  contacts.push_back(third);
  return contacts;
}

// What xlrd (tests/xls/xlrd-dump.py) finds in a sheet: fonts, formats, cells and page breaks,
// its text decoded in `codec` ("record": the code page the sheet's CODEPAGE record names).
// False with `why` set when xlrd is missing; a failure of xlrd fails the test.
bool ReadWithXlrd(const QString& sheet, QJsonObject& read, std::string& why,
                  const QString& codec = QStringLiteral("cp1252")) {
  const QString python = QStringLiteral("/usr/bin/python3");
  if (!QFileInfo::exists(python) || RunProgram(python, {"-c", "import xlrd"}).status != 0) {
    why = "xlrd is not installed (Debian package python3-xlrd)";
    return false;
  }
  const ProgramOutput output =
      RunProgram(python, {SourceDir() + QStringLiteral("/tests/xls/xlrd-dump.py"), sheet, codec});
  EXPECT_EQ(output.status, 0) << "xlrd failed: " << output.err.toStdString();
  read = QJsonDocument::fromJson(output.out.toUtf8()).object();
  return true;
}

// The text cells of xlrd's answer.
SheetCells XlrdCells(const QJsonObject& read) {
  SheetCells cells;
  for (const QJsonValue& cell : read.value("cells").toArray()) {
    const QJsonArray c = cell.toArray();
    cells[{c.at(0).toInt(), c.at(1).toInt()}] = c.at(2).toString();
  }
  return cells;
}

// The contacts of a store file's default contacts folder as the sheet should show them: every
// property read through the store interface, a failed read keeping the previous contact's value.
std::vector<FakeContact> StoreContacts(const QString& path) {
  std::vector<FakeContact> contacts;
  auto folder = OpenStoreFile(path)->DefaultContactsFolder();
  if (!folder) return contacts;
  auto items = folder->GetItems();
  QMap<QString, QString> held;
  for (int i = 0; i < items->Count(); ++i) {
    auto entry = items->Item(i);
    FakeContact contact;
    for (const QString& property : SheetProperties()) {
      QString value = held.value(property);
      entry->Read(property.toStdString(), value);
      held[property] = value;
      contact.properties[property] = value;
    }
    contacts.push_back(contact);
  }
  return contacts;
}

class WorksheetReaders : public WorksheetRunTest {
 protected:
  // Runs the export over the realistic contacts; the path of the sheet.
  QString WriteSheet() {
    for (const FakeContact& contact : RealisticContacts()) Contacts().Add(contact);
    Run();
    EXPECT_TRUE(complete);
    return result.outputPath;
  }
};

}  // namespace

// The sheets as LibreOffice Calc opens them, converted to UTF-8 CSV files in `outDir` (one per
// sheet, named as it); empty with `why` set when LibreOffice is missing.
QStringList ConvertWithLibreOffice(const QStringList& sheets, const QString& outDir,
                                   std::string& why) {
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (soffice.isEmpty()) {
    why = "LibreOffice is not installed (Debian: libreoffice-calc-nogui)";
    return {};
  }
  QTemporaryDir profile;
  EXPECT_TRUE(profile.isValid());
  const ProgramOutput output = RunProgram(
      soffice, QStringList{QStringLiteral("-env:UserInstallation=file://") + profile.path(),
                           QStringLiteral("--headless"), QStringLiteral("--infilter=MS Excel 4.0"),
                           QStringLiteral("--convert-to"),
                           QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1"),
                           QStringLiteral("--outdir"), outDir} +
                   sheets);
  EXPECT_TRUE(output.finished) << "LibreOffice did not finish within two minutes";
  // soffice reports success even when it fails: the CSV files are the proof.
  QStringList csvs;
  for (const QString& sheet : sheets) {
    csvs << outDir + u'/' + QFileInfo(sheet).completeBaseName() + QStringLiteral(".csv");
    EXPECT_TRUE(QFileInfo::exists(csvs.last()))
        << output.out.toStdString() << output.err.toStdString();
  }
  return csvs;
}

TEST_F(WorksheetReaders, LibreOfficeFindsEveryCellAtItsPlace) {
  const QString sheet = WriteSheet();
  std::string why;
  const QStringList csvs = ConvertWithLibreOffice({sheet}, target + QStringLiteral("/csv"), why);
  if (csvs.isEmpty()) LUMIVEX_MISSING(why);
  const QString csv = csvs[0];
  ASSERT_TRUE(QFileInfo::exists(csv));

  const std::vector<QStringList> rows = ParseCsv(QString::fromUtf8(FileBytes(csv)));
  // CSV cannot tell an empty text cell from no cell: compare the grid, absent cells as "".
  const SheetCells expected = ExpectedCells(RealisticContacts());
  ASSERT_EQ(rows.size(), 4u);
  SheetCells grid;
  SheetCells filled;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 39; ++c) {
      const QString value = c < rows[r].size() ? rows[r][c] : QString();
      auto it = expected.find({r + 1, c + 1});
      grid[{r + 1, c + 1}] = value;
      filled[{r + 1, c + 1}] = it == expected.end() ? QString() : it->second;
    }
    EXPECT_LE(rows[r].size(), 39) << "row " << r + 1;
  }
  EXPECT_EQ(grid, filled) << Describe(filled, grid);
}

// xlrd reads fonts, formats and page breaks as well; it takes only the document type 0x0010,
// which its script puts in place of ours in memory.
TEST_F(WorksheetReaders, XlrdFindsFontsFormatsCellsAndPageBreaks) {
  const QString sheet = WriteSheet();
  QJsonObject read;
  std::string why;
  if (!ReadWithXlrd(sheet, read, why)) LUMIVEX_MISSING(why);

  const QJsonArray fonts = read.value("fonts").toArray();
  ASSERT_EQ(fonts.size(), 4);
  EXPECT_EQ(fonts[0].toArray(), QJsonArray({"Verdana", 200, false, false, false}));
  EXPECT_EQ(fonts[1].toArray(), QJsonArray({"Verdana", 220, true, false, false}));
  EXPECT_EQ(fonts[2].toArray(), QJsonArray({"Verdana", 200, true, false, true}));
  EXPECT_EQ(fonts[3].toArray(), QJsonArray({"Courier", 320, true, true, false}));
  QStringList formats;
  for (const QJsonValue& format : read.value("formats").toArray()) formats << format.toString();
  EXPECT_EQ(formats,
            QStringList(ExcelFile::DefaultFormats().begin(), ExcelFile::DefaultFormats().end()));

  for (const QJsonValue& cell : read.value("cells").toArray()) {
    const int row = cell[0].toInt();
    EXPECT_EQ(cell[3].toInt(), row == 1 ? 1 : 0) << "font of R" << row << "C" << cell[1].toInt();
  }
  const SheetCells cells = XlrdCells(read);
  const SheetCells expected = ExpectedCells(RealisticContacts());
  EXPECT_EQ(cells, expected) << Describe(expected, cells) << Describe(cells, expected);
  EXPECT_TRUE(read.value("page_breaks").toArray().isEmpty());

  // Page breaks, which the contact sheet has none of, from the writer itself.
  ExcelFile breaks;
  const QString other = target + QStringLiteral("/breaks.xls");
  ASSERT_EQ(breaks.CreateFile(other), 0);
  ASSERT_EQ(breaks.SetFont(QStringLiteral("Arial"), 10, 0), 0);
  for (int row = 1; row <= 30; ++row) ASSERT_EQ(breaks.WriteValue(0, 0, 0, 0, row, 1, row), 0);
  for (int row : {20, 5, 20, 12}) ASSERT_EQ(breaks.InsertHorizPageBreak(row), 0);
  ASSERT_EQ(breaks.CloseFile(), 0);
  ASSERT_TRUE(ReadWithXlrd(other, read, why)) << why;
  EXPECT_EQ(read.value("page_breaks").toArray(), QJsonArray({5, 12, 20, 20}));
}

// Real store files through the store-file backend, read back by xlrd cell for cell.
class WorksheetFromStore : public WorksheetRunTest {
 protected:
  void ExportAndCompare(const QString& store, int contacts) {
    SetMailProvider(MakeStoreMailProvider(nullptr, store));
    Run();
    ASSERT_EQ(result.status, RunResult::kCompleted) << result.error.toStdString();
    EXPECT_EQ(result.contacts, contacts);
    ASSERT_TRUE(complete);
    QJsonObject read;
    std::string why;
    if (!ReadWithXlrd(result.outputPath, read, why)) LUMIVEX_MISSING(why);
    const SheetCells cells = XlrdCells(read);
    const std::vector<FakeContact> expectedContacts = StoreContacts(store);
    ASSERT_EQ(static_cast<int>(expectedContacts.size()), contacts);
    const SheetCells expected = ExpectedCells(expectedContacts);
    EXPECT_EQ(cells, expected) << Describe(expected, cells) << Describe(cells, expected);
  }
};

TEST_F(WorksheetFromStore, SixContactsFromARealStoreFile) {
  LUMIVEX_REQUIRE_FIXTURES();
  ExportAndCompare(FixturePst(QStringLiteral("six-contacts.pst")), 6);
}

TEST_F(WorksheetFromStore, TheSampleStore) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample))
    LUMIVEX_MISSING("no sample store at " << sample.toStdString()
                                          << ": it is written by lumivex-pstgen when the tools "
                                             "are built");
  int contacts = 0;
  {
    auto folder = OpenStoreFile(sample)->DefaultContactsFolder();
    ASSERT_TRUE(folder);
    contacts = std::min(folder->GetItems()->Count(), 32766);
  }
  ExportAndCompare(sample, contacts);
}

// Names in the scripts of other code pages, written by lumivex-pstgen and exported by
// lumivex-cli in that code page: xlrd (taking the code page from the sheet's CODEPAGE record)
// and LibreOffice read every cell back as the store holds it.
TEST(WorksheetCodePages, EveryCellReadsBackInItsCodePage) {
  struct Case {
    int codePage;
    const char* first;
    const char* last;
    const char* company;
    const char* city;
    const char* notes;
  };
  const Case cases[] = {
      {932, "太郎", "山田", "株式会社ｱｲｳ東京", "東京都", "営業部長：週２回"},
      {936, "小明", "王", "北京科技有限公司", "北京市", "销售经理，每周两次"},
      {949, "민준", "김", "서울전자 주식회사", "서울특별시", "영업 부장, 주 2회"},
      {950, "大文", "陳", "台北貿易股份有限公司", "臺北市", "業務經理，每週兩次"},
      {1251, "Мария", "Иванова", "ООО «Ромашка»", "Санкт-Петербург", "Звонить по вторникам"},
      {1253, "Γιάννης", "Παπαδόπουλος", "Ελληνική Εταιρεία Α.Ε.", "Αθήνα", "Μόνο e-mail"},
      {1252, "Zoë", "Müller", "Bäckerei Größe & Söhne", "Zürich", "Prefers “e-mail” – €5"},
  };
  const QString dir = ScratchDir(QStringLiteral("worksheet-code-pages"));
  QStringList sheets;
  for (const Case& c : cases) {
    const QString name = QStringLiteral("cp%1").arg(c.codePage);
    const QString json = dir + u'/' + name + QStringLiteral(".json");
    QFile description(json);
    ASSERT_TRUE(description.open(QIODevice::WriteOnly));
    description.write(
        QStringLiteral(R"({"folders": [{"path": "Contacts", "items": [{"FirstName": "%1",
            "LastName": "%2", "CompanyName": "%3", "BusinessAddressCity": "%4", "Body": "%5"}]}]})")
            .arg(QString::fromUtf8(c.first), QString::fromUtf8(c.last),
                 QString::fromUtf8(c.company), QString::fromUtf8(c.city),
                 QString::fromUtf8(c.notes))
            .toUtf8());
    description.close();
    const QString store = dir + u'/' + name + QStringLiteral(".pst");
    const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen", {json, "--out", store});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    const QString out = dir + u'/' + name + u'/';
    const ProgramOutput run = RunCli({"export", "--format", "xls", "--code-page",
                                      QString::number(c.codePage), "--out", out, store});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList written = QDir(out).entryList({QStringLiteral("*.xls")});
    ASSERT_EQ(written.size(), 1);
    sheets << dir + u'/' + name + QStringLiteral(".xls");
    ASSERT_TRUE(QFile::rename(out + written[0], sheets.last()));
  }

  std::string why;
  const QStringList csvs = ConvertWithLibreOffice(sheets, dir + QStringLiteral("/csv"), why);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.codePage);
    // The title row, then the contact's row: its cells by column, the rest empty.
    SheetCells expected;
    for (int column = 1; column <= 39; ++column) expected[{1, column}] = SheetTitles()[column - 1];
    expected[{2, 1}] = QString::fromUtf8(c.first);
    expected[{2, 3}] = QString::fromUtf8(c.last);
    expected[{2, 7}] = QString::fromUtf8(c.company);
    expected[{2, 15}] = QString::fromUtf8(c.city);
    expected[{2, 39}] = QString::fromUtf8(c.notes);
    QJsonObject read;
    // A sheet without the record is taken as Windows-1252 by LibreOffice; xlrd is told so.
    const QString codec = c.codePage == 1252 ? QStringLiteral("cp1252") : QStringLiteral("record");
    if (ReadWithXlrd(sheets[qsizetype(i)], read, why, codec)) {
      SheetCells cells;
      for (const auto& [at, text] : XlrdCells(read))
        if (!text.isEmpty()) cells[at] = text;
      EXPECT_EQ(cells, expected) << Describe(expected, cells) << Describe(cells, expected);
    }
    if (csvs.isEmpty()) continue;
    const std::vector<QStringList> rows =
        ParseCsv(QString::fromUtf8(FileBytes(csvs[qsizetype(i)])));
    SheetCells cells;
    for (size_t r = 0; r < rows.size(); ++r)
      for (qsizetype col = 0; col < rows[r].size(); ++col)
        if (!rows[r][col].isEmpty()) cells[{int(r) + 1, int(col) + 1}] = rows[r][col];
    EXPECT_EQ(cells, expected) << Describe(expected, cells) << Describe(cells, expected);
  }
  if (!why.empty()) LUMIVEX_MISSING(why);
}
