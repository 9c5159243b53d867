// Feeds arbitrary bytes to Load as the definition file RVCounters.xml, as an
// installer's broken or hostile file would arrive: whatever the bytes, Load
// must come back with a result code, never a crash, a leak or an allocation
// out of proportion, and the tree it leaves must give a blob.
//
// Run for a while from the build folder of the fuzzers:
//   mkdir -p corpus-load && bin/load_fuzzer corpus-load ../../tests/fuzz/seeds/load \
//     -dict=../../tests/fuzz/load.dict -max_len=4096 -malloc_limit_mb=64 -runs=1000000
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt).
#include <cstdint>

#include "FuzzHost.h"
#include "rvZedaZuvivurAzodav.h"
#include "server/Text.h"

using namespace rv;

namespace {

IPerfMgr *manager = nullptr;
Text folder;
Text file;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_host::start();
  OLECHAR temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  folder = Text(temp) + OLESTR("load");
  file = folder + OLESTR("\\RVCounters.xml");
  if (!CreateDirectoryW(folder.c_str(), nullptr) ||
      FAILED(CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr,
                              reinterpret_cast<void **>(&manager))))
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) std::abort();
  DWORD written = 0;
  if (size != 0 && (!WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) || written != size))
    std::abort();
  CloseHandle(out);

  Bstr where(folder.c_str());
  manager->Load(where.get());
  Variant blob;
  manager->get_MyBlob(btAsBinaryArray, blob.get());
  fuzz_host::afterInput();
  return 0;
}
