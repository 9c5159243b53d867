// DispCallFunc: a call through a function table (or to a plain function
// address when there is no instance) with arguments given as VARIANTs. The
// call itself is made by libffi with the platform's own calling convention,
// which is what every function table of this platform is compiled with.
#include <windows.h>
#include <oleauto.h>

#include <ffi.h>

#include <cstring>
#include <vector>

#include "small_buffer.h"

namespace {

// VARIANT and DECIMAL travel by value as plain structures of their size.
ffi_type *variantElements[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, nullptr};
ffi_type variantType = {sizeof(VARIANT), alignof(VARIANT), FFI_TYPE_STRUCT, variantElements};
ffi_type *decimalElements[] = {&ffi_type_uint64, &ffi_type_uint64, nullptr};
ffi_type decimalType = {sizeof(DECIMAL), alignof(DECIMAL), FFI_TYPE_STRUCT, decimalElements};
static_assert(sizeof(VARIANT) == 24 && sizeof(DECIMAL) == 16, "VARIANT and DECIMAL have the Windows layout");

// The libffi type of a value of type vt, and where in a VARIANT it sits;
// null for a type that cannot be passed.
ffi_type *ffiType(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_ARRAY)) return &ffi_type_pointer;
  switch (vt) {
    case VT_I1: return &ffi_type_sint8;
    case VT_UI1: return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL: return &ffi_type_sint16;
    case VT_UI2: return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT: return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT: return &ffi_type_uint32;
    case VT_I8:
    case VT_CY: return &ffi_type_sint64;
    case VT_UI8: return &ffi_type_uint64;
    case VT_R4: return &ffi_type_float;
    case VT_R8:
    case VT_DATE: return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
    case VT_INT_PTR:
    case VT_UINT_PTR:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_SAFEARRAY: return &ffi_type_pointer;
    case VT_VARIANT: return &variantType;
    case VT_DECIMAL: return &decimalType;
    default: return nullptr;
  }
}

void *argumentValue(VARTYPE vt, VARIANTARG *arg) {
  if (vt == VT_VARIANT) return arg;
  if (vt == VT_DECIMAL) return &V_DECIMAL(arg);
  return &V_UNION(arg, llVal);
}

}  // namespace

HRESULT WINAPI DispCallFunc(void *pvInstance, ULONG_PTR oVft, CALLCONV cc, VARTYPE vtReturn, UINT cActuals,
                            VARTYPE *prgvt, VARIANTARG **prgpvarg, VARIANT *pvargResult) {
  if (cc != CC_STDCALL && cc != CC_CDECL) return E_INVALIDARG;
  // A result code comes back as VT_ERROR; VT_HRESULT is refused, as oleaut32
  // refuses it.
  if (vtReturn == VT_HRESULT) return E_INVALIDARG;
  if (cActuals > 0 && (prgvt == nullptr || prgpvarg == nullptr)) return E_INVALIDARG;
  if (pvInstance != nullptr && oVft % sizeof(void *) != 0) return E_INVALIDARG;

  void *function;
  if (pvInstance != nullptr) {
    void **table = *static_cast<void ***>(pvInstance);
    function = table[oVft / sizeof(void *)];
  } else {
    function = reinterpret_cast<void *>(oVft);
  }
  if (function == nullptr) return E_INVALIDARG;

  const size_t count = size_t(cActuals) + (pvInstance != nullptr ? 1 : 0);
  platform::typelib::SmallBuffer<ffi_type *> types(count, nullptr);
  platform::typelib::SmallBuffer<void *> values(count, nullptr);
  size_t at = 0;
  if (pvInstance != nullptr) {
    types[at] = &ffi_type_pointer;
    values[at++] = &pvInstance;
  }
  for (UINT i = 0; i < cActuals; ++i, ++at) {
    ffi_type *type = ffiType(prgvt[i]);
    if (type == nullptr || prgpvarg[i] == nullptr) return DISP_E_BADVARTYPE;
    types[at] = type;
    values[at] = argumentValue(prgvt[i], prgpvarg[i]);
  }

  ffi_type *returnType = (vtReturn == VT_EMPTY || vtReturn == VT_VOID) ? &ffi_type_void : ffiType(vtReturn);
  if (returnType == nullptr) return DISP_E_BADVARTYPE;
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, unsigned(types.size()), returnType, types.data()) != FFI_OK)
    return E_INVALIDARG;

  // Integral results come back widened to a full register.
  union {
    ffi_arg integer;
    float single;
    double real;
    VARIANT variant;
    DECIMAL decimal;
    void *pointer;
  } out;
  std::memset(&out, 0, sizeof out);
  ffi_call(&cif, FFI_FN(function), &out, values.data());

  if (pvargResult == nullptr) return S_OK;
  VariantInit(pvargResult);
  if (returnType == &ffi_type_void) return S_OK;
  if (vtReturn == VT_VARIANT) {
    *pvargResult = out.variant;
    return S_OK;
  }
  V_VT(pvargResult) = vtReturn;
  if (vtReturn == VT_DECIMAL) {
    V_DECIMAL(pvargResult) = out.decimal;
    V_VT(pvargResult) = VT_DECIMAL;
  } else if (returnType == &ffi_type_float) {
    V_R4(pvargResult) = out.single;
  } else if (returnType == &ffi_type_double) {
    V_R8(pvargResult) = out.real;
  } else if (returnType == &ffi_type_pointer) {
    V_BYREF(pvargResult) = out.pointer;
  } else {
    const size_t width = returnType->size;
    ULONGLONG value = ULONGLONG(out.integer);
    std::memset(&V_UNION(pvargResult, llVal), 0, sizeof(ULONGLONG));
    std::memcpy(&V_UNION(pvargResult, llVal), &value, width);
  }
  return S_OK;
}
