#include "PerfDataWriter.h"

#include <cstring>

namespace rv::collector {

namespace {

constexpr DWORD align8(DWORD size) { return (size + 7) & ~7u; }

bool sameWord(const WCHAR *text, size_t length, const char *word) {
  size_t i = 0;
  for (; i < length && word[i]; ++i) {
    WCHAR c = text[i];
    if (c >= OLESTR('a') && c <= OLESTR('z')) c = static_cast<WCHAR>(c - OLESTR('a') + OLESTR('A'));
    char w = word[i];
    if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
    if (c != static_cast<WCHAR>(w)) return false;
  }
  return i == length && word[i] == '\0';
}

struct CounterLayout {
  std::vector<DWORD> offsets;
  std::vector<DWORD> sizes;
  DWORD blockLength = 0;
};

CounterLayout layoutCounters(const ObjectSnapshot &object) {
  CounterLayout layout;
  DWORD offset = sizeof(PERF_COUNTER_BLOCK);
  for (const CounterDefinition &counter : object.counters) {
    DWORD size = counterDataSize(static_cast<DWORD>(counter.counterType));
    if (size) offset = (offset + size - 1) / size * size;
    layout.offsets.push_back(offset);
    layout.sizes.push_back(size);
    offset += size;
  }
  layout.blockLength = align8(offset);
  return layout;
}

DWORD instanceLength(const InstanceValues &instance) {
  return align8(static_cast<DWORD>(sizeof(PERF_INSTANCE_DEFINITION) + (instance.name.size() + 1) * sizeof(WCHAR)));
}

// The object's whole length, or 0 when it would not fit in 32 bits.
ULONGLONG objectLength(const ObjectSnapshot &object, const CounterLayout &layout) {
  ULONGLONG length = sizeof(PERF_OBJECT_TYPE) + object.counters.size() * sizeof(PERF_COUNTER_DEFINITION);
  if (!object.hasInstances) return length + layout.blockLength;
  for (const InstanceValues &instance : object.instances) length += instanceLength(instance) + layout.blockLength;
  return length;
}

void writeBlock(BYTE *at, const CounterLayout &layout, const std::vector<LONGLONG> &values) {
  std::memset(at, 0, layout.blockLength);
  PERF_COUNTER_BLOCK block{};
  block.ByteLength = layout.blockLength;
  std::memcpy(at, &block, sizeof block);
  for (size_t i = 0; i < layout.sizes.size(); ++i) {
    LONGLONG value = i < values.size() ? values[i] : 0;
    if (layout.sizes[i] == 4) {
      DWORD low = static_cast<DWORD>(value);
      std::memcpy(at + layout.offsets[i], &low, 4);
    } else if (layout.sizes[i] == 8) {
      std::memcpy(at + layout.offsets[i], &value, 8);
    }
  }
}

BYTE *writeObject(BYTE *at, const ObjectSnapshot &object, const CounterLayout &layout, DWORD length, TitleBase titles,
                  PerfClock clock) {
  PERF_OBJECT_TYPE type{};
  type.TotalByteLength = length;
  type.DefinitionLength =
      static_cast<DWORD>(sizeof(PERF_OBJECT_TYPE) + object.counters.size() * sizeof(PERF_COUNTER_DEFINITION));
  type.HeaderLength = sizeof(PERF_OBJECT_TYPE);
  type.ObjectNameTitleIndex = titles.firstCounter + static_cast<DWORD>(object.id);
  type.ObjectHelpTitleIndex = titles.firstHelp + static_cast<DWORD>(object.id);
  type.DetailLevel = PERF_DETAIL_NOVICE;
  type.NumCounters = static_cast<DWORD>(object.counters.size());
  type.DefaultCounter = object.counters.empty() ? -1 : 0;
  type.NumInstances = object.hasInstances ? static_cast<LONG>(object.instances.size()) : PERF_NO_INSTANCES;
  type.CodePage = 0;
  type.PerfTime.QuadPart = clock.time;
  type.PerfFreq.QuadPart = clock.frequency;
  std::memcpy(at, &type, sizeof type);
  at += sizeof type;

  for (size_t i = 0; i < object.counters.size(); ++i) {
    const CounterDefinition &counter = object.counters[i];
    PERF_COUNTER_DEFINITION definition{};
    definition.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
    definition.CounterNameTitleIndex = titles.firstCounter + static_cast<DWORD>(counter.id);
    definition.CounterHelpTitleIndex = titles.firstHelp + static_cast<DWORD>(counter.id);
    definition.DefaultScale = counter.defaultScale;
    definition.DetailLevel = PERF_DETAIL_NOVICE;
    definition.CounterType = static_cast<DWORD>(counter.counterType);
    definition.CounterSize = layout.sizes[i];
    definition.CounterOffset = layout.offsets[i];
    std::memcpy(at, &definition, sizeof definition);
    at += sizeof definition;
  }

  if (!object.hasInstances) {
    writeBlock(at, layout, object.values);
    return at + layout.blockLength;
  }
  for (const InstanceValues &instance : object.instances) {
    DWORD instanceBytes = instanceLength(instance);
    std::memset(at, 0, instanceBytes);
    PERF_INSTANCE_DEFINITION definition{};
    definition.ByteLength = instanceBytes;
    definition.UniqueID = PERF_NO_UNIQUE_ID;
    definition.NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
    definition.NameLength = static_cast<DWORD>((instance.name.size() + 1) * sizeof(WCHAR));
    std::memcpy(at, &definition, sizeof definition);
    if (!instance.name.empty())
      std::memcpy(at + sizeof definition, instance.name.data(), instance.name.size() * sizeof(WCHAR));
    at += instanceBytes;
    writeBlock(at, layout, instance.values);
    at += layout.blockLength;
  }
  return at;
}

}  // namespace

ObjectQuery::ObjectQuery(const WCHAR *text) {
  if (!text || !*text) {
    all_ = true;
    return;
  }
  const WCHAR *at = text;
  while (*at) {
    while (*at == OLESTR(' ')) ++at;
    const WCHAR *word = at;
    while (*at && *at != OLESTR(' ')) ++at;
    size_t length = static_cast<size_t>(at - word);
    if (length == 0) break;
    if (sameWord(word, length, "Global")) {
      all_ = true;
      continue;
    }
    // Decimal numbers only; "Foreign", "Costly" and any other word ask for
    // nothing this collector has.
    ULONGLONG number = 0;
    size_t i = 0;
    for (; i < length && word[i] >= OLESTR('0') && word[i] <= OLESTR('9') && number <= 0xFFFFFFFFull; ++i)
      number = number * 10 + static_cast<ULONGLONG>(word[i] - OLESTR('0'));
    if (i == length && number <= 0xFFFFFFFFull) indices_.push_back(static_cast<DWORD>(number));
  }
}

bool ObjectQuery::wants(DWORD nameIndex) const {
  if (all_) return true;
  for (DWORD index : indices_)
    if (index == nameIndex) return true;
  return false;
}

DWORD counterDataSize(DWORD counterType) {
  switch (counterType & 0x00000300) {
    case PERF_SIZE_DWORD: return 4;
    case PERF_SIZE_LARGE: return 8;
    default: return 0;
  }
}

ULONGLONG perfDataLength(const TreeSnapshot &tree, const ObjectQuery &query, TitleBase titles) {
  ULONGLONG total = 0;
  for (const ObjectSnapshot &object : tree.objects) {
    if (!query.wants(titles.firstCounter + static_cast<DWORD>(object.id))) continue;
    total += objectLength(object, layoutCounters(object));
    if (total > 0xFFFFFFF8ull) break;
  }
  return total;
}

DWORD writePerfData(const TreeSnapshot &tree, const ObjectQuery &query, TitleBase titles, PerfClock clock, BYTE *buffer,
                    DWORD capacity, DWORD &written, DWORD &objects) {
  written = 0;
  objects = 0;
  struct Planned {
    const ObjectSnapshot *object;
    CounterLayout layout;
    DWORD length;
  };
  std::vector<Planned> plan;
  ULONGLONG total = 0;
  for (const ObjectSnapshot &object : tree.objects) {
    if (!query.wants(titles.firstCounter + static_cast<DWORD>(object.id))) continue;
    CounterLayout layout = layoutCounters(object);
    ULONGLONG length = objectLength(object, layout);
    total += length;
    if (length > 0xFFFFFFF8ull || total > 0xFFFFFFF8ull) return ERROR_MORE_DATA;
    plan.push_back({&object, std::move(layout), static_cast<DWORD>(length)});
  }
  if (total > capacity) return ERROR_MORE_DATA;
  BYTE *at = buffer;
  for (const Planned &planned : plan)
    at = writeObject(at, *planned.object, planned.layout, planned.length, titles, clock);
  written = static_cast<DWORD>(total);
  objects = static_cast<DWORD>(plan.size());
  return ERROR_SUCCESS;
}

}  // namespace rv::collector
