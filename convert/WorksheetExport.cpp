// The worksheet form of the conversion run: one .xls file with a header row of 39 titles and one
// row of 39 text cells per contact, written through ExcelFile.
//
// The export never stops for the worksheet's sake: ExcelFile reports by status numbers and the
// export goes on whatever they are, so the contacts are always walked, the progress always shown
// and the completion message always given. From the contact loop on, every step stands by itself:
// a step that fails is skipped and the next one runs.
#include "common/Module1.h"
#include "convert/ConversionRun.h"
#include "convert/StagedFile.h"
#include "xls/ExcelFile.h"

#include <array>
#include <exception>
#include <memory>

namespace lumivex {

namespace {

struct Column {
  const char* title;
  const char* property;
};

// The 39 columns: header title and the contact property that fills the cell.
constexpr std::array<Column, 39> kColumns = {{
    {"First Name", "FirstName"},
    {"Middle Name", "MiddleName"},
    {"Last Name", "LastName"},
    {"Email", "Email1Address"},
    {"Suffix", "Suffix"},
    {"Title", "Title"},
    {"Company", "CompanyName"},
    {"Job Title", "JobTitle"},
    {"Location", "OfficeLocation"},
    {"Website", "WebPage"},
    {"Department", "Department"},
    {"Manager", "ManagerName"},
    {"Assistant", "AssistantName"},
    {"Business Street Address", "BusinessAddressStreet"},
    {"Business City", "BusinessAddressCity"},
    {"Business Zip/Postal Code", "BusinessAddressPostalCode"},
    {"Business State", "BusinessAddressState"},
    {"Business Country", "BusinessAddressCountry"},
    {"Business Phone Number", "BusinessTelephoneNumber"},
    {"Business FAX", "BusinessFaxNumber"},
    {"Business CellPhone", "MobileTelephoneNumber"},
    {"Business Pager", "PagerNumber"},
    {"Business Other Email 1", "Email1Address"},
    {"Business Other Email 2", "Email2Address"},
    {"Business Other Email 3", "Email3Address"},
    {"Personal Street Address", "HomeAddressStreet"},
    {"Personal City", "HomeAddressCity"},
    {"Personal Zip/Postal Code", "HomeAddressPostalCode"},
    {"Personal State", "HomeAddressState"},
    {"Personal Country", "HomeAddressCountry"},
    {"Personal Phone Number", "HomeTelephoneNumber"},
    {"Personal FAX", "HomeFaxNumber"},
    {"Personal CellPhone", "PagerNumber"},  // the pager again, as the sheet has always had it
    {"Birthday", "Birthday"},
    {"Anniversary", "Anniversary"},
    {"Spouse", "Spouse"},
    {"Children", "Children"},
    {"Category", "Categories"},
    {"Comments", "Body"},
}};

// The order in which a contact's cells are read and written.
constexpr std::array<int, 39> kWriteOrder = {1,  2,  3,  5,  6,  4,  7,  8,  14, 15, 16, 17, 18,
                                             9,  10, 11, 12, 13, 19, 20, 21, 22, 23, 24, 25, 26,
                                             27, 28, 29, 30, 36, 37, 31, 32, 33, 34, 35, 39, 38};

constexpr int kSuffixColumn = 5;
constexpr int kTitleColumn = 6;
constexpr int kPagerColumn = 22;
constexpr int kPersonalCellPhoneColumn = 33;

// Runs one step of the loop or the completion; a failure skips that step alone.
template <typename Step>
void Guarded(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
    // Skipped: the run goes on with its next step.
  }
}

}  // namespace

