// Contacts as CSV (RFC 4180) in UTF-8 under the column headings of Outlook's own CSV export
// ("First Name", "E-mail Address", "Business Street", ...), which Google Contacts, Thunderbird
// and others map by name. Every field is quoted; lines end with CR LF; a line break inside a
// value (a note, a street of several lines) stays a line break inside its quoted field.
//
// Dates are written YYYY-MM-DD, categories joined by ";" as Outlook joins them, gender as
// "Female" or "Male" (empty when unspecified). Three headings Outlook's export does not have
// come last: "Nickname", "Personal Web Page" and "IM Address".
//
// A merged contact's web pages beyond these two are written in "Notes", after its note, one
// "Web page: URL" a line.
//
// Every row carries a name under "First Name" or "Last Name", the columns importers show a
// contact by: a contact without name parts gets its display name there (NameOf in the .cpp says
// when it is split into given name and surname, and when it stays whole under "First Name").
//
// A distribution list is one row: its name under "First Name" and, in "Notes", its own note
// followed by its members, one "Name <address>" a line.
#pragma once

#include "contact/Contact.h"

#include <QByteArray>

namespace lumivex::contact {

// The heading line, CR LF included.
QByteArray CsvHeading();
// Appends the row of `contact`, CR LF included.
void AppendCsvRow(QByteArray& out, const Contact& contact);

}  // namespace lumivex::contact
