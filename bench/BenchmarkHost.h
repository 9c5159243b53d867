// What every benchmark program does before it measures: a platform root of
// its own, the component registered in it, and the outside components as an
// installation has them (the trace settings are then read once, instead of
// on every framed operation).
#pragma once
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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
                                            : reinterpret_cast<HRESULT(STDAPICALLTYPE *)()>(
                                                  reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
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

// The main of a benchmark program: sets the host up, builds what the
// benchmarks measure, runs them, and tears down what was built.
template <typename Build, typename TearDown>
int runBenchmarks(int argc, char **argv, Build &&build, TearDown &&tearDown) {
  BenchmarkHost host;
  if (!host.ready()) return 1;
  build();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tearDown();
  return 0;
}
