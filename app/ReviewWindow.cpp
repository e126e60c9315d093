#include "app/ReviewWindow.h"

#include "app/Dialogs.h"
#include "app/Remembered.h"
#include "app/ScreenFit.h"
#include "contact/VCardWriter.h"
#include "merge/ContactSources.h"
#include "source/ContactFolders.h"
#include "source/StoreBackend.h"
#include "source/StoreContactStream.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <set>

namespace lumivex {

namespace {

QString Number(qsizetype n) {
  return QLocale(QLocale::English).toString(qlonglong(n));
}

QString FolderName(const QString& path) {
  return path.section(u'/', -1);
}

// The entry's summary for the table and its match keys.
ReviewEntry Summarize(const contact::Contact& c, int folder, int position) {
  ReviewEntry e;
  e.folder = folder;
  e.position = position;
  e.rank = merge::MergeRank::Of(c, merge::IdentityOf(c));
  e.uid = QUuid::fromString(contact::CardUuid(c.uid));
  e.made = c.created.isValid() ? c.created.toMSecsSinceEpoch() : 0;
  e.name = contact::ShownName(c);
  e.company = c.company;
  if (!c.emails.empty()) e.email = c.emails.front().address;
  if (!c.phones.empty()) e.phone = c.phones.front().number;
  if (!c.photo.IsEmpty()) {
    QImage image = QImage::fromData(c.photo.data);
    if (!image.isNull())
      e.picture = image.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  // The single values a group is checked for: each as a hash of its compared form.
  const auto hash = [](const QString& text) {
    const QString folded = text.simplified().toCaseFolded();
    return folded.isEmpty() ? 0u : uint32_t(qHash(folded)) | 1u;
  };
  e.singles = {hash(c.jobTitle),
               c.birthday.IsValid()
                   ? uint32_t(c.birthday.year * 10000 + c.birthday.month * 100 + c.birthday.day)
                   : 0u,
               hash(c.spouse)};
  e.Fold();
  return e;
}

QString DateText(const contact::Date& d) {
  return d.IsValid() ? QDate(d.year, d.month, d.day).toString(Qt::ISODate) : QString();
}

QString PhoneLabel(contact::PhoneKind kind) {
  static const char* const kLabels[] = {"Business phone",
                                        "Business phone 2",
                                        "Home phone",
                                        "Home phone 2",
                                        "Mobile",
                                        "Car phone",
                                        "Pager",
                                        "Business fax",
                                        "Home fax",
                                        "Other fax",
                                        "Assistant's phone",
                                        "Callback",
                                        "Company main phone",
                                        "ISDN",
                                        "Other phone",
                                        "Primary phone",
                                        "Radio",
                                        "Telex",
                                        "TTY/TDD"};
  const auto at = size_t(kind);
  return QString::fromLatin1(at < std::size(kLabels) ? kLabels[at] : "Phone");
}

// Every field of a contact that holds a value, labelled, in the order of the contact form.
std::vector<std::pair<QString, QString>> EveryField(const contact::Contact& c) {
  std::vector<std::pair<QString, QString>> out;
  auto add = [&out](const char* label, const QString& value) {
    if (!value.trimmed().isEmpty()) out.emplace_back(QString::fromLatin1(label), value);
  };
  add("Title", c.prefix);
  add("First name", c.givenName);
  add("Middle name", c.middleName);
  add("Last name", c.surname);
  add("Suffix", c.suffix);
  add("Display name", c.displayName);
  add("File as", c.fileAs);
  add("Nickname", c.nickname);
  add("Initials", c.initials);
  // A merged contact's older companies and job titles after the newest one's, as its card holds
  // them.
  add("Company", c.company);
  for (const QString& company : c.earlierCompanies) add("Company", company);
  add("Department", c.department);
  for (const QString& department : c.earlierDepartments) add("Department", department);
  add("Job title", c.jobTitle);
  for (const QString& title : c.earlierTitles) add("Job title", title);
  add("Profession", c.profession);
  add("Office", c.officeLocation);
  for (const QString& office : c.earlierOffices) add("Office", office);
  add("Manager", c.manager);
  add("Assistant", c.assistant);
  for (const contact::Email& e : c.emails) add("E-mail", e.address);
  for (const contact::Phone& p : c.phones)
    if (!p.number.trimmed().isEmpty()) out.emplace_back(PhoneLabel(p.kind), p.number);
  for (const contact::Address& a : c.addresses) {
    static const char* const kKinds[] = {"Business address", "Home address", "Other address"};
    const QString text = QStringList{a.street, a.poBox, a.postalCode, a.city, a.state, a.country}
                             .join(u' ')
                             .simplified();
    add(kKinds[size_t(a.kind)], text);
  }
  add("Web page", c.businessWebPage);
  add("Personal web page", c.personalWebPage);
  for (const QString& page : c.moreWebPages) add("Web page", page);
  add("IM address", c.imAddress);
  add("Free/busy", c.freeBusyUrl);
  add("Birthday", DateText(c.birthday));
  add("Anniversary", DateText(c.anniversary));
  add("Gender", c.gender == contact::Gender::kFemale ? QStringLiteral("female")
                : c.gender == contact::Gender::kMale ? QStringLiteral("male")
                                                     : QString());
  add("Spouse", c.spouse);
  add("Children", c.children.join(QStringLiteral(", ")));
  add("Categories", c.categories.join(QStringLiteral(", ")));
  for (const contact::Member& m : c.members)
    add("Member", m.address.isEmpty() ? m.name : QStringLiteral("%1 <%2>").arg(m.name, m.address));
  add("Notes", c.notes.simplified());
  if (!c.photo.IsEmpty())
    add("Picture",
        QStringLiteral("%1 bytes%2")
            .arg(c.photo.data.size())
            .arg(c.photo.mimeType.isEmpty() ? QString() : QStringLiteral(", ") + c.photo.mimeType));
  add("Modified", c.lastModified.isValid()
                      ? c.lastModified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                      : QString());
  return out;
}

// The entries of one row merged: newest first, each older one filling what the newer lack.
struct Merged {
  contact::SourcedContact contact;
  std::vector<contact::Contact> members;  // newest first, as read
  std::vector<size_t> read;  // per member: its place in the row's entries (some may be unreadable)
  QStringList problems;
};

// The plan of an export of the ticked rows: the folders and, per row, its entries newest first.
struct Selection {
  std::vector<ReviewFolder> folders;
  // What the reading met beyond the rows' entries: entries that cannot be read, folders that lost
  // entries, a store's own damage. (An entry read without some fields is told as its row is.)
  std::vector<contact::EntryProblem> problems;
  struct Row {
    std::vector<std::pair<int, int>> entries;  // folder, position
    std::vector<QString> uids;                 // the uid each gives a card, as the merge gives it
    QString rule;
  };
  std::vector<Row> rows;
};

// Reads and merges the entries of one row.
void MergeRow(const std::vector<ReviewFolder>& folders, const Selection::Row& row, Merged& out,
              std::vector<contact::EntryProblem>* problems) {
  out.contact.origins.clear();
  out.members.clear();
  out.read.clear();
  QString uid;
  std::pair<int, int> first;
  for (size_t k = 0; k < row.entries.size(); ++k) {
    const auto& [folder, position] = row.entries[k];
    contact::Contact c;
    QString why;
    const ReviewFolder& f = folders[size_t(folder)];
    if (!ReadReviewEntry(folders, folder, position, c, why)) {
      if (problems) problems->push_back({f.path, position, why, false, f.store});
      continue;
    }
    // Read, less what `why` names: given, and told of.
    if (problems && !why.isEmpty())
      problems->push_back({f.path, position, why, false, f.store, true});
    if (c.uid.isEmpty())
      c.uid = contact::CardUuid(QStringLiteral("%1|%2").arg(f.path).arg(position));
    // The uid it gives a card where it is not the store's (OpenContacts' note on uids).
    const QString own =
        k < row.uids.size() && row.uids[k] != contact::CardUuid(c.uid) ? row.uids[k] : QString();
    // The uid of the entry of the first store, first in its folders (as merge::OpenContacts).
    if (uid.isEmpty() || std::pair{folder, position} < first) {
      first = {folder, position};
      uid = own.isEmpty() ? c.uid : own;
    }
    out.contact.origins.push_back({.store = f.store,
                                   .folder = f.path,
                                   .position = position,
                                   .lastModified = c.lastModified,
                                   .entry = c.uid,
                                   .made = c.created,
                                   .ownUid = own});
    out.members.push_back(std::move(c));
    out.read.push_back(k);
  }
  if (out.members.empty()) return;
  // Only the newest copy of one entry (a store and its copy) is merged, as merge::OpenContacts
  // merges it: an older copy's values stay out of the contact.
  const std::vector<bool> olderCopy = merge::OlderCopies(out.members);
  const size_t newest =
      size_t(std::find(olderCopy.begin(), olderCopy.end(), false) - olderCopy.begin());
  out.contact.contact = out.members[newest];
  merge::Combiner combined(out.contact.contact);
  for (size_t k = 0; k < out.members.size(); ++k)
    if (k != newest && !olderCopy[k]) combined.Add(out.members[k]);
  out.contact.contact.uid = uid;
  out.contact.mergeRule = out.members.size() > 1 ? row.rule : QString();
}

class SelectionStream : public contact::ContactStream {
 public:
  explicit SelectionStream(std::shared_ptr<const Selection> selection)
      : selection_(std::move(selection)), problems_(selection_->problems) {}
  // The rows, and the entries that could not be read (each a step of the export, as of a store's).
  int Total() const override {
    return int(selection_->rows.size()) +
           int(std::count_if(selection_->problems.begin(), selection_->problems.end(),
                             [](const contact::EntryProblem& p) { return p.position > 0; }));
  }
  bool Next(contact::SourcedContact& out) override {
    while (next_ < selection_->rows.size()) {
      Merged merged;
      MergeRow(selection_->folders, selection_->rows[next_++], merged, &problems_);
      if (merged.members.empty()) continue;
      out = std::move(merged.contact);
      return true;
    }
    return false;
  }
  const std::vector<contact::EntryProblem>& Problems() const override { return problems_; }
  QStringList NewUidStores() const override {
    QStringList stores;
    for (const ReviewFolder& folder : selection_->folders) {
      if (!folder.storeHandle || stores.contains(folder.store)) continue;
      try {
        if (folder.storeHandle->RootFolder()->NewUids()) stores << folder.store;
      } catch (const StoreError&) {
        // A store whose top cannot be read now was read when the review opened it: its
        // entries' own damage is told as they are sent.
      }
    }
    return stores;
  }

 private:
  std::shared_ptr<const Selection> selection_;
  size_t next_ = 0;
  std::vector<contact::EntryProblem> problems_;
};

}  // namespace

// ---- Reading the stores ----

// Reads the ticked folders of the stores on its own thread and hands the window what it read in
// batches: the folders of each store for the list, then the entries of the ticked ones.
struct ReviewWindow::Loader {
  QStringList stores;
  std::vector<QStringList> unticked, ticked;
  std::atomic<bool> stop{false};
  QPointer<ReviewWindow> window;

