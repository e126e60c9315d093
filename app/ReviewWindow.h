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

#include "contact/ContactStream.h"
#include "merge/MergeRules.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QImage>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QThread;
class QTreeWidget;

namespace lumivex {

class Folder;
class Items;
class Store;

// What the table shows of an entry, and what it is matched by.
struct ReviewEntry {
  int folder = 0;    // ReviewModel::Folders() index
  int position = 0;  // 1-based, in the folder's order
  qint64 modified = 0;
  QString name, company, email, phone;
  QImage picture;  // 32 x 32 at most; null without one
  std::vector<merge::MatchKey> keys;
};

// A folder whose entries are shown.
struct ReviewFolder {
  QString store;  // the store file
  QString path;   // the folder's path in it
  std::shared_ptr<Store> storeHandle;
  std::shared_ptr<Items> items;
};

// The table: a row per contact (one entry, or the entries of one person).
class ReviewModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTick, kName, kCompany, kEmail, kPhone, kSource, kPicture, kColumns };

  explicit ReviewModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Clear();
  int AddFolder(ReviewFolder folder);
  const std::vector<ReviewFolder>& Folders() const { return folders_; }
  // Entries read: each a row of its own until Group.
  void AddEntries(std::vector<ReviewEntry> entries);
  // Every entry is read: the entries of one person become one row (ticks kept).
  void Group();
  bool Grouped() const { return grouped_; }

  // A row's entries, newest first, and why they are one.
  const std::vector<int>& RowEntries(int row) const { return rows_[size_t(row)].entries; }
  QString RowRule(int row) const { return rows_[size_t(row)].rule; }
  const ReviewEntry& Entry(int entry) const { return entries_[size_t(entry)]; }
  bool Ticked(int row) const { return rows_[size_t(row)].ticked; }
  void SetTicked(int row, bool ticked);
  // Every entry of the row as a row of its own.
  void Split(int row);
  // Entry `entry` of the row as a row of its own, after it.
  void TakeOut(int row, int entry);

  // True when `needle` is, without case, in the name, company, e-mail or phone of an entry of the
  // row: what the search box filters by.
  bool Matches(int row, const QString& needle) const;

  int Entries() const { return int(entries_.size()); }
  int TickedRows() const { return ticked_; }
  int Stores() const;

  // The whole entry `entry`, read again from its store; false with `why` when it cannot be.
  bool ReadEntry(int entry, contact::Contact& out, QString& why) const;
  contact::Origin OriginOf(int entry) const;

 signals:
  void CountsChanged();

 private:
  struct Row {
    std::vector<int> entries;
    bool ticked = true;
    QString rule;
  };
  void SortNewestFirst(Row& row) const;
  QString Shown(const Row& row, QString ReviewEntry::*field) const;

  std::vector<ReviewFolder> folders_;
  std::vector<ReviewEntry> entries_;
  std::vector<Row> rows_;
  std::vector<bool> unticked_folders_;  // folders whose entries come unticked
  int ticked_ = 0;
  bool grouped_ = false;
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
  QTableView* TableContacts;
  QTreeWidget* TreeDetail;  // the shown row's entries, merged values and where they came from
  QPushButton* CmdSplit;
  QPushButton* CmdTakeOut;
  QPushButton* CmdUse;
  QPushButton* CmdCancel;

  ReviewModel& Model() { return *model_; }
  QSortFilterProxyModel& Shown() { return *proxy_; }
  // True once the entries of every ticked folder are read and grouped.
  bool Loaded() const { return loaded_; }
  // Adds a store file and reads its ticked folders.
  void AddStore(const QString& path);
  // The ticked rows, in the table's order, merged; for the export or the send.
  std::unique_ptr<contact::ContactStream> TickedContacts() const;
  // The same, as often as asked, after the window has gone too.
  std::function<std::unique_ptr<contact::ContactStream>()> TickedSelection() const;
  // The counts line: "1,240 contacts from 3 stores, 1,052 after merging, 1,030 ticked".
  QString CountsText() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct Loader;
  void Reload();
  void StopLoading();
  void ShowDetail();
  void UpdateCounts();
  int CurrentRow() const;

  QStringList stores_;
  std::vector<QStringList> unticked_;  // per store: folder paths the user unticked
  std::vector<QStringList> ticked_;    // per store: auto-collected folder paths the user ticked
  ReviewModel* model_;
  QSortFilterProxyModel* proxy_;
  std::shared_ptr<Loader> loader_;
  QThread* thread_ = nullptr;
  bool loaded_ = false;
  bool filling_tree_ = false;
};

}  // namespace lumivex
