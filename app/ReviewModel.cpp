#include "app/ReviewModel.h"

#include "merge/EntrySpool.h"
#include "source/StoreBackend.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <set>

namespace lumivex {

namespace {

QString FolderName(const QString& path) {
  return path.section(u'/', -1);
}

QString SourceText(const ReviewFolder& f) {
  return QStringLiteral("%1 / %2").arg(QFileInfo(f.store).fileName(), FolderName(f.path));
}

}  // namespace

void ReviewEntry::Fold() {
  folded.clear();
  for (const QString* text : {&name, &company, &email, &phone}) {
    folded += text->toCaseFolded().toUtf8().replace(kFieldEnd, ' ');
    folded += kFieldEnd;
  }
}

QByteArray SearchNeedle(const QString& text) {
  QString needle = text.trimmed().toCaseFolded();
  needle.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
  return needle.toUtf8();
}

bool ReadReviewEntry(const std::vector<ReviewFolder>& folders, int folder, int position,
                     contact::Contact& out, QString& why) {
  if (folder < 0 || size_t(folder) >= folders.size() || !folders[size_t(folder)].items) {
    why = QStringLiteral("the entry's folder is not open");
    return false;
  }
  try {
    const auto entry = folders[size_t(folder)].items->Item(position - 1);
    if (entry && entry->ReadContact(out, why)) {
      // A part the store lost is told even where the entry's reading does not miss it.
      if (why.isEmpty()) why = entry->Damage();
      return true;
    }
    if (why.isEmpty() && entry) why = entry->Failure();
  } catch (const std::exception& e) {
    why = QString::fromUtf8(e.what());
  }
  if (why.isEmpty()) why = QStringLiteral("the entry cannot be read");
  return false;
}

// ---- The table ----

ReviewModel::ReviewModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReviewModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}
int ReviewModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QString ReviewModel::Shown(const Row& row, int field) const {
  for (const int e : row.entries)
    if (const QByteArrayView text = shown_.Field(e, field); !text.isEmpty())
      return QString::fromUtf8(text);
  return {};
}

QVariant ReviewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(rows_.size())) return {};
  const Row& row = rows_[size_t(index.row())];
  const ReviewSummary& first = entries_[size_t(row.entries.front())];
  if (role == Qt::CheckStateRole && index.column() == kTick)
    return row.ticked ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::DecorationRole && index.column() == kPicture) {
    for (const int e : row.entries)
      if (!entries_[size_t(e)].picture.isNull()) return entries_[size_t(e)].picture;
    return {};
  }
  if (role == Qt::DecorationRole && index.column() == kTick && !row.attention.isEmpty())
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
  if (role == Qt::DecorationRole && index.column() == kTick && row.suggested)
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion);
  if (role == Qt::ToolTipRole &&
      (row.entries.size() > 1 || row.suggested || !row.attention.isEmpty())) {
    QStringList tip;
    if (row.entries.size() > 1)
      tip << QStringLiteral("%1 entries, one person: %2").arg(row.entries.size()).arg(row.rule);
    if (!row.attention.isEmpty()) tip << QStringLiteral("Check: ") + row.attention;
    if (row.suggested)
      tip << QStringLiteral(
          "Suggested: may be the same person as another contact; accept or "
          "decline below the list");
    return tip.join(u'\n');
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kTick: {
      QStringList marks;
      if (row.entries.size() > 1) marks << QStringLiteral("%1 merged").arg(row.entries.size());
      if (!row.attention.isEmpty()) marks << QStringLiteral("check");
      if (row.suggested) marks << QStringLiteral("suggested");
      return marks.join(QStringLiteral(", "));
    }
    case kName:
    case kCompany:
    case kEmail:
    case kPhone:
      return Shown(row, index.column() - kName);
    case kSource: {
      QString text = SourceText(folders_[size_t(first.folder)]);
      if (row.entries.size() > 1) text += QStringLiteral(" (+%1)").arg(row.entries.size() - 1);
      return text;
    }
    default:
      return {};
  }
}

bool ReviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kTick) return false;
  SetTicked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags ReviewModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kTick) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant ReviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeadings[] = {"",      "Name",           "Company", "E-mail",
                                          "Phone", "Store / Folder", "Picture"};
  return QString::fromLatin1(kHeadings[section]);
}

