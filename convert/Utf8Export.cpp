#include "convert/Utf8Export.h"

#include "contact/CsvWriter.h"
#include "contact/FileNames.h"
#include "contact/VCardWriter.h"
#include "source/ContactFolders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lumivex {

using namespace contact;

namespace {

QString Extension(Utf8Format format) {
  return format == Utf8Format::kCsv ? QStringLiteral(".csv") : QStringLiteral(".vcf");
}

// The category that names a folder: its path below the top of the store's folder tree
// ("Contacts/Suppliers" for "Top of Personal Folders/Contacts/Suppliers"), whatever the top is
// called in the store's language; a folder at the root of the tree by its own name.
QString FolderCategory(const QString& path) {
  QStringList parts = path.split(u'/');
  if (parts.size() > 1) parts.removeFirst();
  // An Exchange offline store keeps its folders one level deeper: "Root - Mailbox/IPM_SUBTREE".
  if (parts.size() > 1 && parts.first() == u"IPM_SUBTREE") parts.removeFirst();
  return parts.join(u'/');
}

// Why a write or create failed. Qt names some failures only as "Unknown error" (a write it
// buffered failing later on a full disk); the system's own reason is given then.
QString FileError(const QFileDevice& file) {
  const int code = errno;
  const QString text = file.errorString();
  if (!text.isEmpty() && text != u"Unknown error") return text;
  return code != 0 ? QString::fromLocal8Bit(std::strerror(code)) : QStringLiteral("unknown error");
}

// Appends the entry as the chosen form.
void AppendEntry(QByteArray& out, const Contact& contact, Utf8Format format) {
  switch (format) {
    case Utf8Format::kVCard4:
      AppendVCard(out, contact, VCardVersion::k40);
      break;
    case Utf8Format::kVCard3:
      AppendVCard(out, contact, VCardVersion::k30);
      break;
    case Utf8Format::kCsv:
      AppendCsvRow(out, contact);
      break;
  }
}

// Writes one per-contact file whole, or leaves none: a file cut short is removed again.
bool WriteWhole(const QString& path, const QByteArray& bytes, QString& why) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    why = FileError(file);
    return false;
  }
  const bool written = file.write(bytes) == bytes.size() && file.flush();
  if (!written) why = FileError(file);
  file.close();
  if (written && file.error() == QFileDevice::NoError) return true;
  if (why.isEmpty()) why = FileError(file);
  file.remove();
  return false;
}

struct FolderWork {
  std::shared_ptr<Folder> folder;
  std::shared_ptr<Items> items;
  QString path;
  int count = 0;
};

}  // namespace

std::vector<std::shared_ptr<Folder>> ContactFolders(const Store& store) {
  std::vector<std::shared_ptr<Folder>> folders;
  for (const auto& found : FindContactFolders(store).folders) folders.push_back(found.folder);
  return folders;
}

