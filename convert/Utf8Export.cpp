#include "convert/Utf8Export.h"

#include "contact/CsvWriter.h"
#include "contact/FileNames.h"
#include "contact/VCardWriter.h"
#include "common/TemporaryFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace lumivex {

using namespace contact;

namespace {

QString Extension(Utf8Format format) {
  return format == Utf8Format::kCsv ? QStringLiteral(".csv") : QStringLiteral(".vcf");
}

// The category that names a folder: its path below the top of the store's folder tree
// ("Contacts/Suppliers" for "Top of Personal Folders/Contacts/Suppliers").
QString FolderCategory(const QString& path) {
  const QStringList parts = path.split(u'/');
  qsizetype start = 0;
  for (qsizetype i = 0; i + 1 < parts.size(); ++i)
    if (parts[i].startsWith(u"Top of ") || parts[i] == u"IPM_SUBTREE") start = i + 1;
  return parts.mid(start).join(u'/');
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

}  // namespace

Utf8ExportResult RunUtf8Export(const std::vector<std::shared_ptr<Folder>>& folders,
                               const Utf8ExportOptions& options, Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  // Every folder's entries are listed first, for the total of the progress and so that a folder
  // that cannot be read stops the export before anything is written.
  std::unique_ptr<FolderContacts> contacts;
  try {
    contacts = std::make_unique<FolderContacts>(std::vector<StoreFolders>{{{}, nullptr, folders}});
  } catch (const StoreError& e) {
    throw Utf8ExportError(e.what());
  }
  return RunUtf8Export(*contacts, options, observer);
}

Utf8ExportResult RunUtf8Export(contact::ContactStream& contacts, const Utf8ExportOptions& options,
                               Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  if (options.perContact && options.format == Utf8Format::kCsv)
    throw Utf8ExportError("CSV is one file for all contacts: one file per contact is for vCard");

  Utf8ExportResult result;
  const QFileInfo target(QDir::cleanPath(QDir(options.target).absolutePath()));
  // The single file is written under a temporary name beside the target (removed again when the
  // export fails or is cancelled) and renamed over the target once whole. It is not forced to
  // disk before the rename: that would make a large export wait seconds for the disk, longer
  // than the writing takes, and the file systems in use keep a renamed file's data whole.
  std::unique_ptr<QTemporaryFile> single;
  std::optional<TemporaryFiles::Registration> registered;  // removed by a signal that ends the run
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
    registered.emplace(single->fileName());
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
  int total = contacts.Total();
  size_t problemsSeen = 0;
  // One contact after another, whose room is used again.
  SourcedContact item;
  for (;;) {
    if (observer.Cancelled()) {
      result.cancelled = true;
      break;
    }
    bool more = false;
    try {
      more = contacts.Next(item);
    } catch (const StoreError& e) {
      throw Utf8ExportError(e.what());
    }
    if (total < 0) total = contacts.Total();
    // The entries passed over on the way, each told as it was met.
    for (const auto& problems = contacts.Problems(); problemsSeen < problems.size();) {
      const EntryProblem& problem = problems[problemsSeen++];
      observer.Problem(problem);
      result.problems.push_back(problem);
      ++done;
      observer.Progress(done, std::max(total, done), problem.folder);
    }
    if (!more) break;
    Contact& contact = item.contact;
    const QString folder = item.origins.empty() ? QString() : item.origins.front().folder;
    const int position = item.origins.empty() ? 0 : item.origins.front().position;
    if (options.folderAsCategory)
      for (const Origin& origin : item.origins) {
        const QString category = FolderCategory(origin.folder);
        if (!category.isEmpty() && !contact.categories.contains(category))
          contact.categories.append(category);
      }
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
        EntryProblem problem{folder, position, QStringLiteral("%1 (%2)").arg(path, failure), true,
                             item.origins.empty() ? QString() : item.origins.front().store};
        observer.Problem(problem);
        result.problems.push_back(std::move(problem));
      }
    }
    ++done;
    observer.Progress(done, std::max(total, done), folder);
  }

  if (single) {
    if (result.cancelled) return result;  // the temporary file goes, the target stays as it was
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
