// The COM task allocator: memory that one side of an interface allocates and
// the other frees.
#include <objbase.h>

#include <stdlib.h>

LPVOID CoTaskMemAlloc(SIZE_T cb) { return malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return realloc(pv, cb == 0 ? 1 : cb); }

void CoTaskMemFree(LPVOID pv) { free(pv); }
