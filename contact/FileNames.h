// File names made from contacts' names, safe on the file systems of Linux and Windows (and so on
// the USB sticks and shares between them) and distinct within one export.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>

namespace lumivex::contact {

// `name` made into a file-name stem: / \ : * ? " < > | and control characters become "_",
// leading and trailing spaces and trailing dots go, a name Windows keeps for devices (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, also before a dot) gets "_" after it, and the stem is cut, on a
// character boundary, to at most `maxBytes` bytes of UTF-8. Empty when nothing is left.
QString SafeFileStem(const QString& name, qsizetype maxBytes);

// Hands out file names that differ from every name handed out before, ignoring case (as Windows
// and macOS compare names): "Ann Lee.vcf", then "Ann Lee (2).vcf", "Ann Lee (3).vcf"... Keeps
// only a hash of each name, so its memory stays small for large exports; a hash that matches by
// chance only costs a number.
class UniqueFileNames {
 public:
  // A name for `name` with `extension` (".vcf"); "Contact" for a name with nothing usable.
  QString Take(const QString& name, const QString& extension);

 private:
  QSet<size_t> taken_;
  QHash<size_t, int> next_;  // by stem: the number to try first
};

}  // namespace lumivex::contact
