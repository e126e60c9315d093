#include "tests/convert/WorksheetTestSupport.h"

#include <QFileInfo>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// The order in which a contact's cells stand in the file.
const int kWriteOrder[39] = {1,  2,  3,  5,  6,  4,  7,  8,  14, 15, 16, 17, 18,
                             9,  10, 11, 12, 13, 19, 20, 21, 22, 23, 24, 25, 26,
                             27, 28, 29, 30, 36, 37, 31, 32, 33, 34, 35, 39, 38};

const QByteArray kEof("\x0A\x00\x00\x00", 4);

}  // namespace

using WorksheetExport = WorksheetRunTest;

TEST_F(WorksheetExport, WritesFontsHeaderTitlesAndOneRowPerContactInItsOrder) {
  Contacts().Add(FullContact(QStringLiteral("Zoë"), QStringLiteral("Müller"), 1));
  FakeContact zeros = FullContact(QStringLiteral("François"), QStringLiteral("Lefèvre"), 2);
  zeros.properties["Suffix"] = QStringLiteral("0");
  zeros.properties["Title"] = QStringLiteral("0");
  zeros.properties["Department"] = QStringLiteral("0");
  zeros.properties["Children"] = QStringLiteral("00");
  Contacts().Add(zeros);
  FakeContact sparse = MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee"));
  sparse.properties["Title"] = QStringLiteral(" 0");
  sparse.properties["Suffix"] = QStringLiteral("00");
  Contacts().Add(sparse);

  Run();
  ASSERT_EQ(result.status, RunResult::kCompleted);
  EXPECT_EQ(result.contacts, 3);
  const QFileInfo file(result.outputPath);
  EXPECT_EQ(file.absolutePath(), QDir(target).absolutePath());
  EXPECT_TRUE(HasStemName(file.fileName(), "xls")) << file.fileName().toStdString();
  EXPECT_EQ(Module1::OutputPath, result.outputPath);
  EXPECT_EQ(view.written, QStringList{result.outputPath});

  ASSERT_TRUE(complete);
  ASSERT_EQ(records.size(), 26u + 4 + 1 + 39 + 3 * 39 + 1);
  EXPECT_EQ(bytes.left(8), QByteArray::fromHex("0900040002000A00"));
  const QByteArray fonts[4] = {QByteArray::fromHex("C800 00 00 07") + "Verdana",
                               QByteArray::fromHex("DC00 01 00 07") + "Verdana",
                               QByteArray::fromHex("C800 05 00 07") + "Verdana",
                               QByteArray::fromHex("4001 03 00 07") + "Courier"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(records[26 + i].number, 0x31);
    EXPECT_EQ(records[26 + i].data, fonts[i]) << "font " << i;
  }
  EXPECT_EQ(records[30].number, 0x14);
  EXPECT_EQ(records[30].data, QByteArray("\x0C"
                                         "BIFF 2.1 API"));
  EXPECT_EQ(records.back().number, 0x0A);

  const std::vector<BiffLabel> labels = Labels(31);
  ASSERT_EQ(labels.size(), 39u + 3 * 39);
  for (int column = 1; column <= 39; ++column) {
    const BiffLabel& title = labels[column - 1];
    EXPECT_EQ(title.row, 0);
    EXPECT_EQ(title.column, column - 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(title.attributes), 3),
              QByteArray("\x00\x40\x01", 3));
    EXPECT_EQ(title.text, SheetTitles()[column - 1].toLatin1());
  }
  for (int contact = 0; contact < 3; ++contact) {
    for (int i = 0; i < 39; ++i) {
      const BiffLabel& cell = labels[39 + contact * 39 + i];
      const int column = kWriteOrder[i];
      SCOPED_TRACE(::testing::Message() << "contact " << contact + 1 << ", column " << column);
      EXPECT_EQ(cell.row, contact + 1);
      EXPECT_EQ(cell.column, column - 1);
      EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(cell.attributes), 3),
                QByteArray("\x00\x00\x01", 3));
      EXPECT_EQ(cell.text, ToAnsi(SheetValue(Contacts().contacts[contact], column), 1252));
    }
  }
  // The "0" rule as examples: columns 5 and 6 only, and only a value of exactly "0".
  const SheetCells cells = Cells();
  EXPECT_EQ(cells.at({3, 5}) + cells.at({3, 6}), QString());
  EXPECT_EQ(cells.at({3, 11}), u"0");
  EXPECT_EQ(cells.at({4, 6}), u" 0");
  EXPECT_EQ(cells.at({4, 5}), u"00");

  // Label, then bar, after each contact; the buttons come back before the file is closed, the
  // message comes after it, and the bar keeps its last position.
  EXPECT_EQ(view.events,
            QStringList({"range 0..3", "label Saving Contacts 1/3", "value 1",
                         "label Saving Contacts 2/3", "value 2", "label Saving Contacts 3/3",
                         "value 3", "enable", "message 3 Contacts Saved Successfully", "hide"}));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, u"Conversion Completed...");
  EXPECT_EQ(view.messages[0].style, 64);
  EXPECT_NE(view.endAtEnable, kEof);
  EXPECT_EQ(view.endAtMessage, kEof);
}

