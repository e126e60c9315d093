#include "app/FolderPickerDialog.h"

#include "app/ScreenFit.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lumivex {

namespace {
constexpr int kMaxDepth = 64;  // a damaged store could nest its folders in a loop
enum Column { kNameColumn, kCountColumn };
// An entry of the tree that is no folder: why it cannot be chosen.
constexpr int kWhyNotRole = Qt::UserRole + 1;

// The folder whose sub-folder is at `path`, searched from `folder` down; null when none is.
std::shared_ptr<Folder> ParentOf(const std::shared_ptr<Folder>& folder, const QString& path,
                                 int depth) {
  if (depth >= kMaxDepth) return nullptr;
  const auto subs = folder->SubFolders();
  for (const auto& sub : subs)
    if (sub->Path() == path) return folder;
  for (const auto& sub : subs)
    if (path.startsWith(sub->Path() + u'/'))
      if (auto found = ParentOf(sub, path, depth + 1)) return found;
  return nullptr;
}

// The part of a store the mail client shows: the folder that holds the user's folders, without
// the search and system folders beside it. That is the folder holding the default contacts
// folder, whatever the language of its name ("Top of Personal Folders", "Outlook データ ファイル
// のトップ", "IPM_SUBTREE" in offline stores); in a store without one, a folder of those English
// names. The whole tree when the store has neither.
std::shared_ptr<Folder> VisibleTop(const Store& store, const std::shared_ptr<Folder>& root) {
  try {
    if (const auto contacts = store.DefaultContactsFolder())
      if (auto top = ParentOf(root, contacts->Path(), 0); top && top != root) return top;
    for (const auto& sub : root->SubFolders()) {
      const QString name = sub->Name();
      if (name.compare(u"Top of Personal Folders", Qt::CaseInsensitive) == 0 ||
          name.compare(u"Top of Information Store", Qt::CaseInsensitive) == 0 ||
          name.compare(u"IPM_SUBTREE", Qt::CaseInsensitive) == 0)
        return sub;
    }
  } catch (const StoreError&) {
  }
  return root;
}
}  // namespace

FolderPickerDialog::FolderPickerDialog(QWidget* owner,
                                       const std::vector<std::shared_ptr<Store>>& stores)
    : QDialog(owner) {
  setObjectName(QStringLiteral("FolderPicker"));
  setWindowTitle(QStringLiteral("Select Folder"));

  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(QStringLiteral("Select the folder that holds your contacts:"), this);
  layout->addWidget(prompt);

  FolderTree = new QTreeWidget(this);
  FolderTree->setObjectName(QStringLiteral("FolderTree"));
  FolderTree->setColumnCount(2);
  FolderTree->setHeaderLabels({QStringLiteral("Folder"), QStringLiteral("Items")});
  FolderTree->header()->setStretchLastSection(false);
  FolderTree->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  FolderTree->header()->setSectionResizeMode(kCountColumn, QHeaderView::ResizeToContents);
  FolderTree->setSelectionMode(QAbstractItemView::SingleSelection);
  FolderTree->setAccessibleName(QStringLiteral("Folders"));
  layout->addWidget(FolderTree);
  prompt->setBuddy(FolderTree);

  LblWhyNot = new QLabel(this);
  LblWhyNot->setObjectName(QStringLiteral("LblWhyNot"));
  LblWhyNot->setWordWrap(true);
  layout->addWidget(LblWhyNot);

  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  FitToScreen(this, QSize(460, 380));
  connect(FolderTree, &QTreeWidget::itemSelectionChanged, this, &FolderPickerDialog::UpdateOk);
  connect(FolderTree, &QTreeWidget::currentItemChanged, this, &FolderPickerDialog::UpdateOk);
  connect(FolderTree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item != nullptr && item->isSelected()) accept();
  });

  for (const auto& store : stores) {
    std::shared_ptr<Folder> root;
    QString why;
    try {
      root = store->RootFolder();
    } catch (const StoreError& e) {
      why = QString::fromUtf8(e.what());
    }
    const QString file = QFileInfo(store->FilePath()).fileName();
    if (!root) {
      auto* item = new QTreeWidgetItem(
          FolderTree, {QStringLiteral("%1 (%2) - unreadable").arg(store->DisplayName(), file)});
      item->setFlags(Qt::ItemIsEnabled);
      item->setData(kNameColumn, kWhyNotRole,
                    QStringLiteral("%1 could not be read (%2), so none of its folders can be "
                                   "chosen. Choose a folder of another file, or Cancel and check "
                                   "the file.")
                        .arg(file, why.isEmpty() ? QStringLiteral("no folders") : why));
      continue;
    }
    // The top is named as the store names it ("Top of Personal Folders"), as the command line
    // lists it, with the file beside it; a store without one shows its display name.
    const std::shared_ptr<Folder> visible = VisibleTop(*store, root);
    const QString name = visible == root ? store->DisplayName() : visible->Name();
    QTreeWidgetItem* top =
        AddFolder(nullptr, visible, QStringLiteral("%1 (%2)").arg(name, file), 0);
    top->setExpanded(true);
  }
  FolderTree->expandAll();

  // Start on the first contacts folder, where most users want to go.
  if (firstContacts_ != nullptr) {
    FolderTree->setCurrentItem(firstContacts_);
    firstContacts_->setSelected(true);
  }
  UpdateOk();
}

