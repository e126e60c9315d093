#include "xls/ExcelFile.h"

#include "common/CodePage.h"
#include "tests/support/ScopedChanges.h"
#include "tests/support/TestPaths.h"
#include "tests/xls/BiffRecords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

QByteArray Hex(const char* hex) {
  return QByteArray::fromHex(hex);
}

// The size of a file with nothing but BOF, FORMATCOUNT and the 24 default formats.
constexpr qsizetype kStartSize = 390;

// An open sheet; Added() gives the bytes that the calls since the last Added() appended.
class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAnsiCodePage(1252);
    dir = ScratchDir(
        QStringLiteral("xls-") +
        QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    path = dir + QStringLiteral("/sheet.xls");
    ASSERT_EQ(xls.CreateFile(path), 0);
    mark = FileBytes(path).size();
    ASSERT_EQ(mark, kStartSize);
  }
  void TearDown() override { SetAnsiCodePage(0); }

  QByteArray Added() {
    const QByteArray bytes = FileBytes(path);
    const QByteArray added = bytes.mid(mark);
    mark = bytes.size();
    return added;
  }

  QString dir;
  QString path;
  ExcelFile xls;
  qsizetype mark = 0;
};

using ExcelFileCells = SheetTest;
using ExcelFileText = SheetTest;
using ExcelFilePageSetup = SheetTest;
using ExcelFilePageBreaks = SheetTest;

}  // namespace

// ---- Lifecycle -------------------------------------------------------------------------------

TEST(ExcelFileLifecycle, EmptyFileReplacesTheOldOneWith394Bytes) {
  const QString path = ScratchDir(QStringLiteral("xls-empty")) + QStringLiteral("/old.xls");
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'x'));
  }
  ExcelFile xls;
  ASSERT_EQ(xls.CreateFile(path), 0);
  ASSERT_EQ(xls.CloseFile(), 0);

  const QByteArray bytes = FileBytes(path);
  ASSERT_EQ(bytes.size(), 394);
  EXPECT_EQ(bytes.left(14), Hex("09 00 04 00 02 00 0A 00  1F 00 02 00 17 00"));
  EXPECT_EQ(bytes.right(4), Hex("0A 00 00 00"));

  bool complete = false;
  const auto records = ParseRecords(bytes, &complete);
  ASSERT_TRUE(complete);
  ASSERT_EQ(records.size(), 27u);
  const int lengths[24] = {7, 1,  4, 5, 8,  23, 28, 29, 34, 2, 5, 8,
                           8, 12, 8, 7, 11, 14, 5,  8,  15, 8, 5, 1};
  int total = 0;
  for (int i = 0; i < 24; ++i) {
    const BiffRecord& format = records[2 + i];
    EXPECT_EQ(format.number, 0x1E);
    EXPECT_EQ(format.Byte(0), lengths[i]) << "format " << i;
    total += format.Byte(0);
  }
  EXPECT_EQ(total, 256);
  EXPECT_EQ(records[2 + 6].data.mid(1), QByteArray(R"(#,##0\ "$";[Red]\-#,##0\ "$")"));
  EXPECT_EQ(records[2 + 13].data.mid(1), QByteArray(R"(dd/\ mmm\ yy)"));
}

TEST(ExcelFileLifecycle, WithoutAnOpenFileEveryWriteFailsAndAddsNothing) {
  const QString path = ScratchDir(QStringLiteral("xls-closed")) + QStringLiteral("/s.xls");
  ExcelFile xls;
  EXPECT_EQ(xls.CloseFile(), 0);  // a new object closed at once creates nothing
  EXPECT_EQ(xls.SetFont(QStringLiteral("Verdana"), 10, 0), ExcelFile::kNoFile);
  EXPECT_EQ(xls.WriteDefaultFormats(), ExcelFile::kNoFile);
  ASSERT_EQ(xls.CreateFile(path), 0);
  ASSERT_EQ(xls.CloseFile(), 0);
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, "a"), ExcelFile::kNoFile);
  EXPECT_EQ(xls.SetHeader(QStringLiteral("h")), ExcelFile::kNoFile);
  EXPECT_EQ(xls.SetRowHeight(1, 12), ExcelFile::kNoFile);
  xls.PrintGridLines(true);
  EXPECT_EQ(xls.CloseFile(), ExcelFile::kNoFile);  // a second close writes no second EOF
  EXPECT_EQ(FileBytes(path).size(), 394);
}

