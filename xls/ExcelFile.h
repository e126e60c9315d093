// ExcelFile: a writer of BIFF 2.1 worksheet files (.xls). One object writes one file in one
// forward pass: CreateFile starts it, every other writing member appends its record at once, and
// CloseFile writes the page breaks and the end record. Members report by status numbers and never
// throw: 0 when the record was written, otherwise the number of the failure that stopped them.
//
// A call that fails writes nothing: every record is built in memory first and handed to the file
// in one write; should the file system take only part of it (a disk that fills up), the file is
// cut back to where the record began, so the file never holds a record head without its data.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace lumivex {

// The loosely typed value of a cell: empty, null, a number or a text. An empty value is 0 in a
// number cell and the empty text in a text cell; a null value cannot be stored in any cell.
class CellValue {
 public:
  enum class Kind { kEmpty, kNull, kNumber, kText };

  CellValue() = default;
  CellValue(double number) : kind_(Kind::kNumber), number_(number) {}
  CellValue(int number) : kind_(Kind::kNumber), number_(number) {}
  CellValue(QString text) : kind_(Kind::kText), text_(std::move(text)) {}
  CellValue(const char* utf8) : kind_(Kind::kText), text_(QString::fromUtf8(utf8)) {}
  static CellValue Null() {
    CellValue value;
    value.kind_ = Kind::kNull;
    return value;
  }

  Kind kind() const { return kind_; }
  double number() const { return number_; }
  const QString& text() const { return text_; }

 private:
  Kind kind_ = Kind::kEmpty;
  double number_ = 0;
  QString text_;
};

class ExcelFile {
 public:
  using Status = int16_t;

  // Status numbers. The numbers of the file-system failures are those a Windows program of this
  // kind reports for the same causes, so that each cause has one number of its own.
  static constexpr Status kOk = 0;
  static constexpr Status kOverflow = 6;       // a value does not fit its field
  static constexpr Status kTypeMismatch = 13;  // a text that is not a number, for a number cell
  static constexpr Status kNoFile = 52;  // no file is open (before CreateFile, after CloseFile)
  static constexpr Status kDeviceError = 57;  // the device failed to read or write (I/O error)
  static constexpr Status kDiskFull = 61;     // no room left on the disk, or the file is too large
  static constexpr Status kPermissionDenied = 70;  // the file or its folder may not be written
  static constexpr Status kPathAccessError =
      75;  // the path names a folder, or cannot be used as a file
  static constexpr Status kPathNotFound = 76;  // a folder on the path does not exist
  static constexpr Status kInvalidNull = 94;   // a null value was given for a cell
  // What a status number means, in words for a message ("the disk is full").
  static QString StatusText(Status status);

  // The kinds of cell for WriteValue's ValueType.
  static constexpr int kIntegerCell = 0;
  static constexpr int kNumberCell = 1;
  static constexpr int kTextCell = 2;

  // Margin numbers for SetMargin: the record numbers of the four margin records.
  static constexpr int kLeftMargin = 0x26;
  static constexpr int kRightMargin = 0x27;
  static constexpr int kTopMargin = 0x28;
  static constexpr int kBottomMargin = 0x29;

  // CellFontUsed values for fonts 0 to 3; Alignment bits; HiddenLocked bits.
  static constexpr int kFont0 = 0, kFont1 = 64, kFont2 = 128, kFont3 = 192;
  static constexpr int kAlignGeneral = 0, kAlignLeft = 1, kAlignCentre = 2, kAlignRight = 3,
                       kAlignFill = 4;
  static constexpr int kCellLocked = 64, kCellHidden = 128;

  // FONT style bits.
  static constexpr int kBold = 1, kItalic = 2, kUnderline = 4, kStrikeOut = 8;

  ExcelFile();
  // Closes the file handle without writing anything more: a file that was not closed with
  // CloseFile stays without its end record.
  ~ExcelFile();
  ExcelFile(const ExcelFile&) = delete;
  ExcelFile& operator=(const ExcelFile&) = delete;