  template <typename F>
  void Post(F&& f) {
    QMetaObject::invokeMethod(window.data(), std::forward<F>(f), Qt::QueuedConnection);
  }

  // The folders read, for the merge; each folder's index by "store\x1ffolder"; and, per folder,
  // each position's entry number in the model (-1 for an entry that could not be read).
  std::vector<StoreFolders> sources;
  QHash<QString, int> folderIndex;
  std::vector<std::vector<int>> numbers;
  int entriesRead = 0;

  static QString Key(const QString& store, const QString& folder) {
    return store + u'\x1f' + folder;
  }

  void Run() {
    for (int s = 0; s < stores.size() && !stop; ++s) {
      const QString path = stores[s];
      std::shared_ptr<Store> store;
      std::vector<std::shared_ptr<Folder>> folders;
      QString failure;
      try {
        store = OpenStoreFile(path);
        // The user's folders, then those the mail client keeps by itself (offered unticked).
        const ContactFolderSearch search = FindContactFolders(*store);
        for (const auto& found : search.folders) folders.push_back(found.folder);
        for (const auto& left : search.leftOut) folders.push_back(left.folder);
      } catch (const StoreError& e) {
        failure = QString::fromUtf8(e.what());
      }
      struct Listed {
        QString path;
        bool ticked;
        int count;
      };
      auto listed = std::make_shared<std::vector<Listed>>();
      std::vector<std::pair<std::shared_ptr<Folder>, std::shared_ptr<Items>>> read;
      for (const auto& folder : folders) {
        const QString p = folder->Path();
        const bool on = IsAutoCollected(*folder) ? ticked[size_t(s)].contains(p)
                                                 : !unticked[size_t(s)].contains(p);
        int count = 0;
        std::shared_ptr<Items> items;
        try {
          items = folder->GetItems();
          count = items->Count();
        } catch (const StoreError&) {
        }
        listed->push_back({p, on, count});
        if (on && items) read.emplace_back(folder, items);
      }
      Post([w = window, s, path, listed, failure] {
        if (!w) return;
        auto* top = new QTreeWidgetItem(w->TreeSources, {QFileInfo(path).fileName()});
        top->setToolTip(0, failure.isEmpty() ? path : failure);
        top->setData(0, Qt::UserRole, s);
        if (!failure.isEmpty()) top->setText(0, top->text(0) + QStringLiteral(" (cannot be read)"));
        w->filling_tree_ = true;
        for (const Listed& l : *listed) {
          auto* item = new QTreeWidgetItem(
              top, {QStringLiteral("%1 (%2)").arg(FolderName(l.path)).arg(l.count)});
          item->setData(0, Qt::UserRole, l.path);
          item->setToolTip(0, l.path);
          item->setCheckState(0, l.ticked ? Qt::Checked : Qt::Unchecked);
        }
        top->setExpanded(true);
        w->filling_tree_ = false;
      });
      if (!read.empty()) sources.push_back({path, store, {}});
      for (const auto& [folder, items] : read) {
        sources.back().folders.push_back(folder);
        const int index = int(numbers.size());
        folderIndex.insert(Key(path, folder->Path()), index);
        numbers.emplace_back();
        Post([w = window, f = ReviewFolder{path, folder->Path(), store, items}] {
          if (w) w->model_->AddFolder(f);
        });
        // The first rows at once, then larger batches.
        size_t batch = 200;
        auto entries = std::make_shared<std::vector<ReviewEntry>>();
        contact::Contact c;
        const int count = std::max(0, items->Count());
        numbers.back().assign(size_t(count), -1);
        const bool contactsOnly = ContactsOnly(*folder);
        for (int i = 0; i < count && !stop; ++i) {
          QString why;
          bool ok = false;
          try {
            const auto entry = items->Item(i);
            ok = entry && entry->ReadContact(c, why);
          } catch (const std::exception&) {
          }
          // Nothing to show of it: the merge's reading below keeps it among the problems the
          // export and the send tell.
          if (!ok) continue;
          // Where the store gives none, the uid the export gives the entry.
          if (c.uid.isEmpty())
            c.uid = contact::CardUuid(QStringLiteral("%1|%2").arg(folder->Path()).arg(i + 1));
          // Mail kept beside contacts in a folder of another class is passed over, as the merge
          // and every export pass it over.
          if (!GivenAsContact(contactsOnly, c)) continue;
          entries->push_back(Summarize(c, index, i + 1));
          numbers.back()[size_t(i)] = entriesRead++;
          if (entries->size() >= batch || i + 1 == count) {
            Post([w = window, entries] {
              if (w) w->model_->AddEntries(std::move(*entries));
            });
            entries = std::make_shared<std::vector<ReviewEntry>>();
            batch = std::min<size_t>(batch * 2, 5000);
          }
        }
        if (!entries->empty())
          Post([w = window, entries] {
            if (w) w->model_->AddEntries(std::move(*entries));
          });
      }
    }
    if (stop) return;
    auto found = std::make_shared<ReviewGrouping>(Merge());
    if (stop) return;
    Post([w = window, found] {
      if (w) w->Group(*found);
    });
  }

