// The review window driven offscreen on two stores written by the store writer: the entries of one
// person show as one row, the search filters as one types, a group can be split, a contact
// unticked, and what is ticked is exactly what the export writes (read back by strict vobject).
#include "app/ReviewWindow.h"

#include "app/Dialogs.h"
#include "app/ExportDialog.h"
#include "app/SendPanel.h"

#include "convert/Utf8Export.h"
#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

using namespace lumivex::testing;

// The store `description` (lumivex-pstgen's JSON) describes, written to `path`; under the record
// key `storeKey` where given (copies of one store share it).
QString WriteDescribed(const QString& path, const QString& description,
                       const QString& storeKey = {}) {
  QFile file(path + ".json");
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(description.toUtf8());
  file.close();
  QStringList args{path + ".json", "--out", path};
  if (!storeKey.isEmpty()) args << "--store-key" << storeKey;
  const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen", args);
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  return path;
}

// A store of `items` in its contacts folder, and one contact in "Suggested Contacts".
QString WriteStore(const QString& path, const char* items) {
  return WriteDescribed(path, QStringLiteral(
                                  R"({"folders": [{"path": "Contacts", "items": %1},
                                     {"path": "Suggested Contacts", "containerClass": "IPF.Contact",
                                      "items": [{"FirstName": "Auto", "LastName": "Collected"}]}]})")
                                  .arg(QString::fromUtf8(items)));
}

template <typename Condition>
bool WaitFor(Condition done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && !clock.hasExpired(20000))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// Unticks the contacts folder of the window's store `store`, lets the window read the others,
// then ticks it again and lets it read them all: `between`, the counts line while it is unticked.
void UntickAndTickAgain(ReviewWindow& window, int store, const QString& between) {
  for (const Qt::CheckState state : {Qt::Unchecked, Qt::Checked}) {
    QTreeWidgetItem* folder = window.TreeSources->topLevelItem(store)->child(0);
    ASSERT_TRUE(folder->text(0).startsWith("Contacts (")) << folder->text(0).toStdString();
    folder->setCheckState(0, state);
    // The reading again starts from the event loop.
    const bool left = state == Qt::Unchecked;
    EXPECT_TRUE(WaitFor([&] {
      return window.Loaded() && (window.LblCounts->text() == between) == left;
    })) << window.LblCounts->text().toStdString();
  }
}

QStringList Names(const QJsonArray& cards) {
  QStringList names;
  for (const QJsonValue& card : cards) names << card["FN"][0]["value"].toString();
  names.sort();
  return names;
}

TEST(ReviewWindow, TickSearchSplitAndExportWhatIsTicked) {
  App();
  const QString dir = ScratchDir("review");
  const QString older = WriteStore(dir + "/older.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "LastModificationTime": "2024-01-01T10:00:00Z"},
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"}])");
  const QString newer = WriteStore(dir + "/newer.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ANN@lee.example",
       "MobileTelephoneNumber": "+49 30 1234567", "LastModificationTime": "2025-01-01T10:00:00Z"},
      {"FirstName": "Cy", "LastName": "Berg", "Email1Address": "cy@berg.example"}])");

  ReviewWindow window(nullptr, {older, newer});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  // Four entries (the suggested contacts are shown unticked, not read), Ann's two one row.
  EXPECT_EQ(window.LblCounts->text(), "4 contacts from 2 stores, 3 after merging, 3 ticked");

  auto shown = [&] {
    QStringList names;
    for (int row = 0; row < window.Shown().rowCount(); ++row)
      names << window.Shown().index(row, ReviewModel::kName).data().toString();
    return names;
  };
  auto shows = [&](const QStringList& names) { return WaitFor([&] { return shown() == names; }); };
  // Ctrl+F, then typing, searches.
  window.show();
  QApplication::setActiveWindow(&window);
  window.TableContacts->setFocus();
  QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(window.TxtSearch->hasFocus());
  QTest::keyClicks(QApplication::focusWidget(), "ek.exa");
  EXPECT_TRUE(shows({"Bo Ek"}));
  window.TxtSearch->setText("LEE");
  ASSERT_TRUE(shows({"Ann Lee"}));
  EXPECT_EQ(window.LblCounts->text(),
            "4 contacts from 2 stores, 3 after merging, 3 ticked; 1 shown");
  window.TableContacts->setCurrentIndex(window.Shown().index(0, ReviewModel::kName));
  // Take Out Entry waits for one of the group's entries to be selected below the table.
  EXPECT_FALSE(window.CmdTakeOut->isEnabled());
  ASSERT_EQ(window.TreeDetail->topLevelItemCount(), 2);  // the merged contact, its entries
  // Each entry says by which rule it joined the other: Ann's share an e-mail address.
  EXPECT_TRUE(
      window.TreeDetail->topLevelItem(1)->child(0)->text(2).endsWith("(same e-mail address)"));
  window.TreeDetail->setCurrentItem(window.TreeDetail->topLevelItem(1)->child(1));
  EXPECT_TRUE(window.CmdTakeOut->isEnabled());
  window.CmdSplit->click();
  EXPECT_EQ(shown(), (QStringList{"Ann Lee", "Ann Lee"}));  // Ann from each store
  window.TxtSearch->clear();
  EXPECT_TRUE(shows({"Ann Lee", "Ann Lee", "Bo Ek", "Cy Berg"}));

  // Untick Bo.
  for (int row = 0; row < window.Model().rowCount(); ++row)
    if (window.Model().index(row, ReviewModel::kName).data().toString() == "Bo Ek")
      window.Model().setData(window.Model().index(row, ReviewModel::kTick), Qt::Unchecked,
                             Qt::CheckStateRole);
  EXPECT_EQ(window.LblCounts->text(), "4 contacts from 2 stores, 4 after merging, 3 ticked");

  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  const QString out = dir + "/ticked.vcf";
  const auto contacts = window.TickedContacts();
  const Utf8ExportResult result =
      RunUtf8Export(*contacts, {Utf8Format::kVCard4, false, out, false}, quiet);
  EXPECT_EQ(result.contacts, 3);
  EXPECT_EQ(Names(VObjectReader().ReadOrFail({out}).array()),
            (QStringList{"Ann Lee", "Ann Lee", "Cy Berg"}));
}