TEST(ExcelFileLifecycle, SecondCreateFinishesTheFirstFile) {
  const QString dir = ScratchDir(QStringLiteral("xls-twice"));
  ExcelFile xls;
  ASSERT_EQ(xls.CreateFile(dir + QStringLiteral("/a.xls")), 0);
  ASSERT_EQ(xls.InsertHorizPageBreak(5), 0);
  ASSERT_EQ(xls.CreateFile(dir + QStringLiteral("/b.xls")), 0);
  ASSERT_EQ(xls.CloseFile(), 0);
  // a.xls got its page break and EOF; b.xls started with an empty page-break list.
  EXPECT_EQ(FileBytes(dir + QStringLiteral("/a.xls")).right(12),
            Hex("1B 00 04 00 01 00 04 00 0A 00 00 00"));
  EXPECT_EQ(FileBytes(dir + QStringLiteral("/b.xls")).size(), 394);
}

// ---- File-system failures ----------------------------------------------------------------------

// A place that cannot take the file: its own status number, nothing created or changed there,
// and no file open afterwards.
TEST(ExcelFileFailures, PlacesThatCannotTakeTheFile) {
  const QString dir = ScratchDir(QStringLiteral("xls-places"));
  QDir().mkpath(dir + QStringLiteral("/sheet.xls"));
  struct Case {
    QString path;
    ExcelFile::Status status;
  };
  std::vector<Case> cases = {{dir + QStringLiteral("/sheet.xls"), ExcelFile::kPathAccessError},
                             {dir + QStringLiteral("/no/s.xls"), ExcelFile::kPathNotFound}};
  // Even root may not create files in /sys; /dev/full takes nothing and must stay a device.
  if (QFileInfo(QStringLiteral("/sys/kernel")).isDir())
    cases.push_back({QStringLiteral("/sys/kernel/lumivex.xls"), ExcelFile::kPermissionDenied});
  if (QFileInfo::exists(QStringLiteral("/dev/full")))
    cases.push_back({QStringLiteral("/dev/full"), ExcelFile::kDiskFull});
  for (const Case& c : cases) {
    ExcelFile xls;
    EXPECT_EQ(xls.CreateFile(c.path), c.status) << c.path.toStdString();
    EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, "a"), ExcelFile::kNoFile);
  }
  EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/sheet.xls")).isDir());
  EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/no")));
  struct stat info {};
  EXPECT_TRUE(::stat("/dev/full", &info) != 0 || S_ISCHR(info.st_mode));
}

