// Decoders of the values the entries and folders of a store hold, beside the store file's own
// (StoreFile.h: text in code pages and UTF-16): the code page of an item's 8-bit text, dates
// as the day the user entered, the SMTP address inside an Exchange address's display text, the
// entry ids that name list members and an address's origin, and stored line breaks.
#pragma once

#include "source/StoreFile.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <algorithm>
#include <cstdint>

namespace lumivex::backend {

// The Windows code page that holds the 8-bit strings of an item written under `codePage`. The
// mail client keeps 8-bit properties in the Windows code page of the text's language even when
// the item names an Internet code page (ISO-2022-JP for Japanese mail, KOI8-R, ISO-8859-x...).
// 0 for code pages that say nothing about it (UTF-8, UTF-16, US-ASCII).
int WindowsCodePage(int codePage);

// The code page an item names for its 8-bit strings, 0 when it names none.
int ItemCodePage(const storefile::StoreItem& item, int messageIndex, int internetIndex);

// A FILETIME as the day the user entered. A date is stored as the UTC instant of local midnight
// (or midnight UTC for the local-time copies), so the nearest UTC midnight is the entered day for
// any zone within 12 hours of UTC. The mail client's "no date" (the year 4501) and out-of-range
// values give an invalid date.
QDate DayOf(uint64_t fileTime);

// The same day as the user's short date with a four-digit year; empty for no date.
QString DateText(uint64_t fileTime);

// For an Exchange address, the SMTP form held in the original display text, if any:
// "Name (name@example.com)" or a bare "name@example.com".
QString SmtpFromDisplay(const QString& display);

// A one-off entry id: a recipient written out in full (name, address type, address), as 8-bit
// text in the store's code page or, when its Unicode flag is set, as UTF-16. False when `id` is
// not one or is cut short.
bool ParseOneOff(const QByteArray& id, int codePage, QString& name, QString& type,
                 QString& address);

// A wrapped entry id: a member of a distribution list that is an entry of the store (a contact,
// with the address of the contact it stands for, or another list). The address is 4, 5 or 6 for
// the contact's e-mail address 1 to 3 (0 to 2 for its fax numbers). The node id is the last four
// bytes of the wrapped message entry id. False when `id` is not one.
bool ParseWrapped(const QByteArray& id, int& kind, int& address, uint32_t& node);

// The node id at the end of a 24-byte entry id, 0 when `item` has none.
uint32_t EntryIdNode(const storefile::StoreItem& item, uint32_t tag);

// Every "\r\n", then every lone "\r", of `text` as "\n".
void CarriageReturnsToNewlines(QString& text);

// Line breaks of stored text ("\r\n", or a lone "\r") as "\n", in place: most text has none,
// or "\n" alone, and keeps its buffer untouched. Looked for here rather than through
// QString::contains: most fields are a few characters, fewer than the call takes.
// The look inline, where it is called for each text of a contact; the rare replacing out of line.
inline void LinesInPlace(QString& text) {
  const char16_t* begin = reinterpret_cast<const char16_t*>(text.constData());
  const char16_t* end = begin + text.size();
  if (std::find(begin, end, u'\r') != end) CarriageReturnsToNewlines(text);
}

}  // namespace lumivex::backend
