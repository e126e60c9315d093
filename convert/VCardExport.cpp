// Both vCard forms of the conversion run: every contact in one file named after the moment of
// the run, or one file per contact named after the contact and a drawn number.
#include "common/CodePage.h"
#include "common/Module1.h"
#include "convert/ConversionRun.h"
#include "convert/StagedFile.h"
#include "convert/VCardRecord.h"

#include <QFile>
#include <QSet>

#include <span>

namespace lumivex {

namespace {

// The longest file name, in bytes, that Linux file systems accept.
constexpr qsizetype kMaxFileNameBytes = 255;
// How often a per-contact name that this run has already written is drawn again before a
// running suffix makes it distinct.
constexpr int kDraws = 100;

// Counts what the card just written could not hold of its values.
void CountText(RunContext& run, const VCardFields& fields) {
  using F = VCardField;
  const auto& v = fields;
  run.CountText({v[F::FirstName], v[F::MiddleName], v[F::LastName], v[F::FullName]}, v[F::Body],
                true);
  // Every value of the card but the note (whose own lines CountText tells): the full name, the
  // values whose parts ";" separates (the name's, the company's and the addresses'), the others.
  const QStringView values[] = {v[F::FullName],
                                v[F::FirstName],
                                v[F::MiddleName],
                                v[F::LastName],
                                v[F::CompanyName],
                                v[F::Department],
                                v[F::OfficeLocation],
                                v[F::BusinessAddressStreet],
                                v[F::BusinessAddressCity],
                                v[F::BusinessAddressState],
                                v[F::BusinessAddressPostalCode],
                                v[F::BusinessAddressCountry],
                                v[F::HomeAddressStreet],
                                v[F::HomeAddressCity],
                                v[F::HomeAddressState],
                                v[F::HomeAddressPostalCode],
                                v[F::HomeAddressCountry],
                                v[F::JobTitle],
                                v[F::BusinessTelephoneNumber],
                                v[F::HomeTelephoneNumber],
                                v[F::MobileTelephoneNumber],
                                v[F::PagerNumber],
                                v[F::BusinessFaxNumber],
                                v[F::HomeFaxNumber],
                                v[F::WebPage],
                                v[F::Birthday],
                                v[F::Email1Address]};
  const std::span<const QStringView> all(values);
  run.CountOtherText(all.subspan(4));              // but the names CountText counted
  run.CountBrokenValues(all, all.subspan(1, 16));  // the parts: names, company, addresses
}

// Writes the record of entry `index`. Errors are ignored from the start of the loop on: an entry
// that cannot be opened gives a record of the values kept from the previous entry.
void WriteEntry(RunContext& run, AnsiTextFile& output, const Items& items, int index,
                VCardFields& fields) {
  try {
    const std::unique_ptr<ContactEntry> entry = items.Item(index);
    if (!entry) return;
    WriteVCardRecord(output, *entry, fields);
    CountText(run, fields);
  } catch (...) {
    // Skipped, as every failing step inside the loop.
  }
}

// A per-contact file name that Linux can hold: NUL cannot stand in a file name and is dropped
// ("/" and "\" already ended at ExtractFileName), and a name too long for the file system loses
// characters from its end before the number, so that every contact still gets its file.
QString FitFileName(QString name, const QString& tail) {
  name.remove(QChar(u'\0'));
  QString head = name.chopped(std::min(tail.size(), name.size()));
  // A UTF-16 code unit takes at most three bytes in the file system's encoding (UTF-8): most
  // names are short enough not to be measured at all.
  if ((head.size() + tail.size()) * 3 <= kMaxFileNameBytes) return head + tail;
  while (!head.isEmpty() && QFile::encodeName(head + tail).size() > kMaxFileNameBytes) {
    head.chop(1);
    if (!head.isEmpty() && head.back().isHighSurrogate()) head.chop(1);
  }
  return head + tail;
}

// The file name of one contact: first name, last name, the number and ".vcf".
//
// An entry whose first or last name cannot be read (an item of the folder that is not a contact)
// is named by the number alone, as a contact without names is, rather than by names kept from
// another entry: it must not take the file of the entry before it.
//
// A name that this run has already written (equal names and an equal number) is drawn again, so
// that no contact of the run replaces another's file; after kDraws draws a running suffix
// ("-2", "-3", ...) before ".vcf" settles it. Files of earlier runs are replaced, as always.
QString PerContactPath(const RunContext& run, const ContactEntry* entry,
                       const QSet<size_t>& taken) {
  QString first;
  QString last;
  const bool named =
      entry != nullptr && entry->Read("FirstName", first) && entry->Read("LastName", last);
  const QString names = named ? first + last : QString();
  for (int draw = 0;; ++draw) {
    const QString number = QString::number(Module1::RandomNumber(1, 40000));
    const QString suffix = draw < kDraws ? QString() : u'-' + QString::number(draw - kDraws + 2);
    const QString tail = number + suffix + QStringLiteral(".vcf");
    run.SetOutputPath(names + tail);
    const QString path =
        run.TargetFolder() + FitFileName(Module1::ExtractFileName(Module1::OutputPath), tail);
    Module1::OutputPath = path;
    if (!taken.contains(qHash(path))) return path;
  }
}

}  // namespace

void ExportVCardSingleFile(RunContext& run) {
  const QString path = run.SetOutputPath(RunContext::OutputStem() + QStringLiteral(".vcf"));
  run.counter = 0;
  AnsiTextFile output(AnsiCodePage());
  // Written under a temporary name and renamed when whole: a full disk leaves no cut-short file.
  StagedFile staged(path);
  QString reason;
  if (!output.Open(staged.WorkPath(), &reason))
    throw ExportError(QStringLiteral("Cannot create the vCard file %1: %2. Choose a folder you "
                                     "can write to, with free space.")
                          .arg(path, reason)
                          .toStdString());

  // From here on errors are ignored: the run goes on to its completion step whatever fails.
  VCardFields fields;
  const Items& items = run.Entries();
  const int count = run.EntryCount();
  for (int i = 0; i < count; ++i) {
    WriteEntry(run, output, items, i, fields);
    run.ProgressStep();
  }
  // A file cut short (a full disk) is taken away and reported; the run still completes.
  if (!output.Close()) {
    staged.Discard();
    run.View().OutputFailed(path, output.Error());
  } else if (!staged.Commit(&reason)) {
    run.View().OutputFailed(path, reason);
  } else {
    run.View().OutputWritten(path);
  }
  run.CompletionStep(run.counter);
}

void ExportVCardPerContact(RunContext& run) {
  run.counter = 0;
  // From here on errors are ignored: a file that cannot be created is skipped without a
  // message, and its entry is still counted.
  VCardFields fields;
  // Hashes of the paths this run has written: a hash that matches by chance only costs a draw.
  QSet<size_t> taken;
  AnsiTextFile output(AnsiCodePage());
  const Items& items = run.Entries();
  const int count = run.EntryCount();
  for (int i = 0; i < count; ++i) {
    try {
      const std::unique_ptr<ContactEntry> entry = items.Item(i);
      const QString path = PerContactPath(run, entry.get(), taken);
      taken.insert(qHash(path));
      // The record is read even when its file cannot be created, so that the values kept for
      // the next entry are this entry's, as when its lines fail one by one.
      QString reason;
      const bool created = output.Open(path, &reason);
      if (entry) WriteVCardRecord(output, *entry, fields);
      if (output.Close() && created) {
        if (entry) CountText(run, fields);
        run.View().OutputWritten(path);
      } else {
        // A file that was created but not written whole (a full disk) is taken away again:
        // that entry gets no file, as when its file cannot be created at all.
        if (created) {
          reason = output.Error();
          QFile::remove(path);
        }
        run.View().OutputFailed(path, reason);
      }
    } catch (...) {
      // Skipped, as every failing step inside the loop.
    }
    run.ProgressStep();
    if (run.View().StopRequested()) break;
  }
  run.CompletionStep(run.counter);
}

}  // namespace lumivex