  // Starts a new file at FileName: replaces a file of that name, writes the BOF record and the
  // default formats, and empties the page-break list. When a file is still open from an earlier
  // CreateFile, that one is finished first as CloseFile would. When the new file cannot be
  // started, nothing of it is left at the path and no file is open.
  Status CreateFile(QString FileName);
  // Keeps records in memory and writes them in pieces of a few hundred kilobytes, for files of
  // many cells: one write per piece instead of one per record. A failure to write is then
  // reported by the call that writes the piece (a WriteValue, or CloseFile for the last one);
  // the records of that piece are taken back, so the file still ends after a whole record.
  void SetBuffered(bool buffered) { buffered_ = buffered; }
  // Writes the page breaks (when any were recorded) and the EOF record, then closes the file.
  // Returns 0 at once when no file was ever opened; after a CloseFile, fails with kNoFile.
  Status CloseFile();
  // Records a page break above 1-based row lrow; written by CloseFile in ascending order.
  Status InsertHorizPageBreak(int32_t lrow);
  // Writes one cell. ValueType 0 = integer, 1 = number, 2 = text; any other type writes
  // nothing and returns 0. Rows and columns count from 1 (1 to 65536); a number outside that
  // range has no field to go in and fails with kOverflow, as does any other value too large for
  // its field.
  Status WriteValue(int32_t ValueType, int32_t CellFontUsed, int32_t Alignment,
                    int32_t HiddenLocked, int32_t lrow, int32_t lcol, const CellValue& value,
                    int32_t CellFormat = 0);
  // FORMATCOUNT and the 24 FORMAT records of the default number formats.
  Status WriteDefaultFormats();

  // Page setup and formatting records.
  Status SetMargin(int32_t Margin, double MarginValue);                                // inches
  Status SetColumnWidth(int32_t FirstColumn, int32_t LastColumn, int32_t WidthValue);  // chars
  Status SetFont(const QString& FontName, int32_t FontHeight, int32_t FontFormat);     // points
  Status SetHeader(const QString& HeaderText);
  Status SetFooter(const QString& FooterText);
  // Stores the text in the clear as the FILEPASS record; nothing is encrypted.
  Status SetFilePassword(const QString& PasswordText);
  // Property setters: write their record, report nothing.
  void PrintGridLines(bool newvalue);
  void ProtectSpreadsheet(bool newvalue);
  Status SetDefaultRowHeight(int32_t HeightValue);  // points
  Status SetRowHeight(int32_t lrow, int32_t HeightValue);

  // The 24 default format texts, index 0 to 23.
  static const std::vector<QString>& DefaultFormats();

  // The bytes a text takes in a record, in the code page of the user's locale (AnsiCodePage()):
  // one per character, two for the characters that take two in the double-byte code pages (932,
  // 936, 949, 950). A character outside the code page is written as "?". The length byte before
  // a text counts these bytes, so a text of more than 255 bytes does not fit. A file in a code
  // page other than 1252 starts with a CODEPAGE record naming it.
  static QByteArray EncodeText(const QString& text);
  static QByteArray EncodeText(const QString& text, int codePage);
  // The number of characters of a text as the length byte counts them (a character outside the
  // basic plane, stored as two UTF-16 units, is one character).
  static qsizetype TextLength(const QString& text);

 private:
  enum class State { kNone, kOpen, kClosed };

  // The two bytes of x, low byte first.
  static QByteArray MKI(int16_t x);
  // Appends one whole record to the file, or nothing at all; buffered, to the pending piece.
  Status Put(QByteArrayView record);
  // Writes the pending piece, if any.
  Status Flush();
  // Appends bytes that end on a record's end to the file, or takes back what went in of them.
  Status Write(QByteArrayView bytes);
  static void AppendEncoded(std::string& out, QStringView text, int codePage);
  // A record: number, data length, data.
  static QByteArray Record(uint16_t number, const QByteArray& data);
  Status WriteTextRecord(uint16_t number, const QString& text);
  // EncodeText in the code page taken when the file was created.
  QByteArray Encode(const QString& text) const { return EncodeText(text, codePage_); }

  State state_ = State::kNone;
  int fd_ = -1;                          // OutFile
  int64_t size_ = 0;                     // bytes written so far: where the next record begins
  int codePage_ = 1252;                  // the locale's code page, looked up once per file
  uint16_t bofTemplate_[4];              // BofTemplate: 9, 4, 2, 10
  uint16_t eofTemplate_[2];              // EofTemplate: 10, 0
  std::vector<uint16_t> pageBreakRows_;  // PageBreakRows, 0-based
  int16_t pageBreakCount_ = 0;           // PageBreakCount
  static constexpr size_t kPendingBytes = 256 * 1024;
  bool buffered_ = false;
  std::string pending_;  // buffered records not yet written
  std::string record_;   // the record being built, kept for its room
};

}  // namespace lumivex