QTreeWidgetItem* FolderPickerDialog::AddFolder(QTreeWidgetItem* parent,
                                               const std::shared_ptr<Folder>& folder,
                                               const QString& caption, int depth) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FolderTree);
  item->setText(kNameColumn, caption);
  const QString damage = folder->Unreadable();
  if (!damage.isEmpty()) {
    // Listed by its parent, but not there to be read: shown so that the damage is seen, with
    // the reader's reason in the row as "lumivex-cli folders" marks it, and not to be chosen.
    item->setFlags(Qt::ItemIsEnabled);
    item->setText(kNameColumn, QStringLiteral("%1 - %2").arg(caption, damage));
    item->setText(kCountColumn, QStringLiteral("?"));
    const QString whyNot =
        QStringLiteral(
            "%1 is listed by the file but cannot be read (%2), so it cannot be chosen: "
            "the file is damaged. Choose another folder.")
            .arg(caption, damage);
    item->setData(kNameColumn, kWhyNotRole, whyNot);
    item->setToolTip(kNameColumn, whyNot);
    return item;
  }
  item->setData(kNameColumn, Qt::UserRole, static_cast<qulonglong>(folders_.size()));
  folders_.push_back(folder);
  item->setTextAlignment(kCountColumn, Qt::AlignRight | Qt::AlignVCenter);

  try {
    item->setText(kCountColumn, QString::number(folder->GetItems()->Count()));
  } catch (const StoreError&) {
    item->setText(kCountColumn, QStringLiteral("?"));
  }
  bool contacts = false;
  try {
    contacts = folder->DefaultItemType() == kContactItem;
  } catch (const StoreError&) {
  }
  if (contacts) {
    QFont bold = item->font(kNameColumn);
    bold.setBold(true);
    item->setFont(kNameColumn, bold);
    item->setToolTip(kNameColumn, QStringLiteral("A contacts folder"));
    if (firstContacts_ == nullptr) firstContacts_ = item;
  }

  if (depth >= kMaxDepth) return item;
  try {
    // The store's own folders (search folders, views, sync issues) are not the user's to pick.
    for (const auto& sub : folder->SubFolders())
      if (!sub->Hidden()) AddFolder(item, sub, sub->Name(), depth + 1);
  } catch (const StoreError& e) {
    auto* broken = new QTreeWidgetItem(item, {QStringLiteral("(sub-folders unreadable)")});
    broken->setFlags(Qt::ItemIsEnabled);
    broken->setData(kNameColumn, kWhyNotRole,
                    QStringLiteral("The folders inside %1 could not be read from the file; the "
                                   "folder itself can still be chosen.")
                        .arg(folder->Name()));
  }
  return item;
}

std::shared_ptr<Folder> FolderPickerDialog::SelectedFolder() const {
  const auto selected = FolderTree->selectedItems();
  if (selected.isEmpty()) return nullptr;
  const QVariant index = selected.front()->data(kNameColumn, Qt::UserRole);
  if (!index.isValid()) return nullptr;
  return folders_.at(index.toULongLong());
}

void FolderPickerDialog::UpdateOk() {
  const bool chosen = SelectedFolder() != nullptr;
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(chosen);
  QString why;
  if (!chosen) {
    const QTreeWidgetItem* current = FolderTree->currentItem();
    why = current != nullptr ? current->data(kNameColumn, kWhyNotRole).toString() : QString();
    if (why.isEmpty())
      why = FolderTree->topLevelItemCount() == 0
                ? QStringLiteral("The file holds no folders to choose from.")
                : QStringLiteral("Click a folder in the list to choose it.");
  }
  LblWhyNot->setText(why);
}

std::shared_ptr<Folder> DialogFolderPicker::Pick(
    const std::vector<std::shared_ptr<Store>>& stores) {
  FolderPickerDialog dialog(QApplication::activeWindow(), stores);
  if (dialog.exec() != QDialog::Accepted) return nullptr;
  return dialog.SelectedFolder();
}

}  // namespace lumivex
