#include "xls/ExcelFile.h"

#include "common/CodePage.h"

#include <QFile>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace lumivex {

namespace {

constexpr uint16_t kBof = 0x0009;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kInteger = 0x0002;
constexpr uint16_t kNumber = 0x0003;
constexpr uint16_t kLabel = 0x0004;
constexpr uint16_t kFormatCount = 0x001F;
constexpr uint16_t kFormat = 0x001E;
constexpr uint16_t kHorizontalPageBreaks = 0x001B;
constexpr uint16_t kColWidth = 0x0024;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kHeader = 0x0014;
constexpr uint16_t kFooter = 0x0015;
constexpr uint16_t kFilePass = 0x002F;
constexpr uint16_t kPrintGridLines = 0x002B;
constexpr uint16_t kProtect = 0x0012;
constexpr uint16_t kDefaultRowHeight = 0x0025;
constexpr uint16_t kRow = 0x0008;
constexpr uint16_t kCodePage = 0x0042;

// The most page breaks whose record length, 2 + 2 * N, still fits a signed 16-bit number.
constexpr int kMaxPageBreaks = 16382;

// Little-endian fields appended to a record under construction.
class Fields {
 public:
  Fields& Byte(uint8_t value) {
    bytes_.append(static_cast<char>(value));
    return *this;
  }
  Fields& Word(uint16_t value) {
    bytes_.append(static_cast<char>(value & 0xFF));
    bytes_.append(static_cast<char>(value >> 8));
    return *this;
  }
  Fields& Double(double value) {
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) bytes_.append(static_cast<char>((bits >> (8 * i)) & 0xFF));
    return *this;
  }
  Fields& Bytes(const QByteArray& value) {
    bytes_.append(value);
    return *this;
  }
  const QByteArray& bytes() const { return bytes_; }

 private:
  QByteArray bytes_;
};

// The failure number for an error of the file system.
ExcelFile::Status StatusForErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ExcelFile::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return ExcelFile::kPermissionDenied;
    case ENOENT:
    case ENOTDIR:
      return ExcelFile::kPathNotFound;
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return ExcelFile::kPathAccessError;
    default:
      return ExcelFile::kDeviceError;
  }
}

// A 1-based row or column number as its 0-based 16-bit field; false when it has none.
bool ZeroBased(int32_t number, uint16_t& field) {
  if (number < 1 || number > 65536) return false;
  field = static_cast<uint16_t>(number - 1);
  return true;
}

bool IsByte(int32_t value) {
  return value >= 0 && value <= 255;
}

// A height or width given in whole units that is stored in units of 1/20 (or 1/256) in a
// signed 16-bit word.
bool ScaledWord(int32_t value, int32_t scale, uint16_t& field) {
  const int64_t scaled = static_cast<int64_t>(value) * scale;
  if (scaled < -32768 || scaled > 32767) return false;
  field = static_cast<uint16_t>(static_cast<int16_t>(scaled));
  return true;
}

// A text as a number: in the user's regional format first ("2,5" in Germany), then in the
// plain form ("2.5"). Spaces around the number are allowed, as in a typed-in cell.
bool ParseNumber(const QString& text, double& number) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return false;
  bool ok = false;
  number = QLocale::system().toDouble(trimmed, &ok);
  if (!ok) number = QLocale::c().toDouble(trimmed, &ok);
  return ok && std::isfinite(number);
}

// The number a cell of the given type stores for `value`, or the failure number.
ExcelFile::Status ToNumber(const CellValue& value, double& number) {
  switch (value.kind()) {
    case CellValue::Kind::kEmpty:
      number = 0;
      return ExcelFile::kOk;
    case CellValue::Kind::kNull:
      return ExcelFile::kInvalidNull;
    case CellValue::Kind::kNumber:
      number = value.number();
      return std::isfinite(number) ? ExcelFile::kOk : ExcelFile::kOverflow;
    case CellValue::Kind::kText:
      return ParseNumber(value.text(), number) ? ExcelFile::kOk : ExcelFile::kTypeMismatch;
  }
  return ExcelFile::kTypeMismatch;
}

