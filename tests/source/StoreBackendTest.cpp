// The store-file backend (StoreBackend.h) on the real store files of ../shared/fixtures/pst: folder
// trees, default contacts folders, counts, contact properties checked against what pffexport and
// readpst show, and every way a file can fail to be a store.
#include "common/CodePage.h"
#include "source/ContactProperties.h"
#include "source/StoreBackend.h"
#include "tests/support/TestPaths.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>

namespace lumivex {
namespace {

using testing::FileBytes;
using testing::FixturePst;
using testing::ScratchDir;

const QString kJapaneseTop = QStringLiteral("Outlook データ ファイルのトップ");
const QString kJapaneseContacts = kJapaneseTop + QStringLiteral("/連絡先 (Contact dedicated)");

QString ReadProperty(const ContactEntry& entry, const char* name) {
  QString value = QStringLiteral("<unset>");
  EXPECT_TRUE(entry.Read(name, value)) << name;
  return value;
}

// Every folder of a tree by path, with its container class.
void Collect(const Folder& folder, std::map<QString, QString>& out) {
  for (const auto& sub : folder.SubFolders()) {
    out[sub->Path()] = sub->ContainerClass();
    Collect(*sub, out);
  }
}

// Writes `bytes` to `path` and gives the path back.
QString WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
  return path;
}

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QString& value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name, value.toUtf8());
  }
  ~ScopedEnv() {
    if (had_)
      qputenv(name_, old_);
    else
      qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

struct StoreCase {
  const char* file;
  QString contactsPath;  // empty: the store has no contacts folder
  int count;
};

TEST(StoreBackend, DefaultContactsFolderAndCountOfEveryFixture) {
  LUMIVEX_REQUIRE_FIXTURES();
  const StoreCase cases[] = {
      {"japanese-contact-unicode.pst", kJapaneseContacts, 1},
      {"japanese-contact-ansi-cp932.pst", kJapaneseContacts, 1},
      {"contact-and-distlist.pst", QStringLiteral("Top of Personal Folders/Contacts"), 2},
      {"six-contacts.pst", QStringLiteral("Top of Personal Folders/Contacts"), 6},
      {"mail-and-one-contact.pst", QStringLiteral("Top of Personal Folders/Contacts"), 1},
      {"offline-store-4k-pages.ost", QStringLiteral("Root - Mailbox/IPM_SUBTREE/Contacts"), 0},
      {"72-contacts-in-mail-folder.pst", QString(), 0},
      {"mail-only.pst", QString(), 0},
      {"empty-store.pst", QString(), 0},
      {"password-protected.pst", QString(), 0},
  };
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.file);
    auto store = OpenStoreFile(FixturePst(QString::fromLatin1(c.file)));
    auto folder = store->DefaultContactsFolder();
    if (c.contactsPath.isEmpty()) {
      EXPECT_EQ(folder, nullptr);
      auto session = MakeStoreMailProvider(nullptr, store->FilePath())->CreateRdoSession();
      session->Logon();
      try {
        session->GetDefaultFolder(kFolderContacts);
        ADD_FAILURE() << "GetDefaultFolder found a contacts folder";
      } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("has no contacts folder"), std::string::npos)
            << error.what();
      }
      continue;
    }
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->Path(), c.contactsPath);
    EXPECT_EQ(folder->DefaultItemType(), kContactItem);
    EXPECT_EQ(folder->GetItems()->Count(), c.count);
    EXPECT_EQ(FindFolder(*store, c.contactsPath)->Path(), c.contactsPath);
  }
}

