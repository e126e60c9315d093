#include "contact/FileNames.h"

#include <QHash>

#include <algorithm>

namespace lumivex::contact {

namespace {

// Room for the longest name the file systems take (255 bytes on Linux, 255 UTF-16 units on
// Windows), less the " (12345)" and extension that may follow the stem.
constexpr qsizetype kStemBytes = 200;

bool Reserved(const QString& stem) {
  const QString base = stem.section(u'.', 0, 0).trimmed().toUpper();
  static const QSet<QString> kNames = {
      QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
      QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
      QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
      QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
      QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
      QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
      QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
      QStringLiteral("LPT9")};
  return kNames.contains(base);
}

void TrimEnds(QString& s) {
  while (!s.isEmpty() && (s.back() == u' ' || s.back() == u'.')) s.chop(1);
  while (!s.isEmpty() && s.front() == u' ') s.remove(0, 1);
}

}  // namespace

QString SafeFileStem(const QString& name, qsizetype maxBytes) {
  QString stem;
  stem.reserve(name.size());
  for (qsizetype i = 0; i < name.size(); ++i) {
    const QChar c = name[i];
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029) {
      // Line breaks and tabs read as spaces; other control characters are dropped.
      if (u == u'\n' || u == u'\r' || u == u'\t') stem += u' ';
      continue;
    }
    if (QStringView(u"/\\:*?\"<>|").contains(c)) {
      stem += u'_';
      continue;
    }
    if (c.isLowSurrogate() && (i == 0 || !name[i - 1].isHighSurrogate())) continue;
    if (c.isHighSurrogate() && (i + 1 >= name.size() || !name[i + 1].isLowSurrogate())) continue;
    stem += c;
  }
  stem = stem.simplified();
  TrimEnds(stem);
  while (!stem.isEmpty() && stem.toUtf8().size() > maxBytes) {
    stem.chop(1);
    if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);
    TrimEnds(stem);
  }
  if (!stem.isEmpty() && Reserved(stem)) {
    const qsizetype dot = stem.indexOf(u'.');
    stem.insert(dot < 0 ? stem.size() : dot, u'_');
  }
  return stem;
}

QString UniqueFileNames::Take(const QString& name, const QString& extension) {
  QString stem = SafeFileStem(name, kStemBytes);
  if (stem.isEmpty()) stem = QStringLiteral("Contact");
  // Equal names start counting where the last one stopped, so that many contacts of one name
  // cost one look-up each.
  const size_t stemKey = qHash(stem.toCaseFolded());
  int& next = next_[stemKey];
  for (int n = std::max(next, 1);; ++n) {
    const QString candidate = (n == 1 ? stem : stem + QStringLiteral(" (%1)").arg(n)) + extension;
    const size_t key = qHash(candidate.toCaseFolded());
    if (taken_.contains(key)) continue;
    taken_.insert(key);
    next = n + 1;
    return candidate;
  }
}

}  // namespace lumivex::contact
