// Writes a store of synthetic contacts (100,000 unless told otherwise) and reports the time, the
// file size and the peak memory, at 10,000 contacts and at the full count, to show that memory
// stays with the indexes and does not grow with the contacts themselves.
//
//   pstgen_bench [COUNT] [OUT.pst]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/PeakMemory.h"
#include "bench/Usage.h"
#include "tools/pstgen/Description.h"

namespace {

void Run(uint64_t count, const std::string& out) {
  lumivex::pstgen::StorePlan plan;
  lumivex::pstgen::FolderPlan folder;
  folder.path = {"Contacts"};
  folder.generate = count;
  folder.seed = 1;
  plan.folders.push_back(folder);
  const auto start = std::chrono::steady_clock::now();
  const auto report = lumivex::pstgen::BuildStore(plan, out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto size = std::filesystem::file_size(out);
  std::printf("%8llu contacts: %6.2f s, %7.1f MB file, %5.0f bytes/contact, peak memory %ld KiB\n",
              static_cast<unsigned long long>(report.items), seconds, size / 1e6,
              static_cast<double>(size) / static_cast<double>(count), lumivex::bench::PeakKiB());
}

}  // namespace

int main(int argc, char** argv) {
  if (lumivex::bench::UsageAsked(argc, argv, "pstgen_bench [COUNT] [OUT.pst]")) return 0;
  const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  const std::string out =
      argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "pstgen_bench.pst").string();
  try {
    if (count > 10000) Run(10000, out);
    Run(count, out);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pstgen_bench: %s\n", e.what());
    return 1;
  }
  if (argc <= 2) std::filesystem::remove(out);
  return 0;
}
