// The COM task allocator: memory that one side of an interface allocates and
// the other frees.
#include <objbase.h>

#include <stdlib.h>

#include "testing/allocation_faults.h"

LPVOID CoTaskMemAlloc(SIZE_T cb) { return platform::allocationFails() ? nullptr : malloc(cb == 0 ? 1 : cb); }

// A failed reallocation leaves the block as it was.
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  return platform::allocationFails() ? nullptr : realloc(pv, cb == 0 ? 1 : cb);
}

void CoTaskMemFree(LPVOID pv) { free(pv); }