// The review groups as the command line merges: spouses sharing a family address stay apart, the
// same person in two stores is one, namesakes at one company and a maiden name are suggestions.
// The window's groups and suggestions equal `export --merge-report`'s; a suggestion accepted and
// one declined are what the export from the window writes, and are still so when it is opened
// again.
TEST(ReviewWindow, GroupsAndSuggestionsAreTheCommandLines) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-cli");
  const QString home = WriteStore(dir + "/home.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "LastModificationTime": "2024-01-01T10:00:00Z"},
      {"FirstName": "Per", "LastName": "Lee", "Email1Address": "family@lee.example"},
      {"FirstName": "Eva", "LastName": "Lee", "Email1Address": "family@lee.example"},
      {"FirstName": "John", "LastName": "Smith", "CompanyName": "Contoso",
       "Email1Address": "john.smith@contoso.example"},
      {"FirstName": "Maria", "LastName": "Berg", "Email1Address": "maria@berg.example"}])");
  const QString work = WriteStore(dir + "/work.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ANN@lee.example",
       "MobileTelephoneNumber": "+49 30 1234567", "LastModificationTime": "2025-01-01T10:00:00Z"},
      {"FirstName": "John", "LastName": "Smith", "CompanyName": "Contoso",
       "Email1Address": "john.smith@contoso.example"},
      {"FirstName": "John", "LastName": "Smith", "CompanyName": "Contoso",
       "Email1Address": "jsmith@contoso.example"},
      {"FirstName": "Maria", "LastName": "Sund", "Email1Address": "maria@berg.example"}])");
  // Entries as "store#position"; a group as its entries joined by "+", sorted.
  const QStringList groups{"home#1+work#1", "home#4+work#2"};
  const QStringList suggestions{"home#4+work#2 / work#3", "home#5 / work#4"};
  auto entryName = [](const QString& store, const QString& position) {
    return QFileInfo(store).completeBaseName() + u'#' + position;
  };
  auto pair = [](QString a, QString b) {
    if (b < a) std::swap(a, b);
    return a + " / " + b;
  };

  // The command line's report: a row per entry of each merged contact, two per suggestion.
  const QString report = dir + "/report.csv";
  const ProgramOutput cli =
      RunCli({"export", "--format", "vcard4", "--all-folders", "--merge-report", report, "--out",
              dir + "/all.vcf", home, work});
  ASSERT_EQ(cli.status, 0) << cli.err.toStdString();
  QFile file(report);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QMap<QString, QStringList> merged, suggested;  // by contact; by suggestion
  for (const QString& line : QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts)) {
    const QStringList f = line.split(u',');  // the first five fields hold no comma here
    if (f[0] == "merged") merged[f[1]] << entryName(f[2], f[4]);
    if (f[0].startsWith("suggestion")) suggested[f[0]] << entryName(f[2], f[4]);
  }
  auto groupOf = [&](const QString& entry) {
    for (QStringList g : merged)
      if (g.contains(entry)) return (g.sort(), g.join(u'+'));
    return entry;
  };
  QStringList cliGroups, cliSuggestions;
  for (QStringList g : merged) cliGroups << (g.sort(), g.join(u'+'));
  for (const QStringList& s : suggested) cliSuggestions << pair(groupOf(s[0]), groupOf(s[1]));
  cliGroups.sort();
  cliSuggestions.sort();
  EXPECT_EQ(cliGroups, groups);
  EXPECT_EQ(cliSuggestions, suggestions);

  auto rowOf = [](ReviewModel& m, int entry) {
    QStringList g;
    for (const int e : m.RowEntries(m.RowOfEntry(entry)))
      g << QFileInfo(m.OriginOf(e).store).completeBaseName() + u'#' +
               QString::number(m.OriginOf(e).position);
    g.sort();
    return g.join(u'+');
  };
  {
    ReviewWindow window(nullptr, {home, work});
    ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
    ReviewModel& model = window.Model();
    QStringList windowGroups, windowSuggestions;
    for (int row = 0; row < model.rowCount(); ++row)
      if (model.RowEntries(row).size() > 1) windowGroups << rowOf(model, model.RowEntries(row)[0]);
    for (const ReviewModel::Suggestion& s : model.Suggestions())
      windowSuggestions << pair(rowOf(model, s.first), rowOf(model, s.second));
    windowGroups.sort();
    windowSuggestions.sort();
    EXPECT_EQ(windowGroups, groups);
    EXPECT_EQ(windowSuggestions, suggestions);
    EXPECT_EQ(window.LblCounts->text(),
              "9 contacts from 2 stores, 7 after merging, 7 ticked, 2 suggestions to answer");
    // Untouched, the review exports the cards the command line wrote.
    {
      struct Quiet : Utf8ExportObserver {
        void Progress(int, int, const QString&) override {}
      } quiet;
      const auto contacts = window.TickedContacts();
      RunUtf8Export(*contacts, {Utf8Format::kVCard4, false, dir + "/review.vcf", false}, quiet);
      auto cards = [](const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList list;
        for (const QString& card : QString::fromUtf8(f.readAll()).split("END:VCARD"))
          if (!card.trimmed().isEmpty()) list << card.trimmed();
        list.sort();
        return list;
      };
      EXPECT_EQ(cards(dir + "/review.vcf"), cards(dir + "/all.vcf"));
    }
    // The rows with a suggestion come first, marked; the marks column shows its whole text.
    const QModelIndex mark = window.Shown().index(0, ReviewModel::kTick);
    EXPECT_EQ(mark.data().toString(), "2 merged, suggested");
    EXPECT_GE(window.TableContacts->columnWidth(ReviewModel::kTick),
              window.TableContacts->fontMetrics().horizontalAdvance(mark.data().toString()));

    // Maria's suggestion accepted, John's declined, each from its row's detail.
    for (const char* name : {"Maria Sund", "John Smith"}) {
      for (int row = 0; row < window.Shown().rowCount(); ++row)
        if (window.Shown().index(row, ReviewModel::kName).data().toString() == name &&
            window.Shown().index(row, ReviewModel::kTick).data().toString().contains("suggested"))
          window.TableContacts->setCurrentIndex(window.Shown().index(row, ReviewModel::kName));
      ASSERT_TRUE(window.CmdAccept->isEnabled()) << name;
      EXPECT_TRUE(window.TreeDetail->topLevelItem(0)->text(0).startsWith(
          "Suggestion (accept or decline): may be the same person as "));
      (QString(name) == "Maria Sund" ? window.CmdAccept : window.CmdDecline)->click();
      EXPECT_FALSE(window.CmdAccept->isEnabled());
    }
    EXPECT_EQ(window.LblCounts->text(), "9 contacts from 2 stores, 6 after merging, 6 ticked");
    window.accept();
  }
  // Opened again: the same answers; what it exports is read back by strict vobject.
  ReviewWindow again(nullptr, {home, work});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  EXPECT_EQ(again.LblCounts->text(), "9 contacts from 2 stores, 6 after merging, 6 ticked");
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  const QString out = dir + "/window.vcf";
  const auto contacts = again.TickedContacts();
  EXPECT_EQ(RunUtf8Export(*contacts, {Utf8Format::kVCard4, false, out, false}, quiet).contacts, 6);
  QStringList names = Names(VObjectReader().ReadOrFail({out}).array());
  names.replaceInStrings("Maria Berg", "Maria").replaceInStrings("Maria Sund", "Maria");
  EXPECT_EQ(names,
            (QStringList{"Ann Lee", "Eva Lee", "John Smith", "John Smith", "Maria", "Per Lee"}));
  ReviewWindow::LastChoices() = {};
}

