#include "GraphData.h"

#include <winperf.h>

#include <map>
#include <set>

#include "CounterPath.h"
#include "CounterValues.h"
#include "SampleFormat.h"
#include "Utf8Text.h"

namespace exporter {
namespace {

using commandline::toUtf8;
using perfquery::jsonString;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool decoded(const std::string &text, std::string &plain, std::string &problem) {
  plain.clear();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '+') {
      plain += ' ';
    } else if (text[at] != '%') {
      plain += text[at];
    } else if (at + 2 < text.size() && hexDigit(text[at + 1]) >= 0 && hexDigit(text[at + 2]) >= 0) {
      plain += static_cast<char>(hexDigit(text[at + 1]) * 16 + hexDigit(text[at + 2]));
      at += 2;
    } else {
      problem = "'%' at " + std::to_string(at + 1) + " of '" + text + "' is not followed by two hex digits";
      return false;
    }
  }
  return true;
}

std::string objectsJson(const perfdata::DataBlock &block, const perfdata::NameTable &names) {
  std::string json;
  for (const perfdata::Object &object : block.objects) {
    json += std::string(json.empty() ? "" : ", ") + "{\"name\": " + jsonString(toUtf8(names.name(object.nameIndex))) +
            ", \"instances\": ";
    if (object.hasInstances()) {
      std::string instances;
      std::map<perfdata::Text, size_t> seen;
      for (const perfdata::Instance &instance : object.instances) {
        instances += std::string(instances.empty() ? "" : ", ") +
                     jsonString(toUtf8(perfquery::instanceLabel(instance.name, seen[instance.name]++)));
      }
      json += "[" + instances + "]";
    } else {
      json += "null";
    }
    std::string counters;
    for (const perfdata::CounterDefinition &counter : object.counters) {
      if ((counter.type & PERF_DISPLAY_NOSHOW) != 0) continue;
      counters += std::string(counters.empty() ? "" : ", ") +
                  "{\"name\": " + jsonString(toUtf8(names.name(counter.nameIndex))) +
                  ", \"type\": " + jsonString(perfdata::counterTypeName(counter.type)) +
                  ", \"scale\": " + std::to_string(counter.defaultScale) + "}";
    }
    json += ", \"counters\": [" + counters + "]}";
  }
  return json;
}

}  // namespace

bool queryValues(const std::string &query, const std::string &name, std::vector<std::string> &values,
                 std::string &problem) {
  values.clear();
  for (size_t start = 0; start < query.size();) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string parameter = query.substr(start, end - start);
    start = end + 1;
    const size_t equals = parameter.find('=');
    std::string key, value;
    if (!decoded(parameter.substr(0, equals), key, problem)) return false;
    if (key != name) continue;
    if (!decoded(equals == std::string::npos ? std::string() : parameter.substr(equals + 1), value, problem))
      return false;
    values.push_back(std::move(value));
  }
  return true;
}

std::optional<std::string> GraphData::answer(const Reading &reading, const std::vector<std::string> &paths) {
  std::string lines, problems;
  auto addProblem = [&problems](const std::string &path, const std::string &problem) {
    problems += std::string(problems.empty() ? "" : ", ") + "{\"path\": " + jsonString(path) +
                ", \"problem\": " + jsonString(problem) + "}";
  };
  std::string json = "{\"machine\": ";
  if (reading.block == nullptr) {
    json += "null, \"failure\": " + jsonString(reading.failure) + ", \"objects\": []";
    for (const std::string &path : paths) addProblem(path, "the performance data could not be read");
  } else {
    const perfdata::DataBlock &block = *reading.block;
    json += jsonString(toUtf8(block.systemName)) +
            ", \"failure\": " + (reading.failure.empty() ? std::string("null") : jsonString(reading.failure)) +
            ", \"objects\": [" + objectsJson(block, reading.names) + "]";
    // Checked as the answer grows, so that what is built never passes the
    // limit by more than a line.
    auto tooLarge = [&] { return json.size() + lines.size() + problems.size() > GraphAnswerLimit; };
    if (tooLarge()) return std::nullopt;
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::string &text : paths) {
      perfquery::CounterPath path;
      std::string problem;
      std::vector<perfquery::Selection> found;
      if (perfquery::parseCounterPath(commandline::fromUtf8(text), path, problem))
        found = perfquery::expandPath(path, block, reading.names, problem);
      if (found.empty()) addProblem(text, problem);
      for (const perfquery::Selection &selection : found) {
        // The path was expanded from this block: its counter is there.
        const perfdata::CounterDefinition &counter = *perfquery::selectedDefinition(block, selection);
        lines +=
            std::string(lines.empty() ? "" : ", ") + "{\"path\": " + jsonString(toUtf8(selection.path)) +
            ", \"asked\": " + jsonString(text) + ", \"type\": " + jsonString(perfdata::counterTypeName(counter.type)) +
            ", \"scale\": " + std::to_string(counter.defaultScale) +
            ", \"value\": " + perfquery::jsonValue(perfquery::selectedValue(selection, block, history_, false)) + "}";
        if (tooLarge()) return std::nullopt;
      }
      if (tooLarge()) return std::nullopt;
    }
    // Every object is kept, so that a rate asked for later has its earlier sample.
    std::set<DWORD> objects;
    for (const perfdata::Object &object : block.objects) objects.insert(object.nameIndex);
    history_.add(reading.block, objects);
  }
  return json + ", \"lines\": [" + lines + "], \"problems\": [" + problems + "]}\n";
}

}  // namespace exporter
