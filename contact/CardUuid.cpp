#include "contact/CardUuid.h"

#include <QUuid>

namespace lumivex::contact {

// Whether `uid` is a UUID already written as QUuid writes one (lower-case, without braces) and
// not the null one: the uid of every contact read from a store is. Every character is looked
// at without branching on it: hex digits fall between digits and letters at random.
bool IsCanonicalUuid(const QString& uid) {
  if (uid.size() != 36) return false;
  const char16_t* p = reinterpret_cast<const char16_t*>(uid.constData());
  bool hex = true;
  int dashes = 0;
  int zeros = 0;
  for (int i = 0; i < 36; ++i) {
    const char16_t c = p[i];
    const bool dash = c == u'-';
    hex &= (char16_t(c - u'0') < 10) | (char16_t(c - u'a') < 6) | dash;
    dashes += dash;
    zeros += c == u'0';
  }
  return hex && dashes == 4 && zeros < 32 && p[8] == u'-' && p[13] == u'-' && p[18] == u'-' &&
         p[23] == u'-';
}

QString CardUuid(const QString& uid) {
  if (IsCanonicalUuid(uid)) return uid;
  const QUuid parsed = QUuid::fromString(uid);
  if (!parsed.isNull()) return parsed.toString(QUuid::WithoutBraces);
  // A fixed namespace of our own: the same text gives the same UUID in every export.
  static const QUuid kNamespace = QUuid::fromString(u"{5b1c3e0a-8f5e-4a8e-9d6b-2c7a4f3e1d90}");
  return QUuid::createUuidV5(kNamespace, uid).toString(QUuid::WithoutBraces);
}

}  // namespace lumivex::contact
