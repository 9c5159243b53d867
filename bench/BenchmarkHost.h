// What every benchmark program does before it measures: a platform root of
// its own, the component registered in it, and the outside components as an
// installation has them (the trace settings are then read once, instead of
// on every framed operation).
#pragma once
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "doubles/DoublesHarness.h"

class BenchmarkHost {
 public:
  BenchmarkHost() {
    char pattern[] = "/tmp/winplatform-bench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root_ = pattern;
    if (!root_.empty()) setenv("WINPLATFORM_ROOT", root_.c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE module = LoadLibraryA(COMPONENT_MODULE);
    auto registerServer = module == nullptr ? nullptr
                                            : reinterpret_cast<HRESULT(STDAPICALLTYPE *)()>(reinterpret_cast<void *>(
                                                  GetProcAddress(module, "DllRegisterServer")));
    if (registerServer == nullptr || FAILED(registerServer())) return;
    outside_ = std::make_unique<DoublesHarness>(DOUBLES_MODULE);
    DoublesSettings settings = {};
    settings.errorLogAvailable = TRUE;
    settings.traceAvailable = TRUE;
    outside_->reset(settings);
    ready_ = outside_->loaded();
  }
  BenchmarkHost(const BenchmarkHost &) = delete;
  BenchmarkHost &operator=(const BenchmarkHost &) = delete;
  ~BenchmarkHost() {
    outside_.reset();
    CoUninitialize();
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }

  bool ready() const { return ready_; }

 private:
  std::string root_;
  std::unique_ptr<DoublesHarness> outside_;
  bool ready_ = false;
};

// Owns one reference to an interface for the length of a benchmark.
template <typename T> struct Owned {
  T *p = nullptr;
  Owned() = default;
  explicit Owned(T *owned) : p(owned) {}
  Owned(Owned &&other) noexcept : p(other.detach()) {}
  Owned(const Owned &) = delete;
  Owned &operator=(const Owned &) = delete;
  ~Owned() {
    if (p) p->Release();
  }
  T **put() { return &p; }
  T *operator->() const { return p; }
  T *detach() {
    T *out = p;
    p = nullptr;
    return out;
  }
};

template <typename T> Owned<T> create(REFCLSID clsid, REFIID iid) {
  Owned<T> made;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void **>(made.put()));
  return made;
}

// A BSTR of an ASCII text, for the caller to free.
inline BSTR text(const std::string &ascii) {
  std::basic_string<OLECHAR> wide(ascii.begin(), ascii.end());
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// CPU nanoseconds per iteration of each benchmark that ran, by name (the mean
// of its repetitions), for the comparisons a program prints after its run:
// CPU time, so that other work on a shared machine does not tilt a ratio.
using Timings = std::map<std::string, double>;

// Passes every run on to the reporter that --benchmark_format chose and keeps
// its time, so that a program can compare its benchmarks in the same run.
class TimingReporter : public benchmark::BenchmarkReporter {
 public:
  explicit TimingReporter(benchmark::BenchmarkReporter *display) : display_(display) {}
  bool ReportContext(const Context &context) override { return display_->ReportContext(context); }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      Sum &sum = sums_[run.benchmark_name()];
      sum.total += run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations);
      ++sum.count;
    }
    display_->ReportRuns(runs);
  }
  void Finalize() override { display_->Finalize(); }
  Timings timings() const {
    Timings out;
    for (const auto &[name, sum] : sums_) out[name] = sum.total / sum.count;
    return out;
  }

 private:
  struct Sum {
    double total = 0;
    int count = 0;
  };
  std::unique_ptr<benchmark::BenchmarkReporter> display_;
  std::map<std::string, Sum> sums_;
};

// Prints "what: ratio" of two benchmarks' times to standard error (standard
// output may be JSON), where both ran.
inline void printRatio(const Timings &timings, const char *what, const std::string &numerator,
                       const std::string &denominator) {
  auto top = timings.find(numerator), bottom = timings.find(denominator);
  if (top == timings.end() || bottom == timings.end() || bottom->second <= 0) return;
  std::fprintf(stderr, "%s: %.2f (%s / %s)\n", what, top->second / bottom->second, numerator.c_str(),
               denominator.c_str());
}

// The main of a benchmark program: sets the host up, builds what the
// benchmarks measure (`build` answers whether it could), runs them, tears down what was built and hands the
// times to `compare`.
template <typename Build, typename TearDown>
int runBenchmarks(int argc, char **argv, Build &&build, TearDown &&tearDown,
                  const std::function<void(const Timings &)> &compare = {}) {
  BenchmarkHost host;
  if (!host.ready()) {
    std::fprintf(stderr, "the component could not be registered in a platform root of its own\n");
    return 1;
  }
  if (!build()) {
    std::fprintf(stderr, "the component could not build what the benchmarks measure\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  TimingReporter reporter(benchmark::CreateDefaultDisplayReporter());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  tearDown();
  if (compare) compare(reporter.timings());
  return 0;
}
