#include "app/ReviewModel.h"

#include "source/StoreBackend.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <set>

namespace lumivex {

namespace {

QString FolderName(const QString& path) {
  return path.section(u'/', -1);
}

}  // namespace

bool ReadReviewEntry(const std::vector<ReviewFolder>& folders, int folder, int position,
                     contact::Contact& out, QString& why) {
  try {
    const auto entry = folders[size_t(folder)].items->Item(position - 1);
    if (entry && entry->ReadContact(out, why)) return true;
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

QString ReviewModel::Shown(const Row& row, QString ReviewEntry::*field) const {
  for (const int e : row.entries)
    if (!(entries_[size_t(e)].*field).isEmpty()) return entries_[size_t(e)].*field;
  return {};
}

QVariant ReviewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(rows_.size())) return {};
  const Row& row = rows_[size_t(index.row())];
  const ReviewEntry& first = entries_[size_t(row.entries.front())];
  if (role == Qt::CheckStateRole && index.column() == kTick)
    return row.ticked ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::DecorationRole && index.column() == kPicture) {
    for (const int e : row.entries)
      if (!entries_[size_t(e)].picture.isNull()) return entries_[size_t(e)].picture;
    return {};
  }
  if (role == Qt::ToolTipRole && row.entries.size() > 1)
    return QStringLiteral("%1 entries, one person: %2").arg(row.entries.size()).arg(row.rule);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kTick:
      return row.entries.size() > 1 ? QStringLiteral("%1 merged").arg(row.entries.size())
                                    : QString();
    case kName:
      return Shown(row, &ReviewEntry::name);
    case kCompany:
      return Shown(row, &ReviewEntry::company);
    case kEmail:
      return Shown(row, &ReviewEntry::email);
    case kPhone:
      return Shown(row, &ReviewEntry::phone);
    case kSource: {
      const ReviewFolder& f = folders_[size_t(first.folder)];
      QString text =
          QStringLiteral("%1 / %2").arg(QFileInfo(f.store).fileName(), FolderName(f.path));
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
  unticked_folders_.clear();
  ticked_ = 0;
  grouped_ = false;
  endResetModel();
  emit CountsChanged();
}

int ReviewModel::AddFolder(ReviewFolder folder) {
  folders_.push_back(std::move(folder));
  return int(folders_.size()) - 1;
}

void ReviewModel::AddEntries(std::vector<ReviewEntry> entries) {
  if (entries.empty()) return;
  beginInsertRows({}, int(rows_.size()), int(rows_.size() + entries.size()) - 1);
  for (ReviewEntry& e : entries) {
    rows_.push_back({{int(entries_.size())}, true, {}});
    entries_.push_back(std::move(e));
  }
  ticked_ += int(entries.size());
  endInsertRows();
  emit CountsChanged();
}

void ReviewModel::SortNewestFirst(Row& row) const {
  std::stable_sort(row.entries.begin(), row.entries.end(), [this](int a, int b) {
    return entries_[size_t(a)].modified > entries_[size_t(b)].modified;
  });
}

void ReviewModel::Group() {
  // Entries that share a key are one person, as the command line merges them.
  struct Keyed {
    uint64_t hash;
    int entry;
    merge::MatchRule rule;
  };
  std::vector<Keyed> keys;
  for (size_t e = 0; e < entries_.size(); ++e)
    for (const merge::MatchKey& k : entries_[e].keys) keys.push_back({k.hash, int(e), k.rule});
  // The strongest rules join first, so that a group's rules are those of the joins that made it.
  std::sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
    if (a.rule != b.rule) return a.rule < b.rule;
    return a.hash != b.hash ? a.hash < b.hash : a.entry < b.entry;
  });
  std::vector<int> parent(entries_.size());
  // The rules of the joins each entry took part in, as bits 1 << MatchRule.
  std::vector<uint32_t> rules(entries_.size(), 0);
  for (size_t i = 0; i < parent.size(); ++i) parent[i] = int(i);
  auto find = [&](int i) {
    while (parent[size_t(i)] != i) i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
    return i;
  };
  for (size_t run = 0; run < keys.size();) {
    size_t end = run + 1;
    while (end < keys.size() && keys[end].hash == keys[run].hash) ++end;
    for (size_t k = run + 1; k < end; ++k) {
      const int a = find(keys[run].entry), b = find(keys[k].entry);
      if (a == b) continue;
      parent[size_t(std::max(a, b))] = std::min(a, b);
      rules[size_t(keys[run].entry)] |= 1u << unsigned(keys[k].rule);
      rules[size_t(keys[k].entry)] |= 1u << unsigned(keys[k].rule);
    }
    run = end;
  }
  // Ticks carry over: a group is ticked when all its entries were.
  std::vector<bool> ticked(entries_.size(), true);
  for (const Row& r : rows_)
    for (const int e : r.entries) ticked[size_t(e)] = r.ticked;
  beginResetModel();
  std::vector<int> rowOf(entries_.size(), -1);
  rows_.clear();
  for (size_t e = 0; e < entries_.size(); ++e) {
    const int root = find(int(e));
    if (rowOf[size_t(root)] < 0) {
      rowOf[size_t(root)] = int(rows_.size());
      rows_.push_back({});
    }
    Row& row = rows_[size_t(rowOf[size_t(root)])];
    row.entries.push_back(int(e));
    if (!ticked[e]) row.ticked = false;
  }
  ticked_ = 0;
  for (Row& row : rows_) {
    SortNewestFirst(row);
    uint32_t all = 0;
    for (const int e : row.entries) all |= rules[size_t(e)];
    QStringList why;
    for (auto r :
         {merge::MatchRule::kSameEntry, merge::MatchRule::kEmail, merge::MatchRule::kNameAndPhone,
          merge::MatchRule::kNameAndCompany, merge::MatchRule::kList})
      if (all & (1u << unsigned(r))) why << merge::RuleText(r);
    row.rule = why.join(QStringLiteral(", "));
    ticked_ += row.ticked ? 1 : 0;
  }
  grouped_ = true;
  endResetModel();
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
  Row& r = rows_[size_t(row)];
  if (r.entries.size() < 2) return;
  while (r.entries.size() > 1) TakeOut(row, rows_[size_t(row)].entries.back());
}

