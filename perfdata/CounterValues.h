// What a counter's data means to a reader: its raw value, read with the width
// its type gives, and the value to show. The set of types given a meaning is
// small on purpose:
// - PERF_COUNTER_COUNTER and PERF_COUNTER_BULK_COUNT are rates: the change
//   of the count per second between two samples, timed by the data block's
//   PerfTime and PerfFreq (their timer is PERF_TIMER_TICK), or by the
//   object's own where it has one; the first sample
//   has no rate yet and shows its raw count, marked as such, and a count
//   that went down has none in that sample;
// - PERF_RAW_FRACTION over the PERF_RAW_BASE defined right after it (and the
//   PERF_LARGE_ pair) is a percentage;
// - a counter of variable length shows its bytes, one of no size nothing;
// - every other counter shows its raw value as an unsigned integer.
#pragma once

#include <string>
#include <vector>

#include "PerfData.h"

namespace perfdata {

// A counter's data as its type's size bits say to read it.
struct RawValue {
  DWORD size = 0;           // 4, 8, 0 or the definition's CounterSize
  ULONGLONG integer = 0;    // for sizes 4 and 8
  std::vector<BYTE> bytes;  // for variable-length counters
};

// Reads one counter out of a counter block. The walk has checked that the
// counter lies inside its block; a block that does not hold it reads as size 0.
RawValue readRawValue(const CounterDefinition &counter, const CounterBlock &block);

// One counter block at one moment, with the data block's clock.
struct Sample {
  const CounterBlock *counters = nullptr;
  LONGLONG perfTime = 0;
  LONGLONG perfFreq = 0;
};

// The sample of a counter block of `object`, timed by the object's own clock
// (its PerfTime and PerfFreq, which a provider with a clock of its own sets,
// as this system's collector does with the time its host published) when it
// has one, by the data block's otherwise.
Sample sampleOf(const CounterBlock &counters, const Object &object, const DataBlock &block);

struct CounterValue {
  enum class Form {
    Integer,    // `integer`, as it stands
    Rate,       // `number` per second
    FirstRaw,   // a rate's raw count (`integer`) on the first sample
    Percent,    // `number` percent
    Bytes,      // `bytes`
    Nothing,    // a counter without data
    Undefined,  // no rate or percentage can be formed: the clock did not advance, the base is 0 or missing
  };
  Form form = Form::Nothing;
  ULONGLONG integer = 0;
  double number = 0;
  std::vector<BYTE> bytes;
};

// The value to show for the counter at `index` of `counters`, `before` being
// the same instance's previous sample, or null for the first. With `raw`,
// every counter of a fixed size shows its raw value as an integer: no rate
// and no percentage is formed.
CounterValue counterValue(const std::vector<CounterDefinition> &counters, size_t index, const Sample &now,
                          const Sample *before, bool raw = false);

// The values to show for every counter of an object's counter block, as
// counterValue gives them.
std::vector<CounterValue> displayValues(const std::vector<CounterDefinition> &counters, const Sample &now,
                                        const Sample *before, bool raw = false);

// Whether a counter of this type shows a value only against an earlier
// sample: the rates.
bool needsEarlierSample(DWORD type);

// The change of a count per second between two samples. False when the
// clock did not advance, its frequency is not positive, or the count went
// down: a count of these types only grows, so a drop is a count that
// started again (a _Total whose instance closed, a host that restarted, a
// wrap), whose difference is no rate; the next sample counts from this one.
bool ratePerSecond(ULONGLONG countBefore, ULONGLONG countNow, const Sample &before, const Sample &now, double &rate);

// The value as text: "42", "12.50/s", "1000 (raw)", "37.50%", bytes in hex
// ("0a ff"), and "-" for nothing or no value in this sample.
std::string formatValue(const CounterValue &value);

// For each instance of `now`, the instance of the same object in the earlier
// sample `before` that stands for it (same name, and the same place among
// instances of that name), or null for one that is new.
std::vector<const Instance *> matchInstances(const Object &before, const Object &now);

// A counter type's name ("PERF_COUNTER_RAWCOUNT"): the contract's name for the
// types a definition file may use (so PERF_COUNTER_TEXT is 0x00000B00), the
// winperf.h name for the few others, and the code in hex ("0x00000B01") for
// a type that has no name.
std::string counterTypeName(DWORD type);

}  // namespace perfdata