TEST(StoreBackend, FolderTreesClassesAndItemTypes) {
  LUMIVEX_REQUIRE_FIXTURES();
  auto store = OpenStoreFile(FixturePst(QStringLiteral("contact-and-distlist.pst")));
  EXPECT_EQ(store->DisplayName(), QStringLiteral("Personal Folders"));
  std::map<QString, QString> tree;
  Collect(*store->RootFolder(), tree);
  EXPECT_EQ(tree.size(), 23u);
  EXPECT_EQ(tree[QStringLiteral("Top of Personal Folders/Contacts")],
            QStringLiteral("IPF.Contact"));
  EXPECT_EQ(tree[QStringLiteral("Search Root/All Messages")], QString());
  const std::map<QString, int> types = {
      {QStringLiteral("Top of Personal Folders/Inbox"), kMailItem},
      {QStringLiteral("Top of Personal Folders/Drafts"), kMailItem},
      {QStringLiteral("Top of Personal Folders/Calendar"), kAppointmentItem},
      {QStringLiteral("Top of Personal Folders/Contacts"), kContactItem},
      {QStringLiteral("Top of Personal Folders/Tasks"), kTaskItem},
      {QStringLiteral("Top of Personal Folders/Journal"), kJournalItem},
      {QStringLiteral("Top of Personal Folders/Notes"), kNoteItem},
  };
  for (const auto& [path, type] : types)
    EXPECT_EQ(FindFolder(*store, path)->DefaultItemType(), type) << path.toStdString();

  // A mail folder holding contacts: counted, but not a contacts folder.
  auto mail = OpenStoreFile(FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst")));
  auto inbox = FindFolder(*mail, QStringLiteral("Top of Personal Folders/myInbox"));
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(inbox->ContainerClass(), QStringLiteral("IPF.Note"));
  EXPECT_EQ(inbox->DefaultItemType(), kMailItem);
  EXPECT_EQ(inbox->GetItems()->Count(), 72);
  QString cls;
  EXPECT_TRUE(inbox->GetItems()->Item(71)->Read("MessageClass", cls));
  EXPECT_EQ(cls, QStringLiteral("IPM.Contact"));

  // Sub-classes of contacts folders in the offline store are contacts folders too.
  auto ost = OpenStoreFile(FixturePst(QStringLiteral("offline-store-4k-pages.ost")));
  auto companies =
      FindFolder(*ost, QStringLiteral("Root - Mailbox/IPM_SUBTREE/Contacts/Companies"));
  ASSERT_NE(companies, nullptr);
  EXPECT_EQ(companies->ContainerClass(), QStringLiteral("IPF.Contact.Company"));
  EXPECT_EQ(companies->DefaultItemType(), kContactItem);
  EXPECT_EQ(FindFolder(*ost, QStringLiteral("Root - Mailbox/IPM_SUBTREE/Nope")), nullptr);
}

// The same contact in a Unicode store and in an ANSI store written in code page 932: the ANSI
// strings are decoded in the entry's own code page whatever the user's locale is.
TEST(StoreBackend, JapaneseContactReadsTheSameFromUnicodeAndAnsiStores) {
  LUMIVEX_REQUIRE_FIXTURES();
  SetAnsiCodePage(1252);
  for (const char* file : {"japanese-contact-unicode.pst", "japanese-contact-ansi-cp932.pst"}) {
    SCOPED_TRACE(file);
    auto store = OpenStoreFile(FixturePst(QString::fromLatin1(file)));
    auto folder = FindFolder(*store, kJapaneseContacts);
    ASSERT_NE(folder, nullptr);
    auto entry = folder->GetItems()->Item(0);
    EXPECT_EQ(ReadProperty(*entry, "LastName"), QStringLiteral("イグザンプル"));
    EXPECT_EQ(ReadProperty(*entry, "FirstName"), QStringLiteral("コム"));
    EXPECT_EQ(ReadProperty(*entry, "MiddleName"), QStringLiteral("ドット"));
    EXPECT_EQ(ReadProperty(*entry, "Title"), QStringLiteral("Mr."));
    EXPECT_EQ(ReadProperty(*entry, "Suffix"), QStringLiteral("殿"));
    EXPECT_EQ(ReadProperty(*entry, "FullName"), QStringLiteral("Mr. イグザンプル ドット コム 殿"));
    EXPECT_EQ(ReadProperty(*entry, "CompanyName"), QStringLiteral("My work company"));
    EXPECT_EQ(ReadProperty(*entry, "JobTitle"), QStringLiteral("My position"));
    EXPECT_EQ(ReadProperty(*entry, "Department"), QStringLiteral("My division"));
    EXPECT_EQ(ReadProperty(*entry, "BusinessTelephoneNumber"), QStringLiteral("06-0001-0002"));
    EXPECT_EQ(ReadProperty(*entry, "HomeTelephoneNumber"), QStringLiteral("06-0001-0001"));
    EXPECT_EQ(ReadProperty(*entry, "MobileTelephoneNumber"), QStringLiteral("080-0001-0001"));
    EXPECT_EQ(ReadProperty(*entry, "BusinessFaxNumber"), QStringLiteral("06-0001-0003"));
    EXPECT_EQ(ReadProperty(*entry, "BusinessAddressCountry"), QStringLiteral("日本"));
    EXPECT_EQ(ReadProperty(*entry, "BusinessAddressPostalCode"), QStringLiteral("544-0001"));
    EXPECT_EQ(ReadProperty(*entry, "Email1Address"), QStringLiteral("test@example.com"));
    EXPECT_EQ(ReadProperty(*entry, "WebPage"), QStringLiteral("https://example.com"));
    // Stored as 1999-12-31 15:00 UTC: midnight of 1 January 2000 in Japan, shown as the
    // tests' locale (en_US) writes a short date.
    EXPECT_EQ(ReadProperty(*entry, "Birthday"), QStringLiteral("1/1/2000"));
    EXPECT_EQ(ReadProperty(*entry, "Anniversary"), QString());
    EXPECT_EQ(ReadProperty(*entry, "Email2Address"), QString());
    EXPECT_EQ(ReadProperty(*entry, "MessageClass"), QStringLiteral("IPM.Contact"));
  }
  SetAnsiCodePage(0);
}

// What the names read on the real stores is compared, field for field, with pst-extractor's view
// of them through the vCard 2.1 export (ExportVerbTest): the names, company, title, phones,
// e-mail address and home address of every contact.
TEST(StoreBackend, EveryNameTheWritersReadAnswersAndUnknownNamesFail) {
  LUMIVEX_REQUIRE_FIXTURES();
  auto store = OpenStoreFile(FixturePst(QStringLiteral("six-contacts.pst")));
  auto tolle = store->DefaultContactsFolder()->GetItems()->Item(3);
  // Even when absent; an unknown name fails and keeps the value.
  for (int slot = 0; slot < kReadableSlots; ++slot) {
    QString value;
    EXPECT_TRUE(tolle->Read(SlotName(slot), value)) << SlotName(slot);
  }
  QString kept = QStringLiteral("kept");
  EXPECT_FALSE(tolle->Read("NoSuchProperty", kept));
  EXPECT_EQ(kept, QStringLiteral("kept"));
}

// A damaged name-to-id map: the named properties (the e-mail addresses) read as absent, the
// tagged ones as the independent readers give them, and the entry says it is not whole and which
// fields it lacks.
TEST(StoreBackend, ADamagedNameMapLeavesOutTheNamedPropertiesAndIsTold) {
  LUMIVEX_REQUIRE_FIXTURES();
  auto store = OpenStoreFile(testing::SharedDir() +
                             QStringLiteral("/fixtures/damaged/name-map-block-overwritten.pst"));
  auto items = store->DefaultContactsFolder()->GetItems();
  ASSERT_EQ(items->Count(), 6);
  const char* fullNames[] = {"Sebastian Wright",  "Wichert Kroos",     "Christoffer van de Meeberg",
                             "Margaret J. Tolle", "Matthew R. Wilcox", "Bertha A. Buell"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    auto entry = items->Item(i);
    EXPECT_EQ(ReadProperty(*entry, "FullName"), QString::fromUtf8(fullNames[i]));
    QString email = QStringLiteral("kept");
    EXPECT_TRUE(entry->Read("Email1Address", email));
    EXPECT_EQ(email, QString());
    EXPECT_TRUE(entry->Failure().isEmpty()) << entry->Failure().toStdString();
    EXPECT_TRUE(entry->Damage().startsWith(u"written without its e-mail addresses") &&
                entry->Damage().contains(u"name-to-id map is damaged"))
        << entry->Damage().toStdString();
  }
}

// A node without a data block (its id is 0) in the folder tree: the branch is reported as
// damaged, the rest of the tree and the contacts are read as the other readers read them.
TEST(StoreBackend, ANodeWithoutDataIsADamagedBranch) {
  LUMIVEX_REQUIRE_FIXTURES();
  auto store = OpenStoreFile(testing::SharedDir() +
                             QStringLiteral("/fixtures/damaged/node-without-data-block.pst"));
  int unreadable = 0;
  std::function<void(const Folder&)> walk = [&](const Folder& folder) {
    try {
      for (const auto& sub : folder.SubFolders()) walk(*sub);
    } catch (const StoreError&) {
      ++unreadable;
    }
  };
  walk(*store->RootFolder());
  EXPECT_EQ(unreadable, 1);
  EXPECT_EQ(store->DefaultContactsFolder()->GetItems()->Count(), 2);
}

TEST(StoreBackend, DistributionListIsAnEntryOfTheFolder) {
  LUMIVEX_REQUIRE_FIXTURES();
  auto store = OpenStoreFile(FixturePst(QStringLiteral("contact-and-distlist.pst")));
  auto items = store->DefaultContactsFolder()->GetItems();
  ASSERT_EQ(items->Count(), 2);
  QStringList classes;
  for (int i = 0; i < 2; ++i) classes << ReadProperty(*items->Item(i), "MessageClass");
  classes.sort();
  EXPECT_EQ(classes, QStringList({QStringLiteral("IPM.Contact"), QStringLiteral("IPM.DistList")}));
  // An index past the end still gives an entry; every read of it fails.
  QString value = QStringLiteral("kept");
  EXPECT_FALSE(items->Item(5)->Read("FullName", value));
  EXPECT_EQ(value, QStringLiteral("kept"));
}

TEST(StoreBackend, PickedFolderOutlivesItsSession) {
  LUMIVEX_REQUIRE_FIXTURES();
  class ByPath : public FolderPicker {
   public:
    std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>& stores) override {
      seen = stores.size();
      return FindFolder(*stores.back(), QStringLiteral("Top of Personal Folders/Contacts"));
    }
    size_t seen = 0;
  };
  auto picker = std::make_shared<ByPath>();
  std::shared_ptr<Folder> picked;
  {
    auto provider = MakeStoreMailProvider(picker, FixturePst(QStringLiteral("six-contacts.pst")));
    auto app = provider->CreateMailClientApp();
    auto mapi = app->GetNamespace(QStringLiteral("MAPI"));
    EXPECT_THROW(app->GetNamespace(QStringLiteral("CDO")), StoreError);
    auto session = provider->CreateRdoSession();
    session->Logon();
    mapi->AddStore(FixturePst(QStringLiteral("mail-and-one-contact.pst")));
    mapi->AddStore(FixturePst(QStringLiteral("contact-and-distlist.pst")));
    EXPECT_EQ(mapi->Stores().size(), 2u);
    picked = mapi->PickFolder();
    EXPECT_EQ(picker->seen, 2u);
    session->Logoff();
  }
  ASSERT_NE(picked, nullptr);
  EXPECT_EQ(picked->GetItems()->Count(), 2);
  QString name;
  EXPECT_TRUE(picked->GetItems()->Item(0)->Read("FullName", name));
  EXPECT_FALSE(name.isEmpty());
}

