#include "common/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace lumivex {

namespace {

int overrideCodePage = 0;

struct LanguageCodePage {
  const char* language;
  int codePage;
};

// Language (and, for Chinese, region) to Windows code page. Languages not listed use 1252.
constexpr LanguageCodePage kLanguages[] = {
    {"zh_TW", 950}, {"zh_HK", 950}, {"zh_MO", 950}, {"zh", 936},  {"ja", 932},  {"ko", 949},
    {"th", 874},    {"vi", 1258},   {"pl", 1250},   {"cs", 1250}, {"sk", 1250}, {"hu", 1250},
    {"sl", 1250},   {"hr", 1250},   {"ro", 1250},   {"sq", 1250}, {"bs", 1250}, {"ru", 1251},
    {"uk", 1251},   {"be", 1251},   {"bg", 1251},   {"mk", 1251}, {"sr", 1251}, {"kk", 1251},
    {"ky", 1251},   {"mn", 1251},   {"tt", 1251},   {"el", 1253}, {"tr", 1254}, {"az", 1254},
    {"he", 1255},   {"iw", 1255},   {"yi", 1255},   {"ar", 1256}, {"fa", 1256}, {"ur", 1256},
    {"et", 1257},   {"lv", 1257},   {"lt", 1257},
};

std::string IconvName(int codePage) {
  return "CP" + std::to_string(codePage);
}

// iconv descriptors are opened once per code page and direction and kept for the process.
class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (auto& [key, cd] : open_)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  iconv_t Get(const std::string& to, const std::string& from) {
    std::lock_guard lock(mutex_);
    const std::string key = to + "<" + from;
    auto it = open_.find(key);
    if (it == open_.end()) it = open_.emplace(key, iconv_open(to.c_str(), from.c_str())).first;
    return it->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, iconv_t> open_;
};

Converters& SharedConverters() {
  static Converters converters;
  return converters;
}

}  // namespace

int CodePageForLocale(const QString& localeName) {
  const QString name = localeName.section(u'.', 0, 0).section(u'@', 0, 0);
  for (const auto& entry : kLanguages) {
    const QString prefix = QString::fromLatin1(entry.language);
    if (name == prefix || name.startsWith(prefix + u'_') ||
        (prefix.contains(u'_') && name.startsWith(prefix)))
      return entry.codePage;
  }
  return 1252;
}

int AnsiCodePage() {
  if (overrideCodePage != 0) return overrideCodePage;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return CodePageForLocale(QString::fromLocal8Bit(value));
  }
  return 1252;
}

void SetAnsiCodePage(int codePage) {
  overrideCodePage = codePage;
}

bool IsDoubleByteCodePage(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

QByteArray ToAnsi(QStringView text, int codePage) {
  if (text.isEmpty()) return {};
  // Every Windows code page holds ASCII as it is: most text needs no converter.
  if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
    return text.toLatin1();
  iconv_t cd = SharedConverters().Get(IconvName(codePage) + "//TRANSLIT", "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text.toLatin1();
  static std::mutex convertMutex;
  std::lock_guard lock(convertMutex);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  QByteArray out(text.size() * 2 + 4, Qt::Uninitialized);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
  size_t inLeft = static_cast<size_t>(text.size()) * 2;
  char* dst = out.data();
  size_t outLeft = static_cast<size_t>(out.size());
  auto grow = [&] {
    const qsizetype used = dst - out.data();
    out.resize(out.size() * 2);
    dst = out.data() + used;
    outLeft = static_cast<size_t>(out.size() - used);
  };
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    // No room left, also when the next code unit is one that does not convert: more room.
    if (errno == E2BIG || outLeft == 0) {
      grow();
      continue;
    }
    // A code unit that does not convert at all (a lone surrogate): "?" in its place.
    *dst++ = '?';
    --outLeft;
    in += 2;
    inLeft -= 2;
  }
  // Stateful converters (1258 among them) may still hold the last character back.
  if (outLeft < 16) grow();
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  out.truncate(dst - out.data());
  return out;
}

QByteArray ToAnsi(QStringView text) {
  return ToAnsi(text, AnsiCodePage());
}

QString FromAnsi(QByteArrayView bytes, int codePage) {
  if (bytes.isEmpty()) return {};
  iconv_t cd = SharedConverters().Get("UTF-16LE", IconvName(codePage));
  if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes);
  static std::mutex convertMutex;
  std::lock_guard lock(convertMutex);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  QString out(bytes.size() + 1, Qt::Uninitialized);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = static_cast<size_t>(bytes.size());
  char* dst = reinterpret_cast<char*>(out.data());
  size_t outLeft = static_cast<size_t>(out.size()) * 2;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) break;  // cannot happen: one byte never gives more than one UTF-16 unit
    // An invalid or truncated sequence: U+FFFD for its first byte, then go on.
    if (outLeft < 2) break;
    *reinterpret_cast<char16_t*>(dst) = u'\uFFFD';
    dst += 2;
    outLeft -= 2;
    ++in;
    --inLeft;
  }
  // The 1258 converter holds each character back until it knows whether a combining mark
  // follows: the last one comes out only when the converter is flushed.
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  out.truncate((dst - reinterpret_cast<char*>(out.data())) / 2);
  return out;
}

}  // namespace lumivex
