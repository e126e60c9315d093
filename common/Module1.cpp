#include "common/Module1.h"

#include <QRegularExpression>

#include <cmath>

namespace lumivex::Module1 {

namespace {
// Seed and constants of a 24-bit linear congruential generator, the same one at every start.
constexpr uint32_t kRandomSeed = 0x50000;
uint32_t randomState = kRandomSeed;

FolderBrowser& BrowserSlot() {
  static FolderBrowser browser;
  return browser;
}
UrlOpener& OpenerSlot() {
  static UrlOpener opener;
  return opener;
}
}  // namespace

QString ShortDate(const QDate& day, const QLocale& locale) {
  // A run of exactly two y's is the two-digit year; a longer run is left as it is.
  static const QRegularExpression kTwoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
  // The C locale names its month in words; Windows' invariant culture writes "MM/dd/yyyy".
  QString format = locale.language() == QLocale::C ? QStringLiteral("MM/dd/yyyy")
                                                   : locale.dateFormat(QLocale::ShortFormat);
  format.replace(kTwoDigitYear, QStringLiteral("yyyy"));
  return locale.toString(day, format);
}

void Reset() {
  ContactCounter = 1;
  PickedFolder.reset();
  FilePath.clear();
  PickedFolderPath.clear();
  OutputPath.clear();
}

bool Increment(int16_t& counter) {
  if (counter == INT16_MAX) return false;
  ++counter;
  return true;
}

QString ExtractFileName(const QString& path) {
  const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
  return cut < 0 ? path : path.mid(cut + 1);
}

int32_t RandomNumber(int32_t low, int32_t high) {
  randomState = (randomState * 1140671485u + 12820163u) & 0xFFFFFFu;
  const float r = static_cast<float>(randomState) / 16777216.0f;
  const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
  return static_cast<int32_t>(std::floor(static_cast<double>(r) * span) + low);
}

void ResetRandomNumber() {
  randomState = kRandomSeed;
}

QString BrowseForFolder(int32_t owner, const QString& title) {
  const FolderBrowser& browser = BrowserSlot();
  if (!browser) return {};
  try {
    return browser(owner, title);
  } catch (...) {
    return {};
  }
}

void SetFolderBrowser(FolderBrowser browser) {
  BrowserSlot() = std::move(browser);
}

void OpenUrl(const QString& address) {
  if (address.isEmpty() || !OpenerSlot()) return;
  OpenerSlot()(address);
}

void SetUrlOpener(UrlOpener opener) {
  OpenerSlot() = std::move(opener);
}

}  // namespace lumivex::Module1
