// A verb of lumivex-cli declared once: its options, each with the help text shown under it, from
// which both the parser and --help are made. Adding an option is one more line in the verb's
// table; the usage line, the option list of --help and the parsing follow from it.
//
//   const Command kScan{
//       "scan", "Counts the entries of a contacts folder of an Outlook data file (.pst or .ost).",
//       {StoreOperand(), FolderOption("count this folder ..."), {"--json", "", "print ..."}},
//       "Prints the number of entries ..."};
//   Arguments args;
//   if (int status = kScan.Parse(arguments, args); status >= 0) return status;  // help, bad use
//   ... args.Value("--folder"), args.Has("--json"), args.Operands() ...
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace lumivex::cli {

// One option of a verb: a flag (no value name), an option with a value ("--out DIR"), or, with
// no name, the verb's operands (STORE).
struct Option {
  QString name;   // "--out"; empty for the operands
  QString value;  // the value's name in the help ("DIR"); empty for a flag
  // The help lines, each ended by '\n': the first is printed beside the option, the others under
  // it, indented to the same column.
  QString help;
  bool required = false;  // shown without brackets in the usage line
  // May be given more than once (Values gives each); for the operands: more than one.
  bool repeatable = false;
};

// What the arguments of one run gave.
class Arguments {
 public:
  bool Has(const QString& name) const { return values_.contains(name); }
  // The value of an option (the last one given), empty when it was not given.
  QString Value(const QString& name) const;
  // Every value of a repeatable option, in the order given.
  QStringList Values(const QString& name) const { return values_.value(name); }
  // The arguments that are not options (the store files), in the order given.
  const QStringList& Operands() const { return operands_; }

 private:
  friend class Command;
  QHash<QString, QStringList> values_;
  QStringList operands_;
};

class Command {
 public:
  Command(QString name, QString summary, std::vector<Option> options, QString details);

  const QString& Name() const { return name_; }
  // Parses `arguments` (those after the verb's name) into `out`. Returns -1 when the verb is to
  // run; else the exit status to end with: 0 after printing --help, 2 after a usage error.
  int Parse(const QStringList& arguments, Arguments& out) const;
  // The text of --help: the usage line, the summary, the options, the details.
  QString Help() const;

 private:
  const Option* Find(const QString& name) const;
  QString UsageLine() const;
  QString Parse(const QStringList& arguments, Arguments& out, bool& help) const;

  QString name_;
  QString summary_;
  std::vector<Option> options_;
  QString details_;
};

// The shared declarations of the verbs that read a store; `help` is each verb's own text.
Option StoreOperand(QString help = {});  // [STORE]
Option FolderOption(QString help);       // [--folder PATH]
Option JsonOption(QString help);         // [--json]

}  // namespace lumivex::cli
