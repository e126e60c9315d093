// A temporary file in TMPDIR for what a merge cannot keep in memory: written at its end, read at
// explicit offsets through its descriptor (the file object's own buffer would copy everything read
// once more, and a seek before each read is a system call of its own). Removed when it goes, and
// by a signal that ends the process while it is there.
#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdint>

namespace lumivex::merge {

class ScratchFile {
 public:
  // `name`: the start of the file's name, as "lumivex-merge".
  explicit ScratchFile(const QString& name);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  bool IsOpen() const { return file_.isOpen(); }
  // Creates the file. Throws StoreError, saying what to do, when it cannot.
  void Open();
  // Writes `n` bytes at the end. Throws StoreError when the disk is full.
  void Append(const char* data, int64_t n);
  // The bytes written.
  int64_t Size() const { return written_; }
  // `length` bytes from `from` into `into`, fewer where the file ends or cannot be read.
  bool Read(QByteArray& into, int64_t from, int64_t length);
  // Exactly `length` bytes from `from`. Throws StoreError when they cannot be read.
  void ReadAll(char* into, int64_t from, int64_t length);
  // Throws the StoreError of a read that did not give back what was written.
  [[noreturn]] void ReadFailed() const;

 private:
  int64_t ReadUpTo(char* into, int64_t from, int64_t length);
  QTemporaryFile file_;
  int64_t written_ = 0;
  int error_ = 0;  // errno of the last failed read
};

}  // namespace lumivex::merge
