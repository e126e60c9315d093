#include "wab/AddressBook.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace lumivex::wab {

namespace {

std::string Reason() {
  return std::strerror(errno);
}

// Ends a file written so far with `ok`: flushes and closes it, and says why it is not whole.
bool Finish(std::FILE* file, bool ok, std::string& why) {
  if (!ok) why = Reason();
  if (std::fflush(file) != 0 && ok) {
    ok = false;
    why = Reason();
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    why = Reason();
  }
  return ok;
}

// Writes `bytes` to `path` in full and flushes it to disk.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = Reason();
    return false;
  }
  return Finish(file, std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), why);
}

}  // namespace

AddressBook::~AddressBook() {
  try {
    Close();
  } catch (const WabError&) {
    // Released without Close: the file keeps what it held at Open.
  }
}

namespace {

// Table entries go to the tables' file in chunks of this many bytes.
constexpr size_t kChunkBytes = 64 * 1024;

}  // namespace

bool AddressBook::Spool::Open(const std::string& where) {
  path = where;
  file = std::fopen(path.c_str(), "w+b");
  if (!file) {
    path.clear();
    file = std::tmpfile();
  }
  size = 0;
  return file != nullptr;
}

bool AddressBook::Spool::Append(const std::vector<uint8_t>& bytes) {
  size += bytes.size();
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

void AddressBook::Spool::Drop() {
  if (file) std::fclose(file);
  file = nullptr;
  if (!path.empty()) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  path.clear();
}

void AddressBook::Open(const std::string& path) {
  if (book_) Close();
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw WabError(path + ": is a folder, not an address-book file");
  Book book = ReadBook(path);
  if (!book.unicode)
    throw WabError(path +
                   ": is an older ANSI address book; contacts can be added only to a "
                   "Unicode address book (start from the template xwab.def)");
  // Fail now rather than at Close when the file cannot be written.
  std::FILE* probe = std::fopen(path.c_str(), "r+b");
  if (!probe) throw WabError(path + ": the address book cannot be written (" + Reason() + ")");
  std::fclose(probe);
  path_ = path;
  // The records and table entries go to files beside the target, where the finished book will
  // be written too; a folder that takes no more files still gets temporary ones.
  if (!records_.Open(path + ".records") || !tables_.Open(path + ".tables")) {
    const std::string why = Reason();
    DropSpools();
    throw WabError(path + ": no room can be made for the address book's records (" + why + ")");
  }
  tablesIn_ = {};
  spoolFailure_.clear();
  for (const Record& record : book.records) AddRecord(record);
  book.records.clear();
  book.records.shrink_to_fit();
  AddTextEntries(book);
  book_ = std::move(book);
  changed_ = false;
}

void AddressBook::AddRecord(const Record& record) {
  scratch_.clear();
  const uint64_t at = AppendRecord(scratch_, records_.size, record);
  if (!records_.Append(scratch_) && spoolFailure_.empty()) spoolFailure_ = Reason();
  // The offset among the records: Close adds where the records begin. A book whose records
  // pass 4 GiB is refused there.
  scratch_.clear();
  AppendIndexEntry(scratch_, record.id, uint32_t(at));
  AddEntry(layout::kIndexTable);
}

void AddressBook::AddEntry(int table) {
  Table& in = tablesIn_[size_t(table)];
  in.pending.insert(in.pending.end(), scratch_.begin(), scratch_.end());
  ++in.count;
  if (in.pending.size() < kChunkBytes) return;
  in.chunks.emplace_back(tables_.size, uint32_t(in.pending.size()));
  if (!tables_.Append(in.pending) && spoolFailure_.empty()) spoolFailure_ = Reason();
  in.pending.clear();
}

void AddressBook::AddTextEntries(Book& book) {
  for (int t = layout::kDisplayNameTable; t <= layout::kEmailTable; ++t) {
    for (const TextEntry& entry : book.text[size_t(t)]) {
      scratch_.clear();
      AppendTextEntry(scratch_, entry.text, entry.id);
      AddEntry(t);
    }
    book.text[size_t(t)].clear();
  }
}

void AddressBook::DropSpools() {
  records_.Drop();
  tables_.Drop();
  tablesIn_ = {};
}

bool AddressBook::WriteBook(const std::string& path, const Book& book, const BookLayout& where,
                            std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = Reason();
    return false;
  }
  std::vector<uint8_t> buffer = SerializeHeader(book, where);
  bool ok = std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
  uint64_t written = buffer.size();
  auto put = [&](const uint8_t* data, size_t size) {
    ok = ok && std::fwrite(data, 1, size, file) == size;
    written += size;
  };
  // Zeros up to `end`: the rest of a table's room, the padding before the records.
  auto zerosTo = [&](uint64_t end) {
    if (written >= end) return;
    buffer.assign(std::min<uint64_t>(end - written, kChunkBytes), 0);
    while (ok && written < end) put(buffer.data(), std::min<uint64_t>(end - written, kChunkBytes));
  };
  // `size` bytes of `spool` from `at`, in pieces through the buffer; `piece` sees each.
  auto copy = [&](const Spool& spool, uint64_t at, uint64_t size, auto piece) {
    ok = ok && std::fseek(spool.file, long(at), SEEK_SET) == 0;
    while (ok && size > 0) {
      buffer.resize(std::min<uint64_t>(size, 1 << 20));
      ok = std::fread(buffer.data(), 1, buffer.size(), spool.file) == buffer.size();
      if (!ok) break;
      piece(buffer);
      put(buffer.data(), buffer.size());
      size -= buffer.size();
    }
  };
  for (int t = 0; t < layout::kTableCount; ++t) {
    const TableInfo& info = where.tables[size_t(t)];
    if (t == layout::kUnknownTable) {
      put(book.unknownTableEntries.data(), book.unknownTableEntries.size());
    } else {
      // Index entries hold their record's offset among the records: where they begin is added.
      auto place = [&](std::vector<uint8_t>& bytes) {
        if (t != layout::kIndexTable) return;
        for (size_t at = 4; at + 4 <= bytes.size(); at += layout::kIndexEntrySize) {
          uint32_t offset = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 |
                            uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24;
          offset += uint32_t(where.recordsAt);
          for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(offset >> (8 * i));
        }
      };
      const Table& in = tablesIn_[size_t(t)];
      for (const auto& [at, size] : in.chunks) copy(tables_, at, size, place);
      std::vector<uint8_t> last = in.pending;
      place(last);
      put(last.data(), last.size());
    }
    zerosTo(info.offset + uint64_t(info.capacity) * TableEntrySize(info.type));
  }
  zerosTo(where.recordsAt);
  copy(records_, 0, records_.size, [](std::vector<uint8_t>&) {});
  return Finish(file, ok, why);
}

