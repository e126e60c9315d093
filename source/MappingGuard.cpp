#include "source/MappingGuard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>

namespace lumivex::pst {

namespace {

// The guarded mappings, read by the handler without a lock: a slot is taken by storing its end
// last and given back by clearing its end first.
struct Slot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> lost{false};
};
std::array<Slot, 64> slots;
std::mutex taking;  // Guards taking and giving back slots, and installing the handler.
struct sigaction previous {};
bool installed = false;

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& slot : slots) {
    const uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (end == 0 || address < slot.begin.load(std::memory_order_relaxed) || address >= end)
      continue;
    // A page of zeros where the file's page was; the read that faulted is made again and reads
    // it. mmap is a plain system call here, safe in a handler.
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    void* at = reinterpret_cast<void*>(address & ~(page - 1));
    if (mmap(at, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      slot.lost.store(true, std::memory_order_release);
      return;
    }
    break;
  }
  // Not ours: what would have happened without us.
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
      previous.sa_handler != nullptr) {
    previous.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(SIGBUS, &fallback, nullptr);  // the faulting read runs again and ends the process
}

}  // namespace

MappingGuard::MappingGuard(const void* data, size_t size) {
  std::lock_guard lock(taking);
  if (!installed) {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &previous) != 0) return;
    installed = true;
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].end.load(std::memory_order_relaxed) != 0) continue;
    slots[i].lost.store(false, std::memory_order_relaxed);
    slots[i].begin.store(reinterpret_cast<uintptr_t>(data), std::memory_order_relaxed);
    slots[i].end.store(reinterpret_cast<uintptr_t>(data) + size, std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  std::lock_guard lock(taking);
  slots[static_cast<size_t>(slot_)].end.store(0, std::memory_order_release);
}

bool MappingGuard::Lost() const {
  return slot_ >= 0 && slots[static_cast<size_t>(slot_)].lost.load(std::memory_order_acquire);
}

}  // namespace lumivex::pst
