// The sample host as a user runs it: while it serves, perfquery in another
// process shows its sessions, _Total and its memory, with values that move,
// and a second host of the device stops without touching it; once it stops,
// its objects are gone; --unregister removes the service.
// Wrong usage and a missing definition file are told, not crashed on.
#include "ComponentFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "RunProgram.h"

namespace {

const char Instructions[] = "RV_SAMPLE_HOST_RUN";

// The cells of one CSV line whose every cell is quoted.
std::vector<std::string> csvCells(const std::string &line) {
  std::vector<std::string> cells;
  for (size_t at = 0; at < line.size() && line[at] == '"';) {
    std::string cell;
    for (++at; at < line.size(); ++at) {
      if (line[at] == '"' && at + 1 < line.size() && line[at + 1] == '"') {
        cell += '"';
        ++at;
      } else if (line[at] == '"') {
        break;
      } else {
        cell += line[at];
      }
    }
    cells.push_back(cell);
    at += 2;  // the closing quote and the comma
  }
  return cells;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result.push_back(line);
  }
  return result;
}

// Standard output as POSIX writes it: Windows ends its lines with CR LF.
std::string withoutReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

bool endsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ownFolder() {
  char path[MAX_PATH] = {};
  std::string program(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return program.substr(0, program.find_last_of("\\/"));
}

// The line of `table` that begins with `first`, split at blanks.
std::vector<std::string> row(const std::string &table, const std::string &first) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> cells;
    for (std::string word; words >> word;) cells.push_back(word);
    if (!cells.empty() && cells[0] == first) return cells;
  }
  return {};
}

class SampleHost : public ComponentFixture {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder = std::string(temp) + "sample-host-" + std::to_string(GetCurrentProcessId());
    device = "RVSampleTest" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  void TearDown() override {
    for (const char *name :
         {"RVCounters.xml", "RVSampleServer.h", "RVSampleServer.ini", "host.out", "paths.txt", "samples.csv"})
      DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + device;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, service.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, service.c_str());
  }

  // The definition the build put beside the programs, for a device of this test's own.
  void copyDefinition() {
    std::string text = fileText(ownFolder() + "\\sample\\RVCounters.xml");
    const std::string from = "deviceName=\"RVSampleServer\"";
    ASSERT_NE(std::string::npos, text.find(from)) << text;
    text.replace(text.find(from), from.size(), "deviceName=\"" + device + "\"");
    ASSERT_TRUE(writeFileText(folder + "\\RVCounters.xml", text));
  }

  bool registered() {
    HKEY key = nullptr;
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + device;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, service.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  std::string indexOf(LONG id) { return std::to_string(nameBase(device) + static_cast<DWORD>(id)); }

  static int host(const std::string &arguments, std::string &output) {
    return runProgram(std::string(SAMPLE_HOST_PROGRAM) + " " + arguments, output);
  }
  static int perfquery(const std::string &object, std::string &output) {
    output.clear();
    return runProgram(std::string(PERFQUERY_PROGRAM) + " " + object, output);
  }

  std::string folder, device;
};

}  // namespace

TEST_F(SampleHost, UsageAndAMissingDefinitionFile) {
  std::string output;
  EXPECT_EQ(2, host("--duration soon", output));
  EXPECT_NE(std::string::npos, output.find("'soon'")) << output;
  output.clear();
  EXPECT_EQ(2, host("--steady 0", output));
  EXPECT_NE(std::string::npos, output.find("--steady needs a whole number from 1 to 1000, not '0'")) << output;
  output.clear();
  EXPECT_EQ(1, host("--definitions " + folder + " --duration 1", output));
  EXPECT_NE(std::string::npos, output.find(folder + "\\RVCounters.xml")) << output;
  EXPECT_NE(std::string::npos, output.find("error 0x80070002")) << output;
  EXPECT_FALSE(registered());
}