TEST_F(WorksheetExport, EmptyFolderGivesTheHeaderRowAndZeroContacts) {
  Run();
  ASSERT_TRUE(complete);
  EXPECT_EQ(Labels().size(), 39u);
  EXPECT_EQ(records.size(), 26u + 4 + 1 + 39 + 1);
  EXPECT_EQ(view.events,
            QStringList({"range 0..0", "enable", "message 0 Contacts Saved Successfully", "hide"}));
  EXPECT_EQ(result.contacts, 0);
}

// A read that fails keeps the column's value from the previous contact; columns 22 and 33 share
// one holder. Every contact still counts.
TEST_F(WorksheetExport, FailedReadsRepeatThePreviousContactsValue) {
  FakeContact first = FullContact(QStringLiteral("Ada"), QStringLiteral("Byron"), 1);
  first.failing = {QStringLiteral("JobTitle")};
  FakeContact second = FullContact(QStringLiteral("Bob"), QStringLiteral("Stone"), 2);
  second.properties["CompanyName"] = QStringLiteral("Other Ltd");
  second.properties["Title"] = QStringLiteral("0");
  second.failing = {QStringLiteral("PagerNumber"), QStringLiteral("Suffix")};
  FakeContact third = FullContact(QStringLiteral("Cy"), QStringLiteral("Young"), 3);
  third.unreadable = true;
  Contacts().Add(first).Add(second).Add(third);

  Run();
  const SheetCells cells = Cells();
  EXPECT_EQ(cells.at({2, 8}), QString());           // nothing read before the first contact
  EXPECT_EQ(cells.at({3, 8}), u"Chef de cuisine");  // read again for the second
  EXPECT_EQ(cells.at({3, 22}), u"PG-1");
  EXPECT_EQ(cells.at({3, 33}), u"PG-1");
  EXPECT_EQ(cells.at({3, 5}), u"Jr.");
  EXPECT_EQ(cells.at({3, 6}), QString());
  for (int column = 1; column <= 39; ++column)  // the unreadable third repeats the second
    EXPECT_EQ(cells.at({4, column}), cells.at({3, column})) << column;
  EXPECT_EQ(cells.at({4, 7}), u"Other Ltd");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"3 Contacts Saved Successfully");
}

TEST_F(WorksheetExport, BodyTooLongForACellLeavesOutThatCellAlone) {
  FakeContact longBody = MakeContact(QStringLiteral("Long"), QStringLiteral("Body"));
  longBody.properties["Body"] = QString(256, u'b');
  FakeContact fullBody = MakeContact(QStringLiteral("Full"), QStringLiteral("Body"));
  fullBody.properties["Body"] = QString(255, u'b');
  Contacts().Add(longBody).Add(fullBody);

  Run();
  const SheetCells cells = Cells();
  int row2 = 0;
  for (const auto& [position, text] : cells) row2 += position.first == 2;
  EXPECT_EQ(row2, 38);
  EXPECT_FALSE(cells.contains({2, 39}));
  EXPECT_EQ(cells.at({2, 38}), QString());  // the cell after it in the row is still written
  EXPECT_EQ(cells.at({3, 39}), QString(255, u'b'));
  EXPECT_EQ(view.messages.at(0).text, u"2 Contacts Saved Successfully");
  EXPECT_EQ(view.written.size(), 1);  // a cell left out does not spoil the file
}

