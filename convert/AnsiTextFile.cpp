#include "convert/AnsiTextFile.h"

#include "common/CodePage.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace lumivex {

namespace {

constexpr size_t kBufferSize = 256 * 1024;

}  // namespace

AnsiTextFile::AnsiTextFile(int codePage) : codePage_(codePage) {}

AnsiTextFile::~AnsiTextFile() {
  Close();
}

bool AnsiTextFile::Open(const QString& path, QString* reason) {
  Close();
  failed_ = false;
  error_.clear();
  file_ = std::fopen(QFile::encodeName(path).constData(), "wb");
  if (file_ == nullptr) {
    if (reason != nullptr) *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  buffer_.resize(kBufferSize);
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  return true;
}

bool AnsiTextFile::WriteLine(QStringView text) {
  if (file_ == nullptr) return false;
  line_.resize(0);  // keeps its room for the next line
  AppendAnsi(line_, text, codePage_);
  const size_t size = static_cast<size_t>(line_.size());
  if (fwrite_unlocked(line_.constData(), 1, size, file_) != size ||
      putc_unlocked('\r', file_) == EOF || putc_unlocked('\n', file_) == EOF) {
    Fail();
    return false;
  }
  return true;
}

bool AnsiTextFile::WriteLine(std::initializer_list<QStringView> pieces) {
  qsizetype size = 0;
  for (QStringView piece : pieces) size += piece.size();
  joined_.resize(size);  // keeps its room for the next line
  QChar* at = joined_.data();
  for (QStringView piece : pieces) {
    if (piece.isEmpty()) continue;
    std::memcpy(static_cast<void*>(at), piece.data(), size_t(piece.size()) * sizeof(QChar));
    at += piece.size();
  }
  return WriteLine(QStringView(joined_));
}

bool AnsiTextFile::Close() {
  if (file_ == nullptr) return !failed_;
  if (std::fclose(file_) != 0) Fail();
  file_ = nullptr;
  return !failed_;
}

void AnsiTextFile::Fail() {
  if (!failed_) error_ = QString::fromLocal8Bit(std::strerror(errno));
  failed_ = true;
}

}  // namespace lumivex