TEST(StoreBackend, LogonFindsTheDefaultStore) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  const QString home = ScratchDir(QStringLiteral("pff-home"));
  ScopedEnv homeEnv("HOME", home);
  {
    ScopedEnv named("LUMIVEX_DEFAULT_STORE", six);
    auto session = MakeStoreMailProvider(nullptr)->CreateRdoSession();
    session->Logon();
    EXPECT_EQ(session->GetDefaultFolder(kFolderContacts)->GetItems()->Count(), 6);
    EXPECT_THROW(session->GetDefaultFolder(6), StoreError);
    session->Logoff();
    EXPECT_THROW(session->GetDefaultFolder(kFolderContacts), StoreError);
  }
  qunsetenv("LUMIVEX_DEFAULT_STORE");
  // Nothing in the home folder: logging on still works (another file can be attached), and
  // asking for the default contacts folder fails clearly, saying what to do.
  auto session = MakeStoreMailProvider(nullptr)->CreateRdoSession();
  session->Logon();
  try {
    session->GetDefaultFolder(kFolderContacts);
    ADD_FAILURE() << "a default folder was found in an empty home folder";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("LUMIVEX_DEFAULT_STORE"), std::string::npos);
  }
  // A store file that comes into the home folder is found at the next logon (which file is
  // chosen: TheDefaultStoreIsChosenAsTheMailClientWould).
  const QString documents = home + QStringLiteral("/Documents/Outlook Files");
  ASSERT_TRUE(QDir().mkpath(documents));
  ASSERT_TRUE(QFile::copy(six, documents + "/x.pst"));
  session->Logon();
  EXPECT_EQ(session->GetDefaultFolder(kFolderContacts)->GetItems()->Count(), 6);
  // The only store file is not a store: the default folder fails, naming the file.
  QFile::remove(documents + "/x.pst");
  WriteFile(documents + "/a.pst", "not a store");
  session->Logon();
  try {
    session->GetDefaultFolder(kFolderContacts);
    ADD_FAILURE() << "a text file was opened as the default store";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("a.pst"), std::string::npos) << error.what();
  }
}

