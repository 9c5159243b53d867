// Safe arrays. Every descriptor is preceded by 16 hidden bytes, as on
// Windows: the interface identifier of an interface array fills them, the
// element type of other arrays sits in their last 4 bytes, the record
// description of a record array in their last 8. Bounds are stored in
// reverse order of dimension: rgsabound[cDims - 1] is dimension 1, whose
// index (rgIndices[0]) varies fastest in memory.
#include <oleauto.h>

#include <stdlib.h>
#include <string.h>

#include "testing/allocation_faults.h"

namespace {

// Reserved feature bits, as the system uses them: the data shares the
// descriptor's block, and that data has been destroyed.
constexpr USHORT FADF_CREATEVECTOR = 0x2000;
constexpr USHORT FADF_DATADELETED = 0x1000;

constexpr size_t kHiddenSize = sizeof(GUID);
constexpr UINT kMaxDims = 0xFFFF;
constexpr ULONG kMaxLocks = 0xFFFF;
constexpr USHORT kElementKindFeatures = FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH | FADF_RECORD;

BYTE *hiddenOf(SAFEARRAY *psa) { return reinterpret_cast<BYTE *>(psa) - kHiddenSize; }

void setHiddenVartype(SAFEARRAY *psa, VARTYPE vt) {
  DWORD value = vt;
  memcpy(hiddenOf(psa) + kHiddenSize - sizeof value, &value, sizeof value);
}

VARTYPE hiddenVartype(SAFEARRAY *psa) {
  DWORD value;
  memcpy(&value, hiddenOf(psa) + kHiddenSize - sizeof value, sizeof value);
  return VARTYPE(value);
}

IRecordInfo *hiddenRecordInfo(SAFEARRAY *psa) {
  IRecordInfo *info;
  memcpy(&info, hiddenOf(psa) + kHiddenSize - sizeof info, sizeof info);
  return info;
}

size_t descriptorSize(UINT cDims) { return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND); }

// Bytes per element of the types a safe array can hold; 0 for the others.
ULONG elementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR: return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8: return 8;
    case VT_INT_PTR:
    case VT_UINT_PTR:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void *);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

USHORT elementKindFeature(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_BSTR;
    case VT_VARIANT: return FADF_VARIANT;
    case VT_UNKNOWN: return FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_DISPATCH;
    case VT_RECORD: return FADF_RECORD;
    default: return 0;
  }
}

// Number of elements, or false when the product does not fit in memory.
bool cellCount(const SAFEARRAY *psa, size_t *count) {
  size_t cells = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    if (__builtin_mul_overflow(cells, size_t(psa->rgsabound[i].cElements), &cells)) return false;
  }
  *count = cells;
  return true;
}

bool dataSize(const SAFEARRAY *psa, size_t *size) {
  size_t cells;
  return cellCount(psa, &cells) && !__builtin_mul_overflow(cells, size_t(psa->cbElements), size);
}

HRESULT cellOffset(const SAFEARRAY *psa, const LONG *rgIndices, size_t *offset) {
  size_t cell = 0, stride = 1;
  for (USHORT dim = 0; dim < psa->cDims; ++dim) {
    const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - 1 - dim];
    int64_t position = int64_t(rgIndices[dim]) - bound.lLbound;
    if (position < 0 || position >= int64_t(bound.cElements)) return DISP_E_BADINDEX;
    cell += size_t(position) * stride;
    stride *= bound.cElements;
  }
  *offset = cell * psa->cbElements;
  return S_OK;
}

