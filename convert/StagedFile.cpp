#include "convert/StagedFile.h"

#include "common/TemporaryFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lumivex {

StagedFile::StagedFile(QString target) : target_(std::move(target)) {
  const QFileInfo info(target_);
  // What an earlier run that was killed left in this folder goes first.
  TemporaryFiles::RemoveStaleTemporaries(info.path());
  work_ = TemporaryFiles::WorkPath(info.path() + u'/' + info.fileName(),
                                   QCoreApplication::applicationPid());
  TemporaryFiles::Register(work_);
}

StagedFile::~StagedFile() {
  Discard();
}

bool StagedFile::Commit(QString* reason) {
  if (done_) {
    if (reason != nullptr) *reason = QStringLiteral("the file was not kept");
    return false;
  }
  if (std::rename(QFile::encodeName(work_).constData(), QFile::encodeName(target_).constData()) !=
      0) {
    const int error = errno;
    if (reason != nullptr) {
      *reason = QFileInfo(target_).isDir() ? QStringLiteral("a folder of that name is in the way")
                                           : QString::fromLocal8Bit(std::strerror(error));
    }
    Discard();
    return false;
  }
  done_ = true;
  TemporaryFiles::Unregister(work_);
  return true;
}

void StagedFile::Discard() {
  if (done_) return;
  QFile::remove(work_);
  TemporaryFiles::Unregister(work_);
  done_ = true;
}

}  // namespace lumivex
