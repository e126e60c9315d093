#include "convert/RunNotice.h"

#include <QFileInfo>
#include <QStringList>

#include <cstdint>

namespace lumivex {

namespace {

const QString kOffer = QStringLiteral("\"Export for Other Address Books...\"");

// "1 contact" or "3 contacts".
QString Count(int n, const char* one, const char* many) {
  return QString::number(n) + u' ' + QString::fromLatin1(n == 1 ? one : many);
}

QString FolderOf(const QString& path) {
  return QFileInfo(path).absolutePath();
}

// What to do about a file that could not be written.
QString WhatToDo(WriteFailure failure) {
  switch (failure) {
    case WriteFailure::kPermission:
      return QStringLiteral(
          "Choose a folder you may write in, such as one in your home folder, "
          "and click \"Start Conversion\" again.");
    case WriteFailure::kDiskFull:
      return QStringLiteral(
          "Free some space on that disk, or choose a folder on another disk, "
          "and click \"Start Conversion\" again.");
    case WriteFailure::kOther:
      break;
  }
  return QStringLiteral("Choose another folder and click \"Start Conversion\" again.");
}

// The files that could not be written; empty when every one was.
QString FilesParagraph(const OutputOptions& form, const RunResult& result, const RunFiles& files) {
  if (files.failed == 0) return {};
  const QString folder = FolderOf(files.firstFailed);
  const QString problem = WriteProblem(files.firstReason, folder);
  const QString todo = WhatToDo(ClassifyWriteFailure(files.firstReason));
  if (form.vCardEach) {
    if (files.written == 0)
      return QStringLiteral("None of the %1 got a vCard file in %2: %3. Nothing was saved.\n\n%4")
          .arg(Count(result.entries, "contact", "contacts"), folder, problem, todo);
    return QStringLiteral(
               "%1 of the %2 contacts got no vCard file in %3: %4. The other %5 were "
               "saved.\n\n%6")
        .arg(files.failed)
        .arg(result.entries)
        .arg(folder, problem)
        .arg(files.written)
        .arg(todo);
  }
  const QString kind =
      form.excel ? QStringLiteral("worksheet")
                 : (form.wab ? QStringLiteral("address book") : QStringLiteral("vCard file"));
  return QStringLiteral(
             "The %1 %2 could not be written: %3. None of the contacts were saved, and "
             "no file of that name was left behind.\n\n%4")
      .arg(kind, files.firstFailed, problem, todo);
}

// The rows beyond the worksheet's last.
QString RowsParagraph(const RunResult& result, const RunFiles& files) {
  if (result.entries <= kWorksheetContacts || files.failed > 0) return {};
  return QStringLiteral(
             "The worksheet holds only the first %1 contacts: a worksheet of this kind "
             "has no more rows. The other %2 of the folder's %3 contacts are not in "
             "it.\n\nTo save every contact, use %4 and choose CSV, which spreadsheet "
             "programs open too.")
      .arg(kWorksheetContacts)
      .arg(result.entries - kWorksheetContacts)
      .arg(result.entries)
      .arg(kOffer);
}

// A count in the box that stopped where its 16-bit counter does.
QString CountParagraph(const RunResult& result, const RunFiles& files) {
  if (result.entries <= INT16_MAX || files.failed > 0) return {};
  return QStringLiteral(
             "The folder holds %1 contacts, and all %1 were saved: the count in the "
             "message above stops at %2.")
      .arg(result.entries)
      .arg(INT16_MAX);
}

// The entries named below a paragraph, as the export for other address books names them.
QString Named(const std::vector<RunEntries::Entry>& named, int count) {
  QString text;
  for (const RunEntries::Entry& entry : named)
    text += QStringLiteral("\n  %1, entry %2: %3")
                .arg(entry.folder)
                .arg(entry.position)
                .arg(entry.reason);
  if (count > int(named.size()))
    text += QStringLiteral("\n  ... and %1 more.").arg(count - int(named.size()));
  return text;
}

// What the form's writer made of an entry a read of which failed: the address book leaves it out;
// the vCard and worksheet forms keep, for each value that could not be read, the entry before's
// (nothing before the first), and the vCard forms write no card for an entry that cannot be
// opened at all.
QString UnreadableConsequence(const OutputOptions& form, bool one) {
  if (form.wab)
    return one ? QStringLiteral("so it is not in the address book")
               : QStringLiteral("so they are not in the address book");
  const QString what =
      form.excel ? (one ? QStringLiteral("its row") : QStringLiteral("their rows"))
      : form.vCardEach
          ? (one ? QStringLiteral("its vCard file") : QStringLiteral("their vCard files"))
          : (one ? QStringLiteral("its card") : QStringLiteral("their cards"));
  return QStringLiteral("so %1 %2 values of the entry before %3 or %4 them")
      .arg(what, one ? QStringLiteral("repeats") : QStringLiteral("repeat"),
           one ? QStringLiteral("it") : QStringLiteral("them"),
           one ? QStringLiteral("lacks") : QStringLiteral("lack"));
}

// The entries of a damaged store that could not be read whole, with the first few named and
// what to do; empty when every entry was.
QString EntriesParagraph(const OutputOptions& form, const RunResult& result,
                         const RunEntries& entries) {
  QStringList parts;
  if (entries.unreadable > 0)
    parts << QStringLiteral("%1 of the %2 entries could not be read, %3:%4")
                 .arg(entries.unreadable)
                 .arg(result.entries)
                 .arg(UnreadableConsequence(form, entries.unreadable == 1),
                      Named(entries.firstUnreadable, entries.unreadable));
  if (entries.damaged > 0)
    parts << QStringLiteral("%1 of the %2 entries %3 saved without a part the store lost:%4")
                 .arg(entries.damaged)
                 .arg(result.entries)
                 .arg(entries.damaged == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                      Named(entries.firstDamaged, entries.damaged));
  if (parts.isEmpty()) return {};
  parts << QStringLiteral(
      "Outlook's Inbox Repair Tool (scanpst.exe) on Windows may mend the store, or export a "
      "fresh copy from Outlook; then scan it again. \"lumivex-cli export --damage-report FILE\" "
      "lists every such entry.");
  return parts.join(QStringLiteral("\n\n"));
}

QString TextParagraph(const TextLosses& losses, int codePage) {
  if (losses.names == 0 && losses.notes == 0 && losses.others == 0) return {};
  QStringList parts;
  if (losses.names > 0) parts << Count(losses.names, "name", "names");
  if (losses.notes > 0) parts << Count(losses.notes, "note", "notes");
  if (losses.others > 0)
    parts << Count(losses.others, "contact's other values", "contacts' other values");
  const bool one = losses.names + losses.notes + losses.others == 1 && losses.others == 0;
  const QString listed = parts.size() < 3 ? parts.join(QStringLiteral(" and "))
                                          : parts[0] + QStringLiteral(", ") + parts[1] +
                                                QStringLiteral(" and ") + parts[2];
  return QStringLiteral(
             "%1 %2 letters that these files cannot hold: they are written in "
             "Windows-%3, the character set that Windows programs of your language "
             "read, and each such letter became \"?\".\n\nTo keep every letter, use %4, "
             "which writes them as they are.")
      .arg(listed, one ? QStringLiteral("holds") : "hold")
      .arg(codePage)
      .arg(kOffer);
}

QString SplitParagraph(const TextLosses& losses) {
  if (losses.splitNotes == 0) return {};
  const bool one = losses.splitNotes == 1;
  return QStringLiteral(
             "%1 of more than one line. A vCard 2.1 card takes its note on one line, so "
             "the further lines break the card: address books may cut %2 short or "
             "leave %3 out.\n\nTo keep %4 whole, use %5.")
      .arg(Count(losses.splitNotes, "contact has a note", "contacts have notes"),
           one ? QStringLiteral("the note") : QStringLiteral("these notes"),
           one ? QStringLiteral("the card") : QStringLiteral("the cards"),
           one ? QStringLiteral("it") : QStringLiteral("them"), kOffer);
}

QString BrokenParagraph(const TextLosses& losses) {
  if (losses.brokenValues == 0) return {};
  const bool one = losses.brokenValues == 1;
  return QStringLiteral(
             "%1 a line break in a name, address, company or other value, or a \";\" in a part "
             "of a name, company or address. A vCard 2.1 card takes each value on one line and "
             "its parts apart at \";\", so address books may put the parts after it into other "
             "fields or leave them out.\n\nTo keep %2 whole, use %3.")
      .arg(Count(losses.brokenValues, "contact has", "contacts have"),
           one ? QStringLiteral("it") : QStringLiteral("them"), kOffer);
}

QString LongParagraph(const TextLosses& losses) {
  if (losses.longTexts == 0) return {};
  return QStringLiteral(
             "%1 a text longer than a cell of this worksheet holds (255 characters; a long note, "
             "say): that cell was left empty, the rest of the row written.\n\nTo keep every "
             "text whole, use %2.")
      .arg(Count(losses.longTexts, "contact has", "contacts have"), kOffer);
}

}  // namespace

WriteFailure ClassifyWriteFailure(const QString& reason) {
  for (const char* permission : {"Permission denied", "may not be written", "Read-only file system",
                                 "Operation not permitted"})
    if (reason.contains(QLatin1String(permission), Qt::CaseInsensitive))
      return WriteFailure::kPermission;
  for (const char* full :
       {"No space left", "disk is full", "Disk quota exceeded", "File too large"})
    if (reason.contains(QLatin1String(full), Qt::CaseInsensitive)) return WriteFailure::kDiskFull;
  return WriteFailure::kOther;
}

QString WriteProblem(const QString& reason, const QString& folder) {
  switch (ClassifyWriteFailure(reason)) {
    case WriteFailure::kPermission:
      return QStringLiteral("you may not write in the folder %1").arg(folder);
    case WriteFailure::kDiskFull:
      return QStringLiteral("the disk holding %1 is full").arg(folder);
    case WriteFailure::kOther:
      break;
  }
  return reason;
}

void RunEntries::Unreadable(const QString& folder, int position, const QString& reason) {
  if (unreadable++ < kEntriesNamed) firstUnreadable.push_back({folder, position, reason});
}

void RunEntries::Damaged(const QString& folder, int position, const QString& reason) {
  if (damaged++ < kEntriesNamed) firstDamaged.push_back({folder, position, reason});
}

Notice ConversionNotice(const OutputOptions& form, const RunResult& result, const RunFiles& files,
                        const RunEntries& entries) {
  Notice notice;
  QStringList paragraphs;
  const QString filesLost = FilesParagraph(form, result, files);
  const QString rows = form.excel ? RowsParagraph(result, files) : QString();
  if (!filesLost.isEmpty()) paragraphs << filesLost;
  if (!rows.isEmpty()) paragraphs << rows;
  if (!form.excel) {
    const QString count = CountParagraph(result, files);
    if (!count.isEmpty()) paragraphs << count;
  }
  // What the written files could not hold, when any were written.
  const bool wroteAny = files.failed == 0 || (form.vCardEach && files.written > 0);
  const QString unread = wroteAny ? EntriesParagraph(form, result, entries) : QString();
  if (!unread.isEmpty()) paragraphs << unread;
  const QString text = wroteAny ? TextParagraph(result.losses, result.codePage) : QString();
  const QString split = wroteAny && (form.vCardComplete || form.vCardEach)
                            ? SplitParagraph(result.losses)
                            : QString();
  const QString broken = wroteAny && (form.vCardComplete || form.vCardEach)
                             ? BrokenParagraph(result.losses)
                             : QString();
  const QString longTexts = wroteAny && form.excel ? LongParagraph(result.losses) : QString();
  if (!text.isEmpty()) paragraphs << text;
  if (!split.isEmpty()) paragraphs << split;
  if (!broken.isEmpty()) paragraphs << broken;
  if (!longTexts.isEmpty()) paragraphs << longTexts;
  if (paragraphs.isEmpty()) return notice;
  notice.text = paragraphs.join(QStringLiteral("\n\n"));
  const bool valuesLost =
      !text.isEmpty() || !split.isEmpty() || !broken.isEmpty() || !longTexts.isEmpty();
  notice.offerOtherAddressBooks = !rows.isEmpty() || valuesLost;
  // Entries left out or saved with another entry's values are contacts not saved as they are.
  const bool contactsLost =
      !filesLost.isEmpty() || !rows.isEmpty() || (!unread.isEmpty() && entries.unreadable > 0);
  notice.title = contactsLost                      ? QStringLiteral("Not All Contacts Saved")
                 : !unread.isEmpty() || valuesLost ? QStringLiteral("Not Everything Saved")
                                                   : QStringLiteral("All Contacts Saved");
  return notice;
}

Notice ScanNotice(int entries, int shown) {
  if (entries <= shown) return {};
  return {QStringLiteral("More Contacts Than Counted"),
          QStringLiteral("This folder holds %1 contacts: the count in the message above stops at "
                         "%2.\n\nThe vCard files and the address book take all %1 of them; the "
                         "worksheet takes the first %3. %4 takes them all too, with every field.")
              .arg(entries)
              .arg(shown)
              .arg(kWorksheetContacts)
              .arg(kOffer),
          true};
}

QString ScanDamageText(int contacts, const QStringList& damage) {
  if (damage.isEmpty()) return {};
  QStringList told;
  told << (contacts == 0
               ? QStringLiteral("No contacts were found in this folder, but the store is damaged: "
                                "the file may hold contacts that could not be reached. Keep it.")
               : QStringLiteral("The contacts were counted, but the store is damaged: the file "
                                "may hold more than were counted."));
  // Each sentence begins with a capital, but for a name written in small letters (libpff).
  for (QString sentence : damage) {
    if (!sentence.startsWith(QStringLiteral("libpff"))) sentence[0] = sentence[0].toUpper();
    told << sentence + u'.';
  }
  told << QStringLiteral(
      "Outlook's Inbox Repair Tool (scanpst.exe) on Windows may mend the store, or export a fresh "
      "copy from Outlook; then scan it again. Run on the file, \"lumivex-cli scan\" and "
      "\"lumivex-cli folders\" list what is damaged.");
  return told.join(QStringLiteral("\n\n"));
}

}  // namespace lumivex