// Releases what the elements own (strings, interfaces, variant contents,
// records) and, unless the storage is about to be freed, zeroes them.
void releaseElements(SAFEARRAY *psa, bool storageStays = true) {
  size_t cells;
  if (psa->pvData == nullptr || !cellCount(psa, &cells)) return;
  BYTE *data = static_cast<BYTE *>(psa->pvData);
  if (psa->fFeatures & FADF_BSTR) {
    BSTR *strings = reinterpret_cast<BSTR *>(data);
    for (size_t i = 0; i < cells; ++i) SysFreeString(strings[i]);
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown **objects = reinterpret_cast<IUnknown **>(data);
    for (size_t i = 0; i < cells; ++i)
      if (objects[i] != nullptr) objects[i]->Release();
  } else if (psa->fFeatures & FADF_VARIANT) {
    VARIANT *variants = reinterpret_cast<VARIANT *>(data);
    for (size_t i = 0; i < cells; ++i) VariantClear(&variants[i]);
  } else if (psa->fFeatures & FADF_RECORD) {
    IRecordInfo *info = hiddenRecordInfo(psa);
    if (info != nullptr)
      for (size_t i = 0; i < cells; ++i) info->RecordClear(data + i * psa->cbElements);
  }
  if (cells != 0 && storageStays) memset(data, 0, cells * psa->cbElements);
}

// Copies one element into uninitialised storage, taking its own reference or
// copy of whatever the element owns.
HRESULT copyElement(SAFEARRAY *psa, void *target, const void *source) {
  if (psa->fFeatures & FADF_BSTR) {
    BSTR text = *static_cast<const BSTR *>(source);
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR *>(target) = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown *object = *static_cast<IUnknown *const *>(source);
    if (object != nullptr) object->AddRef();
    *static_cast<IUnknown **>(target) = object;
  } else if (psa->fFeatures & FADF_VARIANT) {
    VariantInit(static_cast<VARIANT *>(target));
    return VariantCopy(static_cast<VARIANT *>(target), static_cast<const VARIANT *>(source));
  } else if (psa->fFeatures & FADF_RECORD) {
    IRecordInfo *info = hiddenRecordInfo(psa);
    if (info == nullptr) return E_INVALIDARG;
    return info->RecordCopy(const_cast<void *>(source), target);
  } else {
    memcpy(target, source, psa->cbElements);
  }
  return S_OK;
}

HRESULT copyAllElements(SAFEARRAY *source, SAFEARRAY *target) {
  size_t cells;
  if (!cellCount(source, &cells)) return E_OUTOFMEMORY;
  const BYTE *from = static_cast<const BYTE *>(source->pvData);
  BYTE *to = static_cast<BYTE *>(target->pvData);
  if (!(source->fFeatures & kElementKindFeatures)) {
    if (cells != 0) memcpy(to, from, cells * source->cbElements);
    return S_OK;
  }
  for (size_t i = 0; i < cells; ++i) {
    HRESULT hr = copyElement(source, to + i * source->cbElements, from + i * source->cbElements);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

bool sameShape(const SAFEARRAY *a, const SAFEARRAY *b) {
  if (a->cDims != b->cDims || a->cbElements != b->cbElements) return false;
  for (USHORT i = 0; i < a->cDims; ++i)
    if (a->rgsabound[i].cElements != b->rgsabound[i].cElements || a->rgsabound[i].lLbound != b->rgsabound[i].lLbound)
      return false;
  return true;
}

// Runs `work` with the array locked, so that it cannot be destroyed meanwhile.
template <typename Work> HRESULT underLock(SAFEARRAY *psa, Work work) {
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  hr = work();
  SafeArrayUnlock(psa);
  return hr;
}

// Allocates the hidden bytes, the descriptor and `extra` bytes after it, all
// zeroed. Returns the descriptor.
SAFEARRAY *allocateDescriptor(UINT cDims, size_t extra) {
  if (platform::allocationFails()) return nullptr;
  BYTE *block = static_cast<BYTE *>(calloc(1, kHiddenSize + descriptorSize(cDims) + extra));
  if (block == nullptr) return nullptr;
  SAFEARRAY *psa = reinterpret_cast<SAFEARRAY *>(block + kHiddenSize);
  psa->cDims = USHORT(cDims);
  return psa;
}

// Element type, element size and hidden type data of a new descriptor.
HRESULT describeElements(SAFEARRAY *psa, VARTYPE vt) {
  switch (vt) {
    case VT_DISPATCH:
      psa->fFeatures = FADF_HAVEIID;
      memcpy(hiddenOf(psa), &IID_IDispatch, sizeof(GUID));
      break;
    case VT_UNKNOWN:
      psa->fFeatures = FADF_HAVEIID;
      memcpy(hiddenOf(psa), &IID_IUnknown, sizeof(GUID));
      break;
    case VT_RECORD: psa->fFeatures = FADF_RECORD; break;
    default:
      psa->fFeatures = FADF_HAVEVARTYPE;
      setHiddenVartype(psa, vt);
      break;
  }
  psa->cbElements = elementSize(vt);
  return S_OK;
}

}  // namespace

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr || cDims == 0 || cDims > kMaxDims) return E_INVALIDARG;
  *ppsaOut = allocateDescriptor(cDims, 0);
  return *ppsaOut != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY **ppsaOut) {
  if (vt != VT_RECORD && elementSize(vt) == 0) return E_INVALIDARG;
  HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
  if (FAILED(hr)) return hr;
  return describeElements(*ppsaOut, vt);
}

