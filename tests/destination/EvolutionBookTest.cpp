// Contacts sent into the "Personal" book of a real Evolution Data Server, on a D-Bus session bus
// of the test's own, and read back with Evolution's own library: each contact once however often
// it is sent, every field as Evolution reads it from our vCard 3.0 file, and a second send that
// leaves alone what the user changed in the book.
#include "destination/EvolutionBook.h"

#include "contact/VCardWriter.h"
#include "destination/Destinations.h"
#include "merge/ContactSources.h"
#include "source/StoreBackend.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"
#include "tests/destination/EdsSession.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>

using namespace lumivex;
using namespace lumivex::contact;
using namespace lumivex::destination;
using namespace lumivex::testing;

namespace {

// Contacts the test makes.
class ListStream : public ContactStream {
 public:
  explicit ListStream(std::vector<Contact> contacts) : contacts_(std::move(contacts)) {}
  int Total() const override { return static_cast<int>(contacts_.size()); }
  bool Next(SourcedContact& out) override {
    if (next_ == contacts_.size()) return false;
    out.contact = contacts_[next_++];
    out.origins = {
        {QStringLiteral("test.pst"), QStringLiteral("Contacts"), static_cast<int>(next_), {}}};
    return true;
  }
  const std::vector<EntryProblem>& Problems() const override { return problems_; }

 private:
  std::vector<Contact> contacts_;
  size_t next_ = 0;
  std::vector<EntryProblem> problems_;
};

struct Quiet : SendObserver {
  void Progress(int, int) override {}
};

// The store's default contacts folder, each entry a contact of its own.
std::unique_ptr<ContactStream> StoreContacts(const QString& store) {
  merge::StoreSelection options;
  options.stores = {store};
  options.merge = false;
  return merge::OpenContacts(options);
}

SendResult SendAll(const QString& book, ContactStream&& contacts, SendOptions options = {}) {
  Quiet quiet;
  return MakeEvolutionBook(book, StateFolder({}))->Send(contacts, options, quiet);
}

std::map<QString, QJsonObject> ByUid(const QJsonArray& cards) {
  std::map<QString, QJsonObject> out;
  for (const QJsonValue card : cards) out[card["uid"].toString()] = card.toObject();
  return out;
}

Contact Person(const QString& given, const QString& note) {
  Contact c;
  c.givenName = given;
  c.surname = QStringLiteral("Tester");
  c.displayName = given + QStringLiteral(" Tester");
  c.notes = note;
  c.uid = CardUuid(given);
  return c;
}

}  // namespace

