#include "cli/DamageLog.h"

#include "cli/CliCommon.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>
#include <map>
#include <utility>

namespace lumivex::cli {

namespace {

constexpr int kShown = 20;

struct Log {
  bool verbose = false;
  QString reportFile;
  QStringList all;  // every warning, for the report
  int shown = 0;
  // Kinds of the warnings held back: their count and one example, in the order first met.
  std::map<QString, std::pair<int, QString>> heldBack;
  QStringList order;
};

Log& TheLog() {
  static Log log;
  return log;
}

// A reason's kind: the reason with its numbers (decimal or hexadecimal) and quoted names left out.
QString Kind(const QString& reason) {
  static const QRegularExpression numbers(QStringLiteral("0x[0-9a-fA-F]+|[0-9]+"));
  static const QRegularExpression quoted(QStringLiteral("\"[^\"]*\""));
  QString kind = reason;
  kind.replace(quoted, QStringLiteral("\"\""));
  kind.replace(numbers, QStringLiteral("#"));
  return kind;
}

}  // namespace

void SetDamageOutput(bool verbose, const QString& reportFile) {
  Log& log = TheLog();
  log = Log();
  log.verbose = verbose;
  log.reportFile = reportFile;
}

namespace {

// Prints `message` (through `print`) while fewer than twenty were, else counts its kind.
template <typename Print>
void Told(const QString& message, const QString& reason, Print print) {
  Log& log = TheLog();
  if (!log.reportFile.isEmpty()) log.all << message;
  if (log.verbose || log.shown < kShown) {
    ++log.shown;
    print();
    return;
  }
  const QString kind = Kind(reason);
  auto [at, added] = log.heldBack.try_emplace(kind, 0, reason);
  if (added) log.order << kind;
  ++at->second.first;
}

}  // namespace

void DamageWarning(const QString& verb, const QString& message, const QString& reason) {
  Told(message, reason, [&] { Warn(verb, message); });
}

void DamageLine(const QString& line, const QString& reason) {
  Told(line, reason, [&] {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", qPrintable(line));
  });
}

void DamageReported(const QString& line) {
  Log& log = TheLog();
  if (!log.reportFile.isEmpty()) log.all << line;
}

void DamageNotice(const QString& verb, const QString& message) {
  DamageReported(message);
  Warn(verb, message);
}

void DamageNoticeLine(const QString& line) {
  DamageReported(line);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", qPrintable(line));
}

bool FinishDamage(const QString& verb) {
  Log& log = TheLog();
  for (const QString& kind : log.order) {
    const auto& [count, example] = log.heldBack.at(kind);
    Warn(verb, QStringLiteral("%1 more %2 like this: %3 (--verbose or --damage-report FILE lists "
                              "every one)")
                   .arg(count)
                   .arg(count == 1 ? QStringLiteral("entry") : QStringLiteral("entries"), example));
  }
  log.heldBack.clear();
  log.order.clear();
  if (log.reportFile.isEmpty()) return true;
  QSaveFile file(log.reportFile);
  QByteArray bytes;
  for (const QString& line : log.all) bytes += line.toUtf8() + '\n';
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  Warn(verb, QStringLiteral("the damage report %1 could not be written: %2")
                 .arg(log.reportFile, file.errorString()));
  return false;
}

}  // namespace lumivex::cli
