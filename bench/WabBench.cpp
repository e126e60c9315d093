// How fast the address-book component fills a book: for 1,000 to 100,000 contacts, the time
// from Open to the end of Close, the file's size, and the time to read it back.
//
//   lumivex-wab-bench [FOLDER]      (default: the system's temporary folder)
#include "wab/AddressBook.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::puts(
        "Usage: lumivex-wab-bench [FOLDER]\n"
        "Fills address books of 1,000 to 100,000 contacts in FOLDER (default: the system's\n"
        "temporary folder) and prints the time to write each, its size and the time to read it.");
    return 0;
  }
  const std::filesystem::path dir =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const std::string path = (dir / "lumivex-wab-bench.wab").string();
  std::printf("%10s %10s %12s %10s\n", "contacts", "write s", "bytes", "read s");
  for (int count : {1000, 10000, 32767, 100000}) {
    try {
      lumivex::wab::AddressBook::WriteEmpty(path);
      const auto start = Clock::now();
      {
        lumivex::wab::AddressBook book;
        book.Open(path);
        for (int i = 0; i < count; ++i)
          book.createnew("Contact Person " + std::to_string(i),
                         "contact.person." + std::to_string(i) + "@example.com");
        book.Close();
      }
      const double write = Seconds(start);
      const auto readStart = Clock::now();
      const size_t read = lumivex::wab::LiveContacts(lumivex::wab::ReadBook(path)).size();
      const double readTime = Seconds(readStart);
      if (read != size_t(count)) {
        std::fprintf(stderr, "read back %zu of %d contacts\n", read, count);
        return 1;
      }
      std::printf("%10d %10.3f %12ju %10.3f\n", count, write,
                  uintmax_t(std::filesystem::file_size(path)), readTime);
    } catch (const lumivex::wab::WabError& error) {
      std::fprintf(stderr, "lumivex-wab-bench: %s\n", error.what());
      return 1;
    }
  }
  std::filesystem::remove(path);
  return 0;
}