TEST(EvolutionBook, SampleStoreSentTwiceHoldsEachContactOnceWithEveryField) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  SetMailProvider(MakeStoreMailProvider(nullptr));
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  // readpst finds 46 contacts in the sample store's contacts folder.
  const SendResult first = SendAll({}, std::move(*StoreContacts(sample)));
  EXPECT_EQ(first.added, 46);
  EXPECT_TRUE(first.problems.empty());
  const SendResult second = SendAll({}, std::move(*StoreContacts(sample)));
  EXPECT_EQ(second.unchanged, 46);
  EXPECT_EQ(second.added + second.updated, 0);
  EXPECT_TRUE(second.problems.empty());

  // The book as Evolution's library reads it, against the store's vCard 3.0 file as the same
  // library reads it.
  const std::map<QString, QJsonObject> held = ByUid(EvolutionBookReader().ReadOrFail({}).array());
  ASSERT_EQ(held.size(), 46u);
  const QString file = ScratchDir(QStringLiteral("eds-sample")) + QStringLiteral("/sample.vcf");
  QByteArray cards;
  std::map<QString, Contact> lists;
  const std::unique_ptr<ContactStream> store = StoreContacts(sample);
  SourcedContact c;
  while (store->Next(c)) {
    AppendVCard(cards, c.contact, VCardVersion::k30);
    if (c.contact.isGroup) lists[CardUuid(c.contact.uid)] = c.contact;
  }
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(cards) == cards.size());
  out.close();
  const std::map<QString, QJsonObject> read =
      ByUid(EvolutionCardReader().ReadOrFail({file}).array());
  ASSERT_EQ(read.size(), 46u);
  qsizetype resolvedMembers = 0;
  for (const auto& [uid, expected] : read) {
    SCOPED_TRACE(expected["fn"].toString().toStdString());
    ASSERT_TRUE(held.count(uid));
    QJsonObject book = held.at(uid);
    // A distribution list is also one of Evolution's own lists: its members with an address,
    // each the contact of the book that has that address, as Evolution's own code reads them.
    const auto list = lists.find(uid);
    EXPECT_EQ(book["isList"].toBool(), list != lists.end());
    EXPECT_EQ(expected["isList"].toBool(), list != lists.end());
    if (list != lists.end()) {
      QStringList addresses, resolved;
      for (const Member& m : list->second.members) {
        if (m.address.isEmpty()) continue;
        addresses << m.address;
        QString person;
        for (const auto& [id, other] : held)
          if (!other["isList"].toBool() && person.isEmpty() &&
              Strings(other["emails"]).contains(m.address, Qt::CaseInsensitive))
            person = id;
        resolved << person;
      }
      QStringList emails, uids;
      for (const QJsonValue m : book["members"].toArray()) {
        emails << m["email"].toString();
        uids << m["uid"].toString();
      }
      EXPECT_EQ(emails, addresses);
      EXPECT_EQ(uids, resolved);
      // Named by the same contacts for the clients that read a list's member URIs.
      const QStringList uris = Strings(book["memberUris"]);
      for (const QString& person : resolved)
        EXPECT_TRUE(person.isEmpty() || uris.contains("urn:uuid:" + person)) << qPrintable(person);
      resolvedMembers += resolved.size() - resolved.count(QString());
      book["members"] = expected["members"];
      book["memberUris"] = expected["memberUris"];
      book["emails"] = expected["emails"];
      book["email"] = expected["email"];
    }
    for (auto it = expected.begin(); it != expected.end(); ++it) {
      if (it.key() == u"isList") continue;

      EXPECT_EQ(book[it.key()].toVariant(), it.value().toVariant()) << it.key().toStdString();
    }
  }
  EXPECT_GT(resolvedMembers, 0);
  SetMailProvider(nullptr);
}

TEST(EvolutionBook, SendingAgainUpdatesTheStoresChangesAndKeepsTheUsers) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  std::vector<Contact> contacts = {Person(QStringLiteral("Ann"), QStringLiteral("as sent")),
                                   Person(QStringLiteral("Ben"), QStringLiteral("as sent")),
                                   Person(QStringLiteral("Cem"), QStringLiteral("as sent"))};
  // The book is named as the user sees it, in any case.
  const QString book = QStringLiteral("personal");
  EXPECT_EQ(SendAll(book, ListStream(contacts)).added, 3);
  // Ben is changed by the user in the book, Cem in the store.
  EvolutionBookEditor().ReadOrFail(
      {QString(), CardUuid(QStringLiteral("Ben")), QStringLiteral("the user's")});
  contacts[2].notes = QStringLiteral("changed in the store");

  struct Row {
    const char* what;
    SendOptions options;
    int unchanged, updated, conflicts;
    const char* benNote;
    const char* cemNote;
  };
  const Row rows[] = {
      {"dry run", {false, true}, 1, 1, 1, "the user's", "as sent"},
      {"send", {}, 1, 1, 1, "the user's", "changed in the store"},
      {"send again", {}, 2, 0, 1, "the user's", "changed in the store"},
      {"overwrite", {true, false}, 2, 1, 0, "as sent", "changed in the store"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const SendResult r = SendAll(book, ListStream(contacts), row.options);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(r.unchanged, row.unchanged);
    EXPECT_EQ(r.updated, row.updated);
    ASSERT_EQ(static_cast<int>(r.problems.size()), row.conflicts);
    if (row.conflicts) {
      EXPECT_EQ(r.problems[0].outcome, SendOutcome::kConflict);
      EXPECT_EQ(r.problems[0].name, u"Ben Tester");
    }
    const std::map<QString, QJsonObject> held = ByUid(EvolutionBookReader().ReadOrFail({}).array());
    ASSERT_EQ(held.size(), 3u);
    EXPECT_EQ(held.at(CardUuid(QStringLiteral("Ben")))["note"].toString(),
              QString::fromUtf8(row.benNote));
    EXPECT_EQ(held.at(CardUuid(QStringLiteral("Cem")))["note"].toString(),
              QString::fromUtf8(row.cemNote));
  }
}

