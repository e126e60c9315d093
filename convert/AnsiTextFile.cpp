#include "convert/AnsiTextFile.h"

#include "common/CodePage.h"

#include <QFile>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cerrno>
#include <cstring>

namespace lumivex {

namespace {

// The buffer goes to the file once it holds this much.
constexpr size_t kBufferSize = 256 * 1024;
// Room past that for the line that fills it: a line is converted straight into the buffer when
// it fits there.
constexpr size_t kBufferRoom = kBufferSize + 64 * 1024;

// Writes `text` at `at` and moves `at` past it where it is all ASCII and fits before `end`, as
// most pieces of a line are (the fixed texts, most values): a loop here rather than a call for
// each of a line's many short pieces. False otherwise, with what lies from `at` on junk.
inline bool PutAscii(QStringView text, char*& at, const char* end) {
  const char16_t* src = text.utf16();
  const qsizetype size = text.size();
  if (end - at < size) return false;
  char* out = at;
  qsizetype i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= size; i += 8, out += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(-0x80));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
  }
#endif
  for (; i < size; ++i) {
    if (src[i] >= 0x80) return false;
    *out++ = static_cast<char>(src[i]);
  }
  at = out;
  return true;
}

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
  if (!buffer_) {
    buffer_ = std::make_unique_for_overwrite<char[]>(kBufferRoom);
    room_ = kBufferRoom;
  }
  size_ = 0;
  return true;
}

bool AnsiTextFile::WriteLine(std::initializer_list<QStringView> pieces) {
  if (file_ == nullptr) return false;
  size_t units = 2;  // and CR LF
  for (QStringView piece : pieces) units += size_t(piece.size());
  bool written = true;
  if (units > room_ - size_ && size_ > 0) written = Flush();
  if (units <= room_ - size_) {
    char* at = buffer_.get() + size_;
    const char* end = buffer_.get() + room_ - 2;  // CR LF after it
    bool byItself = true;
    for (QStringView piece : pieces)
      if (!PutAscii(piece, at, end) && !PutAnsiByItself(piece, codePage_, at, end)) {
        byItself = false;
        break;
      }
    if (byItself) {
      at[0] = '\r';
      at[1] = '\n';
      size_ = size_t(at + 2 - buffer_.get());
      return LineDone() && written;
    }
  }
  ConvertWhole(pieces);
  converted_.append("\r\n", 2);
  Put(converted_.constData(), size_t(converted_.size()));
  return LineDone() && written;
}

void AnsiTextFile::ConvertWhole(std::initializer_list<QStringView> pieces) {
  // Each piece converted by itself where its characters convert by themselves; else the pieces
  // are joined and the line converted whole (iconv sees a combining mark with the letter before
  // it, in whichever piece that is).
  converted_.resize(0);
  bool byItself = true;
  for (QStringView piece : pieces)
    if (!piece.isEmpty() && !AppendAnsiByItself(converted_, piece, codePage_)) {
      byItself = false;
      break;
    }
  if (byItself) return;
  converted_.resize(0);
  qsizetype size = 0;
  for (QStringView piece : pieces) size += piece.size();
  joined_.resize(size);  // keeps its room for the next line
  QChar* at = joined_.data();
  for (QStringView piece : pieces) {
    if (piece.isEmpty()) continue;
    std::memcpy(static_cast<void*>(at), piece.data(), size_t(piece.size()) * sizeof(QChar));
    at += piece.size();
  }
  AppendAnsi(converted_, joined_, codePage_);
}

void AnsiTextFile::Put(const char* bytes, size_t size) {
  if (size > room_ - size_ && size_ > 0) Flush();
  if (size > room_) {  // longer than the whole buffer: straight to the file
    if (fwrite_unlocked(bytes, 1, size, file_) != size) Fail();
    return;
  }
  std::memcpy(buffer_.get() + size_, bytes, size);
  size_ += size;
}

bool AnsiTextFile::LineDone() {
  return size_ < kBufferSize || Flush();
}

bool AnsiTextFile::Flush() {
  const size_t size = size_;
  const bool written = size == 0 || fwrite_unlocked(buffer_.get(), 1, size, file_) == size;
  size_ = 0;
  if (!written) Fail();
  return written;
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
