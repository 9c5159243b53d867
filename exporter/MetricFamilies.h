// What perf_exporter shows, apart from how it is written: metric families
// with their names, help texts, types and samples, made from a performance
// data block and from the exporter's own figures.
//
// Every counter of every object is one family named
// "perf_<object>_<counter>" after the installed names ("Counter 009"), or
// after the index where no name is installed ("#10000" gives "10000"). Names
// are lower case; each run of characters outside [a-z0-9_] becomes one "_"
// (a colon too: Prometheus keeps colons for recording rules).
//
// PERF_COUNTER_COUNTER and PERF_COUNTER_BULK_COUNT, counts that only grow,
// are counters: Prometheus takes their rate. Their family drops what says
// "per second" in the counter's name ("Requests/sec" gives "requests"), since
// the family holds the count and its samples end in "_total". Every other
// counter is a gauge with its raw value. Counters without numeric data (text,
// zero size) are left out.
//
// When two families would claim the same name, or a name another family's
// samples use ("x_total" of a counter "x"), the later one takes the first
// free "_2", "_3"... so a page names the same data the same way every time.
// The exporter's own series are claimed first.
//
// Instances are the label "perf_instance" (Prometheus attaches "instance" and
// "job" to every series itself); an object without instances has none. A
// name that two instances share gets "#1", "#2"... from its second holder on,
// as the performance monitor shows them. "_Total" instances are left out
// unless asked for: Prometheus sums by itself, and a sum over the instances
// alive at each moment drops when one of them closes, which a counter would
// read as a reset.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "NameTable.h"
#include "PerfData.h"

namespace exporter {

// The label that carries an instance's name.
extern const char instanceLabel[];

enum class MetricType { Counter, Gauge };

struct Metric {
  std::vector<std::pair<std::string, std::string>> labels;  // name, value (UTF-8, not escaped)
  std::string value;                                        // a number as the page writes it
};

struct MetricFamily {
  std::string name;  // without the "_total" of a counter's samples
  std::string help;  // UTF-8, not escaped
  MetricType type = MetricType::Gauge;
  std::vector<Metric> metrics;
};

// The names each family's samples take, so that no two families share one.
// The exporter's own series hold theirs from the start.
class FamilyNames {
 public:
  FamilyNames();

  // The first of `base`, `base_2`, `base_3`... whose names are all free,
  // now taken.
  std::string claim(const std::string &base, MetricType type);

 private:
  std::set<std::string> taken_;
};

struct FamilyOptions {
  bool withTotal = false;  // show "_Total" instances too
};

// The families of every counter of `block`, in block order, with names and
// help texts by index; each name is claimed from `names`.
std::vector<MetricFamily> counterFamilies(const perfdata::DataBlock &block, const perfdata::NameTable &names,
                                          const perfdata::NameTable &helpTexts, const FamilyOptions &options,
                                          FamilyNames &claimed);

// The exporter's own series: its build, and how the collection that this page
// shows went: its duration and whether it succeeded.
struct CollectionReport {
  bool succeeded = false;
  double seconds = 0;
};
std::vector<MetricFamily> exporterFamilies(const CollectionReport &report);

}  // namespace exporter