Utf8ExportResult RunUtf8Export(const std::vector<std::shared_ptr<Folder>>& folders,
                               const Utf8ExportOptions& options, Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  if (options.perContact && options.format == Utf8Format::kCsv)
    throw Utf8ExportError("CSV is one file for all contacts: one file per contact is for vCard");

  // Every folder's entries are opened first, for the total of the progress and so that a folder
  // that cannot be read stops the export before anything is written.
  std::vector<FolderWork> work;
  int total = 0;
  Utf8ExportResult result;
  int giving = 0;  // folders with entries: only where several give contacts is each named
  for (const auto& folder : folders) {
    FolderWork w;
    w.folder = folder;
    w.path = folder->Path();
    try {
      w.items = folder->GetItems();
      w.count = std::max(0, w.items->Count());
    } catch (const StoreError& e) {
      throw Utf8ExportError(QStringLiteral("Cannot read the folder \"%1\": %2")
                                .arg(w.path, QString::fromUtf8(e.what()))
                                .toStdString());
    }
    // The same checks as every form makes of a folder: a list of entries shorter than the
    // folder's own count has lost some.
    const QString missing = folder->MissingEntries();
    if (!missing.isEmpty()) {
      EntryProblem problem{w.path, 0, missing};
      observer.Problem(problem);
      result.problems.push_back(std::move(problem));
    }
    total += w.count;
    giving += w.count > 0;
    work.push_back(std::move(w));
  }

  const QFileInfo target(QDir::cleanPath(QDir(options.target).absolutePath()));
  // The single file is written under a temporary name beside the target (removed again when the
  // export fails or is cancelled) and renamed over the target once whole. It is not forced to
  // disk before the rename: that would make a large export wait seconds for the disk, longer
  // than the writing takes, and the file systems in use keep a renamed file's data whole.
  std::unique_ptr<QTemporaryFile> single;
  QString folderPath;
  if (options.perContact) {
    folderPath = target.absoluteFilePath();
    if (target.exists() && !target.isDir())
      throw Utf8ExportError(QStringLiteral("%1 is a file: one file per contact needs a folder")
                                .arg(folderPath)
                                .toStdString());
    if (!QDir().mkpath(folderPath))
      throw Utf8ExportError(QStringLiteral("Cannot create the folder %1: check that you may "
                                           "write there")
                                .arg(folderPath)
                                .toStdString());
    result.output = folderPath;
  } else {
    QString path = target.absoluteFilePath();
    if (target.isDir() || options.target.endsWith(u'/')) {
      const QString stem =
          QStringLiteral("Contacts-") + QDateTime::currentDateTime().toString(u"yyyy-MM-dd-HHmmss");
      path = QDir(path).filePath(stem + Extension(options.format));
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
      throw Utf8ExportError(QStringLiteral("Cannot create the folder %1: check that you may "
                                           "write there")
                                .arg(QFileInfo(path).absolutePath())
                                .toStdString());
    single = std::make_unique<QTemporaryFile>(path + QStringLiteral(".XXXXXX"));
    if (!single->open() ||
        !single->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ReadGroup | QFileDevice::ReadOther))
      throw Utf8ExportError(
          QStringLiteral("Cannot create %1: %2").arg(path, FileError(*single)).toStdString());
    result.output = path;
  }

  // The single file's bytes are gathered here and handed on in blocks; a per-contact file's
  // bytes are its whole file.
  QByteArray buffer;
  constexpr qsizetype kBlock = 1 << 16;
  buffer.reserve(kBlock * 2);
  auto flush = [&] {
    if (buffer.isEmpty()) return;
    if (single->write(buffer) != buffer.size()) {
      const QString why = FileError(*single);
      single.reset();  // takes the temporary file away
      throw Utf8ExportError(QStringLiteral("Cannot write %1: %2; nothing was left there. Free "
                                           "some disk space or choose another place")
                                .arg(result.output, why)
                                .toStdString());
    }
    buffer.clear();
  };
  if (single && options.format == Utf8Format::kCsv) buffer.append(CsvHeading());

  UniqueFileNames names;
  int done = 0;
  // One contact for every entry, whose room is used again.
  Contact contact;
  for (const FolderWork& w : work) {
    const QString category =
        options.folderAsCategory && giving > 1 ? FolderCategory(w.path) : QString();
    // A folder of another class (mail kept beside contacts) gives only its contacts and lists.
    const bool contactsOnly = w.folder->DefaultItemType() != kContactItem;
    for (int i = 0; i < w.count; ++i) {
      if (observer.Cancelled()) {
        result.cancelled = true;
        break;
      }
      QString why;
      bool read = false;
      try {
        const std::unique_ptr<ContactEntry> entry = w.items->Item(i);
        read = entry && entry->ReadContact(contact, why);
        if (!read && why.isEmpty() && entry) why = entry->Failure();
      } catch (const std::exception& e) {
        why = QString::fromUtf8(e.what());
      }
      if (!read) {
        // Whatever was read of it stays out: the entry is reported, never written.
        EntryProblem problem{w.path, i + 1,
                             why.isEmpty() ? QStringLiteral("the entry cannot be read") : why};
        observer.Problem(problem);
        result.problems.push_back(std::move(problem));
      } else if (contactsOnly && !IsContactClass(contact.messageClass)) {
        // Not a contact: passed over.
      } else {
        if (!why.isEmpty()) {
          // Read, less the fields `why` names: written, and told of.
          EntryProblem problem{w.path, i + 1, why, false, {}, true};
          observer.Problem(problem);
          result.problems.push_back(std::move(problem));
        }
        if (contact.uid.isEmpty())
          contact.uid = CardUuid(QStringLiteral("%1|%2").arg(w.path).arg(i + 1));
        if (!category.isEmpty() && !contact.categories.contains(category))
          contact.categories.append(category);
        if (single) {
          AppendEntry(buffer, contact, options.format);
          if (buffer.size() >= kBlock) flush();
          (contact.isGroup ? result.groups : result.contacts)++;
        } else {
          QByteArray bytes;
          AppendEntry(bytes, contact, options.format);
          const QString path =
              QDir(folderPath).filePath(names.Take(ShownName(contact), Extension(options.format)));
          QString failure;
          if (WriteWhole(path, bytes, failure)) {
            (contact.isGroup ? result.groups : result.contacts)++;
            observer.FileWritten(path);
          } else {
            EntryProblem problem{w.path, i + 1, QStringLiteral("%1 (%2)").arg(path, failure), true};
            observer.Problem(problem);
            result.problems.push_back(std::move(problem));
          }
        }
      }
      observer.Progress(++done, total, w.path);
    }
    if (result.cancelled) break;
  }

  if (single) {
    if (result.cancelled) return result;  // the temporary file goes, the target stays as it was
    if (result.contacts + result.groups == 0) {
      // No contacts: no file either (an earlier one of the target's name stays as it was).
      result.output.clear();
      return result;
    }
    flush();
    const bool whole = single->flush();
    QString why = whole ? QString() : FileError(*single);
    single->close();
    // rename() replaces a file of the target's name in one step.
    const QString temporary = single->fileName();
    if (whole && single->error() == QFileDevice::NoError &&
        std::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(result.output).constData()) == 0) {
      single->setAutoRemove(false);
    } else {
      if (why.isEmpty())
        why = whole ? QString::fromLocal8Bit(std::strerror(errno)) : FileError(*single);
      throw Utf8ExportError(QStringLiteral("Cannot write %1: %2; nothing was left there. Free "
                                           "some disk space or choose another place")
                                .arg(result.output, why)
                                .toStdString());
    }
    observer.FileWritten(result.output);
  }
  return result;
}

}  // namespace lumivex