// A disk that fills up in the middle of a record: the part that went in is taken back, so the
// file still ends after a whole record, and once there is room again the file can be finished.
TEST(ExcelFileFailures, RecordCutShortByAFullDiskIsTakenBack) {
  const QString path = ScratchDir(QStringLiteral("xls-fills")) + QStringLiteral("/s.xls");
  ExcelFile xls;
  ASSERT_EQ(xls.CreateFile(path), 0);
  ASSERT_EQ(xls.WriteValue(2, 0, 1, 0, 2, 1, "abc"), 0);  // 15 bytes: file is 405

  FileSizeLimit limit(410);
  ASSERT_TRUE(limit.IsSet());
  const ExcelFile::Status full = xls.WriteValue(2, 0, 1, 0, 3, 1, "defghij");  // 19 bytes
  const qsizetype sizeWhenFull = FileBytes(path).size();
  limit.End();

  EXPECT_EQ(full, ExcelFile::kDiskFull);
  EXPECT_EQ(sizeWhenFull, 405);
  ASSERT_EQ(xls.WriteValue(2, 0, 1, 0, 3, 1, "k"), 0);
  ASSERT_EQ(xls.CloseFile(), 0);
  bool complete = false;
  const auto records = ParseRecords(FileBytes(path), &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(records.size(), 29u);
  EXPECT_EQ(ParseLabel(records[26]).text, "abc");
  EXPECT_EQ(ParseLabel(records[27]).text, "k");
  EXPECT_EQ(records[28].number, 0x0A);
}

// A sheet written in large pieces: its bytes are those of a sheet written record by record, and
// a disk that fills up under a piece is reported, with the piece taken back whole.
TEST(ExcelFileFailures, BufferedSheetIsTheSameAndReportsAFullDisk) {
  const QString dir = ScratchDir(QStringLiteral("xls-buffered"));
  const auto fill = [](ExcelFile& xls, int rows) {
    ExcelFile::Status first = ExcelFile::kOk;
    for (int row = 1; row <= rows; ++row)
      for (int column = 1; column <= 20; ++column)
        if (const auto status =
                xls.WriteValue(2, 0, 1, 0, row, column, QStringLiteral("Zoë %1").arg(row));
            status != ExcelFile::kOk && first == ExcelFile::kOk)
          first = status;
    return first;
  };
  ExcelFile plain;
  ExcelFile buffered;
  ASSERT_EQ(plain.CreateFile(dir + QStringLiteral("/plain.xls")), 0);
  ASSERT_EQ(buffered.CreateFile(dir + QStringLiteral("/buffered.xls")), 0);
  buffered.SetBuffered(true);
  EXPECT_EQ(fill(plain, 2000), 0);
  EXPECT_EQ(fill(buffered, 2000), 0);
  ASSERT_EQ(plain.CloseFile(), 0);
  ASSERT_EQ(buffered.CloseFile(), 0);
  EXPECT_EQ(FileBytes(dir + QStringLiteral("/buffered.xls")),
            FileBytes(dir + QStringLiteral("/plain.xls")));

  const QString path = dir + QStringLiteral("/full.xls");
  ExcelFile xls;
  ASSERT_EQ(xls.CreateFile(path), 0);
  xls.SetBuffered(true);
  FileSizeLimit limit(100000);
  ASSERT_TRUE(limit.IsSet());
  const ExcelFile::Status filling = fill(xls, 2000);
  const ExcelFile::Status closing = xls.CloseFile();
  limit.End();
  EXPECT_EQ(filling, ExcelFile::kDiskFull);
  EXPECT_EQ(closing, ExcelFile::kDiskFull);
  bool complete = false;
  const auto records = ParseRecords(FileBytes(path), &complete);
  EXPECT_TRUE(complete);  // whole records only, the last of them no end record: it did not fit
  ASSERT_FALSE(records.empty());
  EXPECT_NE(records.back().number, 0x0A);
  EXPECT_LE(FileBytes(path).size(), 100000);
}

// ---- Cells ---------------------------------------------------------------------------------

TEST_F(ExcelFileCells, TextCellAsInTheFormat) {
  EXPECT_EQ(xls.WriteValue(2, 64, 1, 0, 1, 1, "abc", 0), 0);
  EXPECT_EQ(Added(), Hex("04 00 0B 00 00 00 00 00 00 40 01 03 61 62 63"));
  EXPECT_EQ(xls.WriteValue(2, 0, 0, 0, 2, 3, ""), 0);
  EXPECT_EQ(Added(), Hex("04 00 08 00 01 00 02 00 00 00 00 00"));
  EXPECT_EQ(xls.WriteValue(2, 0, 0, 0, 1, 1, CellValue()), 0);
  EXPECT_EQ(Added().mid(2, 2), Hex("08 00"));
  // A number in a text cell is its text.
  EXPECT_EQ(xls.WriteValue(2, 0, 0, 0, 1, 1, 2.5), 0);
  EXPECT_EQ(Added().mid(11), QByteArray("\x03"
                                        "2.5"));
  EXPECT_EQ(xls.WriteValue(2, 0, 0, 0, 1, 1, 1234567), 0);
  EXPECT_EQ(Added().mid(11), QByteArray("\x07"
                                        "1234567"));
}

TEST_F(ExcelFileCells, TextOf255IsWrittenAnd256IsOverflow) {
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, QString(255, u'x')), 0);
  const QByteArray added = Added();
  EXPECT_EQ(added.size(), 4 + 263);
  EXPECT_EQ(added.mid(2, 2), Hex("07 01"));
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, QString(256, u'x')), ExcelFile::kOverflow);
  EXPECT_EQ(Added(), QByteArray());
}

