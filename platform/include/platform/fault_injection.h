// Allocation failures on demand, for tests of what a program does when memory
// runs out. Only the platform layer has them: a test that uses them runs on
// POSIX only, since the Windows target allocates through the system's own
// oleaut32 and ole32.
//
// Once armed with n, the platform counts every allocation of automation
// strings (the SysAllocString family), safe arrays (descriptors and data) and
// task memory (CoTaskMemAlloc, CoTaskMemRealloc); a test program that
// replaces the global operator new counts its allocations in the same count
// through PlatformAllocationFails. The nth allocation fails, the way each of
// those calls reports running out of memory, and every later one succeeds
// again, so that the failure is the only one and what a program does with it
// can be seen. Disarmed, the check costs one relaxed atomic load.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

// Counts allocations from now on; the nth of them (n >= 1) fails. n <= 0
// disarms, as PlatformStopFailingAllocations does.
void PlatformFailNthAllocation(long n);

// Stops counting; no allocation fails any more.
void PlatformStopFailingAllocations(void);

// The allocations counted since the last PlatformFailNthAllocation, the
// failed one included: fewer than n means that the failure never came.
long PlatformAllocationsSeen(void);

// Counts one allocation of the caller's own and tells whether it is the one
// to fail; FALSE at once when disarmed.
BOOL PlatformAllocationFails(void);

#ifdef __cplusplus
}
#endif
