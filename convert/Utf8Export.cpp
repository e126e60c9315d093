#include "convert/Utf8Export.h"

#include "contact/CsvWriter.h"
#include "contact/FileNames.h"
#include "contact/VCardWriter.h"
#include "convert/StagedFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace lumivex {

using namespace contact;

namespace {

constexpr int kMaxFolderDepth = 64;  // a damaged store could nest its folders in a loop

void CollectContactFolders(const std::shared_ptr<Folder>& folder, int depth,
                           std::vector<std::shared_ptr<Folder>>& out) {
  if (depth >= kMaxFolderDepth) return;
  for (const auto& sub : folder->SubFolders()) {
    if (sub->Hidden()) continue;
    if (sub->DefaultItemType() == kContactItem) out.push_back(sub);
    CollectContactFolders(sub, depth + 1, out);
  }
}

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

struct FolderWork {
  std::shared_ptr<Folder> folder;
  std::shared_ptr<Items> items;
  QString path;
  int count = 0;
};

[[noreturn]] void ThrowUnwritten(const QString& path, const QString& why) {
  throw Utf8ExportError(QStringLiteral("Cannot write %1: %2; nothing was left there. Free some "
                                       "disk space or choose another place")
                            .arg(path, why)
                            .toStdString());
}

void MakeFolder(const QString& path) {
  if (!QDir().mkpath(path))
    throw Utf8ExportError(
        QStringLiteral("Cannot create the folder %1: check that you may write there")
            .arg(path)
            .toStdString());
}

// Every folder's entries are opened first, for the total of the progress and so that a folder
// that cannot be read stops the export before anything is written.
std::vector<FolderWork> OpenFolders(const std::vector<std::shared_ptr<Folder>>& folders,
                                    int& total) {
  std::vector<FolderWork> work;
  total = 0;
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
    total += w.count;
    work.push_back(std::move(w));
  }
  return work;
}

// The path of the single file: the target, or a time-stamped name in the folder it names.
QString SingleFilePath(const Utf8ExportOptions& options, const QFileInfo& target) {
  QString path = target.absoluteFilePath();
  if (target.isDir() || options.target.endsWith(u'/')) {
    const QString stem =
        QStringLiteral("Contacts-") + QDateTime::currentDateTime().toString(u"yyyy-MM-dd-HHmmss");
    path = QDir(path).filePath(stem + Extension(options.format));
  }
  return path;
}

// The single file: written under a temporary name beside its target, whose name it takes once
// whole (StagedFile). It is not forced to disk before the rename: that would make a large
// export wait seconds for the disk, longer than the writing takes, and the file systems in use
// keep a renamed file's data whole. Bytes are gathered and handed on in blocks.
class SingleFile {
 public:
  explicit SingleFile(const QString& path) : staged_(path), file_(staged_.WorkPath()) {
    MakeFolder(QFileInfo(path).absolutePath());
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw Utf8ExportError(
          QStringLiteral("Cannot create %1: %2").arg(path, FileError(file_)).toStdString());
    buffer_.reserve(kBlock * 2);
  }

  QByteArray& Buffer() { return buffer_; }
  // Hands the gathered bytes on once they fill a block.
  void Written() {
    if (buffer_.size() >= kBlock) Flush();
  }
  // Writes out the rest and gives the file its name. Throws Utf8ExportError, leaving nothing.
  void Finish() {
    Flush();
    const bool whole = file_.flush();
    QString why = whole ? QString() : FileError(file_);
    file_.close();
    if (whole && file_.error() == QFileDevice::NoError && staged_.Commit(&why)) return;
    ThrowUnwritten(staged_.Target(), why.isEmpty() ? FileError(file_) : why);
  }

 private:
  static constexpr qsizetype kBlock = 1 << 16;

  void Flush() {
    if (buffer_.isEmpty()) return;
    if (file_.write(buffer_) != buffer_.size()) {
      const QString why = FileError(file_);
      file_.close();
      staged_.Discard();
      ThrowUnwritten(staged_.Target(), why);
    }
    buffer_.clear();
  }

  StagedFile staged_;
  QFile file_;
  QByteArray buffer_;
};

