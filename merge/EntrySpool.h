// Entries kept on disk between the two passes of a merge: each contact written as it is read,
// taken back by its number. The file is a temporary one, removed when the spool goes.
#pragma once

#include "contact/Contact.h"

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdint>
#include <vector>

namespace lumivex::merge {

class EntrySpool {
 public:
  EntrySpool();
  // Keeps `contact` as the next entry (numbered from 0). Throws StoreError when the disk is full.
  void Add(const contact::Contact& contact);
  // Ends the adding; Take may be called from now on.
  void Finish();
  // Entry `index` into `out`. Throws StoreError when it cannot be read back.
  void Take(uint32_t index, contact::Contact& out);

 private:
  void Flush();
  QTemporaryFile file_;
  QByteArray buffer_;             // entries not yet written, or a window of the file being read
  int64_t buffer_at_ = 0;         // where in the file the read window starts
  std::vector<int64_t> offsets_;  // where each entry starts; one more at the end
  int64_t written_ = 0;
};

// The bytes of `contact` and back; for the spool.
void Encode(const contact::Contact& contact, QByteArray& out);
bool Decode(const char* data, qsizetype size, contact::Contact& out);

}  // namespace lumivex::merge
