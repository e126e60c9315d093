// The temporary file of a merge (ScratchFile), whose failures stop the merge with a StoreError
// saying what to do.
#pragma once

#include "common/ScratchFile.h"

#include <QByteArray>

#include <cstdint>

namespace lumivex::merge {

class MergeScratch {
 public:
  // `name`: the start of the file's name, as "lumivex-merge".
  explicit MergeScratch(const QString& name) : file_(name) {}
  bool IsOpen() const { return file_.IsOpen(); }
  // Creates the file. Throws StoreError, saying what to do, when it cannot.
  void Open();
  // Writes `n` bytes at the end. Throws StoreError when the disk is full.
  void Append(const char* data, int64_t n);
  // The bytes written.
  int64_t Size() const { return file_.Size(); }
  // `length` bytes from `from` into `into`, fewer where the file ends or cannot be read.
  bool Read(QByteArray& into, int64_t from, int64_t length);
  // Exactly `length` bytes from `from`. Throws StoreError when they cannot be read.
  void ReadAll(char* into, int64_t from, int64_t length);
  // Throws the StoreError of a read that did not give back what was written.
  [[noreturn]] void ReadFailed() const;

 private:
  ScratchFile file_;
};

}  // namespace lumivex::merge
