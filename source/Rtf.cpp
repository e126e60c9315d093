#include "source/Rtf.h"

#include "common/CodePage.h"
#include "source/PstFormat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace lumivex::rtf {

namespace {

uint32_t U32(QByteArrayView b, qsizetype at) {
  const auto* p = reinterpret_cast<const uchar*>(b.data() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

constexpr uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr uint32_t kUncompressed = 0x414C454D;  // "MELA"
constexpr qsizetype kHeaderSize = 16;

// The words the dictionary starts with: the opening of a typical RTF document.
constexpr std::string_view kPrimer =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kPrimer.size() == 207);

}  // namespace

bool Decompress(QByteArrayView stored, QByteArray& rtf, QString& why) {
  if (stored.size() < kHeaderSize) {
    why = QStringLiteral("the compressed RTF body is shorter than its header");
    return false;
  }
  // The stored size counts the bytes after its own field; some writers pad the value further.
  const qsizetype size = U32(stored, 0);
  const qsizetype rawSize = U32(stored, 4);
  const uint32_t kind = U32(stored, 8);
  if (size < kHeaderSize - 4 || size > stored.size() - 4) {
    why = QStringLiteral("the compressed RTF body is truncated");
    return false;
  }
  const QByteArrayView data = stored.sliced(kHeaderSize, size - (kHeaderSize - 4));
  if (kind == kUncompressed) {
    if (rawSize > data.size()) {
      why = QStringLiteral("the RTF body is truncated");
      return false;
    }
    rtf = data.first(rawSize).toByteArray();
    return true;
  }
  if (kind != kCompressed) {
    why = QStringLiteral("the RTF body is compressed in an unknown way");
    return false;
  }
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()),
                                       static_cast<size_t>(data.size()));
  if (pst::Crc32(bytes) != U32(stored, 12)) {
    why = QStringLiteral("the compressed RTF body is damaged (checksum mismatch)");
    return false;
  }
  // A control byte and eight references of two bytes give at most 8 x 17 bytes: a larger
  // declared size is damage, not text, and is refused before anything is allocated.
  if (rawSize > data.size() * 8 + 64) {
    why = QStringLiteral("the compressed RTF body declares more text than it can hold");
    return false;
  }
  std::array<uint8_t, 4096> dictionary{};
  std::memcpy(dictionary.data(), kPrimer.data(), kPrimer.size());
  size_t write = kPrimer.size();
  rtf.clear();
  rtf.reserve(rawSize);
  size_t at = 0;
  bool ended = false;
  while (at < bytes.size() && !ended) {
    const uint8_t control = bytes[at++];
    for (int bit = 0; bit < 8 && at < bytes.size(); ++bit) {
      if ((control & (1 << bit)) == 0) {
        const uint8_t c = bytes[at++];
        rtf.append(static_cast<char>(c));
        dictionary[write] = c;
        write = (write + 1) % dictionary.size();
      } else {
        if (at + 2 > bytes.size()) break;
        const unsigned ref = (bytes[at] << 8) | bytes[at + 1];
        at += 2;
        size_t offset = ref >> 4;
        const size_t length = (ref & 0xF) + 2;
        if (offset == write) {  // the reference to the write position marks the end
          ended = true;
          break;
        }
        for (size_t i = 0; i < length; ++i) {
          const uint8_t c = dictionary[offset];
          offset = (offset + 1) % dictionary.size();
          rtf.append(static_cast<char>(c));
          dictionary[write] = c;
          write = (write + 1) % dictionary.size();
        }
      }
      if (rtf.size() > rawSize) break;
    }
    if (rtf.size() > rawSize) break;
  }
  if (rtf.size() < rawSize) {
    why = QStringLiteral("the compressed RTF body ends before its text does");
    return false;
  }
  rtf.truncate(rawSize);
  return true;
}

