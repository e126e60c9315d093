// Rich-text bodies as the mail client stores them: compressed RTF (PidTagRtfCompressed), and the
// plain text of an RTF document, for entries whose notes are kept only as rich text.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace lumivex::rtf {

// Unpacks a compressed RTF value: the "LZFu" form (a 4 KB sliding dictionary primed with common
// RTF words, its data checked by CRC) or the uncompressed "MELA" form. Returns false, with the
// reason in `why`, for a value that is truncated, damaged or of another kind.
bool Decompress(QByteArrayView stored, QByteArray& rtf, QString& why);

// The text a reader of the RTF document sees: paragraphs and line breaks as "\n", tabs as "\t",
// 8-bit characters decoded in the document's code page (\ansicpg, 1252 unless named), \uN
// characters with the \ucN replacement skipped, and no font, colour, style, picture or other
// hidden groups. An HTML body wrapped in RTF (\fromhtml) gives the text of its HTML. Trailing
// line breaks and spaces are dropped.
QString ToText(QByteArrayView rtf);

}  // namespace lumivex::rtf
