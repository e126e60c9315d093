// The review window's table: a row per contact (one entry, or the entries of one person), and the
// view of it the window shows, searched and sorted. Memory holds a short summary of each entry, not
// the entries: a row's whole entries are read again from the store when they are shown or
// exported.
//
// The search is made for typing over hundreds of thousands of rows: each entry's searchable texts
// are case-folded once, as UTF-8, when the entry is read (on the reader's thread), and kept one
// after another in one buffer; a search is then one scan of that buffer for the folded needle,
// and a sort orders the rows once by the folded texts, so that a key typed costs a scan, not a
// comparison of strings without case for every row.
#pragma once

#include "contact/ContactStream.h"
#include "merge/MergeRules.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QByteArray>
#include <QImage>
#include <QStringList>
#include <QUuid>

#include <array>
#include <climits>
#include <memory>
#include <unordered_map>
#include <vector>

namespace lumivex {

class Folder;
class Items;
class Store;

// What the table shows of an entry, and what it is matched by, as the reader hands it over.
struct ReviewEntry {
  int folder = 0;         // ReviewModel::Folders() index
  int position = 0;       // 1-based, in the folder's order
  merge::MergeRank rank;  // whether it is named, when it was last changed
  // The entry's uid (its store's record key and node id): what the choices kept of it are keyed
  // by, as it stays when other entries come or go.
  QUuid uid;
  // When the entry was made, ms since 1970; 0 when not known. Entries of one uid made at one
  // time are copies of one entry (a store and its older copy).
  qint64 made = 0;
  QString name, company, email, phone;
  QImage picture;  // 32 x 32 at most; null without one
  // Hashes of the single values compared within a group (job title, birthday, spouse); 0 when
  // the entry has none.
  std::array<uint32_t, 3> singles{};
  // Name, company, e-mail and phone case-folded, as UTF-8, each ended by kFieldEnd: what the
  // search box looks in. Moved into the model's search buffer when the entry is added.
  QByteArray folded;
  static constexpr char kFieldEnd = '\x1f';
  // Makes `folded` from the four texts.
  void Fold();
};

// What the model keeps of an entry besides its texts (which it keeps packed, as UTF-8).
struct ReviewSummary {
  int folder = 0;         // ReviewModel::Folders() index
  int position = 0;       // 1-based, in the folder's order
  merge::MergeRank rank;  // as ReviewEntry's
  QUuid uid;              // as ReviewEntry's
  qint64 made = 0;        // as ReviewEntry's
  QImage picture;
  std::array<uint32_t, 3> singles{};  // as ReviewEntry's
};

// The texts of every entry one after another as UTF-8, each field ended by kFieldEnd: one buffer
// instead of a string each, a fraction of the memory and one scan to search.
class EntryTexts {
 public:
  void Clear();
  // Adds the next entry's fields, each already ended by kFieldEnd.
  void Add(const QByteArray& fields);
  QByteArrayView Field(int entry, int field) const;
  const QByteArray& All() const { return all_; }
  // Where each entry starts in All(), and (last) where the last one ends.
  const std::vector<qsizetype>& Starts() const { return starts_; }

 private:
  QByteArray all_;
  std::vector<qsizetype> starts_{0};
};

// What the merge found of the entries read (merge::OpenContacts, as the command line merges):
// the entries of each person, and the pairs it only suggests. Entries are numbered as they were
// added to the model.
struct ReviewGrouping {
  struct Group {
    std::vector<int> entries;
    QString rule;              // why they are one ("same e-mail address, same phone number")
    std::vector<QString> how;  // per entry: the rule by which it joined the others
  };
  struct Suggested {
    int first = 0, second = 0;  // an entry of each side
    QString rule, value;        // "same name and company", "Contoso"
  };
  std::vector<Group> groups;  // of two entries or more
  std::vector<Suggested> suggestions;
  // Entries whose uid the merge made their own: two copies of a store that each gave a new
  // contact the same record key and node id (merge::OpenContacts' note on uids).
  std::vector<std::pair<int, QUuid>> ownUids;
  // What the reading of the folders met, as the command line's reading tells it: entries that
  // cannot be read (in no row), entries read without some of their fields (`partial`), folders
  // that lost entries and damage of a store as a whole.
  std::vector<contact::EntryProblem> problems;
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
  // Every entry is read: the entries of each group become one row (ticks kept), the rows that
  // need a look and those with a suggestion first.
  void Group(const ReviewGrouping& found);
  bool Grouped() const { return grouped_; }
  // What the reading met (ReviewGrouping::problems), once grouped.
  const std::vector<contact::EntryProblem>& Problems() const { return problems_; }
  // Of them, the entries that could not be read at all.
  int UnreadableEntries() const;