// The text form of a value: a number as the user's regional settings write it (up to 15
// significant digits, no thousands separators), empty as the empty text.
ExcelFile::Status ToText(const CellValue& value, QString& text) {
  switch (value.kind()) {
    case CellValue::Kind::kEmpty:
      text.clear();
      return ExcelFile::kOk;
    case CellValue::Kind::kNull:
      return ExcelFile::kInvalidNull;
    case CellValue::Kind::kNumber: {
      QLocale locale = QLocale::system();
      locale.setNumberOptions(QLocale::OmitGroupSeparator);
      const double number = value.number() == 0 ? 0.0 : value.number();  // no "-0"
      text = locale.toString(number, 'G', 15);
      return ExcelFile::kOk;
    }
    case CellValue::Kind::kText:
      text = value.text();
      return ExcelFile::kOk;
  }
  return ExcelFile::kTypeMismatch;
}

// The bytes of one character in a code page: one, two in the double-byte code pages for the
// characters that take two there, or "?" when it has none.
struct Code {
  char bytes[2];
  uint8_t size;
};

Code CodeOf(char32_t character, int codePage) {
  // Conversions are slow next to a table lookup and contact sheets repeat the same few
  // accented letters: remember each answer.
  static thread_local std::unordered_map<uint64_t, Code> known;
  const uint64_t key = (static_cast<uint64_t>(codePage) << 32) | character;
  if (auto it = known.find(key); it != known.end()) return it->second;
  Code code{{'?', 0}, 1};
  if (character < 0xD800 || (character > 0xDFFF && character <= 0x10FFFF)) {
    const QByteArray bytes = ToAnsi(QString::fromUcs4(&character, 1), codePage);
    if (bytes.size() == 1 || (bytes.size() == 2 && IsDoubleByteCodePage(codePage))) {
      code.size = static_cast<uint8_t>(bytes.size());
      std::memcpy(code.bytes, bytes.constData(), code.size);
    }
  }
  known.emplace(key, code);
  return code;
}

}  // namespace

QString ExcelFile::StatusText(Status status) {
  switch (status) {
    case kOk:
      return QStringLiteral("no failure");
    case kOverflow:
      return QStringLiteral("a value does not fit its field");
    case kTypeMismatch:
      return QStringLiteral("a text is not a number");
    case kNoFile:
      return QStringLiteral("no file is open");
    case kDiskFull:
      return QStringLiteral("the disk is full");
    case kPermissionDenied:
      return QStringLiteral("the folder or the file may not be written");
    case kPathAccessError:
      return QStringLiteral("the path cannot be used as a file");
    case kPathNotFound:
      return QStringLiteral("a folder on the path does not exist");
    case kInvalidNull:
      return QStringLiteral("a cell was given a null value");
    default:
      return QStringLiteral("the device failed to write");
  }
}

ExcelFile::ExcelFile() : bofTemplate_{9, 4, 2, 10}, eofTemplate_{10, 0} {}

ExcelFile::~ExcelFile() {
  if (state_ == State::kOpen) ::close(fd_);
}

const std::vector<QString>& ExcelFile::DefaultFormats() {
  static const std::vector<QString> formats = {
      QStringLiteral("General"),
      QStringLiteral("0"),
      QStringLiteral("0.00"),
      QStringLiteral("#,##0"),
      QStringLiteral("#,##0.00"),
      QStringLiteral(R"(#,##0\ "$";\-#,##0\ "$")"),
      QStringLiteral(R"(#,##0\ "$";[Red]\-#,##0\ "$")"),
      QStringLiteral(R"(#,##0.00\ "$";\-#,##0.00\ "$")"),
      QStringLiteral(R"(#,##0.00\ "$";[Red]\-#,##0.00\ "$")"),
      QStringLiteral("0%"),
      QStringLiteral("0.00%"),
      QStringLiteral("0.00E+00"),
      QStringLiteral("dd/mm/yy"),
      QStringLiteral(R"(dd/\ mmm\ yy)"),
      QStringLiteral(R"(dd/\ mmm)"),
      QStringLiteral(R"(mmm\ yy)"),
      QStringLiteral(R"(h:mm\ AM/PM)"),
      QStringLiteral(R"(h:mm:ss\ AM/PM)"),
      QStringLiteral("hh:mm"),
      QStringLiteral("hh:mm:ss"),
      QStringLiteral(R"(dd/mm/yy\ hh:mm)"),
      QStringLiteral("##0.0E+0"),
      QStringLiteral("mm:ss"),
      QStringLiteral("@"),
  };
  return formats;
}

