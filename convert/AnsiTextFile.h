// A text file written line by line in one Windows code page, each line ended by CR LF: the form
// of the vCard 2.1 files.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdio>
#include <initializer_list>

namespace lumivex {

// A text file written line by line through a buffer, each line converted to one code page and
// ended by CR LF. Opening creates the file or empties an existing one. Lines are converted
// straight into the buffer, which goes to the file whole once it is full: through stdio's own
// buffer every line was copied once more, with a call to stdio for each line and its CR LF.
class AnsiTextFile {
 public:
  explicit AnsiTextFile(int codePage);
  ~AnsiTextFile();
  AnsiTextFile(const AnsiTextFile&) = delete;
  AnsiTextFile& operator=(const AnsiTextFile&) = delete;

  // False when the file cannot be created; `reason` then says why ("Permission denied").
  bool Open(const QString& path, QString* reason = nullptr);
  bool IsOpen() const { return file_ != nullptr; }
  // False when the file is not open or the line cannot be written; the line is then missing.
  bool WriteLine(QStringView text);
  // Writes the pieces joined as one line, built in a buffer kept from line to line.
  bool WriteLine(std::initializer_list<QStringView> pieces);
  // Writes out what is buffered and closes the file. False when any write failed.
  bool Close();
  // Why the first write that failed since Open failed ("No space left on device").
  const QString& Error() const { return error_; }

 private:
  void Fail();
  // Writes the buffer to the file and empties it. False when the write failed.
  bool Flush();

  int codePage_;
  std::FILE* file_ = nullptr;  // unbuffered: the buffer is buffer_
  bool failed_ = false;
  QString error_;
  QByteArray buffer_;  // converted lines not yet written
  QString joined_;
};

}  // namespace lumivex