// A Windows path as Wine's registry keeps a PR_PST_PATH value: hex bytes of UTF-16, cut into
// lines that end in a backslash.
QString RegistryHex(const QString& text) {
  QStringList bytes;
  for (QChar c : text + QChar(u'\0'))
    bytes << QStringLiteral("%1").arg(c.unicode() & 0xFF, 2, 16, QChar(u'0'))
          << QStringLiteral("%1").arg(c.unicode() >> 8, 2, 16, QChar(u'0'));
  QString out = QStringLiteral("hex:");
  for (int i = 0; i < bytes.size(); ++i)
    out += bytes[i] + (i + 1 == bytes.size() ? QString() : i % 20 == 19 ? ",\\\n  " : ",");
  return out;
}

// Home folders as users bring them from Windows: the default store is the one the mail client
// would open, not the first file by name.
TEST(StoreBackend, TheDefaultStoreIsChosenAsTheMailClientWould) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  const QString two = FixturePst(QStringLiteral("contact-and-distlist.pst"));
  const QString mailOnly = FixturePst(QStringLiteral("mail-only.pst"));
  struct File {
    const char* path;  // under the home folder
    QString copyOf;
    int ageDays = 0;
  };
  struct Case {
    const char* name;
    std::vector<File> files;
    const char* userDirs;  // ~/.config/user-dirs.dirs
    const char* registry;  // ~/.wine/user.reg, with %1 for the store's path in hex
    const char* expected;
    const char* because;
  };
  const Case cases[] = {
      {"archive beside Outlook.pst",
       {{"Documents/Outlook Files/archive.pst", mailOnly},
        {"Documents/Outlook Files/Outlook.pst", six}},
       "",
       "",
       "Documents/Outlook Files/Outlook.pst",
       "the most entries (6)"},
      {"the more recent of two alike",
       {{"Documents/Outlook Files/old.pst", six, 30}, {"Documents/Outlook Files/new.pst", six, 1}},
       "",
       "",
       "Documents/Outlook Files/new.pst",
       "the most entries (6)"},
      {"the Outlook folder of a Wine prefix",
       {{".wine/drive_c/users/me/AppData/Local/Microsoft/Outlook/b.pst", two}},
       "",
       "",
       ".wine/drive_c/users/me/AppData/Local/Microsoft/Outlook/b.pst",
       "the only store file"},
      {"a Documents folder in German",
       {{"Dokumente/Outlook Files/Outlook.pst", two}},
       "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
       "",
       "Dokumente/Outlook Files/Outlook.pst",
       "the only store file"},
      {"the default profile of a Wine prefix",
       {{".wine/drive_c/users/me/Documents/Outlook Files/Main.pst", two},
        {".wine/drive_c/users/me/Documents/Outlook Files/Bigger.pst", six}},
       "",
       "WINE REGISTRY Version 2\n\n"
       "[Software\\\\Microsoft\\\\Office\\\\16.0\\\\Outlook] 1700000000\n"
       "\"DefaultProfile\"=\"Outlook\"\n\n"
       "[Software\\\\Microsoft\\\\Office\\\\16.0\\\\Outlook\\\\Profiles\\\\Outlook\\\\"
       "9207f3e0a3b11019908b08002b2a56c2] 1700000000\n"
       "\"001f6700\"=%1\n",
       ".wine/drive_c/users/me/Documents/Outlook Files/Main.pst",
       "Outlook profile \"Outlook\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString home = ScratchDir(QStringLiteral("default-store"));
    ScopedEnv homeEnv("HOME", home);
    ScopedEnv config("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    qunsetenv("LUMIVEX_DEFAULT_STORE");
    qunsetenv("WINEPREFIX");
    for (const File& file : c.files) {
      const QString path = home + u'/' + QString::fromUtf8(file.path);
      ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
      ASSERT_TRUE(QFile::copy(file.copyOf, path));
      QFile copy(path);
      ASSERT_TRUE(copy.open(QIODevice::ReadWrite));
      copy.setFileTime(QDateTime::currentDateTime().addDays(-file.ageDays),
                       QFileDevice::FileModificationTime);
    }
    if (*c.userDirs) {
      ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/.config")));
      WriteFile(home + QStringLiteral("/.config/user-dirs.dirs"), c.userDirs);
    }
    if (*c.registry)
      WriteFile(
          home + QStringLiteral("/.wine/user.reg"),
          QString::fromUtf8(c.registry)
              .arg(RegistryHex(QStringLiteral("C:\\users\\ME\\Documents\\Outlook Files\\main.PST")))
              .toUtf8());
    const DefaultStoreChoice choice = ChooseDefaultStore();
    EXPECT_EQ(choice.path, home + u'/' + QString::fromUtf8(c.expected));
    EXPECT_TRUE(choice.reason.contains(QString::fromUtf8(c.because)))
        << choice.reason.toStdString();
  }
}

// A store open twice reads one open file; a file replaced on disk in between is opened afresh.
TEST(StoreBackend, ReopenedStoreSeesTheFileAsItIsNow) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString path = ScratchDir(QStringLiteral("pff-reopen")) + "/store.pst";
  ASSERT_TRUE(QFile::copy(FixturePst(QStringLiteral("six-contacts.pst")), path));
  auto first = OpenStoreFile(path);
  auto again = OpenStoreFile(path);
  EXPECT_EQ(again->DefaultContactsFolder()->GetItems()->Count(), 6);
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::copy(FixturePst(QStringLiteral("mail-and-one-contact.pst")), path));
  auto replaced = OpenStoreFile(path);
  EXPECT_EQ(replaced->DisplayName(), QStringLiteral("Outlook"));
  EXPECT_EQ(replaced->DefaultContactsFolder()->GetItems()->Count(), 1);
  EXPECT_EQ(first->DefaultContactsFolder()->GetItems()->Count(), 6);  // still the old file
}

