// The readers our vCard 4.0, 3.0 and 2.1 and CSV files are checked with, none of them ours:
// strict vobject, Evolution's address-book library, KDE's KContacts, a Radicale CardDAV server,
// Python's csv module and LibreOffice Calc. Each gives what it saw as JSON.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "tests/support/TestPaths.h"

namespace lumivex::testing {

struct Utf8Reader {
  QString name;
  QString missing;  // empty when the reader can be used; otherwise why not
  // What the reader saw of `files`; `error` set when it failed.
  QJsonDocument Read(const QStringList& files, QString* error) const;
  // The same, failing the running test when the reader cannot be used or fails.
  QJsonDocument ReadOrFail(const QStringList& files) const;
  QStringList command;
};

Utf8Reader VObjectReader();
// Evolution and KContacts read UTF-8 files, or with `codePage` files in that Windows code page
// (our vCard 2.1 files). Their cards hold the keys family, given, additional, prefixes, suffixes,
// fn, nickname, org, orgUnit, title, role, note, emails, phones, workAdr, homeAdr, birthday,
// anniversary, categories, photo, uid, and the single fields of a 2.1 card: workPhone, homePhone,
// cellPhone, pager, workFax, homeFax, workLabel, email, url.
Utf8Reader EvolutionCardReader(int codePage = 0);
Utf8Reader KContactsCardReader(int codePage = 0);
Utf8Reader CardDavServer();
// Every contact of an Evolution Data Server book on this session's bus, as EvolutionCardReader
// gives a card (Read's arguments: the book's name, none for the default book), ordered by uid.
Utf8Reader EvolutionBookReader();
// A user's change of one contact in such a book, made with Evolution's library (Read's
// arguments: the book's name, empty for the default book, the contact's uid, its new note).
Utf8Reader EvolutionBookEditor();
// A user's deletion of one contact from such a book (Read's arguments: the book's name, empty
// for the default book, the contact's uid).
Utf8Reader EvolutionBookDeleter();
Utf8Reader PythonCsvReader();
Utf8Reader LibreOfficeCsvReader();

// The rows of a CSV reader's answer as objects keyed by the heading line.
QJsonArray RowsByHeading(const QJsonArray& rows);

// A reader's list of strings (the parts of an address, the e-mail addresses of a card).
inline QStringList Strings(const QJsonValue& v) {
  QStringList out;
  for (const QJsonValue& s : v.toArray()) out << s.toString();
  return out;
}

}  // namespace lumivex::testing
