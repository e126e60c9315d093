// merge_bench: three stores sharing people, merged into one vCard 4.0 file, against the same
// three exported without merging.
//
//   merge_bench [--runs N] [--work DIR] [--contacts N] [--shared PERCENT]
//
// (--runs 0: the false and missed merges only.)
//
// Makes three stores of N contacts (default 100,000) with lumivex-pstgen --people, PERCENT
// (default 30) of each store's people in all three, the others in one store only, the second and
// third store holding the shared people as other address books would (--variant 1 and 2); kept
// in DIR (default the temporary folder) for later runs. Each run writes the three stores'
// contacts as one vCard 4.0 file twice, in turn, each as a process of its own: merged
// (OpenContacts with merging) and every entry as it is. Prints each run's wall and processor time
// and peak memory, then the medians and the ratio of merged to unmerged; then, against the true
// identity of every entry (the .people files lumivex-pstgen writes beside the stores), the false
// merges (cards holding two people or more, and the people lost in them) and the missed merges
// (people left on more than one card).
//
// With --export MODE OUT STORE...: the child's work (MODE "merged" or "every"); prints the number
// of contacts written.
//
// With --review [--shots DIR] STORE...: opens the review window on the stores and prints how long
// its first rows, all rows and the merging take and the peak memory; with --shots, grabs the
// window at its first rows, once read and merged (the counts), with a search typed, and with a
// group of merged entries shown, as PNG files into DIR.
#include "app/ReviewWindow.h"
#include "bench/PeakMemory.h"
#include "bench/RunProgram.h"
#include "contact/VCardWriter.h"
#include "merge/ContactSources.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using lumivex::bench::Measured;
using lumivex::bench::RunProgram;

template <typename T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Export(const QString& mode, const QString& out, const QStringList& stores) {
  lumivex::merge::StoreSelection options;
  options.stores = stores;
  options.merge = mode == u"merged";
  QFile file(out);
  if (!file.open(QIODevice::WriteOnly)) return 1;
  auto stream = lumivex::merge::OpenContacts(options);
  lumivex::contact::SourcedContact c;
  QByteArray buffer;
  int written = 0;
  while (stream->Next(c)) {
    lumivex::contact::AppendVCard(buffer, c.contact, lumivex::contact::VCardVersion::k40);
    ++written;
    if (buffer.size() >= (1 << 16)) {
      file.write(buffer);
      buffer.clear();
    }
  }
  file.write(buffer);
  std::printf("%d contacts, %zu entries unreadable\n", written, stream->Problems().size());
  return 0;
}

// Merges the stores once more and counts, against the true identity of each entry (the
// STORE.people file beside each store: "POSITION PERSON" a line), the cards holding several
// people and the people left on several cards.
int CountIdentities(const QStringList& stores) {
  QHash<QString, std::vector<uint32_t>> people;  // store: person of each position (from 1)
  for (const QString& store : stores) {
    QFile file(store + ".people");
    if (!file.open(QIODevice::ReadOnly)) {
      std::printf("%s.people is missing: write the store again to count false merges\n",
                  qPrintable(store));
      return 1;
    }
    std::vector<uint32_t>& of = people[QFileInfo(store).absoluteFilePath()];
    of.push_back(0);
    while (!file.atEnd()) of.push_back(file.readLine().trimmed().split(' ').value(1).toUInt());
  }
  lumivex::merge::StoreSelection options;
  options.stores = stores;
  auto stream = lumivex::merge::OpenContacts(options);
  lumivex::contact::SourcedContact c;
  std::unordered_map<uint32_t, int> cardsOf;  // person: the cards holding them
  long cards = 0, falseCards = 0, lost = 0, missed = 0;
  std::vector<uint32_t> in;
  while (stream->Next(c)) {
    ++cards;
    in.clear();
    for (const lumivex::contact::Origin& o : c.origins) {
      const std::vector<uint32_t>& of = people[QFileInfo(o.store).absoluteFilePath()];
      in.push_back(o.position < int(of.size()) ? of[size_t(o.position)] : 0);
    }
    std::sort(in.begin(), in.end());
    in.erase(std::unique(in.begin(), in.end()), in.end());
    if (in.size() > 1) {
      ++falseCards;
      lost += long(in.size()) - 1;
      // The first few told whole: each entry, its true person and the rule that joined it.
      if (falseCards <= 5)
        for (const lumivex::contact::Origin& o : c.origins) {
          const std::vector<uint32_t>& of = people[QFileInfo(o.store).absoluteFilePath()];
          std::printf("  false merge %ld: %s #%d (person %u) \"%s\" by %s: %s\n", falseCards,
                      qPrintable(QFileInfo(o.store).fileName()), o.position,
                      o.position < int(of.size()) ? of[size_t(o.position)] : 0, qPrintable(o.name),
                      qPrintable(o.joinedBy), qPrintable(o.matched));
        }
    }
    for (const uint32_t person : in) ++cardsOf[person];
  }
  for (const auto& [person, n] : cardsOf) missed += n - 1;
  const auto* merged = dynamic_cast<const lumivex::merge::MergedContacts*>(stream.get());
  std::printf(
      "%ld cards for %zu people: false merges %ld (cards holding 2 people or more; %ld people "
      "lost in them), missed merges %ld (people on a second card), %zu suggestions\n",
      cards, cardsOf.size(), falseCards, lost, missed,
      merged ? merged->Suggestions().size() : size_t(0));
  return falseCards == 0 ? 0 : 1;
}

