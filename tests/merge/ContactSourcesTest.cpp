// Contacts of several stores read through OpenContacts, on stores written by the store writer.
#include "merge/ContactSources.h"

#include "contact/VCardWriter.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
  merge::SourceOptions options;
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

}  // namespace
