#include "SampleHistory.h"

namespace perfquery {

using perfdata::CounterBlock;
using perfdata::CounterValue;
using perfdata::DataBlock;
using perfdata::Object;
using perfdata::Sample;

LONGLONG takenAt(const Object &object, const DataBlock &block) {
  return perfdata::sampleOf(object.counterBlock, object, block).perfTime;
}

void SampleHistory::add(const std::shared_ptr<const DataBlock> &block, const std::set<DWORD> &objects) {
  for (DWORD index : objects) {
    const Object *object = block->findObject(index);
    if (object == nullptr) continue;
    Taken taken{block, object, takenAt(*object, *block)};
    auto last = latest_.find(index);
    if (last != latest_.end() && last->second.at < taken.at) older_[index] = last->second;
    latest_[index] = std::move(taken);
  }
}

const SampleHistory::Taken *SampleHistory::before(DWORD index, LONGLONG now) const {
  for (const std::map<DWORD, Taken> *taken : {&latest_, &older_}) {
    auto found = taken->find(index);
    if (found != taken->end() && found->second.at < now) return &found->second;
  }
  return nullptr;
}

const CounterBlock *blockOf(const Object &object, const Selection &selection) {
  if (!selection.hasInstance) return object.hasInstances() ? nullptr : &object.counterBlock;
  size_t seen = 0;
  for (const perfdata::Instance &instance : object.instances) {
    if (instance.name == selection.instance && seen++ == selection.occurrence) return &instance.counters;
  }
  return nullptr;
}

CounterValue shownValue(CounterValue value) {
  if (value.form == CounterValue::Form::FirstRaw) value.form = CounterValue::Form::Undefined;
  return value;
}

CounterValue selectedValue(const Selection &selection, const DataBlock &block, const SampleHistory &history, bool raw) {
  CounterValue none;
  none.form = CounterValue::Form::Undefined;
  const Object *object = block.findObject(selection.objectIndex);
  if (object == nullptr) return none;
  size_t position = selection.counterPosition;
  if (position >= object->counters.size() || object->counters[position].nameIndex != selection.counterIndex) {
    position = object->counters.size();
    for (size_t at = 0; at < object->counters.size(); ++at)
      if (object->counters[at].nameIndex == selection.counterIndex) position = at;
  }
  const CounterBlock *counters = blockOf(*object, selection);
  if (position == object->counters.size() || counters == nullptr) return none;
  const Sample now = perfdata::sampleOf(*counters, *object, block);
  Sample then;
  const SampleHistory::Taken *earlier = raw ? nullptr : history.before(selection.objectIndex, now.perfTime);
  const CounterBlock *earlierCounters = earlier != nullptr ? blockOf(*earlier->object, selection) : nullptr;
  if (earlierCounters != nullptr) then = perfdata::sampleOf(*earlierCounters, *earlier->object, *earlier->block);
  return shownValue(
      perfdata::counterValue(object->counters, position, now, earlierCounters != nullptr ? &then : nullptr, raw));
}

}  // namespace perfquery