template <typename Condition>
bool WaitFor(Condition done, int ms = 120000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && !clock.hasExpired(ms))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

// What typing into the search box cost: for each key the longest time the window's thread was
// busy at once after it (what the user waits for before the next key shows), and the time from
// the last key to the last change of the rows shown.
struct Typed {
  QString perKey;  // "0.012 0.010 ... s"
  double settled = 0;
  int shown = 0;
};

Typed Type(lumivex::ReviewWindow& window, const QString& text) {
  Typed typed;
  QElapsedTimer sinceKey, busy;
  int shown = window.Shown().rowCount();
  // An empty text is one key: the search box emptied at once.
  const int keys = text.isEmpty() ? 1 : int(text.size());
  for (int k = 1; k <= keys; ++k) {
    double longest = 0;
    sinceKey.start();
    busy.start();
    window.TxtSearch->setText(text.left(k));
    longest = busy.nsecsElapsed() / 1e9;
    if (window.Shown().rowCount() != shown) {
      shown = window.Shown().rowCount();
      typed.settled = sinceKey.nsecsElapsed() / 1e9;
    }
    // The next key after 150 ms; after the last one, a second for the rows to settle.
    while (!sinceKey.hasExpired(k == keys ? 1500 : 150)) {
      busy.start();
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      longest = std::max(longest, busy.nsecsElapsed() / 1e9);
      if (window.Shown().rowCount() != shown) {
        shown = window.Shown().rowCount();
        typed.settled = sinceKey.nsecsElapsed() / 1e9;
      }
      QThread::usleep(500);
    }
    typed.perKey += QString::asprintf("%.3f ", longest);
  }
  typed.perKey += u's';
  typed.shown = shown;
  return typed;
}