// With the record of sends lost, the book's contact holding the same person (the same e-mail
// address) is that person's card, whatever its uid: updated, never a second one added.
TEST(EvolutionBook, TheRecordLostTheBooksContactsAreMatchedByTheirPeople) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  Contact anna = Person(QStringLiteral("Anna"), QStringLiteral("Sent first."));
  anna.emails = {{QStringLiteral("anna@example.com"), {}, QStringLiteral("SMTP")}};
  ASSERT_EQ(SendAll({}, ListStream({anna})).added, 1);
  ASSERT_TRUE(QDir(eds.home + QStringLiteral("/.local/state/lumivex")).removeRecursively());
  // The same person merged from another store: another uid, a note added.
  anna.uid = CardUuid(QStringLiteral("Anna of the archive"));
  anna.notes = QStringLiteral("Sent again.");
  const SendResult again = SendAll({}, ListStream({anna}));
  EXPECT_EQ(again.added, 0);
  EXPECT_EQ(again.updated, 1);
  EXPECT_TRUE(again.problems.empty());
  const QJsonArray held = EvolutionBookReader().ReadOrFail({}).array();
  ASSERT_EQ(held.size(), 1);
  EXPECT_EQ(held[0]["note"].toString(), u"Sent again.");
}

// A list sent into a book whose people came before it: a member is linked to the one contact
// holding its address, and to none where a family's address is on each one's contact (Evolution
// then shows the address, not one of them in the other's place).
TEST(EvolutionBook, AListMemberIsLinkedOnlyToTheOnePersonWithItsAddress) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  Contact alice = Person(QStringLiteral("Alice"), {}), bob = Person(QStringLiteral("Bob"), {});
  alice.emails = {{QStringLiteral("family@example.com"), {}, QStringLiteral("SMTP")}};
  bob.emails = {{QStringLiteral("family@example.com"), {}, QStringLiteral("SMTP")},
                {QStringLiteral("bob@example.com"), {}, QStringLiteral("SMTP")}};
  ASSERT_EQ(SendAll({}, ListStream({alice, bob})).added, 2);
  Contact list;
  list.isGroup = true;
  list.displayName = QStringLiteral("Bowling");
  list.uid = CardUuid(QStringLiteral("Bowling"));
  list.members = {{QStringLiteral("Bob Tester"), QStringLiteral("family@example.com")},
                  {QStringLiteral("Bob Tester"), QStringLiteral("bob@example.com")}};
  ASSERT_EQ(SendAll({}, ListStream({list})).added, 1);
  const std::map<QString, QJsonObject> held = ByUid(EvolutionBookReader().ReadOrFail({}).array());
  ASSERT_TRUE(held.count(list.uid));
  QStringList emails, uids;
  for (const QJsonValue m : held.at(list.uid)["members"].toArray()) {
    emails << m["email"].toString();
    uids << m["uid"].toString();
  }
  EXPECT_EQ(emails, (QStringList{"family@example.com", "bob@example.com"}));
  EXPECT_EQ(uids, (QStringList{QString(), bob.uid}));
}

TEST(EvolutionBook, BooksAreListedAndAnUnknownOneIsNamedInTheError) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  const std::vector<EvolutionBookInfo> books = ListEvolutionBooks();
  ASSERT_FALSE(books.empty());
  EXPECT_EQ(books[0].name, u"Personal");
  EXPECT_TRUE(books[0].isDefault);
  try {
    SendAll(QStringLiteral("Holiday friends"), ListStream({Person(QStringLiteral("Ann"), {})}));
    ADD_FAILURE() << "an unknown book was taken";
  } catch (const DestinationError& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).contains(u"\u201CHoliday friends\u201D")) << e.what();
    EXPECT_TRUE(QString::fromUtf8(e.what()).contains(u"Personal")) << e.what();
  }
}

