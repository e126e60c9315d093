// The contacts-folder scan: opens a mail session, settles the contacts folder (the default
// store's, or one picked in another store file), counts its entries with progress, reports the
// result and enables the save step. The main window runs it from its scan button and its menu;
// tests run it against a recording view. It holds no widget: it talks to the window through
// ScanView.
#pragma once

#include <QString>
#include <QStringList>

namespace lumivex {

// What the scan needs of the main window (FrmMain).
class ScanView {
 public:
  virtual ~ScanView() = default;

  // OptDefaultPST, OptSelectPST and the text of txtNotesDatabaseFile.
  virtual bool DefaultStoreChosen() const = 0;
  virtual bool OtherStoreChosen() const = 0;
  virtual QString StoreFileText() const = 0;

  // Shows LblTotalContactsHead, LblCurrentContactHead, LblTotalContacts and LblCurrentContact.
  virtual void ShowCountLabels() = 0;
  // The window's outer height in twips (3540 before the first scan, 4410 after).
  virtual void SetOuterHeight(int twips) = 0;
  // LblRead and ProgBarScanNotes together.
  virtual void SetReadingShown(bool shown) = 0;
  // ProgBarScanNotes.
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressValue(int value) = 0;
  // LblTotalContacts and LblCurrentContact.
  virtual void SetTotalContacts(const QString& text) = 0;
  virtual void SetCurrentContact(const QString& text) = 0;

  // CmdContactsCreate, CmdEnumerateNotes, mnuSave.
  virtual void SetContactsCreateEnabled(bool enabled) = 0;
  virtual void SetEnumerateEnabled(bool enabled) = 0;
  virtual void EnableSaveMenu() = 0;

  // A message box with one OK button: style 64 information, 48 exclamation.
  virtual void ShowMessage(const QString& text, const QString& title, int style) = 0;

  // Lets the window system process pending events so that the window repaints.
  virtual void Yield() = 0;
  // True once the window is going away (closed during a scan): the scan then stops at its next
  // step, releases what it holds and shows nothing more.
  virtual bool Abandoned() const { return false; }
};

struct ScanResult {
  enum Status {
    kCounted,      // the folder was counted and the result shown (possibly "No Contacts Found")
    kCancelled,    // the folder picker was cancelled: nothing shown, the earlier scan kept
    kWrongFolder,  // the picked folder does not hold contacts: the warning, the earlier scan kept
    kFailed,       // a store call before the entry loop failed: the failure message was shown
    kAbandoned,    // the window went away during the scan
    kBusy,         // a scan was already running (a click delivered during its yields)
  };
  Status status = kCounted;
  int contacts = 0;  // entries visited (stops at 32767)
  QString error;     // kFailed: what the store layer said
  int entries = 0;   // the folder's entries, counted in full
  // kCounted: what is known of the damage of the store and of the counted folder, one sentence
  // each in the command line's words (the store's own damage, entries the folder records but its
  // list lacks, folders of the picked file that cannot be read); empty when none is known.
  QStringList damage;
};

// The first line of the failure message, as the user knows it.
inline constexpr const char* kScanFailedText =
    "Outlook not INSTALLED or configured or the selected file is not a correct Outlook PST file.";

// CmdEnumerateNotes_Click: the whole scan, from showing the count labels to the release of its
// mail session. Sets Module1::ContactCounter; with the other-file choice, once a contacts folder
// is picked, also Module1::FilePath, Module1::PickedFolder and Module1::PickedFolderPath (a pick
// cancelled or refused leaves those of the earlier scan).
ScanResult ScanContactsFolder(ScanView& view);

}  // namespace lumivex
