#include "testing/allocation_faults.h"

#include "platform/fault_injection.h"

namespace platform {

std::atomic<bool> allocationFaultsArmed{false};

namespace {

std::atomic<long> failingAllocation{0};
std::atomic<long> allocationsSeen{0};

}  // namespace

bool countAllocation() {
  const long number = allocationsSeen.fetch_add(1, std::memory_order_relaxed) + 1;
  return number == failingAllocation.load(std::memory_order_relaxed);
}

}  // namespace platform

void PlatformFailNthAllocation(long n) {
  platform::allocationFaultsArmed.store(false);
  if (n <= 0) return;
  platform::failingAllocation.store(n);
  platform::allocationsSeen.store(0);
  platform::allocationFaultsArmed.store(true);
}

void PlatformStopFailingAllocations(void) { platform::allocationFaultsArmed.store(false); }

long PlatformAllocationsSeen(void) { return platform::allocationsSeen.load(); }

BOOL PlatformAllocationFails(void) { return platform::allocationFails() ? TRUE : FALSE; }
