// Feeds arbitrary bytes to MyBlob put of every class, as a blob from another
// process would arrive: first as the byte array itself, then as a string
// holding the same bytes. A manager built from the bytes then calculates its
// totals, sweeps and synchronises the tree it got.
//
// An input is one byte that picks the class (its value modulo 7) and the form
// (its value divided by 7, odd for the string form), then the blob's bytes,
// header included. Whatever the bytes, the put must come back as a result
// code, never as a crash, a leak or an allocation out of proportion.
//
// Run for a while from the build folder of the fuzzers:
//   mkdir -p corpus-blob && bin/blob_fuzzer corpus-blob -max_len=4096 -malloc_limit_mb=16 -runs=1000000
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt).
#include <cstdint>
#include <cstring>

#include "FuzzHost.h"
#include "rvZedaZuvivurAzodav.h"

using namespace rv;

namespace {

IDispatch *nodes[ClassCount] = {};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_host::start();
  for (size_t i = 0; i < ClassCount; ++i)
    if (FAILED(CoCreateInstance(*classTable()[i].clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void **>(&nodes[i]))))
      std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t which = data[0] % ClassCount;
  const bool asString = (data[0] / ClassCount) % 2 == 1;
  ++data;
  --size;

  Variant blob;
  if (asString) {
    V_VT(blob.get()) = VT_BSTR;
    V_BSTR(blob.get()) = SysAllocStringByteLen(reinterpret_cast<const char *>(data), static_cast<UINT>(size));
  } else {
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (array == nullptr) return 0;
    if (size != 0) std::memcpy(array->pvData, data, size);
    V_VT(blob.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(blob.get()) = array;
  }

  // MyBlob put through the node's main interface: the property put of
  // dispatch id 3 (objects) or 9 (collections).
  ComPtr<IPerfCommon> common;
  if (FAILED(nodes[which]->QueryInterface(IID_IPerfCommon, common.putVoid()))) std::abort();
  common->put_MyBlob(btAsBinaryArray, *blob.get());

  // A node that took the blob must be able to give one back.
  Variant out;
  common->get_MyBlob(btAsBinaryArray, out.get());

  // A manager goes through every walk over its tree as well: totals, the
  // time-out sweep, and a synchronisation from itself.
  ComPtr<IPerfMgr> manager;
  if (SUCCEEDED(nodes[which]->QueryInterface(IID_IPerfMgr, manager.putVoid()))) {
    manager->CreateTotalInstances();
    manager->CalcTotalInstances();
    manager->RemoveTimedOutInstances();
    manager->SyncronizeFrom(manager.get());
  }

  fuzz_host::afterInput();
  return 0;
}
