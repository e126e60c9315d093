#include "cli/Command.h"

#include "cli/CliCommon.h"
#include "cli/Verbs.h"

#include <algorithm>
#include <cstdio>

namespace lumivex::cli {

namespace {

constexpr qsizetype kWidth = 90;  // the usage line is wrapped before this column

QString Label(const Option& option) {
  if (option.name.isEmpty()) return option.value;
  return option.value.isEmpty() ? option.name : option.name + u' ' + option.value;
}

// What the operands are called in a message: "one store file at most".
QString OperandNoun(const Option& operand) {
  return operand.value == u"STORE" ? QStringLiteral("store file") : operand.value;
}

}  // namespace

QString Arguments::Value(const QString& name) const {
  const auto found = values_.find(name);
  return found == values_.end() || found->isEmpty() ? QString() : found->last();
}

Command::Command(QString name, QString summary, std::vector<Option> options, QString details)
    : name_(std::move(name)),
      summary_(std::move(summary)),
      options_(std::move(options)),
      details_(std::move(details)) {}

const Option* Command::Find(const QString& name) const {
  for (const Option& option : options_)
    if (option.name == name) return &option;
  return nullptr;
}

int Command::Parse(const QStringList& arguments, Arguments& out) const {
  bool help = false;
  const QString error = Parse(arguments, out, help);
  if (help) {
    std::fputs(qPrintable(Help()), stdout);
    return kExitSuccess;
  }
  if (!error.isEmpty()) return UsageError(name_, error);
  return -1;
}

// Fills `out`; returns the first fault in the arguments, empty when there is none.
QString Command::Parse(const QStringList& arguments, Arguments& out, bool& help) const {
  bool optionsEnded = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    if (!optionsEnded && arg == u"--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == u"--help" || arg == u"-h")) {
      help = true;
    } else if (!optionsEnded && arg.startsWith(u'-') && arg.size() > 1) {
      const qsizetype equals = arg.indexOf(u'=');
      const QString name = equals < 0 ? arg : arg.left(equals);
      const Option* option = name.size() > 1 ? Find(name) : nullptr;
      if (option == nullptr) return QStringLiteral("unknown option '%1'").arg(arg);
      QString value = QStringLiteral("1");
      if (!option->value.isEmpty()) {
        if (equals >= 0)
          value = arg.mid(equals + 1);
        else
          value = i + 1 < arguments.size() ? arguments[++i] : QString();
        if (value.isEmpty()) return QStringLiteral("%1 needs a value").arg(name);
      } else if (equals >= 0) {
        return QStringLiteral("%1 takes no value").arg(name);
      }
      if (out.Has(name) && !option->repeatable)
        return QStringLiteral("%1 is given twice").arg(name);
      out.values_[name].append(value);
    } else {
      const Option* operand = Find(QString());
      if (operand == nullptr) return QStringLiteral("unexpected argument '%1'").arg(arg);
      if (!out.operands_.isEmpty() && !operand->repeatable)
        return QStringLiteral("one %1 at most, but '%2' and '%3' were given")
            .arg(OperandNoun(*operand), out.operands_.first(), arg);
      out.operands_.append(arg);
    }
  }
  return {};
}

QString Command::UsageLine() const {
  const QString start = QStringLiteral("Usage: lumivex-cli %1 ").arg(name_);
  QString text = start;
  qsizetype lineStart = 0;
  for (const Option& option : options_) {
    QString token = Label(option);
    if (option.name.isEmpty() && option.repeatable) token += QStringLiteral("...");
    if (!option.required) token = u'[' + token + u']';
    if (text.size() - lineStart + token.size() >= kWidth) {
      text.chop(1);
      text += u'\n';
      lineStart = text.size();
      text += QString(start.size(), u' ');
    }
    text += token + u' ';
  }
  text.chop(1);
  return text + u'\n';
}

QString Command::Help() const {
  qsizetype width = 0;
  for (const Option& option : options_) width = std::max(width, Label(option).size());
  const QString indent(width + 4, u' ');
  QString text = UsageLine() + summary_ + u'\n';
  for (const Option& option : options_) {
    const QStringList lines = option.help.split(u'\n', Qt::SkipEmptyParts);
    text += QStringLiteral("  ") + Label(option).leftJustified(width + 2);
    text += lines.isEmpty() ? QString() : lines.first();
    text += u'\n';
    for (qsizetype i = 1; i < lines.size(); ++i) text += indent + lines[i] + u'\n';
  }
  if (!details_.isEmpty()) text += u'\n' + details_;
  return text;
}

Option StoreOperand(QString help) {
  if (help.isEmpty())
    help = QStringLiteral(
        "the .pst or .ost file; left out, the default store is used: the file\n"
        "named by LUMIVEX_DEFAULT_STORE; else the store of the default Outlook\n"
        "profile of a Wine prefix; else, of the .pst/.ost files in\n"
        "~/Documents/Outlook Files and ~/AppData/Local/Microsoft/Outlook (also in\n"
        "Wine prefixes), the one whose contacts folder holds the most entries\n"
        "('lumivex-cli folders' says which and why)\n");
  return {QString(), QStringLiteral("STORE"), std::move(help)};
}

Option FolderOption(QString help) {
  return {QStringLiteral("--folder"), QStringLiteral("PATH"), std::move(help)};
}

Option JsonOption(QString help) {
  return {QStringLiteral("--json"), QString(), std::move(help)};
}

}  // namespace lumivex::cli
