#include "source/Scan.h"

#include "common/Module1.h"
#include "source/MailStore.h"

#include <algorithm>
#include <memory>

namespace lumivex {

namespace {

const QString kTitle = QStringLiteral("Quorvane Software");
constexpr int kExpandedHeight = 4410;  // twips: uncovers the count labels and the status bar

// The mail session of one scan and the folder it counts. Its release runs the objects down in a
// fixed order: the folder and its entries, the namespace, the application, then the session is
// logged off and dropped.
class ScanSession {
 public:
  ~ScanSession() {
    // Reached by the failure path: what was made so far goes without logging off.
    items.reset();
    folder.reset();
    mapi.reset();
    app.reset();
    rdo.reset();
  }

  void Open(ScanView& view) {
    MailProvider& provider = CurrentMailProvider();
    app = provider.CreateMailClientApp();
    view.Yield();
    mapi = app->GetNamespace(QStringLiteral("MAPI"));
    rdo = provider.CreateRdoSession();
    rdo->Logon();
    loggedOn_ = true;
    view.Yield();
  }

  void Release() {
    items.reset();
    folder.reset();
    mapi.reset();
    app.reset();
    if (rdo && loggedOn_) {
      try {
        rdo->Logoff();
      } catch (const std::exception&) {
        // Past the entry loop a failing step is skipped: the session is dropped all the same.
      }
    }
    loggedOn_ = false;
    rdo.reset();
  }

  std::unique_ptr<MailClientApp> app;
  std::unique_ptr<MapiNamespace> mapi;
  std::unique_ptr<RdoSession> rdo;
  std::shared_ptr<Folder> folder;
  std::shared_ptr<Items> items;

 private:
  bool loggedOn_ = false;
};

// Marks a scan as running for as long as it lives.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningFlag() { flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& flag_;
};

// The folders below `folder` that cannot be read: listed by their parent without a node to read,
// or under a parent whose list of folders cannot be read.
int UnreadableFolders(const Folder& folder, int depth) {
  constexpr int kMaxDepth = 64;  // a damaged store could nest its folders in a loop
  if (depth >= kMaxDepth) return 0;
  std::vector<std::shared_ptr<Folder>> subs;
  try {
    subs = folder.SubFolders();
  } catch (const StoreError&) {
    return 1;
  }
  int unreadable = 0;
  for (const auto& sub : subs)
    unreadable += sub->Unreadable().isEmpty() ? UnreadableFolders(*sub, depth + 1) : 1;
  return unreadable;
}

// The damage known of the counted folder and its store, as "lumivex-cli scan" words it: the
// store's own, the entries the folder's list lacks and, for a picked file, its folders that cannot
// be read (the contacts may be in those). A folder that shows few or no contacts is then not
// taken for the whole of the file.
QStringList DamageOf(const ScanSession& session, bool otherStore) {
  QStringList damage;
  try {
    damage << session.folder->StoreDamage();
    if (const QString missing = session.folder->MissingEntries(); !missing.isEmpty())
      damage << QStringLiteral("\"%1\" is damaged: %2").arg(session.folder->Path(), missing);
    if (otherStore && session.mapi && !session.mapi->Stores().empty()) {
      const std::shared_ptr<Folder> root = session.mapi->Stores().back()->RootFolder();
      if (const int unreadable = root ? UnreadableFolders(*root, 0) : 0; unreadable > 0)
        damage << QStringLiteral(
                      "the store is damaged: %1 of its folders cannot be read, and contacts may "
                      "be in them")
                      .arg(unreadable);
    }
  } catch (const StoreError&) {
    // What could be read of the damage is told; the count stands as it is.
  }
  return damage;
}

ScanResult Abandon(ScanSession& session) {
  session.Release();
  return {ScanResult::kAbandoned, 0, {}, 0, {}};
}

}  // namespace

