// perfquery: lists the performance objects the system publishes, an object's
// counters and instances, or its counter values once or at an interval, in
// the manner of typeperf. Output is UTF-8 on standard output; messages go to
// standard error.
#include <windows.h>
#include <winperf.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CollectorServices.h"
#include "CommandLine.h"
#include "CounterValues.h"
#include "NameTable.h"
#include "PerfData.h"
#include "PerfReader.h"
#include "QueryOptions.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

using namespace perfdata;

namespace {

using commandline::Failure;
using commandline::fromUtf8;
using commandline::Success;
using commandline::toUtf8;
using perfquery::Request;

// An unknown object and data that could not be read fail alike: the message says which.
constexpr int UnknownObject = Failure, QueryFailed = Failure;

int queryFailure(const Text &what, LONG code) {
  fprintf(stderr, "perfquery: reading performance data \"%s\" failed: %s\n", toUtf8(what).c_str(),
          commandline::systemReason(static_cast<DWORD>(code)).c_str());
  return QueryFailed;
}

// Reads one text table into `names`. A table that is not installed leaves
// the names empty; a damaged one is used as far as it reads.
LONG loadNames(PerfReader &reader, const Text &what, NameTable &names) {
  std::vector<BYTE> bytes;
  LONG result = reader.queryText(what.c_str(), bytes);
  if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (result != ERROR_SUCCESS) return result;
  std::string problem;
  if (!names.add(bytes.data(), bytes.size(), problem)) {
    fprintf(stderr, "perfquery: warning: \"%s\": %s\n", toUtf8(what).c_str(), problem.c_str());
  }
  return ERROR_SUCCESS;
}

// Reads and walks a data block; false after telling why.
bool readBlock(PerfReader &reader, const Text &what, DataBlock &block, int &exitCode) {
  std::vector<BYTE> bytes;
  LONG result = reader.queryData(what.c_str(), bytes);
  if (result != ERROR_SUCCESS) {
    exitCode = queryFailure(what, result);
    return false;
  }
  std::string problem;
  if (!parseDataBlock(bytes.data(), bytes.size(), block, problem)) {
    fprintf(stderr, "perfquery: the performance data \"%s\" is malformed: %s\n", toUtf8(what).c_str(), problem.c_str());
    exitCode = QueryFailed;
    return false;
  }
  // A device whose tree the collector cannot read shows no objects: say
  // which and why, once each, and fail when nothing at all could be read.
  static std::set<std::string> told;
  bool unreadable = false;
  for (const rv::collector::DeviceReport &report : rv::collector::reportDevices()) {
    if (report.state != rv::collector::DeviceReport::State::Unreadable) continue;
    unreadable = true;
    const std::string message =
        "device " + toUtf8(report.device) + " shows no data: " + report.reason +
        (FAILED(report.failure) ? ": " + commandline::systemReason(static_cast<DWORD>(report.failure)) : "");
    if (told.insert(message).second) fprintf(stderr, "perfquery: %s\n", message.c_str());
  }
  if (unreadable && block.objects.empty()) {
    exitCode = QueryFailed;
    return false;
  }
  return true;
}

// Text columns padded to their widest cell; columns from `firstNumeric` on
// are aligned to the right. Widths count characters, not UTF-8 bytes.
void printTable(const std::vector<std::vector<std::string>> &rows, size_t firstNumeric) {
  auto width = [](const std::string &text) {
    size_t characters = 0;
    for (unsigned char byte : text) characters += (byte & 0xC0) != 0x80;
    return characters;
  };
  std::vector<size_t> widths;
  for (const auto &row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t column = 0; column < row.size(); ++column) {
      if (widths[column] < width(row[column])) widths[column] = width(row[column]);
    }
  }
  for (const auto &row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      std::string padding(widths[column] - width(row[column]), ' ');
      if (column != 0) line += "  ";
      bool last = column + 1 == row.size();
      line += column >= firstNumeric ? padding + row[column] : row[column] + (last ? "" : padding);
    }
    printf("%s\n", line.c_str());
  }
}

std::string number(ULONGLONG value) { return std::to_string(value); }

std::string instanceName(const Instance &instance) {
  return instance.name.empty() ? std::string("(no name)") : toUtf8(instance.name);
}