void ReviewModel::Clear() {
  beginResetModel();
  folders_.clear();
  entries_.clear();
  rows_.clear();
  row_of_.clear();
  joined_by_.clear();
  found_group_.clear();
  rule_texts_ = QStringList{QString()};
  suggestions_.clear();
  suggestions_of_.clear();
  shown_.Clear();
  folded_.Clear();
  folder_sort_.clear();
  unticked_folders_.clear();
  problems_.clear();
  ticked_ = 0;
  grouped_ = false;
  endResetModel();
  emit CountsChanged();
}

int ReviewModel::AddFolder(ReviewFolder folder) {
  folder_sort_.push_back(SourceText(folder).toCaseFolded().toUtf8());
  folders_.push_back(std::move(folder));
  return int(folders_.size()) - 1;
}

void ReviewModel::AddEntries(std::vector<ReviewEntry> entries) {
  if (entries.empty()) return;
  beginInsertRows({}, int(rows_.size()), int(rows_.size() + entries.size()) - 1);
  QByteArray shown;
  for (ReviewEntry& e : entries) {
    if (e.folded.isEmpty()) e.Fold();
    folded_.Add(e.folded);
    shown.clear();
    for (const QString* text : {&e.name, &e.company, &e.email, &e.phone})
      shown.append(text->toUtf8().replace(ReviewEntry::kFieldEnd, ' '))
          .append(ReviewEntry::kFieldEnd);
    shown_.Add(shown);
    row_of_.push_back(int(rows_.size()));
    rows_.push_back({{int(entries_.size())}, true, {}});
    entries_.push_back(
        {e.folder, e.position, e.rank, e.uid, e.made, std::move(e.picture), e.singles});
  }
  ticked_ += int(entries.size());
  endInsertRows();
  emit CountsChanged();
}

void ReviewModel::SortAsMerged(Row& row) const {
  std::vector<int>& entries = row.entries;
  const auto rank = [this](int e) -> const merge::MergeRank& { return entries_[size_t(e)].rank; };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](int a, int b) { return rank(a).Before(rank(b)); });
  // Entries ranked alike (mostly copies of one entry) by their content, as the command line
  // orders them: which store was read first does not decide which entry's values the contact
  // takes.
  for (size_t from = 0; from < entries.size();) {
    size_t to = from + 1;
    while (to < entries.size() && rank(entries[to]) == rank(entries[from])) ++to;
    if (to - from > 1) {
      std::vector<std::pair<QByteArray, int>> content;
      for (size_t k = from; k < to; ++k) {
        contact::Contact c;
        QString why;
        content.emplace_back(ReadEntry(entries[k], c, why) ? merge::EntryContent(c) : QByteArray(),
                             entries[k]);
      }
      std::stable_sort(content.begin(), content.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (size_t k = from; k < to; ++k) entries[k] = content[k - from].second;
    }
    from = to;
  }
}

