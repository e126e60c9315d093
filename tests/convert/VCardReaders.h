// Readers of vCard files that nobody on this team wrote: Evolution's address-book library and
// KDE's KContacts. Each returns the cards of a file as JSON objects with the same keys (family,
// given, additional, fn, org, orgUnit, title, note, workPhone, homePhone, cellPhone, pager,
// workFax, homeFax, workAdr, homeAdr, workLabel, email, url).
#pragma once

#include <QJsonArray>
#include <QString>

namespace lumivex::testing {

struct VCardReader {
  QString name;
  // Empty when the reader can be used; otherwise why not (for GTEST_SKIP).
  QString missing;
  // The file's cards; an empty array with `error` set when the reader failed.
  QJsonArray Read(const QString& path, int codePage, QString* error) const;
  QStringList command;
};

VCardReader EvolutionReader();
VCardReader KContactsReader();

}  // namespace lumivex::testing