int listObjects(PerfReader &reader, const NameTable &names) {
  DataBlock block;
  int exitCode = Success;
  if (!readBlock(reader, OLESTR("Global"), block, exitCode)) return exitCode;
  std::vector<std::vector<std::string>> rows{{"Object", "Index", "Counters", "Instances"}};
  for (const Object &object : block.objects) {
    rows.push_back({toUtf8(names.name(object.nameIndex)), number(object.nameIndex), number(object.counters.size()),
                    object.hasInstances() ? number(object.instances.size()) : "-"});
  }
  printTable(rows, 1);
  return Success;
}

// The indices the user's object may stand for, or none for a name not known.
std::vector<DWORD> candidateIndices(const Text &object, const NameTable &names) {
  DWORD index = 0;
  if (parseIndex(object, index)) return {index};
  return names.indicesNamed(object);
}

// The query text for a list of indices: "230 232".
Text indexQuery(const std::vector<DWORD> &indices) {
  std::string text;
  for (DWORD index : indices) text += (text.empty() ? "" : " ") + std::to_string(index);
  return fromUtf8(text);
}

const Object *findObject(const DataBlock &block, const std::vector<DWORD> &indices) {
  for (const Object &object : block.objects) {
    for (DWORD index : indices) {
      if (object.nameIndex == index) return &object;
    }
  }
  return nullptr;
}

int unknownObject(const Text &object) {
  fprintf(stderr, "perfquery: no performance object named \"%s\"\n", toUtf8(object).c_str());
  return UnknownObject;
}

// An object whose name is installed, or asked for by its index, that the data
// do not hold: its host is not running (or withdrew its tree).
int absentObject(const Text &object) {
  fprintf(stderr, "perfquery: \"%s\" is installed, but no host publishes it now, so it has no data\n",
          toUtf8(object).c_str());
  return UnknownObject;
}

// An object not in the data: one installed under that name or index is
// absent. An index without an installed name (Wine installs none) may be
// the object of a device whose host is not running; those are named.
int missingObject(const Text &object, const NameTable &names) {
  DWORD index = 0;
  if (!parseIndex(object, index) || names.has(index)) return absentObject(object);
  std::string idle;
  for (const rv::collector::DeviceReport &report : rv::collector::reportDevices()) {
    if (report.state == rv::collector::DeviceReport::State::NotRunning) {
      idle += (idle.empty() ? "" : ", ") + toUtf8(report.device);
    }
  }
  if (idle.empty()) return unknownObject(object);
  fprintf(stderr, "perfquery: no performance object \"%s\" is in the data now; no host publishes for %s\n",
          toUtf8(object).c_str(), idle.c_str());
  return UnknownObject;
}

int listCounters(PerfReader &reader, const NameTable &names, const Text &objectName) {
  std::vector<DWORD> indices = candidateIndices(objectName, names);
  if (indices.empty()) return unknownObject(objectName);
  NameTable help;
  if (LONG result = loadNames(reader, OLESTR("Help 009"), help); result != ERROR_SUCCESS) {
    return queryFailure(OLESTR("Help 009"), result);
  }
  DataBlock block;
  int exitCode = Success;
  if (!readBlock(reader, indexQuery(indices), block, exitCode)) return exitCode;
  const Object *object = findObject(block, indices);
  if (object == nullptr) return missingObject(objectName, names);

  printf("Object %s (index %lu): %zu counters, ", toUtf8(names.name(object->nameIndex)).c_str(),
         static_cast<unsigned long>(object->nameIndex), object->counters.size());
  if (object->hasInstances()) {
    printf("%zu instances\n", object->instances.size());
  } else {
    printf("no instances\n");
  }
  if (help.has(object->helpIndex)) printf("%s\n", toUtf8(help.name(object->helpIndex)).c_str());
  printf("\n");
  std::vector<std::vector<std::string>> rows{{"Counter", "Index", "Type", "Size"}};
  for (const CounterDefinition &counter : object->counters) {
    const char *typeName = counterTypeName(counter.type);
    char hexType[16];
    snprintf(hexType, sizeof hexType, "0x%08lX", static_cast<unsigned long>(counter.type));
    rows.push_back({toUtf8(names.name(counter.nameIndex)), number(counter.nameIndex),
                    typeName != nullptr ? typeName : hexType, number(counterDataSize(counter.type, counter.size))});
  }
  printTable(rows, 3);
  if (object->hasInstances()) {
    printf("\nInstances:\n");
    for (const Instance &instance : object->instances) printf("  %s\n", instanceName(instance).c_str());
  }
  return Success;
}

