#include "common/ScratchFile.h"

#include "common/TemporaryFiles.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace lumivex {

namespace {

QString SystemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

ScratchFile::ScratchFile(const QString& name)
    : file_(QDir::tempPath() + u'/' + name + QStringLiteral("-XXXXXX")) {}

ScratchFile::~ScratchFile() {
  if (registered_) TemporaryFiles::Unregister(file_.fileName());
}

bool ScratchFile::Open() {
  if (!file_.open()) {
    error_ = file_.errorString();
    return false;
  }
  // Its name goes at once: the file lives as long as it is open, and a process killed outright
  // (SIGKILL, a power cut) leaves nothing of what it held in the temporary folder. Where the
  // name cannot go, it is removed on a signal and at the end, as other temporary files are.
  if (::unlink(QFile::encodeName(file_.fileName()).constData()) == 0) {
    file_.setAutoRemove(false);  // the name may be another file's by then
  } else {
    TemporaryFiles::Register(file_.fileName());
    registered_ = true;
  }
  return true;
}

QString ScratchFile::Folder() const {
  return QFileInfo(file_.fileTemplate()).absolutePath();
}

bool ScratchFile::Append(const char* data, int64_t left) {
  while (left > 0) {
    const ssize_t n = ::pwrite(file_.handle(), data, size_t(left), written_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = SystemError(n < 0 ? errno : ENOSPC);
      return false;
    }
    data += n;
    left -= n;
    written_ += n;
  }
  return true;
}

int64_t ScratchFile::ReadUpTo(char* into, int64_t from, int64_t length) const {
  int64_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(file_.handle(), into + got, size_t(length - got), from + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? SystemError(errno) : QString();
      break;
    }
    got += n;
  }
  return got;
}

}  // namespace lumivex