// A definition file the component refuses: the host says where and why, in
// words a user can act on.
TEST_F(SampleHost, ABrokenDefinitionFileIsExplained) {
  std::string output;
  ASSERT_TRUE(writeFileText(folder + "\\RVCounters.xml", "<PerfData deviceName=\"x\"><Object"));
  EXPECT_EQ(1, host("--definitions " + folder + " --duration 1", output));
  // The system has no text for the parser's codes; the component's
  // description carries the parser's reason (and, where the parser tells,
  // its position: Wine's says "error" only) instead.
  EXPECT_EQ(std::string::npos, output.find("no text")) << output;
  EXPECT_NE(std::string::npos, output.find("Invalid xml file: " + folder + "\\RVCounters.xml. ")) << output;
#ifndef _WIN32
  EXPECT_NE(std::string::npos, output.find("Element was not closed. Line 1, position")) << output;
#endif

  copyDefinition();
  std::string text = fileText(folder + "\\RVCounters.xml");
  const std::string from = "counterType=\"PERF_COUNTER_BULK_COUNT\"";
  ASSERT_NE(std::string::npos, text.find(from)) << text;
  text.replace(text.find(from), from.size(), "counterType=\"perf_counter_bulk_count\"");
  ASSERT_TRUE(writeFileText(folder + "\\RVCounters.xml", text));
  output.clear();
  EXPECT_EQ(1, host("--definitions " + folder + " --duration 1", output));
  EXPECT_NE(std::string::npos, output.find("Invalid Object Type: perf_counter_bulk_count")) << output;
  EXPECT_NE(std::string::npos, output.find("in " + folder +
                                           "\\RVCounters.xml, counter \"Bytes Sent/sec\" of object \"RV Sample "
                                           "Sessions\" has counterType \"perf_counter_bulk_count\""))
      << output;
  EXPECT_NE(std::string::npos, output.find("may use: PERF_COUNTER_COUNTER, PERF_COUNTER_TIMER, ")) << output;
  EXPECT_NE(std::string::npos, output.find(", PERF_COUNTER_LARGE_DELTA")) << output;
  // Only the counter whose type is wrong is named.
  EXPECT_EQ(std::string::npos, output.find("counter \"Requests/sec\"")) << output;
  EXPECT_FALSE(registered());
}

TEST_F(SampleHost, AReaderSeesItsSessionsWhileItServesAndNothingAfter) {
  copyDefinition();
  ChildProcess server;
  ASSERT_TRUE(server.start("SampleHostRun.DISABLED_Serve", Instructions, folder));

  // Sessions come first in the file (ID 0); Memory follows its four counters (ID 10).
  std::string first, sessions, memory;
  for (int attempt = 0; attempt < 100 && (first.find("_Total") == std::string::npos); ++attempt) {
    Sleep(100);
    if (registered()) perfquery(indexOf(0), first);
  }
  ASSERT_NE(std::string::npos, first.find("_Total")) << first;
  EXPECT_NE(std::string::npos, first.find("client-1")) << first;
  // The next publish brings new values; a loaded machine may delay it.
  const std::vector<std::string> before = row(first, "_Total");
  std::vector<std::string> after = before;
  for (int attempt = 0; attempt < 40 && after == before; ++attempt) {
    Sleep(250);
    ASSERT_EQ(0, perfquery(indexOf(0), sessions)) << sessions;
    after = row(sessions, "_Total");
  }
  EXPECT_NE(before, after) << first << sessions;

  // The heap is a 64-bit counter whose values pass 2^32.
  ASSERT_EQ(0, perfquery(indexOf(10), memory)) << memory;
  std::istringstream table(memory.substr(memory.find('\n') + 1));
  ULONGLONG heap = 0, entries = 0;
  table >> heap >> entries;
  EXPECT_GT(heap, 0x100000000ull) << memory;
  EXPECT_GT(entries, 0ull) << memory;

  // Sampled faster than the host publishes, the requests of _Total, which
  // only grow while the host runs, never read as a rate of 0: samples of the
  // same publish are not compared with each other.
  std::string fast;
  ASSERT_EQ(0, runProgram(std::string(PERFQUERY_PROGRAM) + " " + indexOf(0) + " -i 0.3 -n 7", fast)) << fast;
  std::istringstream samples(fast);
  int totals = 0;
  for (std::string line; std::getline(samples, line);) {
    if (line.rfind("_Total", 0) != 0) continue;
    ++totals;
    EXPECT_EQ(std::string::npos, line.find(" 0.00/s")) << fast;
  }
  EXPECT_EQ(7, totals) << fast;

  // A second host of the device stops before it touches the registration:
  // the first one's counters keep their names and their readers.
  const DWORD base = nameBase(device);
  std::string second;
  EXPECT_EQ(1, host("--definitions " + folder + " --duration 1", second));
  EXPECT_NE(std::string::npos, second.find(device + " is published by another host already")) << second;
  EXPECT_EQ(base, nameBase(device));
  EXPECT_EQ(0, perfquery(indexOf(0), sessions)) << sessions;

  EXPECT_EQ(0, server.finish());
  const std::string log = fileText(folder + "\\host.out");
  EXPECT_NE(std::string::npos, log.find("exit 0")) << log;
  EXPECT_NE(std::string::npos, log.find("publish 3:")) << log;
  EXPECT_NE(std::string::npos, log.find("withdrawn")) << log;

  // Withdrawn: the service is still registered, but has no objects, and
  // perfquery tells that from an object that does not exist (by its name;
  // under Wine, which installs none, by the device without a host).
  EXPECT_EQ(1, perfquery(indexOf(0), sessions)) << sessions;
  EXPECT_TRUE(sessions.find("is installed, but no host publishes it now") != std::string::npos ||
              sessions.find("no host publishes for " + device) != std::string::npos)
      << sessions;

  std::string output;
  EXPECT_EQ(0, host("--unregister --definitions " + folder, output)) << output;
  EXPECT_FALSE(registered());
}