int32_t AddressBook::createnew(const std::string& displayName, const std::string& email) {
  if (!book_) throw WabError("createnew: no address book is open (call Open first)");
  const uint32_t id =
      AddContact(*book_, Utf8ToUtf16(displayName), Utf8ToUtf16(email), FileTimeNow());
  AddRecord(book_->records.back());
  book_->records.pop_back();
  AddTextEntries(*book_);
  changed_ = true;
  return int32_t(id);
}

void AddressBook::Close() {
  if (!book_) return;
  Book book = std::move(*book_);
  book_.reset();
  const bool changed = changed_;
  changed_ = false;
  struct SpoolsGone {
    AddressBook& book;
    ~SpoolsGone() { book.DropSpools(); }
  } spoolsGone{*this};
  if (!changed) return;
  std::string why = spoolFailure_;
  if (!why.empty() || std::fflush(records_.file) != 0 || std::fflush(tables_.file) != 0) {
    if (why.empty()) why = Reason();
    throw WabError(path_ + ": the address book could not be written (" + why +
                   "); free some disk space or choose another folder, then try again");
  }

  std::array<uint32_t, layout::kTableCount> counts{};
  for (int t = 0; t < layout::kTableCount; ++t) counts[size_t(t)] = tablesIn_[size_t(t)].count;
  const BookLayout where = LayOut(book, counts, records_.size);
  // A new file beside the target replaces it in one step; where no new file can be made in that
  // folder, the target is written in place.
  const std::string temporary = path_ + ".part";
  if (WriteBook(temporary, book, where, why)) {
    std::error_code error;
    std::filesystem::rename(temporary, path_, error);
    if (!error) return;
    std::filesystem::remove(temporary, error);
  } else {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  if (!WriteBook(path_, book, where, why))
    throw WabError(path_ + ": the address book could not be written (" + why +
                   "); free some disk space or choose another folder, then try again");
}

void AddressBook::WriteEmpty(const std::string& path) {
  std::string why;
  if (!WriteFile(path, Serialize(EmptyBook()), why))
    throw WabError(path + ": cannot write the empty address book (" + why + ")");
}

}  // namespace lumivex::wab