HRESULT SafeArrayAllocData(SAFEARRAY *psa) {
  size_t size;
  if (psa == nullptr) return E_INVALIDARG;
  if (!dataSize(psa, &size) || platform::allocationFails()) return E_OUTOFMEMORY;
  psa->pvData = calloc(1, size == 0 ? 1 : size);
  return psa->pvData != nullptr ? S_OK : E_OUTOFMEMORY;
}

SAFEARRAY *SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound) {
  if (rgsabound == nullptr || vt == VT_RECORD) return nullptr;
  SAFEARRAY *psa;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) return nullptr;
  psa->fFeatures |= elementKindFeature(vt);
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(SafeArrayAllocData(psa))) {
    SafeArrayDestroyDescriptor(psa);
    return nullptr;
  }
  return psa;
}

// A vector keeps its descriptor and its data in one block.
SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  ULONG size = elementSize(vt);
  size_t bytes;
  if (size == 0 || __builtin_mul_overflow(size_t(cElements), size_t(size), &bytes)) return nullptr;
  SAFEARRAY *psa = allocateDescriptor(1, bytes);
  if (psa == nullptr) return nullptr;
  describeElements(psa, vt);
  psa->fFeatures |= elementKindFeature(vt) | FADF_CREATEVECTOR;
  psa->rgsabound[0].cElements = cElements;
  psa->rgsabound[0].lLbound = lLbound;
  psa->pvData = reinterpret_cast<BYTE *>(psa) + descriptorSize(1);
  return psa;
}

namespace {

// The data's part of destroying an array. Storage that outlives the call
// (the caller's own, or a vector's, which lives with the descriptor while
// the descriptor does) is left zeroed; storage freed here, or freed with the
// descriptor right after, is not written first.
HRESULT destroyData(SAFEARRAY *psa, bool descriptorStays) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  const bool callersStorage = (psa->fFeatures & (FADF_STATIC | FADF_AUTO | FADF_EMBEDDED)) != 0;
  const bool vector = (psa->fFeatures & FADF_CREATEVECTOR) != 0;
  releaseElements(psa, callersStorage || (vector && descriptorStays));
  if (psa->pvData == nullptr || callersStorage) return S_OK;
  if (vector) {
    psa->fFeatures |= FADF_DATADELETED;
  } else {
    free(psa->pvData);
    psa->pvData = nullptr;
  }
  return S_OK;
}

}  // namespace

HRESULT SafeArrayDestroyData(SAFEARRAY *psa) { return destroyData(psa, true); }

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY *psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & FADF_RECORD) {
    IRecordInfo *info = hiddenRecordInfo(psa);
    if (info != nullptr) info->Release();
  }
  free(hiddenOf(psa));
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY *psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  HRESULT hr = destroyData(psa, false);
  if (FAILED(hr)) return hr;
  return SafeArrayDestroyDescriptor(psa);
}