// Untouched, the window's merged contacts are the command line's, card by card: a group's entries
// are taken in the same order (named before nameless, newest first, equally new ones by content,
// whichever store holds them), which decides the name, the preferred e-mail address, the preferred
// ORG and TITLE and REV.
TEST(ReviewWindow, MergedCardsAreTheCommandLines) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-order");
  const QString first = WriteStore(dir + "/a.pst", R"([
      {"FirstName": "Olga", "LastName": "Ivanova", "Email1Address": "olga@iv.example",
       "CompanyName": "Old Corp", "JobTitle": "Analyst", "HomeAddressCity": "Riga",
       "LastModificationTime": "2020-03-03T10:00:00Z"},
      {"FirstName": "Lena", "LastName": "Fox", "Email1Address": "lena@fox.example",
       "JobTitle": "Architect", "CompanyName": "Alpha", "LastModificationTime": "2022-02-02T10:00:00Z"},
      {"FirstName": "Ravi", "LastName": "Shah", "Email1Address": "ravi@shah.example",
       "LastModificationTime": "2021-01-01T10:00:00Z"}])");
  const QString second = WriteStore(dir + "/b.pst", R"([
      {"Email1Address": "o.ivanova@new.example", "Email2Address": "olga@iv.example",
       "JobTitle": "Head of Analytics", "LastModificationTime": "2024-03-03T10:00:00Z"},
      {"FirstName": "Lena", "LastName": "Fox", "Email1Address": "lena@fox.example",
       "JobTitle": "Zoologist", "CompanyName": "Zeta", "LastModificationTime": "2022-02-02T10:00:00Z"},
      {"FirstName": "Ravi", "LastName": "Shah", "Email1Address": "ravi@shah.example",
       "Birthday": "1975-04-04", "LastModificationTime": "2021-06-01T10:00:00Z"}])");
  const ProgramOutput cli = RunCli(
      {"export", "--format", "vcard4", "--all-folders", "--out", dir + "/cli.vcf", first, second});
  ASSERT_EQ(cli.status, 0) << cli.err.toStdString();

  ReviewWindow window(nullptr, {first, second});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  // What the window exports, each card by its UID.
  auto cards = [&](const QString& path) {
    if (path != dir + "/cli.vcf") {
      struct Quiet : Utf8ExportObserver {
        void Progress(int, int, const QString&) override {}
      } quiet;
      RunUtf8Export(*window.TickedContacts(), {Utf8Format::kVCard4, false, path, false}, quiet);
    }
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QMap<QString, QString> byUid;
    for (const QString& card : QString::fromUtf8(f.readAll()).split("END:VCARD")) {
      const qsizetype uid = card.indexOf("\nUID:");
      if (uid >= 0) byUid[card.mid(uid + 5, card.indexOf(u'\r', uid) - uid - 5)] = card.trimmed();
    }
    return byUid;
  };
  const QMap<QString, QString> expected = cards(dir + "/cli.vcf");
  ASSERT_EQ(expected.size(), 3);
  auto same = [&](const QMap<QString, QString>& made) {
    EXPECT_EQ(made.keys(), expected.keys());
    for (const QString& uid : expected.keys())
      EXPECT_EQ(made.value(uid).toStdString(), expected[uid].toStdString()) << uid.toStdString();
  };
  same(cards(dir + "/window.vcf"));
  // So also once every group is split and joined again.
  ReviewModel& model = window.Model();
  for (int row = 0; row < model.rowCount(); ++row)
    if (model.RowEntries(row).size() > 1) {
      const int entry = model.RowEntries(row).front();
      model.Split(row);
      model.Rejoin(model.RowOfEntry(entry));
    }
  same(cards(dir + "/rejoined.vcf"));
}

// The window writes its contacts in the command line's order (each where its first entry is in
// the stores), not in the table's, where the rows to check come first.
TEST(ReviewWindow, ContactsAreWrittenInTheCommandLinesOrder) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-written-order");
  const QString first = WriteStore(dir + "/a.pst", R"([
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Contoso"}])");
  const QString second = WriteStore(dir + "/b.pst", R"([
      {"FirstName": "Cy", "LastName": "Berg", "Email1Address": "cy@berg.example"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Fabrikam"}])");
  const ProgramOutput cli = RunCli(
      {"export", "--format", "vcard4", "--all-folders", "--out", dir + "/cli.vcf", first, second});
  ASSERT_EQ(cli.status, 0) << cli.err.toStdString();
  ReviewWindow window(nullptr, {first, second});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  ASSERT_EQ(window.Model().index(0, ReviewModel::kTick).data().toString(), "2 merged, check");
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  RunUtf8Export(*window.TickedContacts(), {Utf8Format::kVCard4, false, dir + "/window.vcf", false},
                quiet);
  auto names = [](const QString& path) {
    QStringList out;
    for (const QJsonValue card : VObjectReader().ReadOrFail({path}).array())
      out << card["FN"][0]["value"].toString();
    return out;
  };
  EXPECT_EQ(names(dir + "/cli.vcf"), (QStringList{"Bo Ek", "Ann Lee", "Cy Berg"}));
  EXPECT_EQ(names(dir + "/window.vcf"), names(dir + "/cli.vcf"));
}

// Two copies of one store that each got a new contact after they parted, under one entry id:
// the window writes the two people with the UIDs the command line gives them, one each.
TEST(ReviewWindow, NewPeopleOfTwoCopiesOfOneStoreHaveTheCommandLinesUids) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-parted");
  QStringList stores;
  for (const auto& [name, added] :
       {std::pair{"live", R"({"FirstName": "Nina", "LastName": "Hansen",
                              "CreationTime": "2025-01-01T10:00:00Z"})"},
        std::pair{"backup", R"({"FirstName": "Oscar", "LastName": "Dahl",
                                "CreationTime": "2025-02-01T10:00:00Z"})"}}) {
    stores << WriteDescribed(
        dir + u'/' + QLatin1String(name) + ".pst",
        QString::fromUtf8(QByteArray(R"({"folders": [{"path": "Contacts", "items": [
        {"FirstName": "Anna", "LastName": "Berg", "Email1Address": "anna@example.com",
         "CreationTime": "2020-01-01T10:00:00Z"}, )") +
                          added + "]}]}"),
        "home");
  }
  auto uids = [](const QString& path) {
    QStringList out;
    for (const QJsonValue card : VObjectReader().ReadOrFail({path}).array())
      out << card["UID"][0]["value"].toString();
    out.sort();
    return out;
  };
  const ProgramOutput cli =
      RunCli(QStringList{"export", "--format", "vcard4", "--out", dir + "/cli.vcf"} + stores);
  ASSERT_EQ(cli.status, 0) << cli.err.toStdString();
  const QStringList expected = uids(dir + "/cli.vcf");
  ASSERT_EQ(expected.size(), 3);
  EXPECT_EQ(QSet<QString>(expected.begin(), expected.end()).size(), 3);

  ReviewWindow window(nullptr, stores);
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  RunUtf8Export(*window.TickedContacts(), {Utf8Format::kVCard4, false, dir + "/window.vcf", false},
                quiet);
  EXPECT_EQ(uids(dir + "/window.vcf"), expected);
}

