// The OpenMetrics page of a hand-built data block against the golden file,
// and perf_exporter as a user runs it: usage, a collector's data printed
// once and served over HTTP, both read by prometheus_client's parser, and a
// port in use.
#include <gtest/gtest.h>
#include <windows.h>
#include <winperf.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HttpGet.h"
#include "NameTable.h"
#include "OpenMetricsPage.h"
#include "RunProgram.h"
#include "TestCollector.h"

using namespace perfdata;

namespace {

// A REG_MULTI_SZ of index and text pairs, as "Counter 009" gives it.
NameTable nameTable(const std::vector<std::pair<DWORD, std::u16string>> &entries) {
  std::u16string text;
  for (const auto &[index, name] : entries) {
    for (char digit : std::to_string(index)) text += static_cast<char16_t>(digit);
    text += u'\0' + name + u'\0';
  }
  text += u'\0';
  NameTable table;
  std::string problem;
  EXPECT_TRUE(table.add(reinterpret_cast<const BYTE *>(text.data()), text.size() * sizeof(char16_t), problem))
      << problem;
  return table;
}

CounterDefinition counter(DWORD nameIndex, DWORD type, DWORD offset) {
  CounterDefinition definition;
  definition.nameIndex = nameIndex;
  definition.helpIndex = nameIndex + 1;
  definition.type = type;
  definition.size = counterDataSize(type, 8);
  definition.counterOffset = offset;
  return definition;
}

// A counter block of 48 bytes with these values at their offsets, each as
// wide as `width` says (4 or 8 bytes).
CounterBlock counterBlock(const std::vector<std::pair<DWORD, ULONGLONG>> &values, DWORD width) {
  CounterBlock block;
  block.bytes.resize(48);
  DWORD length = static_cast<DWORD>(block.bytes.size());
  memcpy(block.bytes.data(), &length, sizeof length);
  for (const auto &[offset, value] : values) memcpy(block.bytes.data() + offset, &value, width);
  return block;
}

Instance instance(const char16_t *name, CounterBlock counters) {
  Instance each;
  each.name = name;
  each.counters = std::move(counters);
  return each;
}

std::string fileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// prometheus_client's reading of a page: a line per family, "name type
// samples", or why it refused the page; the exit code is the checker's.
int parsePage(const std::string &page, std::string &families) {
  char path[] = "/tmp/openmetrics-page-XXXXXX";
  int file = mkstemp(path);
  if (file < 0 || write(file, page.data(), page.size()) != static_cast<ssize_t>(page.size())) return -1;
  close(file);
  int code = runProgram(std::string(OPENMETRICS_PYTHON) + " " + OPENMETRICS_CHECKER + " " + path, families);
  unlink(path);
  return code;
}

int runExporter(const std::string &arguments, std::string &output) {
  return runProgram(std::string(EXPORTER_PROGRAM) + (arguments.empty() ? "" : " " + arguments), output);
}

// A socket listening on a port of 127.0.0.1 that the system chose.
struct Listener {
  int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  Listener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(socket, reinterpret_cast<sockaddr *>(&address), length) == 0 && listen(socket, 1) == 0 &&
        getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~Listener() { close(socket); }
};

}  // namespace

// An object with instances (a text counter left out, a counter without a
// name, two names that differ only in punctuation, instance names to escape,
// one name held twice, _Total), one without instances whose counter and
// gauge names meet at "_total" and whose names are punctuation, one without
// any installed name, and one with no instances now that repeats the first.
TEST(OpenMetricsPage, RendersAHandBuiltBlockAsTheGoldenFile) {
  NameTable names = nameTable({{5000, u"Web Service"},
                               {5002, u"Requests/sec"},
                               {5004, u"Bytes Sent"},
                               {5006, u"Current Connections"},
                               {5008, u"Current-Connections"},
                               {5010, u"Status"},
                               {7000, u"Queue"},
                               {7002, u"Items"},
                               {7004, u"Items Total"},
                               {7006, u"% Busy"},
                               {7008, u"%"}});
  NameTable help = nameTable({{5003, u"Requests served, counted as they \"arrive\"."},
                              {5005, u"Bytes sent to C:\\clients\r\nin total."},
                              {7003, u"Items queued."}});

  DataBlock block;
  Object web;
  web.nameIndex = 5000;
  web.counters = {counter(5002, PERF_COUNTER_COUNTER, 8),   counter(5004, PERF_COUNTER_BULK_COUNT, 16),
                  counter(5006, PERF_COUNTER_RAWCOUNT, 24), counter(5008, PERF_COUNTER_RAWCOUNT, 28),
                  counter(5010, PERF_COUNTER_TEXT, 32),     counter(5012, PERF_COUNTER_LARGE_RAWCOUNT, 40)};
  auto webValues = [](ULONGLONG base) {
    CounterBlock values = counterBlock({{8, base + 1}, {24, base + 3}, {28, base + 4}}, 4);
    ULONGLONG large[] = {base + 2, 0x0074786574ull, 0xFFFFFFFFFFFFFFFFull};  // 64-bit, "text", 64-bit
    memcpy(values.bytes.data() + 16, &large[0], 8);
    memcpy(values.bytes.data() + 32, &large[1], 8);
    memcpy(values.bytes.data() + 40, &large[2], 8);
    return values;
  };
  web.instances = {instance(u"worker", webValues(10)), instance(u"say \"hi\" at C:\\www\nnow", webValues(20)),
                   instance(u"worker", webValues(30)), instance(u"caf\u00e9", webValues(40)),
                   instance(u"_Total", webValues(100))};
  web.numInstances = static_cast<LONG>(web.instances.size());
  block.objects.push_back(web);

  Object queue;
  queue.nameIndex = 7000;
  queue.counters = {counter(7002, PERF_COUNTER_COUNTER, 8), counter(7004, PERF_COUNTER_RAWCOUNT, 12),
                    counter(7006, PERF_COUNTER_RAWCOUNT, 16), counter(7008, PERF_COUNTER_RAWCOUNT, 20)};
  queue.counterBlock = counterBlock({{8, 4294967295ull}, {12, 7}, {16, 50}, {20, 0}}, 4);
  block.objects.push_back(queue);

  Object unnamed;
  unnamed.nameIndex = 10000;
  unnamed.counters = {counter(10002, PERF_COUNTER_LARGE_RAWCOUNT, 8)};
  unnamed.counterBlock = counterBlock({{8, 1ull << 40}}, 8);
  block.objects.push_back(unnamed);

  // With no instance there now, the family is still named, after the
  // names the first object took.
  Object again;
  again.nameIndex = 5000;
  again.numInstances = 0;
  again.counters = {counter(5006, PERF_COUNTER_RAWCOUNT, 8)};
  block.objects.push_back(again);

  std::string page = exporter::renderOpenMetrics(block, names, help);
  EXPECT_EQ(fileText(TEST_DATA_DIR "/exporter/metrics.golden"), page);
}