namespace {

// Groups whose content is not part of the visible text.
bool IsHiddenDestination(std::string_view word) {
  static constexpr std::array<std::string_view, 31> kHidden = {
      "fonttbl",      "colortbl",  "stylesheet",
      "info",         "pict",      "header",
      "headerl",      "headerr",   "headerf",
      "footer",       "footerl",   "footerr",
      "footerf",      "object",    "themedata",
      "datastore",    "listtable", "listoverridetable",
      "rsidtbl",      "generator", "xmlnstbl",
      "filetbl",      "revtbl",    "fldinst",
      "latentstyles", "pgdsctbl",  "colorschememapping",
      "private",      "sp",        "nonshppict",
      "bkmkstart"};
  for (std::string_view hidden : kHidden)
    if (word == hidden) return true;
  return false;
}

// The text of an HTML document: tags dropped, block ends and <br> as line breaks, runs of white
// space as one space, character references decoded, head, style and script left out.
QString HtmlText(const QString& html) {
  QString out;
  bool space = false;  // white space seen since the last character written
  auto newline = [&out, &space] {
    while (out.endsWith(u' ')) out.chop(1);
    out += u'\n';
    space = false;
  };
  auto blockBreak = [&out, &newline] {
    if (!out.isEmpty() && !out.endsWith(u'\n')) newline();
  };
  const qsizetype n = html.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = html[i];
    if (c == u'<') {
      if (html.mid(i, 4) == u"<!--") {
        const qsizetype end = html.indexOf(QStringLiteral("-->"), i + 4);
        i = end < 0 ? n : end + 3;
        continue;
      }
      const qsizetype end = html.indexOf(u'>', i);
      if (end < 0) break;
      QStringView tag = QStringView(html).sliced(i + 1, end - i - 1).trimmed();
      const bool closing = tag.startsWith(u'/');
      if (closing) tag = tag.sliced(1);
      qsizetype nameEnd = 0;
      while (nameEnd < tag.size() && tag[nameEnd].isLetterOrNumber()) ++nameEnd;
      const QString name = tag.first(nameEnd).toString().toLower();
      i = end + 1;
      if (!closing &&
          (name == u"head" || name == u"style" || name == u"script" || name == u"title")) {
        const qsizetype close = html.indexOf(QStringLiteral("</") + name, i, Qt::CaseInsensitive);
        const qsizetype closeEnd = close < 0 ? -1 : html.indexOf(u'>', close);
        i = closeEnd < 0 ? n : closeEnd + 1;
        continue;
      }
      if (name == u"br") {
        newline();
      } else if (name == u"p" || name == u"div" || name == u"tr" || name == u"li" ||
                 name == u"table" || name == u"blockquote" || name == u"pre" ||
                 (name.size() == 2 && name[0] == u'h' && name[1].isDigit())) {
        blockBreak();
      } else if ((name == u"td" || name == u"th") && !closing && !out.isEmpty() &&
                 !out.endsWith(u'\n')) {
        out += u'\t';
        space = false;
      }
      continue;
    }
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      space = true;
      ++i;
      continue;
    }
    QString text(c);
    ++i;
    if (c == u'&') {
      const qsizetype semi = html.indexOf(u';', i);
      if (semi > i && semi - i <= 10) {
        const QStringView ref = QStringView(html).sliced(i, semi - i);
        QString decoded;
        if (ref.startsWith(u'#')) {
          bool ok = false;
          const uint code = ref.size() > 1 && (ref[1] == u'x' || ref[1] == u'X')
                                ? ref.sliced(2).toUInt(&ok, 16)
                                : ref.sliced(1).toUInt(&ok, 10);
          if (ok && code > 0 && code <= 0x10FFFF) {
            const char32_t ch = code == 0xA0 ? U' ' : char32_t(code);
            decoded = QString::fromUcs4(&ch, 1);
          }
        } else if (ref == u"amp") {
          decoded = QStringLiteral("&");
        } else if (ref == u"lt") {
          decoded = QStringLiteral("<");
        } else if (ref == u"gt") {
          decoded = QStringLiteral(">");
        } else if (ref == u"quot") {
          decoded = QStringLiteral("\"");
        } else if (ref == u"apos") {
          decoded = QStringLiteral("'");
        } else if (ref == u"nbsp") {
          decoded = QStringLiteral(" ");
        }
        if (!decoded.isEmpty()) {
          text = decoded;
          i = semi + 1;
        }
      }
    }
    if (space && !out.isEmpty() && !out.endsWith(u'\n')) out += u' ';
    space = false;
    out += text;
  }
  return out;
}

// The RTF reader: one pass over the document with a stack of group states.
class Reader {
 public:
  explicit Reader(QByteArrayView rtf) : rtf_(rtf) {}