// A store and its older copy (one store key, each entry made at the same time in both): the window
// merges each entry's copies as the command line does, into the newest copy's values alone, also
// where the newest copy lost its name and ranks after the older, named one.
TEST(ReviewWindow, AnOlderCopyOfAStoreIsLeftOutAsByTheCommandLine) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-copies");
  QStringList stores;
  for (const auto& [name, items] : {std::pair{"older", R"(
          {"FirstName": "Karl", "LastName": "Ek", "Email1Address": "karl@ek.example",
           "MobileTelephoneNumber": "+46 70 111 22 33", "JobTitle": "Lärare",
           "CreationTime": "2020-01-01T10:00:00Z", "LastModificationTime": "2024-01-01T10:00:00Z"},
          {"FirstName": "Nils", "LastName": "Strand", "Email1Address": "nils@strand.example",
           "CompanyName": "Old AB", "CreationTime": "2020-01-02T10:00:00Z",
           "LastModificationTime": "2024-01-01T10:00:00Z"})"},
                                    std::pair{"newer", R"(
          {"FirstName": "Karl", "LastName": "Ek", "Email1Address": "karl@ek.example",
           "MobileTelephoneNumber": "+46 70 999 88 77", "JobTitle": "Rektor",
           "CreationTime": "2020-01-01T10:00:00Z", "LastModificationTime": "2024-06-01T10:00:00Z"},
          {"Email1Address": "nils@strand.example", "BusinessTelephoneNumber": "+46 8 123 456",
           "CreationTime": "2020-01-02T10:00:00Z",
           "LastModificationTime": "2024-06-01T10:00:00Z"})"}}) {
    stores << WriteDescribed(
        dir + u'/' + QLatin1String(name) + ".pst",
        QString::fromUtf8(QByteArray(R"({"folders": [{"path": "Contacts", "items": [)") + items +
                          "]}]}"),
        "home");
  }
  // Each card's formatted name with its numbers, job titles and companies, as vobject reads them.
  auto cards = [](const QString& path) {
    QStringList out;
    for (const QJsonValue card : VObjectReader().ReadOrFail({path}).array()) {
      QStringList values{card["FN"][0]["value"].toString()};
      for (const char* name : {"TEL", "TITLE", "ORG"})
        for (const QJsonValue v : card[QLatin1String(name)].toArray())
          values << (v["value"].isArray() ? Strings(v["value"]).join(u'|') : v["value"].toString());
      out << values.join(QStringLiteral(", "));
    }
    out.sort();
    return out;
  };
  const ProgramOutput cli =
      RunCli(QStringList{"export", "--format", "vcard4", "--out", dir + "/cli.vcf"} + stores);
  ASSERT_EQ(cli.status, 0) << cli.err.toStdString();
  const QStringList expected{"Karl Ek, +46 70 999 88 77, Rektor",
                             "nils@strand.example, +46 8 123 456"};
  EXPECT_EQ(cards(dir + "/cli.vcf"), expected);

  ReviewWindow window(nullptr, stores);
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  RunUtf8Export(*window.TickedContacts(), {Utf8Format::kVCard4, false, dir + "/window.vcf", false},
                quiet);
  EXPECT_EQ(cards(dir + "/window.vcf"), expected);
  // What an older copy held is the entry before it was changed: no row is marked for a look.
  ASSERT_EQ(window.Model().rowCount(), 2);
  for (int r = 0; r < 2; ++r) EXPECT_EQ(window.Model().Attention(r), "") << r;
}

// A group whose entries hold different single values comes first, marked; the detail shows every
// field of every entry and what did not reach the merged contact; a split group is joined again;
// stores are added several at a time; and the choices outlive the window.
TEST(ReviewWindow, GroupsToCheckFirstEveryFieldRejoinAndChoicesKept) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-check");
  const QString older = WriteStore(dir + "/older.pst", R"([
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Contoso", "JobTitle": "Engineer", "Birthday": "1980-05-17",
       "LastModificationTime": "2024-01-01T10:00:00Z"}])");
  const QString newer = WriteStore(dir + "/newer.pst", R"([
      {"FirstName": "Cy", "LastName": "Berg", "Email1Address": "cy@berg.example"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Fabrikam", "JobTitle": "Manager", "Spouse": "Per",
       "LastModificationTime": "2025-01-01T10:00:00Z"}])");
  const QString counts = "4 contacts from 2 stores, %1 after merging, %2 ticked";
  auto row = [](ReviewWindow& w, const QString& name) {
    for (int r = 0; r < w.Model().rowCount(); ++r)
      if (w.Model().index(r, ReviewModel::kName).data().toString() == name) return r;
    return -1;
  };
  {
    ReviewWindow window(nullptr, {});
    window.AddStores({older, newer, older});
    ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
    EXPECT_EQ(window.LblCounts->text(), counts.arg(3).arg(3));
    // Ann's group first, though both stores list her last.
    const QModelIndex first = window.Model().index(0, ReviewModel::kTick);
    EXPECT_EQ(window.Model().index(0, ReviewModel::kName).data().toString(), "Ann Lee");
    EXPECT_EQ(first.data().toString(), "2 merged, check");
    EXPECT_FALSE(first.data(Qt::DecorationRole).isNull());
    EXPECT_TRUE(first.data(Qt::ToolTipRole).toString().contains("the companies differ"));

    window.TableContacts->setCurrentIndex(window.Shown().index(0, ReviewModel::kName));
    ASSERT_EQ(window.TreeDetail->topLevelItemCount(), 3);  // the check, merged, entries
    EXPECT_TRUE(window.TreeDetail->topLevelItem(0)->text(0).contains("the companies differ"));
    // Every field of the merged contact with where it came from: the older company and job title
    // beside the newer ones, as its card holds them. Then every field of each entry (newest
    // first), none of the older company and job title marked as left out.
    QTreeWidgetItem* entries = window.TreeDetail->topLevelItem(2);
    ASSERT_EQ(entries->childCount(), 2);
    auto fields = [](QTreeWidgetItem* entry) {
      QStringList out;
      for (int i = 0; i < entry->childCount(); ++i)
        if (entry->child(i)->text(0) != "Modified")
          out << QStringList{entry->child(i)->text(0), entry->child(i)->text(1),
                             entry->child(i)->text(2)}
                     .join(u'|');
      return out;
    };
    const QStringList merged = fields(window.TreeDetail->topLevelItem(1));
    for (const char* field :
         {"Company|Fabrikam|newer.pst / Contacts #2", "Company|Contoso|older.pst / Contacts #2",
          "Job title|Manager|newer.pst / Contacts #2",
          "Job title|Engineer|older.pst / Contacts #2"})
      EXPECT_TRUE(merged.contains(field)) << field;
    EXPECT_TRUE(fields(entries->child(0)).contains("Spouse|Per|"));
    EXPECT_TRUE(fields(entries->child(1)).contains("Birthday|1980-05-17|"));
    EXPECT_TRUE(fields(entries->child(1)).contains("Company|Contoso|"));
    EXPECT_TRUE(fields(entries->child(1)).contains("Job title|Engineer|"));

    // Split, then joined again.
    window.CmdSplit->click();
    EXPECT_EQ(window.LblCounts->text(), counts.arg(4).arg(4));
    ASSERT_TRUE(window.CmdRejoin->isEnabled());
    window.CmdRejoin->click();
    EXPECT_EQ(window.LblCounts->text(), counts.arg(3).arg(3));
    EXPECT_EQ(window.Model().RowEntries(row(window, "Ann Lee")).size(), 2u);
    // Split again, Bo unticked; the window closed.
    window.TableContacts->setCurrentIndex(
        window.Shown().index(row(window, "Ann Lee"), ReviewModel::kName));
    window.CmdSplit->click();
    window.Model().SetTicked(row(window, "Bo Ek"), false);
    EXPECT_EQ(window.LblCounts->text(), counts.arg(4).arg(3));
    window.reject();
  }
  // Opened again: the same stores, Ann still split, Bo still unticked; and so still after the
  // older store's folder, which holds Bo and one Ann, is unticked and ticked again.
  ReviewWindow again(nullptr, {older});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  EXPECT_EQ(again.LblCounts->text(), counts.arg(4).arg(3));
  EXPECT_FALSE(again.Model().Ticked(row(again, "Bo Ek")));
  ASSERT_NO_FATAL_FAILURE(
      UntickAndTickAgain(again, 0, "2 contacts from 1 store, 2 after merging, 2 ticked"));
  EXPECT_EQ(again.LblCounts->text(), counts.arg(4).arg(3));
  EXPECT_FALSE(again.Model().Ticked(row(again, "Bo Ek")));
  ReviewWindow::LastChoices() = {};
}

