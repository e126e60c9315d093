// A worksheet run over a fake store, and the sheet it wrote read back into its cells.
#pragma once

#include "common/CodePage.h"
#include "tests/convert/RunTestSupport.h"
#include "tests/xls/BiffRecords.h"

#include <map>
#include <utility>

namespace lumivex::testing {

// The 39 column titles of the contact sheet, in column order.
inline const QStringList& SheetTitles() {
  static const QStringList titles =
      QStringLiteral(
          "First Name|Middle Name|Last Name|Email|Suffix|Title|Company|Job Title|Location|"
          "Website|Department|Manager|Assistant|Business Street Address|Business City|"
          "Business Zip/Postal Code|Business State|Business Country|Business Phone Number|"
          "Business FAX|Business CellPhone|Business Pager|Business Other Email 1|"
          "Business Other Email 2|Business Other Email 3|Personal Street Address|Personal City|"
          "Personal Zip/Postal Code|Personal State|Personal Country|Personal Phone Number|"
          "Personal FAX|Personal CellPhone|Birthday|Anniversary|Spouse|Children|Category|Comments")
          .split(u'|');
  return titles;
}

// The contact property behind each column, in column order.
inline const QStringList& SheetProperties() {
  static const QStringList properties =
      QStringLiteral(
          "FirstName|MiddleName|LastName|Email1Address|Suffix|Title|CompanyName|JobTitle|"
          "OfficeLocation|WebPage|Department|ManagerName|AssistantName|BusinessAddressStreet|"
          "BusinessAddressCity|BusinessAddressPostalCode|BusinessAddressState|"
          "BusinessAddressCountry|BusinessTelephoneNumber|BusinessFaxNumber|MobileTelephoneNumber|"
          "PagerNumber|Email1Address|Email2Address|Email3Address|HomeAddressStreet|HomeAddressCity|"
          "HomeAddressPostalCode|HomeAddressState|HomeAddressCountry|HomeTelephoneNumber|"
          "HomeFaxNumber|PagerNumber|Birthday|Anniversary|Spouse|Children|Categories|Body")
          .split(u'|');
  return properties;
}

// What a contact's row holds in a column: the property as read, except "0" in columns 5 and 6.
inline QString SheetValue(const FakeContact& contact, int column) {
  const QString value = contact.properties.value(SheetProperties()[column - 1]);
  return (column == 5 || column == 6) && value == u"0" ? QString() : value;
}

// A contact with every property of the sheet filled, all different, some beyond ASCII.
inline FakeContact FullContact(const QString& first, const QString& last, int n) {
  FakeContact contact = MakeContact(first, last);
  auto& p = contact.properties;
  const QString tag = QString::number(n);
  p["MiddleName"] = QStringLiteral("Maria");
  p["Suffix"] = QStringLiteral("Jr.");
  p["Title"] = QStringLiteral("Dr.");
  p["CompanyName"] = QStringLiteral("Bäckerei Größe & Söhne");
  p["JobTitle"] = QStringLiteral("Chef de cuisine");
  p["OfficeLocation"] = QStringLiteral("Bâtiment B, 2e étage");
  p["WebPage"] = QStringLiteral("https://example.com/~") + first.toLower();
  p["Department"] = QStringLiteral("Pâtisserie");
  p["ManagerName"] = QStringLiteral("Renée Dubois");
  p["AssistantName"] = QStringLiteral("Jürgen Wöhler");
  p["BusinessAddressStreet"] = QStringLiteral("Königstraße ") + tag;
  p["BusinessAddressCity"] = QStringLiteral("München");
  p["BusinessAddressPostalCode"] = QStringLiteral("80331");
  p["BusinessAddressState"] = QStringLiteral("Bayern");
  p["BusinessAddressCountry"] = QStringLiteral("Deutschland");
  p["BusinessTelephoneNumber"] = QStringLiteral("+49 89 1234-") + tag;
  p["BusinessFaxNumber"] = QStringLiteral("+49 89 1234-99");
  p["MobileTelephoneNumber"] = QStringLiteral("+49 170 555 ") + tag;
  p["PagerNumber"] = QStringLiteral("PG-") + tag;
  p["Email2Address"] = first.toLower() + QStringLiteral("@privat.example.de");
  p["Email3Address"] = QString();
  p["HomeAddressStreet"] = QStringLiteral("Rue de l'Église ") + tag;
  p["HomeAddressCity"] = QStringLiteral("Besançon");
  p["HomeAddressPostalCode"] = QStringLiteral("25000");
  p["HomeAddressState"] = QStringLiteral("Doubs");
  p["HomeAddressCountry"] = QStringLiteral("France");
  p["HomeTelephoneNumber"] = QStringLiteral("+33 3 81 00 00 ") + tag;
  p["HomeFaxNumber"] = QStringLiteral("+33 3 81 00 00 99");
  p["Birthday"] = QStringLiteral("14/07/1979");
  p["Anniversary"] = QStringLiteral("None");
  p["Spouse"] = QStringLiteral("Zoë");
  p["Children"] = QStringLiteral("Léa, Noël");
  p["Categories"] = QStringLiteral("Kunden; VIP");
  p["Body"] = QStringLiteral("Prefers café au lait, “no sugar” – 5 € tip");
  return contact;
}

// The text cells of a sheet, by 1-based row and column.
using SheetCells = std::map<std::pair<int, int>, QString>;

// A recording view that also notes how the sheet ended when the buttons came back and when the
// completion message was shown, and which files were reported as written.
class SheetView : public RecordingView {
 public:
  void EnableButtons() override {
    endAtEnable = FileBytes(Module1::OutputPath).right(4);
    RecordingView::EnableButtons();
  }
  void ShowMessage(const QString& text, const QString& title, int style) override {
    endAtMessage = FileBytes(Module1::OutputPath).right(4);
    RecordingView::ShowMessage(text, title, style);
  }
  void OutputWritten(const QString& path) override { written << path; }

  QByteArray endAtEnable;
  QByteArray endAtMessage;
  QStringList written;
};

// A run of the worksheet export over a fake store, the sheet it wrote parsed into records.
class WorksheetRunTest : public BasicRunTest<SheetView> {
 protected:
  void SetUp() override {
    BasicRunTest::SetUp();
    SetAnsiCodePage(1252);
  }
  void TearDown() override {
    BasicRunTest::TearDown();
    SetAnsiCodePage(0);
  }

  RunResult Run() {
    result = BasicRunTest::Run({.excel = true});
    bytes = FileBytes(result.outputPath);
    records = ParseRecords(bytes, &complete);
    return result;
  }

  // The LABEL records from `first` on, in file order.
  std::vector<BiffLabel> Labels(size_t first = 0) const {
    std::vector<BiffLabel> labels;
    for (size_t i = first; i < records.size(); ++i)
      if (records[i].number == 0x04) labels.push_back(ParseLabel(records[i]));
    return labels;
  }
  SheetCells Cells() const {
    SheetCells cells;
    for (const BiffLabel& label : Labels())
      cells[{label.row + 1, label.column + 1}] = FromAnsi(label.text, 1252);
    return cells;
  }

  RunResult result;
  QByteArray bytes;
  std::vector<BiffRecord> records;
  bool complete = false;
};

}  // namespace lumivex::testing
