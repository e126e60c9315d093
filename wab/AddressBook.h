// The address-book component: it stands where Windows had the automation component "Vennor.wab".
// The tool copies the template "xwab.def" to the target path, creates one AddressBook, calls
// Open with that path, createnew once per contact, and releases it; releasing it leaves the file
// complete and closed.
//
// Strings are UTF-8 (std::string); the file holds them as UTF-16LE.
//
// Between Open and Close the book's records go one after another to a file beside the target
// ("NAME.records", else a temporary file), and the entries of its tables to another
// ("NAME.tables"), so that a book of any size takes the same few hundred kilobytes of memory.
// Close writes the header, the tables and the records to a new file beside the target that
// then replaces it: tables grow as needed, and a failure or a crash midway leaves the file that
// was there (the template copy) untouched rather than half-written.
#pragma once

#include "wab/WabFile.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
  // A file beside the target that parts of the book go to, one after another, until Close.
  struct Spool {
    std::FILE* file = nullptr;
    std::string path;  // empty for a temporary file, which goes when it is closed
    uint64_t size = 0;
    // Opens `path` anew, else a temporary file. False when neither can be made.
    bool Open(const std::string& path);
    // Appends `bytes`; false when they cannot be written.
    bool Append(const std::vector<uint8_t>& bytes);
    // Closes and removes the file.
    void Drop();
  };
  // Entries of one table: whole chunks in the tables' file, the last one still in memory.
  struct Table {
    std::vector<std::pair<uint64_t, uint32_t>> chunks;  // where each lies in the file, its size
    std::vector<uint8_t> pending;
    uint32_t count = 0;
  };

  // Appends `record` to the records' file and its index entry to the index.
  void AddRecord(const Record& record);
  // Appends the entry in scratch_ to `table`; a chunk that fills goes to the tables' file. A
  // failure to write is kept for Close to report.
  void AddEntry(int table);
  // Moves the text-table entries of the book in memory to the tables.
  void AddTextEntries(Book& book);
  // Writes the whole book (header, tables, records) to `path`.
  bool WriteBook(const std::string& path, const Book& book, const BookLayout& where,
                 std::string& why);
  // Closes and removes the spools.
  void DropSpools();

  std::string path_;
  std::optional<Book> book_;
  bool changed_ = false;
  Spool records_;  // the records so far
  Spool tables_;   // the tables' entries so far, in chunks
  std::array<Table, layout::kTableCount> tablesIn_;
  std::vector<uint8_t> scratch_;  // one record's or entry's bytes
  std::string spoolFailure_;      // why a record or entry could not be written to its file
};

}  // namespace lumivex::wab