// The choices kept stay with their people when an entry is deleted from a store and the others'
// positions shift: a suggestion accepted for Anna still joins Anna, Bo stays unticked, and the
// choice on the deleted entry is dropped and told.
TEST(ReviewWindow, KeptChoicesFollowTheirEntriesWhenAStoreChanges) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-kept");
  // The home store, written again as the mail client changes it: the same record key, and each
  // entry the same node id (a deleted entry goes to the deleted items).
  const QString home = dir + "/home.pst";
  auto writeHome = [&](const QString& deleted, const QString& contacts) {
    QFile file(home + ".json");
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral(R"({"folders": [{"path": "Deleted Items", "items": [%1]},
                                              {"path": "Contacts", "items": [%2]}]})")
                   .arg(deleted, contacts)
                   .toUtf8());
    file.close();
    const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen",
                                          {home + ".json", "--store-key", "home", "--out", home});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
  };
  const QString xavier =
      R"({"FirstName": "Xavier", "LastName": "Gone", "Email1Address": "x@gone.example"})";
  const QString others =
      R"({"FirstName": "Anna", "LastName": "Berg", "Email1Address": "anna@berg.example"},
      {"FirstName": "John", "LastName": "Smith", "Email1Address": "john@smith.example"},
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"})";
  writeHome("", xavier + ", " + others);
  const QString work = WriteStore(dir + "/work.pst", R"([
      {"FirstName": "Anna", "LastName": "Sund", "Email1Address": "anna@berg.example"}])");
  auto rowOf = [](ReviewWindow& w, const QString& name) {
    for (int r = 0; r < w.Model().rowCount(); ++r)
      if (w.Model().index(r, ReviewModel::kName).data().toString() == name) return r;
    return -1;
  };
  {
    ReviewWindow window(nullptr, {home, work});
    ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
    ASSERT_EQ(window.Model().Suggestions().size(), 1u);  // Anna Berg, Anna Sund
    window.Model().Accept(0);
    window.Model().SetTicked(rowOf(window, "Bo Ek"), false);
    window.Model().SetTicked(rowOf(window, "Xavier Gone"), false);
    // The Annas stay one while the work store's folder is left out and taken in again.
    ASSERT_NO_FATAL_FAILURE(
        UntickAndTickAgain(window, 1, "4 contacts from 1 store, 4 after merging, 2 ticked"));
    EXPECT_EQ(window.LblCounts->text(), "5 contacts from 2 stores, 4 after merging, 2 ticked");
    EXPECT_TRUE(window.LblNotice->isHidden());
    window.accept();
  }
  writeHome(xavier, others);
  ReviewWindow again(nullptr, {home, work});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  EXPECT_EQ(again.LblCounts->text(), "4 contacts from 2 stores, 3 after merging, 2 ticked");
  EXPECT_FALSE(again.LblNotice->isHidden());
  EXPECT_EQ(again.LblNotice->text(),
            "1 earlier choice no longer applies: its entries changed or are gone");
  // What it exports: the Annas as one, John alone; Bo unticked.
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  const QString out = dir + "/again.vcf";
  RunUtf8Export(*again.TickedContacts(), {Utf8Format::kVCard4, false, out, false}, quiet);
  QStringList emails;  // of each card
  for (const QJsonValue& card : VObjectReader().ReadOrFail({out}).array()) {
    QStringList own;
    for (const QJsonValue& email : card["EMAIL"].toArray()) own << email["value"].toString();
    emails << own.join(u' ');
  }
  emails.sort();
  EXPECT_EQ(emails, (QStringList{"anna@berg.example", "john@smith.example"}));
  ReviewWindow::LastChoices() = {};
}

// Rows made in the review take in the same people of stores added later: a split John and Mary
// joined from a suggestion, then two copies of the first store added (one copied as a file, one
// written again with a contact more, under a record key of its own) and a store with another
// John Smith. The copies' entries join the rows of the entries they copy, so that nobody is
// written twice; the other John, the same person as both halves of the split, stays apart,
// marked.
TEST(ReviewWindow, RowsMadeTakeTheSamePeopleOfStoresAddedLater) {
  App();
  ReviewWindow::LastChoices() = {};
  const QString dir = ScratchDir("review-follow");
  const char* const people = R"(
      {"FirstName": "John", "LastName": "Smith", "Email1Address": "john.smith@contoso.example"},
      {"FirstName": "John", "MiddleName": "A.", "LastName": "Smith",
       "Email1Address": "john.smith@contoso.example"},
      {"FirstName": "Mary", "LastName": "Jones", "CompanyName": "Contoso",
       "Email1Address": "mary@jones.example"})";
  const QString a = WriteStore(dir + "/a.pst", qPrintable(QStringLiteral("[%1]").arg(people)));
  const QString backup = WriteStore(
      dir + "/backup.pst",
      qPrintable(QStringLiteral(R"([%1, {"FirstName": "Zed", "LastName": "One"}])").arg(people)));
  const QString b = WriteStore(dir + "/b.pst", R"([
      {"FirstName": "Mary", "LastName": "Jones", "CompanyName": "Contoso",
       "Email1Address": "mjones@contoso.example"}])");
  const QString other = WriteStore(dir + "/other.pst", R"([
      {"FirstName": "John", "LastName": "Smith", "Email1Address": "john.smith@contoso.example",
       "MobileTelephoneNumber": "+1 555 0100"}])");
  const QString copy = dir + "/copy.pst";
  ASSERT_TRUE(QFile::copy(a, copy));
  auto rows = [](ReviewWindow& w) {
    QStringList out;
    for (int r = 0; r < w.Model().rowCount(); ++r)
      out << w.Model().index(r, ReviewModel::kName).data().toString() + " | " +
                 w.Model().index(r, ReviewModel::kTick).data().toString();
    out.sort();
    return out;
  };
  {
    ReviewWindow window(nullptr, {a, b});
    ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
    ASSERT_EQ(rows(window), (QStringList{"John Smith | 2 merged", "Mary Jones | suggested",
                                         "Mary Jones | suggested"}));
    ReviewModel& model = window.Model();
    for (int r = 0; r < model.rowCount(); ++r)
      if (model.RowEntries(r).size() == 2) model.Split(r);
    model.Accept(0);
    ASSERT_EQ(rows(window),
              (QStringList{"John A. Smith | ", "John Smith | ", "Mary Jones | 2 merged"}));
    window.accept();
  }
  ReviewWindow again(nullptr, {a});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  again.AddStores({copy, backup, other});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  EXPECT_EQ(rows(again),
            (QStringList{"John A. Smith | 3 merged", "John Smith | 3 merged", "John Smith | check",
                         "Mary Jones | 4 merged", "Zed One | "}));
  EXPECT_EQ(again.LblCounts->text(), "12 contacts from 5 stores, 5 after merging, 5 ticked");
  struct Quiet : Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  const QString out = dir + "/review.vcf";
  EXPECT_EQ(RunUtf8Export(*again.TickedContacts(), {Utf8Format::kVCard4, false, out, false}, quiet)
                .contacts,
            5);
  ReviewWindow::LastChoices() = {};
}

// Choices kept by position, as an earlier form of the settings kept them, are dropped and told,
// not put on whoever holds those positions now.
TEST(ReviewWindow, ChoicesKeptByPositionAreDroppedAndTold) {
  App();
  const QString store = WriteStore(ScratchDir("review-old") + "/old.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee"}, {"FirstName": "Bo", "LastName": "Ek"}])");
  const QString entry = store + "\x1fTop of Personal Folders/Contacts\x1f%1";
  ReviewWindow::LastChoices() = {};
  ReviewWindow::LastChoices().rows = {{entry.arg(1), entry.arg(2)}};  // Ann and Bo joined
  ReviewWindow::LastChoices().untickedEntries = {entry.arg(2)};
  ReviewWindow window(nullptr, {store});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  EXPECT_EQ(window.LblCounts->text(), "2 contacts from 1 store, 2 after merging, 2 ticked");
  EXPECT_EQ(window.LblNotice->text(),
            "2 earlier choices no longer apply: their entries changed or are gone");
  ReviewWindow::LastChoices() = {};
}

