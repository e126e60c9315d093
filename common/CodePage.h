// The Windows code page that matches the user's locale, and conversions to and from it. Every
// text file the tool writes is one byte per character in this code page (two for the
// double-byte Asian code pages), as the Windows programs that read our files expect.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace lumivex {

// The code page for a POSIX locale name such as "de_DE.UTF-8", "ja_JP" or "C": 1252 for English
// and Western European languages, 1250 Central European, 1251 Cyrillic, 1253 Greek, 1254 Turkish,
// 1255 Hebrew, 1256 Arabic, 1257 Baltic, 1258 Vietnamese, 874 Thai, 932 Japanese, 936 Simplified
// Chinese, 949 Korean, 950 Traditional Chinese.
int CodePageForLocale(const QString& localeName);

// The code page of this process: LC_ALL, else LC_CTYPE, else LANG. SetAnsiCodePage overrides it.
int AnsiCodePage();
void SetAnsiCodePage(int codePage);  // 0 goes back to the locale's

// True for the code pages where a character can take two bytes (932, 936, 949, 950).
bool IsDoubleByteCodePage(int codePage);

// Converts to the code page. A character the code page cannot hold becomes the nearest
// character it can (an accent dropped), else "?", as the Windows conversion does.
QByteArray ToAnsi(QStringView text, int codePage);
QByteArray ToAnsi(QStringView text);
// Appends ToAnsi(text, codePage) to `out`.
void AppendAnsi(QByteArray& out, QStringView text, int codePage);
// The same where every character of `text` converts by itself (a code page of one byte a
// character, and no combining mark or surrogate), so that texts converted one after another
// give the bytes of the joined text; false, with `out` as it was, otherwise.
bool AppendAnsiByItself(QByteArray& out, QStringView text, int codePage);
// The same into the bytes from `dst` up to `end`, moving `dst` past what it wrote; false where
// AppendAnsiByItself is false or the bytes do not fit (what lies from `dst` on is then junk).
// A text of ASCII and the code page's own letters costs no allocation and no call per unit.
bool PutAnsiByItself(QStringView text, int codePage, char*& dst, const char* end);

// Decodes bytes in the code page; bytes that do not decode become U+FFFD.
QString FromAnsi(QByteArrayView bytes, int codePage);

// True when every character of `text` comes back from the code page as it went in: false when
// ToAnsi would put "?" or a nearer character in the place of one.
bool CodePageHolds(QStringView text, int codePage);

}  // namespace lumivex
