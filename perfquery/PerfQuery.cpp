// perfquery: lists the performance objects the system publishes, an object's
// counters and instances, or the counter paths there are; shows an object's
// counter values, or those of counter paths, once or at an interval, as a
// table, CSV, TSV or JSON, in the manner of typeperf; or shows the records of
// a blob file as the component reads them. Output is UTF-8 on
// standard output or in the file of -o; messages go to standard error.
#include <windows.h>
#include <objbase.h>
#include <winperf.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BlobInspector.h"
#include "BlobReport.h"
#include "CollectorServices.h"
#include "CommandLine.h"
#include "CounterPath.h"
#include "CounterValues.h"
#include "FileContents.h"
#include "NameTable.h"
#include "PerfData.h"
#include "PerfReader.h"
#include "QueryOptions.h"
#include "QueryOutput.h"
#include "SampleFormat.h"
#include "SampleHistory.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

using namespace perfdata;

namespace {

using commandline::Failure;
using commandline::fromUtf8;
using commandline::Success;
using commandline::toUtf8;
using perfquery::CounterPath;
using perfquery::Format;
using perfquery::QueryOutput;
using perfquery::Request;
using perfquery::SampleHistory;
using perfquery::selectedValue;
using perfquery::Selection;
using perfquery::shownValue;
using perfquery::takenAt;

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

// Where the program writes, and whether everything written got there.
class Writer {
 public:
  explicit Writer(QueryOutput &output) : output_(output) {}
  void operator()(const std::string &text) {
    std::string problem;
    if (failed_ || output_.write(text, problem)) return;
    fprintf(stderr, "perfquery: %s\n", problem.c_str());
    failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  QueryOutput &output_;
  bool failed_ = false;
};

// Opens the output; false after saying why.
bool openOutput(QueryOutput &output, const Request &request) {
  std::string problem;
  if (output.open(request.outputFile, request.overwrite, problem)) return true;
  fprintf(stderr, "perfquery: %s\n", problem.c_str());
  return false;
}

std::string number(ULONGLONG value) { return std::to_string(value); }

std::string instanceName(const Instance &instance) {
  return instance.name.empty() ? std::string("(no name)") : toUtf8(instance.name);
}

int listObjects(PerfReader &reader, const NameTable &names, const Request &request) {
  DataBlock block;
  int exitCode = Success;
  if (!readBlock(reader, OLESTR("Global"), block, exitCode)) return exitCode;
  std::vector<std::vector<std::string>> rows{{"Object", "Index", "Counters", "Instances"}};
  for (const Object &object : block.objects) {
    rows.push_back({toUtf8(names.name(object.nameIndex)), number(object.nameIndex), number(object.counters.size()),
                    object.hasInstances() ? number(object.instances.size()) : "-"});
  }
  QueryOutput output;
  if (!openOutput(output, request)) return Failure;
  Writer write(output);
  write(perfquery::renderTable(rows, 1));
  return write.failed() ? Failure : Success;
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

// Reads the help texts; false after saying why.
bool loadHelp(PerfReader &reader, NameTable &help, int &exitCode) {
  if (LONG result = loadNames(reader, OLESTR("Help 009"), help); result != ERROR_SUCCESS) {
    exitCode = queryFailure(OLESTR("Help 009"), result);
    return false;
  }
  return true;
}

int listCounters(PerfReader &reader, const NameTable &names, const Request &request) {
  const Text &objectName = request.object;
  std::vector<DWORD> indices = candidateIndices(objectName, names);
  if (indices.empty()) return unknownObject(objectName);
  NameTable help;
  int exitCode = Success;
  if (!loadHelp(reader, help, exitCode)) return exitCode;
  DataBlock block;
  if (!readBlock(reader, indexQuery(indices), block, exitCode)) return exitCode;
  const Object *object = findObject(block, indices);
  if (object == nullptr) return missingObject(objectName, names);

  std::string text = "Object " + toUtf8(names.name(object->nameIndex)) + " (index " + number(object->nameIndex) +
                     "): " + number(object->counters.size()) + " counters, " +
                     (object->hasInstances() ? number(object->instances.size()) + " instances" : "no instances") + "\n";
  if (help.has(object->helpIndex)) text += toUtf8(help.name(object->helpIndex)) + "\n";
  text += "\n";
  // The help text comes last: it is the longest cell and needs no padding.
  std::vector<std::vector<std::string>> rows{{"Counter", "Index", "Type", "Size", "Help"}};
  for (const CounterDefinition &counter : object->counters) {
    rows.push_back({toUtf8(names.name(counter.nameIndex)), number(counter.nameIndex), counterTypeName(counter.type),
                    number(counterDataSize(counter.type, counter.size)),
                    help.has(counter.helpIndex) ? toUtf8(help.name(counter.helpIndex)) : "-"});
  }
  text += perfquery::renderTable(rows, 3);
  if (object->hasInstances()) {
    text += "\nInstances:\n";
    for (const Instance &instance : object->instances) text += "  " + instanceName(instance) + "\n";
  }
  QueryOutput output;
  if (!openOutput(output, request)) return Failure;
  Writer write(output);
  write(text);
  return write.failed() ? Failure : Success;
}

// -q and -qx: every counter path there is now, or those of one object.
int listPaths(PerfReader &reader, const NameTable &names, const Request &request) {
  std::vector<DWORD> indices;
  if (!request.object.empty()) {
    indices = candidateIndices(request.object, names);
    if (indices.empty()) return unknownObject(request.object);
  }
  DataBlock block;
  int exitCode = Success;
  if (!readBlock(reader, indices.empty() ? Text(OLESTR("Global")) : indexQuery(indices), block, exitCode))
    return exitCode;
  if (!indices.empty() && findObject(block, indices) == nullptr) return missingObject(request.object, names);
  std::string text;
  for (const Object &object : block.objects) {
    if (!indices.empty() && findObject(block, indices) != &object) continue;
    std::vector<Text> instances;
    if (request.everyInstance && object.hasInstances()) {
      std::map<Text, size_t> seen;
      for (const Instance &instance : object.instances)
        instances.push_back(perfquery::instanceLabel(instance.name, seen[instance.name]++));
    }
    for (const CounterDefinition &counter : object.counters) {
      if ((counter.type & PERF_DISPLAY_NOSHOW) != 0) continue;
      if (instances.empty()) {
        text += toUtf8(perfquery::listedPath(names, object, nullptr, counter)) + "\n";
      } else {
        for (const Text &instance : instances)
          text += toUtf8(perfquery::listedPath(names, object, &instance, counter)) + "\n";
      }
    }
  }
  QueryOutput output;
  if (!openOutput(output, request)) return Failure;
  Writer write(output);
  write(text);
  return write.failed() ? Failure : Success;
}

// An object's table: one line per instance, one column per counter.
std::string objectTable(const NameTable &names, const DataBlock &block, const Object &object,
                        const SampleHistory &history, bool raw) {
  std::vector<std::vector<std::string>> rows(1);
  if (object.hasInstances()) rows[0].push_back("Instance");
  for (const CounterDefinition &counter : object.counters) rows[0].push_back(toUtf8(names.name(counter.nameIndex)));
  const SampleHistory::Taken *earlier = raw ? nullptr : history.before(object.nameIndex, takenAt(object, block));
  auto addRow = [&](std::vector<std::string> row, const CounterBlock &counters, const CounterBlock *before) {
    const Sample now = sampleOf(counters, object, block);
    const Sample then = before != nullptr ? sampleOf(*before, *earlier->object, *earlier->block) : Sample{};
    for (const CounterValue &value : displayValues(object.counters, now, before != nullptr ? &then : nullptr, raw))
      row.push_back(formatValue(shownValue(value)));
    rows.push_back(std::move(row));
  };
  if (object.hasInstances()) {
    std::vector<const Instance *> matches = earlier != nullptr ? matchInstances(*earlier->object, object)
                                                               : std::vector<const Instance *>(object.instances.size());
    for (size_t index = 0; index < object.instances.size(); ++index) {
      addRow({instanceName(object.instances[index])}, object.instances[index].counters,
             matches[index] != nullptr ? &matches[index]->counters : nullptr);
    }
  } else {
    addRow({}, object.counterBlock, earlier != nullptr ? &earlier->object->counterBlock : nullptr);
  }
  return perfquery::renderTable(rows, object.hasInstances() ? 1 : 0);
}

// The lines of a counter file, as UTF-8 text; false after saying why.
bool readCounterFile(const Text &file, std::vector<Text> &paths, int &exitCode) {
  exitCode = Failure;
  commandline::FileContents contents = commandline::readFileContents(file, 16u << 20);
  if (contents.error != ERROR_SUCCESS || contents.tooLarge) {
    fprintf(stderr, "perfquery: cannot read the counter file \"%s\": %s\n", toUtf8(file).c_str(),
            contents.tooLarge ? "it is larger than 16 MB" : commandline::systemReason(contents.error).c_str());
    return false;
  }
  std::string &text = contents.bytes;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    CounterPath path;
    std::string problem;
    if (!perfquery::parseCounterPath(fromUtf8(line), path, problem)) {
      fprintf(stderr, "perfquery: %s, line %zu: '%s' is not a counter path: %s\n", toUtf8(file).c_str(), lineNumber,
              line.c_str(), problem.c_str());
      return false;
    }
    paths.push_back(fromUtf8(line));
  }
  exitCode = Success;
  return true;
}

// Reads the data that a sample needs; false after saying why.
bool readSample(PerfReader &reader, const Text &query, std::shared_ptr<DataBlock> &block, int &exitCode) {
  block = std::make_shared<DataBlock>();
  return readBlock(reader, query, *block, exitCode);
}

int showValues(PerfReader &reader, const NameTable &names, const Request &request) {
  // An object in a table keeps its own layout; everything else is counter paths.
  const bool asTable = !request.object.empty() && request.format == Format::Table;
  std::vector<Text> pathTexts = request.paths;
  int exitCode = Success;
  if (!request.counterFile.empty() && !readCounterFile(request.counterFile, pathTexts, exitCode)) return exitCode;
  std::vector<DWORD> indices;
  if (!request.object.empty()) {
    indices = candidateIndices(request.object, names);
    if (indices.empty()) return unknownObject(request.object);
  }
  const Text query = indices.empty() ? Text(OLESTR("Global")) : indexQuery(indices);

  std::shared_ptr<DataBlock> first;
  if (!readSample(reader, query, first, exitCode)) return exitCode;
  std::vector<Selection> selections;
  std::set<DWORD> objects;
  bool rates = false;
  if (!indices.empty()) {
    const Object *object = findObject(*first, indices);
    if (object == nullptr) return missingObject(request.object, names);
    objects.insert(object->nameIndex);
    for (const CounterDefinition &counter : object->counters) rates = rates || needsEarlierSample(counter.type);
    if (!asTable) pathTexts = {OLESTR("\\") + indexText(object->nameIndex) + OLESTR("(*)\\*")};
  }
  if (!asTable) {
    for (const Text &text : pathTexts) {
      CounterPath path;
      std::string problem;
      std::vector<Selection> found;
      if (perfquery::parseCounterPath(text, path, problem)) found = perfquery::expandPath(path, *first, names, problem);
      if (found.empty())
        fprintf(stderr, "perfquery: \"%s\" matches no counter: %s\n", toUtf8(text).c_str(), problem.c_str());
      for (Selection &selection : found) {
        const perfdata::CounterDefinition *counter = perfquery::selectedDefinition(*first, selection);
        rates = rates || (counter != nullptr && needsEarlierSample(counter->type));
        objects.insert(selection.objectIndex);
        selections.push_back(std::move(selection));
      }
    }
    if (selections.empty()) {
      fprintf(stderr, "perfquery: no counter to show\n");
      return Failure;
    }
  }
  const bool prime = rates && !request.raw;

  QueryOutput output;
  if (!openOutput(output, request)) return Failure;
  Writer write(output);
  std::vector<std::string> paths;
  for (const Selection &selection : selections) paths.push_back(toUtf8(selection.path));
  write(perfquery::headerRow(request.format, perfquery::localNow(), paths));

  SampleHistory history;
  std::shared_ptr<DataBlock> current = first;
  // A first read taken only to have rates is not shown.
  if (prime) history.add(first, objects);
  const bool stamped = request.count > 1;
  for (ULONGLONG sample = 0; sample < request.count && !write.failed(); ++sample) {
    if (sample != 0 || prime) {
      Sleep(request.intervalMilliseconds);
      if (!readSample(reader, query, current, exitCode)) return exitCode;
    }
    // The first rates need data newer than the first read: the data may
    // change less often than the interval, so wait for it, one interval more
    // at most.
    for (DWORD waited = 0; sample == 0 && prime && waited < request.intervalMilliseconds;) {
      bool newer = true;
      for (DWORD index : objects) {
        const Object *object = current->findObject(index);
        newer = newer && (object == nullptr || history.before(index, takenAt(*object, *current)) != nullptr);
      }
      if (newer) break;
      const DWORD step = request.intervalMilliseconds < 100 ? request.intervalMilliseconds : 100;
      Sleep(step);
      waited += step;
      if (!readSample(reader, query, current, exitCode)) return exitCode;
    }
    const perfquery::LocalTime time = perfquery::localNow();
    if (asTable) {
      const Object *object = findObject(*current, indices);
      std::string text = stamped ? std::string(sample != 0 ? "\n" : "") + perfquery::tableTime(time) + "\n" : "";
      text += object != nullptr ? objectTable(names, *current, *object, history, request.raw)
                                : "(the object is not in this sample)\n";
      write(text);
    } else {
      std::vector<CounterValue> values;
      values.reserve(selections.size());
      for (const Selection &selection : selections)
        values.push_back(selectedValue(selection, *current, history, request.raw));
      if (request.format == Format::Table) {
        std::vector<std::vector<std::string>> rows;
        for (size_t at = 0; at < selections.size(); ++at) rows.push_back({paths[at], formatValue(values[at])});
        write((stamped ? std::string(sample != 0 ? "\n" : "") + perfquery::tableTime(time) + "\n" : "") +
              perfquery::renderTable(rows, 1));
      } else {
        write(perfquery::sampleRow(request.format, time, paths, values));
      }
    }
    fflush(stdout);
    history.add(current, objects);
  }
  return write.failed() ? Failure : Success;
}

// The records of a blob file, read by the registered component in this
// thread's apartment; a damaged blob is shown and fails the program.
int inspectBlobFile(const Request &request) {
  std::vector<BYTE> bytes;
  std::string problem;
  if (!perfquery::readBlobFile(request.blobFile, bytes, problem)) {
    fprintf(stderr, "perfquery: %s\n", problem.c_str());
    return Failure;
  }
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  perfquery::BlobInspection inspection;
  const bool inspected = perfquery::inspectBlob(bytes, request.blobClass, inspection, problem);
  if (SUCCEEDED(apartment)) CoUninitialize();
  if (!inspected) {
    fprintf(stderr, "perfquery: %s\n", problem.c_str());
    return Failure;
  }
  QueryOutput output;
  if (!openOutput(output, request)) return Failure;
  Writer write(output);
  write(perfquery::blobReport(request.format, inspection));
  return write.failed() || inspection.damaged() != nullptr ? Failure : Success;
}

int run(const Request &request) {
  if (request.action == Request::Action::InspectBlob) return inspectBlobFile(request);
  PerfReader reader;
  NameTable names;
  if (LONG result = loadNames(reader, OLESTR("Counter 009"), names); result != ERROR_SUCCESS) {
    return queryFailure(OLESTR("Counter 009"), result);
  }
  switch (request.action) {
    case Request::Action::ListObjects: return listObjects(reader, names, request);
    case Request::Action::ListCounters: return listCounters(reader, names, request);
    case Request::Action::ListPaths: return listPaths(reader, names, request);
    default: return showValues(reader, names, request);
  }
}

}  // namespace

int main(int argc, char **argv) {
  return commandline::runProgram(perfquery::Program, argc, argv, perfquery::parseRequest, run);
}