// When every entry is read and grouped, the table shows its top, where the rows that need a look
// come first: Ann's group, marked, though the table showed the first store's entries while they
// were read.
TEST(ReviewWindow, TheRowsToCheckAreInSightOnceGrouped) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString dir = testing::ScratchDir("review-top");
  QStringList many;
  for (int n = 1; n <= 60; ++n)
    many << QStringLiteral(R"({"FirstName": "Person", "LastName": "No%1"})").arg(n);
  const QString first = WriteStore(dir + "/many.pst", qPrintable(u'[' + many.join(u',') + u']'));
  const QString ann = WriteStore(dir + "/ann.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Contoso"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "CompanyName": "Fabrikam"}])");
  ReviewWindow window(nullptr, {first, ann});
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  QCoreApplication::processEvents();
  const QModelIndex top = window.TableContacts->indexAt(QPoint(1, 1));
  EXPECT_EQ(top.row(), 0);
  EXPECT_EQ(window.Shown().index(top.row(), ReviewModel::kTick).data().toString(),
            "2 merged, check");
}

// A suggestion accepted makes a group to check, whose marks the column then shows whole; the
// suggestion's line in the pane below, cut where the pane is narrow, is whole in its tooltip.
TEST(ReviewWindow, MarksShownWholeAfterAnAnswer) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString store = WriteStore(testing::ScratchDir("review-marks") + "/maria.pst", R"([
      {"FirstName": "Maria", "LastName": "Berg", "Email1Address": "maria@berg.example"},
      {"FirstName": "Maria", "LastName": "Sund", "Email1Address": "maria@berg.example"}])");
  ReviewWindow window(nullptr, {store});
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  window.TableContacts->setCurrentIndex(window.Shown().index(0, ReviewModel::kName));
  const QTreeWidgetItem* suggestion = window.TreeDetail->topLevelItem(0);
  EXPECT_TRUE(suggestion->text(0).startsWith("Suggestion (accept or decline)"));
  EXPECT_EQ(suggestion->toolTip(0), suggestion->text(0));
  window.CmdAccept->click();
  ASSERT_EQ(window.Shown().index(0, ReviewModel::kTick).data().toString(), "2 merged, check");
  QCoreApplication::processEvents();
  EXPECT_GE(
      window.TableContacts->columnWidth(ReviewModel::kTick),
      static_cast<QAbstractItemView*>(window.TableContacts)->sizeHintForColumn(ReviewModel::kTick));
}

// A suggestion accepted, then its row split, is answered: apart, also when the review is opened
// again, not asked again.
TEST(ReviewWindow, ASplitAfterAnAcceptIsKeptAsTheAnswer) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString store = WriteStore(testing::ScratchDir("review-split-answer") + "/maria.pst", R"([
      {"FirstName": "Maria", "LastName": "Berg", "Email1Address": "maria@berg.example"},
      {"FirstName": "Maria", "LastName": "Sund", "Email1Address": "maria@berg.example"}])");
  const QString apart = "2 contacts from 1 store, 2 after merging, 2 ticked";
  {
    ReviewWindow window(nullptr, {store});
    ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
    ASSERT_EQ(window.LblCounts->text(), apart + ", 1 suggestion to answer");
    window.Model().Accept(0);
    window.Model().Split(0);
    EXPECT_EQ(window.LblCounts->text(), apart);
    window.accept();
  }
  ReviewWindow again(nullptr, {store});
  ASSERT_TRUE(WaitFor([&] { return again.Loaded(); }));
  EXPECT_EQ(again.LblCounts->text(), apart);
  ReviewWindow::LastChoices() = {};
}

// Mail kept beside a contact in a folder of mail is no contact: the review lists the one contact.
TEST(ReviewWindow, MailBesideAContactIsPassedOver) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString store =
      WriteDescribed(testing::ScratchDir("review-mixed") + "/mixed.pst",
                     R"({"folders": [{"path": "Mixed", "containerClass": "IPF.Note",
      "items": [{"FirstName": "Yann", "LastName": "Bell"},
                {"messageClass": "IPM.Note", "Subject": "Lunch on Friday?"},
                {"messageClass": "IPM.Note", "Subject": "Invoice 4711"}]}]})");
  ReviewWindow window(nullptr, {store});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  ASSERT_EQ(window.Model().rowCount(), 1);
  EXPECT_EQ(window.Model().index(0, ReviewModel::kName).data().toString(), "Yann Bell");
}

// "Suggested Contacts" is listed unticked; ticking it reads its entries too.
TEST(ReviewWindow, AutoCollectedFoldersAreOfferedUnticked) {
  testing::App();
  const QString store = WriteStore(testing::ScratchDir("review") + "/one.pst",
                                   R"([{"FirstName": "Ann", "LastName": "Lee"}])");
  ReviewWindow window(nullptr, {store});
  ASSERT_TRUE(WaitFor([&] { return window.Loaded(); }));
  EXPECT_EQ(window.Model().Entries(), 1);
  QTreeWidgetItem* suggested = nullptr;
  for (QTreeWidgetItem* item :
       window.TreeSources->findItems("Suggested", Qt::MatchStartsWith | Qt::MatchRecursive))
    suggested = item;
  ASSERT_NE(suggested, nullptr);
  EXPECT_EQ(suggested->checkState(0), Qt::Unchecked);
  suggested->setCheckState(0, Qt::Checked);
  ASSERT_TRUE(WaitFor([&] { return window.Loaded() && window.Model().Entries() == 2; }));
}

struct ViewCase {
  const char* search;
  int column;  // sorted by; -1: the rows' own order
  Qt::SortOrder order;
  QStringList names;  // shown, in order
};

ReviewEntry Person(const char* name, const char* company, const char* email) {
  ReviewEntry e;
  e.name = QString::fromUtf8(name);
  e.company = QString::fromUtf8(company);
  e.email = QString::fromUtf8(email);
  return e;
}

// Search without case (also beyond ASCII) and sort by a column, set before the second half of the
// rows arrives: those rows are searched and placed as they come.
TEST(ReviewWindow, SearchAndSortHoldForRowsReadLater) {
  const std::vector<ViewCase> cases = {
      {"müller", -1, Qt::AscendingOrder, {"Carl Müller", "Bob Stone"}},
      {"MÜLLER", ReviewModel::kName, Qt::DescendingOrder, {"Carl Müller", "Bob Stone"}},
      {"",
       ReviewModel::kName,
       Qt::AscendingOrder,
       {"anna Berg", "Bob Stone", "Carl Müller", "Zoe Adams", "Ömer Çelik"}},
      {"contoso", ReviewModel::kCompany, Qt::AscendingOrder, {"Zoe Adams", "Ömer Çelik"}},
      {"ann", ReviewModel::kEmail, Qt::AscendingOrder, {"Carl Müller", "anna Berg"}},
      {"adamscontoso", -1, Qt::AscendingOrder, {}},  // a search never spans two fields
  };
  for (const ViewCase& c : cases) {
    SCOPED_TRACE(c.search);
    ReviewModel model;
    ReviewView view(&model, nullptr);
    model.AddEntries({Person("Zoe Adams", "Contoso", "zoe@adams.example"),
                      Person("Carl Müller", "Lee", "ann.c@mueller.example")});
    view.sort(c.column, c.order);
    view.Search(QString::fromUtf8(c.search));
    model.AddEntries({Person("anna Berg", "Fabrikam", "anna@berg.example"),
                      Person("Ömer Çelik", "CONTOSO Ltd", "omer@celik.example"),
                      Person("Bob Stone", "", "bob@MÜLLER.example")});
    QStringList names;
    for (int row = 0; row < view.rowCount(); ++row)
      names << view.index(row, ReviewModel::kName).data().toString();
    EXPECT_EQ(names, c.names);
  }
}