void ReviewModel::Group(const ReviewGrouping& found) {
  problems_ = found.problems;
  for (const auto& [entry, uid] : found.ownUids) entries_[size_t(entry)].uid = uid;
  const int n = int(entries_.size());
  // Each entry's group: its first entry (itself when alone), and the rule it joined by.
  found_group_.resize(size_t(n));
  std::iota(found_group_.begin(), found_group_.end(), 0);
  joined_by_.assign(size_t(n), 0);
  rule_texts_ = QStringList{QString()};
  std::vector<QString> rule_of(static_cast<size_t>(n));
  auto text = [this](const QString& rule) {
    qsizetype at = rule_texts_.indexOf(rule);
    if (at < 0) {
      at = rule_texts_.size();
      rule_texts_ << rule;
    }
    return uint8_t(std::min<qsizetype>(at, 255));
  };
  // Each entry's place in its group as the merge gave it: the order the command line merges in.
  std::vector<int> place(size_t(n), 0);
  for (const ReviewGrouping::Group& g : found.groups) {
    for (size_t k = 0; k < g.entries.size(); ++k)
      if (g.entries[k] >= 0 && g.entries[k] < n) place[size_t(g.entries[k])] = int(k);
    int first = INT_MAX;
    for (const int e : g.entries)
      if (e >= 0 && e < n) first = std::min(first, e);
    if (first == INT_MAX) continue;
    for (size_t k = 0; k < g.entries.size(); ++k) {
      const int e = g.entries[k];
      if (e < 0 || e >= n) continue;
      found_group_[size_t(e)] = first;
      if (k < g.how.size()) joined_by_[size_t(e)] = text(g.how[k]);
    }
    rule_of[size_t(first)] = g.rule;
  }
  suggestions_.clear();
  suggestions_of_.clear();
  for (const ReviewGrouping::Suggested& s : found.suggestions) {
    if (s.first < 0 || s.first >= n || s.second < 0 || s.second >= n) continue;
    suggestions_of_.emplace(s.first, int(suggestions_.size()));
    suggestions_of_.emplace(s.second, int(suggestions_.size()));
    suggestions_.push_back({s.first, s.second, s.rule, s.value, Answer::kOpen});
  }
  // Ticks carry over: a group is ticked when all its entries were.
  std::vector<bool> ticked(size_t(n), true);
  for (const Row& r : rows_)
    for (const int e : r.entries) ticked[size_t(e)] = r.ticked;
  beginResetModel();
  std::vector<int> rowOf(size_t(n), -1);
  rows_.clear();
  for (int e = 0; e < n; ++e) {
    const int group = found_group_[size_t(e)];
    if (rowOf[size_t(group)] < 0) {
      rowOf[size_t(group)] = int(rows_.size());
      rows_.push_back({});
      rows_.back().rule = rule_of[size_t(group)];
    }
    Row& row = rows_[size_t(rowOf[size_t(group)])];
    row.entries.push_back(e);
    if (!ticked[size_t(e)]) row.ticked = false;
  }
  ticked_ = 0;
  for (Row& row : rows_) {
    if (row.entries.size() < 2) row.rule.clear();
    std::stable_sort(row.entries.begin(), row.entries.end(),
                     [&](int a, int b) { return place[size_t(a)] < place[size_t(b)]; });
    Assess(row);
    ticked_ += row.ticked ? 1 : 0;
  }
  // The rows that need a look first, each part in the stores' order.
  std::stable_partition(rows_.begin(), rows_.end(),
                        [](const Row& r) { return !r.attention.isEmpty() || r.suggested; });
  for (size_t r = 0; r < rows_.size(); ++r)
    for (const int e : rows_[r].entries) row_of_[size_t(e)] = int(r);
  grouped_ = true;
  endResetModel();
  emit CountsChanged();
}