  // The groups and suggestions of the folders read, found by the merge the command line uses.
  ReviewGrouping Merge() {
    ReviewGrouping found;
    if (sources.empty()) return found;
    auto number = [this](const contact::Origin& o) {
      const int folder = folderIndex.value(Key(o.store, o.folder), -1);
      if (folder < 0 || o.position < 1 || size_t(o.position) > numbers[size_t(folder)].size())
        return -1;
      return numbers[size_t(folder)][size_t(o.position - 1)];
    };
    try {
      const auto contacts = merge::OpenContacts(sources, true);
      contact::SourcedContact c;
      while (!stop && contacts->Next(c)) {
        // Entries of copies of one store made apart may give their cards uids of their own.
        for (const contact::Origin& o : c.origins)
          if (!o.ownUid.isEmpty())
            if (const int n = number(o); n >= 0)
              found.ownUids.emplace_back(n, QUuid::fromString(o.ownUid));
        if (c.origins.size() < 2) continue;
        ReviewGrouping::Group g;
        g.rule = c.mergeRule;
        for (const contact::Origin& o : c.origins) {
          g.entries.push_back(number(o));
          g.how.push_back(o.joinedBy);
        }
        found.groups.push_back(std::move(g));
      }
      if (const auto* merged = dynamic_cast<const merge::MergedContacts*>(contacts.get()))
        for (const merge::Suggestion& s : merged->Suggestions())
          found.suggestions.push_back(
              {number(s.firstEntry), number(s.secondEntry), merge::RuleText(s.rule), s.value});
      found.problems = contacts->Problems();
    } catch (const std::exception&) {
      // Nothing merged: every entry stays a row of its own, as read.
    }
    return found;
  }
};

// ---- The window ----

ReviewWindow::ReviewWindow(QWidget* owner, const QStringList& stores)
    : QDialog(owner), pending_(LastChoices()) {
  // The last review's stores and folder choices first, then those offered now.
  stores_ = pending_.stores;
  unticked_ = pending_.unticked;
  ticked_ = pending_.ticked;
  unticked_.resize(size_t(stores_.size()));
  ticked_.resize(size_t(stores_.size()));
  for (const QString& s : stores)
    if (!stores_.contains(s)) {
      stores_ << s;
      unticked_.emplace_back();
      ticked_.emplace_back();
    }
  setObjectName(QStringLiteral("ReviewWindow"));
  setWindowTitle(QStringLiteral("Review Contacts"));
  setAcceptDrops(true);
  model_ = new ReviewModel(this);
  view_ = new ReviewView(model_, this);
  search_timer_ = new QTimer(this);
  search_timer_->setSingleShot(true);
  search_timer_->setInterval(60);

  auto* layout = new QVBoxLayout(this);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  BuildSources(splitter);
  BuildContacts(splitter);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 4);
  splitter->setSizes({200, 900});  // the folder names whole
  layout->addWidget(splitter, 1);
  layout->addLayout(BuildButtons());
  Connect();
  FitToScreen(this, QSize(1100, 700), layout->itemAt(layout->count() - 1)->layout());
  RestoreSize(this, QStringLiteral("review"));
  Reload();
}

// The stores and their folders to tick, with the button that adds a store.
void ReviewWindow::BuildSources(QSplitter* splitter) {
  auto* left = new QWidget(splitter);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  TreeSources = new QTreeWidget(left);
  TreeSources->setObjectName(QStringLiteral("TreeSources"));
  TreeSources->setHeaderLabel(QStringLiteral("Stores and folders"));
  TreeSources->setAccessibleName(QStringLiteral("Stores and folders"));
  leftLayout->addWidget(TreeSources);
  CmdAddStore = new QPushButton(QStringLiteral("&Add Store..."), left);
  CmdAddStore->setObjectName(QStringLiteral("CmdAddStore"));
  CmdAddStore->setToolTip(
      QStringLiteral("Add an Outlook data file (.pst, .ost); or drop files here"));
  leftLayout->addWidget(CmdAddStore);
}

// The search box, the counts, the table and the shown row's detail with its buttons.
void ReviewWindow::BuildContacts(QSplitter* splitter) {
  auto* right = new QWidget(splitter);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  TxtSearch = new QLineEdit(right);
  TxtSearch->setObjectName(QStringLiteral("TxtSearch"));
  TxtSearch->setPlaceholderText(
      QStringLiteral("Search names, companies, e-mail addresses, phones"));
  TxtSearch->setClearButtonEnabled(true);
  TxtSearch->setAccessibleName(QStringLiteral("Search contacts"));
  rightLayout->addWidget(TxtSearch);
  LblCounts = new QLabel(right);
  LblCounts->setObjectName(QStringLiteral("LblCounts"));
  rightLayout->addWidget(LblCounts);
  LblNotice = new QLabel(right);
  LblNotice->setObjectName(QStringLiteral("LblNotice"));
  LblNotice->setWordWrap(true);
  LblNotice->hide();
  rightLayout->addWidget(LblNotice);
  auto* vertical = new QSplitter(Qt::Vertical, right);
  TableContacts = new QTableView(vertical);
  TableContacts->setObjectName(QStringLiteral("TableContacts"));
  TableContacts->setModel(view_);
  TableContacts->setAccessibleName(QStringLiteral("Contacts"));
  TableContacts->setSortingEnabled(true);
  TableContacts->sortByColumn(-1,
                              Qt::AscendingOrder);  // the stores' order until a heading is clicked
  TableContacts->setSelectionBehavior(QAbstractItemView::SelectRows);
  TableContacts->setSelectionMode(QAbstractItemView::SingleSelection);
  TableContacts->setWordWrap(false);
  TableContacts->setTextElideMode(Qt::ElideMiddle);
  TableContacts->verticalHeader()->setDefaultSectionSize(34);
  TableContacts->verticalHeader()->hide();
  TableContacts->horizontalHeader()->setStretchLastSection(true);
  TableContacts->setColumnWidth(ReviewModel::kTick, 90);
  TableContacts->setColumnWidth(ReviewModel::kName, 180);
  TableContacts->setColumnWidth(ReviewModel::kCompany, 140);
  TableContacts->setColumnWidth(ReviewModel::kEmail, 200);
  TableContacts->setColumnWidth(ReviewModel::kPhone, 130);
  TableContacts->setColumnWidth(ReviewModel::kSource, 170);
  TreeDetail = new QTreeWidget(vertical);
  TreeDetail->setObjectName(QStringLiteral("TreeDetail"));
  TreeDetail->setAccessibleName(QStringLiteral("The contact's fields and entries"));
  TreeDetail->setHeaderLabels(
      {QStringLiteral("Field"), QStringLiteral("Value"), QStringLiteral("From")});
  TreeDetail->setColumnWidth(0, 160);
  TreeDetail->setColumnWidth(1, 300);
  vertical->setStretchFactor(0, 3);
  vertical->setStretchFactor(1, 2);
  rightLayout->addWidget(vertical, 1);
  auto* groupButtons = new QHBoxLayout;
  CmdSplit = new QPushButton(QStringLiteral("&Split Group"), right);
  CmdSplit->setObjectName(QStringLiteral("CmdSplit"));
  CmdTakeOut = new QPushButton(QStringLiteral("&Take Out Entry"), right);
  CmdTakeOut->setObjectName(QStringLiteral("CmdTakeOut"));
  CmdTakeOut->setToolTip(
      QStringLiteral("Select one of the group's entries in the list below, then take it out of "
                     "the group"));
  CmdRejoin = new QPushButton(QStringLiteral("&Re-join Group"), right);
  CmdRejoin->setObjectName(QStringLiteral("CmdRejoin"));
  CmdRejoin->setToolTip(
      QStringLiteral("Join the entries that were found to be this person again, after a split"));
  CmdAccept = new QPushButton(QStringLiteral("A&ccept Suggestion"), right);
  CmdAccept->setObjectName(QStringLiteral("CmdAccept"));
  CmdAccept->setToolTip(
      QStringLiteral("Take this contact and the one suggested below as one person"));
  CmdDecline = new QPushButton(QStringLiteral("&Decline Suggestion"), right);
  CmdDecline->setObjectName(QStringLiteral("CmdDecline"));
  CmdDecline->setToolTip(QStringLiteral("Keep this contact and the one suggested below apart"));
  groupButtons->addWidget(CmdSplit);
  groupButtons->addWidget(CmdTakeOut);
  groupButtons->addWidget(CmdRejoin);
  groupButtons->addWidget(CmdAccept);
  groupButtons->addWidget(CmdDecline);
  groupButtons->addStretch(1);
  rightLayout->addLayout(groupButtons);
}

QHBoxLayout* ReviewWindow::BuildButtons() {
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  CmdUse = new QPushButton(QStringLiteral("&Use Ticked Contacts"), this);
  CmdUse->setObjectName(QStringLiteral("CmdUse"));
  CmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  CmdCancel->setObjectName(QStringLiteral("CmdCancel"));
  buttons->addWidget(CmdUse);
  buttons->addWidget(CmdCancel);
  return buttons;
}

void ReviewWindow::Connect() {
  connect(TxtSearch, &QLineEdit::textChanged, search_timer_, qOverload<>(&QTimer::start));
  // Ctrl+F goes to the search box, what it holds selected to be typed over.
  connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
    TxtSearch->setFocus(Qt::ShortcutFocusReason);
    TxtSearch->selectAll();
  });
  connect(search_timer_, &QTimer::timeout, this, [this] {
    view_->Search(TxtSearch->text());
    UpdateCounts();
    // The current contact stays in sight while the search shows it; else the list starts at its
    // top and the pane below no longer shows a contact the list does not.
    if (TableContacts->currentIndex().isValid()) {
      TableContacts->scrollTo(TableContacts->currentIndex());
    } else {
      TableContacts->scrollToTop();
      ShowDetail();
    }
  });
  // Take Out Entry takes out the entry selected below the table: it waits for one.
  connect(TreeDetail, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    CmdTakeOut->setEnabled(item && item->data(0, Qt::UserRole).isValid());
  });
  connect(model_, &ReviewModel::CountsChanged, this, [this] { UpdateCounts(); });
  connect(TableContacts->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ShowDetail(); });
  // A group split, joined or accepted changes its marks: the column follows them.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    if (loaded_) FitMarks();
    ShowDetail();
  });
  connect(CmdSplit, &QPushButton::clicked, this, [this] {
    if (const int row = CurrentRow(); row >= 0) model_->Split(row);
    ShowDetail();
  });
  connect(CmdRejoin, &QPushButton::clicked, this, [this] {
    const int row = CurrentRow();
    if (row < 0) return;
    const int entry = model_->RowEntries(row).front();
    model_->Rejoin(row);
    TableContacts->setCurrentIndex(
        view_->mapFromSource(model_->index(model_->RowOfEntry(entry), ReviewModel::kName)));
    ShowDetail();
  });
  // The answer to a suggestion; the table stays on the contact.
  const auto answer = [this](bool accept) {
    const int suggestion = OpenSuggestion();
    if (suggestion < 0) return;
    const int entry = model_->RowEntries(CurrentRow()).front();
    if (accept)
      model_->Accept(suggestion);
    else
      model_->Decline(suggestion);
    TableContacts->setCurrentIndex(
        view_->mapFromSource(model_->index(model_->RowOfEntry(entry), ReviewModel::kName)));
    ShowDetail();
  };
  connect(CmdAccept, &QPushButton::clicked, this, [answer] { answer(true); });
  connect(CmdDecline, &QPushButton::clicked, this, [answer] { answer(false); });
  connect(CmdTakeOut, &QPushButton::clicked, this, [this] {
    const int row = CurrentRow();
    const QTreeWidgetItem* item = TreeDetail->currentItem();
    if (row < 0 || !item || !item->data(0, Qt::UserRole).isValid()) return;
    model_->TakeOut(row, item->data(0, Qt::UserRole).toInt());
    ShowDetail();
  });
  connect(CmdAddStore, &QPushButton::clicked, this, [this] {
    AddStores(CurrentDialogs().OpenFiles(this, QStringLiteral("Outlook Data Files (*.pst *.ost)")));
  });
  connect(TreeSources, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    if (filling_tree_ || !item->parent()) return;
    const int s = item->parent()->data(0, Qt::UserRole).toInt();
    const QString path = item->data(0, Qt::UserRole).toString();
    const bool on = item->checkState(0) == Qt::Checked;
    unticked_[size_t(s)].removeAll(path);
    ticked_[size_t(s)].removeAll(path);
    (on ? ticked_ : unticked_)[size_t(s)] << path;
    // Not from inside the tree's own signal: the reload clears the tree, this item with it.
    QTimer::singleShot(0, this, [this] { Reload(); });
  });
  connect(CmdUse, &QPushButton::clicked, this, [this] { accept(); });
  connect(CmdCancel, &QPushButton::clicked, this, [this] { reject(); });
}

