// The export for other address books on fake folders: what is written, what is skipped and
// reported, and what is left behind when an export fails or is cancelled.
#include "convert/Utf8Export.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumivex;
using namespace lumivex::contact;
using namespace lumivex::testing;

namespace {

struct Recorder : Utf8ExportObserver {
  void Progress(int done, int total, const QString& folder) override {
    steps.push_back({done, total});
    lastFolder = folder;
    if (cancelAfter >= 0 && done >= cancelAfter) cancel = true;
  }
  void Problem(const EntryProblem& p) override { problems.push_back(p); }
  bool Cancelled() const override { return cancel; }
  void FileWritten(const QString& path) override { files << path; }
  std::vector<std::pair<int, int>> steps;
  std::vector<EntryProblem> problems;
  QStringList files;
  QString lastFolder;
  int cancelAfter = -1;
  bool cancel = false;
};

FakeContact Named(const QString& given, const QString& family) {
  FakeContact fake;
  Contact c;
  c.givenName = given;
  c.surname = family;
  c.emails.push_back(
      {given.toLower() + QStringLiteral("@example.com"), {}, QStringLiteral("SMTP")});
  fake.full = c;
  return fake;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Utf8Export : public ::testing::Test {
 protected:
  void SetUp() override { dir = ScratchDir(QStringLiteral("utf8-export")); }
  Utf8ExportResult Run(Utf8ExportOptions options, Recorder& recorder) {
    return RunUtf8Export({store.defaultContacts}, options, recorder);
  }
  FakeFolder& Folder() { return *store.defaultContacts; }
  QString dir;
  FakeStore store;
};

}  // namespace

TEST_F(Utf8Export, UnreadableEntriesAreReportedNeverWritten) {
  FakeContact broken = Named("Broken", "Entry");
  broken.unreadable = true;
  FakeContact failing = Named("Failing", "Property");
  failing.failing.insert(QStringLiteral("Email1Address"));
  Folder().Add(Named("Ann", "Lee")).Add(broken).Add(failing).Add(Named("Bob", "Stone"));
  for (const Utf8Format format : {Utf8Format::kVCard4, Utf8Format::kVCard3, Utf8Format::kCsv}) {
    Recorder recorder;
    const QString target = dir + QStringLiteral("/out-%1").arg(static_cast<int>(format));
    const Utf8ExportResult result = Run({format, false, target, false}, recorder);
    EXPECT_EQ(result.contacts, 2);
    ASSERT_EQ(result.problems.size(), 2u);
    EXPECT_EQ(result.problems[0].position, 2);
    EXPECT_EQ(result.problems[1].position, 3);
    EXPECT_EQ(result.problems[0].folder, u"Top of Personal Folders/Contacts");
    EXPECT_FALSE(result.problems[0].reason.isEmpty());
    EXPECT_TRUE(result.problems[1].reason.contains(u"Email1Address"));
    EXPECT_EQ(recorder.problems.size(), 2u);
    EXPECT_EQ(recorder.steps.back(), std::make_pair(4, 4));
    EXPECT_EQ(recorder.files, QStringList{target});
    const QByteArray bytes = ReadAll(target);
    EXPECT_TRUE(bytes.contains("Ann") && bytes.contains("Stone"));
    EXPECT_FALSE(bytes.contains("Broken") || bytes.contains("Failing"));
  }
}

TEST_F(Utf8Export, FailedOrCancelledExportLeavesNothingCutShort) {
  for (int i = 0; i < 5; ++i) Folder().Add(Named(QStringLiteral("N%1").arg(i), "Lee"));
  const QString target = dir + QStringLiteral("/contacts.vcf");
  QFile old(target);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("the file of an earlier export");
  old.close();

  // Cancelled: the earlier file stays as it was, no temporary file is left.
  Recorder cancelling;
  cancelling.cancelAfter = 2;
  const Utf8ExportResult cancelled = Run({Utf8Format::kVCard4, false, target, false}, cancelling);
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(ReadAll(target), "the file of an earlier export");
  EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"contacts.vcf"});

  // A folder that cannot be read stops the export before anything is written.
  Folder().failItems = true;
  Recorder recorder;
  EXPECT_THROW(Run({Utf8Format::kCsv, false, dir + QStringLiteral("/x.csv"), false}, recorder),
               Utf8ExportError);
  Folder().failItems = false;
  // A target that cannot be made.
  EXPECT_THROW(
      Run({Utf8Format::kVCard3, false, target + QStringLiteral("/inside.vcf"), false}, recorder),
      Utf8ExportError);
  EXPECT_THROW(Run({Utf8Format::kCsv, true, dir, false}, recorder), Utf8ExportError);
  EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"contacts.vcf"});
}