TEST_F(ExcelFileCells, IntegerCellRoundsHalvesToEven) {
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, 2.5), 0);
  EXPECT_EQ(Added(), Hex("02 00 09 00 00 00 00 00 00 00 00 02 00"));
  const std::pair<CellValue, int16_t> cases[] = {
      {3.5, 4},     {-2.5, -2},     {2.4999, 2},      {CellValue(), 0},  {"7", 7},
      {" 8.5 ", 8}, {32767, 32767}, {-32768, -32768}, {-32768.5, -32768}};
  for (const auto& [value, expected] : cases) {
    ASSERT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, value), 0) << expected;
    const QByteArray added = Added();
    ASSERT_EQ(added.size(), 13);
    EXPECT_EQ(static_cast<int16_t>(static_cast<uint8_t>(added[11]) | static_cast<uint8_t>(added[12])
                                                                         << 8),
              expected);
  }
}

TEST_F(ExcelFileCells, ValuesThatDoNotFitOrConvertWriteNothing) {
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, 32767.5), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, 32768), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, -32769), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 1, 1, "abc"), ExcelFile::kTypeMismatch);
  EXPECT_EQ(xls.WriteValue(1, 0, 0, 0, 1, 1, "12abc"), ExcelFile::kTypeMismatch);
  EXPECT_EQ(xls.WriteValue(1, 0, 0, 0, 1, 1, ""), ExcelFile::kTypeMismatch);
  for (int type : {0, 1, 2})
    EXPECT_EQ(xls.WriteValue(type, 0, 0, 0, 1, 1, CellValue::Null()), ExcelFile::kInvalidNull);
  // Attribute bytes: font 3 with format 64 makes 256; hidden-locked and alignment likewise.
  EXPECT_EQ(xls.WriteValue(2, 192, 1, 0, 1, 1, "a", 64), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(0, 0, 1, 256, 1, 1, 1), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(1, 0, -1, 0, 1, 1, 1), ExcelFile::kOverflow);
  // Rows and columns outside 1..65536.
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 0, 1, "a"), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 65537, 1, "a"), ExcelFile::kOverflow);
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 0, "a"), ExcelFile::kOverflow);
  // Any other kind of cell is no cell at all.
  EXPECT_EQ(xls.WriteValue(3, 0, 1, 0, 1, 1, "a"), 0);
  EXPECT_EQ(Added(), QByteArray());
}

TEST_F(ExcelFileCells, NumberCellAndRowFields) {
  EXPECT_EQ(xls.WriteValue(1, 0, 0, 0, 1, 1, 1), 0);
  EXPECT_EQ(Added(), Hex("03 00 0F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"));
  EXPECT_EQ(xls.WriteValue(1, 0, 0, 0, 1, 1, "2.5"), 0);
  EXPECT_EQ(Added().right(8), Hex("00 00 00 00 00 00 04 40"));
  EXPECT_EQ(xls.WriteValue(1, 64, 3, 128, 32768, 256, 0, 2), 0);
  EXPECT_EQ(Added().mid(4, 7), Hex("FF 7F FF 00 80 42 03"));
  EXPECT_EQ(xls.WriteValue(0, 0, 0, 0, 65536, 1, 0), 0);
  EXPECT_EQ(Added().mid(4, 2), Hex("FF FF"));
}

// ---- Text encoding -----------------------------------------------------------------------------

TEST_F(ExcelFileText, OneBytePerCharacterInTheLocalesCodePage) {
  EXPECT_EQ(ExcelFile::EncodeText(QStringLiteral("Müller €5")), QByteArray("M\xFCller \x80"
                                                                           "5"));
  SetAnsiCodePage(1251);
  EXPECT_EQ(ExcelFile::EncodeText(QStringLiteral("Иван")), QByteArray("\xC8\xE2\xE0\xED"));
  SetAnsiCodePage(1250);
  EXPECT_EQ(ExcelFile::EncodeText(QStringLiteral("Łódź")), QByteArray("\xA3\xF3\x64\x9F"));
}