std::vector<int> ReviewModel::RowSuggestions(int row) const {
  std::vector<int> out;
  for (const int e : rows_[size_t(row)].entries) {
    const auto [from, to] = suggestions_of_.equal_range(e);
    for (auto it = from; it != to; ++it)
      if (std::find(out.begin(), out.end(), it->second) == out.end()) out.push_back(it->second);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int ReviewModel::OpenSuggestions() const {
  return int(std::count_if(suggestions_.begin(), suggestions_.end(),
                           [](const Suggestion& s) { return s.answer == Answer::kOpen; }));
}

void ReviewModel::Accept(int suggestion) {
  Suggestion& s = suggestions_[size_t(suggestion)];
  s.answer = Answer::kAccepted;
  std::vector<int> entries = rows_[size_t(row_of_[size_t(s.first)])].entries;
  for (const int e : rows_[size_t(row_of_[size_t(s.second)])].entries) entries.push_back(e);
  Join(entries);
}

void ReviewModel::Decline(int suggestion) {
  Suggestion& s = suggestions_[size_t(suggestion)];
  s.answer = Answer::kDeclined;
  for (const int e : {s.first, s.second}) {
    const int row = row_of_[size_t(e)];
    Assess(rows_[size_t(row)]);
    emit dataChanged(index(row, 0), index(row, kColumns - 1));
  }
  emit CountsChanged();
}

void ReviewModel::SetTicked(int row, bool ticked) {
  Row& r = rows_[size_t(row)];
  if (r.ticked == ticked) return;
  r.ticked = ticked;
  ticked_ += ticked ? 1 : -1;
  emit dataChanged(index(row, kTick), index(row, kTick), {Qt::CheckStateRole});
  emit CountsChanged();
}

void ReviewModel::Split(int row) {
  // The row is looked up anew for every entry taken out: each takes a row in after it, which
  // may move every row in memory.
  while (rows_[size_t(row)].entries.size() > 1) TakeOut(row, rows_[size_t(row)].entries.back());
}

void ReviewModel::TakeOut(int row, int entry) {
  bool ticked = true;
  {
    // Not held past the insert below, which may move the rows.
    Row& r = rows_[size_t(row)];
    auto it = std::find(r.entries.begin(), r.entries.end(), entry);
    if (it == r.entries.end() || r.entries.size() < 2) return;
    r.entries.erase(it);
    if (r.entries.size() == 1) r.rule.clear();
    Assess(r);
    ticked = r.ticked;
  }
  beginInsertRows({}, row + 1, row + 1);
  rows_.insert(rows_.begin() + row + 1, Row{{entry}, ticked, {}});
  for (int& at : row_of_)
    if (at > row) ++at;
  row_of_[size_t(entry)] = row + 1;
  // An accepted suggestion whose two sides are parted again is answered so: declined, kept as
  // the user's answer rather than asked again when the review is opened again.
  const auto [from, to] = suggestions_of_.equal_range(entry);
  for (auto it = from; it != to; ++it)
    if (Suggestion& s = suggestions_[size_t(it->second)];
        s.answer == Answer::kAccepted && row_of_[size_t(s.first)] != row_of_[size_t(s.second)])
      s.answer = Answer::kDeclined;
  endInsertRows();
  ticked_ += ticked ? 1 : 0;
  emit dataChanged(index(row, 0), index(row, kColumns - 1));
  emit CountsChanged();
}

std::vector<int> ReviewModel::FoundGroup(int row) const {
  const std::vector<int>& entries = rows_[size_t(row)].entries;
  if (found_group_.empty()) return entries;
  const int group = found_group_[size_t(entries.front())];
  std::vector<int> found;
  for (size_t e = 0; e < found_group_.size(); ++e)
    if (found_group_[e] == group) found.push_back(int(e));
  return found;
}

bool ReviewModel::AsFound(int row) const {
  const std::vector<int>& entries = rows_[size_t(row)].entries;
  if (found_group_.empty()) return true;
  const int group = found_group_[size_t(entries.front())];
  return std::all_of(entries.begin(), entries.end(),
                     [&](int e) { return found_group_[size_t(e)] == group; }) &&
         FoundGroup(row).size() == entries.size();
}

void ReviewModel::Join(std::vector<int> entries) {
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  if (entries.empty()) return;
  beginResetModel();
  const int at = row_of_[size_t(entries.front())];
  bool ticked = true;
  std::vector<bool> taken(entries_.size(), false);
  for (const int e : entries) {
    taken[size_t(e)] = true;
    ticked = ticked && rows_[size_t(row_of_[size_t(e)])].ticked;
  }
  Row joined{entries, ticked, {}};
  std::vector<Row> rows;
  rows.reserve(rows_.size() + 1);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (int(r) == at) rows.push_back(joined);
    Row& row = rows_[r];
    const size_t before = row.entries.size();
    row.entries.erase(std::remove_if(row.entries.begin(), row.entries.end(),
                                     [&](int e) { return taken[size_t(e)]; }),
                      row.entries.end());
    if (row.entries.empty()) continue;
    if (row.entries.size() != before) {
      if (row.entries.size() == 1) row.rule.clear();
      Assess(row);
    }
    rows.push_back(std::move(row));
  }
  rows_ = std::move(rows);
  Row& made = rows_[size_t(
      std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.entries == entries; }) -
      rows_.begin())];
  SortAsMerged(made);
  // Why they are one: the merge's rules where it found them so, else the user's choice.
  const int group = found_group_.empty() ? -1 : found_group_[size_t(entries.front())];
  const bool found = group >= 0 && std::all_of(entries.begin(), entries.end(), [&](int e) {
                       return found_group_[size_t(e)] == group;
                     });
  QStringList why;
  if (entries.size() > 1 && found)
    for (const int e : entries)
      if (const QString rule = rule_texts_.value(joined_by_[size_t(e)]);
          !rule.isEmpty() && !why.contains(rule))
        why << rule;
  // A suggestion whose two sides are now one row was accepted.
  QString accepted;
  for (Suggestion& s : suggestions_)
    if (taken[size_t(s.first)] && taken[size_t(s.second)]) {
      s.answer = Answer::kAccepted;
      if (accepted.isEmpty()) accepted = QStringLiteral("accepted suggestion (%1)").arg(s.rule);
    }
  made.rule = entries.size() < 2    ? QString()
              : found               ? why.join(QStringLiteral(", "))
              : !accepted.isEmpty() ? accepted
                                    : QStringLiteral("joined in the review");
  Assess(made);
  ticked_ = 0;
  for (size_t r = 0; r < rows_.size(); ++r) {
    ticked_ += rows_[r].ticked ? 1 : 0;
    for (const int e : rows_[r].entries) row_of_[size_t(e)] = int(r);
  }
  endResetModel();
  emit CountsChanged();
}

