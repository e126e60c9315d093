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

// Writes `bytes` to `path` in full and flushes it to disk.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = Reason();
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
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
  book_ = std::move(book);
  changed_ = false;
}

int32_t AddressBook::createnew(const std::string& displayName, const std::string& email) {
  if (!book_) throw WabError("createnew: no address book is open (call Open first)");
  const uint32_t id =
      AddContact(*book_, Utf8ToUtf16(displayName), Utf8ToUtf16(email), FileTimeNow());
  changed_ = true;
  return int32_t(id);
}

void AddressBook::Close() {
  if (!book_) return;
  Book book = std::move(*book_);
  book_.reset();
  const bool changed = changed_;
  changed_ = false;
  if (!changed) return;

  const std::vector<uint8_t> bytes = Serialize(book);
  // A new file beside the target replaces it in one step; where no new file can be made in that
  // folder, the target is written in place.
  const std::string temporary = path_ + ".part";
  std::string why;
  if (WriteFile(temporary, bytes, why)) {
    std::error_code error;
    std::filesystem::rename(temporary, path_, error);
    if (!error) return;
    std::filesystem::remove(temporary, error);
  } else {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  if (!WriteFile(path_, bytes, why))
    throw WabError(path_ + ": the address book could not be written (" + why +
                   "); free some disk space or choose another folder, then try again");
}

void AddressBook::WriteEmpty(const std::string& path) {
  std::string why;
  if (!WriteFile(path, Serialize(EmptyBook()), why))
    throw WabError(path + ": cannot write the empty address book (" + why + ")");
}

}  // namespace lumivex::wab
