// Counter paths as the system's reader takes them,
// [\\machine]\Object[(Instance)]\Counter, and what a path stands for in a
// data block: the counters it names, each with its own full path.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "NameTable.h"
#include "PerfData.h"

namespace perfquery {

using rv::Text;

struct CounterPath {
  Text machine;  // empty when the path names none
  Text object;
  bool hasInstance = false;
  Text instance;  // may end in #n: the n-th further instance of that name
  Text counter;
};

// Reads `text` as a counter path. False, with `problem` saying what is wrong,
// for anything else: no leading backslash, an empty object or counter, an
// instance without its closing parenthesis.
bool parseCounterPath(const Text &text, CounterPath &path, std::string &problem);

// Whether `text` matches `pattern`, ignoring case; `*` in the pattern stands
// for any run of characters.
bool matchesPattern(const Text &pattern, const Text &text);

// One counter of one instance (or of an object without instances).
struct Selection {
  DWORD objectIndex = 0;
  bool hasInstance = false;
  Text instance;           // the instance's name, as data gives it
  size_t occurrence = 0;   // among instances of that name, from 0
  size_t counterPosition;  // in the object's counter definitions
  DWORD counterIndex = 0;
  Text path;  // \\machine\Object(Instance#n)\Counter, as headers show it
};

// The name an instance shows in a path: its name, and "#n" for the n-th
// further instance of the same name; "(no name)" stands for an empty name.
Text instanceLabel(const Text &name, size_t occurrence);

// The definition of a selected counter in `block`: a block may hold an
// object's index twice, so it is the counter of the selection's index in the
// first object of that index that has one. Null when none has.
const perfdata::CounterDefinition *selectedDefinition(const perfdata::DataBlock &block, const Selection &selection);

// The counters `path` stands for in `block`, in the order of the object's
// instances and, within each, of its counter definitions. Objects and
// counters match by their installed name or their index (#1234 or 1234);
// counters not meant to be shown (bases, PERF_DISPLAY_NOSHOW) match only by
// name or index, never through `*`. When nothing matches, `problem` says
// which part of the path found nothing.
std::vector<Selection> expandPath(const CounterPath &path, const perfdata::DataBlock &block,
                                  const perfdata::NameTable &names, std::string &problem);

// The path of one counter without a machine, as -q lists it: "(*)" for every
// instance of an object that has them.
Text listedPath(const perfdata::NameTable &names, const perfdata::Object &object, const Text *instance,
                const perfdata::CounterDefinition &counter);

}  // namespace perfquery
