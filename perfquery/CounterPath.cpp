#include "CounterPath.h"

#include <winperf.h>

#include <map>

namespace perfquery {
namespace {

using perfdata::CounterDefinition;
using perfdata::DataBlock;
using perfdata::NameTable;
using perfdata::Object;

Text upper(Text text) {
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

bool isWildcard(const Text &pattern) { return pattern.find(u'*') != Text::npos; }

// Whether a part of a path names the item with this name index: by its
// installed name (or a pattern of it), or by its index.
bool namesItem(const Text &part, DWORD index, const NameTable &names) {
  DWORD asked = 0;
  if (!isWildcard(part) && perfdata::parseIndex(part, asked)) return asked == index;
  return matchesPattern(part, names.name(index));
}

// Splits "name#n" into its name and n; a name without such an ending is the
// first of its name.
void splitOccurrence(const Text &instance, Text &name, size_t &occurrence) {
  name = instance;
  occurrence = 0;
  const size_t mark = instance.rfind(u'#');
  if (mark == Text::npos || mark + 1 == instance.size() || mark + 10 < instance.size()) return;
  size_t number = 0;
  for (size_t at = mark + 1; at < instance.size(); ++at) {
    if (instance[at] < u'0' || instance[at] > u'9') return;
    number = number * 10 + static_cast<size_t>(instance[at] - u'0');
  }
  name = instance.substr(0, mark);
  occurrence = number;
}

bool hidden(const CounterDefinition &counter) { return (counter.type & PERF_DISPLAY_NOSHOW) != 0; }

Text text(const char *ascii) {
  Text result;
  for (; *ascii != 0; ++ascii) result += static_cast<WCHAR>(*ascii);
  return result;
}

}  // namespace

bool parseCounterPath(const Text &path, CounterPath &parsed, std::string &problem) {
  parsed = CounterPath();
  size_t at = 0;
  if (path.compare(0, 2, OLESTR("\\\\")) == 0) {
    const size_t end = path.find(u'\\', 2);
    if (end == Text::npos || end == 2) {
      problem = "a machine name must be followed by \\Object\\Counter";
      return false;
    }
    parsed.machine = path.substr(2, end - 2);
    at = end;
  }
  if (at >= path.size() || path[at] != u'\\') {
    problem = "a counter path begins with a backslash: \\Object(Instance)\\Counter or \\Object\\Counter";
    return false;
  }
  ++at;
  const size_t stop = path.find_first_of(OLESTR("(\\"), at);
  if (stop == Text::npos || stop == at) {
    problem = stop == at ? "the object's name is empty" : "the path names no counter: \\Object\\Counter";
    return false;
  }
  parsed.object = path.substr(at, stop - at);
  size_t counterAt = stop + 1;
  if (path[stop] == u'(') {
    // An instance name may hold parentheses and backslashes of its own: it
    // ends at the last ")\" of the path.
    const size_t close = path.rfind(OLESTR(")\\"));
    if (close == Text::npos || close < stop) {
      problem = "the instance has no closing parenthesis before \\Counter";
      return false;
    }
    parsed.hasInstance = true;
    parsed.instance = path.substr(stop + 1, close - stop - 1);
    if (parsed.instance.empty()) {
      problem = "the instance's name is empty; * stands for every instance";
      return false;
    }
    counterAt = close + 2;
  }
  parsed.counter = path.substr(counterAt);
  if (parsed.counter.empty()) {
    problem = "the counter's name is empty; * stands for every counter";
    return false;
  }
  return true;
}

bool matchesPattern(const Text &pattern, const Text &candidate) {
  const Text want = upper(pattern), have = upper(candidate);
  // The classic walk with one point to return to: linear for one star, and
  // never worse than the pattern's length times the text's.
  size_t p = 0, t = 0, star = Text::npos, resume = 0;
  while (t < have.size()) {
    if (p < want.size() && want[p] == u'*') {
      star = p++;
      resume = t;
    } else if (p < want.size() && want[p] == have[t]) {
      ++p;
      ++t;
    } else if (star != Text::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < want.size() && want[p] == u'*') ++p;
  return p == want.size();
}

Text instanceLabel(const Text &name, size_t occurrence) {
  Text label = name.empty() ? text("(no name)") : name;
  if (occurrence != 0) label += text(("#" + std::to_string(occurrence)).c_str());
  return label;
}

const CounterDefinition *selectedDefinition(const DataBlock &block, const Selection &selection) {
  for (const Object &object : block.objects) {
    if (object.nameIndex != selection.objectIndex) continue;
    for (const CounterDefinition &counter : object.counters)
      if (counter.nameIndex == selection.counterIndex) return &counter;
  }
  return nullptr;
}

std::vector<Selection> expandPath(const CounterPath &path, const DataBlock &block, const NameTable &names,
                                  std::string &problem) {
  std::vector<Selection> selections;
  bool objectFound = false, instanceFound = false;
  Text instanceName;
  size_t instanceOccurrence = 0;
  splitOccurrence(path.instance, instanceName, instanceOccurrence);
  const Text machine = path.machine.empty() ? block.systemName : path.machine;
  for (const Object &object : block.objects) {
    if (!namesItem(path.object, object.nameIndex, names)) continue;
    objectFound = true;
    // The counters asked for, in definition order.
    std::vector<size_t> counters;
    for (size_t position = 0; position < object.counters.size(); ++position) {
      const CounterDefinition &counter = object.counters[position];
      if (isWildcard(path.counter) && hidden(counter)) continue;
      if (namesItem(path.counter, counter.nameIndex, names)) counters.push_back(position);
    }
    auto add = [&](bool hasInstance, const Text &name, size_t occurrence) {
      instanceFound = true;
      for (size_t position : counters) {
        Selection selection;
        selection.objectIndex = object.nameIndex;
        selection.hasInstance = hasInstance;
        selection.instance = name;
        selection.occurrence = occurrence;
        selection.counterPosition = position;
        selection.counterIndex = object.counters[position].nameIndex;
        selection.path =
            (machine.empty() ? Text() : text("\\\\") + machine) + text("\\") + names.name(object.nameIndex);
        if (hasInstance) selection.path += text("(") + instanceLabel(name, occurrence) + text(")");
        selection.path += text("\\") + names.name(selection.counterIndex);
        selections.push_back(std::move(selection));
      }
    };
    if (!object.hasInstances()) {
      // An object without instances has one set of values, which "(*)" takes too.
      if (!path.hasInstance || path.instance == text("*")) add(false, Text(), 0);
      continue;
    }
    if (!path.hasInstance) continue;
    std::map<Text, size_t> seen;
    for (const perfdata::Instance &instance : object.instances) {
      const size_t occurrence = seen[instance.name]++;
      const bool matches = isWildcard(path.instance)
                               ? matchesPattern(path.instance, instanceLabel(instance.name, occurrence))
                               : upper(instance.name) == upper(instanceName) && occurrence == instanceOccurrence;
      if (matches) add(true, instance.name, occurrence);
    }
  }
  if (!selections.empty()) return selections;
  if (!objectFound) {
    problem = "no performance object of that name is in the data";
  } else if (!instanceFound) {
    problem = path.hasInstance ? "the object has no instance of that name"
                               : "the object has instances: name one, or * for every one";
  } else {
    problem = "the object has no counter of that name";
  }
  return selections;
}

Text listedPath(const NameTable &names, const Object &object, const Text *instance, const CounterDefinition &counter) {
  Text path = text("\\") + names.name(object.nameIndex);
  if (object.hasInstances()) path += text("(") + (instance != nullptr ? *instance : text("*")) + text(")");
  return path + text("\\") + names.name(counter.nameIndex);
}

}  // namespace perfquery