std::string sampleTime(const SYSTEMTIME &time) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
           time.wMinute, time.wSecond);
  return text;
}

// One table of values; `before` is an earlier sample of the same object, in
// `beforeBlock`, or null.
void printValues(const NameTable &names, const DataBlock &block, const Object &object, const DataBlock *beforeBlock,
                 const Object *before) {
  std::vector<std::vector<std::string>> rows(1);
  if (object.hasInstances()) rows[0].push_back("Instance");
  for (const CounterDefinition &counter : object.counters) rows[0].push_back(toUtf8(names.name(counter.nameIndex)));

  auto addRow = [&](std::vector<std::string> row, const CounterBlock &counters, const CounterBlock *earlier) {
    Sample now = sampleOf(counters, object, block);
    Sample then = earlier != nullptr ? sampleOf(*earlier, *before, *beforeBlock) : Sample{};
    for (const CounterValue &value : displayValues(object.counters, now, earlier != nullptr ? &then : nullptr)) {
      row.push_back(formatValue(value));
    }
    rows.push_back(std::move(row));
  };
  if (object.hasInstances()) {
    std::vector<const Instance *> matches =
        before != nullptr ? matchInstances(*before, object) : std::vector<const Instance *>(object.instances.size());
    for (size_t index = 0; index < object.instances.size(); ++index) {
      addRow({instanceName(object.instances[index])}, object.instances[index].counters,
             matches[index] != nullptr ? &matches[index]->counters : nullptr);
    }
  } else {
    addRow({}, object.counterBlock, before != nullptr ? &before->counterBlock : nullptr);
  }
  printTable(rows, object.hasInstances() ? 1 : 0);
}

// When an object's data was taken, by the clock that times its rates.
LONGLONG takenAt(const Object &object, const DataBlock &block) {
  return sampleOf(object.counterBlock, object, block).perfTime;
}

int showValues(PerfReader &reader, const NameTable &names, const Request &request) {
  std::vector<DWORD> indices = candidateIndices(request.object, names);
  if (indices.empty()) return unknownObject(request.object);
  Text query = indexQuery(indices);
  bool stamped = request.count > 1;
  // Rates are taken against the latest sample whose data is older than the
  // new one's: a reader that samples faster than the host publishes gets
  // the same data twice, which says nothing of a rate.
  DataBlock current, latest, older;
  for (ULONGLONG sample = 0; sample < request.count; ++sample) {
    if (sample != 0) Sleep(request.intervalMilliseconds);
    int exitCode = Success;
    if (!readBlock(reader, query, current, exitCode)) return exitCode;
    const Object *object = findObject(current, indices);
    if (object == nullptr && sample == 0) return missingObject(request.object, names);
    if (stamped) printf("%s%s\n", sample != 0 ? "\n" : "", sampleTime(current.systemTime).c_str());
    if (object == nullptr) {
      printf("(the object is not in this sample)\n");
    } else {
      const LONGLONG now = takenAt(*object, current);
      const DataBlock *beforeBlock = nullptr;
      const Object *before = nullptr;
      for (const DataBlock *candidate : {&latest, &older}) {
        const Object *earlier = findObject(*candidate, indices);
        if (earlier != nullptr && takenAt(*earlier, *candidate) < now) {
          beforeBlock = candidate;
          before = earlier;
          break;
        }
      }
      printValues(names, current, *object, beforeBlock, before);
      const Object *last = findObject(latest, indices);
      if (last != nullptr && takenAt(*last, latest) < now) older = std::move(latest);
    }
    fflush(stdout);
    latest = std::move(current);
    current = DataBlock();
  }
  return Success;
}

int run(const Request &request) {
  PerfReader reader;
  NameTable names;
  if (LONG result = loadNames(reader, OLESTR("Counter 009"), names); result != ERROR_SUCCESS) {
    return queryFailure(OLESTR("Counter 009"), result);
  }
  switch (request.action) {
    case Request::Action::ListObjects: return listObjects(reader, names);
    case Request::Action::ListCounters: return listCounters(reader, names, request.object);
    default: return showValues(reader, names, request);
  }
}

}  // namespace

int main(int argc, char **argv) {
  return commandline::runProgram(perfquery::Program, argc, argv, perfquery::parseRequest, run);
}
