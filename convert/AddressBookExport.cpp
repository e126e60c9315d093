// The address-book export: copies the empty address book "xwab.def" from the tool's folder to
// the time-stamped target, opens it through the address-book component and adds one contact per
// entry of the folder, made from its FullName and Email1Address.
#include "convert/AddressBookExport.h"

#include "common/Installation.h"
#include "common/TemporaryFiles.h"
#include "convert/ConversionRun.h"
#include "convert/StagedFile.h"
#include "wab/AddressBook.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <memory>
#include <system_error>

namespace lumivex {

bool APIFileCopy(const QString& src, const QString& dest, bool FailIfDestExists) {
  std::error_code error;
  const auto options = FailIfDestExists ? std::filesystem::copy_options::none
                                        : std::filesystem::copy_options::overwrite_existing;
  const std::filesystem::path from(src.toStdString());
  const std::filesystem::path to(dest.toStdString());
  if (!std::filesystem::is_regular_file(from, error)) return false;
  return std::filesystem::copy_file(from, to, options, error) && !error;
}

QString ToolDir() {
  return DataDir();
}

QString AddressBookTemplatePath() {
  QString dir = ToolDir();
  if (!dir.endsWith(u'/')) dir += u'/';
  return dir + QStringLiteral("xwab.def");
}

namespace {

// Why the template could not be copied to `target`, and what to do about it.
QString CopyFailure(const QString& templatePath, const QString& target) {
  const QFileInfo source(templatePath);
  if (!source.isFile())
    return QStringLiteral(
               "The address-book template %1 is missing, so no address book can be made. "
               "Reinstall Lumivex to restore it.")
        .arg(templatePath);
  if (!source.isReadable())
    return QStringLiteral(
               "The address-book template %1 cannot be read. Check its permissions "
               "or reinstall Lumivex.")
        .arg(templatePath);
  const QFileInfo dest(target);
  if (dest.isDir())
    return QStringLiteral(
               "Cannot write the address book %1: a folder of that name is in the "
               "way. Rename or remove it, or choose another folder.")
        .arg(target);
  const QFileInfo folder(dest.absolutePath());
  if (!folder.isDir())
    return QStringLiteral(
               "Cannot write the address book %1: the folder %2 does not exist. "
               "Choose another folder.")
        .arg(target, folder.filePath());
  return QStringLiteral(
             "Cannot write the address book %1: the folder is not writable or the "
             "disk is full. Choose another folder.")
      .arg(target);
}

}  // namespace

void ExportAddressBook(RunContext& run) {
  const QString target = run.SetOutputPath(RunContext::OutputStem() + QStringLiteral(".wab"));
  const QString templatePath = AddressBookTemplatePath();
  // The book is made under a temporary name beside the target and takes the target's name once
  // it is whole: a copy or a book cut short by a full disk is never left as the address book.
  StagedFile staged(target);
  // The component keeps the records and their tables in files beside the book and writes the
  // finished book beside it too: a signal that ends the run removes those as well.
  const TemporaryFiles::Registration records(staged.WorkPath() + QStringLiteral(".records"));
  const TemporaryFiles::Registration tables(staged.WorkPath() + QStringLiteral(".tables"));
  const TemporaryFiles::Registration finished(staged.WorkPath() + QStringLiteral(".part"));
  if (!APIFileCopy(templatePath, staged.WorkPath(), false)) {
    const QString why = CopyFailure(templatePath, target);
    staged.Discard();
    throw ExportError(why.toStdString());
  }

  auto component = std::make_unique<wab::AddressBook>();
  try {
    component->Open(staged.WorkPath().toStdString());
  } catch (const wab::WabError& error) {
    staged.Discard();  // what is there is a copy of a template that is no address book
    throw ExportError(
        QStringLiteral("Cannot fill the address book: %1. Reinstall Lumivex to "
                       "restore its template %2.")
            .arg(QString::fromStdString(error.what()).replace(staged.WorkPath(), target),
                 templatePath)
            .toStdString());
  }

  run.counter = 0;
  const Items& entries = run.Entries();
  const int count = run.EntryCount();
  for (int i = 0; i < count; ++i) {
    // A failing read, or a contact the component rejects, adds nothing; the entry still counts.
    try {
      const std::unique_ptr<ContactEntry> entry = entries.Item(i);
      QString fullName;
      QString email;
      if (entry && entry->Read("FullName", fullName) && entry->Read("Email1Address", email))
        component->createnew(fullName.toStdString(), email.toStdString());
    } catch (const std::exception&) {
    }
    run.ProgressStep();
  }

  // Releasing the component writes the book. Its failure is reported rather than skipped: a
  // message of success over an address book without its contacts would mislead.
  try {
    component->Close();
  } catch (const wab::WabError& error) {
    // What is left is the empty template, or a book cut short: neither holds the contacts, so
    // neither is left to be taken for them.
    staged.Discard();
    // The component names the file it wrote: the user knows it by the target's name.
    throw ExportError(
        QString::fromUtf8(error.what()).replace(staged.WorkPath(), target).toStdString());
  }
  component.reset();
  QString reason;
  if (!staged.Commit(&reason))
    throw ExportError(QStringLiteral("Cannot write the address book %1: %2. Choose another folder.")
                          .arg(target, reason)
                          .toStdString());
  run.View().OutputWritten(target);
  run.CompletionStep(run.counter);
}

}  // namespace lumivex
