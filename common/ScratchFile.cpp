#include "common/ScratchFile.h"

#include "common/TemporaryFiles.h"

#include <QDir>

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
  if (file_.isOpen()) TemporaryFiles::Unregister(file_.fileName());
}

bool ScratchFile::Open() {
  if (!file_.open()) {
    error_ = file_.errorString();
    return false;
  }
  TemporaryFiles::Register(file_.fileName());
  return true;
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