// A character the code page lacks becomes "?", so the length byte still matches the bytes that
// follow and readers stay in step with the records.
TEST_F(ExcelFileText, CharactersWithoutASingleByteBecomeQuestionMarks) {
  const QString text = QStringLiteral("a日本\U0001F600b");
  EXPECT_EQ(ExcelFile::TextLength(text), 5);
  EXPECT_EQ(ExcelFile::EncodeText(text), QByteArray("a???b"));
  ASSERT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, text), 0);
  EXPECT_EQ(Added().mid(11), QByteArray("\x05"
                                        "a???b"));

  // In the Japanese code page kanji keep their two bytes and the length byte counts bytes;
  // the file says its code page in a CODEPAGE record (932 = 0x03A4) right after the BOF.
  SetAnsiCodePage(932);
  EXPECT_EQ(ExcelFile::EncodeText(QStringLiteral("日本ｱ1")), Hex("93 FA 96 7B B1 31"));
  ASSERT_EQ(xls.CreateFile(path), 0);
  EXPECT_EQ(FileBytes(path).mid(8, 6), Hex("42 00 02 00 A4 03"));
  mark = FileBytes(path).size();
  ASSERT_EQ(xls.SetHeader(QStringLiteral("東京ｱ")), 0);
  EXPECT_EQ(Added(), Hex("14 00 06 00 05 93 8C 8B 9E B1"));
  // 127 kanji are 254 bytes and fit a cell; 128 are 256 bytes and do not.
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, QString(127, QChar(0x65E5))), 0);
  EXPECT_EQ(Added().size(), 12 + 254);
  EXPECT_EQ(xls.WriteValue(2, 0, 1, 0, 1, 1, QString(128, QChar(0x65E5))), ExcelFile::kOverflow);
  EXPECT_EQ(Added().size(), 0);
}

// ---- Page setup and formatting records -------------------------------------------------------

TEST_F(ExcelFilePageSetup, FontAndHeaderRecords) {
  EXPECT_EQ(xls.SetFont(QStringLiteral("Verdana"), 10, 0), 0);
  EXPECT_EQ(Added(), Hex("31 00 0C 00 C8 00 00 00 07") + "Verdana");
  EXPECT_EQ(xls.SetFont(QStringLiteral("Courier"), 16, 3), 0);
  EXPECT_EQ(Added(), Hex("31 00 0C 00 40 01 03 00 07") + "Courier");
  EXPECT_EQ(xls.SetHeader(QStringLiteral("BIFF 2.1 API")), 0);
  EXPECT_EQ(Added(), Hex("14 00 0D 00 0C") + "BIFF 2.1 API");
  EXPECT_EQ(xls.SetHeader(QString()), 0);
  EXPECT_EQ(Added(), Hex("14 00 01 00 00"));
  EXPECT_EQ(xls.SetFooter(QStringLiteral("Zürich")), 0);
  EXPECT_EQ(Added(), Hex("15 00 07 00 06") + "Z\xFCrich");
  EXPECT_EQ(xls.SetFilePassword(QStringLiteral("abcd")), 0);
  EXPECT_EQ(Added(), Hex("2F 00 04 00 61 62 63 64"));
}

