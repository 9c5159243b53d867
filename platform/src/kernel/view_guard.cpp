#include "view_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace platform::kernel {
namespace {

// The signal handler reads the guarded views without a lock: each slot is
// taken by publishing its base last and given back by clearing it first.
struct Slot {
  std::atomic<uintptr_t> base{0};
  std::atomic<size_t> length{0};
  std::atomic<int> protection{0};
};

constexpr size_t slotCount = 4096;
Slot slots[slotCount];

std::mutex installing;
bool installed = false;
struct sigaction previous;

// Puts a page of zeros where the touched page of a guarded view lost its
// bytes; hands any other bus error to whoever handled it before.
void onBusError(int signal, siginfo_t *info, void *context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot &slot : slots) {
    const uintptr_t base = slot.base.load(std::memory_order_acquire);
    if (base == 0 || at < base || at - base >= slot.length.load(std::memory_order_relaxed)) continue;
    const uintptr_t page = at & ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
    void *zeros = mmap(reinterpret_cast<void *>(page), static_cast<size_t>(sysconf(_SC_PAGESIZE)),
                       slot.protection.load(std::memory_order_relaxed), MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) return;  // the touch is made again, on the zeros
    break;
  }
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // The touch, made again, now ends the process as it would have.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &standard, nullptr);
  }
}

void install() {
  std::lock_guard<std::mutex> hold(installing);
  if (installed) return;
  struct sigaction action {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  installed = sigaction(SIGBUS, &action, &previous) == 0;
}

}  // namespace

bool guardView(void *base, size_t length, int protection) {
  install();
  for (Slot &slot : slots) {
    // A slot is claimed by its length first, and its base, which the handler
    // reads first, is published last: the handler never pairs a base with
    // another view's length.
    size_t unclaimed = 0;
    if (!slot.length.compare_exchange_strong(unclaimed, length)) continue;
    slot.protection.store(protection, std::memory_order_relaxed);
    slot.base.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
    return true;
  }
  return false;
}

void unguardView(void *base) {
  for (Slot &slot : slots) {
    if (slot.base.load(std::memory_order_acquire) != reinterpret_cast<uintptr_t>(base)) continue;
    slot.base.store(0, std::memory_order_release);
    slot.length.store(0, std::memory_order_release);
    return;
  }
}

}  // namespace platform::kernel
