// A temporary file in TMPDIR for what cannot be kept in memory: written at its end, read at
// explicit offsets through its descriptor (the file object's own buffer would copy everything read
// once more, and a seek before each read is a system call of its own). Its name is taken away as
// soon as it is made: nothing of it outlives the process, however that ends. Its calls say whether
// they worked; what to do when they did not is the user's to decide (the merge stops with a
// message, a list's members stay in memory).
#pragma once

#include <QString>
#include <QTemporaryFile>

#include <cstdint>

namespace lumivex {

class ScratchFile {
 public:
  // `name`: the start of the file's name, as "lumivex-merge".
  explicit ScratchFile(const QString& name);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  bool IsOpen() const { return file_.isOpen(); }
  // Creates the file; false when it cannot (Error says why).
  bool Open();
  // Writes `n` bytes at the end; false when the disk is full (Error says why), with the bytes
  // written so far counted.
  bool Append(const char* data, int64_t n);
  // The bytes written.
  int64_t Size() const { return written_; }
  // Up to `length` bytes from `from` into `into`: how many, fewer where the file ends or cannot
  // be read (Error then says why).
  int64_t ReadUpTo(char* into, int64_t from, int64_t length) const;
  // The folder it is in, for messages (the file itself has no name there).
  QString Folder() const;
  // What went wrong last, in the system's words; empty after a read that found the file short.
  const QString& Error() const { return error_; }

 private:
  QTemporaryFile file_;
  int64_t written_ = 0;
  bool registered_ = false;  // with TemporaryFiles: its name could not be taken away
  mutable QString error_;    // also of a read, which changes nothing else
};

}  // namespace lumivex