  QString Run() {
    states_.push_back({});
    qsizetype i = 0;
    const qsizetype n = rtf_.size();
    while (i < n) {
      const char c = rtf_[i];
      if (c == '{') {
        Flush();
        skipChars_ = 0;
        // Groups deeper than any document needs are read as hidden and only counted, so that
        // the stack stays small whatever the input.
        if (states_.size() > 256) {
          states_.back().hidden = true;
          ++hiddenDepth_;
        } else {
          states_.push_back(states_.back());
        }
        groupStart_ = true;
        ++i;
        continue;
      }
      if (c == '}') {
        Flush();
        skipChars_ = 0;
        if (hiddenDepth_ > 0)
          --hiddenDepth_;
        else if (states_.size() > 1)
          states_.pop_back();
        groupStart_ = false;
        ++i;
        if (states_.size() == 1) break;  // the document's own group has ended
        continue;
      }
      if (c == '\r' || c == '\n' || c == '\0') {
        ++i;
        continue;
      }
      if (c != '\\') {
        Byte(static_cast<uint8_t>(c));
        groupStart_ = false;
        ++i;
        continue;
      }
      // A control word, symbol or 8-bit character.
      ++i;
      if (i >= n) break;
      const char next = rtf_[i];
      if (next == '\'') {
        bool ok = false;
        const int value = i + 2 < n ? rtf_.sliced(i + 1, 2).toByteArray().toInt(&ok, 16) : 0;
        i += 3;
        if (ok) Byte(static_cast<uint8_t>(value));
        groupStart_ = false;
        continue;
      }
      if (!IsLetter(next)) {
        ++i;
        Symbol(next);
        continue;
      }
      const qsizetype wordStart = i;
      while (i < n && IsLetter(rtf_[i]) && i - wordStart < 32) ++i;
      const std::string_view word(rtf_.data() + wordStart, static_cast<size_t>(i - wordStart));
      bool hasParam = false;
      long param = 0;
      const bool negative = i < n && rtf_[i] == '-';
      if (negative) ++i;
      const qsizetype digitsStart = i;
      while (i < n && rtf_[i] >= '0' && rtf_[i] <= '9' && i - digitsStart < 10)
        param = param * 10 + (rtf_[i++] - '0');
      hasParam = i > digitsStart;
      if (negative) param = -param;
      if (i < n && rtf_[i] == ' ') ++i;
      if (word == "bin") {  // binary data follows: skipped whole
        Flush();
        i += std::max(0L, std::min(param, static_cast<long>(n - i)));
        continue;
      }
      Word(word, hasParam, param);
    }
    Flush();
    QString text = fromHtml_ ? HtmlText(html_) : text_;
    while (!text.isEmpty() && (text.back() == u'\n' || text.back() == u' ')) text.chop(1);
    return text;
  }

 private:
  struct State {
    bool hidden = false;     // inside a group whose text is not shown
    bool htmlRtf = false;    // the RTF-only part of an HTML body wrapped in RTF
    bool htmlTag = false;    // an HTML tag of such a body
    bool fontTable = false;  // inside the font table
    int uc = 1;              // characters that stand in for each \uN
    int font = -1;           // the current font (\fN), -1 for the document's default
  };

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  // Where text goes: nowhere, the plain text, or the HTML of a wrapped HTML body.
  QString* Sink() {
    const State& s = states_.back();
    if (s.hidden) return nullptr;
    if (!fromHtml_) return &text_;
    if (s.htmlTag) return &html_;
    return s.htmlRtf ? nullptr : &html_;
  }

  void Byte(uint8_t b) {
    if (skipChars_ > 0) {
      --skipChars_;
      return;
    }
    pending_.append(static_cast<char>(b));
  }

  // Decodes the 8-bit characters gathered so far (a double-byte character may come as two
  // \'hh escapes) in the document's code page.
  void Flush() {
    if (pending_.isEmpty()) return;
    if (QString* sink = Sink()) {
      bool ascii = true;
      for (char ch : pending_) ascii = ascii && static_cast<uchar>(ch) < 0x80;
      *sink += ascii ? QString::fromLatin1(pending_) : FromAnsi(pending_, TextCodePage());
    }
    pending_.clear();
  }

  // 8-bit text is in the code page of its font's character set where the font table names one
  // (a Cyrillic font in a Western document), else in the document's.
  int TextCodePage() const {
    const int font = states_.back().font >= 0 ? states_.back().font : defaultFont_;
    const auto found = fontCodePages_.find(font);
    return found != fontCodePages_.end() ? found->second : codePage_;
  }

