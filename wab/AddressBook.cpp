#include "wab/AddressBook.h"

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
  // The records go to a file beside the target, where the finished book will be written too;
  // a folder that takes no second file still gets a temporary one.
  spoolPath_ = path + ".records";
  spool_ = std::fopen(spoolPath_.c_str(), "w+b");
  if (!spool_) {
    spoolPath_.clear();
    spool_ = std::tmpfile();
  }
  if (!spool_)
    throw WabError(path + ": no room can be made for the address book's records (" + Reason() +
                   ")");
  spoolSize_ = 0;
  places_.clear();
  spoolFailure_.clear();
  for (const Record& record : book.records) Spool(record);
  book.records.clear();
  book.records.shrink_to_fit();
  book_ = std::move(book);
  changed_ = false;
}

void AddressBook::Spool(const Record& record) {
  scratch_.clear();
  const uint64_t at = AppendRecord(scratch_, spoolSize_, record);
  places_.push_back({record.id, at});
  spoolSize_ += scratch_.size();
  if (spoolFailure_.empty() &&
      std::fwrite(scratch_.data(), 1, scratch_.size(), spool_) != scratch_.size())
    spoolFailure_ = Reason();
}

void AddressBook::DropSpool() {
  if (spool_) std::fclose(spool_);
  spool_ = nullptr;
  if (!spoolPath_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(spoolPath_, ignored);
  }
  spoolPath_.clear();
  places_.clear();
  places_.shrink_to_fit();
}

bool AddressBook::WriteBook(const std::string& path, const std::vector<uint8_t>& head,
                            std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = Reason();
    return false;
  }
  bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
  if (ok && std::fseek(spool_, 0, SEEK_SET) != 0) ok = false;
  std::vector<char> buffer(1 << 20);
  while (ok) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), spool_);
    if (n == 0) {
      ok = !std::ferror(spool_);
      break;
    }
    ok = std::fwrite(buffer.data(), 1, n, file) == n;
  }
  return Finish(file, ok, why);
}

int32_t AddressBook::createnew(const std::string& displayName, const std::string& email) {
  if (!book_) throw WabError("createnew: no address book is open (call Open first)");
  const uint32_t id =
      AddContact(*book_, Utf8ToUtf16(displayName), Utf8ToUtf16(email), FileTimeNow());
  Spool(book_->records.back());
  book_->records.pop_back();
  changed_ = true;
  return int32_t(id);
}

void AddressBook::Close() {
  if (!book_) return;
  Book book = std::move(*book_);
  book_.reset();
  const bool changed = changed_;
  changed_ = false;
  struct SpoolGone {
    AddressBook& book;
    ~SpoolGone() { book.DropSpool(); }
  } spoolGone{*this};
  if (!changed) return;
  std::string why = spoolFailure_;
  if (!why.empty() || std::fflush(spool_) != 0) {
    if (why.empty()) why = Reason();
    throw WabError(path_ + ": the address book could not be written (" + why +
                   "); free some disk space or choose another folder, then try again");
  }

  const std::vector<uint8_t> head = SerializeHead(book, places_, spoolSize_);
  // A new file beside the target replaces it in one step; where no new file can be made in that
  // folder, the target is written in place.
  const std::string temporary = path_ + ".part";
  if (WriteBook(temporary, head, why)) {
    std::error_code error;
    std::filesystem::rename(temporary, path_, error);
    if (!error) return;
    std::filesystem::remove(temporary, error);
  } else {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  if (!WriteBook(path_, head, why))
    throw WabError(path_ + ": the address book could not be written (" + why +
                   "); free some disk space or choose another folder, then try again");
}

void AddressBook::WriteEmpty(const std::string& path) {
  std::string why;
  if (!WriteFile(path, Serialize(EmptyBook()), why))
    throw WabError(path + ": cannot write the empty address book (" + why + ")");
}

}  // namespace lumivex::wab
