#include "source/EntryValues.h"

#include "common/Module1.h"

#include <QDateTime>

#include <array>
#include <cstring>

namespace lumivex::backend {

namespace {

// Entry ids ([MS-OXCDATA]) that name the members of a distribution list and the origin of an
// e-mail address.
const std::array<uint8_t, 16> kOneOffProvider = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
const std::array<uint8_t, 16> kWrappedProvider = {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11,
                                                  0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};

bool HasProvider(const QByteArray& id, const std::array<uint8_t, 16>& provider) {
  return id.size() >= 20 && std::memcmp(id.constData() + 4, provider.data(), 16) == 0;
}

}  // namespace

int WindowsCodePage(int codePage) {
  switch (codePage) {
    case 50220:
    case 50221:
    case 50222:
    case 51932:
    case 20932:
    case 10001:
      return 932;
    case 52936:
    case 54936:
    case 51936:
    case 20936:
    case 10008:
      return 936;
    case 50225:
    case 51949:
    case 20949:
    case 10003:
      return 949;
    case 51950:
    case 10002:
      return 950;
    case 28591:
    case 28605:
      return 1252;
    case 28592:
      return 1250;
    case 28595:
    case 20866:
    case 21866:
      return 1251;
    case 28597:
      return 1253;
    case 28599:
      return 1254;
    case 28598:
    case 38598:
      return 1255;
    case 28596:
      return 1256;
    case 28594:
    case 28603:
      return 1257;
    case 65000:
    case 65001:
    case 1200:
    case 1201:
    case 20127:
      return 0;
    default:
      return codePage > 0 ? codePage : 0;
  }
}

int ItemCodePage(const storefile::StoreItem& item, int messageIndex, int internetIndex) {
  int32_t codePage = 0;
  if (messageIndex >= 0 && item.Int32(messageIndex, codePage) && WindowsCodePage(codePage) != 0)
    return WindowsCodePage(codePage);
  if (internetIndex >= 0 && item.Int32(internetIndex, codePage) && WindowsCodePage(codePage) != 0)
    return WindowsCodePage(codePage);
  return 0;
}

QDate DayOf(uint64_t fileTime) {
  constexpr int64_t kUnixEpochMs = 11644473600000LL;
  constexpr int64_t kHalfDayMs = 12LL * 3600 * 1000;
  const int64_t ms = static_cast<int64_t>(fileTime / 10000) - kUnixEpochMs;
  const QDate day = QDateTime::fromMSecsSinceEpoch(ms + kHalfDayMs, Qt::UTC).date();
  if (!day.isValid() || day.year() < 1601 || day.year() >= 4500) return {};
  return day;
}

QString DateText(uint64_t fileTime) {
  const QDate day = DayOf(fileTime);
  return day.isValid() ? Module1::ShortDate(day) : QString();
}

QString SmtpFromDisplay(const QString& display) {
  const QString text = display.trimmed();
  const qsizetype open = text.lastIndexOf(u'(');
  if (open >= 0 && text.endsWith(u')')) {
    const QString inner = text.mid(open + 1, text.size() - open - 2).trimmed();
    if (inner.contains(u'@') && !inner.contains(u' ')) return inner;
  }
  if (text.contains(u'@') && !text.contains(u' ')) return text;
  return {};
}

bool ParseOneOff(const QByteArray& id, int codePage, QString& name, QString& type,
                 QString& address) {
  if (!HasProvider(id, kOneOffProvider) || id.size() < 24) return false;
  const bool unicode = (static_cast<uchar>(id[23]) & 0x80) != 0;
  qsizetype at = 24;
  QString* fields[] = {&name, &type, &address};
  for (QString* field : fields) {
    qsizetype end = at;
    if (unicode) {
      while (end + 1 < id.size() && (id[end] != 0 || id[end + 1] != 0)) end += 2;
      if (end + 1 >= id.size()) return false;
      *field = storefile::DecodeUtf16(QByteArrayView(id).sliced(at, end - at));
      at = end + 2;
    } else {
      while (end < id.size() && id[end] != 0) ++end;
      if (end >= id.size()) return false;
      *field = storefile::DecodeString8(QByteArrayView(id).sliced(at, end - at), codePage);
      at = end + 1;
    }
  }
  return true;
}

bool ParseWrapped(const QByteArray& id, int& kind, int& address, uint32_t& node) {
  if (!HasProvider(id, kWrappedProvider) || id.size() < 21) return false;
  const auto type = static_cast<uchar>(id[20]);
  kind = type & 0x0F;
  address = (type >> 4) & 0x07;
  if (kind != 0 && id.size() < 21 + 24) return false;
  const auto* b = reinterpret_cast<const uchar*>(id.constData() + id.size() - 4);
  node = b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24);
  return true;
}

void CarriageReturnsToNewlines(QString& text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
}

uint32_t EntryIdNode(const storefile::StoreItem& item, uint32_t tag) {
  const int index = item.Find(tag);
  QByteArray id;
  if (index < 0 || !item.Data(index, id) || id.size() < 24) return 0;
  const auto* b = reinterpret_cast<const uchar*>(id.constData() + id.size() - 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace lumivex::backend
