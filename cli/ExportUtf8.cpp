// lumivex-cli export --format vcard4|vcard3|csv: the export for other address books, every
// field of every contact in UTF-8, through RunUtf8Export.
#include "cli/ConsoleProgress.h"
#include "cli/DamageLog.h"
#include "cli/Export.h"
#include "cli/Verbs.h"
#include "contact/VCardWriter.h"
#include "convert/Utf8Export.h"
#include "merge/ContactSources.h"
#include "source/ContactFolders.h"
#include "source/StoreBackend.h"
#include "source/StoreContactStream.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <cstdio>
#include <memory>

namespace lumivex::cli {

namespace {

// Progress on stderr when it is a terminal, each file on stdout as it is finished, each entry
// that could not be exported on stderr as it is met.
class ConsoleObserver : public Utf8ExportObserver {
 public:
  void Progress(int done, int total, const QString&) override {
    finished_ = done >= total;
    if (progress.Enabled())
      progress.Show(QStringLiteral("Saving Contacts %1/%2").arg(done).arg(total), done >= total);
  }
  // Each entry left out is told as it is met, in the words of the other forms.
  void Problem(const contact::EntryProblem& p) override {
    progress.Above();
    if (p.wholeStore)
      DamageNotice(kExportVerb, QStringLiteral("%1: %2").arg(p.store, p.reason));
    else if (p.storeLeftOut)  // the reason names the store
      DamageNotice(kExportVerb, p.reason);
    else if (p.position == 0)  // the folder's own damage
      DamageNotice(kExportVerb, QStringLiteral("\"%1\": %2").arg(p.folder, p.reason));
    else
      DamageWarning(kExportVerb,
                    QStringLiteral("entry %1 of \"%2\" %3: %4")
                        .arg(p.position)
                        .arg(p.folder,
                             p.unwritten ? QStringLiteral("got no file")
                             : p.partial ? QStringLiteral("is not whole")
                                         : QStringLiteral("cannot be read"),
                             p.reason),
                    p.reason);
    progress.Below();
  }
  void FileWritten(const QString& path) override {
    progress.Above();
    std::printf("%s\n", qPrintable(path));
    // The one file of the run is written after its last entry: nothing is left to count.
    if (finished_)
      progress.Drop();
    else
      progress.Below();
  }

  ConsoleProgress progress;

 private:
  bool finished_ = false;
};

// With --all-folders, the branches of each store's folder tree that cannot be read, each told on
// stderr (the others are exported); their number.
int ListUnreadableFolders(const ExportRequest& request) {
  if (!request.allFolders) return 0;
  QStringList paths = request.stores;
  if (paths.isEmpty()) paths << ResolveStorePath(request.store);
  int unreadable = 0;
  for (const QString& path : paths) {
    try {
      const std::shared_ptr<Store> store = OpenStoreFile(path);
      for (const UnreadableFolder& lost : FindContactFolders(*store).unreadable) {
        using Part = UnreadableFolder::Part;
        DamageNotice(
            kExportVerb,
            (lost.part == Part::kFoldersUnder
                 ? QStringLiteral("the folders under \"%1\" of %2 cannot be read, so a contacts "
                                  "folder among them is not found: %3")
             : lost.part == Part::kEntries
                 ? QStringLiteral("the entries of the folder \"%1\" of %2 cannot be read, so "
                                  "its contacts are left out (the folders under it are read): %3")
                 : QStringLiteral("the folder \"%1\" of %2 cannot be read, so the contacts in "
                                  "it and below it are left out: %3"))
                .arg(lost.path, path, lost.why));
        ++unreadable;
      }
    } catch (const StoreError&) {
      // A store that cannot be opened is reported when its folders are taken.
    }
  }
  return unreadable;
}

// The stores and folders to read: with one store and no --all-folders, the folder --folder names
// (the default contacts folder without it), with the warning when it is no contacts folder; else
// the contact folders FindSources finds in each store.
std::vector<StoreFolders> SourcesToExport(const ExportRequest& request) {
  if (request.stores.size() <= 1 && !request.allFolders) {
    StoreOptions store = request.store;
    store.allFolders = true;  // these forms take it
    const ContactsSource source = OpenContactsFolder(kExportVerb, store, "exporting");
    return {{source.storePath, nullptr, {source.folder}}};
  }
  merge::StoreSelection options;
  options.stores = request.stores;
  options.allFolders = request.allFolders;
  options.folder = request.store.folder;
  options.excludeFolders = request.excludeFolders;
  QStringList notes;
  std::vector<StoreFolders> sources = merge::FindSources(options, &notes);
  for (const QString& note : notes) Warn(kExportVerb, note);
  return sources;
}

// Passes the contacts on, keeping the counts and, for --merge-report, a row per entry of each
// merged contact.
class CountingStream : public contact::ContactStream {
 public:
  explicit CountingStream(contact::ContactStream& inner) : inner_(inner) {}
  int Total() const override { return inner_.Total(); }
  const std::vector<contact::EntryProblem>& Problems() const override { return inner_.Problems(); }
  bool WriteAhead(contact::AheadWriter* writer) override { return inner_.WriteAhead(writer); }
  bool Next(contact::SourcedContact& out) override {
    if (!inner_.Next(out)) {
      if (!ended_) ReportSuggestions();
      ended_ = true;
      return false;
    }
    ++contacts;
    if (uids && !out.contact.uid.isEmpty()) {
      const qsizetype before = uids->size();
      uids->insert(out.contact.uid);
      copies += uids->size() == before;
    }
    if (out.contact.isGroup) ++lists;
    entries += int(out.origins.size());
    if (out.origins.size() > 1) {
      ++merged;
      mergedEntries += int(out.origins.size());
      if (report)
        for (const contact::Origin& o : out.origins)
          report->append(Row(QStringLiteral("merged"), contacts, o, o.joinedBy));
    }
    return true;
  }