// Opening `path` through AddStore fails with a StoreError whose text holds `reason`.
void ExpectRefused(const QString& path, const std::string& reason) {
  SCOPED_TRACE(path.toStdString());
  auto mapi = MakeStoreMailProvider(nullptr)->CreateMailClientApp()->GetNamespace("MAPI");
  try {
    mapi->AddStore(path);
    ADD_FAILURE() << "the file was attached";
  } catch (const StoreError& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find(reason), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
  }
  EXPECT_TRUE(mapi->Stores().empty());
}

TEST(StoreBackend, FilesThatAreNotStoresAreRefusedWithTheirReason) {
  const QString dir = ScratchDir(QStringLiteral("pff-refused"));
  ExpectRefused(dir + "/missing.pst", "no such file");
  ExpectRefused(dir, "it is a folder");
  ExpectRefused(WriteFile(dir + "/empty.pst", {}), "the file is empty");
  ExpectRefused(WriteFile(dir + "/notes.pst", "These are my notes, not an Outlook file.\n"),
                "not an Outlook data file");
  const QString locked = WriteFile(dir + "/locked.pst", "!BDN");
  QFile::setPermissions(locked, QFileDevice::Permissions());
  if (!QFile(locked).open(QIODevice::ReadOnly))
    ExpectRefused(locked, "cannot be read");
  else
    std::printf("[ NOTE ] running as root: a file without read permission is still readable\n");

  if (testing::SharedDir().isEmpty()) return;
  // The reader's own cause, not its outermost "unable to open file".
  ExpectRefused(FixturePst(QStringLiteral("bad-header-checksum.pst")),
                "damaged or truncated and cannot be read (mismatch in file header checksum");
}

