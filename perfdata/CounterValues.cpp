#include "CounterValues.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "rvCounterTypes.h"

namespace perfdata {
namespace {

bool isRate(DWORD type) { return type == PERF_COUNTER_COUNTER || type == PERF_COUNTER_BULK_COUNT; }

// The base type that must follow a fraction type, or 0 for other types.
DWORD baseTypeOf(DWORD type) {
  if (type == PERF_RAW_FRACTION) return PERF_RAW_BASE;
  if (type == PERF_LARGE_RAW_FRACTION) return PERF_LARGE_RAW_BASE;
  return 0;
}

CounterValue undefined() {
  CounterValue value;
  value.form = CounterValue::Form::Undefined;
  return value;
}

// The winperf.h types a definition file may not name, which readers still
// meet in other providers' data. The types a definition file may name come
// from the contract's own table.
struct TypeName {
  DWORD type;
  const char *name;
};
#define TYPE_NAME(type) \
  { static_cast<DWORD>(type), #type }
constexpr TypeName otherTypeNames[] = {
    TYPE_NAME(PERF_COUNTER_100NS_QUEUELEN_TYPE),
    TYPE_NAME(PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE),
    TYPE_NAME(PERF_OBJ_TIME_TIMER),
    TYPE_NAME(PERF_LARGE_RAW_FRACTION),
    TYPE_NAME(PERF_LARGE_RAW_BASE),
    TYPE_NAME(PERF_PRECISION_SYSTEM_TIMER),
    TYPE_NAME(PERF_PRECISION_100NS_TIMER),
    TYPE_NAME(PERF_PRECISION_OBJECT_TIMER),
};
#undef TYPE_NAME

}  // namespace

RawValue readRawValue(const CounterDefinition &counter, const CounterBlock &block) {
  RawValue value;
  DWORD size = counterDataSize(counter.type, counter.size);
  if (uint64_t{counter.counterOffset} + size > block.bytes.size()) return value;
  const BYTE *data = block.bytes.data() + counter.counterOffset;
  value.size = size;
  if ((counter.type & PERF_SIZE_VARIABLE_LEN) == PERF_SIZE_VARIABLE_LEN) {
    value.bytes.assign(data, data + size);
  } else if (size == sizeof(DWORD)) {
    DWORD number;
    memcpy(&number, data, sizeof number);
    value.integer = number;
  } else if (size == sizeof(ULONGLONG)) {
    memcpy(&value.integer, data, sizeof value.integer);
  }
  return value;
}

Sample sampleOf(const CounterBlock &counters, const Object &object, const DataBlock &block) {
  if (object.perfFreq > 0) return Sample{&counters, object.perfTime, object.perfFreq};
  return Sample{&counters, block.perfTime, block.perfFreq};
}

bool ratePerSecond(ULONGLONG countBefore, ULONGLONG countNow, const Sample &before, const Sample &now, double &rate) {
  if (now.perfFreq <= 0 || now.perfTime <= before.perfTime || countNow < countBefore) return false;
  const ULONGLONG change = countNow - countBefore;
  double seconds = static_cast<double>(now.perfTime - before.perfTime) / static_cast<double>(now.perfFreq);
  rate = static_cast<double>(change) / seconds;
  return true;
}

CounterValue counterValue(const std::vector<CounterDefinition> &counters, size_t index, const Sample &now,
                          const Sample *before, bool raw) {
  const CounterDefinition &counter = counters[index];
  RawValue value = readRawValue(counter, *now.counters);
  CounterValue shown;
  shown.integer = value.integer;
  if (value.size == 0) {
    shown.form = CounterValue::Form::Nothing;
  } else if (!value.bytes.empty()) {
    shown.form = CounterValue::Form::Bytes;
    shown.bytes = std::move(value.bytes);
  } else if (raw) {
    shown.form = CounterValue::Form::Integer;
  } else if (isRate(counter.type)) {
    if (before == nullptr) {
      shown.form = CounterValue::Form::FirstRaw;
    } else {
      RawValue earlier = readRawValue(counter, *before->counters);
      shown.form = CounterValue::Form::Rate;
      if (earlier.size != value.size || !ratePerSecond(earlier.integer, value.integer, *before, now, shown.number)) {
        shown = undefined();
      }
    }
  } else if (DWORD baseType = baseTypeOf(counter.type)) {
    bool hasBase = index + 1 < counters.size() && counters[index + 1].type == baseType;
    RawValue base = hasBase ? readRawValue(counters[index + 1], *now.counters) : RawValue{};
    if (base.integer == 0) {
      shown = undefined();
    } else {
      shown.form = CounterValue::Form::Percent;
      shown.number = 100.0 * static_cast<double>(value.integer) / static_cast<double>(base.integer);
    }
  } else {
    shown.form = CounterValue::Form::Integer;
  }
  return shown;
}

std::vector<CounterValue> displayValues(const std::vector<CounterDefinition> &counters, const Sample &now,
                                        const Sample *before, bool raw) {
  std::vector<CounterValue> values;
  values.reserve(counters.size());
  for (size_t index = 0; index < counters.size(); ++index)
    values.push_back(counterValue(counters, index, now, before, raw));
  return values;
}

bool needsEarlierSample(DWORD type) { return isRate(type); }

std::string formatValue(const CounterValue &value) {
  char text[64];
  switch (value.form) {
    case CounterValue::Form::Integer:
      snprintf(text, sizeof text, "%" PRIu64, static_cast<uint64_t>(value.integer));
      return text;
    case CounterValue::Form::Rate: snprintf(text, sizeof text, "%.2f/s", value.number); return text;
    case CounterValue::Form::FirstRaw:
      snprintf(text, sizeof text, "%" PRIu64 " (raw)", static_cast<uint64_t>(value.integer));
      return text;
    case CounterValue::Form::Percent: snprintf(text, sizeof text, "%.2f%%", value.number); return text;
    case CounterValue::Form::Bytes: {
      std::string bytes;
      for (BYTE byte : value.bytes) {
        snprintf(text, sizeof text, bytes.empty() ? "%02x" : " %02x", byte);
        bytes += text;
      }
      return bytes;
    }
    case CounterValue::Form::Nothing: return "-";
    case CounterValue::Form::Undefined: break;
  }
  return "-";
}

std::vector<const Instance *> matchInstances(const Object &before, const Object &now) {
  // Instances of one name, in their order, under that name.
  std::map<Text, std::vector<const Instance *>> earlier;
  for (const Instance &instance : before.instances) earlier[instance.name].push_back(&instance);
  std::map<Text, size_t> seen;
  std::vector<const Instance *> matches;
  matches.reserve(now.instances.size());
  for (const Instance &instance : now.instances) {
    size_t place = seen[instance.name]++;
    auto found = earlier.find(instance.name);
    bool present = found != earlier.end() && place < found->second.size();
    matches.push_back(present ? found->second[place] : nullptr);
  }
  return matches;
}

std::string counterTypeName(DWORD type) {
  for (const rv::CounterTypeName &entry : rv::CounterTypeNames) {
    if (entry.type != type) continue;
    std::string name;
    for (const OLECHAR *at = entry.name; *at != 0; ++at) name += static_cast<char>(*at);
    return name;
  }
  for (const TypeName &entry : otherTypeNames) {
    if (entry.type == type) return entry.name;
  }
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(type));
  return hex;
}

}  // namespace perfdata
