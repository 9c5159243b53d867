#include "OpenMetricsPage.h"

#include <windows.h>
#include <winperf.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CounterValues.h"
#include "Utf8Text.h"

namespace exporter {

const char openMetricsContentType[] = "application/openmetrics-text; version=1.0.0; charset=utf-8";

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

// Text as an OpenMetrics escaped string (help texts and label values): a
// backslash, a double quote and a line end escaped, a CR LF pair or a lone CR
// taken as one line end.
std::string escaped(const Text &text) {
  std::string utf8 = perfdata::toUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size(); ++at) {
    char c = utf8[at];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\n";
      if (at + 1 < utf8.size() && utf8[at + 1] == '\n') ++at;
    } else {
      out += c;
    }
  }
  return out;
}

// The names each family's samples take, so that no two families share one.
class NameRegistry {
 public:
  // The first of `base`, `base_2`, `base_3`... whose names are all free,
  // now taken.
  std::string claim(const std::string &base, bool cumulative) {
    for (unsigned suffix = 1;; ++suffix) {
      std::string name = suffix == 1 ? base : base + "_" + std::to_string(suffix);
      std::vector<std::string> names{name};
      // The names the parser reserves for a counter's samples.
      if (cumulative) names.insert(names.end(), {name + "_total", name + "_created"});
      bool free = true;
      for (const std::string &each : names) free = free && taken_.count(each) == 0;
      if (!free) continue;
      taken_.insert(names.begin(), names.end());
      return name;
    }
  }

 private:
  std::set<std::string> taken_;
};

// The label value of each instance: its name, and for the second and later
// holders of a name that name with "#1", "#2"... (skipping any that some
// instance already bears).
std::vector<std::string> instanceLabels(const perfdata::Object &object) {
  std::vector<std::string> labels;
  std::set<Text> used;
  std::map<Text, unsigned> nextNumber;
  for (const perfdata::Instance &instance : object.instances) {
    Text label = instance.name;
    if (!used.insert(label).second) {
      unsigned &number = nextNumber[instance.name];
      do {
        label = instance.name + perfdata::fromUtf8("#" + std::to_string(++number));
      } while (!used.insert(label).second);
    }
    labels.push_back("{instance=\"" + escaped(label) + "\"}");
  }
  return labels;
}

void appendSample(std::string &page, const std::string &name, const std::string &labels,
                  const perfdata::CounterDefinition &counter, const perfdata::CounterBlock &block) {
  perfdata::RawValue value = perfdata::readRawValue(counter, block);
  // A block too short for the counter reads as size 0; the strict walk
  // lets none through, but a hand-built block may.
  if (value.size == 0) return;
  page += name;
  page += labels;
  page += ' ';
  page += std::to_string(value.integer);
  page += '\n';
}

}  // namespace

std::string renderOpenMetrics(const perfdata::DataBlock &block, const perfdata::NameTable &names,
                              const perfdata::NameTable &helpTexts) {
  std::string page;
  NameRegistry registry;
  for (const perfdata::Object &object : block.objects) {
    const Text objectName = names.name(object.nameIndex);
    const std::string objectPart = namePart(objectName, object.nameIndex);
    const std::vector<std::string> labels = instanceLabels(object);
    for (const perfdata::CounterDefinition &counter : object.counters) {
      // Variable-length (text) and zero-size counters have no number to show.
      DWORD sizeBits = counter.type & PERF_SIZE_VARIABLE_LEN;
      if (sizeBits != PERF_SIZE_DWORD && sizeBits != PERF_SIZE_LARGE) continue;

      const Text counterName = names.name(counter.nameIndex);
      const bool cumulative = isCumulative(counter.type);
      const std::string family =
          registry.claim(metricPrefix + objectPart + "_" + namePart(counterName, counter.nameIndex), cumulative);
      const Text help = helpTexts.has(counter.helpIndex)
                            ? helpTexts.name(counter.helpIndex)
                            : counterName + perfdata::fromUtf8(" of ") + objectName +
                                  perfdata::fromUtf8(" (no help text is installed)");
      page += "# HELP " + family + " " + escaped(help) + "\n";
      page += "# TYPE " + family + (cumulative ? " counter\n" : " gauge\n");

      const std::string sample = cumulative ? family + "_total" : family;
      if (object.hasInstances()) {
        for (size_t at = 0; at < object.instances.size(); ++at) {
          appendSample(page, sample, labels[at], counter, object.instances[at].counters);
        }
      } else {
        appendSample(page, sample, "", counter, object.counterBlock);
      }
    }
  }
  page += "# EOF\n";
  return page;
}

}  // namespace exporter
