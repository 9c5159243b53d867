// Which variant types the automation functions accept.
#pragma once

#include <oleauto.h>

namespace oleaut {

// The types a VARIANT may carry: the base types up to VT_UINT except 15,
// records and class identifiers, optionally as array or reference; empty and
// null never as array or reference; never vectors.
inline HRESULT validateVartype(VARTYPE vt) {
  VARTYPE extra = vt & ~VT_TYPEMASK, base = vt & VT_TYPEMASK;
  if (extra & (VT_VECTOR | VT_RESERVED)) return DISP_E_BADVARTYPE;
  if (base != 15 && (base < VT_VOID || base == VT_RECORD || base == VT_CLSID)) {
    if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) return DISP_E_BADVARTYPE;
    return S_OK;
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace oleaut
