#include "convert/ConversionRun.h"

#include "common/CodePage.h"
#include "common/Module1.h"

#include <algorithm>

namespace lumivex {

namespace {

const QString kFailedTitle = QStringLiteral("Conversion Failed");

// The mail session of one run. Destroying it drops everything in the order of the release step.
struct MailSession {
  std::unique_ptr<MailClientApp> app;
  std::unique_ptr<MapiNamespace> mapi;
  std::unique_ptr<RdoSession> rdo;
  bool loggedOn = false;

  void Open() {
    MailProvider& provider = CurrentMailProvider();
    app = provider.CreateMailClientApp();
    mapi = app->GetNamespace(QStringLiteral("MAPI"));
    rdo = provider.CreateRdoSession();
    rdo->Logon();
    loggedOn = true;
  }

  void Release() {
    mapi.reset();
    app.reset();
    if (rdo && loggedOn) rdo->Logoff();
    loggedOn = false;
    rdo.reset();
  }

  ~MailSession() {
    try {
      Release();
    } catch (...) {
      // A session that cannot log off cleanly is dropped all the same.
    }
  }
};

// The folder the scan picked in another store file. The release step of an earlier run drops
// the live folder; the run then opens the same store and folder again from what the scan kept.
std::shared_ptr<Folder> PickedContactsFolder(MailSession& session) {
  if (Module1::PickedFolder) return Module1::PickedFolder;
  // Nothing kept (no contacts folder of a store file scanned yet): an empty folder path would
  // name the store's root, which holds no contacts.
  if (Module1::FilePath.isEmpty() || Module1::PickedFolderPath.isEmpty())
    throw StoreError("No contacts folder has been chosen: scan a store file first");
  session.mapi->AddStore(Module1::FilePath);
  const auto stores = session.mapi->Stores();
  std::shared_ptr<Folder> folder =
      stores.empty() ? nullptr : FindFolder(*stores.back(), Module1::PickedFolderPath);
  if (!folder)
    throw StoreError(QStringLiteral("The folder \"%1\" is no longer in %2: scan the file again")
                         .arg(Module1::PickedFolderPath, Module1::FilePath)
                         .toStdString());
  Module1::PickedFolder = folder;
  return folder;
}

// An entry as the writers see it: every read goes to the store's entry, and the first one that
// fails tells the view, with the entry's place and the store's reason. A part the store lost is
// told once the writer is done with the entry, and only where no read failed: an entry is told
// once, as what is worst of it.
class ReportingEntry : public ContactEntry {
 public:
  // `valued` counts the entries of which a value was read (null: not counted).
  ReportingEntry(std::unique_ptr<ContactEntry> entry, ConversionView& view, QString folder,
                 int position, int* valued = nullptr)
      : entry_(std::move(entry)),
        view_(view),
        folder_(std::move(folder)),
        position_(position),
        valued_(valued) {}
  ~ReportingEntry() override {
    if (reported_ || !entry_) return;
    try {
      if (const QString damage = entry_->Damage(); !damage.isEmpty())
        view_.EntryDamaged(folder_, position_, damage);
    } catch (...) {
      // Telling the view is not a step of the run.
    }
  }

  bool Read(std::string_view name, QString& value) const override {
    if (entry_->Read(name, value)) return Valued();
    Report(entry_->Failure());
    return false;
  }
  int ReadFields(std::span<const int> fields, QString* values, QString& why) const override {
    const int read = entry_->ReadFields(fields, values, why);
    if (read > 0) Valued();
    if (read < int(fields.size())) Report(why);
    return read;
  }
  bool ReadContact(contact::Contact& contact, QString& why) const override {
    if (entry_->ReadContact(contact, why)) return Valued();
    Report(why);
    return false;
  }
  QString Failure() const override { return entry_->Failure(); }
  QString Damage() const override { return entry_->Damage(); }

  void Report(const QString& reason) const {
    if (reported_) return;
    reported_ = true;
    try {
      view_.EntryUnreadable(
          folder_, position_,
          reason.isEmpty() ? QStringLiteral("a property cannot be read") : reason);
    } catch (...) {
      // Telling the view is not a step of the run: the run goes on whatever it does.
    }
  }

 private:
  bool Valued() const {
    if (valued_ != nullptr && !counted_) ++*valued_;
    counted_ = true;
    return true;
  }

  std::unique_ptr<ContactEntry> entry_;
  ConversionView& view_;
  QString folder_;
  int position_;
  int* valued_;
  mutable bool reported_ = false;
  mutable bool counted_ = false;
};

class ReportingItems : public Items {
 public:
  ReportingItems(std::shared_ptr<Items> items, ConversionView& view, QString folder,
                 std::shared_ptr<int> valued)
      : items_(std::move(items)),
        view_(view),
        folder_(std::move(folder)),
        valued_(std::move(valued)) {}

  int Count() const override { return items_->Count(); }
  std::unique_ptr<ContactEntry> Item(int index) const override {
    std::unique_ptr<ContactEntry> entry;
    try {
      entry = items_->Item(index);
    } catch (const std::exception& error) {
      ReportingEntry(nullptr, view_, folder_, index + 1).Report(QString::fromUtf8(error.what()));
      throw;
    }
    if (!entry) return entry;
    return std::make_unique<ReportingEntry>(std::move(entry), view_, folder_, index + 1,
                                            valued_.get());
  }

