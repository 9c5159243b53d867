// Feeds arbitrary bytes to MyBlob put of every class, as a blob from another
// process would arrive: first as the byte array itself, then as a string
// holding the same bytes. A manager built from the bytes then calculates its
// totals, sweeps and synchronises the tree it got.
//
// The put reads by the plain walk where it can; the same bytes also go, as a
// byte array, to a second node of the class through its framed TransferIn
// alone. Both must answer alike, move the blob's cursor alike and leave
// trees with the same blob, so the plain read, writing over the tree the
// earlier inputs left, ends wherever the framed read ends.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzHost.h"
#include "rvZedaZuvivurAzodav.h"

using namespace rv;

namespace {

IDispatch *nodes[ClassCount] = {};
IDispatch *framedNodes[ClassCount] = {};

void require(bool condition, const char *what) {
  if (condition) return;
  std::fprintf(stderr, "blob_fuzzer: %s\n", what);
  std::abort();
}

void fillArray(Variant &blob, const uint8_t *data, size_t size) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
  require(array != nullptr, "no array");
  if (size != 0) std::memcpy(array->pvData, data, size);
  V_VT(blob.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(blob.get()) = array;
}

std::string bytesOf(const VARIANT *blob) {
  if (V_VT(blob) != (VT_ARRAY | VT_UI1) || V_ARRAY(blob) == nullptr) return "<none>";
  return std::string(static_cast<const char *>(V_ARRAY(blob)->pvData), V_ARRAY(blob)->rgsabound[0].cElements);
}

// The node's blob, or its failure.
std::string blobOf(IPerfCommon *node) {
  Variant out;
  const HRESULT hr = node->get_MyBlob(btAsBinaryArray, out.get());
  return SUCCEEDED(hr) ? bytesOf(out.get()) : "failed " + std::to_string(hr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_host::start();
  for (size_t i = 0; i < ClassCount; ++i)
    if (FAILED(CoCreateInstance(*classTable()[i].clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void **>(&nodes[i]))) ||
        FAILED(CoCreateInstance(*classTable()[i].clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void **>(&framedNodes[i]))))
      std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t which = data[0] % ClassCount;
  const bool asString = (data[0] / ClassCount) % 2 == 1;
  ++data;
  --size;

  Variant blob, framedBlob;
  fillArray(framedBlob, data, size);
  if (!asString) {
    fillArray(blob, data, size);
  } else {
    V_VT(blob.get()) = VT_BSTR;
    V_BSTR(blob.get()) = SysAllocStringByteLen(reinterpret_cast<const char *>(data), static_cast<UINT>(size));
  }

  // MyBlob put through the node's main interface: the property put of
  // dispatch id 3 (objects) or 9 (collections).
  ComPtr<IPerfCommon> common, framedCommon;
  ComPtr<IPerfTransfer> framed;
  require(SUCCEEDED(nodes[which]->QueryInterface(IID_IPerfCommon, common.putVoid())) &&
              SUCCEEDED(framedNodes[which]->QueryInterface(IID_IPerfCommon, framedCommon.putVoid())) &&
              SUCCEEDED(framedNodes[which]->QueryInterface(IID_IPerfTransfer, framed.putVoid())),
          "a node without its interfaces");
  const HRESULT put = common->put_MyBlob(btAsBinaryArray, *blob.get());
  // A string is read from a copy made as a byte array: its cursor goes nowhere.
  require(put == framed->TransferIn(*framedBlob.get()), "MyBlob put and the framed read give different results");
  if (!asString) require(bytesOf(blob.get()) == bytesOf(framedBlob.get()), "the reads move the cursor differently");
  // A node that took the blob must be able to give one back.
  require(blobOf(common.get()) == blobOf(framedCommon.get()), "the reads leave different trees");

  // A manager goes through every walk over its tree as well: totals, the
  // time-out sweep, and a synchronisation from itself; the second node too,
  // so that the next input finds the same trees.
  for (IDispatch *node : {nodes[which], framedNodes[which]}) {
    ComPtr<IPerfMgr> manager;
    if (FAILED(node->QueryInterface(IID_IPerfMgr, manager.putVoid()))) break;
    manager->CreateTotalInstances();
    manager->CalcTotalInstances();
    manager->RemoveTimedOutInstances();
    manager->SyncronizeFrom(manager.get());
  }

  fuzz_host::afterInput();
  return 0;
}
