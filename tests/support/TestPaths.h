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
// The bytes of the file at `path`; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace lumivex::testing

// Skips the current test, saying why, when ../shared/fixtures/pst is not there.
#define LUMIVEX_REQUIRE_FIXTURES()                                                        \
  do {                                                                                    \
    if (::lumivex::testing::SharedDir().isEmpty())                                        \
      GTEST_SKIP() << "../shared/fixtures/pst is absent: the real store files come with " \
                      "the development workplace, not with the repository";               \
  } while (0)
