// Contacts of several stores read through OpenContacts, on stores written by the store writer.
#include "merge/ContactSources.h"

#include "contact/VCardWriter.h"
#include "tests/convert/ProgramRun.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <gtest/gtest.h>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// Each contact's vCard 4.0 card and where it came from, in the order given.
struct Read {
  QStringList cards;
  int problems = 0;
};

Read ReadAll(const QStringList& stores, bool merge, const merge::MergeLimits& limits = {}) {
  merge::StoreSelection options;
  options.stores = stores;
  options.allFolders = true;
  auto stream = merge::OpenContacts(merge::FindSources(options), merge, limits);
  Read read;
  contact::SourcedContact c;
  while (stream->Next(c)) {
    QByteArray card;
    contact::AppendVCard(card, c.contact, contact::VCardVersion::k40);
    read.cards << QString::fromUtf8(card);
  }
  read.problems = static_cast<int>(stream->Problems().size());
  return read;
}

QStringList StoresToCheck() {
  QStringList stores{BinDir() + "/sample.pst"};
  const QString fixtures = SharedDir() + "/fixtures/pst";
  if (!SharedDir().isEmpty())
    for (const QString& name : QDir(fixtures).entryList({"*.pst", "*.ost"}, QDir::Files))
      stores << fixtures + "/" + name;
  return stores;
}

// A store and a copy of itself are the same entries twice: merged, they are the store's own
// contacts merged, each once, in the store's order (a store may hold one person several times:
// the mail folder of the 72-contact fixture does). Also where the merge keeps almost nothing in
// memory: the match keys in runs of three in a file, every entry in the file.
TEST(OpenContacts, StoreMergedWithItsCopyGivesItsOwnContacts) {
  const QString scratch = ScratchDir("copy");
  for (const QString& store : StoresToCheck()) {
    SCOPED_TRACE(store.toStdString());
    Read alone;
    try {
      alone = ReadAll({store}, true);
    } catch (const StoreError& e) {
      continue;  // a store that cannot be read (damaged, protected, no contacts) has nothing
    }
    const QString copy = scratch + "/copy-" + QFileInfo(store).fileName();
    QFile::remove(copy);
    ASSERT_TRUE(QFile::copy(store, copy));
    for (const merge::MergeLimits limits : {merge::MergeLimits{}, merge::MergeLimits{3, 0}}) {
      const Read merged = ReadAll({store, copy}, true, limits);
      EXPECT_EQ(merged.cards, alone.cards) << limits.keysInMemory;
      EXPECT_EQ(merged.problems, 2 * alone.problems);
    }
  }
  LUMIVEX_REQUIRE_FIXTURES();  // the sample store alone was checked
}

// A store written by lumivex-pstgen from `folders` (the description's "folders" list), with
// the record key `key`.
QString WriteStore(const QString& path, const char* folders, const QString& key) {
  QFile json(path + ".json");
  EXPECT_TRUE(json.open(QIODevice::WriteOnly));
  json.write(QByteArray("{\"folders\":") + folders + "}");
  json.close();
  const ProgramOutput made =
      RunProgram(BinDir() + "/lumivex-pstgen", {path + ".json", "--store-key", key, "--out", path});
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  return path;
}

struct Taken {
  QStringList names;  // each contact's display name, sorted
  QStringList uids;   // in the order given
  QStringList titles;
  QStringList notes;
};

Taken Take(const merge::StoreSelection& options) {
  Taken t;
  auto stream = merge::OpenContacts(merge::FindSources(options, &t.notes), options.merge);
  contact::SourcedContact c;
  while (stream->Next(c)) {
    t.names << c.contact.displayName;
    t.uids << c.contact.uid;
    t.titles << c.contact.jobTitle;
  }
  t.names.sort();
  return t;
}

