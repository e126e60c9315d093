// A scratch file (a merge's entries, a list's members) has no name in the temporary folder while
// it holds its bytes: a process killed outright leaves nothing of the contacts behind there.
#include "common/ScratchFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace lumivex {
namespace {

TEST(ScratchFile, HoldsItsBytesWithoutANameInTheFolder) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QByteArray before = qgetenv("TMPDIR");
  qputenv("TMPDIR", QFile::encodeName(tmp.path()));
  {
    ScratchFile file(QStringLiteral("lumivex-merge"));
    ASSERT_TRUE(file.Open()) << file.Error().toStdString();
    EXPECT_EQ(file.Folder(), tmp.path());
    const QByteArray bytes(100000, 'x');
    ASSERT_TRUE(file.Append(bytes.constData(), bytes.size()));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
    QByteArray back(bytes.size(), '\0');
    EXPECT_EQ(file.ReadUpTo(back.data(), 0, back.size()), bytes.size());
    EXPECT_EQ(back, bytes);
  }
  if (before.isNull())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", before);
}

}  // namespace
}  // namespace lumivex