// The current contact stays current through a search and a sort that still show it.
TEST(ReviewWindow, CurrentRowStaysWithItsContact) {
  ReviewModel model;
  ReviewView view(&model, nullptr);
  model.AddEntries(
      {Person("Zoe Adams", "", ""), Person("Carl Müller", "", ""), Person("Bob Stone", "", "")});
  QItemSelectionModel selection(&view);
  selection.setCurrentIndex(view.index(1, ReviewModel::kName), QItemSelectionModel::NoUpdate);
  view.Search("a");  // Zoe Adams, Carl Müller
  EXPECT_EQ(selection.currentIndex().data().toString(), "Carl Müller");
  EXPECT_EQ(selection.currentIndex().row(), 1);
  view.sort(ReviewModel::kName);
  EXPECT_EQ(selection.currentIndex().data().toString(), "Carl Müller");
  EXPECT_EQ(selection.currentIndex().row(), 0);
  view.Search("zoe");
  EXPECT_FALSE(selection.currentIndex().isValid());
}

// A group split after a suggestion was accepted parts into one row per entry. Accepting makes
// the rows anew with little room to spare, so that the rows the split takes in move the others.
TEST(ReviewWindow, SplitAfterAnAcceptPartsEveryEntry) {
  ReviewModel model;
  std::vector<ReviewEntry> entries(5, Person("Karl Meyer", "", "karl@meyer.example"));
  entries.push_back(Person("Maria Berg", "", "maria@berg.example"));
  entries.push_back(Person("Maria Sund", "", "maria@berg.example"));
  entries.push_back(Person("Bo Ek", "", "bo@ek.example"));
  model.AddEntries(entries);
  ReviewGrouping found;
  found.groups.push_back({{0, 1, 2, 3, 4}, "same e-mail address", {}});
  found.suggestions.push_back({5, 6, "same e-mail address, other surname", "maria@berg.example"});
  model.Group(found);
  ASSERT_EQ(model.rowCount(), 4);
  model.Accept(0);
  ASSERT_EQ(model.rowCount(), 3);
  model.Split(model.RowOfEntry(0));
  EXPECT_EQ(model.rowCount(), 7);  // Karl's five, the Marias, Bo
  for (int e = 0; e < 5; ++e) EXPECT_EQ(model.RowEntries(model.RowOfEntry(e)).size(), 1u) << e;
}

// A group's names are compared pair by pair: two names that conflict are marked, also when
// neither is the first entry's ("Una Holm" holds the words of both others).
TEST(ReviewWindow, EveryTwoNamesOfAGroupAreCompared) {
  const struct {
    std::vector<const char*> names;
    QString check;
  } cases[] = {
      {{"Una Holm", "Una M. Holm", "Una K. Holm"}, "the names differ (Una M. Holm / Una K. Holm)"},
      {{"Una Holm", "Una M. Holm", "Holm, Una M."}, ""},
      {{"Maria Berg", "Maria Sund"}, "the names differ (Maria Berg / Maria Sund)"},
  };
  for (const auto& c : cases) {
    ReviewModel model;
    std::vector<ReviewEntry> entries;
    std::vector<int> group;
    for (const char* name : c.names) {
      group.push_back(int(entries.size()));
      entries.push_back(Person(name, "", "una@holm.example"));
    }
    model.AddEntries(entries);
    ReviewGrouping found;
    found.groups.push_back({group, "same e-mail address", {}});
    model.Group(found);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.Attention(0), c.check) << c.names[0];
  }
}

// What the review ticks is what "Send to an Address Book..." sends: two stores reviewed from the
// export dialog, Bo unticked, Ann's group split, Di's kept, sent into a KDE Contacts folder and
// read back by strict vobject.
TEST(ReviewWindow, SendTakesExactlyTheTickedContacts) {
  testing::App();
  const QString dir = testing::ScratchDir("review-send");
  const QString older = WriteStore(dir + "/older.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example"},
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"},
      {"FirstName": "Di", "LastName": "Fox", "Email1Address": "di@fox.example"}])");
  const QString newer = WriteStore(dir + "/newer.pst", R"([
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "MobileTelephoneNumber": "+49 30 1234567"},
      {"FirstName": "Cy", "LastName": "Berg", "Email1Address": "cy@berg.example"},
      {"FirstName": "Di", "LastName": "Fox", "Email1Address": "di@fox.example",
       "HomeTelephoneNumber": "+49 30 7654321"}])");
  // What a send remembers of earlier sends is kept in the test's own folder.
  qputenv("XDG_STATE_HOME", QFile::encodeName(dir + "/state"));
  ExportDialog dialog(nullptr, ExportSource{false, older, {}});

  testing::OnNextModal([&](QWidget* modal) {
    auto* review = qobject_cast<ReviewWindow*>(modal);
    ASSERT_NE(review, nullptr);
    review->AddStore(newer);
    ASSERT_TRUE(WaitFor([&] { return review->Loaded() && review->Model().Entries() == 6; }));
    ReviewModel& model = review->Model();
    for (int row = 0; row < model.rowCount(); ++row) {
      const QString name = model.index(row, ReviewModel::kName).data().toString();
      if (name == "Bo Ek") model.SetTicked(row, false);
      if (name == "Ann Lee") model.Split(row);
    }
    review->CmdUse->click();
  });
  dialog.CmdReview->click();

  // Sends what the review chose into a KDE folder: the cards there after, and how many the send
  // removed.
  const QString book = dir + "/kde-contacts";
  const auto send = [&](int& removed) {
    testing::OnNextModal([&](QWidget* modal) {
      auto* panel = qobject_cast<SendPanel*>(modal);
      ASSERT_NE(panel, nullptr);
      panel->OptKde->setChecked(true);
      panel->EdtKdeFolder->setText(book);
      panel->CmdSend->click();
      EXPECT_TRUE(WaitFor([&] { return !panel->Running(); }));
      EXPECT_EQ(panel->LastError(), QString());
      removed = panel->LastResult().removed;
      panel->CmdClose->click();
    });
    dialog.CmdSendTo->click();
    QStringList files;
    for (const QString& file : QDir(book).entryList({"*.vcf"}, QDir::Files))
      files << book + "/" + file;
    return VObjectReader().ReadOrFail(files).array();
  };
  int removed = 0;
  const QJsonArray cards = send(removed);
  EXPECT_EQ(Names(cards), (QStringList{"Ann Lee", "Ann Lee", "Cy Berg", "Di Fox"}));
  QStringList phones;  // the split Anns each with their own; Di with the merged one
  for (const QJsonValue& card : cards)
    phones << card["FN"][0]["value"].toString() + ": " +
                  QString::number(card["TEL"].toArray().size());
  phones.sort();
  EXPECT_EQ(phones, (QStringList{"Ann Lee: 0", "Ann Lee: 1", "Cy Berg: 0", "Di Fox: 1"}));

  // Reviewed again with the Anns joined once more: one card of Ann is left in the book.
  testing::OnNextModal([&](QWidget* modal) {
    auto* review = qobject_cast<ReviewWindow*>(modal);
    ASSERT_NE(review, nullptr);
    ASSERT_TRUE(WaitFor([&] { return review->Loaded() && review->Model().Entries() == 6; }));
    ReviewModel& model = review->Model();
    for (int row = 0; row < model.rowCount(); ++row)
      if (model.index(row, ReviewModel::kName).data().toString() == "Ann Lee" &&
          model.CanRejoin(row)) {
        model.Rejoin(row);
        break;
      }
    review->CmdUse->click();
  });
  dialog.CmdReview->click();
  EXPECT_EQ(Names(send(removed)), (QStringList{"Ann Lee", "Cy Berg", "Di Fox"}));
  EXPECT_EQ(removed, 1);
  ReviewWindow::LastChoices() = {};
  qunsetenv("XDG_STATE_HOME");
}

