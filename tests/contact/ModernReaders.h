// The readers our vCard 4.0, vCard 3.0 and CSV files are checked with, none of them ours:
// strict vobject, Evolution's address-book library, KDE's KContacts, a Radicale CardDAV server,
// Python's csv module and LibreOffice Calc. Each gives what it saw as JSON.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <ostream>

// Text in test failures as text, not as a list of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace lumivex::testing {

struct ModernReader {
  QString name;
  QString missing;  // empty when the reader can be used; otherwise why not
  // What the reader saw of `files`; `error` set when it failed.
  QJsonDocument Read(const QStringList& files, QString* error) const;
  QStringList command;
};

ModernReader VObjectReader();
ModernReader EvolutionCardReader();
ModernReader KContactsCardReader();
ModernReader CardDavServer();
ModernReader PythonCsvReader();
ModernReader LibreOfficeCsvReader();

// The rows of a CSV reader's answer as objects keyed by the heading line.
QJsonArray RowsByHeading(const QJsonArray& rows);

// A reader's list of strings (the parts of an address, the e-mail addresses of a card).
inline QStringList Strings(const QJsonValue& v) {
  QStringList out;
  for (const QJsonValue& s : v.toArray()) out << s.toString();
  return out;
}

}  // namespace lumivex::testing
