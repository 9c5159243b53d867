#include "Module.h"

namespace {
LONG volatile lockCountValue = 0;
}

namespace Module {

LONG lock() { return InterlockedIncrement(&lockCountValue); }

LONG unlock() { return InterlockedDecrement(&lockCountValue); }

LONG lockCount() { return InterlockedCompareExchange(&lockCountValue, 0, 0); }

}
