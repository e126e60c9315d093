// The review before an export or a send: which stores and folders, which contacts, which of them
// are one person. Opened from the "Export for Other Address Books..." dialog.
//
// The stores are listed with their contact folders to tick (folders the mail client fills by
// itself, such as "Suggested Contacts", are shown but not ticked). The entries of the ticked
// folders are read on a thread of their own and shown as they come: a row per contact with a tick,
// name, company, first e-mail, first phone, store/folder and picture. Once every entry is read,
// the entries of one person (merge/MergeRules.h) become one row; the row's entries, the merged
// contact and where each of its values came from are shown below the table, where a group can be
// split or an entry taken out. TickedContacts() gives exactly the ticked rows, merged, as a
// ContactStream for the export or the send.
//
// Memory holds a short summary of each entry (its texts for the table, a small picture, its match
// keys), not the entries: a row's whole entries are read again from the store when it is shown or
// exported.
#pragma once

#include "app/ReviewModel.h"
#include "contact/ContactStream.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QThread;
class QTimer;
class QTreeWidget;

namespace lumivex {

// What the user chose in the review: kept when the window closes, and taken up by the next one
// opened in the same session.
struct ReviewChoices {
  QStringList stores;
  std::vector<QStringList> unticked, ticked;  // per store, as ReviewWindow keeps them
  // Entries by store, folder and uid ("store\x1ffolder\x1fuid", the uid the entry's, made of its
  // store's record key and node id), which stay when other entries of the store come or go: the
  // rows the user made (split, taken out of a group or joined again), and the entries of unticked
  // rows. Choices kept by an earlier form, by position, are dropped when read, and told.
  std::vector<QStringList> rows;
  QStringList untickedEntries;
  QStringList declined;  // suggestions declined: their two entries, "first\x1esecond"
};

class ReviewWindow : public QDialog {
  Q_OBJECT

 public:
  // `stores`: the store files offered first (the default store first); more can be added.
  ReviewWindow(QWidget* owner, const QStringList& stores);
  ~ReviewWindow() override;

  QTreeWidget* TreeSources;  // stores, their folders to tick
  QPushButton* CmdAddStore;
  QLineEdit* TxtSearch;
  QLabel* LblCounts;
  // Hidden but when earlier choices were dropped: "2 earlier choices no longer apply: ...".
  QLabel* LblNotice;
  QTableView* TableContacts;
  QTreeWidget* TreeDetail;  // the shown row's entries, merged values and where they came from
  QPushButton* CmdSplit;
  QPushButton* CmdTakeOut;
  QPushButton* CmdRejoin;
  QPushButton* CmdAccept;   // joins the shown row with the contact the merge suggests
  QPushButton* CmdDecline;  // leaves them apart
  QPushButton* CmdUse;
  QPushButton* CmdCancel;

  ReviewModel& Model() { return *model_; }
  // The rows the table shows: searched and sorted.
  ReviewView& Shown() { return *view_; }
  // True once the entries of every ticked folder are read and grouped.
  bool Loaded() const { return loaded_; }
  // Adds a store file and reads its ticked folders.
  void AddStore(const QString& path);
  // Adds store files (chosen together, or dropped on the window): those not listed yet.
  void AddStores(const QStringList& paths);
  // The ticked rows, in the order the stores hold them, merged; for the export or the send. Its
  // Problems() tell what the command line's reading of the folders would: the entries that cannot
  // be read, those of the ticked rows read without some of their fields, a store's damage.
  std::unique_ptr<contact::ContactStream> TickedContacts() const;
  // The same, as often as asked, after the window has gone too.
  std::function<std::unique_ptr<contact::ContactStream>()> TickedSelection() const;
  // The counts line: "1,240 contacts from 3 stores, 1,052 after merging, 1,030 ticked".
  QString CountsText() const;
  // What the user chose so far; what the next review of this session starts from.
  ReviewChoices Choices() const;
  static ReviewChoices& LastChoices();
  void done(int result) override;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct Loader;
  void BuildSources(QSplitter* splitter);
  void BuildContacts(QSplitter* splitter);
  QHBoxLayout* BuildButtons();
  void Connect();
  void Reload();
  void StopLoading();
  void ShowDetail();
  // Every entry is read: the entries of one person become one row, the table showing its top
  // (where the rows that need a look come first) and keeping the current contact.
  void Group(const ReviewGrouping& found);
  void UpdateCounts();
  // The marks column ("2 merged, check") made wide enough for every mark shown.
  void FitMarks();
  int CurrentRow() const;
  // The shown row's first suggestion still open; -1 when none.
  int OpenSuggestion() const;

  // Applies the rows and ticks of `pending_` once the entries are grouped. Choices whose entries
  // are gone from the folders read (or kept by position, as an earlier form did) are dropped, and
  // LblNotice says how many.
  void ApplyChoices();
  QString EntryKey(int entry) const;

  ReviewChoices pending_;  // to be applied when the entries are grouped
  // Choices of entries in folders not read now (unticked, or of a store taken off the list), kept
  // as they were for when the folder is read again; and rows of which only some entries are read
  // (`keys` all of them, `read` those read), kept whole while the rows read are as applied.
  ReviewChoices aside_;
  struct PartRow {
    QStringList keys;
    std::vector<int> read;
  };
  std::vector<PartRow> partRows_;
  // The rows applied from the choices (their entries, sorted): kept as choices while they are
  // as applied, also when the merge now finds them so, for a row alone while the rest of its
  // person is in a folder not read is still the user's, not an entry new to the review.
  std::vector<std::vector<int>> applied_;
  QStringList stores_;
  std::vector<QStringList> unticked_;  // per store: folder paths the user unticked
  std::vector<QStringList> ticked_;    // per store: auto-collected folder paths the user ticked
  ReviewModel* model_;
  ReviewView* view_;
  QTimer* search_timer_;  // the search waits for a pause in the typing
  std::shared_ptr<Loader> loader_;
  QThread* thread_ = nullptr;
  bool loaded_ = false;
  bool filling_tree_ = false;
};

}  // namespace lumivex
