// Where tests find the shared fixtures, the source tree and the built programs.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>

// Test failures show text as text, not as a list of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace lumivex::testing {

// ../shared beside the checkout (LUMIVEX_SHARED_DIR in the environment overrides it); empty
// when it is absent.
QString SharedDir();
// A file of ../shared/fixtures/pst; empty when the folder is absent.
QString FixturePst(const QString& name);
QString SourceDir();
// The folder holding lumivex, lumivex-cli, lumivex-pstgen, the sample store and xwab.def.
QString BinDir();
// A new empty folder for the running test case, removed and made again at each call with the
// same name. Each test case has folders of its own, so cases can run side by side.
QString ScratchDir(const QString& name);
// Whether a test may skip when a reader, server or fixture it needs is missing: only when
// LUMIVEX_SKIP_MISSING=1 is in the environment.
bool MissingMaySkip();
// A store at `dir`/unreadable.pst whose Contacts folder lists two contacts, neither of which can
// be read (a byte of each one's data changed, so that its block's checksum fails); written by
// lumivex-pstgen. Empty when it cannot be made.
QString StoreOfUnreadableEntries(const QString& dir);
// The bytes of the file at `path`; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace lumivex::testing

// Ends the current test because something it needs is missing (`why` says what and which
// Debian package brings it): a failure, since ./test and CI install every reader, server and
// fixture; a skip only when the developer asks for one with LUMIVEX_SKIP_MISSING=1.
#define LUMIVEX_MISSING(why)                                                    \
  do {                                                                          \
    if (::lumivex::testing::MissingMaySkip()) GTEST_SKIP() << why;              \
    FAIL() << why << " (LUMIVEX_SKIP_MISSING=1 skips what is missing instead)"; \
  } while (0)

// Ends the current test, as LUMIVEX_MISSING, when ../shared/fixtures/pst is not there.
#define LUMIVEX_REQUIRE_FIXTURES()                                                \
  do {                                                                            \
    if (::lumivex::testing::SharedDir().isEmpty())                                \
      LUMIVEX_MISSING(                                                            \
          "../shared/fixtures/pst is absent: the real store files come with the " \
          "development workplace, not with the repository");                      \
  } while (0)
