// A text file written line by line in one Windows code page, each line ended by CR LF: the form
// of the vCard 2.1 files.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdio>
#include <initializer_list>
#include <memory>

namespace lumivex {

// A text file written line by line through a buffer, each line converted to one code page and
// ended by CR LF. Opening creates the file or empties an existing one. Lines are converted
// straight into the buffer, which goes to the file whole once it is full: through stdio's own
// buffer every line was copied once more, with a call to stdio for each line and its CR LF.
//
// A line whose pieces each convert by themselves (AppendAnsiByItself) goes straight into the
// buffer, with no copy and no allocation; any other line is converted aside as a whole and
// then copied in.
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
  bool WriteLine(QStringView text) { return WriteLine({text}); }
  // Writes the pieces joined as one line.
  bool WriteLine(std::initializer_list<QStringView> pieces);
  // Writes out what is buffered and closes the file. False when any write failed.
  bool Close();
  // Why the first write that failed since Open failed ("No space left on device").
  const QString& Error() const { return error_; }

 private:
  void Fail();
  // Writes the buffer to the file and empties it. False when the write failed.
  bool Flush();
  // The line's bytes into converted_, the pieces joined where a character needs its neighbour.
  void ConvertWhole(std::initializer_list<QStringView> pieces);
  // Appends `bytes` to the buffer, writing the buffer out first where they do not fit.
  void Put(const char* bytes, size_t size);
  // Writes the buffer out once it holds a buffer's worth. False when the write failed.
  bool LineDone();

  int codePage_;
  const uint8_t* codes_;       // the code page's single-byte table; null for double-byte pages
  std::FILE* file_ = nullptr;  // unbuffered: the buffer is buffer_
  bool failed_ = false;
  QString error_;
  std::unique_ptr<char[]> buffer_;  // converted lines not yet written
  size_t size_ = 0;                 // bytes of buffer_ in use
  size_t room_ = 0;                 // bytes buffer_ holds
  QByteArray converted_;            // a line converted as a whole
  QString joined_;
};

}  // namespace lumivex
