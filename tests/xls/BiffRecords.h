// Reads a BIFF worksheet back into its records, for tests that check what ExcelFile wrote.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "tests/support/TestPaths.h"

#include <cstdint>
#include <vector>

namespace lumivex::testing {

struct BiffRecord {
  uint16_t number = 0;
  QByteArray data;

  uint16_t Word(int offset) const {
    return static_cast<uint16_t>(static_cast<uint8_t>(data.at(offset)) |
                                 static_cast<uint8_t>(data.at(offset + 1)) << 8);
  }
  uint8_t Byte(int offset) const { return static_cast<uint8_t>(data.at(offset)); }
};

// A LABEL record's cell: 0-based row and column, the three attribute bytes and the text bytes.
struct BiffLabel {
  int row = 0;
  int column = 0;
  uint8_t attributes[3] = {0, 0, 0};
  QByteArray text;
};

// The records of `bytes` in file order. `complete` is false when the last record runs past the
// end of the bytes (its head without all of its data).
inline std::vector<BiffRecord> ParseRecords(const QByteArray& bytes, bool* complete = nullptr) {
  std::vector<BiffRecord> records;
  qsizetype at = 0;
  bool whole = true;
  while (at < bytes.size()) {
    if (at + 4 > bytes.size()) {
      whole = false;
      break;
    }
    BiffRecord head;
    head.data = bytes.mid(at, 4);
    const uint16_t length = head.Word(2);
    if (at + 4 + length > bytes.size()) {
      whole = false;
      break;
    }
    records.push_back({head.Word(0), bytes.mid(at + 4, length)});
    at += 4 + length;
  }
  if (complete != nullptr) *complete = whole;
  return records;
}

inline BiffLabel ParseLabel(const BiffRecord& record) {
  BiffLabel label;
  label.row = record.Word(0);
  label.column = record.Word(2);
  for (int i = 0; i < 3; ++i) label.attributes[i] = record.Byte(4 + i);
  label.text = record.data.mid(8, record.Byte(7));
  return label;
}

}  // namespace lumivex::testing
