// Text of the contact model as UTF-8 for the vCard and CSV writers, escaped as each format
// wants, in one pass without intermediate strings.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstring>

namespace lumivex::contact {

enum class TextRule {
  // vCard 3.0 text values and the components of structured vCard values (N, ADR, ORG): \ , ;
  // escaped with a backslash, every line break (CR LF, CR or LF) written as \n.
  kVCard,
  // vCard 4.0 text values that are not structured: as kVCard, but ";" as it stands (RFC 6350
  // has no escape for it there).
  kVCard4Text,
  // Values that take no escapes (URIs): line breaks and control characters left out.
  kSingleLine,
  // Inside a quoted CSV field: '"' doubled, line breaks kept as LF.
  kCsv,
};

// Appends `text` to `out` as UTF-8 under `rule`. Control characters other than tab and line
// breaks are left out (no format here can hold them); an unpaired surrogate becomes U+FFFD.
void AppendUtf8(QByteArray& out, QStringView text, TextRule rule);

// Appends `bytes` to `out`: resized and copied into, without append's general path, which takes
// as long as the copy itself where `out` has the room already (as a writer's buffer has).
inline void AppendBytes(QByteArray& out, QByteArrayView bytes) {
  const qsizetype at = out.size();
  out.resize(at + bytes.size());
  std::memcpy(out.data() + at, bytes.data(), size_t(bytes.size()));
}

// The same written at `dst`, which has room for three bytes a code unit of `text`; returns the
// end of what was written.
char* PutUtf8(char* dst, QStringView text, TextRule rule);

}  // namespace lumivex::contact