ReviewWindow::~ReviewWindow() {
  StopLoading();
}

void ReviewWindow::StopLoading() {
  if (!thread_) return;
  loader_->stop = true;
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
}

void ReviewWindow::Reload() {
  // The rows and ticks chosen so far stay chosen over the reading again.
  if (loaded_) pending_ = Choices();
  StopLoading();
  loaded_ = false;
  // What the stopped reader still posted is for the old list: it goes with the model's reset.
  QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
  model_->Clear();
  filling_tree_ = true;
  TreeSources->clear();
  filling_tree_ = false;
  loader_ = std::make_shared<Loader>();
  loader_->stores = stores_;
  loader_->unticked = unticked_;
  loader_->ticked = ticked_;
  loader_->window = this;
  thread_ = QThread::create([loader = loader_] { loader->Run(); });
  thread_->setObjectName(QStringLiteral("ReviewReader"));
  thread_->start();
  UpdateCounts();
}

void ReviewWindow::AddStore(const QString& path) {
  AddStores({path});
}

void ReviewWindow::AddStores(const QStringList& paths) {
  bool added = false;
  for (const QString& path : paths) {
    // The same file, however its path is written, is listed once.
    const QString file = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty() || std::any_of(stores_.begin(), stores_.end(), [&](const QString& s) {
          return QFileInfo(s).absoluteFilePath() == file;
        }))
      continue;
    stores_ << path;
    unticked_.emplace_back();
    ticked_.emplace_back();
    added = true;
  }
  if (added) Reload();
}

void ReviewWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void ReviewWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  AddStores(paths);
}

QString ReviewWindow::CountsText() const {
  const QString stores = model_->Stores() == 1 ? QStringLiteral("1 store")
                                               : QStringLiteral("%1 stores").arg(model_->Stores());
  if (!loaded_)
    return QStringLiteral("%1 contacts from %2 so far (reading...)")
        .arg(Number(model_->Entries()), stores);
  QString text = QStringLiteral("%1 contacts from %2, %3 after merging, %4 ticked")
                     .arg(Number(model_->Entries()), stores, Number(model_->rowCount()),
                          Number(model_->TickedRows()));
  if (const int open = model_->OpenSuggestions(); open > 0)
    text += open == 1 ? QStringLiteral(", 1 suggestion to answer")
                      : QStringLiteral(", %1 suggestions to answer").arg(Number(open));
  // Entries not in the table, which the export and the send tell one by one.
  if (const int unread = model_->UnreadableEntries(); unread > 0)
    text += unread == 1 ? QStringLiteral("; 1 entry could not be read")
                        : QStringLiteral("; %1 entries could not be read").arg(Number(unread));
  return text;
}

void ReviewWindow::UpdateCounts() {
  // While a search hides rows, how many it shows as well.
  const int shown = view_->rowCount();
  LblCounts->setText(CountsText() + (shown == model_->rowCount()
                                         ? QString()
                                         : QStringLiteral("; %1 shown").arg(Number(shown))));
  CmdUse->setEnabled(loaded_ && model_->TickedRows() > 0);
}