// --all-folders takes the user's own folders, not the deleted items nor what the mail client
// collects by itself, unless a folder is named; a store named twice is read once, and said so.
TEST(FindSources, AllFoldersLeavesOutWhatTheMailClientKeepsByItself) {
  const QString dir = ScratchDir("roles");
  const QString store = WriteStore(dir + "/roles.pst", R"([
      {"path": "Contacts", "items": [{"FirstName": "Anna", "LastName": "Berg",
                                      "Email1Address": "anna@example.com"}]},
      {"path": "Contacts/Friends", "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Ed", "LastName": "Falk"}]},
      {"path": "Deleted Items", "items": [{"FirstName": "Anna", "LastName": "Old",
                                           "Email1Address": "anna@example.com"}]},
      {"path": "Contacts/Suggested Contacts", "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Bo", "LastName": "Ek"}]},
      {"path": "Contacts/Cache", "containerClass": "IPF.Contact.RecipientCache",
       "items": [{"FirstName": "Cy", "LastName": "Lund"}]},
      {"path": "GAL Contacts", "containerClass": "IPF.Contact.GalContacts",
       "items": [{"FirstName": "Di", "LastName": "Moe"}]}])",
                                   "roles");
  const QString top = "Top of Personal Folders/";
  struct Case {
    const char* what;
    QStringList stores;
    QString folder;
    bool merge;
    QStringList names;
    QStringList notes;  // a word of each note, in order
  };
  const Case cases[] = {
      {"every folder",
       {store},
       {},
       false,
       {"Anna Berg", "Ed Falk"},
       {"Deleted Items\" of", "Suggested Contacts\" of", "Cache\" of", "GAL Contacts\" of"}},
      {"the deleted items named",
       {store},
       top + "Deleted Items",
       false,
       {"Anna Berg", "Anna Old", "Ed Falk"},
       {"Suggested Contacts\" of", "Cache\" of", "GAL Contacts\" of"}},
      {"a store named twice, merged",
       {store, dir + "/../roles/roles.pst"},
       top + "Contacts/Suggested Contacts",
       true,
       {"Anna Berg", "Bo Ek", "Ed Falk"},
       {"Deleted Items\" of", "Cache\" of", "GAL Contacts\" of", "are the same file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    merge::StoreSelection options;
    options.stores = c.stores;
    options.allFolders = true;
    options.folder = c.folder;
    options.merge = c.merge;
    const Taken t = Take(options);
    EXPECT_EQ(t.names, c.names);
    ASSERT_EQ(t.notes.size(), c.notes.size()) << t.notes.join(u'\n').toStdString();
    for (int i = 0; i < c.notes.size(); ++i)
      EXPECT_TRUE(t.notes[i].contains(c.notes[i])) << t.notes[i].toStdString();
  }
  // Named alone, such a folder is read as any other.
  merge::StoreSelection one;
  one.stores = {store};
  one.folder = top + "GAL Contacts";
  EXPECT_EQ(Take(one).names, QStringList{"Di Moe"});
}

// A merged contact's uid is that of its entry in the store named first, so that a store added
// after it, or taken away, leaves it; of equally new entries the same one's single values win
// (one of their content), whatever the stores' names or the order they are named in.
TEST(OpenContacts, UidFromTheFirstStoreNamedAndTiesByContent) {
  const QString dir = ScratchDir("uids");
  const char* kWhen = "2024-05-01T10:00:00Z";
  const auto person = [&](const char* title) {
    return QStringLiteral(R"([{"path": "Contacts", "items": [{"FirstName": "Anna",
        "LastName": "Berg", "Email1Address": "anna@example.com", "JobTitle": "%1",
        "LastModificationTime": "%2"}]}])")
        .arg(title, kWhen)
        .toUtf8();
  };
  const QString a = WriteStore(dir + "/a.pst", person("Pilot").constData(), "a");
  const QString b = WriteStore(dir + "/b.pst", person("Engineer").constData(), "b");
  // The same two entries, in files of each other's names.
  const QString a2 = WriteStore(dir + "/swapped-b.pst", person("Pilot").constData(), "a");
  const QString b2 = WriteStore(dir + "/swapped-a.pst", person("Engineer").constData(), "b");
  const auto uidOf = [](const QStringList& stores) {
    merge::StoreSelection o;
    o.stores = stores;
    return Take(o);
  };
  const QString ua = uidOf({a}).uids.value(0), ub = uidOf({b}).uids.value(0);
  ASSERT_NE(ua, ub);
  struct Case {
    QStringList stores;
    QString uid;
  };
  const Case cases[] = {{{a, b}, ua}, {{b, a}, ub}, {{a2, b2}, ua}, {{b2, a2}, ub}};
  QSet<QString> titles;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stores.join(u' ').toStdString());
    const Taken t = uidOf(c.stores);
    ASSERT_EQ(t.uids.size(), 1);
    EXPECT_EQ(t.uids[0], c.uid);
    titles.insert(t.titles[0]);
  }
  EXPECT_EQ(titles.size(), 1) << "the single values of equally new entries depend on the order";
}

}  // namespace