  // A row of the merge report: what the row is, the contact, the entry and how it was joined.
  static QByteArray Row(const QString& kind, int contact, const contact::Origin& o,
                        const QString& rule) {
    return CsvLine({kind, QString::number(contact), o.store, o.folder, QString::number(o.position),
                    o.lastModified.isValid() ? o.lastModified.toString(Qt::ISODate) : QString(),
                    rule, o.matched, o.name, o.notCarried.join(QStringLiteral("; "))});
  }

  // Two rows for each suggestion, after the merged contacts' rows.
  void ReportSuggestions() {
    const auto* merged = dynamic_cast<const merge::MergedContacts*>(&inner_);
    if (!merged) return;
    suggestions = merged->SuggestionCount();
    accepted = merged->AcceptedCount();
    if (!report) return;
    int n = 0;
    for (const merge::Suggestion& s : merged->Suggestions()) {
      const QString kind = QStringLiteral("%1 %2")
                               .arg(s.accepted ? QStringLiteral("accepted suggestion")
                                               : QStringLiteral("suggestion"))
                               .arg(++n);
      const QString rule = merge::RuleText(s.rule);
      for (const auto& [number, entry] :
           {std::pair{s.first, &s.firstEntry}, std::pair{s.second, &s.secondEntry}}) {
        contact::Origin o = *entry;
        o.matched = s.value;
        report->append(Row(kind, number, o, rule));
      }
    }
  }

  static QByteArray CsvLine(const QStringList& fields) {
    QStringList quoted;
    for (QString f : fields) {
      if (f.contains(u'"') || f.contains(u',') || f.contains(u'\n') || f.contains(u'\r'))
        f = u'"' + f.replace(u'"', QStringLiteral("\"\"")) + u'"';
      quoted << f;
    }
    return quoted.join(u',').toUtf8() + "\r\n";
  }

  int contacts = 0, lists = 0, entries = 0, merged = 0, mergedEntries = 0, suggestions = 0,
      accepted = 0;
  QByteArray* report = nullptr;
  // Unmerged entries of several stores: the uids given so far, and the contacts that came under
  // one of them again (copies of one entry in two stores).
  QSet<QString>* uids = nullptr;
  int copies = 0;

