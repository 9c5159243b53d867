// Load of a definition file of 100 objects with 20 counters each, next to
// libxml2 reading the same file into a tree, which is where Load's DOM
// starts.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <string>

#include "BenchmarkHost.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

constexpr int Objects = 100, CountersPerObject = 20;

std::basic_string<OLECHAR> folder;
std::string posixFile;

std::string definition() {
  std::string text =
      "<?xml version=\"1.0\"?>\n<PerfData headerFile=\"server.h\" iniFile=\"server.ini\" "
      "perfmonDLLFile=\"ServerPerf.dll\" deviceName=\"Server\" instanceCleannupPolling=\"900\">\n";
  for (int o = 0; o < Objects; ++o) {
    text += "  <Object name=\"Object " + std::to_string(o) + "\" help=\"What object " + std::to_string(o) +
            " of the server measures\" hasInstances=\"true\" autoCreateInstanceTotal=\"true\" "
            "instanceTimeout=\"300\">\n";
    for (int c = 0; c < CountersPerObject; ++c)
      text += "    <Counter name=\"Counter " + std::to_string(c) + "\" help=\"How often step " + std::to_string(c) +
              " ran\" defaultScale=\"0\" counterType=\"PERF_COUNTER_COUNTER\" autoCalcInstanceTotal=\"avg\"/>\n";
    text += "  </Object>\n";
  }
  return text + "</PerfData>\n";
}

bool writeDefinition() {
  OLECHAR temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  folder = std::basic_string<OLECHAR>(temp) + OLESTR("load-benchmark");
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::basic_string<OLECHAR> file = folder + OLESTR("\\RVCounters.xml");
  const std::string text = definition();
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL wrote = WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
  // The same file by its POSIX name: drive Z: is the root.
  for (OLECHAR c : file.substr(2)) posixFile.push_back(c == '\\' ? '/' : static_cast<char>(c));
  return wrote && written == text.size();
}

void Load(benchmark::State &state) {
  IPerfMgr *manager = nullptr;
  CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr, reinterpret_cast<void **>(&manager));
  BSTR where = SysAllocStringLen(folder.data(), static_cast<UINT>(folder.size()));
  for (auto _ : state)
    if (FAILED(manager->Load(where))) state.SkipWithError("Load failed");
  SysFreeString(where);
  manager->Release();
  state.counters["counters"] = Objects * CountersPerObject;
}

void LibxmlParse(benchmark::State &state) {
  state.counters["counters"] = Objects * CountersPerObject;
  for (auto _ : state) {
    xmlDocPtr document = xmlReadFile(posixFile.c_str(), nullptr, XML_PARSE_NONET);
    if (document == nullptr) state.SkipWithError("libxml2 refused the file");
    xmlFreeDoc(document);
  }
}

BENCHMARK(Load)->Unit(benchmark::kMillisecond);
BENCHMARK(LibxmlParse)->Unit(benchmark::kMillisecond);

void compare(const Timings &timings) { printRatio(timings, "Load / libxml2 parse", "Load", "LibxmlParse"); }

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv, writeDefinition, [] {}, compare);
}