void ReviewModel::TakeOut(int row, int entry) {
  Row& r = rows_[size_t(row)];
  auto it = std::find(r.entries.begin(), r.entries.end(), entry);
  if (it == r.entries.end() || r.entries.size() < 2) return;
  r.entries.erase(it);
  if (r.entries.size() == 1) r.rule.clear();
  const bool ticked = r.ticked;
  beginInsertRows({}, row + 1, row + 1);
  rows_.insert(rows_.begin() + row + 1, Row{{entry}, ticked, {}});
  endInsertRows();
  ticked_ += ticked ? 1 : 0;
  emit dataChanged(index(row, 0), index(row, kColumns - 1));
  emit CountsChanged();
}

bool ReviewModel::Matches(int row, const QString& needle) const {
  for (const int e : rows_[size_t(row)].entries) {
    const ReviewEntry& x = entries_[size_t(e)];
    for (const QString* text : {&x.name, &x.company, &x.email, &x.phone})
      if (text->contains(needle, Qt::CaseInsensitive)) return true;
  }
  return false;
}

int ReviewModel::Stores() const {
  std::set<QString> stores;
  for (const ReviewFolder& f : folders_) stores.insert(f.store);
  return int(stores.size());
}

bool ReviewModel::ReadEntry(int entry, contact::Contact& out, QString& why) const {
  const ReviewEntry& e = entries_[size_t(entry)];
  return ReadReviewEntry(folders_, e.folder, e.position, out, why);
}

contact::Origin ReviewModel::OriginOf(int entry) const {
  const ReviewEntry& e = entries_[size_t(entry)];
  const ReviewFolder& f = folders_[size_t(e.folder)];
  return {f.store, f.path, e.position,
          e.modified ? QDateTime::fromMSecsSinceEpoch(e.modified, Qt::UTC) : QDateTime()};
}

// ---- The search box's filter ----

void ReviewSearchProxy::Search(const QString& text) {
  needle_ = text.trimmed();
  invalidateRowsFilter();
}

bool ReviewSearchProxy::filterAcceptsRow(int row, const QModelIndex&) const {
  return needle_.isEmpty() || static_cast<ReviewModel*>(sourceModel())->Matches(row, needle_);
}

}  // namespace lumivex