UINT SafeArrayGetDim(SAFEARRAY *psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY *psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = LONG(int64_t(bound.lLbound) + int64_t(bound.cElements) - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (__atomic_add_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL) > kMaxLocks) {
    __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ULONG locks = __atomic_load_n(&psa->cLocks, __ATOMIC_ACQUIRE);
  do {
    if (locks == 0) return E_UNEXPECTED;
  } while (!__atomic_compare_exchange_n(&psa->cLocks, &locks, locks - 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY *psa, void **ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY *psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData) {
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  size_t offset;
  HRESULT hr = cellOffset(psa, rgIndices, &offset);
  if (FAILED(hr)) return hr;
  *ppvData = static_cast<BYTE *>(psa->pvData) + offset;
  return S_OK;
}

// The array keeps its own copy: strings are duplicated, interfaces gain a
// reference, variants are copied; the element it replaces is released.
HRESULT SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
  if (pv == nullptr && !(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH))) return E_INVALIDARG;
  return underLock(psa, [&]() -> HRESULT {
    void *cell;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
    if (FAILED(hr)) return hr;
    if (psa->fFeatures & FADF_VARIANT) return VariantCopy(static_cast<VARIANT *>(cell), static_cast<VARIANT *>(pv));
    if (psa->fFeatures & FADF_BSTR) {
      // The string is passed itself, not its address; a null string is
      // stored as an empty one.
      BSTR text = static_cast<BSTR>(pv);
      BSTR copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
      if (copy == nullptr) return E_OUTOFMEMORY;
      SysFreeString(*static_cast<BSTR *>(cell));
      *static_cast<BSTR *>(cell) = copy;
      return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown *object = static_cast<IUnknown *>(pv);
      if (object != nullptr) object->AddRef();
      IUnknown *previous = *static_cast<IUnknown **>(cell);
      *static_cast<IUnknown **>(cell) = object;
      if (previous != nullptr) previous->Release();
      return S_OK;
    }
    if (psa->fFeatures & FADF_RECORD) {
      IRecordInfo *info = hiddenRecordInfo(psa);
      if (info == nullptr) return E_INVALIDARG;
      info->RecordClear(cell);
      return info->RecordCopy(pv, cell);
    }
    memcpy(cell, pv, psa->cbElements);
    return S_OK;
  });
}

HRESULT SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  return underLock(psa, [&]() -> HRESULT {
    void *cell;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
    if (FAILED(hr)) return hr;
    return copyElement(psa, pv, cell);
  });
}

HRESULT SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_RECORD)
    *pvt = VT_RECORD;
  else if (psa->fFeatures & FADF_HAVEIID)
    *pvt = (psa->fFeatures & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
  else if (psa->fFeatures & FADF_HAVEVARTYPE)
    *pvt = hiddenVartype(psa);
  else
    return E_INVALIDARG;
  return S_OK;
}

HRESULT SafeArrayCopyData(SAFEARRAY *psaSource, SAFEARRAY *psaTarget) {
  if (psaSource == nullptr || psaTarget == nullptr || !sameShape(psaSource, psaTarget)) return E_INVALIDARG;
  if (psaSource->pvData == nullptr || psaTarget->pvData == nullptr) return E_INVALIDARG;
  releaseElements(psaTarget);
  return copyAllElements(psaSource, psaTarget);
}

