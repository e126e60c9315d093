#include "convert/Utf8Export.h"

#include "contact/CsvWriter.h"
#include "contact/FileNames.h"
#include "contact/GroupMembers.h"
#include "contact/TextOut.h"
#include "contact/VCardWriter.h"
#include "convert/StagedFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
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
// A list's members are named by the cards in `cards` where it has theirs.
void AppendEntry(QByteArray& out, const Contact& contact, Utf8Format format,
                 const MemberCards* cards) {
  switch (format) {
    case Utf8Format::kVCard4:
      AppendVCard(out, contact, VCardVersion::k40, cards);
      break;
    case Utf8Format::kVCard3:
      AppendVCard(out, contact, VCardVersion::k30, cards);
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

// The path of the single file: the target, or a time-stamped name in the folder it names.
QString SingleFilePath(const Utf8ExportOptions& options, const QFileInfo& target) {
  QString path = target.absoluteFilePath();
  if (target.isDir() || options.target.endsWith(u'/')) {
    const QString stem =
        QStringLiteral("Contacts-") + QDateTime::currentDateTime().toString(u"yyyy-MM-dd-HHmmss");
    // A file of that name (an export within the same second) is not replaced: the next free
    // name is taken, "-2", "-3", ... after the time.
    const QDir folder(path);
    path = folder.filePath(stem + Extension(options.format));
    for (int n = 2; QFileInfo::exists(path); ++n)
      path = folder.filePath(QStringLiteral("%1-%2").arg(stem).arg(n) + Extension(options.format));
  }
  return path;
}

// The single file: written under a temporary name beside its target, whose name it takes once
// whole (StagedFile); a failed or cancelled export leaves the target as it was. It is not
// forced to disk before the rename: that would make a large export wait seconds for the disk,
// longer than the writing takes, and the file systems in use keep a renamed file's data whole.
// Its bytes are gathered and handed on in blocks.
class SingleFile {
 public:
  explicit SingleFile(const QString& path) : staged_(path), file_(staged_.WorkPath()) {
    MakeFolder(QFileInfo(path).absolutePath());
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw Utf8ExportError(
          QStringLiteral("Cannot create %1: %2").arg(path, FileError(file_)).toStdString());
    buffer_.reserve(kBlock * 2);
  }

  // Appends an entry, handing the gathered bytes on once they fill a block.
  void Append(const Contact& contact, Utf8Format format, const MemberCards* cards) {
    AppendEntry(buffer_, contact, format, cards);
    if (buffer_.size() >= kBlock) Flush();
  }
  // Appends an entry's bytes as they were written already (SourcedContact::written).
  void Append(QByteArrayView written) {
    AppendBytes(buffer_, written);
    if (buffer_.size() >= kBlock) Flush();
  }
  void AppendHeading() { buffer_.append(CsvHeading()); }
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
    // Emptied, its room kept (clear() would free it, and every block would grow it anew).
    buffer_.resize(0);
  }

  StagedFile staged_;
  QFile file_;
  QByteArray buffer_;
};

// Writes the contacts of a stream in order, into the single file or one file each, and tells
// the observer of each step and of the entries passed over.
class Writer : public AheadWriter {
 public:
  Writer(const Utf8ExportOptions& options, Utf8ExportObserver& observer, Utf8ExportResult& result)
      : options_(options), observer_(observer), result_(result) {}

  // A contact of one entry as it is written into the single file (a list never is), after what
  // it is counted and noted by when its turn comes (WriteWritten): for CSV whether it needs the
  // note on semicolons, for vCard its card and addresses for the lists' members.
  void WriteAhead(const SourcedContact& item, QByteArray& out) override {
    const auto write = [&](const Contact& contact) {
      if (options_.format == Utf8Format::kCsv)
        out.append(Semicolons(contact) ? '\1' : '\0');
      else
        MemberCards::AheadNote(contact, out);
      AppendEntry(out, contact, options_.format, nullptr);
    };
    if (!options_.folderAsCategory) {
      write(item.contact);
      return;
    }
    SourcedContact named = item;
    AddFolderCategories(named);
    write(named.contact);
  }

  void Run(ContactStream& source, SingleFile* single) {
    // vCard lists last, their members named by the cards written before them; CSV in order.
    GroupsLast ordered(source);
    ContactStream& contacts = options_.format == Utf8Format::kCsv ? source : ordered;
    cards_ = &ordered.Members();
    // A stream that keeps contacts a while (a merge) keeps them as written into the single
    // file, not whole: far fewer bytes kept and taken back.
    if (single != nullptr) contacts.WriteAhead(this);
    total_ = contacts.Total();
    // One contact after another, whose room is used again.
    SourcedContact item;
    for (;;) {
      if (observer_.Cancelled()) {
        result_.cancelled = true;
        return;
      }
      bool more = false;
      try {
        more = contacts.Next(item);
      } catch (const StoreError& e) {
        throw Utf8ExportError(e.what());
      }
      if (total_ < 0) total_ = contacts.Total();
      TellProblems(contacts);
      if (!more) return;
      if (item.origins.size() > 1) {
        ++result_.mergedContacts;
        result_.mergedEntries += int(item.origins.size());
      }
      if (!item.written.isEmpty()) {
        WriteWritten(item.written, ordered, *single);
      } else if (single != nullptr) {
        AddCategories(item);
        single->Append(item.contact, options_.format, cards_);
        Count(item.contact);
      } else {
        AddCategories(item);
        WriteOwnFile(item);
      }
      Step(item.origins.empty() ? QString() : item.origins.front().folder);
    }
  }

 private:
  void Step(const QString& folder) {
    ++done_;
    observer_.Progress(done_, std::max(total_, done_), folder);
  }
  void Count(const Contact& contact) {
    (contact.isGroup ? result_.groups : result_.contacts)++;
    if (options_.format == Utf8Format::kCsv && Semicolons(contact)) ++result_.semicolons;
  }
  // Whether a CSV cell of `contact` holds values that hold a semicolon themselves.
  static bool Semicolons(const Contact& contact) {
    const auto semicolon = [](const QStringList& values) {
      return std::any_of(values.begin(), values.end(),
                         [](const QString& v) { return v.contains(u';'); });
    };
    return semicolon(contact.categories) || semicolon(contact.children);
  }
  // A contact given as written (WriteAhead's bytes): counted and noted, and its bytes written.
  void WriteWritten(QByteArrayView written, GroupsLast& ordered, SingleFile& single) {
    ++result_.contacts;
    if (options_.format == Utf8Format::kCsv) {
      result_.semicolons += written.front() != 0;
      written = written.sliced(1);
    } else {
      written = ordered.NoteAhead(written);
    }
    single.Append(written);
  }

  // The entries the stream passed over on the way, each told as it was met.
  void TellProblems(const ContactStream& contacts) {
    for (const auto& problems = contacts.Problems(); problemsSeen_ < problems.size();) {
      const EntryProblem& problem = problems[problemsSeen_++];
      observer_.Problem(problem);
      result_.problems.push_back(problem);
      // An entry passed over is a step; a folder's own damage and an entry given without some
      // fields (written as it comes) are not.
      if (!problem.partial && problem.position > 0) Step(problem.folder);
    }
  }

  void AddCategories(SourcedContact& item) const {
    if (options_.folderAsCategory) AddFolderCategories(item);
  }

  void WriteOwnFile(const SourcedContact& item) {
    const Contact& contact = item.contact;
    QByteArray bytes;
    AppendEntry(bytes, contact, options_.format, cards_);
    const QString path =
        QDir(result_.output).filePath(names_.Take(ShownName(contact), Extension(options_.format)));
    QString failure;
    if (WriteWhole(path, bytes, failure)) {
      Count(contact);
      observer_.FileWritten(path);
      return;
    }
    const Origin* origin = item.origins.empty() ? nullptr : &item.origins.front();
    EntryProblem problem{origin ? origin->folder : QString(), origin ? origin->position : 0,
                         QStringLiteral("%1 (%2)").arg(path, failure), true,
                         origin ? origin->store : QString()};
    observer_.Problem(problem);
    result_.problems.push_back(std::move(problem));
  }

  const Utf8ExportOptions& options_;
  Utf8ExportObserver& observer_;
  Utf8ExportResult& result_;
  UniqueFileNames names_;
  int total_ = 0;
  int done_ = 0;
  size_t problemsSeen_ = 0;
  const MemberCards* cards_ = nullptr;
};

}  // namespace