// The command line reaches the books through the module it loads once they are named: they are
// listed as the server has them, and a book the server does not have is named in the failure.
// A contact the user deleted from the book since the last send is a conflict and stays deleted
// until --overwrite; with the record of sends lost, the book is compared with the store.
TEST(EvolutionBook, TheCommandLineListsTheBooksAndRespectsDeletions) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  enum Before { kNothing, kDeleteOne, kLoseRecordAndDeleteOne };
  const QString summary = QStringLiteral(
      "%1 added, 0 updated, %2 unchanged, %3 conflicts, 0 failed (the Evolution address book "
      "\u201CPersonal\u201D)\n");
  const struct {
    Before before;
    QStringList arguments;
    int status;
    QString out;     // all of standard output
    QString err;     // a pattern in standard error; NAME stands for the deleted contact's name
    qsizetype held;  // contacts in the book after
  } cases[] = {
      {kNothing,
       {"send", "--to", "evolution", "--list-books"},
       0,
       "Personal\tsystem-address-book\tdefault\n",
       "",
       0},
      {kNothing,
       {"send", "--to", "evolution:Holiday friends", sample},
       1,
       "",
       QStringLiteral("\u201CHoliday friends\u201D"),
       0},
      // readpst finds 46 contacts in the sample store's contacts folder.
      {kNothing,
       {"send", "--to", "evolution", "--no-merge", sample},
       0,
       summary.arg(46).arg(0).arg(0),
       "",
       46},
      {kDeleteOne,
       {"send", "--to", "evolution", "--no-merge", sample},
       3,
       summary.arg(0).arg(45).arg(1),
       QStringLiteral("conflict: NAME \\[.*\\]: deleted in the address book since the last send "
                      "\\(\u201CPersonal\u201D\\); it was not sent again; --overwrite sends it "
                      "again\n"),
       45},
      {kNothing,
       {"send", "--to", "evolution", "--no-merge", "--overwrite", sample},
       0,
       summary.arg(1).arg(45).arg(0),
       "",
       46},
      {kLoseRecordAndDeleteOne,
       {"send", "--to", "evolution", "--no-merge", sample},
       0,
       summary.arg(1).arg(45).arg(0),
       "",
       46},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(u' ').toStdString());
    QString err = c.err;
    if (c.before == kLoseRecordAndDeleteOne) {
      ASSERT_TRUE(QDir(eds.home + QStringLiteral("/.local/state/lumivex")).removeRecursively());
    }
    if (c.before != kNothing) {
      const QJsonArray held = EvolutionBookReader().ReadOrFail({}).array();
      ASSERT_FALSE(held.isEmpty());
      EvolutionBookDeleter().ReadOrFail({QString(), held[0]["uid"].toString()});
      err.replace(QStringLiteral("NAME"), QRegularExpression::escape(held[0]["fn"].toString()));
    }
    const ProgramOutput run = RunCli(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(run.err.contains(QRegularExpression(err))) << run.err.toStdString();
    EXPECT_EQ(EvolutionBookReader().ReadOrFail({}).array().size(), c.held);
  }
}