// Cut-off copies of a real store: each is refused when attached or, where the cut spares what
// the tree needs, read without a crash or a hang.
TEST(StoreBackend, TruncatedStoresFailCleanly) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QByteArray whole = FileBytes(FixturePst(QStringLiteral("mail-and-one-contact.pst")));
  ASSERT_FALSE(whole.isEmpty());
  const QString dir = ScratchDir(QStringLiteral("pff-truncated"));
  int refused = 0;
  for (double part : {0.0005, 0.01, 0.1, 0.25, 0.5, 0.75, 0.9, 0.99}) {
    SCOPED_TRACE(part);
    const QString path = WriteFile(dir + QStringLiteral("/cut-%1.pst").arg(part),
                                   whole.left(static_cast<qsizetype>(whole.size() * part)));
    try {
      auto store = OpenStoreFile(path);
      std::map<QString, QString> tree;
      Collect(*store->RootFolder(), tree);
      if (auto folder = store->DefaultContactsFolder()) {
        auto items = folder->GetItems();
        for (int i = 0; i < items->Count(); ++i) {
          QString value;
          items->Item(i)->Read("FullName", value);
        }
      }
    } catch (const StoreError& error) {
      ++refused;
      EXPECT_NE(std::string(error.what()).find("cut-"), std::string::npos) << error.what();
    }
  }
  EXPECT_GE(refused, 4);
}

