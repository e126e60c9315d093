// What the fuzz targets share: an input handed to code that reads a file by its path, without
// touching the disk, and the way a store's input is laid out.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace lumivex::fuzz {

// A file in memory (memfd) that is rewritten for every input; its path is /proc/self/fd/N, so
// the readers open it as they open any file.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("lumivex-fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) abort();
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  QString Path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd_); }

  void Write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) abort();
      done += static_cast<size_t>(n);
    }
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

 private:
  int fd_;
};

// A store's input leaves out the bytes between the end of the file header (564 bytes) and the
// first allocation map at 0x4400, which every writer leaves empty; they are put back as zeros
// before the store is read. So the inputs, and the mutations spent on them, are on the header
// and the pages and blocks that follow instead of 16 KB of nothing.
constexpr size_t kStoreHeaderBytes = 564;
constexpr size_t kStoreFirstMap = 0x4400;

inline std::vector<uint8_t> ExpandStore(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  if (size > kStoreHeaderBytes)
    file.insert(file.begin() + kStoreHeaderBytes, kStoreFirstMap - kStoreHeaderBytes, 0);
  return file;
}

// A text of at most `units` UTF-16 units taken from the input: either bytes read as UTF-8, or
// arbitrary units (lone surrogates included).
inline QString ArbitraryText(FuzzedDataProvider& in, size_t units) {
  units = in.ConsumeIntegralInRange<size_t>(0, units);
  if (in.ConsumeBool())
    return QString::fromUtf8(QByteArray::fromStdString(in.ConsumeBytesAsString(units)));
  const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(2 * units);
  QString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text.append(QChar(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8))));
  return text;
}

}  // namespace lumivex::fuzz
