// Fuzz target of the worksheet writer's text paths: text cells, number cells given text, the
// header, the footer, font names and the file password, with texts of arbitrary UTF-16 units
// (lone surrogates included) or arbitrary bytes read as UTF-8, in the code page of one of the
// locales the writer knows. The file written must be whole: records that follow each other to
// its end, the end record last, and in every record that counts its characters a count that
// matches the bytes after it.
#include "common/CodePage.h"
#include "fuzz/FuzzInput.h"
#include "xls/ExcelFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace {

[[noreturn]] void Broken(const char* what, qsizetype at) {
  std::fprintf(stderr, "the worksheet is broken at byte %lld: %s\n", static_cast<long long>(at),
               what);
  std::abort();
}

QString Text(FuzzedDataProvider& in) {
  return lumivex::fuzz::ArbitraryText(in, 300);
}

uint16_t Word(const QByteArray& f, qsizetype at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(f[at]) |
                               (static_cast<uint8_t>(f[at + 1]) << 8));
}

// Walks the records of the file written and checks each character count.
void Check(const QByteArray& f) {
  qsizetype at = 0;
  uint16_t last = 0;
  while (at < f.size()) {
    if (at + 4 > f.size()) Broken("a record head runs past the end", at);
    const uint16_t number = Word(f, at);
    const uint16_t length = Word(f, at + 2);
    if (at + 4 + length > f.size()) Broken("a record runs past the end", at);
    const qsizetype data = at + 4;
    qsizetype count = -1;  // where the record's character count is, for those that have one
    switch (number) {
      case 0x0004:  // LABEL: row, column, three attribute bytes, count, characters
        count = data + 7;
        break;
      case 0x0014:  // HEADER
      case 0x0015:  // FOOTER
      case 0x001E:  // FORMAT
        count = data;
        break;
      case 0x0031:  // FONT: height, attributes, reserved, count, characters
        count = data + 4;
        break;
      default:
        break;
    }
    if (count >= 0) {
      if (count >= data + length) Broken("a text record has no character count", at);
      if (static_cast<uint8_t>(f[count]) != data + length - count - 1)
        Broken("a character count differs from the bytes that follow it", at);
    }
    last = number;
    at = data + length;
  }
  if (last != 0x000A) Broken("the last record is not the end record", at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lumivex::ExcelFile;
  static const QString path =
      QDir::tempPath() + QStringLiteral("/lumivex-fuzz-%1.xls").arg(::getpid());
  FuzzedDataProvider in(data, size);
  static constexpr int kCodePages[] = {1252, 1250, 1251, 1253, 1254, 1255, 1256,
                                       1257, 1258, 874,  932,  936,  949,  950};
  lumivex::SetAnsiCodePage(in.PickValueInArray(kCodePages));

  ExcelFile xls;
  if (xls.CreateFile(path) != ExcelFile::kOk) std::abort();
  int row = 1;
  while (in.remaining_bytes() > 0) {
    const int what = in.ConsumeIntegralInRange(0, 6);
    const QString text = Text(in);
    switch (what) {
      case 0:
        xls.WriteValue(ExcelFile::kTextCell, in.ConsumeIntegralInRange(0, 3) * 64,
                       in.ConsumeIntegralInRange(0, 4), 0, row++,
                       1 + in.ConsumeIntegralInRange(0, 5), text);
        break;
      case 1:
        xls.WriteValue(in.ConsumeBool() ? ExcelFile::kNumberCell : ExcelFile::kIntegerCell, 0, 0, 0,
                       row++, 1, text);
        break;
      case 2:
        xls.SetHeader(text);
        break;
      case 3:
        xls.SetFooter(text);
        break;
      case 4:
        xls.SetFont(text, in.ConsumeIntegralInRange(1, 72), in.ConsumeIntegralInRange(0, 15));
        break;
      case 5:
        xls.SetFilePassword(text);
        break;
      default:
        if (!lumivex::IsDoubleByteCodePage(lumivex::AnsiCodePage()) &&
            ExcelFile::EncodeText(text).size() != ExcelFile::TextLength(text))
          Broken("a text's bytes differ from its length in characters", 0);
        break;
    }
  }
  if (xls.CloseFile() != ExcelFile::kOk) std::abort();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) std::abort();
  Check(file.readAll());
  return 0;
}