// Two contacts sent apart whose people are joined later (a maiden name's suggestion accepted):
// the contact the joined one does not go into is removed from the book where it is as it was
// sent, and left and told where the user changed it since; also where the joined send was stopped
// (as Ctrl-C stops it) once it had sent the joined contact, and run again. A dry run before says
// what the send then says, and changes nothing. A list, whose contact no entry went into, stays.
TEST(EvolutionBook, ASecondContactOfPeopleJoinedSinceIsRemovedUnlessChanged) {
  const EdsSession eds;
  if (!eds.missing.isEmpty()) LUMIVEX_MISSING(eds.missing.toStdString());
  const QString dir = ScratchDir(QStringLiteral("evolution-joined"));
  const struct {
    const char* name;
    const char* json;
  } stores[] = {
      {"park", R"({"folders":[{"path":"Contacts","items":[{"FirstName":"Ann","LastName":"Park",
        "Email1Address":"ann.p@mail.example","LastModificationTime":"2020-01-01T10:00:00Z"}]}]})"},
      {"stone", R"({"folders":[{"path":"Contacts","items":[{"FirstName":"Ann","LastName":"Stone",
        "Email1Address":"ann.p@mail.example","LastModificationTime":"2024-01-01T10:00:00Z"},
        {"messageClass":"IPM.DistList","DLName":"Friends",
         "DLMembers":["Ann <ann.p@mail.example>"]}]}]})"},
  };
  QStringList send = {"send", "--to", "evolution:Personal"};
  merge::StoreSelection joined;  // as --accept-suggestions joins them
  joined.acceptSuggestions = true;
  for (const auto& store : stores) {
    const QString base = dir + u'/' + QLatin1String(store.name);
    QFile json(base + ".json");
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    json.write(store.json);
    json.close();
    const ProgramOutput made = RunProgram(
        BinDir() + "/lumivex-pstgen",
        {json.fileName(), "--store-key", QLatin1String(store.name), "--out", base + ".pst"});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    send << base + ".pst";
    joined.stores << base + ".pst";
  }
  const QString told = QStringLiteral(
      "the contact \u201CAnn Park\u201D in the Evolution address book \u201CPersonal\u201D holds a "
      "person now in another card of this send");
  const QString state = eds.home + QStringLiteral("/.local/state/lumivex");
  const auto record = [&] {
    std::map<QString, QByteArray> files;
    for (const QFileInfo& file : QDir(state + "/send").entryInfoList(QDir::Files))
      files[file.fileName()] = FileBytes(file.filePath());
    return files;
  };
  enum class Before { kNothing, kStopped, kDryRun };  // what comes before the joined send
  const struct {
    Before before;
    bool changed;  // Ann Park's contact edited in the book by the user before
  } cases[] = {{Before::kNothing, false}, {Before::kNothing, true}, {Before::kStopped, false},
               {Before::kStopped, true},  {Before::kDryRun, false}, {Before::kDryRun, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before == Before::kStopped  ? "stopped once, then run again"
                 : c.before == Before::kDryRun ? "a dry run first"
                                               : "at once");
    SCOPED_TRACE(c.changed ? "changed in the book since" : "as sent");
    ASSERT_TRUE(QDir(state).removeRecursively());
    for (const QJsonValue card : EvolutionBookReader().ReadOrFail({}).array())
      EvolutionBookDeleter().ReadOrFail({QString(), card["uid"].toString()});
    ASSERT_EQ(RunCli(send).status, 0);
    QJsonArray held = EvolutionBookReader().ReadOrFail({}).array();
    ASSERT_EQ(held.size(), 3);
    if (c.changed)
      for (const QJsonValue card : held)
        if (card["fn"].toString() == u"Ann Park")
          EvolutionBookEditor().ReadOrFail({QString(), card["uid"].toString(), "the user's"});
    if (c.before == Before::kStopped) {
      struct StopAfterOne : SendObserver {
        void Progress(int done, int) override { sent = done > 0; }
        bool Cancelled() const override { return sent; }
        bool sent = false;
      } stop;
      const SendResult stopped = MakeEvolutionBook(QStringLiteral("Personal"), StateFolder({}))
                                     ->Send(*merge::OpenContacts(joined), {}, stop);
      ASSERT_TRUE(stopped.cancelled);
      ASSERT_EQ(stopped.added + stopped.updated + stopped.unchanged, 1);
      ASSERT_EQ(stopped.removed, 0);
    }
    ProgramOutput dry;
    if (c.before == Before::kDryRun) {
      const auto bookBefore = ByUid(EvolutionBookReader().ReadOrFail({}).array());
      const auto recordBefore = record();
      dry = RunCli(send + QStringList{"--accept-suggestions", "--dry-run"});
      EXPECT_EQ(ByUid(EvolutionBookReader().ReadOrFail({}).array()), bookBefore);
      EXPECT_EQ(record(), recordBefore);
    }
    const ProgramOutput run = RunCli(send + QStringList{"--accept-suggestions"});
    EXPECT_EQ(run.status, c.changed ? 3 : 0) << run.err.toStdString();
    EXPECT_EQ(run.out.contains(", 1 removed ("), !c.changed) << run.out.toStdString();
    EXPECT_EQ(run.err.count(told), c.changed ? 1 : 0) << run.err.toStdString();
    if (c.before == Before::kDryRun) {
      EXPECT_EQ(dry.out, "Would be: " + run.out);
      EXPECT_EQ(dry.err, run.err);
      EXPECT_EQ(dry.status, run.status);
    }
    held = EvolutionBookReader().ReadOrFail({}).array();
    QStringList names;
    for (const QJsonValue card : held) names << card["fn"].toString();
    names.sort();
    EXPECT_EQ(names, c.changed ? QStringList({"Ann Park", "Ann Stone", "Friends"})
                               : QStringList({"Ann Stone", "Friends"}));
  }
}
