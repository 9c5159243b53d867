#include "AnswerPlan.h"

#include <winperf.h>

#include <cstring>

namespace rv::collector {

namespace {

template <typename T> T readAt(const std::vector<BYTE> &bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

}  // namespace

bool AnswerPlan::build(const BYTE *blob, size_t size, TitleBase titles, std::string &problem) {
  *this = AnswerPlan();
  TreeSnapshot tree;
  if (!readTreeSnapshot(blob, size, tree, problem)) return false;
  titles_ = titles;
  built_ = true;
  const ObjectQuery everything(nullptr);
  const ULONGLONG length = perfDataLength(tree, everything, titles);
  if (length > LargestPlannedAnswer) {
    unplanned_ = std::move(tree);
    return true;
  }
  answer_.resize(static_cast<size_t>(length));
  DWORD written = 0, count = 0;
  writePerfData(tree, everything, titles, PerfClock{}, answer_.data(), static_cast<DWORD>(answer_.size()), written,
                count);

  // The answer is walked as a reader walks it, by its own lengths, so that
  // each value lands where the writer put it.
  size_t at = 0;
  for (const ObjectSnapshot &object : tree.objects) {
    const auto type = readAt<PERF_OBJECT_TYPE>(answer_, at);
    objects_.push_back({at, type.TotalByteLength, type.ObjectNameTitleIndex});
    std::vector<PERF_COUNTER_DEFINITION> definitions(object.counters.size());
    for (size_t i = 0; i < definitions.size(); ++i)
      definitions[i] = readAt<PERF_COUNTER_DEFINITION>(answer_, at + type.HeaderLength + i * sizeof definitions[i]);
    auto place = [&](size_t block, const std::vector<ValueSource> &sources) {
      for (size_t i = 0; i < definitions.size(); ++i)
        if (definitions[i].CounterSize != 0 && sources[i].width != 0)
          slots_.push_back(
              {block + definitions[i].CounterOffset, definitions[i].CounterSize, sources[i].offset, sources[i].type});
    };
    size_t next = at + type.DefinitionLength;
    if (!object.hasInstances) {
      place(next, object.sources);
    } else {
      for (const InstanceValues &instance : object.instances) {
        const size_t block = next + readAt<PERF_INSTANCE_DEFINITION>(answer_, next).ByteLength;
        place(block, instance.sources);
        next = block + readAt<PERF_COUNTER_BLOCK>(answer_, block).ByteLength;
      }
    }
    at += type.TotalByteLength;
  }
  reference_.assign(blob, blob + size);
  changing_ = std::move(tree.changing);
  planned_ = true;
  return true;
}

bool AnswerPlan::takeValues(const BYTE *blob, size_t size) {
  if (!planned_ || size != reference_.size()) return false;
  size_t from = 0;
  for (const BlobRange &range : changing_) {
    if (std::memcmp(blob + from, reference_.data() + from, range.offset - from) != 0) return false;
    from = range.offset + range.length;
  }
  if (std::memcmp(blob + from, reference_.data() + from, size - from) != 0) return false;
  for (const Slot &slot : slots_) {
    const LONGLONG value = scalarValue(slot.type, blob + slot.offset);
    if (slot.size == 4) {
      const DWORD low = static_cast<DWORD>(value);
      std::memcpy(answer_.data() + slot.at, &low, 4);
    } else {
      std::memcpy(answer_.data() + slot.at, &value, 8);
    }
  }
  return true;
}

DWORD AnswerPlan::write(const ObjectQuery &query, PerfClock clock, BYTE *buffer, DWORD capacity, DWORD &written,
                        DWORD &objects) const {
  if (!planned_) return writePerfData(unplanned_, query, titles_, clock, buffer, capacity, written, objects);
  written = 0;
  objects = 0;
  ULONGLONG total = 0;
  for (const ObjectPlace &object : objects_)
    if (query.wants(object.nameIndex)) total += object.length;
  if (total > capacity) return ERROR_MORE_DATA;
  BYTE *at = buffer;
  for (const ObjectPlace &object : objects_) {
    if (!query.wants(object.nameIndex)) continue;
    std::memcpy(at, answer_.data() + object.offset, object.length);
    PERF_OBJECT_TYPE type;
    std::memcpy(&type, at, sizeof type);
    type.PerfTime.QuadPart = clock.time;
    type.PerfFreq.QuadPart = clock.frequency;
    std::memcpy(at, &type, sizeof type);
    at += object.length;
    ++objects;
  }
  written = static_cast<DWORD>(total);
  return ERROR_SUCCESS;
}

}  // namespace rv::collector