int ReviewWindow::OpenSuggestion() const {
  const int row = CurrentRow();
  if (row < 0 || !loaded_) return -1;
  for (const int s : model_->RowSuggestions(row))
    if (model_->Suggestions()[size_t(s)].answer == ReviewModel::Answer::kOpen) return s;
  return -1;
}

int ReviewWindow::CurrentRow() const {
  const QModelIndex current = TableContacts->currentIndex();
  return current.isValid() ? view_->mapToSource(current).row() : -1;
}

void ReviewWindow::Group(const ReviewGrouping& found) {
  // The current contact, by entry: rows are made anew.
  auto entryAt = [this](const QModelIndex& shown) {
    const QModelIndex row = view_->mapToSource(shown);
    return row.isValid() ? model_->RowEntries(row.row()).front() : -1;
  };
  const int current = entryAt(TableContacts->currentIndex());
  const int column = std::max(0, TableContacts->currentIndex().column());
  model_->Group(found);
  ApplyChoices();
  loaded_ = true;
  UpdateCounts();
  FitMarks();
  auto shownRow = [this](int entry, int column) {
    return view_->mapFromSource(model_->index(model_->RowOfEntry(entry), column));
  };
  if (current >= 0) TableContacts->setCurrentIndex(shownRow(current, column));
  // The rows that need a look and those with a suggestion come first: the table shows its top.
  TableContacts->scrollToTop();
}

void ReviewWindow::FitMarks() {
  // As wide as its widest mark (those rows come first), never narrower.
  const int narrow = TableContacts->columnWidth(ReviewModel::kTick);
  TableContacts->resizeColumnToContents(ReviewModel::kTick);
  if (TableContacts->columnWidth(ReviewModel::kTick) < narrow)
    TableContacts->setColumnWidth(ReviewModel::kTick, narrow);
}

void ReviewWindow::ShowDetail() {
  TreeDetail->clear();
  const int row = CurrentRow();
  CmdSplit->setEnabled(row >= 0 && model_->RowEntries(row).size() > 1);
  CmdRejoin->setEnabled(row >= 0 && loaded_ && model_->CanRejoin(row));
  CmdTakeOut->setEnabled(false);  // until one of the group's entries is selected below
  CmdAccept->setEnabled(OpenSuggestion() >= 0);
  CmdDecline->setEnabled(OpenSuggestion() >= 0);
  if (row < 0 || !loaded_) return;
  // The whole entries, read again from their stores (the window holds their summaries only).
  Selection::Row plan;
  plan.rule = model_->RowRule(row);
  for (const int e : model_->RowEntries(row))
    plan.entries.emplace_back(model_->Entry(e).folder, model_->Entry(e).position);
  Merged merged;
  MergeRow(model_->Folders(), plan, merged, nullptr);
  if (merged.members.empty()) return;
  const auto& origins = merged.contact.origins;
  auto where = [&](size_t member) {
    const contact::Origin& o = origins[member];
    return QStringLiteral("%1 / %2 #%3")
        .arg(QFileInfo(o.store).fileName(), FolderName(o.folder))
        .arg(o.position);
  };
  const contact::Contact& c = merged.contact.contact;
  if (const QString check = model_->Attention(row); !check.isEmpty()) {
    auto* item = new QTreeWidgetItem(TreeDetail, {QStringLiteral("Check"), check});
    item->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setFirstColumnSpanned(true);
    item->setText(0, QStringLiteral("Check: ") + check);
    item->setToolTip(0, item->text(0));  // whole, where the pane cuts it
  }
  // The contacts the merge suggests may be this person, each with its answer.
  for (const int k : model_->RowSuggestions(row)) {
    const ReviewModel::Suggestion& s = model_->Suggestions()[size_t(k)];
    const std::vector<int>& mine = model_->RowEntries(row);
    const bool firstHere = std::find(mine.begin(), mine.end(), s.first) != mine.end();
    const int other = firstHere ? s.second : s.first;
    const contact::Origin o = model_->OriginOf(other);
    const QString name =
        model_->index(model_->RowOfEntry(other), ReviewModel::kName).data().toString();
    const QString answer =
        s.answer == ReviewModel::Answer::kOpen       ? QStringLiteral("accept or decline")
        : s.answer == ReviewModel::Answer::kAccepted ? QStringLiteral("accepted")
                                                     : QStringLiteral("declined");
    // One line across the pane: the other contact, what they share, the answer.
    auto* item = new QTreeWidgetItem(TreeDetail);
    item->setFirstColumnSpanned(true);
    item->setText(
        0,
        QStringLiteral("Suggestion (%1): may be the same person as %2 (%3 / %4 #%5), %6%7")
            .arg(answer, name, QFileInfo(o.store).fileName(), FolderName(o.folder))
            .arg(o.position)
            .arg(s.rule, s.value.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(s.value)));
    item->setToolTip(0, item->text(0));  // whole, where the pane cuts it
    if (s.answer == ReviewModel::Answer::kOpen)
      item->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxQuestion));
  }
  // Its entries read without some of their fields (a damaged store), as the export tells them.
  for (const int id : model_->RowEntries(row)) {
    const contact::Origin o = model_->OriginOf(id);
    for (const contact::EntryProblem& p : model_->Problems()) {
      if (!p.partial || p.position != o.position || p.folder != o.folder || p.store != o.store)
        continue;
      auto* item = new QTreeWidgetItem(TreeDetail);
      item->setFirstColumnSpanned(true);
      item->setText(0, QStringLiteral("Not whole (%1 / %2 #%3): %4")
                           .arg(QFileInfo(o.store).fileName(), FolderName(o.folder))
                           .arg(o.position)
                           .arg(p.reason));
      item->setToolTip(0, item->text(0));
      item->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    }
  }
  // Every field of the merged contact, with the newest entry it came from; then every field of
  // each entry, its values that did not reach the merged contact marked.
  std::vector<std::vector<std::pair<QString, QString>>> fields;
  for (const contact::Contact& m : merged.members) fields.push_back(EveryField(m));
  const std::vector<std::pair<QString, QString>> result = EveryField(c);
  // The same field with the same value; spaces aside, as the merge keeps an older company or job
  // title with its spaces made simple.
  const auto holds = [](const std::vector<std::pair<QString, QString>>& list,
                        const std::pair<QString, QString>& field) {
    return std::any_of(list.begin(), list.end(), [&](const std::pair<QString, QString>& f) {
      return f.first == field.first && f.second.simplified() == field.second.simplified();
    });
  };
  auto* top = new QTreeWidgetItem(
      TreeDetail,
      {merged.members.size() > 1 ? QStringLiteral("Merged contact") : QStringLiteral("Contact"),
       contact::ShownName(c), merged.contact.mergeRule});
  for (const auto& field : result) {
    QString source;
    if (merged.members.size() > 1)
      for (size_t m = 0; m < fields.size() && source.isEmpty(); ++m)
        if (holds(fields[m], field)) source = where(m);
    new QTreeWidgetItem(top, {field.first, field.second, source});
  }
  top->setExpanded(merged.members.size() == 1);
  if (merged.members.size() > 1) {
    auto* entries = new QTreeWidgetItem(
        TreeDetail, {QStringLiteral("Entries"),
                     QStringLiteral("newest first; select one to take it out of the group")});
    const std::vector<int>& ids = model_->RowEntries(row);
    QFont dropped = TreeDetail->font();
    dropped.setItalic(true);
    for (size_t m = 0; m < merged.members.size(); ++m) {
      const contact::Contact& x = merged.members[m];
      const int id = ids[merged.read[m]];
      // Where it is, and by which rule it was joined to the others.
      const QString rule = model_->EntryRule(id);
      auto* item = new QTreeWidgetItem(
          entries,
          {x.lastModified.isValid() ? x.lastModified.toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                                    : QStringLiteral("(no date)"),
           contact::ShownName(x) + (x.emails.empty() ? QString() : u' ' + x.emails.front().address),
           rule.isEmpty() ? where(m) : QStringLiteral("%1 (%2)").arg(where(m), rule)});
      item->setData(0, Qt::UserRole, id);
      for (const auto& field : fields[m]) {
        auto* value = new QTreeWidgetItem(item, {field.first, field.second});
        if (field.first == u"Modified" || holds(result, field)) continue;
        value->setText(2, QStringLiteral("not in the merged contact"));
        for (int column = 0; column < 3; ++column) value->setFont(column, dropped);
      }
      item->setExpanded(true);
    }
    entries->setExpanded(true);
  }
}