  // A row's entries in the order the merge takes them (MergeRank: named ones first, newest
  // first), and why they are one.
  const std::vector<int>& RowEntries(int row) const { return rows_[size_t(row)].entries; }
  QString RowRule(int row) const { return rows_[size_t(row)].rule; }
  // The rule by which an entry was joined to the others of its row (the strongest of its own
  // joins); empty when it is alone.
  QString EntryRule(int entry) const {
    return size_t(entry) < joined_by_.size() && RowEntries(RowOfEntry(entry)).size() > 1
               ? rule_texts_.value(joined_by_[size_t(entry)])
               : QString();
  }
  const ReviewSummary& Entry(int entry) const { return entries_[size_t(entry)]; }
  bool Ticked(int row) const { return rows_[size_t(row)].ticked; }
  void SetTicked(int row, bool ticked);
  // Every entry of the row as a row of its own.
  void Split(int row);
  // Entry `entry` of the row as a row of its own, after it.
  void TakeOut(int row, int entry);
  // The entries as one row of their own, taken out of the rows they were in (which go when
  // emptied), where the first of them was; unticked when one of their rows was.
  void Join(std::vector<int> entries);
  // The entries the merge found to be one person with the row's first (its group before any
  // split); Rejoin joins them again.
  std::vector<int> FoundGroup(int row) const;
  bool CanRejoin(int row) const {
    return FoundGroup(row).size() > rows_[size_t(row)].entries.size();
  }
  void Rejoin(int row) { Join(FoundGroup(row)); }
  // Rows made in the review (split, taken out, joined; `made`, an entry of each) keep the entries
  // read since that the merge finds to be one person with theirs (the copies in another copy of
  // a store, above all), so that no person is written twice. Such an entry joins the made row
  // holding its copy (the same uid), else the only made row of its merged group; where that
  // cannot be told, the row it stays in is marked for a look.
  void FollowMadeRows(const std::vector<int>& made);
  // Whether the row is as the merge found it (not split, taken from or joined in the review).
  bool AsFound(int row) const;
  // Why the row needs a look (its entries differ in name, or hold different single values);
  // empty when it does not. Such rows come first once grouped, marked.
  QString Attention(int row) const { return rows_[size_t(row)].attention; }

  // The pairs the merge suggests: left apart until accepted.
  enum class Answer { kOpen, kAccepted, kDeclined };
  struct Suggestion {
    int first = 0, second = 0;  // an entry of each side
    QString rule, value;
    Answer answer = Answer::kOpen;
  };
  const std::vector<Suggestion>& Suggestions() const { return suggestions_; }
  // The suggestions touching the row's entries.
  std::vector<int> RowSuggestions(int row) const;
  // Joins the two sides into one row.
  void Accept(int suggestion);
  // Leaves the two sides apart, no longer marked.
  void Decline(int suggestion);
  int OpenSuggestions() const;

  // The row an entry is shown in.
  int RowOfEntry(int entry) const { return row_of_[size_t(entry)]; }
  // Sets rows[r] for every row r with an entry, from `fromEntry` on, whose name, company, e-mail
  // or phone holds `needle` (case-folded UTF-8, as SearchNeedle makes it).
  void MarkMatching(const QByteArray& needle, int fromEntry, std::vector<uint8_t>& rows) const;
  // A row's folded text of `column`, as the table shows it: what sorting compares.
  QByteArrayView SortText(int row, int column) const;

  int Entries() const { return int(entries_.size()); }
  int TickedRows() const { return ticked_; }
  int Stores() const;

