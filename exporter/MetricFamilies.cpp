#include "MetricFamilies.h"

#include <windows.h>
#include <winperf.h>

#include <cstdio>
#include <iterator>
#include <map>

#include "CounterValues.h"
#include "Utf8Text.h"

namespace exporter {

const char instanceLabel[] = "perf_instance";

namespace {

using perfdata::Text;

// Every family name starts so; it also keeps a name from starting with a
// digit, which an object named after its index would.
const char metricPrefix[] = "perf_";

// The counts that only grow: Prometheus takes their rate itself.
bool isCumulative(DWORD type) { return type == PERF_COUNTER_COUNTER || type == PERF_COUNTER_BULK_COUNT; }

// A name as one part of a metric name: ASCII letters lowered, digits kept,
// every run of anything else one "_", none at either end. A name with no
// letter or digit at all stands as its index.
std::string namePart(const Text &name, DWORD index) {
  std::string part;
  bool gap = false;
  for (WCHAR c : name) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9')) {
      gap = true;
      continue;
    }
    if (gap && !part.empty()) part += '_';
    gap = false;
    part += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return part.empty() ? std::to_string(index) : part;
}

bool endsWith(const std::string &text, const std::string &end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A count's name without what says that readers show it per second, or that
// it is a total: the samples of its family end in "_total" anyway.
std::string countPart(std::string part) {
  for (const char *rate : {"_per_second", "_per_sec", "_sec", "_total"}) {
    if (endsWith(part, rate)) {
      part.resize(part.size() - std::char_traits<char>::length(rate));
      break;
    }
  }
  return part;
}

// The label value of each instance: its name, and for the second and later
// holders of a name that name with "#1", "#2"... (skipping any that some
// instance already bears).
std::vector<std::string> instanceNames(const perfdata::Object &object) {
  std::vector<std::string> labels;
  std::set<Text> used;
  std::map<Text, unsigned> nextNumber;
  for (const perfdata::Instance &instance : object.instances) {
    Text label = instance.name;
    if (!used.insert(label).second) {
      unsigned &number = nextNumber[instance.name];
      do {
        label = instance.name + commandline::fromUtf8("#" + std::to_string(++number));
      } while (!used.insert(label).second);
    }
    labels.push_back(commandline::toUtf8(label));
  }
  return labels;
}

bool isTotal(const perfdata::Instance &instance) {
  static const Text total = commandline::fromUtf8("_Total");
  return instance.name == total;
}

// A counter's raw value as a sample, false when the block does not hold it
// (the strict walk lets none through, but a hand-built block may).
bool rawSample(const perfdata::CounterDefinition &counter, const perfdata::CounterBlock &block, Metric &metric) {
  perfdata::RawValue value = perfdata::readRawValue(counter, block);
  if (value.size == 0) return false;
  metric.value = std::to_string(value.integer);
  return true;
}

// The exporter's own series, all gauges.
struct Series {
  const char *name;
  const char *help;
};
const Series exporterSeries[] = {
    {"perf_exporter_build_info", "The version and platform of perf_exporter; always 1."},
    {"perf_exporter_collection_duration_seconds", "How long reading the performance data for this page took."},
    {"perf_exporter_collection_success", "Whether the performance data for this page could be read (1) or not (0)."},
};

}  // namespace

FamilyNames::FamilyNames() {
  for (const Series &series : exporterSeries) claim(series.name, MetricType::Gauge);
}

std::string FamilyNames::claim(const std::string &base, MetricType type) {
  for (unsigned suffix = 1;; ++suffix) {
    std::string name = suffix == 1 ? base : base + "_" + std::to_string(suffix);
    std::vector<std::string> names{name};
    // The names the parsers reserve for a counter's samples.
    if (type == MetricType::Counter) names.insert(names.end(), {name + "_total", name + "_created"});
    bool free = true;
    for (const std::string &each : names) free = free && taken_.count(each) == 0;
    if (!free) continue;
    taken_.insert(names.begin(), names.end());
    return name;
  }
}

std::vector<MetricFamily> counterFamilies(const perfdata::DataBlock &block, const perfdata::NameTable &names,
                                          const perfdata::NameTable &helpTexts, const FamilyOptions &options,
                                          FamilyNames &claimed) {
  std::vector<MetricFamily> families;
  for (const perfdata::Object &object : block.objects) {
    const Text objectName = names.name(object.nameIndex);
    const std::string objectPart = namePart(objectName, object.nameIndex);
    const std::vector<std::string> instances = instanceNames(object);
    for (const perfdata::CounterDefinition &counter : object.counters) {
      // Variable-length (text) and zero-size counters have no number to show.
      DWORD sizeBits = counter.type & PERF_SIZE_VARIABLE_LEN;
      if (sizeBits != PERF_SIZE_DWORD && sizeBits != PERF_SIZE_LARGE) continue;

      MetricFamily family;
      family.type = isCumulative(counter.type) ? MetricType::Counter : MetricType::Gauge;
      const Text counterName = names.name(counter.nameIndex);
      std::string counterPart = namePart(counterName, counter.nameIndex);
      if (family.type == MetricType::Counter) counterPart = countPart(counterPart);
      family.name = claimed.claim(metricPrefix + objectPart + "_" + counterPart, family.type);
      family.help = commandline::toUtf8(helpTexts.has(counter.helpIndex)
                                            ? helpTexts.name(counter.helpIndex)
                                            : counterName + commandline::fromUtf8(" of ") + objectName +
                                                  commandline::fromUtf8(" (no help text is installed)"));
      if (object.hasInstances()) {
        for (size_t at = 0; at < object.instances.size(); ++at) {
          if (!options.withTotal && isTotal(object.instances[at])) continue;
          Metric metric;
          metric.labels.emplace_back(instanceLabel, instances[at]);
          if (rawSample(counter, object.instances[at].counters, metric)) family.metrics.push_back(std::move(metric));
        }
      } else {
        Metric metric;
        if (rawSample(counter, object.counterBlock, metric)) family.metrics.push_back(std::move(metric));
      }
      families.push_back(std::move(family));
    }
  }
  return families;
}

std::vector<MetricFamily> exporterFamilies(const CollectionReport &report) {
  char seconds[32];
  snprintf(seconds, sizeof seconds, "%.6f", report.seconds);
  const std::string values[] = {"1", seconds, report.succeeded ? "1" : "0"};
  std::vector<MetricFamily> families;
  for (size_t at = 0; at < std::size(exporterSeries); ++at) {
    MetricFamily family;
    family.name = exporterSeries[at].name;
    family.help = exporterSeries[at].help;
    family.metrics.push_back(Metric{{}, values[at]});
    families.push_back(std::move(family));
  }
  families.front().metrics.front().labels = {{"version", EXPORTER_VERSION}, {"platform", EXPORTER_PLATFORM}};
  return families;
}

}  // namespace exporter