QString ReviewWindow::EntryKey(int entry) const {
  const ReviewSummary& e = model_->Entry(entry);
  const ReviewFolder& f = model_->Folders()[size_t(e.folder)];
  return QStringLiteral("%1\x1f%2\x1f%3")
      .arg(f.store, f.path, e.uid.toString(QUuid::WithoutBraces));
}

ReviewChoices ReviewWindow::Choices() const {
  ReviewChoices c;
  c.stores = stores_;
  c.unticked = unticked_;
  c.ticked = ticked_;
  if (!loaded_) {  // still reading: the rows chosen before stay as they were
    c.rows = pending_.rows;
    c.untickedEntries = pending_.untickedEntries;
    c.declined = pending_.declined;
    return c;
  }
  // A row of entries read and entries not read, still as it was applied: kept whole.
  QSet<int> whole;
  for (const PartRow& part : partRows_) {
    const int row = model_->RowOfEntry(part.read.front());
    std::vector<int> now = model_->RowEntries(row);
    std::sort(now.begin(), now.end());
    if (now != part.read || whole.contains(row)) continue;
    c.rows.push_back(part.keys);
    whole.insert(row);
  }
  for (int row = 0; row < model_->rowCount(); ++row) {
    const std::vector<int>& entries = model_->RowEntries(row);
    auto applied = [&] {
      std::vector<int> sorted = entries;
      std::sort(sorted.begin(), sorted.end());
      return std::find(applied_.begin(), applied_.end(), sorted) != applied_.end();
    };
    if ((!model_->AsFound(row) || (!applied_.empty() && applied())) && !whole.contains(row)) {
      QStringList keys;
      for (const int e : entries) keys << EntryKey(e);
      c.rows.push_back(keys);
    }
    if (!model_->Ticked(row))
      for (const int e : entries) c.untickedEntries << EntryKey(e);
  }
  for (const ReviewModel::Suggestion& s : model_->Suggestions())
    if (s.answer == ReviewModel::Answer::kDeclined)
      c.declined << EntryKey(s.first) + u'\x1e' + EntryKey(s.second);
  c.rows.insert(c.rows.end(), aside_.rows.begin(), aside_.rows.end());
  c.untickedEntries << aside_.untickedEntries;
  c.declined << aside_.declined;
  return c;
}