// One entry of the export read into `contact`; false, with the reason, when it cannot be read.
bool ReadEntry(const Items& items, int index, Contact& contact, QString& why) {
  try {
    const std::unique_ptr<ContactEntry> entry = items.Item(index);
    const bool read = entry && entry->ReadContact(contact, why);
    if (!read && why.isEmpty() && entry) why = entry->Failure();
    return read;
  } catch (const std::exception& e) {
    why = QString::fromUtf8(e.what());
    return false;
  }
}

// Writes the entries of every folder in order, into the single file or one file each.
class Writer {
 public:
  Writer(const Utf8ExportOptions& options, Utf8ExportObserver& observer, Utf8ExportResult& result)
      : options_(options), observer_(observer), result_(result) {}

  void Run(const std::vector<FolderWork>& work, int total, SingleFile* single) {
    int done = 0;
    for (const FolderWork& w : work) {
      const QString category = options_.folderAsCategory ? FolderCategory(w.path) : QString();
      for (int i = 0; i < w.count; ++i) {
        if (observer_.Cancelled()) {
          result_.cancelled = true;
          return;
        }
        QString why;
        if (!ReadEntry(*w.items, i, contact_, why)) {
          // Whatever was read of it stays out: the entry is reported, never written.
          Report({w.path, i + 1, why.isEmpty() ? QStringLiteral("the entry cannot be read") : why});
        } else {
          if (contact_.uid.isEmpty())
            contact_.uid = CardUuid(QStringLiteral("%1|%2").arg(w.path).arg(i + 1));
          if (!category.isEmpty() && !contact_.categories.contains(category))
            contact_.categories.append(category);
          if (single != nullptr) {
            AppendEntry(single->Buffer(), contact_, options_.format);
            single->Written();
            Count();
          } else {
            WriteOwnFile(w.path, i + 1);
          }
        }
        observer_.Progress(++done, total, w.path);
      }
    }
  }

 private:
  void Count() { (contact_.isGroup ? result_.groups : result_.contacts)++; }

  void Report(EntryProblem problem) {
    observer_.Problem(problem);
    result_.problems.push_back(std::move(problem));
  }

  void WriteOwnFile(const QString& folder, int position) {
    QByteArray bytes;
    AppendEntry(bytes, contact_, options_.format);
    const QString path =
        QDir(result_.output).filePath(names_.Take(ShownName(contact_), Extension(options_.format)));
    QString failure;
    if (WriteWhole(path, bytes, failure)) {
      Count();
      observer_.FileWritten(path);
    } else {
      Report({folder, position, QStringLiteral("%1 (%2)").arg(path, failure), true});
    }
  }

  const Utf8ExportOptions& options_;
  Utf8ExportObserver& observer_;
  Utf8ExportResult& result_;
  UniqueFileNames names_;
  Contact contact_;  // one contact for every entry, whose room is used again
};

}  // namespace

std::vector<std::shared_ptr<Folder>> ContactFolders(const Store& store) {
  std::vector<std::shared_ptr<Folder>> folders;
  CollectContactFolders(store.RootFolder(), 0, folders);
  return folders;
}

Utf8ExportResult RunUtf8Export(const std::vector<std::shared_ptr<Folder>>& folders,
                               const Utf8ExportOptions& options, Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  if (options.perContact && options.format == Utf8Format::kCsv)
    throw Utf8ExportError("CSV is one file for all contacts: one file per contact is for vCard");
  int total = 0;
  const std::vector<FolderWork> work = OpenFolders(folders, total);

  Utf8ExportResult result;
  const QFileInfo target(QDir::cleanPath(QDir(options.target).absolutePath()));
  std::unique_ptr<SingleFile> single;
  if (options.perContact) {
    result.output = target.absoluteFilePath();
    if (target.exists() && !target.isDir())
      throw Utf8ExportError(QStringLiteral("%1 is a file: one file per contact needs a folder")
                                .arg(result.output)
                                .toStdString());
    MakeFolder(result.output);
  } else {
    result.output = SingleFilePath(options, target);
    single = std::make_unique<SingleFile>(result.output);
    if (options.format == Utf8Format::kCsv) single->Buffer().append(CsvHeading());
  }

  Writer(options, observer, result).Run(work, total, single.get());
  // A cancelled export leaves no single file: the target stays as it was.
  if (single && !result.cancelled) {
    single->Finish();
    observer.FileWritten(result.output);
  }
  return result;
}

}  // namespace lumivex
