// Feeds arbitrary bytes to the readers of blobs, as another process could.
//
// An input is: one byte that picks a target from the table below, then the
// target's own bytes. A target wraps its bytes into a blob and reads it; any
// failure must arrive as a raised Err or a returned result, never as a crash,
// a leak, undefined behaviour or an allocation out of proportion to the blob.
// New readers (the MyBlob put of each class) are new rows of the table.
//
// Run for a while from the build folder of the fuzzers (<src> is the source
// tree); the new inputs it finds stay in ./corpus for the next run:
//   mkdir -p corpus && bin/transfer_fuzzer corpus <src>/tests/fuzz/seeds/transfer \
//     -dict=<src>/tests/fuzz/transfer.dict -max_len=4096 -malloc_limit_mb=16 \
//     -jobs=2 -workers=2 -runs=500000
// -malloc_limit_mb holds every single allocation to 16 MB, far above what a
// 4 KB blob may cause; -max_total_time=<seconds> bounds a run by time instead.
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "doubles/DoublesHarness.h"
#include "log/Err.h"
#include "server/ComPtr.h"
#include "transfer/CTran.h"

using namespace rv;

namespace {

// A broken promise of the transfer code itself, as opposed to a refused blob.
void require(bool condition, const char *what) {
  if (condition) return;
  std::fprintf(stderr, "transfer_fuzzer: %s\n", what);
  std::abort();
}

// A blob with a valid header (token 4, cursor 0) around `payload`.
bool makeBlob(Variant &blob, const uint8_t *payload, size_t size) {
  if (CTran::CreateArray(blob.put(), LONG(size)) != S_OK) return false;
  if (size != 0) std::memcpy(static_cast<BYTE *>(V_ARRAY(blob.get())->pvData) + CTran::HeaderSize, payload, size);
  return true;
}

// The bytes WriteVariant writes for `value`, which must be exactly
// VariantSize of them; whatever a read produced must be writable.
std::string written(const VARIANT *value) {
  const ULONG size = CTran::VariantSize(value);
  Variant blob;
  require(CTran::CreateArray(blob.get(), LONG(size)) == S_OK, "no blob for a value that was read");
  {
    CTran tran(blob.get());
    tran.WriteVariant(value);
    require(tran.cursor() == tran.size(), "WriteVariant did not write VariantSize bytes");
    tran.close();
  }
  const char *bytes = static_cast<const char *>(V_ARRAY(blob.get())->pvData);
  return std::string(bytes + CTran::HeaderSize, size);
}

// Reading what was written gives the same value: written once more, the
// bytes do not change. Nothing on the way may fail.
void roundTrip(const VARIANT *value) {
  const std::string bytes = written(value);
  Variant blob;
  require(makeBlob(blob, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), "no blob");
  CTran tran(blob.get());
  Variant again;
  require(tran.ReadVariant(again.get()) == S_OK, "a written value does not read back");
  require(tran.cursor() == tran.size(), "a written value reads back shorter");
  tran.close();
  require(written(again.get()) == bytes, "a written value reads back different");
}

void checkRoundTrip(const VARIANT *value) {
  try {
    roundTrip(value);
  } catch (const Err &e) {
    std::fprintf(stderr, "transfer_fuzzer: %s in %s\n", e.description.c_str(), e.procedure.c_str());
    require(false, "a value that was read could not be written and read again");
  }
}

// Strings and variants, one after the other as the first byte's bits say,
// until the blob runs out or is refused.
void readStringsAndVariants(const uint8_t *data, size_t size) {
  if (size == 0) return;
  const uint8_t schedule = data[0];
  Variant blob;
  if (!makeBlob(blob, data + 1, size - 1)) return;
  try {
    CTran tran(blob.get());
    for (unsigned step = 0;; ++step) {
      if (schedule & (1u << (step % 8))) {
        Bstr text;
        if (tran.ReadString(text.put()) != S_OK) break;
        Variant asVariant;
        V_VT(asVariant.get()) = VT_BSTR;
        V_BSTR(asVariant.get()) = text.detach();
        checkRoundTrip(asVariant.get());
      } else {
        Variant value;
        if (tran.ReadVariant(value.get()) != S_OK) break;
        checkRoundTrip(value.get());
      }
    }
  } catch (const Err &) {
    // The blob was refused, as it should be when it is not a valid one.
  }
  require(V_ARRAY(blob.get())->cLocks == 0, "a transfer left the blob locked");
}

using Target = void (*)(const uint8_t *data, size_t size);
const Target targets[] = {readStringsAndVariants};

DoublesHarness *doubles = nullptr;
std::string platformRoot;

void resetDoubles() {
  DoublesSettings settings = {};
  settings.errorLogAvailable = TRUE;
  settings.traceAvailable = TRUE;
  doubles->reset(settings);
}

// The doubles' class objects, registered with the apartment as well, so that
// the log operation finds them without a look into the registry for each
// record.
DWORD cookies[2] = {};

void registerClassObjects() {
  using GetClassObject = HRESULT(WINAPI *)(REFCLSID, REFIID, void **);
  const auto entry = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void *>(GetProcAddress(LoadLibraryA(DOUBLES_MODULE), "DllGetClassObject")));
  require(entry != nullptr, "the outside doubles have no class objects");
  const CLSID *classes[2] = {&CLSID_ErrorLog, &CLSID_TraceSettings};
  for (int i = 0; i < 2; ++i) {
    ComPtr<IUnknown> factory;
    require(SUCCEEDED(entry(*classes[i], IID_IUnknown, factory.putVoid())), "no class object of a double");
    require(SUCCEEDED(CoRegisterClassObject(*classes[i], factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                            &cookies[i])),
            "a double's class object could not be registered");
  }
}

void cleanUp() {
  for (DWORD cookie : cookies)
    if (cookie != 0) CoRevokeClassObject(cookie);
  delete doubles;
  CoUninitialize();
  std::error_code ignored;
  if (!platformRoot.empty()) std::filesystem::remove_all(platformRoot, ignored);
}

}  // namespace

// Every refused blob is logged by each frame it crosses: the doubles of the
// outside components take the records in memory, instead of the fallback log
// file growing by a few records per input, and the platform's state (the
// registry where the doubles are registered) lives in a folder of the run.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (std::getenv("WINPLATFORM_ROOT") == nullptr) {
    char pattern[] = "/tmp/transfer-fuzzer-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    platformRoot = pattern;
    setenv("WINPLATFORM_ROOT", pattern, 1);
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  doubles = new DoublesHarness(DOUBLES_MODULE);
  require(doubles->loaded(), "the outside doubles did not load");
  registerClassObjects();
  resetDoubles();
  std::atexit(cleanUp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  targets[data[0] % (sizeof targets / sizeof targets[0])](data + 1, size - 1);
  // The doubles keep every record: a deeply nested blob that is refused
  // leaves a few hundred of them. They go after each input, so that what the
  // malloc limit sees is the transfer's own allocations.
  resetDoubles();
  return 0;
}
