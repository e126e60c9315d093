// Fuzz target of the address-book reader: any bytes are parsed as a .wab file (as
// `lumivex-cli wabdump` reads one); a book that parses has its contacts and every text
// property read, one contact added, and is written out again, and what is written must parse
// again with the same records. A damaged book may fail only with a WabError.
#include "wab/WabFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumivex::wab;
  Book book;
  try {
    book = ParseBook(std::vector<uint8_t>(data, data + size), "fuzz.wab");
  } catch (const WabError&) {
    return 0;
  }
  LiveContacts(book);
  for (const Record& record : book.records)
    for (const Property& property : record.properties) record.Text(property.tag);

  try {
    AddContact(book, u"Fuzz \xD800 Name", u"fuzz@example.com", 0);
  } catch (const WabError&) {
    return 0;  // a book with no record ids left
  }
  std::vector<uint8_t> written;
  try {
    written = Serialize(book);
  } catch (const WabError&) {
    return 0;  // a book that would grow past what its offsets reach
  }
  try {
    const Book again = ParseBook(written, "written.wab");
    if (again.records.size() != book.records.size()) {
      std::fprintf(stderr, "a written book reads back with %zu records instead of %zu\n",
                   again.records.size(), book.records.size());
      std::abort();
    }
  } catch (const WabError& error) {
    std::fprintf(stderr, "a book written by the component does not read back: %s\n", error.what());
    std::abort();
  }
  return 0;
}
