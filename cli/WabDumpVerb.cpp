// lumivex-cli wab-dump: lists the contacts of a Windows Address Book file (.wab), as the
// address-book component reads them.
#include "cli/CliCommon.h"
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

void PrintHelp() {
  std::fputs(
      "Usage: lumivex-cli wab-dump FILE [--json]\n"
      "Lists the contacts of a Windows Address Book file (.wab): the Unicode books that\n"
      "Lumivex and Windows (version 5 and later) write, and older ANSI books.\n"
      "\n"
      "  FILE    the .wab file\n"
      "  --json  print one JSON object: {\"file\", \"unicode\", \"count\", \"contacts\": "
      "[{\"id\",\n"
      "          \"displayName\", \"email\"}]}\n"
      "\n"
      "Prints one line per contact, its display name and, in angle brackets, its e-mail address,\n"
      "then the number of contacts. Deleted contacts are left out. Exit status: 0 listed, 1 the\n"
      "file cannot be read or is not an address book (one line on stderr says why), 2 bad\n"
      "arguments.\n",
      stdout);
}

}  // namespace

int WabDumpVerb(const QStringList& arguments) {
  QString file;
  bool json = false;
  for (const QString& argument : arguments) {
    if (argument == u"--help" || argument == u"-h") {
      PrintHelp();
      return 0;
    }
    if (argument == u"--json") {
      json = true;
    } else if (argument.startsWith(u'-') && argument != u"-") {
      return UsageError(kVerb, QStringLiteral("unknown option '%1'").arg(argument));
    } else if (!file.isEmpty()) {
      return UsageError(
          kVerb, QStringLiteral("one FILE only ('%1' and '%2' were given)").arg(file, argument));
    } else {
      file = argument;
    }
  }
  if (file.isEmpty()) return UsageError(kVerb, QStringLiteral("the .wab FILE to list is missing"));

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