ScanResult ScanContactsFolder(ScanView& view) {
  // The scan yields to the window system, which also delivers clicks: a second click on the scan
  // button or its menu entry while a scan runs is not started inside the first.
  static bool running = false;
  if (running) return {ScanResult::kBusy, 0, {}, 0, {}};
  RunningFlag flag(running);

  view.ShowCountLabels();

  ScanSession session;
  int count = 0;
  int16_t visited = 0;
  try {
    session.Open(view);
    if (view.Abandoned()) return Abandon(session);

    if (view.DefaultStoreChosen()) session.folder = session.rdo->GetDefaultFolder(kFolderContacts);

    if (view.OtherStoreChosen()) {
      const QString file = view.StoreFileText();
      session.mapi->AddStore(file);
      view.Yield();
      if (view.Abandoned()) return Abandon(session);
      // The file and folder of an earlier scan stay what the save step exports until a contacts
      // folder is picked: a pick cancelled or refused leaves the window's count and its save
      // step as they were, rather than a count whose save asks for a scan.
      std::shared_ptr<Folder> picked = session.mapi->PickFolder();
      if (!picked) {
        session.Release();
        return {ScanResult::kCancelled, 0, {}, 0, {}};
      }
      if (picked->DefaultItemType() != kContactItem) {
        view.ShowMessage(QStringLiteral("Please select a Contact folder."),
                         QStringLiteral("Select Contacts Folder"), 48);
        picked.reset();  // dropped before the session that opened it
        session.Release();
        return {ScanResult::kWrongFolder, 0, {}, 0, {}};
      }
      // The path is kept beside the folder so that a conversion run can open the folder again.
      const QString path = picked->Path();
      Module1::FilePath = file;
      Module1::PickedFolderPath = path;
      Module1::PickedFolder = std::move(picked);
      session.folder = Module1::PickedFolder;
    }

    view.Yield();
    if (view.Abandoned()) return Abandon(session);
    if (!session.folder)
      throw StoreError("No contacts source is chosen: choose one of the two options");
    session.items = session.folder->GetItems();

    view.SetOuterHeight(kExpandedHeight);
    view.SetReadingShown(true);
    count = session.items->Count();
    view.SetTotalContacts(QString::number(count));
    view.Yield();
    if (view.Abandoned()) return Abandon(session);
    if (count > 0) view.SetProgressRange(0, count);
    visited = 0;
    Module1::ContactCounter = 1;
  } catch (const std::exception& error) {
    // Everything made so far is dropped by the session's destructor, without logging off; the
    // buttons, labels, bar and window height stay as far as the scan had set them.
    const QString reason = QString::fromUtf8(error.what());
    view.ShowMessage(QString::fromUtf8(kScanFailedText) +
                         (reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason),
                     kTitle, 64);
    return {ScanResult::kFailed, 0, reason, 0, {}};
  }

  // From here on a failing step is skipped and the next one runs.
  // The entries are visited by their place in the folder: the scan reads nothing of them, so
  // none is opened.
  for (int index = 0; index < count; ++index) {
    try {
      view.SetCurrentContact(
          QStringLiteral("%1/%2").arg(Module1::ContactCounter).arg(session.items->Count()));
    } catch (const std::exception&) {
    }
    view.SetProgressValue(Module1::ContactCounter);
    view.Yield();
    if (view.Abandoned()) return Abandon(session);
    Module1::Increment(visited);
    Module1::Increment(Module1::ContactCounter);
  }

  ScanResult result{ScanResult::kCounted,
                    visited,
                    {},
                    std::max(count, 0),
                    DamageOf(session, view.OtherStoreChosen())};
  if (visited > 0) {
    view.ShowMessage(QString::number(Module1::ContactCounter - 1) +
                         QStringLiteral(" Contacts Scanned Successfully"),
                     kTitle, 64);
    view.SetContactsCreateEnabled(true);
    view.SetEnumerateEnabled(false);
    view.EnableSaveMenu();
  } else {
    view.ShowMessage(QStringLiteral("No Contacts Found in Outlook PST File"), kTitle, 64);
    view.SetContactsCreateEnabled(false);
    view.SetEnumerateEnabled(true);
  }
  view.SetReadingShown(false);
  session.Release();
  return result;
}

}  // namespace lumivex