bool SeveralFoldersGiveContacts(const std::vector<StoreFolders>& sources) {
  QSet<QString> giving;
  for (const StoreFolders& source : sources)
    for (const auto& folder : source.folders) {
      try {
        if (folder->GetItems()->Count() > 0) giving.insert(folder->Path());
      } catch (const StoreError&) {
      }
    }
  return giving.size() > 1;
}

void AddFolderCategories(SourcedContact& item) {
  for (const Origin& origin : item.origins) {
    const QString category = FolderCategory(origin.folder);
    if (!category.isEmpty() && !item.contact.categories.contains(category))
      item.contact.categories.append(category);
  }
}

Utf8ExportResult RunUtf8Export(const std::vector<std::shared_ptr<Folder>>& folders,
                               const Utf8ExportOptions& options, Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  // Every folder's entries are listed first, for the total of the progress and so that a folder
  // that cannot be read stops the export before anything is written.
  std::unique_ptr<StoreContactStream> contacts;
  try {
    contacts =
        std::make_unique<StoreContactStream>(std::vector<StoreFolders>{{{}, nullptr, folders}});
  } catch (const StoreError& e) {
    throw Utf8ExportError(e.what());
  }
  // A contact is named by its folder only where more than one folder gives contacts.
  Utf8ExportOptions run = options;
  if (contacts->FoldersWithEntries() <= 1) run.folderAsCategory = false;
  return RunUtf8Export(*contacts, run, observer);
}

Utf8ExportResult RunUtf8Export(contact::ContactStream& contacts, const Utf8ExportOptions& options,
                               Utf8ExportObserver& observer) {
  if (options.target.isEmpty()) throw Utf8ExportError("No file or folder to write to was given");
  if (options.perContact && options.format == Utf8Format::kCsv)
    throw Utf8ExportError("CSV is one file for all contacts: one file per contact is for vCard");

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
    if (options.format == Utf8Format::kCsv) single->AppendHeading();
  }

  Writer(options, observer, result).Run(contacts, single.get());
  // A cancelled export leaves no single file: the target stays as it was.
  if (single && !result.cancelled) {
    if (result.contacts + result.groups == 0) {
      // No contacts: no file either (one of the target's name stays as it was).
      result.output.clear();
      return result;
    }
    single->Finish();
    observer.FileWritten(result.output);
  }
  return result;
}

}  // namespace lumivex