// The copy is a plain array of the same type, bounds and contents, unlocked
// and with its data in its own block.
HRESULT SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  if (psa->cDims == 0) return E_INVALIDARG;
  SAFEARRAY *copy = allocateDescriptor(psa->cDims, 0);
  if (copy == nullptr) return E_OUTOFMEMORY;
  memcpy(hiddenOf(copy), hiddenOf(psa), kHiddenSize);
  copy->fFeatures = psa->fFeatures & ~(FADF_CREATEVECTOR | FADF_DATADELETED | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED);
  copy->cbElements = psa->cbElements;
  memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  if ((copy->fFeatures & FADF_RECORD) && hiddenRecordInfo(copy) != nullptr) hiddenRecordInfo(copy)->AddRef();
  if (psa->pvData != nullptr) {
    HRESULT hr = SafeArrayAllocData(copy);
    if (SUCCEEDED(hr)) hr = copyAllElements(psa, copy);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

// Changes the bounds of the most significant dimension, the one whose
// elements lie in contiguous runs, so the kept elements stay where they are.
HRESULT SafeArrayRedim(SAFEARRAY *psa, SAFEARRAYBOUND *psaboundNew) {
  if (psa == nullptr || psaboundNew == nullptr) return E_INVALIDARG;
  if (psa->cLocks != 0 || (psa->fFeatures & FADF_FIXEDSIZE)) return DISP_E_ARRAYISLOCKED;
  size_t oldSize, newSize;
  if (!dataSize(psa, &oldSize)) return E_OUTOFMEMORY;
  SAFEARRAYBOUND oldBound = psa->rgsabound[0];
  psa->rgsabound[0].cElements = psaboundNew->cElements;
  bool fits = dataSize(psa, &newSize);
  psa->rgsabound[0] = oldBound;
  if (!fits || platform::allocationFails()) return E_OUTOFMEMORY;

  BYTE *data = static_cast<BYTE *>(calloc(1, newSize == 0 ? 1 : newSize));
  if (data == nullptr) return E_OUTOFMEMORY;
  if (newSize < oldSize && psa->pvData != nullptr) {
    // Release the elements that fall off the end.
    SAFEARRAY tail = *psa;
    tail.cDims = 1;
    tail.rgsabound[0].lLbound = 0;
    tail.rgsabound[0].cElements = ULONG((oldSize - newSize) / (psa->cbElements ? psa->cbElements : 1));
    tail.pvData = static_cast<BYTE *>(psa->pvData) + newSize;
    if (psa->fFeatures & FADF_RECORD) {
      IRecordInfo *info = hiddenRecordInfo(psa);
      for (size_t at = newSize; info != nullptr && at < oldSize; at += psa->cbElements)
        info->RecordClear(static_cast<BYTE *>(psa->pvData) + at);
    } else {
      releaseElements(&tail);
    }
  }
  if (psa->pvData != nullptr) memcpy(data, psa->pvData, newSize < oldSize ? newSize : oldSize);
  if (psa->pvData != nullptr && !(psa->fFeatures & (FADF_CREATEVECTOR | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED)))
    free(psa->pvData);
  psa->fFeatures &= ~(FADF_CREATEVECTOR | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED);
  psa->pvData = data;
  psa->rgsabound[0] = *psaboundNew;
  return S_OK;
}

HRESULT VectorFromBstr(BSTR bstr, SAFEARRAY **ppsa) {
  if (ppsa == nullptr) return E_INVALIDARG;
  SAFEARRAYBOUND bound = {SysStringByteLen(bstr), 0};
  *ppsa = SafeArrayCreate(VT_UI1, 1, &bound);
  if (*ppsa == nullptr) return E_OUTOFMEMORY;
  if (bound.cElements != 0) memcpy((*ppsa)->pvData, bstr, bound.cElements);
  return S_OK;
}

HRESULT BstrFromVector(SAFEARRAY *psa, BSTR *pbstr) {
  if (psa == nullptr || pbstr == nullptr) return E_INVALIDARG;
  *pbstr = nullptr;
  if (psa->cbElements != 1) return DISP_E_TYPEMISMATCH;
  if (psa->cDims != 1) return E_INVALIDARG;
  *pbstr = SysAllocStringByteLen(static_cast<LPCSTR>(psa->pvData), psa->rgsabound[0].cElements);
  return *pbstr != nullptr ? S_OK : E_OUTOFMEMORY;
}
