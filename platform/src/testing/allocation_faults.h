// The platform's own check before each allocation that tests can make fail
// (see platform/fault_injection.h).
#pragma once

#include <atomic>

namespace platform {

extern std::atomic<bool> allocationFaultsArmed;
bool countAllocation();

// True when this allocation is to fail; one relaxed load while disarmed.
inline bool allocationFails() { return allocationFaultsArmed.load(std::memory_order_relaxed) && countAllocation(); }

}  // namespace platform