// A steady host read through counter paths with *, as a tool would: CSV in a
// file, whose header names every counter and whose rows hold the rates from
// the first sample on; the file is kept unless -y is given; -q lists the
// paths and -l the counters' types by name.
TEST_F(SampleHost, PathsWithStarsGoToACsvFileWithRatesFromTheFirstRow) {
  copyDefinition();
  ChildProcess server;
  ASSERT_TRUE(server.start("SampleHostRun.DISABLED_ServeSteadily", Instructions, folder));
  std::string output;
  for (int attempt = 0; attempt < 100 && output.find("client-3") == std::string::npos; ++attempt) {
    Sleep(100);
    if (registered()) perfquery(indexOf(0), output);
  }
  ASSERT_NE(std::string::npos, output.find("client-3")) << output;

  // Wine installs no counter names, so there paths name objects and
  // counters by index; POSIX has the names.
#ifdef _WIN32
  const std::string sessions = "#" + indexOf(0), bytes = "#" + indexOf(6), active = "#" + indexOf(2),
                    memory = "#" + indexOf(10), heap = "#" + indexOf(12);
#else
  const std::string sessions = "RV Sample Sessions", bytes = "Bytes Sent/sec", active = "Active Requests",
                    memory = "RV Sample Memory", heap = "Heap Bytes";
#endif
  ASSERT_TRUE(writeFileText(folder + "\\paths.txt", "# the memory, and every session's bytes\r\n\\" + memory + "\\" +
                                                        heap + "\r\n\r\n\\" + sessions + "(*)\\" + bytes + "\n"));
  const std::string csv = folder + "\\samples.csv";
  const std::string command = " -cf " + folder + "\\paths.txt \\#" + indexOf(0) + "(client-2)\\#" + indexOf(2) +
                              " -f csv -si 1 -sc 2 -o " + csv;
  ASSERT_EQ(0, runProgram(std::string(PERFQUERY_PROGRAM) + command, output)) << output;
  const std::vector<std::string> rows = lines(fileText(csv));
  ASSERT_EQ(3u, rows.size()) << fileText(csv);
  const std::vector<std::string> header = csvCells(rows[0]);
  // The paths of the command line first, then those of the file.
  const std::vector<std::string> ends = {
      "\\" + sessions + "(client-2)\\" + active, "\\" + memory + "\\" + heap,
      "\\" + sessions + "(_Total)\\" + bytes,    "\\" + sessions + "(client-1)\\" + bytes,
      "\\" + sessions + "(client-2)\\" + bytes,  "\\" + sessions + "(client-3)\\" + bytes};
  ASSERT_EQ(ends.size() + 1, header.size()) << rows[0];
  EXPECT_EQ(0u, header[0].rfind("(PDH-CSV 4.0) (", 0)) << rows[0];
  for (size_t at = 0; at < ends.size(); ++at) EXPECT_TRUE(endsWith(header[at + 1], ends[at])) << header[at + 1];
  // _Total may come before or after the sessions: the host decides. Rates
  // by name of the instance, from the first row on. The host sets every
  // session's bytes from one reading of its clock, once a second: client-k
  // sends 1000 x k bytes a second. A host second that comes late or early
  // against the samples (a loaded machine) moves every rate of the row by
  // the same factor, so the rates stand as 1 : 2 : 3 (each value is a whole
  // number of bytes, hence the few bytes of leeway), _Total their sum, and
  // near 1000 x k.
  for (size_t row = 1; row < rows.size(); ++row) {
    const std::vector<std::string> cells = csvCells(rows[row]);
    ASSERT_EQ(header.size(), cells.size()) << rows[row];
    ASSERT_EQ(23u, cells[0].size()) << cells[0];  // MM/DD/YYYY HH:MM:SS.mmm
    EXPECT_EQ('/', cells[0][2]) << cells[0];
    EXPECT_EQ('.', cells[0][19]) << cells[0];
    EXPECT_EQ("2", cells[1]) << rows[row];
    EXPECT_EQ("1000000000", cells[2]) << rows[row];
    // The bytes a second of each share of the load: 1 to 3 for client-1 to
    // client-3, 6 for _Total.
    std::map<int, double> rates;
    for (size_t at = 1; at < header.size(); ++at) {
      int share = endsWith(header[at], "(_Total)\\" + bytes) ? 6 : 0;
      for (int k = 1; k <= 3; ++k)
        if (endsWith(header[at], "(client-" + std::to_string(k) + ")\\" + bytes)) share = k;
      if (share == 0) continue;
      ASSERT_FALSE(cells[at].empty()) << header[at] << " in " << rows[row];
      rates[share] = std::strtod(cells[at].c_str(), nullptr);
    }
    ASSERT_EQ(4u, rates.size()) << rows[row];
    const double unit = rates[1];
    EXPECT_GT(unit, 400.0) << rows[row];
    EXPECT_LT(unit, 2600.0) << rows[row];
    for (const auto &[share, rate] : rates) EXPECT_NEAR(share * unit, rate, share * unit * 0.002 + 16.0) << rows[row];
  }

  // The file is there now: kept without -y, replaced with it.
  const std::string once = std::string(PERFQUERY_PROGRAM) + " \\#" + indexOf(10) + "\\* -f JSON -o " + csv;
  output.clear();
  EXPECT_EQ(1, runProgram(once, output)) << output;
  EXPECT_NE(std::string::npos, output.find("exists; give -y to replace it")) << output;
  EXPECT_EQ(3u, lines(fileText(csv)).size());
  output.clear();
  ASSERT_EQ(0, runProgram(once + " -y", output)) << output;
  const std::string json = fileText(csv);
  EXPECT_EQ(0u, json.rfind("{\"time\": \"", 0)) << json;
  EXPECT_NE(std::string::npos, json.find("\\\\" + heap + "\": 1000000000, ")) << json;
  EXPECT_NE(std::string::npos,
            json.find("\\\\" + (memory == "RV Sample Memory" ? std::string("Cache Entries") : "#" + indexOf(14)) +
                      "\": 1000}"))
      << json;

  // -q lists the paths, "(*)" for an object with instances; -l names the types.
  output.clear();
  ASSERT_EQ(0, runProgram(std::string(PERFQUERY_PROGRAM) + " -q #" + indexOf(0), output)) << output;
  output = withoutReturns(output);
  EXPECT_NE(std::string::npos, output.find("\\" + sessions + "(*)\\" + bytes + "\n")) << output;
  output.clear();
  ASSERT_EQ(0, runProgram(std::string(PERFQUERY_PROGRAM) + " -qx #" + indexOf(0), output)) << output;
  output = withoutReturns(output);
  EXPECT_NE(std::string::npos, output.find("\\" + sessions + "(client-3)\\" + active + "\n")) << output;
  output.clear();
  ASSERT_EQ(0, runProgram(std::string(PERFQUERY_PROGRAM) + " -l #" + indexOf(0), output)) << output;
  EXPECT_NE(std::string::npos, output.find(" PERF_COUNTER_BULK_COUNT ")) << output;
  EXPECT_NE(std::string::npos, output.find(" PERF_COUNTER_COUNTER ")) << output;
#ifndef _WIN32
  EXPECT_NE(std::string::npos, output.find("Bytes per second sent to the session's client")) << output;
#endif
  EXPECT_EQ(0, server.finish());
}

// The host's run, as a child process of the test above: its exit code and
// output land in the folder's host.out. It serves long enough for every
// reading of that test on a machine held up by other work, whose Wine takes
// seconds to start each perfquery.
TEST(SampleHostRun, DISABLED_Serve) {
  const char *folder = std::getenv(Instructions);
  ASSERT_NE(nullptr, folder);
  std::string output;
  const int code = runProgram(std::string(SAMPLE_HOST_PROGRAM) + " --definitions " + folder + " --duration 20", output);
  writeFileText(std::string(folder) + "\\host.out", output + "\nexit " + std::to_string(code) + "\n");
  EXPECT_EQ(0, code) << output;
}

// A steady load for the test of counter paths: known values that never end
// before the test is done with them, on a loaded machine too.
TEST(SampleHostRun, DISABLED_ServeSteadily) {
  const char *folder = std::getenv(Instructions);
  ASSERT_NE(nullptr, folder);
  std::string output;
  const int code =
      runProgram(std::string(SAMPLE_HOST_PROGRAM) + " --definitions " + folder + " --steady 1 --duration 25", output);
  writeFileText(std::string(folder) + "\\host.out", output + "\nexit " + std::to_string(code) + "\n");
  EXPECT_EQ(0, code) << output;
}
