// Writes the template "xwab.def", an empty address book, at build time: the component itself
// writes it, so the template is always a book that the component can open.
#include "wab/AddressBook.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: lumivex-wabdef PATH\nwrites an empty address book to PATH\n", stderr);
    return 2;
  }
  try {
    lumivex::wab::AddressBook::WriteEmpty(argv[1]);
    lumivex::wab::ReadBook(argv[1]);  // and it must read back
  } catch (const lumivex::wab::WabError& error) {
    std::fprintf(stderr, "lumivex-wabdef: %s\n", error.what());
    return 1;
  }
  return 0;
}
