// Which store file is the default profile's. On Windows the mail client's profile names it; on
// Linux the profile lives in a Wine prefix's registry when Outlook was installed there, and
// otherwise the store files lie in the folders Outlook keeps them in, copied over from Windows.
#include "source/StoreBackend.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <map>
#include <optional>

namespace lumivex {

namespace {

std::string Utf8(const QString& text) {
  return text.toStdString();
}

// One key of a Wine registry file: its values by lower-case name, as raw text after the "=".
using RegistryKey = std::map<QString, QString>;
using Registry = std::map<QString, RegistryKey>;  // by lower-case key path

// Reads a Wine registry file (user.reg): "[Key\\Path] stamp" lines start a key, each value is
// "name"=text, and a line ending in "\" goes on in the next one (long hex: values).
Registry ReadRegistry(const QString& path) {
  Registry registry;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return registry;
  RegistryKey* key = nullptr;
  QString pending;
  while (!file.atEnd()) {
    QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (!pending.isEmpty()) {
      line = pending + line;
      pending.clear();
    }
    if (line.endsWith(u'\\') && line.contains(u'=')) {
      pending = line.chopped(1);
      continue;
    }
    if (line.startsWith(u'[')) {
      const qsizetype end = line.lastIndexOf(u']');
      if (end < 0) continue;
      QString name = line.mid(1, end - 1);
      name.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
      key = &registry[name.toLower()];
      continue;
    }
    if (key == nullptr || !line.startsWith(u'"')) continue;
    const qsizetype close = line.indexOf(QStringLiteral("\"="));
    if (close < 0) continue;
    (*key)[line.mid(1, close - 1).toLower()] = line.mid(close + 2);
  }
  return registry;
}

// A registry value as text: "string" with its escapes, or hex: bytes of UTF-16 (0x001F values)
// or of 8-bit text (0x001E values).
QString ValueText(const QString& raw, bool utf16) {
  if (raw.startsWith(u'"') && raw.endsWith(u'"') && raw.size() >= 2) {
    QString text = raw.mid(1, raw.size() - 2);
    text.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    text.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    return text;
  }
  const qsizetype colon = raw.indexOf(u':');
  if (!raw.startsWith(u"hex") || colon < 0) return {};
  QByteArray bytes;
  for (const QString& part : raw.mid(colon + 1).split(u',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int byte = part.trimmed().toInt(&ok, 16);
    if (!ok) return {};
    bytes.append(static_cast<char>(byte));
  }
  QString text;
  if (utf16) {
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
      text += QChar(static_cast<char16_t>(static_cast<uchar>(bytes[i]) |
                                          (static_cast<uchar>(bytes[i + 1]) << 8)));
  } else {
    text = QString::fromLatin1(bytes);
  }
  while (text.endsWith(QChar(u'\0'))) text.chop(1);
  return text;
}

// A Windows path ("C:\Users\me\Documents\Outlook Files\Outlook.pst") as a file inside the Wine
// prefix. Windows names are not case-sensitive: each component is matched without case.
QString WinePath(const QString& prefix, const QString& windowsPath) {
  static const QRegularExpression kDrive(QStringLiteral("^([A-Za-z]):[\\\\/]"));
  const QRegularExpressionMatch drive = kDrive.match(windowsPath);
  if (!drive.hasMatch()) return {};
  QString current = prefix + QStringLiteral("/dosdevices/") + drive.captured(1).toLower() + u':';
  if (!QFileInfo(current).isDir()) {
    if (drive.captured(1).compare(u"c", Qt::CaseInsensitive) != 0) return {};
    current = prefix + QStringLiteral("/drive_c");
  }
  const QStringList parts =
      windowsPath.mid(3).split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    const QDir dir(current);
    QString found;
    for (const QString& entry :
         dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
      if (entry.compare(part, Qt::CaseInsensitive) == 0) {
        found = entry;
        if (entry == part) break;
      }
    if (found.isEmpty()) return {};
    current = dir.filePath(found);
  }
  return current;
}

// The store files of the default Outlook profile in a Wine prefix, and the profile's name.
std::pair<QString, QStringList> ProfileStores(const QString& prefix) {
  const Registry registry = ReadRegistry(prefix + QStringLiteral("/user.reg"));
  if (registry.empty()) return {};
  // Outlook 2013 and later keep profiles under their own version's key; earlier ones under the
  // Windows Messaging Subsystem. Each names its default profile.
  const QString messaging = QStringLiteral(
      "software\\microsoft\\windows nt\\currentversion\\windows messaging "
      "subsystem\\profiles");
  std::vector<std::pair<QString, QString>> holders;  // (key naming the default, profiles key)
  for (const auto& [path, values] : registry) {
    static const QRegularExpression kOutlook(
        QStringLiteral("^software\\\\microsoft\\\\office\\\\[0-9.]+\\\\outlook$"));
    if (kOutlook.match(path).hasMatch())
      holders.emplace_back(path, path + QStringLiteral("\\profiles"));
  }
  std::sort(holders.begin(), holders.end(), [](const auto& a, const auto& b) {
    return a.first.section(u'\\', 3, 3).toDouble() > b.first.section(u'\\', 3, 3).toDouble();
  });  // the newest Outlook first
  holders.emplace_back(messaging, messaging);
  for (const auto& [holder, profiles] : holders) {
    const auto key = registry.find(holder);
    if (key == registry.end()) continue;
    const auto named = key->second.find(QStringLiteral("defaultprofile"));
    if (named == key->second.end()) continue;
    const QString profile = ValueText(named->second, false);
    if (profile.isEmpty()) continue;
    const QString under = profiles + u'\\' + profile.toLower() + u'\\';
    QStringList stores;
    for (const auto& [path, values] : registry) {
      if (!path.startsWith(under)) continue;
      // PR_PST_PATH (0x6700) names a .pst, PR_PROFILE_OFFLINE_STORE_PATH (0x6610) an .ost.
      for (const char* tag : {"001f6700", "001e6700", "001f6610", "001e6610"}) {
        const auto value = values.find(QString::fromLatin1(tag));
        if (value == values.end()) continue;
        const QString file = WinePath(prefix, ValueText(value->second, tag[3] == 'f'));
        if (!file.isEmpty() && QFileInfo(file).isFile() && !stores.contains(file)) stores << file;
      }
    }
    if (!stores.isEmpty()) return {profile, stores};
  }
  return {};
}

// The Wine prefixes to look in: $WINEPREFIX, then ~/.wine.
QStringList WinePrefixes() {
  QStringList prefixes;
  const QString named = qEnvironmentVariable("WINEPREFIX");
  if (!named.isEmpty()) prefixes << QDir::cleanPath(named);
  const QString home = QDir::homePath() + QStringLiteral("/.wine");
  if (!prefixes.contains(home)) prefixes << home;
  return prefixes;
}

// The number of entries in the default contacts folder of `path`; nothing when the file cannot
// be read as a store or has no contacts folder.
std::optional<int> ContactCount(const QString& path) {
  try {
    const auto contacts = OpenStoreFile(path)->DefaultContactsFolder();
    if (!contacts) return std::nullopt;
    return contacts->GetItems()->Count();
  } catch (const StoreError&) {
    return std::nullopt;
  }
}

// Of `files`, the one whose contacts folder holds the most entries, the most recently modified
// among equals; the first readable one when none holds a contacts folder; empty when none.
QString MostContacts(const QStringList& files, int* count) {
  QString best;
  int bestCount = -1;
  QDateTime bestTime;
  for (const QString& file : files) {
    const int n = ContactCount(file).value_or(-1);
    const QDateTime time = QFileInfo(file).lastModified();
    if (best.isEmpty() || n > bestCount || (n == bestCount && time > bestTime)) {
      best = file;
      bestCount = n;
      bestTime = time;
    }
  }
  if (count != nullptr) *count = bestCount;
  return best;
}

QString Home(const QString& path) {
  const QString home = QDir::homePath();
  return path.startsWith(home + u'/') ? u'~' + path.mid(home.size()) : path;
}

}  // namespace

QStringList DefaultStoreFolders() {
  const QStringList kinds = {QStringLiteral("Documents/Outlook Files"),
                             QStringLiteral("AppData/Local/Microsoft/Outlook")};
  const QString home = QDir::homePath();
  QStringList folders;
  // The desktop's Documents folder may carry the user's language ("Dokumente", "Документы").
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty()) folders << documents + QStringLiteral("/Outlook Files");
  for (const QString& kind : kinds)
    if (!folders.contains(home + u'/' + kind)) folders << home + u'/' + kind;
  for (const QString& prefix : WinePrefixes()) {
    const QDir users(prefix + QStringLiteral("/drive_c/users"));
    for (const QString& user : users.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
      for (const QString& kind : kinds) folders << users.filePath(user) + u'/' + kind;
  }
  return folders;
}

DefaultStoreChoice ChooseDefaultStore() {
  const QString named = qEnvironmentVariable("LUMIVEX_DEFAULT_STORE");
  if (!named.isEmpty()) return {named, QStringLiteral("named by LUMIVEX_DEFAULT_STORE")};

  for (const QString& prefix : WinePrefixes()) {
    const auto [profile, stores] = ProfileStores(prefix);
    if (stores.isEmpty()) continue;
    const QString chosen = MostContacts(stores, nullptr);
    return {chosen, QStringLiteral("the store of Outlook profile \"%1\" in the Wine prefix %2")
                        .arg(profile, Home(prefix))};
  }

  const QStringList folders = DefaultStoreFolders();
  QStringList files;
  for (const QString& folder : folders)
    for (const QFileInfo& file :
         QDir(folder).entryInfoList({QStringLiteral("*.pst"), QStringLiteral("*.ost")},
                                    QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase))
      files << file.filePath();
  if (files.isEmpty()) {
    const QString advice = DefaultStoreAdvice();
    throw StoreError(Utf8(
        QStringLiteral("No default store: no .pst or .ost file in %1; %2")
            .arg(folders.mid(0, 2).join(QStringLiteral(" or ")),
                 advice.isEmpty() ? QStringLiteral("set LUMIVEX_DEFAULT_STORE or choose a file")
                                  : advice)));
  }
  int count = -1;
  const QString chosen = MostContacts(files, &count);
  if (files.size() == 1) return {chosen, QStringLiteral("the only store file found")};
  if (count < 0)
    return {chosen, QStringLiteral("the first of %1 store files found; none has a contacts folder")
                        .arg(files.size())};
  return {chosen, QStringLiteral("of %1 store files found, the one whose contacts folder holds "
                                 "the most entries (%2)")
                      .arg(files.size())
                      .arg(count)};
}

QString DefaultStorePath() {
  return ChooseDefaultStore().path;
}

namespace {
QString& AdviceSlot() {
  static QString advice;
  return advice;
}
}  // namespace

void SetDefaultStoreAdvice(const QString& advice) {
  AdviceSlot() = advice;
}

QString DefaultStoreAdvice() {
  return AdviceSlot();
}

}  // namespace lumivex