void ReviewModel::FollowMadeRows(const std::vector<int>& made) {
  if (found_group_.empty() || made.empty()) return;
  // The made rows (each once) touching each merged group.
  std::vector<int> madeRows;
  for (const int e : made) madeRows.push_back(row_of_[size_t(e)]);
  std::sort(madeRows.begin(), madeRows.end());
  madeRows.erase(std::unique(madeRows.begin(), madeRows.end()), madeRows.end());
  std::vector<bool> inMade(entries_.size(), false);
  std::unordered_multimap<int, int> madeOfGroup;  // merged group: made row
  for (const int r : madeRows) {
    std::vector<int> groups;
    for (const int e : rows_[size_t(r)].entries) {
      inMade[size_t(e)] = true;
      groups.push_back(found_group_[size_t(e)]);
    }
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    for (const int g : groups) madeOfGroup.emplace(g, r);
  }
  // What an entry holds (without its uid), read again only where the uids do not tell: a copy
  // of a store written again by a mail client has a record key of its own.
  std::map<int, QByteArray> held;
  auto content = [&](int e) -> const QByteArray& {
    auto [it, added] = held.try_emplace(e);
    if (added) {
      contact::Contact c;
      QString why;
      if (ReadEntry(e, c, why)) it->second = merge::EntryContent(c);
    }
    return it->second;
  };
  std::map<int, std::vector<int>> joining;  // made row: the entries it takes
  std::vector<int> unplaced;
  for (size_t e = 0; e < entries_.size(); ++e) {
    if (inMade[e]) continue;
    const auto [from, to] = madeOfGroup.equal_range(found_group_[e]);
    if (from == to) continue;
    int only = std::next(from) == to ? from->second : -1, copy = -1, copies = 0;
    auto copyIn = [&](auto same) {
      for (auto it = from; it != to; ++it)
        for (const int m : rows_[size_t(it->second)].entries)
          if (same(m)) {
            copy = it->second;
            ++copies;
            break;
          }
    };
    copyIn([&](int m) { return entries_[size_t(m)].uid == entries_[e].uid; });
    if (copies == 0 && only < 0 && !content(int(e)).isEmpty())
      copyIn([&](int m) { return content(m) == content(int(e)); });
    const int to_row = copies == 1 ? copy : copies == 0 ? only : -1;
    if (to_row >= 0)
      joining[to_row].push_back(int(e));
    else
      unplaced.push_back(int(e));
  }
  // Joined by entry, as Join moves the rows.
  std::vector<std::vector<int>> joins;
  for (auto& [r, entries] : joining) {
    std::vector<int> all = rows_[size_t(r)].entries;
    all.insert(all.end(), entries.begin(), entries.end());
    joins.push_back(std::move(all));
  }
  for (const std::vector<int>& entries : joins) Join(entries);
  for (const int e : unplaced) {
    const int r = row_of_[size_t(e)];
    Row& row = rows_[size_t(r)];
    if (row.unplaced) continue;
    row.unplaced = true;
    Assess(row);
    emit dataChanged(index(r, 0), index(r, kColumns - 1));
  }
}

