#include "migrate/Plan.h"

#include "destination/Destinations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <glob.h>

#include <set>

namespace lumivex::migrate {

std::vector<QStringList> ParseCsv(const QString& text) {
  std::vector<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false;
  bool any = false;  // the row has begun
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
        field += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == u'"') {
      quoted = true;
      any = true;
    } else if (c == u',') {
      row << field;
      field.clear();
      any = true;
    } else if (c == u'\n' || c == u'\r') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      if (any || !field.isEmpty()) rows.push_back(row << field);
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.isEmpty()) rows.push_back(row << field);
  return rows;
}

namespace {

QString Absolute(const QString& folder, const QString& path) {
  if (path.isEmpty()) return {};
  return QDir::cleanPath(QDir(folder).absoluteFilePath(path));
}

}  // namespace

bool ReadPlan(const QString& path, Plan& plan, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString());
    return false;
  }
  QByteArray bytes = file.readAll();
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  const QString text = QString::fromUtf8(bytes);
  if (text.toUtf8() != bytes) {
    error = QStringLiteral("the plan %1 is not UTF-8 text: save it as CSV UTF-8").arg(path);
    return false;
  }
  plan.path = QFileInfo(path).absoluteFilePath();
  plan.folder = QFileInfo(path).absolutePath();
  plan.people.clear();
  const std::vector<QStringList> rows = ParseCsv(text);
  if (rows.empty()) {
    error =
        QStringLiteral("the plan %1 is empty: it needs a header row (id,stores,to,...)").arg(path);
    return false;
  }
  QHash<QString, int> column;
  for (int i = 0; i < rows[0].size(); ++i) column.insert(rows[0][i].trimmed().toLower(), i);
  for (const char* secret : {"password", "pass", "passwd", "secret"}) {
    if (column.contains(QLatin1String(secret))) {
      error = QStringLiteral(
                  "the plan %1 has a column '%2': passwords are never read from a plan; give "
                  "each person a password-file or a password-command column instead")
                  .arg(path, QLatin1String(secret));
      return false;
    }
  }
  for (const char* needed : {"id", "stores", "to"}) {
    if (!column.contains(QLatin1String(needed))) {
      error = QStringLiteral(
                  "the plan %1 has no '%2' column; its header must name id, stores "
                  "and to (and user, password-file or password-command)")
                  .arg(path, QLatin1String(needed));
      return false;
    }
  }
  auto cell = [&](const QStringList& row, const char* name) {
    const int i = column.value(QLatin1String(name), -1);
    return i >= 0 && i < row.size() ? row[i].trimmed() : QString();
  };
  std::set<QString> ids;
  for (size_t r = 1; r < rows.size(); ++r) {
    const QStringList& row = rows[r];
    const int line = static_cast<int>(r) + 1;
    Person person;
    person.line = line;
    person.id = cell(row, "id");
    const auto where = [&] { return QStringLiteral("%1, line %2").arg(path).arg(line); };
    if (person.id.isEmpty()) {
      error = QStringLiteral("%1: the id is empty").arg(where());
      return false;
    }
    if (!ids.insert(person.id).second) {
      error = QStringLiteral("%1: the id '%2' is there twice; each person needs an id of their own")
                  .arg(where(), person.id);
      return false;
    }
    for (const QString& pattern : cell(row, "stores").split(u';', Qt::SkipEmptyParts))
      if (!pattern.trimmed().isEmpty()) person.storePatterns << pattern.trimmed();
    if (person.storePatterns.isEmpty()) {
      error = QStringLiteral("%1: '%2' has no stores").arg(where(), person.id);
      return false;
    }
    person.to = cell(row, "to");
    destination::ParsedDestination parsed;
    QString why;
    if (person.to.isEmpty() || !destination::ParseDestination(person.to, parsed, why)) {
      error = QStringLiteral("%1: '%2' has no destination we can use in 'to'%3")
                  .arg(where(), person.id, why.isEmpty() ? QString() : QStringLiteral(": ") + why);
      return false;
    }
    // A password written into the address would be passed on in the send's arguments, which
    // any user of the machine can list.
    if (!parsed.password.isEmpty()) {
      error = QStringLiteral(
                  "%1: the address in 'to' for '%2' holds a password: passwords are never read "
                  "from a plan; write the address without it and give the person a "
                  "password-file or a password-command column")
                  .arg(where(), person.id);
      return false;
    }
    person.user = cell(row, "user");
    person.passwordFile = Absolute(plan.folder, cell(row, "password-file"));
    person.passwordCommand = cell(row, "password-command");
    person.book = cell(row, "book");
    if (!person.passwordFile.isEmpty() && !person.passwordCommand.isEmpty()) {
      error = QStringLiteral("%1: '%2' has both a password-file and a password-command; keep one")
                  .arg(where(), person.id);
      return false;
    }
    if (parsed.kind != destination::DestinationKind::kCardDav &&
        (!person.user.isEmpty() || !person.passwordFile.isEmpty() ||
         !person.passwordCommand.isEmpty())) {
      error = QStringLiteral("%1: '%2' goes to %3, which takes no user or password")
                  .arg(where(), person.id, person.to);
      return false;
    }
    // A folder is one address book, and "evolution:BOOK" names its book already: the send
    // would refuse the book (or drop it) for this person alone, once the run has begun.
    if (!person.book.isEmpty() && parsed.kind == destination::DestinationKind::kVdir) {
      error = QStringLiteral(
                  "%1: '%2' goes to the folder %3, which is one address book and takes no "
                  "'book': leave it empty")
                  .arg(where(), person.id, person.to);
      return false;
    }
    if (!person.book.isEmpty() && parsed.kind == destination::DestinationKind::kEvolution &&
        !parsed.where.isEmpty()) {
      error = QStringLiteral(
                  "%1: '%2' goes to %3, which names its book already: leave 'book' empty, or "
                  "write 'evolution' in 'to' and the book in 'book'")
                  .arg(where(), person.id, person.to);
      return false;
    }
    plan.people.push_back(std::move(person));
  }
  return true;
}