  // The Windows code page of an RTF character set; 0 for the document's own (ANSI, default,
  // symbol and others).
  static int CharsetCodePage(long charset) {
    switch (charset) {
      case 77:
        return 10000;
      case 128:
        return 932;
      case 129:
        return 949;
      case 134:
        return 936;
      case 136:
        return 950;
      case 161:
        return 1253;
      case 162:
        return 1254;
      case 163:
        return 1258;
      case 177:
        return 1255;
      case 178:
        return 1256;
      case 186:
        return 1257;
      case 204:
        return 1251;
      case 222:
        return 874;
      case 238:
        return 1250;
      default:
        return 0;
    }
  }

  void Emit(QStringView text) {
    Flush();
    if (QString* sink = Sink()) *sink += text;
  }

  void Symbol(char c) {
    const bool atStart = groupStart_;
    groupStart_ = false;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        Byte(static_cast<uint8_t>(c));
        return;
      case '~':
        Emit(u"\u00A0");
        return;
      case '_':
        Emit(u"-");
        return;
      case '\r':
      case '\n':
        Emit(u"\n");
        return;
      case '*':
        if (atStart) ignorable_ = true;
        groupStart_ = atStart;  // the destination's word follows
        return;
      default:
        return;  // \- (optional hyphen), \: and others show nothing
    }
  }

  void Word(std::string_view word, bool hasParam, long param) {
    const bool atStart = groupStart_;
    const bool ignorable = ignorable_;
    groupStart_ = false;
    ignorable_ = false;
    State& s = states_.back();
    if (atStart) {
      if (fromHtml_ && ignorable && word == "htmltag") {
        Flush();
        s.htmlTag = true;
        return;
      }
      if (ignorable || IsHiddenDestination(word)) {
        Flush();
        s.hidden = true;
        s.fontTable = word == "fonttbl";
        return;
      }
    }
    if (s.fontTable) {  // the fonts' numbers and character sets; nothing of it is shown
      if (word == "f" && hasParam) tableFont_ = param;
      if (word == "fcharset" && hasParam && CharsetCodePage(param) != 0)
        fontCodePages_[tableFont_] = CharsetCodePage(param);
      return;
    }
    if (word == "par" || word == "line" || word == "row" || word == "page" || word == "sect") {
      Emit(fromHtml_ && !s.htmlTag && !s.htmlRtf ? u"\r\n" : u"\n");
    } else if (word == "tab" || word == "cell") {
      Emit(u"\t");
    } else if (word == "u" && hasParam) {
      const char16_t unit = static_cast<char16_t>(param < 0 ? param + 65536 : param);
      Emit(QStringView(&unit, 1));
      skipChars_ = s.uc;
      return;
    } else if (word == "uc" && hasParam) {
      s.uc = static_cast<int>(std::clamp(param, 0L, 16L));
    } else if (word == "f" && hasParam) {
      Flush();
      s.font = static_cast<int>(std::clamp(param, 0L, 1L << 20));
    } else if (word == "deff" && hasParam) {
      defaultFont_ = param;
    } else if (word == "ansicpg" && hasParam && param > 0) {
      Flush();
      codePage_ = static_cast<int>(param);
    } else if (word == "fromhtml") {
      Flush();
      fromHtml_ = true;
    } else if (word == "htmlrtf") {
      Flush();
      s.htmlRtf = !hasParam || param != 0;
    } else if (word == "emdash") {
      Emit(u"\u2014");
    } else if (word == "endash") {
      Emit(u"\u2013");
    } else if (word == "bullet") {
      Emit(u"\u2022");
    } else if (word == "lquote") {
      Emit(u"\u2018");
    } else if (word == "rquote") {
      Emit(u"\u2019");
    } else if (word == "ldblquote") {
      Emit(u"\u201C");
    } else if (word == "rdblquote") {
      Emit(u"\u201D");
    } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
      Emit(u" ");
    } else {
      return;  // formatting: nothing to show
    }
    skipChars_ = 0;
  }

  QByteArrayView rtf_;
  std::vector<State> states_;
  QString text_;
  QString html_;
  QByteArray pending_;
  int codePage_ = 1252;
  long defaultFont_ = -1;
  long tableFont_ = -1;                // the font the font table is describing
  std::map<long, int> fontCodePages_;  // fonts of another character set than the document's
  int skipChars_ = 0;
  size_t hiddenDepth_ = 0;  // groups opened beyond the stack's depth, not yet closed // stand-in
                            // characters of the last \uN still to be skipped
  bool fromHtml_ = false;
  bool groupStart_ = false;
  bool ignorable_ = false;
};

}  // namespace

QString ToText(QByteArrayView rtf) {
  return Reader(rtf).Run();
}

}  // namespace lumivex::rtf