TEST(PerfExporterProgram, AnswersHelpAndUsageErrors) {
  std::string output;
  EXPECT_EQ(0, runExporter("--help", output));
  EXPECT_NE(std::string::npos, output.find("perf_exporter [--listen ADDR:PORT]")) << output;

  struct Misuse {
    const char *arguments;
    const char *message;
  };
  for (const Misuse &misuse : {Misuse{"--bogus", "unknown option '--bogus'"},
                               Misuse{"--listen=[::1]:65536", "not '[::1]:65536'"},
                               Misuse{"--once --listen 127.0.0.1:80", "drop --listen"}}) {
    output.clear();
    EXPECT_EQ(2, runExporter(misuse.arguments, output)) << misuse.arguments;
    EXPECT_NE(std::string::npos, output.find(misuse.message)) << output;
  }
}

// The test collector's object, named by installed names, through the
// system's performance data query: printed once, then served on a free port,
// which a second exporter then cannot take.
TEST(PerfExporterProgram, ShowsACollectorsDataOnceAndOverHttp) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                         "SYSTEM\\CurrentControlSet\\Services\\" GOOD_SERVICE "\\Performance", &key));
  std::string library = std::string("Z:") + COLLECTOR_PATH;
  for (auto [name, text] : {std::pair{"Library", library.c_str()},
                            {"Open", "OpenCollector"},
                            {"Collect", "CollectGood"},
                            {"Close", "CloseCollector"}}) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), std::strlen(text) + 1);
  }
  CollectorSettings settings{9000, 42, 1234567890123ull, FaultNone};
  RegSetValueExA(key, "Test Object", 0, REG_BINARY, reinterpret_cast<const BYTE *>(&settings), sizeof settings);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", &key));
  const char counters[] =
      "9000\0Test Object\0"
      "9002\0Count\0"
      "9004\0Total\0";
  RegSetValueExA(key, "Counter", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(counters), sizeof counters);
  RegCloseKey(key);

  std::string page;
  ASSERT_EQ(0, runExporter("--once", page)) << page;
  EXPECT_EQ(
      "# HELP perf_test_object_count Count of Test Object (no help text is installed)\n"
      "# TYPE perf_test_object_count gauge\n"
      "perf_test_object_count{instance=\"Alpha\"} 42\n"
      "# HELP perf_test_object_total Total of Test Object (no help text is installed)\n"
      "# TYPE perf_test_object_total gauge\n"
      "perf_test_object_total{instance=\"Alpha\"} 1234567890123\n"
      "# EOF\n",
      page);
  std::string families;
  EXPECT_EQ(0, parsePage(page, families)) << families;
  EXPECT_EQ("perf_test_object_count gauge 1\nperf_test_object_total gauge 1\n", families);

  int port = 0;
  {
    Listener free;
    port = free.port;
  }
  ASSERT_NE(0, port);
  std::string program = EXPORTER_PROGRAM, option = "--listen", address = "127.0.0.1:" + std::to_string(port);
  char *argv[] = {program.data(), option.data(), address.data(), nullptr};
  pid_t exporter = -1;
  ASSERT_EQ(0, posix_spawn(&exporter, argv[0], nullptr, nullptr, argv, environ));

  HttpAnswer metrics;
  // The exporter listens once it has started; ask until it answers.
  for (int attempt = 0; attempt < 100 && metrics.status == 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    metrics = httpGet(port, "/metrics");
  }
  HttpAnswer elsewhere = httpGet(port, "/");
  // A second exporter on the same address finds it taken, not shared (one
  // that shared it would serve on: timeout ends it with 124).
  std::string taken;
  EXPECT_EQ(1, runProgram(std::string("/usr/bin/timeout 10 ") + EXPORTER_PROGRAM + " --listen " + address, taken));
  EXPECT_NE(std::string::npos, taken.find("cannot listen on " + address + ": error " + std::to_string(EADDRINUSE) +
                                          ": " + strerror(EADDRINUSE)))
      << taken;
  kill(exporter, SIGTERM);
  int status = 0;
  ASSERT_EQ(exporter, waitpid(exporter, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(200, metrics.status) << metrics.failure;
  EXPECT_EQ(exporter::openMetricsContentType, metrics.contentType);
  EXPECT_EQ(page, metrics.body);
  EXPECT_EQ(404, elsewhere.status) << elsewhere.failure;
}