QStringList ExpandStores(const QStringList& patterns, const QString& folder,
                         QStringList& unmatched) {
  QStringList files;
  for (const QString& pattern : patterns) {
    const QByteArray absolute = QFile::encodeName(Absolute(folder, pattern));
    glob_t found{};
    const int status = ::glob(absolute.constData(), 0, nullptr, &found);
    int matched = 0;
    if (status == 0) {
      for (size_t i = 0; i < found.gl_pathc; ++i) {
        const QString file = QFile::decodeName(found.gl_pathv[i]);
        if (!QFileInfo(file).isFile()) continue;  // a literal path that is not there comes back
        if (!files.contains(file)) files << file;
        ++matched;
      }
    }
    ::globfree(&found);
    if (matched == 0) unmatched << pattern;
  }
  return files;
}

int ShardOf(const QString& id, int count) {
  // FNV-1a over the id's UTF-8 bytes: fixed here, unlike qHash, which is seeded per process.
  quint64 hash = 14695981039346656037ull;
  for (const char byte : id.toUtf8()) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211ull;
  }
  return count <= 1 ? 1 : static_cast<int>(hash % static_cast<quint64>(count)) + 1;
}

bool ParseShard(const QString& text, int& index, int& count) {
  const QStringList parts = text.split(u'/');
  if (parts.size() != 2) return false;
  bool okIndex = false;
  bool okCount = false;
  index = parts[0].toInt(&okIndex);
  count = parts[1].toInt(&okCount);
  return okIndex && okCount && count >= 1 && index >= 1 && index <= count;
}

QString ServerOf(const QString& to) {
  destination::ParsedDestination parsed;
  QString error;
  if (!destination::ParseDestination(to, parsed, error) ||
      parsed.kind != destination::DestinationKind::kCardDav)
    return QStringLiteral("local");
  if (!parsed.where.contains(QStringLiteral("://")))  // user@host: found through the host
    return parsed.where.section(u'@', -1).toLower();
  const QUrl url(parsed.where);
  return QStringLiteral("%1:%2")
      .arg(url.host().toLower())
      .arg(url.port(url.scheme() == u"https" ? 443 : 80));
}

}  // namespace lumivex::migrate