qsizetype ExcelFile::TextLength(const QString& text) {
  qsizetype length = text.size();
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text.at(i).isHighSurrogate() && text.at(i + 1).isLowSurrogate()) {
      --length;
      ++i;
    }
  }
  return length;
}

QByteArray ExcelFile::EncodeText(const QString& text) {
  return EncodeText(text, AnsiCodePage());
}

QByteArray ExcelFile::EncodeText(const QString& text, int codePage) {
  std::string bytes;
  AppendEncoded(bytes, text, codePage);
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void ExcelFile::AppendEncoded(std::string& out, QStringView text, int codePage) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text.at(i).unicode();
    if (unit < 0x80) {  // the same byte in every Windows code page
      out.push_back(static_cast<char>(unit));
      continue;
    }
    char32_t character = unit;
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
      character = QChar::surrogateToUcs4(unit, text.at(++i).unicode());
    const Code code = CodeOf(character, codePage);
    out.append(code.bytes, code.size);
  }
}

QByteArray ExcelFile::MKI(int16_t x) {
  return Fields().Word(static_cast<uint16_t>(x)).bytes();
}

QByteArray ExcelFile::Record(uint16_t number, const QByteArray& data) {
  QByteArray record = Fields().Word(number).Word(static_cast<uint16_t>(data.size())).bytes();
  record.append(data);
  return record;
}

ExcelFile::Status ExcelFile::Put(QByteArrayView record) {
  if (state_ != State::kOpen) return kNoFile;
  if (buffered_) {
    pending_.append(record.data(), static_cast<size_t>(record.size()));
    return pending_.size() >= kPendingBytes ? Flush() : kOk;
  }
  return Write(record);
}

ExcelFile::Status ExcelFile::Flush() {
  if (pending_.empty()) return kOk;
  const Status status =
      Write(QByteArrayView(pending_.data(), static_cast<qsizetype>(pending_.size())));
  pending_.clear();
  return status;
}

ExcelFile::Status ExcelFile::Write(QByteArrayView record) {
  const char* data = record.constData();
  qsizetype left = record.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, static_cast<size_t>(left));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      // Take back the part of the record that did go in, so the file ends after a whole record.
      if (left != record.size()) {
        if (::ftruncate(fd_, size_) == 0) ::lseek(fd_, size_, SEEK_SET);
      }
      return StatusForErrno(error);
    }
    data += written;
    left -= written;
  }
  size_ += record.size();
  return kOk;
}

