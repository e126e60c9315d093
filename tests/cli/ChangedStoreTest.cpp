// A store file that changes while lumivex-cli exports it, the way a sync client, a backup tool
// or the mail client itself changes it. The export stops itself at a known entry
// (LUMIVEX_TEST_STOP_AT_ENTRY) until the test has changed the file, so the change always lands
// in the middle of the run.
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

constexpr int kContacts = 1000;
constexpr int kStopAt = 500;  // entry 501 of 1000
constexpr const char* kChanged = "the store file changed or shrank while it was read";

struct Outcome {
  bool stopped = false;  // the export stopped at the entry, and the file was changed then
  bool signalled = false;
  int status = -1;
  QString err;
};

// Runs lumivex-cli with `args`, changes the store with `change` once the export has stopped at
// entry kStopAt, and lets it go on to its end.
Outcome ExportWhileChanging(const QStringList& args, bool libpff,
                            const std::function<void()>& change, int stopAt = kStopAt) {
  const QString errPath = testing::ScratchDir("changed-store-err") + "/stderr";
  const std::string cli = (testing::BinDir() + "/lumivex-cli").toStdString();
  std::vector<std::string> argv = {cli, "export"};
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LUMIVEX_TEST_STOP_AT_ENTRY", std::to_string(stopAt).c_str(), 1);
    if (libpff) setenv("LUMIVEX_PST_READER", "libpff", 1);
    const int err = open(errPath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_WRONLY);
    dup2(err, 2);
    dup2(null, 1);
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  waitpid(pid, &status, WUNTRACED);
  if (WIFSTOPPED(status)) {
    outcome.stopped = true;
    change();
    kill(pid, SIGCONT);
    waitpid(pid, &status, 0);
  }
  outcome.signalled = WIFSIGNALED(status);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  QFile err(errPath);
  if (err.open(QIODevice::ReadOnly)) outcome.err = QString::fromUtf8(err.readAll());
  return outcome;
}

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QString MakeStore(const QString& path, int seed) {
  const int status = QProcess::execute(
      testing::BinDir() + "/lumivex-pstgen",
      {"--contacts", QString::number(kContacts), "--seed", QString::number(seed), "--out", path});
  return status == 0 ? path : QString();
}

// Truncated in place, overwritten in place with another store's bytes, or replaced by another
// file renamed over it, while every form of export reads it, by each reader: no signal ever.
// After a truncation or an overwrite the entry being read and every later one are listed as
// unreadable because the store changed, the export ends with status 3 (the entries before were
// written) and leaves none of its temporary files; a store replaced by rename is read to its end
// from the file that was opened.
TEST(ChangedStore, ReportedLikeDamageNeverASignal) {
  const QString dir = testing::ScratchDir("changed-store");
  const QString original = MakeStore(dir + "/original.pst", 1);
  const QString other = MakeStore(dir + "/other.pst", 2);
  ASSERT_FALSE(original.isEmpty());
  ASSERT_FALSE(other.isEmpty());
  const QByteArray originalBytes = Bytes(original);
  const QByteArray otherBytes = Bytes(other);
  const QString store = dir + "/store.pst";

  struct Change {
    const char* name;
    std::function<void()> apply;
    bool reported;
  };
  const Change changes[] = {
      {"truncated", [&] { QFile::resize(store, 1 << 20); }, true},
      {"overwritten", [&] { Write(store, otherBytes); }, true},
      {"replaced",
       [&] {
         Write(dir + "/new.pst", otherBytes);
         QFile::remove(store);
         QFile::rename(dir + "/new.pst", store);
       },
       false},
  };
  const QStringList forms[] = {{"--format", "vcard"},
                               {"--format", "wab"},
                               {"--format", "vcard4"},
                               {"--format", "csv"},
                               {"--format", "vcard3", "--per-contact"}};
  for (const bool libpff : {false, true}) {
    for (const Change& change : changes) {
      for (const QStringList& form : forms) {
        SCOPED_TRACE(QStringLiteral("%1, %2, %3")
                         .arg(libpff ? "libpff" : "our reader", change.name, form.join(u' '))
                         .toStdString());
        Write(store, originalBytes);
        const QString out = dir + "/out";
        QDir(out).removeRecursively();
        const bool oneFile = form.contains("vcard4") || form.contains("csv");
        const QString target = oneFile ? out + "/contacts.out" : out;
        if (oneFile) QDir().mkpath(out);
        const Outcome outcome = ExportWhileChanging(
            form + QStringList{"--verbose", "--out", target, store}, libpff, change.apply);
        ASSERT_TRUE(outcome.stopped);
        EXPECT_FALSE(outcome.signalled) << outcome.err.toStdString();
        if (change.reported) {
          EXPECT_EQ(outcome.status, 3) << outcome.err.toStdString();
          EXPECT_TRUE(outcome.err.contains(QStringLiteral("entry %1 of").arg(kContacts)) &&
                      outcome.err.contains(kChanged))
              << outcome.err.toStdString();
        } else {
          EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
          EXPECT_FALSE(outcome.err.contains(kChanged)) << outcome.err.toStdString();
        }
        // Nothing but finished output: no hidden, partial or spooled file of the export's own.
        for (const QFileInfo& file :
             QDir(out).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
          const QString suffix = file.suffix();
          EXPECT_TRUE(!file.fileName().startsWith(u'.') &&
                      (suffix == "vcf" || suffix == "wab" || suffix == "out"))
              << file.fileName().toStdString();
        }
        EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 3);  // the stores
      }
    }
  }
}

// Truncated before the first entry is read: no contact can be written, so no form keeps a file
// (not even one of blank cards or an empty address book), every entry is listed as unreadable,
// and the status is 1.
TEST(ChangedStore, BeforeTheFirstEntryNothingIsWritten) {
  const QString dir = testing::ScratchDir("changed-store-first");
  const QString original = MakeStore(dir + "/original.pst", 1);
  ASSERT_FALSE(original.isEmpty());
  const QByteArray originalBytes = Bytes(original);
  const QString store = dir + "/store.pst";
  const QStringList forms[] = {{"--format", "vcard"},
                               {"--format", "vcards"},
                               {"--format", "xls"},
                               {"--format", "wab"},
                               {"--format", "vcard4"},
                               {"--format", "csv"},
                               {"--format", "vcard3", "--per-contact"}};
  for (const QStringList& form : forms) {
    SCOPED_TRACE(form.join(u' ').toStdString());
    Write(store, originalBytes);
    const QString out = dir + "/out";
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const bool oneFile = form.contains("vcard4") || form.contains("csv");
    const Outcome outcome = ExportWhileChanging(
        form + QStringList{"--verbose", "--out", oneFile ? out + "/contacts.out" : out, store},
        false, [&] { QFile::resize(store, 1 << 20); }, 0);
    ASSERT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.status, 1) << outcome.err.toStdString();
    EXPECT_EQ(outcome.err.count(kChanged), kContacts) << outcome.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 0);
  }
}

}  // namespace
}  // namespace lumivex
