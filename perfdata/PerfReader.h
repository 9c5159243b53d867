// Reading through HKEY_PERFORMANCE_DATA, as a performance tool does: the
// buffer grows until the whole reply fits, Wine 8's misplaced first object is
// put back where Windows puts it, and the key is closed when the reader goes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace perfdata {

// How far past the documented place Wine 8 writes the objects of a data
// block: the size of a PERF_DATA_BLOCK.
constexpr size_t wineObjectGap = 88;

class PerfReader {
 public:
  PerfReader() = default;
  PerfReader(const PerfReader &) = delete;
  PerfReader &operator=(const PerfReader &) = delete;
  // Closes HKEY_PERFORMANCE_DATA if anything was read through it, which tells
  // the collectors that this reader is done.
  ~PerfReader();

  // Reads a data block: `what` is "Global", "Costly" or object indices
  // separated by blanks ("230 232"). On success `data` holds the reply as
  // documented (first object at HeaderLength) and the result is
  // ERROR_SUCCESS; otherwise the registry's error code, ERROR_MORE_DATA when
  // the reply still did not fit in the largest buffer this reader offers.
  // Windows answers an index list with those objects and maybe others, Wine
  // with all of them: pick the wanted ones out of the block.
  LONG queryData(const WCHAR *what, std::vector<BYTE> &data);

  // Reads a text value such as "Counter 009" or "Help 009".
  LONG queryText(const WCHAR *what, std::vector<BYTE> &data);

 private:
  LONG query(const WCHAR *what, std::vector<BYTE> &data, bool dataBlock);

  bool used_ = false;
  DWORD offered_ = 64 * 1024;
};

// Wine 8 puts the first object of a data block wineObjectGap bytes past
// HeaderLength, and the objects after it follow on from there, while
// TotalByteLength and the size it reports leave the gap out (so the reply
// runs that far past the reported size: the buffer needs as many spare
// bytes). When `data` (reply and spare bytes) has no plausible object at
// HeaderLength but a chain of plausible objects from HeaderLength + gap that
// ends at TotalByteLength + gap (as Wine 8 does) or at TotalByteLength (the
// gap counted), the objects are moved down to HeaderLength, TotalByteLength
// is made to leave the gap out, and the result is true. Any other block is
// left alone for the strict walk to judge.
bool repairWineObjectGap(std::vector<BYTE> &data);

}  // namespace perfdata
