// A performance library for the performance data tests. The services that
// name it give the settings of their object in a "Test Object" value of
// their Performance key, which it reads at every collect: a library that
// reads the registry inside Collect also shows that no lock of the registry
// is held while it runs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winperf.h>

// Windows takes the exports from TestCollector.def.
#ifdef _WIN32
#define COLLECTOR_EXPORT
#else
#define COLLECTOR_EXPORT DECLSPEC_EXPORT
#endif

// CollectGood serves the first service, CollectFaulty the second.
#define GOOD_SERVICE "PerfDataTestGood"
#define FAULTY_SERVICE "PerfDataTestFaulty"

// The lies the faulty collector tells about what it wrote.
enum CollectorFault : DWORD {
  FaultNone,
  FaultClaimsMoreThanGiven,
  FaultSizeNotMultipleOfEight,
  FaultCountsAnObjectTooMany,
  FaultPointerNotAdvanced,
  FaultCount
};

// The "Test Object" value: the object's index, its two counter values, and
// the fault to commit.
struct CollectorSettings {
  DWORD index, count;
  ULONGLONG total;
  DWORD fault;
};

// How often Open and Close were called since the module was loaded.
typedef void(WINAPI COLLECTOR_CALLS_PROC)(LONG *opens, LONG *closes);