 private:
  std::shared_ptr<Items> items_;
  ConversionView& view_;
  QString folder_;
  std::shared_ptr<int> valued_;
};

QString FolderPathOf(const Folder* folder) {
  try {
    return folder != nullptr ? folder->Path() : QString();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

RunContext::RunContext(QString target, std::shared_ptr<Folder> folder, std::shared_ptr<Items> items,
                       ConversionView& view)
    : target_(std::move(target)),
      folder_(std::move(folder)),
      items_(std::make_shared<ReportingItems>(std::move(items), view, FolderPathOf(folder_.get()),
                                              valued_)),
      view_(view),
      codePage_(AnsiCodePage()) {}

void RunContext::CountText(std::initializer_list<QStringView> names, QStringView note,
                           bool inCard) {
  if (!std::all_of(names.begin(), names.end(),
                   [this](QStringView name) { return CodePageHolds(name, codePage_); }))
    ++losses_.names;
  if (!CodePageHolds(note, codePage_)) ++losses_.notes;
  if (inCard && (note.contains(u'\n') || note.contains(u'\r'))) ++losses_.splitNotes;
}

void RunContext::CountOtherText(std::span<const QStringView> values) {
  if (!std::all_of(values.begin(), values.end(),
                   [this](QStringView value) { return CodePageHolds(value, codePage_); }))
    ++losses_.others;
}

void RunContext::CountBrokenValues(std::span<const QStringView> values,
                                   std::span<const QStringView> parts) {
  const auto lines = [](QStringView v) { return v.contains(u'\n') || v.contains(u'\r'); };
  if (std::any_of(values.begin(), values.end(), lines) ||
      std::any_of(parts.begin(), parts.end(), [](QStringView v) { return v.contains(u';'); }))
    ++losses_.brokenValues;
}

QString RunContext::OutputStem(const QDateTime& now) {
  return QStringLiteral("OutlookContacts-") + now.toString(QStringLiteral("dd-MM-yyyy-HH-mm-ss"));
}

QString RunContext::SetOutputPath(const QString& name) const {
  Module1::OutputPath = target_ + Module1::ExtractFileName(name);
  return Module1::OutputPath;
}

int RunContext::EntryCount() const {
  try {
    return items_->Count();
  } catch (const std::exception&) {
    return 0;
  }
}

QString ProgressLabel(int n, int count) {
  // Put together from its parts, which costs a fraction of arg()'s parsing.
  return QStringLiteral("Saving Contacts ") + QString::number(n) + u'/' + QString::number(count);
}

void RunContext::ShowProgressLabel(int n) const {
  int count = 0;
  try {
    count = items_->Count();
  } catch (const StoreError&) {
    return;  // the label keeps its last text, as a failing step inside the loop is skipped
  }
  view_.SetProgressCount(n, count);
}

void RunContext::Visited(int visited) {
  visited_ = visited;
  view_.EntriesVisited(visited);
}

void RunContext::ProgressStep() {
  Visited(visited_ + 1);
  Module1::Increment(counter);
  view_.SetProgressValue(counter);
  ShowProgressLabel(counter);
}

void RunContext::CompletionStep(int contacts, bool resetBar) {
  view_.EnableButtons();
  view_.ShowMessage(QString::number(contacts) + QStringLiteral(" Contacts Saved Successfully"),
                    QStringLiteral("Conversion Completed..."), 64);
  if (resetBar) view_.SetProgressValue(0);
  view_.Hide();
}

RunResult RunConversion(const SourceOptions& source, const OutputOptions& output,
                        ConversionView& view) {
  RunResult result;
  QString target = Module1::BrowseForFolder(0, QStringLiteral("Select Path to Save File"));
  if (target.isEmpty()) return result;
  if (!target.endsWith(u'/')) target += u'/';

  MailSession session;
  std::shared_ptr<Folder> folder;
  try {
    session.Open();
    if (source.defaultStore) folder = session.rdo->GetDefaultFolder(kFolderContacts);
    if (source.selectStore) folder = PickedContactsFolder(session);
    if (!folder) throw StoreError("No contacts source has been chosen in the main window");
    std::shared_ptr<Items> items = folder->GetItems();
    result.entries = std::max(0, items->Count());
    view.SetProgressRange(0, items->Count());

    RunContext run(target, folder, items, view);
    result.status = RunResult::kNoOption;
    if (output.vCardComplete) ExportVCardSingleFile(run);
    if (output.vCardEach) ExportVCardPerContact(run);
    if (output.wab) ExportAddressBook(run);
    if (output.excel) ExportWorksheet(run);
    if (output.vCardComplete || output.vCardEach || output.wab || output.excel) {
      result.status = RunResult::kCompleted;
      result.contacts = run.counter;
      result.outputPath = Module1::OutputPath;
      result.entriesWithValues = run.EntriesWithValues();
      result.storeDamage = folder->StoreDamage();
      result.losses = run.Losses();
      result.codePage = run.CodePage();
    }
    if (output.excel) {
      // The worksheet ends without the release step: the picked folder stays for a later run.
      // Its session is still logged off here, by MailSession's destructor.
      if (result.contacts > 0) --result.contacts;  // its counter starts at 1
      return result;
    }
  } catch (const std::exception& error) {
    result.status = RunResult::kFailed;
    result.error = QString::fromUtf8(error.what());
    view.ShowMessage(result.error, kFailedTitle, 16);
    return result;
  }

  // Release step.
  folder.reset();
  Module1::PickedFolder.reset();
  session.Release();
  return result;
}

}  // namespace lumivex