ExcelFile::Status ExcelFile::CreateFile(QString FileName) {
  if (state_ == State::kOpen) CloseFile();

  // Replace an existing file; a folder is never removed, and a device (such as a tape or
  // /dev/null) is written in place.
  const QByteArray path = QFile::encodeName(FileName);
  struct stat info {};
  bool created = true;
  if (::lstat(path.constData(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return kPathAccessError;
    if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) {
      if (::unlink(path.constData()) != 0) return StatusForErrno(errno);
    } else {
      created = false;
    }
  } else if (errno != ENOENT) {
    return StatusForErrno(errno);
  }

  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return StatusForErrno(errno);
  fd_ = fd;
  state_ = State::kOpen;
  size_ = 0;
  pending_.clear();
  codePage_ = AnsiCodePage();

  Fields bof;
  for (uint16_t word : bofTemplate_) bof.Word(word);
  Status status = Put(bof.bytes());
  // Readers take a sheet without a CODEPAGE record for Windows-1252; in any other code page the
  // record says which, ahead of the first text, so that the cells read as they were written.
  if (status == kOk && codePage_ != 1252)
    status = Put(Record(kCodePage, Fields().Word(static_cast<uint16_t>(codePage_)).bytes()));
  if (status == kOk) status = WriteDefaultFormats();
  if (status != kOk) {
    // A file that could not even be started is of no use to anyone: take it away again.
    ::close(fd_);
    if (created) ::unlink(path.constData());
    state_ = State::kClosed;
    return status;
  }
  pageBreakRows_.clear();
  pageBreakCount_ = 0;
  return kOk;
}

ExcelFile::Status ExcelFile::WriteDefaultFormats() {
  Status status = Put(Record(kFormatCount, Fields().Word(23).bytes()));
  for (const QString& format : DefaultFormats()) {
    if (status != kOk) break;
    status = WriteTextRecord(kFormat, format);
  }
  return status;
}

ExcelFile::Status ExcelFile::CloseFile() {
  if (state_ == State::kNone) return kOk;
  if (state_ == State::kClosed) return kNoFile;

  if (pageBreakCount_ > 0) {
    if (pageBreakCount_ > kMaxPageBreaks) return kOverflow;
    // Exchange sort: out-of-order neighbours are swapped until none is left; equal rows stay.
    for (size_t end = pageBreakRows_.size(); end > 1; --end) {
      bool swapped = false;
      for (size_t i = 0; i + 1 < end; ++i) {
        if (pageBreakRows_[i] > pageBreakRows_[i + 1]) {
          std::swap(pageBreakRows_[i], pageBreakRows_[i + 1]);
          swapped = true;
        }
      }
      if (!swapped) break;
    }
    QByteArray data = MKI(pageBreakCount_);
    for (uint16_t row : pageBreakRows_) data.append(MKI(static_cast<int16_t>(row)));
    if (Status status = Put(Record(kHorizontalPageBreaks, data)); status != kOk) return status;
  }

  Fields eof;
  for (uint16_t word : eofTemplate_) eof.Word(word);
  if (Status status = Put(eof.bytes()); status != kOk) return status;
  if (Status status = Flush(); status != kOk) return status;

  const int fd = fd_;
  state_ = State::kClosed;
  if (::close(fd) != 0) return StatusForErrno(errno);
  return kOk;
}

ExcelFile::Status ExcelFile::InsertHorizPageBreak(int32_t lrow) {
  uint16_t row = 0;
  if (!ZeroBased(lrow, row) || pageBreakCount_ == INT16_MAX) return kOverflow;
  ++pageBreakCount_;
  pageBreakRows_.push_back(row);
  return kOk;
}

ExcelFile::Status ExcelFile::WriteValue(int32_t ValueType, int32_t CellFontUsed, int32_t Alignment,
                                        int32_t HiddenLocked, int32_t lrow, int32_t lcol,
                                        const CellValue& value, int32_t CellFormat) {
  uint16_t row = 0;
  uint16_t column = 0;
  if (!ZeroBased(lrow, row) || !ZeroBased(lcol, column)) return kOverflow;

  const int64_t formatAndFont = static_cast<int64_t>(CellFormat) + CellFontUsed;
  const auto attributesFit = [&] {
    return IsByte(HiddenLocked) && formatAndFont >= 0 && formatAndFont <= 255 && IsByte(Alignment);
  };
  const auto head = [&] {
    return Fields()
        .Word(row)
        .Word(column)
        .Byte(static_cast<uint8_t>(HiddenLocked))
        .Byte(static_cast<uint8_t>(formatAndFont))
        .Byte(static_cast<uint8_t>(Alignment));
  };

  switch (ValueType) {
    case kIntegerCell: {
      if (!attributesFit()) return kOverflow;
      double number = 0;
      if (Status status = ToNumber(value, number); status != kOk) return status;
      // Halves go to the even neighbour: the rounding mode in force is round-to-nearest-even.
      const double rounded = std::nearbyint(number);
      if (rounded < -32768 || rounded > 32767) return kOverflow;
      const auto integer = static_cast<int16_t>(rounded);
      return Put(Record(kInteger, head().Word(static_cast<uint16_t>(integer)).bytes()));
    }
    case kNumberCell: {
      if (!attributesFit()) return kOverflow;
      double number = 0;
      if (Status status = ToNumber(value, number); status != kOk) return status;
      return Put(Record(kNumber, head().Double(number).bytes()));
    }
    case kTextCell: {
      QString text;
      if (Status status = ToText(value, text); status != kOk) return status;
      if (TextLength(text) > 255) return kOverflow;
      if (!attributesFit()) return kOverflow;
      // The most frequent record by far: built in a buffer kept from cell to cell.
      std::string& r = record_;
      r.assign(4, '\0');
      const auto word = [&r](uint16_t w) {
        r.push_back(static_cast<char>(w & 0xFF));
        r.push_back(static_cast<char>(w >> 8));
      };
      word(row);
      word(column);
      r.push_back(static_cast<char>(HiddenLocked));
      r.push_back(static_cast<char>(formatAndFont));
      r.push_back(static_cast<char>(Alignment));
      r.push_back('\0');
      AppendEncoded(r, text, codePage_);
      // The length counts the bytes of the text: one a character but in the double-byte code
      // pages, where no more than 255 bytes fit.
      const size_t length = r.size() - 12;
      if (length > 255) return kOverflow;
      r[11] = static_cast<char>(length);
      const size_t data = r.size() - 4;
      r[0] = static_cast<char>(kLabel & 0xFF);
      r[1] = static_cast<char>(kLabel >> 8);
      r[2] = static_cast<char>(data & 0xFF);
      r[3] = static_cast<char>((data >> 8) & 0xFF);
      return Put(QByteArrayView(r.data(), static_cast<qsizetype>(r.size())));
    }
    default:
      return kOk;
  }
}

ExcelFile::Status ExcelFile::WriteTextRecord(uint16_t number, const QString& text) {
  if (TextLength(text) > 255) return kOverflow;
  const QByteArray bytes = Encode(text);
  if (bytes.size() > 255) return kOverflow;
  return Put(
      Record(number, Fields().Byte(static_cast<uint8_t>(bytes.size())).Bytes(bytes).bytes()));
}

ExcelFile::Status ExcelFile::SetMargin(int32_t Margin, double MarginValue) {
  if (Margin < -32768 || Margin > 32767) return kOverflow;
  return Put(Record(static_cast<uint16_t>(static_cast<int16_t>(Margin)),
                    Fields().Double(MarginValue).bytes()));
}

ExcelFile::Status ExcelFile::SetColumnWidth(int32_t FirstColumn, int32_t LastColumn,
                                            int32_t WidthValue) {
  uint16_t width = 0;
  if (FirstColumn < 1 || FirstColumn > 255 || LastColumn < 1 || LastColumn > 255 ||
      !ScaledWord(WidthValue, 256, width))
    return kOverflow;
  return Put(Record(kColWidth, Fields()
                                   .Byte(static_cast<uint8_t>(FirstColumn - 1))
                                   .Byte(static_cast<uint8_t>(LastColumn - 1))
                                   .Word(width)
                                   .bytes()));
}

ExcelFile::Status ExcelFile::SetFont(const QString& FontName, int32_t FontHeight,
                                     int32_t FontFormat) {
  uint16_t height = 0;
  const QByteArray name = Encode(FontName);
  if (!ScaledWord(FontHeight, 20, height) || !IsByte(FontFormat) || TextLength(FontName) > 255 ||
      name.size() > 255)
    return kOverflow;
  return Put(Record(kFont, Fields()
                               .Word(height)
                               .Byte(static_cast<uint8_t>(FontFormat))
                               .Byte(0)
                               .Byte(static_cast<uint8_t>(name.size()))
                               .Bytes(name)
                               .bytes()));
}

ExcelFile::Status ExcelFile::SetHeader(const QString& HeaderText) {
  return WriteTextRecord(kHeader, HeaderText);
}

ExcelFile::Status ExcelFile::SetFooter(const QString& FooterText) {
  return WriteTextRecord(kFooter, FooterText);
}

ExcelFile::Status ExcelFile::SetFilePassword(const QString& PasswordText) {
  if (TextLength(PasswordText) > 32767) return kOverflow;
  return Put(Record(kFilePass, Encode(PasswordText)));
}

void ExcelFile::PrintGridLines(bool newvalue) {
  Put(Record(kPrintGridLines, Fields().Word(newvalue ? 1 : 0).bytes()));
}

void ExcelFile::ProtectSpreadsheet(bool newvalue) {
  Put(Record(kProtect, Fields().Word(newvalue ? 1 : 0).bytes()));
}

ExcelFile::Status ExcelFile::SetDefaultRowHeight(int32_t HeightValue) {
  uint16_t height = 0;
  if (!ScaledWord(HeightValue, 20, height)) return kOverflow;
  return Put(Record(kDefaultRowHeight, Fields().Word(height).bytes()));
}

ExcelFile::Status ExcelFile::SetRowHeight(int32_t lrow, int32_t HeightValue) {
  uint16_t row = 0;
  uint16_t height = 0;
  if (!ZeroBased(lrow, row) || !ScaledWord(HeightValue, 20, height)) return kOverflow;
  return Put(Record(kRow, Fields()
                              .Word(row)
                              .Word(0)
                              .Word(256)
                              .Word(height)
                              .Word(0)
                              .Byte(0)
                              .Word(0)
                              .Byte(0)
                              .Byte(0)
                              .Byte(0)
                              .bytes()));
}

}  // namespace lumivex