TEST_F(ExcelFilePageSetup, MarginsWidthsHeightsAndFlags) {
  EXPECT_EQ(xls.SetMargin(ExcelFile::kLeftMargin, 0.5), 0);
  EXPECT_EQ(Added(), Hex("26 00 08 00 00 00 00 00 00 00 E0 3F"));
  EXPECT_EQ(xls.SetColumnWidth(1, 3, 20), 0);
  EXPECT_EQ(Added(), Hex("24 00 04 00 00 02 00 14"));
  EXPECT_EQ(xls.SetColumnWidth(4, 4, -128), 0);
  EXPECT_EQ(Added(), Hex("24 00 04 00 03 03 00 80"));
  xls.PrintGridLines(true);
  EXPECT_EQ(Added(), Hex("2B 00 02 00 01 00"));
  xls.PrintGridLines(false);
  EXPECT_EQ(Added(), Hex("2B 00 02 00 00 00"));
  xls.ProtectSpreadsheet(true);
  EXPECT_EQ(Added(), Hex("12 00 02 00 01 00"));
  EXPECT_EQ(xls.SetDefaultRowHeight(15), 0);
  EXPECT_EQ(Added(), Hex("25 00 02 00 2C 01"));
  EXPECT_EQ(xls.SetRowHeight(1, 20), 0);
  EXPECT_EQ(Added(), Hex("08 00 10 00 00 00 00 00 00 01 90 01 00 00 00 00 00 00 00 00"));
}

TEST_F(ExcelFilePageSetup, FieldOverflowWritesNothing) {
  EXPECT_EQ(xls.SetFont(QStringLiteral("Verdana"), 1639, 0), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetFont(QStringLiteral("Verdana"), -1639, 0), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetFont(QStringLiteral("Verdana"), 10, 256), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetFont(QString(256, u'V'), 10, 0), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetHeader(QString(256, u'h')), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetFooter(QString(256, u'f')), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetFilePassword(QString(32768, u'p')), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetMargin(40000, 1), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetColumnWidth(0, 3, 20), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetColumnWidth(1, 0, 20), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetColumnWidth(1, 3, 128), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetDefaultRowHeight(1639), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetRowHeight(0, 12), ExcelFile::kOverflow);
  EXPECT_EQ(xls.SetRowHeight(1, -1639), ExcelFile::kOverflow);
  EXPECT_EQ(Added(), QByteArray());
  // The largest values that fit.
  EXPECT_EQ(xls.SetFont(QStringLiteral("V"), 1638, 255), 0);
  EXPECT_EQ(Added().mid(4, 4), Hex("F8 7F FF 00"));
}

// ---- Page breaks -----------------------------------------------------------------------------

TEST_F(ExcelFilePageBreaks, SortedWithDuplicatesJustBeforeEof) {
  EXPECT_EQ(xls.InsertHorizPageBreak(10), 0);
  EXPECT_EQ(xls.InsertHorizPageBreak(3), 0);
  EXPECT_EQ(xls.InsertHorizPageBreak(10), 0);
  EXPECT_EQ(Added(), QByteArray());  // nothing until the file is closed
  EXPECT_EQ(xls.InsertHorizPageBreak(0), ExcelFile::kOverflow);
  EXPECT_EQ(xls.CloseFile(), 0);
  EXPECT_EQ(Added(), Hex("1B 00 08 00 03 00 02 00 09 00 09 00 0A 00 00 00"));
}

TEST_F(ExcelFilePageBreaks, MoreThanTheRecordCanHoldFailsTheClose) {
  for (int row = 16382; row >= 1; --row) ASSERT_EQ(xls.InsertHorizPageBreak(row), 0);
  ASSERT_EQ(xls.InsertHorizPageBreak(65536), 0);
  EXPECT_EQ(xls.CloseFile(), ExcelFile::kOverflow);
  EXPECT_EQ(Added(), QByteArray());

  // 16382 breaks (length word 32766) is the most that fits, and they come out in order.
  ExcelFile fits;
  const QString other = dir + QStringLiteral("/fits.xls");
  ASSERT_EQ(fits.CreateFile(other), 0);
  for (int row = 16382; row >= 1; --row) ASSERT_EQ(fits.InsertHorizPageBreak(row), 0);
  ASSERT_EQ(fits.CloseFile(), 0);
  const auto records = ParseRecords(FileBytes(other));
  ASSERT_EQ(records.size(), 28u);
  const BiffRecord& breaks = records[26];
  ASSERT_EQ(breaks.data.size(), 32766);
  EXPECT_EQ(breaks.Word(0), 16382);
  for (int i = 0; i < 16382; ++i) ASSERT_EQ(breaks.Word(2 + 2 * i), i) << i;
}