void ReviewModel::Assess(Row& row) const {
  row.attention.clear();
  row.suggested = false;
  for (const int e : row.entries) {
    const auto [from, to] = suggestions_of_.equal_range(e);
    for (auto it = from; it != to; ++it)
      row.suggested |= suggestions_[size_t(it->second)].answer == Answer::kOpen;
  }
  if (row.unplaced)
    row.attention = QStringLiteral(
        "the same person as several contacts split or joined in the review; which one is not "
        "told");
  if (row.entries.size() < 2) return;
  // Only the newest copy of an entry is merged (a store and its older copy): what an older copy
  // held is what the entry held before it was changed, no second person's value, and is not
  // compared. The newest is the one changed last, the first in the row of the equally new.
  std::vector<merge::CopyKey> keys;
  for (const int e : row.entries) {
    const ReviewSummary& entry = entries_[size_t(e)];
    keys.push_back({entry.uid.toString(QUuid::WithoutBraces),
                    entry.made != 0 ? entry.made : INT64_MIN, entry.rank.modified});
  }
  const std::vector<bool> older = merge::OlderCopies(keys);
  std::vector<int> compared;
  for (size_t k = 0; k < row.entries.size(); ++k)
    if (!older[k]) compared.push_back(row.entries[k]);
  if (compared.size() < 2) return;
  // Names compared as their words, without case, order or punctuation ("Berg, Anna" is "Anna
  // Berg"); one holding all the words of another ("Anna M. Berg", "Anna Berg") is the same.
  auto words = [this](int e) {
    QStringList w = QString::fromUtf8(folded_.Field(e, 0))
                        .replace(u',', u' ')
                        .replace(u'.', u' ')
                        .split(u' ', Qt::SkipEmptyParts);
    w.sort();
    w.removeDuplicates();
    return w;
  };
  auto within = [](const QStringList& a, const QStringList& b) {
    return std::all_of(a.begin(), a.end(), [&](const QString& x) { return b.contains(x); });
  };
  QStringList why;
  // Every two names compared, not each with the first: "Una Holm" holds the words of both "Una
  // M. Holm" and "Una K. Holm", which conflict. The names in a conflict, in the row's order.
  std::vector<QStringList> all;
  for (const int e : compared) all.push_back(words(e));
  std::vector<bool> conflicts(compared.size(), false);
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t k = i + 1; k < all.size(); ++k)
      if (!within(all[i], all[k]) && !within(all[k], all[i])) conflicts[i] = conflicts[k] = true;
  QStringList names;
  for (size_t k = 0; k < compared.size(); ++k)
    if (const QString name = QString::fromUtf8(shown_.Field(compared[k], 0));
        conflicts[k] && !names.contains(name))
      names << name;
  if (names.size() > 1) why << QStringLiteral("the names differ (%1)").arg(names.join(" / "));
  QByteArrayView company;
  for (const int e : compared) {
    const QByteArrayView c = folded_.Field(e, 1);
    if (c.isEmpty()) continue;
    if (company.isEmpty()) {
      company = c;
    } else if (c != company) {
      why << QStringLiteral("the companies differ");
      break;
    }
  }
  static const char* const kSingles[] = {"job titles", "birthdays", "spouses"};
  for (size_t s = 0; s < 3; ++s) {
    uint32_t value = 0;
    for (const int e : compared) {
      const uint32_t v = entries_[size_t(e)].singles[s];
      if (v == 0) continue;
      if (value == 0) {
        value = v;
      } else if (v != value) {
        why << QStringLiteral("the %1 differ").arg(QLatin1String(kSingles[s]));
        break;
      }
    }
  }
  if (!row.attention.isEmpty()) why.prepend(row.attention);
  row.attention = why.join(QStringLiteral("; "));
}

void ReviewModel::MarkMatching(const QByteArray& needle, int fromEntry,
                               std::vector<uint8_t>& rows) const {
  // One scan of the buffer: each hit marks its entry's row, and the scan goes on after that
  // entry. A hit never spans two fields, as the needle holds no field end.
  const QByteArray& all = folded_.All();
  const std::vector<qsizetype>& startsOf = folded_.Starts();
  const char* const base = all.constData();
  const auto starts = startsOf.begin();
  auto entry = starts + fromEntry;
  qsizetype at = *entry;
  const qsizetype end = all.size();
  while (at < end) {
    const void* hit =
        memmem(base + at, size_t(end - at), needle.constData(), size_t(needle.size()));
    if (!hit) break;
    const qsizetype where = static_cast<const char*>(hit) - base;
    entry = std::upper_bound(entry, startsOf.end(), where) - 1;
    rows[size_t(row_of_[size_t(entry - starts)])] = 1;
    at = *++entry;
  }
}

void EntryTexts::Clear() {
  all_.clear();
  starts_.assign(1, 0);
}