// Contacts 1 to 32766 fill rows 2 to 32767; from the 32767th on the 16-bit counter cannot give
// a row, so no cell is written, the counter stays at 32767 and the message says 32766.
TEST_F(WorksheetExport, StopsAtTheLastRowTheCounterCanReach) {
  Contacts().contacts.reserve(32768);
  for (int i = 0; i < 32768; ++i)
    Contacts().Add(MakeContact(QStringLiteral("N"), QString::number(i)));

  Run();
  ASSERT_TRUE(complete);
  int cellsWritten = 0;
  int lastRow = 0;
  for (const BiffRecord& record : records) {
    if (record.number != 0x04) continue;
    ++cellsWritten;
    lastRow = std::max(lastRow, static_cast<int>(record.Word(0)));
  }
  EXPECT_EQ(cellsWritten, 39 + 32766 * 39);
  EXPECT_EQ(lastRow, 32766);
  EXPECT_EQ(ParseLabel(records[records.size() - 2]).column, 38 - 1);  // a row's last cell, then EOF
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->number != 0x04) continue;
    const BiffLabel cell = ParseLabel(*it);
    if (cell.column == 2) {
      EXPECT_EQ(cell.text, "32765");  // the 32766th contact's last name
      break;
    }
  }
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"32766 Contacts Saved Successfully");
  EXPECT_EQ(result.contacts, 32766);
  EXPECT_EQ(view.labels.last(), u"Saving Contacts 32767/32768");
  EXPECT_EQ(view.labels[view.labels.size() - 2], u"Saving Contacts 32767/32768");
  EXPECT_EQ(view.progressValue, 32767);
}

TEST_F(WorksheetExport, UnwritableFolderStillWalksEveryContact) {
  Contacts().Add(MakeContact(QStringLiteral("A"), QStringLiteral("B")));
  Contacts().Add(MakeContact(QStringLiteral("C"), QStringLiteral("D")));
  const QString missing = target + QStringLiteral("/gone");
  Module1::SetFolderBrowser([missing](int32_t, const QString&) { return missing; });

  Run();
  EXPECT_EQ(result.status, RunResult::kCompleted);
  EXPECT_TRUE(result.outputPath.startsWith(missing + u'/'));
  EXPECT_FALSE(QFileInfo::exists(result.outputPath));
  EXPECT_EQ(view.labels, QStringList({"Saving Contacts 1/2", "Saving Contacts 2/2"}));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"2 Contacts Saved Successfully");
  EXPECT_TRUE(view.hidden);
  EXPECT_TRUE(view.written.isEmpty());  // nothing is reported as written
}

// The worksheet run ends without the release step: the folder picked in another store file
// stays for the next run, and the session is logged off all the same.
TEST_F(WorksheetExport, KeepsThePickedFolderAndLogsTheSessionOff) {
  auto other = std::make_shared<FakeStore>(QStringLiteral("/data/other.pst"));
  other->defaultContacts->Add(MakeContact(QStringLiteral("P"), QStringLiteral("Q")));
  Module1::PickedFolder = other->defaultContacts;
  result = RunConversion({.defaultStore = false, .selectStore = true}, {.excel = true}, view);
  EXPECT_EQ(result.status, RunResult::kCompleted);
  EXPECT_EQ(result.contacts, 1);
  EXPECT_EQ(Module1::PickedFolder, other->defaultContacts);
  EXPECT_EQ(mail->openSessions, 0);
  EXPECT_EQ(mail->calls.back(), "Logoff");
}
