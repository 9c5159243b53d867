// Variant life cycle: initialisation, clearing and copying.
#include <oleauto.h>

#include <string.h>

#include "oleaut/variant_types.h"

using oleaut::validateVartype;

void VariantInit(VARIANTARG *pvarg) {
  if (pvarg == nullptr) return;
  V_VT(pvarg) = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

// Releases what the variant owns; references (VT_BYREF) own nothing. The
// variant is left empty even when a locked array could not be destroyed.
HRESULT VariantClear(VARIANTARG *pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  HRESULT hr = validateVartype(V_VT(pvarg));
  if (FAILED(hr)) return hr;
  if (!V_ISBYREF(pvarg)) {
    if (V_ISARRAY(pvarg)) {
      hr = SafeArrayDestroy(V_ARRAY(pvarg));
    } else {
      switch (V_VT(pvarg)) {
        case VT_BSTR: SysFreeString(V_BSTR(pvarg)); break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
          if (V_UNKNOWN(pvarg) != nullptr) V_UNKNOWN(pvarg)->Release();
          break;
        case VT_RECORD:
          if (V_RECORDINFO(pvarg) != nullptr) {
            V_RECORDINFO(pvarg)->RecordClear(V_RECORD(pvarg));
            V_RECORDINFO(pvarg)->Release();
          }
          break;
        default: break;
      }
    }
  }
  V_VT(pvarg) = VT_EMPTY;
  return hr;
}

namespace {

// Copies a record into a fresh record of the same description.
HRESULT copyRecord(VARIANT *dest, const VARIANT *src) {
  IRecordInfo *info = V_RECORDINFO(src);
  if (info == nullptr) return E_INVALIDARG;
  PVOID copy = nullptr;
  HRESULT hr = info->RecordCreateCopy(V_RECORD(src), &copy);
  if (FAILED(hr)) return hr;
  info->AddRef();
  V_RECORD(dest) = copy;
  V_RECORDINFO(dest) = info;
  return S_OK;
}

// Makes `dest` (whose old contents are already released) an owning copy of
// the value `src`, which is not a reference.
HRESULT copyOwnedValue(VARIANT *dest, const VARIANT *src) {
  *dest = *src;
  if (V_ISARRAY(src)) {
    V_ARRAY(dest) = nullptr;
    return SafeArrayCopy(V_ARRAY(src), &V_ARRAY(dest));
  }
  switch (V_VT(src)) {
    case VT_BSTR:
      if (V_BSTR(src) != nullptr) {
        V_BSTR(dest) = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(V_BSTR(src)), SysStringByteLen(V_BSTR(src)));
        if (V_BSTR(dest) == nullptr) return E_OUTOFMEMORY;
      } else {
        V_BSTR(dest) = SysAllocStringLen(nullptr, 0);
      }
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (V_UNKNOWN(dest) != nullptr) V_UNKNOWN(dest)->AddRef();
      break;
    case VT_RECORD: return copyRecord(dest, src);
    default: break;
  }
  return S_OK;
}

// The value a reference variant points at, as a plain variant sharing the
// pointed-to contents.
HRESULT dereference(const VARIANT *src, VARIANT *value) {
  VARTYPE base = V_VT(src) & ~VT_BYREF;
  VariantInit(value);
  if (base == VT_VARIANT) {
    const VARIANT *inner = V_VARIANTREF(src);
    if (inner == nullptr) return E_INVALIDARG;
    if (V_VT(inner) == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
    if (V_ISBYREF(inner)) return dereference(inner, value);
    *value = *inner;
    return S_OK;
  }
  if (V_BYREF(src) == nullptr) return E_INVALIDARG;
  V_VT(value) = base;
  if (base & VT_ARRAY) {
    V_ARRAY(value) = *V_ARRAYREF(src);
    return S_OK;
  }
  switch (base) {
    case VT_I1:
    case VT_UI1: memcpy(&V_UI1(value), V_BYREF(src), 1); break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: memcpy(&V_UI2(value), V_BYREF(src), 2); break;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR: memcpy(&V_UI4(value), V_BYREF(src), 4); break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: memcpy(&V_UI8(value), V_BYREF(src), 8); break;
    case VT_BSTR: V_BSTR(value) = *V_BSTRREF(src); break;
    case VT_DISPATCH:
    case VT_UNKNOWN: V_UNKNOWN(value) = *V_UNKNOWNREF(src); break;
    case VT_DECIMAL: {
      DECIMAL decimal = *V_DECIMALREF(src);
      V_DECIMAL(value) = decimal;
      V_VT(value) = VT_DECIMAL;
      break;
    }
    case VT_RECORD:
      *value = *src;
      V_VT(value) = VT_RECORD;
      break;
    default: return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

}  // namespace

// A reference is copied as a reference. Copying a variant onto itself leaves
// it as it is.
HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = validateVartype(V_VT(pvargSrc));
  if (FAILED(hr)) return hr;
  if (pvargDest == pvargSrc) return S_OK;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  if (V_ISBYREF(pvargSrc)) {
    *pvargDest = *pvargSrc;
    return S_OK;
  }
  hr = copyOwnedValue(pvargDest, pvargSrc);
  if (FAILED(hr)) V_VT(pvargDest) = VT_EMPTY;
  return hr;
}

// Like VariantCopy, but a reference is replaced by an owning copy of what it
// points at, so the copy outlives the referenced storage.
HRESULT VariantCopyInd(VARIANT *pvarDest, const VARIANTARG *pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = validateVartype(V_VT(pvargSrc));
  if (FAILED(hr)) return hr;
  if (!V_ISBYREF(pvargSrc)) return VariantCopy(pvarDest, pvargSrc);
  VARIANT value;
  hr = dereference(pvargSrc, &value);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  VariantInit(&copy);
  hr = copyOwnedValue(&copy, &value);
  if (FAILED(hr)) {
    V_VT(&copy) = VT_EMPTY;
    return hr;
  }
  // The source may be the destination: clear only after the copy is made.
  if (pvarDest == pvargSrc) {
    *pvarDest = copy;
    return S_OK;
  }
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}