  // The whole entry `entry`, read again from its store, as ReadReviewEntry.
  bool ReadEntry(int entry, contact::Contact& out, QString& why) const;
  contact::Origin OriginOf(int entry) const;

 signals:
  void CountsChanged();

 private:
  struct Row {
    std::vector<int> entries;
    bool ticked = true;
    QString rule;
    QString attention = {};
    bool suggested = false;  // a suggestion touching it waits for an answer
    // Entries the merge finds to be one person with several rows made in the review, not told
    // which (FollowMadeRows).
    bool unplaced = false;
  };
  // The row's entries in the order the command line merges them: by MergeRank, those ranked
  // alike by their content (read again from their stores).
  void SortAsMerged(Row& row) const;
  void Assess(Row& row) const;
  QString Shown(const Row& row, int field) const;

  std::vector<ReviewFolder> folders_;
  std::vector<ReviewSummary> entries_;
  EntryTexts shown_;   // name, company, e-mail and phone as they are shown
  EntryTexts folded_;  // the same case-folded: what the search looks in and the sort compares
  std::vector<Row> rows_;
  std::vector<int> row_of_;         // per entry
  std::vector<uint8_t> joined_by_;  // per entry, once grouped: its rule in rule_texts_
  QStringList rule_texts_{QString()};
  std::vector<Suggestion> suggestions_;
  std::unordered_multimap<int, int> suggestions_of_;  // entry: suggestion
  std::vector<int> found_group_;         // per entry, once grouped: its group's first entry
  std::vector<QByteArray> folder_sort_;  // per folder: its "store / folder" text, folded
  std::vector<bool> unticked_folders_;   // folders whose entries come unticked
  std::vector<contact::EntryProblem> problems_;
  int ticked_ = 0;
  bool grouped_ = false;
};

// What is typed in the search box in the form the folded texts are searched in: trimmed,
// case-folded, UTF-8, without control characters (which cannot be typed, and one of which ends
// each field).
QByteArray SearchNeedle(const QString& text);

// The rows the window shows: those that hold what the search box says, in the order of the
// column sorted by (the rows' own order until a heading is clicked). Rows read while a search or
// a sort is on are searched and placed as they come; the current row and the selection stay
// with their rows through a search or a sort.
class ReviewView : public QAbstractProxyModel {
  Q_OBJECT

 public:
  ReviewView(ReviewModel* model, QObject* parent);

  // Shows the rows holding `text` (all when it is empty).
  void Search(const QString& text);
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex&) const override { return {}; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QModelIndex mapToSource(const QModelIndex& shown) const override;
  QModelIndex mapFromSource(const QModelIndex& row) const override;

 private:
  // A row's place in the sort: a number, then a folded text.
  struct Key {
    int number = 0;
    QByteArrayView text;
  };
  Key KeyOf(int row) const;
  bool Before(const Key& a, const Key& b) const;
  void Sort(std::vector<int>::iterator from, std::vector<int>::iterator to);
  // Places the rows from `firstRow` on, at the end of order_, where the sort puts them.
  void SortIn(int firstRow);
  // shown_ made again from order_ and matched_, the persistent indexes following their rows;
  // rows from `movedFrom` on have moved down by `movedBy` since shown_ was made.
  void Show(int movedFrom = INT_MAX, int movedBy = 0);
  void Added(int first, int last);
  void Reset();

  ReviewModel* model_;
  QByteArray needle_;
  int column_ = -1;
  Qt::SortOrder order_direction_ = Qt::AscendingOrder;
  std::vector<int> order_;        // every row, in the sort's order
  std::vector<uint8_t> matched_;  // per row: it holds the needle
  std::vector<int> shown_;        // the rows shown, in order
  std::vector<int> at_;           // per row: where it is shown, -1 when not
};

// Reads entry `position` (1-based) of `folders[folder]`; false with `why` when it cannot be read.
// Read without some of its fields, or without a part the store lost, it is true with `why` naming
// what is missing (as the command line's reading tells such an entry); else `why` stays empty.
bool ReadReviewEntry(const std::vector<ReviewFolder>& folders, int folder, int position,
                     contact::Contact& out, QString& why);

}  // namespace lumivex
