// Writes a tree snapshot as performance data: one PERF_OBJECT_TYPE per
// object that the query asks for, with its PERF_COUNTER_DEFINITIONs, then its
// instances (PERF_INSTANCE_DEFINITION, UTF-16 name, counter block) or, for an
// object without instances, one counter block.
//
// Layout rules every reader may rely on: every structure starts on an 8-byte
// boundary and every length is a multiple of 8; a counter's data takes the
// width of its type's size bits (4 bytes for PERF_SIZE_DWORD, 8 for
// PERF_SIZE_LARGE, none for PERF_SIZE_ZERO and variable-length counters,
// whose text the tree does not hold) and sits at an offset of the counter block aligned to that width.
// A 4-byte counter carries the low 32 bits of the value.
#pragma once
#include <windows.h>
#include <winperf.h>

#include <vector>

#include "TreeSnapshot.h"

namespace rv::collector {

// Name and help indices: a name is firstCounter + the item's ID, a help text
// firstHelp + the item's ID, as the INI file numbers them.
struct TitleBase {
  DWORD firstCounter = 0;
  DWORD firstHelp = 0;
};

// What a query text asks for: "Global" (or nothing) every object, "Foreign"
// and "Costly" none (this collector has neither), otherwise the objects whose
// name index appears in a blank-separated list of decimal numbers.
class ObjectQuery {
 public:
  explicit ObjectQuery(const WCHAR *text);
  bool wants(DWORD nameIndex) const;

 private:
  bool all_ = false;
  std::vector<DWORD> indices_;
};

struct PerfClock {
  LONGLONG time = 0;
  LONGLONG frequency = 0;
};

// Writes the objects into `buffer`. ERROR_SUCCESS with `written` bytes and
// `objects` objects; ERROR_MORE_DATA, with nothing written and both zero,
// when `capacity` is too small.
DWORD writePerfData(const TreeSnapshot &tree, const ObjectQuery &query, TitleBase titles, PerfClock clock, BYTE *buffer,
                    DWORD capacity, DWORD &written, DWORD &objects);

// The bytes that writePerfData writes for `query`, or more than 0xFFFFFFF8
// when they would not fit in 32 bits.
ULONGLONG perfDataLength(const TreeSnapshot &tree, const ObjectQuery &query, TitleBase titles);

// The bytes of a counter's data for its type.
DWORD counterDataSize(DWORD counterType);

}  // namespace rv::collector