void EntryTexts::Add(const QByteArray& fields) {
  all_ += fields;
  starts_.push_back(all_.size());
}

QByteArrayView EntryTexts::Field(int entry, int field) const {
  QByteArrayView text(all_.constData() + starts_[size_t(entry)],
                      starts_[size_t(entry) + 1] - starts_[size_t(entry)]);
  for (int k = 0; k < field; ++k) text = text.sliced(text.indexOf(ReviewEntry::kFieldEnd) + 1);
  return text.first(text.indexOf(ReviewEntry::kFieldEnd));
}

QByteArrayView ReviewModel::SortText(int row, int column) const {
  const Row& r = rows_[size_t(row)];
  if (column == kSource) return folder_sort_[size_t(entries_[size_t(r.entries.front())].folder)];
  const int field = column - kName;  // name, company, e-mail, phone: the folded fields' order
  if (field < 0 || field > 3) return {};
  for (const int e : r.entries)
    if (const QByteArrayView text = folded_.Field(e, field); !text.isEmpty()) return text;
  return {};
}

int ReviewModel::UnreadableEntries() const {
  return int(std::count_if(problems_.begin(), problems_.end(), [](const contact::EntryProblem& p) {
    return p.position > 0 && !p.partial;
  }));
}

int ReviewModel::Stores() const {
  std::set<QString> stores;
  for (const ReviewFolder& f : folders_) stores.insert(f.store);
  return int(stores.size());
}

bool ReviewModel::ReadEntry(int entry, contact::Contact& out, QString& why) const {
  const ReviewSummary& e = entries_[size_t(entry)];
  return ReadReviewEntry(folders_, e.folder, e.position, out, why);
}

contact::Origin ReviewModel::OriginOf(int entry) const {
  const ReviewSummary& e = entries_[size_t(entry)];
  const ReviewFolder& f = folders_[size_t(e.folder)];
  return {f.store, f.path, e.position,
          e.rank.modified != INT64_MIN ? QDateTime::fromMSecsSinceEpoch(e.rank.modified, Qt::UTC)
                                       : QDateTime()};
}

// ---- What the window shows of it ----

ReviewView::ReviewView(ReviewModel* model, QObject* parent)
    : QAbstractProxyModel(parent), model_(model) {
  QAbstractProxyModel::setSourceModel(model);
  connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] {
    Reset();
    endResetModel();
  });
  connect(model, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { Added(first, last); });
  connect(model, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
            for (int row = from.row(); row <= to.row(); ++row)
              if (const int at = at_[size_t(row)]; at >= 0)
                emit dataChanged(index(at, from.column()), index(at, to.column()), roles);
          });
  Reset();
}

void ReviewView::Reset() {
  const int rows = model_->rowCount();
  order_.resize(size_t(rows));
  std::iota(order_.begin(), order_.end(), 0);
  Sort(order_.begin(), order_.end());
  matched_.assign(size_t(rows), needle_.isEmpty() ? 1 : 0);
  if (!needle_.isEmpty() && model_->Entries() > 0) model_->MarkMatching(needle_, 0, matched_);
  shown_.clear();
  at_.assign(size_t(rows), -1);
  for (const int row : order_)
    if (matched_[size_t(row)]) {
      at_[size_t(row)] = int(shown_.size());
      shown_.push_back(row);
    }
}

ReviewView::Key ReviewView::KeyOf(int row) const {
  switch (column_) {
    case ReviewModel::kTick:  // how many entries it holds
      return {int(model_->RowEntries(row).size()), {}};
    case ReviewModel::kPicture:
      return {model_->index(row, ReviewModel::kPicture).data(Qt::DecorationRole).isNull() ? 0 : 1,
              {}};
    default:
      return {0, model_->SortText(row, column_)};
  }
}

bool ReviewView::Before(const Key& a, const Key& b) const {
  const int c = a.number != b.number ? (a.number < b.number ? -1 : 1) : a.text.compare(b.text);
  return order_direction_ == Qt::AscendingOrder ? c < 0 : c > 0;
}

void ReviewView::Sort(std::vector<int>::iterator from, std::vector<int>::iterator to) {
  if (column_ < 0) return;
  std::vector<Key> keys(size_t(model_->rowCount()));
  for (auto row = from; row != to; ++row) keys[size_t(*row)] = KeyOf(*row);
  std::stable_sort(from, to,
                   [&](int a, int b) { return Before(keys[size_t(a)], keys[size_t(b)]); });
}