void ExportWorksheet(RunContext& run) {
  ConversionView& view = run.View();
  auto sheet = std::make_unique<ExcelFile>();

  const QString path = run.SetOutputPath(RunContext::OutputStem() + QStringLiteral(".xls"));
  // The sheet is written under a temporary name and renamed once whole: a sheet cut short (a
  // full disk) never stands under the name.
  StagedFile staged(path);
  // The results change nothing in the run; they only decide whether the file is reported as
  // written at the end, or failed with the first failure. A text too long for its cell
  // (kOverflow) leaves out that cell alone.
  ExcelFile::Status fileFailure = ExcelFile::kOk;
  const auto note = [&](ExcelFile::Status status) {
    if (status != ExcelFile::kOverflow && fileFailure == ExcelFile::kOk) fileFailure = status;
  };
  note(sheet->CreateFile(staged.WorkPath()));
  // Tens of thousands of cells: written in large pieces rather than one write each.
  sheet->SetBuffered(true);
  note(sheet->SetFont(QStringLiteral("Verdana"), 10, 0));
  note(sheet->SetFont(QStringLiteral("Verdana"), 11, ExcelFile::kBold));
  note(sheet->SetFont(QStringLiteral("Verdana"), 10, ExcelFile::kBold | ExcelFile::kUnderline));
  note(sheet->SetFont(QStringLiteral("Courier"), 16, ExcelFile::kBold | ExcelFile::kItalic));
  note(sheet->SetHeader(QStringLiteral("BIFF 2.1 API")));

  for (int column = 1; column <= static_cast<int>(kColumns.size()); ++column) {
    note(sheet->WriteValue(ExcelFile::kTextCell, ExcelFile::kFont1, ExcelFile::kAlignLeft, 0, 1,
                           column, QString::fromLatin1(kColumns[column - 1].title), 0));
  }

  // The counter is 1 while the first contact is handled: contact n goes to row n + 1.
  run.counter = 1;
  const Items& entries = run.Entries();
  const int count = run.EntryCount();

  // Each column keeps the last value it read for the whole run, so a read that fails repeats
  // the previous contact's value. The pager is read twice, into the one holder of column 22.
  std::array<QString, 40> holders;
  const auto holderOf = [&](int column) -> QString& {
    return holders[column == kPersonalCellPhoneColumn ? kPagerColumn : column];
  };

  for (int index = 0; index < count; ++index) {
    // Rows stop at 32767, where the 16-bit counter does: later contacts write no cells.
    if (run.counter < INT16_MAX) {
      std::unique_ptr<ContactEntry> entry;
      Guarded([&] { entry = entries.Item(index); });
      const int row = run.counter + 1;
      bool cut = false;  // a cell left out, its text too long
      for (int column : kWriteOrder) {
        QString& holder = holderOf(column);
        Guarded([&] {
          if (entry) entry->Read(kColumns[column - 1].property, holder);
        });
        QString value = holder;
        if ((column == kSuffixColumn || column == kTitleColumn) && value == u"0") value.clear();
        Guarded([&] {
          const ExcelFile::Status status =
              sheet->WriteValue(ExcelFile::kTextCell, ExcelFile::kFont0, ExcelFile::kAlignLeft, 0,
                                row, column, value, 0);
          cut = cut || status == ExcelFile::kOverflow;
          note(status);
        });
      }
      if (cut) run.CountLongText();
      // The worksheet's text is in the code page too: what it cannot hold of the names, the
      // comments and the other cells.
      Guarded([&] {
        run.CountText({holderOf(1), holderOf(2), holderOf(3)}, holderOf(int(kColumns.size())),
                      false);
        QString others;
        for (int column = 4; column < int(kColumns.size()); ++column) others += holderOf(column);
        const QStringView all[] = {others};
        run.CountOtherText(all);
      });
    }
    run.Visited(index + 1);
    Guarded([&] { run.ShowProgressLabel(run.counter); });
    Guarded([&] { view.SetProgressValue(run.counter); });
    Module1::Increment(run.counter);
  }

  // Completion: the buttons come back before the file is closed, and the bar keeps its position.
  Guarded([&] { view.EnableButtons(); });
  Guarded([&] {
    note(sheet->CloseFile());
    QString reason;
    if (fileFailure != ExcelFile::kOk) {
      staged.Discard();
      view.OutputFailed(path, ExcelFile::StatusText(fileFailure));
    } else if (!staged.Commit(&reason)) {
      view.OutputFailed(path, reason);
    } else {
      view.OutputWritten(path);
    }
  });
  Guarded([&] {
    view.ShowMessage(
        QString::number(run.counter - 1) + QStringLiteral(" Contacts Saved Successfully"),
        QStringLiteral("Conversion Completed..."), 64);
  });
  Guarded([&] { view.Hide(); });
}

}  // namespace lumivex
