// The values of selected counters over successive samples, as readers show
// them: a rate is taken against an earlier sample of the same object, found
// in the history of samples seen so far. perfquery and perf_exporter's graph
// share it, so that both show the same value for the same data.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <set>

#include "CounterPath.h"
#include "CounterValues.h"
#include "PerfData.h"

namespace perfquery {

// When an object's data was taken, by the clock that times its rates.
LONGLONG takenAt(const perfdata::Object &object, const perfdata::DataBlock &block);

// The samples of each object seen so far that rates are taken against: the
// latest one, and the latest one older than it. A reader that samples faster
// than the host publishes gets the same data twice, which says nothing of a
// rate, so a rate is taken against the latest sample whose data is older
// than the new one's.
class SampleHistory {
 public:
  struct Taken {
    std::shared_ptr<const perfdata::DataBlock> block;
    const perfdata::Object *object = nullptr;
    LONGLONG at = 0;
  };

  // Keeps the objects of `block` named in `objects`.
  void add(const std::shared_ptr<const perfdata::DataBlock> &block, const std::set<DWORD> &objects);

  // The earlier sample of object `index` to take a rate against, or null.
  const Taken *before(DWORD index, LONGLONG now) const;

 private:
  std::map<DWORD, Taken> latest_, older_;
};

// The counter block of an instance, found by name and place among instances
// of that name, or the object's own block; null when it is not there.
const perfdata::CounterBlock *blockOf(const perfdata::Object &object, const Selection &selection);

// A rate whose earlier sample is missing has no value: the first sample of
// an object, when its data did not change within the wait for it.
perfdata::CounterValue shownValue(perfdata::CounterValue value);

// The value of a selected counter in `block`, its rate taken against
// `history`; no value where the object, instance or counter is not in the
// block. With `raw`, the raw value without rates or percentages.
perfdata::CounterValue selectedValue(const Selection &selection, const perfdata::DataBlock &block,
                                     const SampleHistory &history, bool raw);

}  // namespace perfquery