 private:
  contact::ContactStream& inner_;
  bool ended_ = false;
};

// Writes the merge report whole, or says why it could not.
// The merge report, opened before the contacts are written: a report that cannot be made stops
// the export before it writes anything.
std::unique_ptr<QSaveFile> OpenReport(const QString& path, QString& error) {
  auto file = std::make_unique<QSaveFile>(path);
  if (file->open(QIODevice::WriteOnly)) return file;
  error = QStringLiteral(
              "the merge report %1 cannot be written: %2; nothing was written (choose "
              "another file for --merge-report)")
              .arg(path, file->errorString());
  return nullptr;
}

bool WriteReport(QSaveFile& file, const QByteArray& bytes) {
  if (file.write(bytes) == bytes.size() && file.commit()) return true;
  Warn(kExportVerb, QStringLiteral("the merge report %1 could not be written: %2")
                        .arg(file.fileName(), file.errorString()));
  return false;
}

// The summary of an export that ran to its end. `counted`: the entries read and the contacts
// they became.
int Report(const Utf8ExportResult& result, const CountingStream& counted, const QString& onlyFolder,
           int unreadableFolders, const QString& elsewhere) {
  const int written = result.contacts + result.groups;
  if (result.semicolons > 0)
    Warn(kExportVerb, QStringLiteral("%1 a category or child's name holding \";\", which a CSV "
                                     "cell separates its values by: written with \",\" in its "
                                     "place; vcard4 and vcard3 keep it")
                          .arg(result.semicolons == 1
                                   ? QStringLiteral("1 contact has")
                                   : QStringLiteral("%1 contacts have").arg(result.semicolons)));
  if (written == 0 && !result.cancelled && result.problems.empty() && unreadableFolders == 0)
    // Nothing to write is not a success: no file was written.
    return Failure(kExportVerb,
                   QStringLiteral("no contacts: %1; nothing was written%2")
                       .arg(!onlyFolder.isEmpty()
                                ? QStringLiteral("the folder \"%1\" holds none").arg(onlyFolder)
                                : QStringLiteral("the folders hold none"),
                            elsewhere.isEmpty() ? QString() : QStringLiteral("; ") + elsewhere));
  if (result.problems.empty() && unreadableFolders == 0) {
    QString done = QStringLiteral("%1 Contacts Saved Successfully").arg(written);
    QStringList more;
    if (result.groups > 0)
      more << QStringLiteral("%1 of them distribution lists").arg(result.groups);
    // Fewer contacts than entries is no loss, but it is said: a count smaller than the store's
    // would otherwise look like one.
    if (counted.merged > 0)
      more << QStringLiteral("%1 entries merged into %2; --merge-report FILE lists them")
                  .arg(counted.mergedEntries)
                  .arg(counted.merged == 1 ? QStringLiteral("1 contact")
                                           : QStringLiteral("%1 contacts").arg(counted.merged));
    if (!more.isEmpty()) done += QStringLiteral(" (%1)").arg(more.join(QStringLiteral("; ")));
    std::printf("%s\n", qPrintable(done));
    return kExitSuccess;
  }
  // Work that ran to its end but is not whole is summed up after the entries listed above.
  int unreadable = 0;
  int unwritten = 0;
  int partial = 0;
  int damagedFolders = unreadableFolders;
  QStringList damagedStores;
  int storesLeftOut = 0;
  for (const contact::EntryProblem& p : result.problems) {
    if (p.storeLeftOut) {
      ++storesLeftOut;
      continue;
    }
    if (p.wholeStore) {
      if (!damagedStores.contains(p.store)) damagedStores << p.store;
      continue;
    }
    (p.position == 0 ? damagedFolders
     : p.partial     ? partial
     : p.unwritten   ? unwritten
                     : unreadable)++;
  }
  // Entries and contacts are counted apart: merged, several entries are one contact.
  const int entries = counted.entries + unreadable;
  const bool merged = counted.merged > 0;
  QStringList summary;
  if (storesLeftOut > 0)
    summary << (storesLeftOut == 1 ? QStringLiteral("1 store was left out")
                                   : QStringLiteral("%1 stores were left out").arg(storesLeftOut));
  if (!damagedStores.isEmpty())
    summary << QStringLiteral(
                   "%1 damaged, so what was read of it may lack values or hold wrong "
                   "ones")
                   .arg(damagedStores.size() == 1
                            ? QStringLiteral("the store %1 is").arg(damagedStores.front())
                            : QStringLiteral("%1 stores are").arg(damagedStores.size()));
  // Nothing written is a failure, not an export that is only incomplete.
  const bool nothing = written == 0 && !result.cancelled;
  // Where nothing was written, a damaged folder's contacts are not "not all written": none of
  // them could be found.
  if (damagedFolders > 0)
    summary << QStringLiteral("%1 %2 damaged (%3)")
                   .arg(damagedFolders)
                   .arg(damagedFolders == 1 ? QStringLiteral("folder is")
                                            : QStringLiteral("folders are"),
                        !nothing              ? QStringLiteral("their contacts are not all written")
                        : damagedFolders == 1 ? QStringLiteral("its contacts cannot be found")
                                              : QStringLiteral("their contacts cannot be found"));
  if (partial > 0)
    summary << QStringLiteral("%1 of %2 contacts were written without some of their fields")
                   .arg(partial)
                   .arg(written);
  if (written == 0 && unreadable > 0)
    summary << QStringLiteral("none of the %1 entries could be read").arg(unreadable);
  else if (unreadable > 0 && merged)
    summary << QStringLiteral(
                   "%1 of %2 entries could not be read; %3 contacts written after merging (%4 "
                   "entries merged into %5 contacts; --no-merge writes every entry as it is)")
                   .arg(unreadable)
                   .arg(entries)
                   .arg(written)
                   .arg(counted.mergedEntries)
                   .arg(counted.merged);
  else if (unreadable > 0)
    summary << QStringLiteral(
                   "%1 of %2 entries could not be read (they are left out, the other "
                   "%3 were written)")
                   .arg(unreadable)
                   .arg(entries)
                   .arg(entries - unreadable);
  else if (merged)
    summary << QStringLiteral(
                   "%1 contacts written (%2 entries merged into %3; --merge-report "
                   "FILE lists them)")
                   .arg(written)
                   .arg(counted.mergedEntries)
                   .arg(counted.merged == 1 ? QStringLiteral("1 contact")
                                            : QStringLiteral("%1 contacts").arg(counted.merged));
  if (unwritten > 0)
    summary << QStringLiteral(
                   "%1 of %2 contacts got no file (free some disk space or choose "
                   "another folder for --out)")
                   .arg(unwritten)
                   .arg(written + unwritten);
  std::fflush(stdout);
  std::fprintf(stderr, "lumivex-cli %s: %s: %s; see the lines above\n", qPrintable(kExportVerb),
               nothing ? "nothing was written" : "incomplete",
               qPrintable(summary.join(QStringLiteral("; "))));
  return nothing ? kExitFailure : kExitIncomplete;
}

// --dry-run: reads and merges every contact, prints the counts and writes no contact (a
// --merge-report is still written).
int DryRun(const ExportRequest& request, CountingStream& counted,
           const contact::ContactStream& contacts, int stores, const QByteArray& report,
           QSaveFile* reportFile) {
  contact::SourcedContact c;
  try {
    while (counted.Next(c)) {
    }
  } catch (const StoreError& failure) {
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }
  int unreadable = 0;
  bool damaged = false;  // a store as a whole
  for (const contact::EntryProblem& p : contacts.Problems()) {
    if (p.wholeStore) {
      damaged = true;
      DamageNotice(kExportVerb, QStringLiteral("%1: %2").arg(p.store, p.reason));
      continue;
    }
    ++unreadable;
    DamageWarning(kExportVerb,
                  QStringLiteral("entry %1 of \"%2\" in %3 cannot be read: %4")
                      .arg(p.position)
                      .arg(p.folder, p.store, p.reason),
                  p.reason);
  }
  FinishDamage(kExportVerb);
  // "1 contact", "2 contacts".
  const auto count = [](int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
  };
  QString counts =
      QStringLiteral("%1 from %2: %3")
          .arg(count(counted.entries, "entry", "entries"), count(stores, "store", "stores"),
               count(counted.contacts, "contact", "contacts"));
  if (!request.noMerge) {
    counts += QStringLiteral(", %1, %2")
                  .arg(count(counted.merged, "merged group", "merged groups"),
                       count(counted.suggestions, "suggestion", "suggestions"));
    // Accepted suggestions that would have joined people of different names or birthdays are
    // left apart: then how many were joined.
    if (request.acceptSuggestions)
      counts += counted.accepted == counted.suggestions
                    ? QStringLiteral(" accepted")
                    : QStringLiteral(
                          ", %1 accepted (the others would join people whose names or "
                          "birthdays differ)")
                          .arg(counted.accepted);
  }
  if (counted.lists > 0)
    counts += counted.lists == 1
                  ? QStringLiteral(" (one of them a distribution list)")
                  : QStringLiteral(" (%1 of the contacts distribution lists)").arg(counted.lists);
  if (unreadable > 0) counts += QStringLiteral("; %1 entries could not be read").arg(unreadable);
  std::printf("%s; nothing was written\n", qPrintable(counts));
  if (reportFile && !WriteReport(*reportFile, report)) return kExitFailure;
  return unreadable > 0 || damaged ? kExitIncomplete : kExitSuccess;
}

}  // namespace

int ExportInUtf8(const ExportRequest& request) {
  Utf8ExportOptions run;
  run.format = request.format == u"vcard4"   ? Utf8Format::kVCard4
               : request.format == u"vcard3" ? Utf8Format::kVCard3
                                             : Utf8Format::kCsv;
  run.perContact = request.perContact;
  run.target = QDir(request.out).absolutePath();
  if (request.out.endsWith(u'/')) run.target += u'/';
  if (run.perContact && QFileInfo(run.target).exists() && !QFileInfo(run.target).isDir())
    return Failure(kExportVerb, QStringLiteral("%1 is a file, not a folder: choose a folder for "
                                               "--out")
                                    .arg(run.target));

  std::unique_ptr<contact::ContactStream> contacts;
  int stores = 0;
  const int unreadableFolders = ListUnreadableFolders(request);
  QString only;       // the one folder read, for the message when it holds no contacts
  QString onlyStore;  // the one store read, for where its contacts are kept then
  try {
    std::vector<StoreFolders> sources = SourcesToExport(request);
    stores = int(sources.size());
    if (stores == 1) onlyStore = sources.front().path;
    QSet<QString> folders;
    for (const StoreFolders& source : sources)
      for (const auto& folder : source.folders) folders.insert(folder->Path());
    run.folderAsCategory = SeveralFoldersGiveContacts(sources);
    if (folders.size() == 1) only = *folders.begin();
    contacts =
        merge::OpenContacts(std::move(sources), !request.noMerge, {}, request.acceptSuggestions);
  } catch (const StoreError& failure) {
    if (unreadableFolders > 0) {
      // The damage is what lost the contacts: nothing was written.
      std::fflush(stdout);
      std::fprintf(stderr,
                   "lumivex-cli %s: %d folder%s cannot be read (see the lines above) and no "
                   "other holds contacts; nothing was written\n",
                   qPrintable(kExportVerb), unreadableFolders, unreadableFolders == 1 ? "" : "s");
      return kExitFailure;
    }
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }
  CountingStream counted(*contacts);
  QByteArray report;
  if (!request.mergeReport.isEmpty()) {
    report = CountingStream::CsvLine({QStringLiteral("row"), QStringLiteral("contact"),
                                      QStringLiteral("store"), QStringLiteral("folder"),
                                      QStringLiteral("position"), QStringLiteral("last modified"),
                                      QStringLiteral("rule"), QStringLiteral("matched value"),
                                      QStringLiteral("name"), QStringLiteral("not carried over")});
    counted.report = &report;
  }
  QSet<QString> uids;
  if (request.noMerge && stores > 1) counted.uids = &uids;

  std::unique_ptr<QSaveFile> reportFile;
  if (!request.mergeReport.isEmpty()) {
    QString error;
    reportFile = OpenReport(request.mergeReport, error);
    if (!reportFile) return Failure(kExportVerb, error);
  }
  if (request.dryRun) return DryRun(request, counted, *contacts, stores, report, reportFile.get());
  // Written without a report, the suggestions are told nowhere: not looked for.
  if (auto* merged = dynamic_cast<merge::MergedContacts*>(contacts.get());
      merged && !counted.report)
    merged->LeaveSuggestions();
  // The folder the file or files go into (a target ending with "/" is that folder).
  const QString folder = run.perContact || run.target.endsWith(u'/')
                             ? run.target
                             : QFileInfo(run.target).absolutePath();
  if (const QString denied = PermissionFailure(folder); !denied.isEmpty())
    return Failure(kExportVerb, denied);

  ConsoleObserver observer;
  Utf8ExportResult result;
  try {
    result = RunUtf8Export(counted, run, observer);
  } catch (const Utf8ExportError& failure) {
    observer.progress.End();
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }
  observer.progress.End();
  FinishDamage(kExportVerb);
  // The contacts are written: a report that fails now makes the export incomplete, not failed.
  const bool reported = !reportFile || result.cancelled || WriteReport(*reportFile, report);
  if (counted.copies > 0)
    Warn(kExportVerb,
         (counted.copies == 1
              ? QStringLiteral("1 contact written is a copy of an entry of another store")
              : QStringLiteral("%1 contacts written are copies of entries of another store")
                    .arg(counted.copies)) +
             QStringLiteral(", under the same UID: an address book given them keeps one card of "
                            "each UID (the one it reads last); without --no-merge each is merged "
                            "with its copy"));
  // The default contacts folder that held none, where other folders hold the store's
  // contacts: where.
  const QString elsewhere = result.contacts + result.groups == 0 && !request.allFolders &&
                                    request.store.folder.isEmpty() && !onlyStore.isEmpty()
                                ? ContactsKeptElsewhere(onlyStore, true)
                                : QString();
  const int status = Report(result, counted, only, unreadableFolders, elsewhere);
  return reported || status != kExitSuccess ? status : kExitIncomplete;
}

}  // namespace lumivex::cli
