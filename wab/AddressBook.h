// The address-book component: it stands where Windows had the automation component "Vennor.wab".
// The tool copies the template "xwab.def" to the target path, creates one AddressBook, calls
// Open with that path, createnew once per contact, and releases it; releasing it leaves the file
// complete and closed.
//
// Strings are UTF-8 (std::string); the file holds them as UTF-16LE.
//
// Between Open and Close the book's records go one after another to a file beside the target
// ("NAME.records", else a temporary file) and only its tables stay in memory, so a book of
// 100,000 contacts takes a few megabytes. Close writes the header and the tables, then the
// records behind them, to a new file beside the target that then replaces it: tables grow as
// needed, and a failure or a crash midway leaves the file that was there (the template copy)
// untouched rather than half-written.
#pragma once

#include "wab/WabFile.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace lumivex::wab {

class AddressBook {
 public:
  AddressBook() = default;
  AddressBook(const AddressBook&) = delete;
  AddressBook& operator=(const AddressBook&) = delete;
  // Release: closes the book as Close does. A failure here cannot be reported; call Close first
  // to have it.
  ~AddressBook();

  // Binds to the address book at `path`, which must exist, be a Unicode address book and be
  // writable. Throws WabError saying which of these fails.
  void Open(const std::string& path);

  // Adds one contact with a display name and an e-mail address (either may be empty) and returns
  // its record id. The given name and surname are not derived from the display name: a display
  // name is not reliably "first last" (companies, titles, "Last, First"), and a wrong split is
  // worse than none. Throws WabError when no book is open or the book is full.
  int32_t createnew(const std::string& displayName, const std::string& email);

  // Writes the book and unbinds. Nothing is written when no contact was added. Throws WabError
  // when the file cannot be written; the file then keeps what it held at Open.
  void Close();

  bool IsOpen() const { return book_.has_value(); }
  const std::string& Path() const { return path_; }

  // Writes an empty Unicode address book to `path`: the template "xwab.def".
  static void WriteEmpty(const std::string& path);

 private:
  // Appends `record` to the records' file; a failure is kept for Close to report.
  void Spool(const Record& record);
  // Writes the whole book (header and tables, then the records) to `path`.
  bool WriteBook(const std::string& path, const std::vector<uint8_t>& head, std::string& why);
  // Closes and removes the records' file.
  void DropSpool();

  std::string path_;
  std::optional<Book> book_;
  bool changed_ = false;
  std::FILE* spool_ = nullptr;  // the records so far
  std::string spoolPath_;       // empty for a temporary file, which goes when it is closed
  uint64_t spoolSize_ = 0;
  std::vector<RecordPlace> places_;  // where each record lies in the spool, in index order
  std::vector<uint8_t> scratch_;     // one record's bytes
  std::string spoolFailure_;         // why a record could not be written to the spool
};

}  // namespace lumivex::wab