TEST_F(Utf8Export, PerContactFilesAndFolderTargets) {
  FakeContact list;
  list.full = Contact{};
  list.full->isGroup = true;
  list.full->displayName = QStringLiteral("Team: Sales/East");
  list.full->members = {{QStringLiteral("Ann Lee"), QStringLiteral("ann@example.com")},
                        {QStringLiteral("No Address"), {}}};
  Folder().Add(Named("Ann", "Lee")).Add(Named("Ann", "Lee")).Add(list).Add(FakeContact{});
  Recorder recorder;
  const Utf8ExportResult result =
      Run({Utf8Format::kVCard4, true, dir + QStringLiteral("/cards"), false}, recorder);
  EXPECT_EQ(result.contacts, 3);
  EXPECT_EQ(result.groups, 1);
  // The list after the cards, so that its members can be named by theirs.
  const QStringList expected = {"Ann Lee.vcf", "Ann Lee (2).vcf", "Unnamed contact.vcf",
                                "Team_ Sales_East.vcf"};
  QStringList written;
  for (const QString& path : recorder.files) written << QFileInfo(path).fileName();
  EXPECT_EQ(written, expected);
  const QByteArray group = ReadAll(dir + QStringLiteral("/cards/Team_ Sales_East.vcf"));
  EXPECT_TRUE(group.contains("KIND:group\r\n"));
  // Ann by the first card with her address, the member without one by its name.
  const QByteArray ann = ReadAll(dir + QStringLiteral("/cards/Ann Lee.vcf"));
  const QByteArray annUid = ann.mid(ann.indexOf("\r\nUID:") + 6).split('\r').first();
  EXPECT_TRUE(annUid.startsWith("urn:uuid:")) << annUid.constData();
  EXPECT_TRUE(group.contains("MEMBER:" + annUid + "\r\n")) << group.constData();
  EXPECT_EQ(group.count("MEMBER:urn:uuid:"), 2);

  // A folder as the single file's target gets a time-stamped name inside it.
  Recorder single;
  const Utf8ExportResult one =
      Run({Utf8Format::kCsv, false, dir + QStringLiteral("/cards"), false}, single);
  EXPECT_TRUE(QFileInfo(one.output).fileName().startsWith(u"Contacts-"));
  EXPECT_TRUE(one.output.endsWith(u".csv"));
  EXPECT_EQ(QFileInfo(one.output).absolutePath(), dir + QStringLiteral("/cards"));
}

TEST(ContactFolders, EveryVisibleContactsFolderInTreeOrder) {
  FakeStore store;
  auto suppliers = store.defaultContacts->AddFolder("Suppliers", "IPF.Contact");
  suppliers->AddFolder("Notes", "IPF.Note")->AddFolder("Deep", "IPF.Contact.Special");
  auto hidden = store.defaultContacts->AddFolder("GAL Contacts", "IPF.Contact.GalContacts");
  hidden->hidden = true;
  hidden->AddFolder("Below hidden", "IPF.Contact");
  store.top->AddFolder("Other", "IPF.Contact");
  QStringList paths;
  for (const auto& folder : ContactFolders(store)) paths << folder->Path();
  EXPECT_EQ(paths, (QStringList{"Top of Personal Folders/Contacts",
                                "Top of Personal Folders/Contacts/Suppliers",
                                "Top of Personal Folders/Contacts/Suppliers/Notes/Deep",
                                "Top of Personal Folders/Other"}));

  // With folders as categories each contact carries the path below the top.
  store.defaultContacts->Add(Named("Ann", "Lee"));
  suppliers->Add(Named("Bob", "Stone"));
  Recorder recorder;
  const QString target = ScratchDir(QStringLiteral("contact-folders")) + QStringLiteral("/all.csv");
  RunUtf8Export(ContactFolders(store), {Utf8Format::kCsv, false, target, true}, recorder);
  const QByteArray csv = ReadAll(target);
  EXPECT_TRUE(csv.contains("\"Contacts/Suppliers\"")) << csv.toStdString();
  EXPECT_TRUE(csv.contains("\"Contacts\"")) << csv.toStdString();
}