void ReviewWindow::ApplyChoices() {
  aside_ = {};
  partRows_.clear();
  applied_.clear();
  if (pending_.rows.empty() && pending_.untickedEntries.isEmpty() && pending_.declined.isEmpty())
    return;
  QHash<QString, int> byKey;
  for (int e = 0; e < model_->Entries(); ++e) byKey.insert(EntryKey(e), e);
  QSet<QString> read;  // the folders read, as "store\x1ffolder"
  for (const ReviewFolder& f : model_->Folders()) read.insert(f.store + u'\x1f' + f.path);
  // An entry of a choice: here (its number); in a folder not read now (-1: left aside, as that
  // folder's entries are not shown); or gone (-2): no entry of its folder has its uid any longer,
  // or it is kept by position, as an earlier form kept choices, which would put the choice on
  // whoever holds that position now.
  constexpr int kNotRead = -1, kGone = -2;
  auto find = [&](const QString& key) {
    if (const auto it = byKey.constFind(key); it != byKey.constEnd()) return *it;
    const QStringList parts = key.split(u'\x1f');
    if (parts.size() != 3 || QUuid::fromString(parts[2]).isNull()) return kGone;
    return read.contains(parts[0] + u'\x1f' + parts[1]) ? kGone : kNotRead;
  };
  int dropped = 0;
  std::vector<int> made;  // an entry of each row applied
  for (const QStringList& keys : pending_.rows) {
    std::vector<int> entries;
    bool gone = false;
    for (const QString& k : keys) {
      const int e = find(k);
      gone = gone || e == kGone;
      if (e >= 0) entries.push_back(e);
    }
    // A row missing one of its entries is no longer the row that was made: left as found.
    if (gone) {
      ++dropped;
      continue;
    }
    if (entries.empty()) {
      aside_.rows.push_back(keys);
      continue;
    }
    model_->Join(entries);
    made.push_back(entries.front());
    if (entries.size() < size_t(keys.size())) {
      std::sort(entries.begin(), entries.end());
      partRows_.push_back({keys, std::move(entries)});
    }
  }
  // Entries read since the rows were made (a store added, another copy of one) that the merge
  // finds to be the same person join them, so that nobody is written twice.
  model_->FollowMadeRows(made);
  for (PartRow& part : partRows_) {
    std::vector<int> now = model_->RowEntries(model_->RowOfEntry(part.read.front()));
    std::sort(now.begin(), now.end());
    for (const int e : now)
      if (!std::binary_search(part.read.begin(), part.read.end(), e)) part.keys << EntryKey(e);
    part.read = std::move(now);
  }
  for (const int e : made) {
    std::vector<int> now = model_->RowEntries(model_->RowOfEntry(e));
    std::sort(now.begin(), now.end());
    applied_.push_back(std::move(now));
  }
  for (const QString& k : pending_.untickedEntries) {
    const int e = find(k);
    if (e >= 0) model_->SetTicked(model_->RowOfEntry(e), false);
    if (e == kNotRead) aside_.untickedEntries << k;
    dropped += e == kGone ? 1 : 0;
  }
  for (const QString& pair : pending_.declined) {
    const QStringList keys = pair.split(u'\x1e');
    const int first = keys.size() == 2 ? find(keys[0]) : kGone;
    const int second = keys.size() == 2 ? find(keys[1]) : kGone;
    if (first == kGone || second == kGone) {
      ++dropped;
      continue;
    }
    if (first == kNotRead || second == kNotRead) {
      aside_.declined << pair;
      continue;
    }
    // Also a suggestion between the same two rows by other entries (copies joined since).
    const int firstRow = model_->RowOfEntry(first), secondRow = model_->RowOfEntry(second);
    const auto& suggestions = model_->Suggestions();
    for (size_t k = 0; k < suggestions.size(); ++k) {
      const int a = model_->RowOfEntry(suggestions[k].first);
      const int b = model_->RowOfEntry(suggestions[k].second);
      if (((a == firstRow && b == secondRow) || (a == secondRow && b == firstRow)) &&
          suggestions[k].answer == ReviewModel::Answer::kOpen)
        model_->Decline(int(k));
    }
  }
  pending_.rows.clear();
  pending_.untickedEntries.clear();
  pending_.declined.clear();
  if (dropped > 0) {
    LblNotice->setText(
        dropped == 1
            ? QStringLiteral("1 earlier choice no longer applies: its entries changed or are gone")
            : QStringLiteral(
                  "%1 earlier choices no longer apply: their entries changed or are gone")
                  .arg(Number(dropped)));
    LblNotice->show();
  }
}

namespace {

// Lists of texts as QSettings keeps them.
QVariantList ToVariant(const std::vector<QStringList>& lists) {
  QVariantList out;
  for (const QStringList& l : lists) out << l;
  return out;
}
std::vector<QStringList> FromVariant(const QVariant& value) {
  std::vector<QStringList> out;
  for (const QVariant& l : value.toList()) out.push_back(l.toStringList());
  return out;
}

// The choices of the program's last review, without the stores that are gone since.
ReviewChoices ReadChoices() {
  const auto last = Remembered();
  last->beginGroup(QStringLiteral("review"));
  ReviewChoices read;
  const QStringList stores = last->value(QStringLiteral("stores")).toStringList();
  std::vector<QStringList> unticked = FromVariant(last->value(QStringLiteral("unticked")));
  std::vector<QStringList> ticked = FromVariant(last->value(QStringLiteral("ticked")));
  unticked.resize(size_t(stores.size()));
  ticked.resize(size_t(stores.size()));
  for (qsizetype s = 0; s < stores.size(); ++s) {
    if (!QFileInfo::exists(stores[s])) continue;
    read.stores << stores[s];
    read.unticked.push_back(unticked[size_t(s)]);
    read.ticked.push_back(ticked[size_t(s)]);
  }
  read.rows = FromVariant(last->value(QStringLiteral("rows")));
  read.untickedEntries = last->value(QStringLiteral("untickedEntries")).toStringList();
  read.declined = last->value(QStringLiteral("declined")).toStringList();
  last->endGroup();
  return read;
}

void WriteChoices(const ReviewChoices& c) {
  const auto last = Remembered();
  last->beginGroup(QStringLiteral("review"));
  last->setValue(QStringLiteral("stores"), c.stores);
  last->setValue(QStringLiteral("unticked"), ToVariant(c.unticked));
  last->setValue(QStringLiteral("ticked"), ToVariant(c.ticked));
  last->setValue(QStringLiteral("rows"), ToVariant(c.rows));
  last->setValue(QStringLiteral("untickedEntries"), c.untickedEntries);
  last->setValue(QStringLiteral("declined"), c.declined);
  last->endGroup();
}

}  // namespace

ReviewChoices& ReviewWindow::LastChoices() {
  static ReviewChoices last = ReadChoices();
  return last;
}

void ReviewWindow::done(int result) {
  LastChoices() = Choices();
  WriteChoices(LastChoices());
  RememberSize(this, QStringLiteral("review"));
  QDialog::done(result);
}

std::unique_ptr<contact::ContactStream> ReviewWindow::TickedContacts() const {
  return TickedSelection()();
}

std::function<std::unique_ptr<contact::ContactStream>()> ReviewWindow::TickedSelection() const {
  auto selection = std::make_shared<Selection>();
  selection->folders = model_->Folders();
  for (const contact::EntryProblem& p : model_->Problems())
    if (!p.partial) selection->problems.push_back(p);
  // The rows in the order the command line writes its contacts, each where its first entry is in
  // the stores, not in the table's order (where the rows that need a look come first).
  std::vector<std::pair<int, int>> byFirst;  // first entry, row
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (!model_->Ticked(row)) continue;
    const std::vector<int>& entries = model_->RowEntries(row);
    byFirst.emplace_back(*std::min_element(entries.begin(), entries.end()), row);
  }
  std::sort(byFirst.begin(), byFirst.end());
  for (const auto& [entry, row] : byFirst) {
    Selection::Row r;
    r.rule = model_->RowRule(row);
    for (const int e : model_->RowEntries(row)) {
      r.entries.emplace_back(model_->Entry(e).folder, model_->Entry(e).position);
      r.uids.push_back(model_->Entry(e).uid.toString(QUuid::WithoutBraces));
    }
    selection->rows.push_back(std::move(r));
  }
  return [selection]() -> std::unique_ptr<contact::ContactStream> {
    return std::make_unique<SelectionStream>(selection);
  };
}

}  // namespace lumivex