// "All contact folders" is for the dialog's own store: ticked before a review, it stays off and
// ignored while the export is of the reviewed contacts, also after a run, so that no card takes
// its folder's name as a category.
TEST(ReviewWindow, AllFoldersStaysOffForAReviewedExport) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString dir = testing::ScratchDir("review-all-folders");
  const QString store = WriteStore(dir + "/one.pst", R"([{"FirstName": "Ann", "LastName": "Lee"},
                                                          {"FirstName": "Bo", "LastName": "Ek"}])");
  auto dialogs = std::make_shared<testing::ScriptedDialogs>();
  SetDialogs(dialogs);
  ExportDialog dialog(nullptr, ExportSource{false, store, {}});
  dialog.ChkAllFolders->setChecked(true);
  testing::OnNextModal([&](QWidget* modal) {
    auto* review = qobject_cast<ReviewWindow*>(modal);
    ASSERT_NE(review, nullptr);
    ASSERT_TRUE(WaitFor([&] { return review->Loaded(); }));
    review->CmdUse->click();
  });
  dialog.CmdReview->click();
  for (const char* name : {"first.vcf", "second.vcf"}) {
    EXPECT_FALSE(dialog.ChkAllFolders->isEnabled()) << name;
    dialogs->saveFile = dir + "/" + name;
    dialog.CmdExport->click();
    ASSERT_TRUE(WaitFor([&] { return !dialog.Running(); }));
    const QJsonArray cards = VObjectReader().ReadOrFail({dialogs->saveFile}).array();
    EXPECT_EQ(Names(cards), (QStringList{"Ann Lee", "Bo Ek"})) << name;
    for (const QJsonValue& card : cards)
      EXPECT_FALSE(card.toObject().contains("CATEGORIES")) << name;
  }
  SetDialogs(nullptr);
  ReviewWindow::LastChoices() = {};
}

// A damaged store's entries that cannot be read, or are read without some of their fields, are
// told by the export and the send of the review exactly as by those of the store's own folder. Bo's
// and Di's entries point at one data block (tools/mutate), Ann's categories are stored as a number.
TEST(ReviewWindow, EntriesNotReadWholeAreToldAsByThePlainExportAndSend) {
  testing::App();
  ReviewWindow::LastChoices() = {};
  const QString dir = testing::ScratchDir("review-damaged");
  const QString whole = WriteDescribed(dir + "/whole.pst", R"({"folders": [{"path": "Contacts",
      "items": [{"FirstName": "Ann", "LastName": "Lee", "properties": [
                  {"set": "PS_PUBLIC_STRINGS", "name": "Keywords", "type": "int32", "value": 5}]},
                {"FirstName": "Bo", "LastName": "Ek"}, {"FirstName": "Cy", "LastName": "Berg"},
                {"FirstName": "Di", "LastName": "Fox"}, {"FirstName": "Ed", "LastName": "Holm"}]}]})");
  const QString store = dir + "/damaged.pst";
  ASSERT_EQ(
      RunProgram("/usr/bin/python3", {testing::SourceDir() + "/tools/mutate/share_contact_data.py",
                                      whole, store, "2", "4"})
          .status,
      0);
  auto dialogs = std::make_shared<testing::ScriptedDialogs>();
  SetDialogs(dialogs);
  SetMailProvider(MakeStoreMailProvider(nullptr));
  qputenv("XDG_STATE_HOME", QFile::encodeName(dir + "/state"));
  // What the end of the export says, and the send's lines after its counts.
  auto exportAndSend = [&](ExportDialog& dialog, const QString& book) {
    dialogs->saveFile = dir + "/contacts.vcf";
    dialog.CmdExport->click();
    EXPECT_TRUE(WaitFor([&] { return !dialog.Running(); }));
    QStringList said{dialog.LblResult->text()};
    testing::OnNextModal([&](QWidget* modal) {
      auto* panel = qobject_cast<SendPanel*>(modal);
      ASSERT_NE(panel, nullptr);
      panel->OptKde->setChecked(true);
      panel->EdtKdeFolder->setText(dir + "/" + book);
      panel->CmdSend->click();
      EXPECT_TRUE(WaitFor([&] { return !panel->Running(); }));
      said << panel->LblResult->text().section(u'\n', 1);
      panel->CmdClose->click();
    });
    dialog.CmdSendTo->click();
    return said;
  };
  const ExportSource folder{true, store, "Top of Personal Folders/Contacts"};
  ExportDialog plain(nullptr, folder);
  const QStringList expected = exportAndSend(plain, "plain");
  ASSERT_EQ(expected.size(), 2);
  EXPECT_TRUE(
      expected[0].contains("2 entries could not be read and were left out:\n"
                           "  Top of Personal Folders/Contacts, entry 2: "))
      << expected[0].toStdString();
  EXPECT_TRUE(expected[0].contains("1 contact was written without some of its fields:"));
  EXPECT_EQ(expected[1],
            "2 entries of the store could not be read and were not sent.\n"
            "1 entry of the store was sent without some of its fields.");

  ExportDialog reviewed(nullptr, folder);
  testing::OnNextModal([&](QWidget* modal) {
    auto* review = qobject_cast<ReviewWindow*>(modal);
    ASSERT_NE(review, nullptr);
    ASSERT_TRUE(WaitFor([&] { return review->Loaded(); }));
    EXPECT_EQ(review->LblCounts->text(),
              "3 contacts from 1 store, 3 after merging, 3 ticked; 2 entries could not be read");
    // Ann's entry, read without its categories, says so in the detail pane.
    QStringList lines;
    for (int row = 0; row < review->Shown().rowCount(); ++row) {
      review->TableContacts->setCurrentIndex(review->Shown().index(row, ReviewModel::kName));
      for (int i = 0; i < review->TreeDetail->topLevelItemCount(); ++i)
        if (review->TreeDetail->topLevelItem(i)->text(0).startsWith("Not whole"))
          lines << review->Shown().index(row, ReviewModel::kName).data().toString();
    }
    EXPECT_EQ(lines, QStringList{"Ann Lee"});
    review->CmdUse->click();
  });
  reviewed.CmdReview->click();
  EXPECT_EQ(exportAndSend(reviewed, "reviewed"), expected);
  qunsetenv("XDG_STATE_HOME");
  SetMailProvider(nullptr);
  SetDialogs(nullptr);
  ReviewWindow::LastChoices() = {};
}

}  // namespace
}  // namespace lumivex
