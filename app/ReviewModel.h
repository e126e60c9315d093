// The review window's table: a row per contact (one entry, or the entries of one person), and the
// search box's filter over it. Memory holds a short summary of each entry, not the entries: a
// row's whole entries are read again from the store when they are shown or exported.
#pragma once

#include "contact/ContactStream.h"
#include "merge/MergeRules.h"

#include <QAbstractTableModel>
#include <QImage>
#include <QSortFilterProxyModel>

#include <memory>
#include <vector>

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

// Filters the rows by what is typed in the search box, through the texts each entry keeps (a
// fraction of the time of asking the model for the text of every cell).
class ReviewSearchProxy : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void Search(const QString& text);

 protected:
  bool filterAcceptsRow(int row, const QModelIndex&) const override;

 private:
  QString needle_;
};

// Reads entry `position` (1-based) of `folders[folder]`; false with `why` when it cannot be read.
bool ReadReviewEntry(const std::vector<ReviewFolder>& folders, int folder, int position,
                     contact::Contact& out, QString& why);

}  // namespace lumivex