int Review(QStringList args) {
  QString shots;
  if (args.size() >= 2 && args[0] == u"--shots") {
    shots = args[1];
    args = args.mid(2);
  }
  QElapsedTimer clock;
  clock.start();
  lumivex::ReviewWindow window(nullptr, args);
  window.resize(1280, 800);
  window.show();
  auto grab = [&](const char* name) {
    if (shots.isEmpty()) return;
    QCoreApplication::processEvents();
    window.grab().save(QDir(shots).filePath(QString::fromLatin1(name)));
  };
  if (!WaitFor([&] { return window.Model().rowCount() > 0; })) return 1;
  const double first = clock.nsecsElapsed() / 1e9;
  grab("review-first-rows.png");
  // A contact made current and scrolled to while reading: still so once the rows are grouped.
  auto nameAt = [&](const QModelIndex& at) {
    return window.Shown().index(at.row(), lumivex::ReviewModel::kName).data().toString();
  };
  const QModelIndex chosen = window.Shown().index(window.Shown().rowCount() / 2, 1);
  window.TableContacts->setCurrentIndex(chosen);
  window.TableContacts->scrollTo(chosen, QAbstractItemView::PositionAtTop);
  QCoreApplication::processEvents();
  const QString current = nameAt(window.TableContacts->currentIndex());
  const QString top = nameAt(window.TableContacts->indexAt(QPoint(1, 1)));
  if (!WaitFor([&] { return window.Loaded(); }, 600000)) return 1;
  const double all = clock.nsecsElapsed() / 1e9;
  QCoreApplication::processEvents();
  std::printf(
      "while reading, current %s and at the top %s; once grouped, current %s and at the "
      "top %s\n",
      qPrintable(current), qPrintable(top),
      qPrintable(nameAt(window.TableContacts->currentIndex())),
      qPrintable(nameAt(window.TableContacts->indexAt(QPoint(1, 1)))));
  std::printf(
      "first rows after %.3f s; %d entries read and merged into %d rows after %.2f s; "
      "peak %.1f MiB\n%s\n",
      first, window.Model().Entries(), window.Model().rowCount(), all,
      lumivex::bench::PeakKiB() / 1024.0, qPrintable(window.CountsText()));
  grab("review-counts.png");
  // A contact the merge suggests may be another, shown with the suggestion to answer.
  for (int row = 0; row < window.Shown().rowCount(); ++row)
    if (window.Shown().index(row, 0).data().toString().contains(QStringLiteral("suggested"))) {
      window.TableContacts->setCurrentIndex(window.Shown().index(row, 1));
      grab("review-suggestion.png");
      break;
    }
  // A group of several entries, shown with its merged contact.
  for (int row = 0; row < window.Model().rowCount(); ++row)
    if (window.Model().RowEntries(row).size() > 2) {
      const QModelIndex at = window.Shown().mapFromSource(window.Model().index(row, 1));
      QElapsedTimer detail;
      detail.start();
      window.TableContacts->setCurrentIndex(at);
      std::printf(
          "a group of %zu entries shown below the table (its entries read again) in %.3f s\n",
          window.Model().RowEntries(row).size(), detail.nsecsElapsed() / 1e9);
      window.TableContacts->scrollTo(at, QAbstractItemView::PositionAtCenter);
      break;
    }
  grab("review-duplicate-group.png");
  window.TreeDetail->scrollToBottom();  // the group's entries, each with the rule that joined it
  grab("review-group-entries.png");
  // A name typed a key at a time, as a user types (a key every 150 ms), unsorted and then
  // sorted by name, and the search emptied again.
  const Typed plain = Type(window, QStringLiteral("Müller"));
  std::printf(
      "typing \"Müller\" over %d rows: longest wait for the window per key %s; rows "
      "shown %.3f s after the last key, %d shown\n",
      window.Model().rowCount(), qPrintable(plain.perKey), plain.settled, plain.shown);
  grab("review-search.png");
  QElapsedTimer sorting;
  sorting.start();
  window.TableContacts->sortByColumn(lumivex::ReviewModel::kName, Qt::AscendingOrder);
  QCoreApplication::processEvents();
  std::printf("sorting by name (a heading clicked, %d shown of %d rows): %.3f s\n",
              window.Shown().rowCount(), window.Model().rowCount(), sorting.nsecsElapsed() / 1e9);
  const Typed cleared = Type(window, QString());
  std::printf("search emptied, sorted by name: %s; all %d rows shown %.3f s after\n",
              qPrintable(cleared.perKey), cleared.shown, cleared.settled);
  const Typed sorted = Type(window, QStringLiteral("Müller"));
  std::printf(
      "typing \"Müller\" sorted by name: longest wait per key %s; shown %.3f s after the "
      "last key, %d shown\n",
      qPrintable(sorted.perKey), sorted.settled, sorted.shown);
  grab("review-search-sorted.png");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--review") {
    QApplication app(argc, argv);
    return Review(QCoreApplication::arguments().mid(2));
  }
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments().mid(1);
  if (args.size() >= 3 && args[0] == u"--export") return Export(args[1], args[2], args.mid(3));
  int runs = 3;
  int contacts = 100000;
  int shared = 30;
  QString work = QDir::tempPath();
  // Every argument is read: a lone "--help", or an option without its value, gives the usage
  // rather than a whole run of the defaults.
  bool usage = false;
  for (int i = 0; i < args.size() && !usage; i += 2) {
    const QString value = i + 1 < args.size() ? args[i + 1] : QString();
    if (value.isNull())
      usage = true;
    else if (args[i] == u"--runs")
      runs = std::max(0, value.toInt());
    else if (args[i] == u"--work")
      work = value;
    else if (args[i] == u"--contacts")
      contacts = std::max(10, value.toInt());
    else if (args[i] == u"--shared")
      shared = std::clamp(value.toInt(), 0, 100);
    else
      usage = true;
  }
  if (usage) {
    std::printf("Usage: merge_bench [--runs N] [--work DIR] [--contacts N] [--shared PERCENT]\n");
    return 2;
  }
  if (!QDir().mkpath(work)) {
    std::printf("merge_bench: cannot make the folder %s\n", qPrintable(work));
    return 1;
  }
  const QString bin = QCoreApplication::applicationDirPath();
  const int common = contacts * shared / 100;
  QStringList stores;
  for (int k = 0; k < 3; ++k) {
    // Store k: the shared people 1..common, then its own people from 1,000,000 * (k + 1).
    const int own = 1000000 * (k + 1);
    const QString path = QDir(work).filePath(
        QStringLiteral("merge-bench-v2-%1-%2-%3.pst").arg(contacts).arg(shared).arg(k + 1));
    stores << path;
    if (QFileInfo::exists(path)) continue;
    QString people = QStringLiteral("%1-%2").arg(own + 1).arg(own + contacts - common);
    if (common > 0) people = QStringLiteral("1-%1,").arg(common) + people;
    std::printf("Writing %s (%s)\n", qPrintable(path), qPrintable(people));
    const Measured made =
        RunProgram({(bin + "/lumivex-pstgen").toStdString(), "--people", people.toStdString(),
                    "--seed", "7", "--variant", std::to_string(k), "--out", path.toStdString()});
    if (made.status != 0) {
      std::printf("lumivex-pstgen failed (status %d)\n", made.status);
      return 1;
    }
  }
  const QString out = QDir(work).filePath(QStringLiteral("merge-bench-out.vcf"));
  std::vector<double> wall[2], cpu[2];
  std::vector<long> peak[2];
  const char* modes[2] = {"merged", "every"};
  for (int r = 0; r < runs; ++r)
    for (int m = 0; m < 2; ++m) {
      std::vector<std::string> argv = {QCoreApplication::applicationFilePath().toStdString(),
                                       "--export", modes[m], out.toStdString()};
      for (const QString& s : stores) argv.push_back(s.toStdString());
      const Measured t = RunProgram(argv);
      if (t.status != 0) {
        std::printf("the %s export failed (status %d)\n", modes[m], t.status);
        return 1;
      }
      wall[m].push_back(t.seconds);
      cpu[m].push_back(t.cpuSeconds);
      peak[m].push_back(t.peakKiB);
      std::printf("run %d %-6s wall %.2f s  cpu %.2f s  peak %.1f MiB  output %.1f MB\n", r + 1,
                  modes[m], t.seconds, t.cpuSeconds, t.peakKiB / 1024.0,
                  QFileInfo(out).size() / 1e6);
    }
  QFile::remove(out);
  if (runs == 0) return CountIdentities(stores);  // the identities only
  std::printf("3 stores x %d contacts, %d%% shared; medians of %d runs:\n", contacts, shared, runs);
  for (int m = 0; m < 2; ++m)
    std::printf("  %-6s wall %.2f s  cpu %.2f s  peak %.1f MiB\n", modes[m], Median(wall[m]),
                Median(cpu[m]), Median(peak[m]) / 1024.0);
  std::printf("  merged / every: wall %.2f x, cpu %.2f x\n", Median(wall[0]) / Median(wall[1]),
              Median(cpu[0]) / Median(cpu[1]));
  return CountIdentities(stores);
}
