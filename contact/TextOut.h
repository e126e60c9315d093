// Text of the contact model as UTF-8 for the vCard and CSV writers, escaped as each format
// wants, in one pass without intermediate strings.
#pragma once

#include <QByteArray>
#include <QStringView>

namespace lumivex::contact {

enum class TextRule {
  // vCard text values: \ , ; escaped with a backslash, every line break (CR LF, CR or LF)
  // written as \n.
  kVCard,
  // Values that take no escapes (URIs): line breaks and control characters left out.
  kSingleLine,
  // Inside a quoted CSV field: '"' doubled, line breaks kept as LF.
  kCsv,
};

// Appends `text` to `out` as UTF-8 under `rule`. Control characters other than tab and line
// breaks are left out (no format here can hold them); an unpaired surrogate becomes U+FFFD.
void AppendUtf8(QByteArray& out, QStringView text, TextRule rule);

}  // namespace lumivex::contact