void ReviewView::sort(int column, Qt::SortOrder order) {
  if (column == column_ && order == order_direction_) return;
  column_ = column;
  order_direction_ = order;
  std::iota(order_.begin(), order_.end(), 0);
  Sort(order_.begin(), order_.end());
  Show();
}

void ReviewView::Search(const QString& text) {
  const QByteArray needle = SearchNeedle(text);
  if (needle == needle_) return;
  needle_ = needle;
  matched_.assign(matched_.size(), needle_.isEmpty() ? 1 : 0);
  if (!needle_.isEmpty()) model_->MarkMatching(needle_, 0, matched_);
  Show();
}

void ReviewView::Added(int first, int last) {
  const int added = last - first + 1;
  const int rows = model_->rowCount();
  if (first + added == rows && model_->Entries() == rows) {
    // Rows read: each one entry, at the end of the model and of the search buffer.
    matched_.resize(size_t(rows), needle_.isEmpty() ? 1 : 0);
    if (!needle_.isEmpty()) model_->MarkMatching(needle_, first, matched_);
    at_.resize(size_t(rows), -1);
    for (int row = first; row <= last; ++row) order_.push_back(row);
    if (column_ >= 0) {
      SortIn(first);
      Show();
      return;
    }
    // The rows' own order: those that match go at the end.
    int shown = 0;
    for (int row = first; row <= last; ++row) shown += matched_[size_t(row)];
    if (shown == 0) return;
    beginInsertRows({}, int(shown_.size()), int(shown_.size()) + shown - 1);
    for (int row = first; row <= last; ++row)
      if (matched_[size_t(row)]) {
        at_[size_t(row)] = int(shown_.size());
        shown_.push_back(row);
      }
    endInsertRows();
    return;
  }
  // An entry taken out of its row into a row of its own after it: the rows after it move down,
  // and which rows hold the needle is looked at again.
  order_.resize(size_t(rows));
  std::iota(order_.begin(), order_.end(), 0);
  Sort(order_.begin(), order_.end());
  matched_.assign(size_t(rows), needle_.isEmpty() ? 1 : 0);
  if (!needle_.isEmpty()) model_->MarkMatching(needle_, 0, matched_);
  Show(first, added);
}

void ReviewView::SortIn(int firstRow) {
  // The rows from `firstRow` are at the end of order_: sorted among themselves, then merged in.
  const auto middle = order_.end() - (model_->rowCount() - firstRow);
  Sort(middle, order_.end());
  std::inplace_merge(order_.begin(), middle, order_.end(),
                     [this](int a, int b) { return Before(KeyOf(a), KeyOf(b)); });
}

void ReviewView::Show(int movedFrom, int movedBy) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> rows;
  rows.reserve(size_t(before.size()));
  for (const QModelIndex& i : before) {
    const int row = shown_[size_t(i.row())];
    rows.push_back(row >= movedFrom ? row + movedBy : row);
  }
  shown_.clear();
  at_.assign(order_.size(), -1);
  for (const int row : order_)
    if (matched_[size_t(row)]) {
      at_[size_t(row)] = int(shown_.size());
      shown_.push_back(row);
    }
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype k = 0; k < before.size(); ++k) {
    const int at = at_[size_t(rows[size_t(k)])];
    after << (at >= 0 ? index(at, before[k].column()) : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QModelIndex ReviewView::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || row >= int(shown_.size()) || column < 0 ||
      column >= ReviewModel::kColumns)
    return {};
  return createIndex(row, column);
}

int ReviewView::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(shown_.size());
}

int ReviewView::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ReviewModel::kColumns;
}

QModelIndex ReviewView::mapToSource(const QModelIndex& shown) const {
  if (!shown.isValid() || shown.row() >= int(shown_.size())) return {};
  return model_->index(shown_[size_t(shown.row())], shown.column());
}

QModelIndex ReviewView::mapFromSource(const QModelIndex& row) const {
  if (!row.isValid() || row.row() >= int(at_.size())) return {};
  const int at = at_[size_t(row.row())];
  return at < 0 ? QModelIndex() : index(at, row.column());
}

}  // namespace lumivex
