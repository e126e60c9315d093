// lumivex-cli wab-dump: lists the contacts of a Windows Address Book file (.wab), as the
// address-book component reads them.
#include "cli/CliCommon.h"
#include "cli/Command.h"
#include "cli/Verbs.h"
#include "wab/WabFile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("wab-dump");

const Command& WabDumpCommand() {
  static const Command command(
      kVerb,
      QStringLiteral(
          "Lists the contacts of a Windows Address Book file (.wab): the Unicode books that\n"
          "Lumivex and Windows (version 5 and later) write, and older ANSI books.\n"),
      {
          {QString(), QStringLiteral("FILE"), QStringLiteral("the .wab file\n"), true},
          JsonOption(QStringLiteral(
              "print one JSON object: {\"file\", \"unicode\", \"count\", \"contacts\": [{\"id\",\n"
              "\"displayName\", \"email\"}]}\n")),
      },
      QStringLiteral(
          "Prints one line per contact, its display name and, in angle brackets, its e-mail "
          "address,\n"
          "then the number of contacts. Deleted contacts are left out. Exit status: 0 listed, 1 "
          "the\n"
          "file cannot be read or is not an address book (one line on stderr says why), 2 bad\n"
          "arguments.\n"));
  return command;
}

}  // namespace

int WabDumpVerb(const QStringList& arguments) {
  Arguments args;
  if (const int status = WabDumpCommand().Parse(arguments, args); status >= 0) return status;
  if (args.Operands().isEmpty())
    return UsageError(kVerb, QStringLiteral("the .wab FILE to list is missing"));
  const QString file = args.Operands().first();
  const bool json = args.Has(QStringLiteral("--json"));

  wab::Book book;
  try {
    if (QFileInfo(file).isDir())
      throw wab::WabError(file.toStdString() + ": is a folder, not an address-book file");
    book = wab::ReadBook(file.toStdString());
  } catch (const wab::WabError& error) {
    return Failure(kVerb, QString::fromStdString(error.what()));
  }
  const std::vector<wab::Contact> contacts = wab::LiveContacts(book);

  if (json) {
    QJsonArray list;
    for (const wab::Contact& contact : contacts) {
      list.append(
          QJsonObject{{QStringLiteral("id"), qint64(contact.id)},
                      {QStringLiteral("displayName"), QString::fromStdString(contact.displayName)},
                      {QStringLiteral("email"), QString::fromStdString(contact.email)}});
    }
    const QJsonObject result{{QStringLiteral("file"), QFileInfo(file).absoluteFilePath()},
                             {QStringLiteral("unicode"), book.unicode},
                             {QStringLiteral("count"), qint64(contacts.size())},
                             {QStringLiteral("contacts"), list}};
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
  }
  for (const wab::Contact& contact : contacts) {
    if (contact.email.empty())
      std::printf("%s\n", contact.displayName.c_str());
    else
      std::printf("%s <%s>\n", contact.displayName.c_str(), contact.email.c_str());
  }
  std::printf("%zu %s in %s\n", contacts.size(), contacts.size() == 1 ? "contact" : "contacts",
              qPrintable(file));
  return 0;
}

}  // namespace lumivex::cli