// A store where one folder's sub-folders cannot be read: the default contacts folder elsewhere in
// the tree is still found. The damaged copy is made by spoiling one block after another until a
// folder beside the contacts folder has lost its sub-folder list.
TEST(StoreBackend, ADamagedBranchDoesNotHideTheDefaultContactsFolder) {
  const QByteArray whole = FileBytes(testing::BinDir() + QStringLiteral("/sample.pst"));
  ASSERT_GT(whole.size(), 4096);
  const QString path = ScratchDir(QStringLiteral("pff-damaged-branch")) + "/store.pst";
  const QString contactsPath = QStringLiteral("Top of Personal Folders/Contacts");
  for (qsizetype at = 4096; at < whole.size(); at += 512) {
    QByteArray damaged = whole;
    for (qsizetype i = 0; i < 64; ++i) damaged[at + i] = '\xFF';
    WriteFile(path, damaged);
    std::shared_ptr<Store> store;
    std::shared_ptr<Folder> contacts;
    bool branchLost = false;
    try {
      store = OpenStoreFile(path);
      contacts = FindFolder(*store, contactsPath);
      if (!contacts || contacts->GetItems()->Count() <= 0) continue;
      for (const auto& sub :
           FindFolder(*store, QStringLiteral("Top of Personal Folders"))->SubFolders()) {
        try {
          sub->SubFolders();
        } catch (const StoreError&) {
          branchLost = true;
        }
      }
    } catch (const StoreError&) {
      continue;
    }
    if (!branchLost) continue;
    const auto found = store->DefaultContactsFolder();
    ASSERT_NE(found, nullptr) << "block at " << at;
    EXPECT_EQ(found->Path(), contactsPath);
    return;
  }
  GTEST_SKIP() << "no spoiled block of the sample store cost a folder its sub-folders only";
}

}  // namespace
}  // namespace lumivex
