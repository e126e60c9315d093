// The folder picker dialog: the trees of the attached stores with their item counts, the folder
// it starts on, and what OK and Cancel return.
#include "app/FolderPickerDialog.h"

#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TestPaths.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

using testing::FakeStore;
using testing::MakeContact;
using testing::OnNextModal;

QStringList Rows(QTreeWidget* tree) {
  QStringList rows;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    int depth = 0;
    for (auto* up = (*it)->parent(); up; up = up->parent()) ++depth;
    rows << QString(depth * 2, u' ') + (*it)->text(0) + " | " + (*it)->text(1);
  }
  return rows;
}

void Close(QWidget* modal) {
  ADD_FAILURE() << "the folder picker did not come up";
  if (modal != nullptr) modal->close();
}

class FolderPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    first->root()->AddFolder("Search Root", "");  // beside the user's folders: not shown
    first->defaultContacts->Add(MakeContact("Ann", "Lee")).Add(MakeContact("Bo", "Ng"));
    second->top->AddFolder("Mail", "IPF.Note")->Add(MakeContact("In", "Mail"));
    auto contacts = second->defaultContacts;
    contacts->AddFolder("Friends", "IPF.Contact")->Add(MakeContact("Cy", "Do"));
    contacts->AddFolder("Broken", "IPF.Contact")->failItems = true;
  }
  std::shared_ptr<FakeStore> first = std::make_shared<FakeStore>("/a/first.pst");
  std::shared_ptr<FakeStore> second = std::make_shared<FakeStore>("/b/second.ost");
  std::vector<std::shared_ptr<Store>> stores{first, second};
};

TEST_F(FolderPickerTest, ShowsEveryStoreWithCountsAndStartsOnContacts) {
  FolderPickerDialog dialog(nullptr, stores);
  EXPECT_EQ(dialog.windowTitle(), "Select Folder");
  EXPECT_EQ(Rows(dialog.FolderTree),
            QStringList({"Top of Personal Folders (first.pst) | 0", "  Inbox | 0", "  Contacts | 2",
                         "Top of Personal Folders (second.ost) | 0", "  Inbox | 0",
                         "  Contacts | 0", "    Friends | 1", "    Broken | ?", "  Mail | 1"}));
  ASSERT_TRUE(dialog.SelectedFolder());
  EXPECT_EQ(dialog.SelectedFolder().get(), first->defaultContacts.get());
  EXPECT_TRUE(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
  EXPECT_TRUE(dialog.LblWhyNot->text().isEmpty());

  // A grey OK comes with the reason beside it.
  dialog.FolderTree->clearSelection();
  EXPECT_FALSE(dialog.SelectedFolder());
  EXPECT_FALSE(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
  EXPECT_TRUE(dialog.LblWhyNot->text().contains("Click a folder"))
      << dialog.LblWhyNot->text().toStdString();
}

TEST_F(FolderPickerTest, OkReturnsTheChosenFolderAndCancelNone) {
  DialogFolderPicker picker;
  OnNextModal([](QWidget* modal) {
    auto* dialog = qobject_cast<FolderPickerDialog*>(modal);
    if (dialog == nullptr) return Close(modal);
    auto rows = dialog->FolderTree->findItems("Mail", Qt::MatchExactly | Qt::MatchRecursive);
    EXPECT_EQ(rows.size(), 1);
    if (!rows.isEmpty()) dialog->FolderTree->setCurrentItem(rows[0]);
    dialog->Buttons->button(QDialogButtonBox::Ok)->click();
  });
  const std::shared_ptr<Folder> chosen = picker.Pick(stores);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->Path(), "Top of Personal Folders/Mail");

  OnNextModal([](QWidget* modal) {
    auto* dialog = qobject_cast<FolderPickerDialog*>(modal);
    if (dialog == nullptr) return Close(modal);
    dialog->Buttons->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(picker.Pick(stores));
}

// Real stores show only the user's folders, found by the default contacts folder they hold, under
// their top named as the store names it: in a store whose folders are named in Japanese, in an
// offline store and in a store with Outlook's whole folder tree alike. The store's own search,
// view and settings folders are left out.
TEST(FolderPickerStores, ShowTheUsersFoldersWhateverTheirLanguage) {
  LUMIVEX_REQUIRE_FIXTURES();
  testing::App();
  const std::vector<std::shared_ptr<Store>> stores{
      OpenStoreFile(testing::FixturePst("japanese-contact-unicode.pst")),
      OpenStoreFile(testing::FixturePst("offline-store-4k-pages.ost")),
      OpenStoreFile(testing::FixturePst("mail-and-one-contact.pst"))};
  FolderPickerDialog dialog(nullptr, stores);
  const QStringList rows = Rows(dialog.FolderTree);
  EXPECT_EQ(rows.mid(0, 4),
            QStringList({QStringLiteral(
                             "Outlook データ ファイルのトップ (japanese-contact-unicode.pst) | 0"),
                         QStringLiteral("  削除済みアイテム | 0"), "    Contacts Dedicated | 0",
                         QStringLiteral("  連絡先 (Contact dedicated) | 1")}));
  for (const char* hidden :
       {"検索ルート", "SPAM Search Folder 2", "Root - Public", "Finder", "Search Root",
        "IPM_COMMON_VIEWS", "ItemProcSearch", "Freebusy Data", "Conversation Action Settings"})
    EXPECT_FALSE(rows.join(u'\n').contains(QString::fromUtf8(hidden))) << hidden;
  EXPECT_TRUE(rows.contains("IPM_SUBTREE (offline-store-4k-pages.ost) | 0"))
      << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.contains("Top of Personal Folders (mail-and-one-contact.pst) | 0"))
      << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.contains("  Contacts | 1")) << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.contains("  Inbox | 10")) << rows.join(u'\n').toStdString();
}

// A folder the file lists but cannot read says why in its row, as "lumivex-cli folders" marks it.
TEST(FolderPickerStores, AnUnreadableFolderSaysWhy) {
  LUMIVEX_REQUIRE_FIXTURES();
  testing::App();
  FolderPickerDialog dialog(
      nullptr, {OpenStoreFile(testing::SharedDir() +
                              "/fixtures/damaged/contacts-folder-node-lost-cp932.pst")});
  const QStringList rows = Rows(dialog.FolderTree);
  EXPECT_EQ(
      rows.count("  (unreadable folder) - the folder's node cannot be read (no properties) | ?"), 4)
      << rows.join(u'\n').toStdString();
}

}  // namespace
}  // namespace lumivex
