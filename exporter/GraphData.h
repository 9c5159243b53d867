// What the graph page reads once a second at /graph/data: the objects of the
// data with their instances and counters (name, type and DefaultScale), and
// the value of each counter path the query asks for ("path=" parameters),
// shown as perfquery shows it: rates against the previous reading.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SampleHistory.h"
#include "Scraper.h"

namespace exporter {

// The values of every `name=` parameter of a query string, decoded ("+" a
// space, "%hh" a byte). False, with `problem` saying where, for a "%" not
// followed by two hex digits.
bool queryValues(const std::string &query, const std::string &name, std::vector<std::string> &values,
                 std::string &problem);

// What one request may ask: its paths, and the bytes of its answer (every
// object with its instances and counters, and a line per counter chosen).
constexpr size_t GraphPathsLimit = 64;
constexpr size_t GraphAnswerLimit = 1024 * 1024;

class GraphData {
 public:
  // The JSON answer for `paths` (UTF-8 counter paths, "*" allowed) in
  // `reading`: {"machine", "failure" (null when the reading succeeded),
  // "objects": [{"name", "instances" (null for an object without), "counters":
  // [{"name", "type", "scale"}]}], "lines": [{"path", "asked", "type",
  // "scale", "value"}], "problems": [{"path", "problem"}]}. A line's path is
  // the full path perfquery prints for it, "asked" the path that chose it.
  // Nothing when the answer would pass GraphAnswerLimit bytes. Safe from
  // several threads at once.
  std::optional<std::string> answer(const Reading &reading, const std::vector<std::string> &paths);

 private:
  std::mutex lock_;
  // The readings seen so far, each object's latest and the one before.
  perfquery::SampleHistory history_;
};

}  // namespace exporter
