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
  std::setvbuf(file_, nullptr, _IONBF, 0);
  buffer_.reserve(qsizetype(kBufferSize) + 4096);
  buffer_.resize(0);
  return true;
}

bool AnsiTextFile::WriteLine(QStringView text) {
  if (file_ == nullptr) return false;
  AppendAnsi(buffer_, text, codePage_);
  buffer_.append("\r\n", 2);
  return size_t(buffer_.size()) < kBufferSize || Flush();
}

bool AnsiTextFile::Flush() {
  const size_t size = size_t(buffer_.size());
  const bool written = size == 0 || fwrite_unlocked(buffer_.constData(), 1, size, file_) == size;
  buffer_.resize(0);  // keeps its room
  if (!written) Fail();
  return written;
}

bool AnsiTextFile::WriteLine(std::initializer_list<QStringView> pieces) {
  if (file_ == nullptr) return false;
  // Each piece converted straight into the buffer where its characters convert by themselves;
  // else the pieces are joined and the line converted whole (iconv sees a combining mark with
  // the letter before it, in whichever piece that is).
  const qsizetype start = buffer_.size();
  bool byItself = true;
  for (QStringView piece : pieces)
    if (!piece.isEmpty() && !AppendAnsiByItself(buffer_, piece, codePage_)) {
      byItself = false;
      break;
    }
  if (byItself) {
    buffer_.append("\r\n", 2);
    return size_t(buffer_.size()) < kBufferSize || Flush();
  }
  buffer_.truncate(start);
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
  Flush();
  if (std::fclose(file_) != 0) Fail();
  file_ = nullptr;
  return !failed_;
}

void AnsiTextFile::Fail() {
  if (!failed_) error_ = QString::fromLocal8Bit(std::strerror(errno));
  failed_ = true;
}

}  // namespace lumivex
