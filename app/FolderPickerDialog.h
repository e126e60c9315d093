// The folder picker the scan opens on a store file it has just attached: the folder trees of the
// attached stores, each folder with its number of items; OK takes the selected folder, Cancel
// takes none.
#pragma once

#include "source/MailStore.h"

#include <QDialog>

#include <memory>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace lumivex {

class FolderPickerDialog : public QDialog {
  Q_OBJECT

 public:
  FolderPickerDialog(QWidget* owner, const std::vector<std::shared_ptr<Store>>& stores);

  // The folder of the selected row, or null when none is selected.
  std::shared_ptr<Folder> SelectedFolder() const;

  QTreeWidget* FolderTree;
  QDialogButtonBox* Buttons;
  // Why OK cannot be clicked, while it cannot; empty otherwise.
  QLabel* LblWhyNot;

 private:
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const std::shared_ptr<Folder>& folder,
                             const QString& caption, int depth);
  void UpdateOk();

  std::vector<std::shared_ptr<Folder>> folders_;  // indexed by each row's Qt::UserRole
  QTreeWidgetItem* firstContacts_ = nullptr;
};

// The FolderPicker the desktop program hands to the store backend: shows FolderPickerDialog over
// the active window.
class DialogFolderPicker : public FolderPicker {
 public:
  std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>& stores) override;
};

}  // namespace lumivex
