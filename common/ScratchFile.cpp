#include "merge/ScratchFile.h"

#include "common/TemporaryFiles.h"
#include "source/MailStore.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace lumivex::merge {

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

void ScratchFile::Open() {
  if (!file_.open())
    throw StoreError(QStringLiteral("Cannot create a temporary file in %1 to merge in: %2. Set "
                                    "TMPDIR to a folder you may write in")
                         .arg(QDir::tempPath(), file_.errorString())
                         .toStdString());
  TemporaryFiles::Register(file_.fileName());
}

void ScratchFile::Append(const char* data, int64_t left) {
  while (left > 0) {
    const ssize_t n = ::pwrite(file_.handle(), data, size_t(left), written_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw StoreError(QStringLiteral("Cannot write the temporary file %1 to merge in: %2. Free "
                                      "some disk space there or set TMPDIR to another folder")
                           .arg(file_.fileName(), SystemError(n < 0 ? errno : ENOSPC))
                           .toStdString());
    data += n;
    left -= n;
    written_ += n;
  }
}

int64_t ScratchFile::ReadUpTo(char* into, int64_t from, int64_t length) {
  int64_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(file_.handle(), into + got, size_t(length - got), from + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : 0;
      break;
    }
    got += n;
  }
  return got;
}

bool ScratchFile::Read(QByteArray& into, int64_t from, int64_t length) {
  into.resize(length);
  into.resize(ReadUpTo(into.data(), from, length));
  return !into.isEmpty();
}

void ScratchFile::ReadAll(char* into, int64_t from, int64_t length) {
  if (ReadUpTo(into, from, length) != length) ReadFailed();
}

void ScratchFile::ReadFailed() const {
  throw StoreError(QStringLiteral("Cannot read back the temporary file %1 the merge uses: %2")
                       .arg(file_.fileName(), error_ ? SystemError(error_)
                                                     : QStringLiteral("it is shorter than written"))
                       .toStdString());
}

}  // namespace lumivex::merge
