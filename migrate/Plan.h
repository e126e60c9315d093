// The plan of a migration: one line per person of a UTF-8 CSV file with a header row, read into
// the people to move, and the stable slice of them that one of several machines takes.
//
//   id,stores,to,user,password-file
//   ann,homes/ann/*.pst;archive/ann-2019.pst,https://dav.example.org/,ann,secrets/ann
//
// Columns by name, in any order, others kept aside: `id`, `stores` (paths or globs separated by
// ';', relative ones taken from the plan's folder), `to` (as `send --to`), `user`,
// `password-file` or `password-command`, and `book` (the address book to send into). A column
// holding passwords is refused: a plan is a file people pass around and review.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace lumivex::migrate {

struct Person {
  int line = 0;  // of the plan, for messages
  QString id;
  QStringList storePatterns;  // as written, ';'-separated in the plan
  QString to;
  QString user;
  QString passwordFile;  // made absolute
  QString passwordCommand;
  QString book;
};

struct Plan {
  QString path;    // absolute
  QString folder;  // where relative paths in it start
  std::vector<Person> people;
};

// Reads the plan at `path`. False, with `error` naming the line and what is wrong, when it
// cannot be used.
bool ReadPlan(const QString& path, Plan& plan, QString& error);

// The rows of a CSV text (RFC 4180: quoted fields may hold commas, quotes and line breaks).
std::vector<QStringList> ParseCsv(const QString& text);

// The store files a person's patterns name: each pattern expanded as the shell would (sorted),
// relative ones from `folder`. Patterns that match no file go to `unmatched`.
QStringList ExpandStores(const QStringList& patterns, const QString& folder,
                         QStringList& unmatched);

// The slice 1..count a person belongs to: the same id always in the same slice, whatever the
// plan's order or the other people in it.
int ShardOf(const QString& id, int count);
// Reads "I/N" (1 <= I <= N). False when it is not that.
bool ParseShard(const QString& text, int& index, int& count);

// The server a destination lives on ("host:port"), for bounding the people sent to one server
// at once; "local" for folders and Evolution.
QString ServerOf(const QString& to);

}  // namespace lumivex::migrate
