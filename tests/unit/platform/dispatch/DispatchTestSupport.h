// Owners and helpers shared by the type library and dispatch tests, which
// run natively over the platform layer and under Wine against oleaut32.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../PlatformTestSupport.h"
#include "OleOwners.h"
#include "rvZedaZuvivurAzodav.h"

// The component module as this target names it.
inline OleString modulePath() {
  const std::string path = COMPONENT_MODULE;
  return OleString(path.begin(), path.end());
}

// The type library as the component loads it: from its own module.
inline void loadContract(ITypeLib **lib) { ASSERT_EQ(S_OK, LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib)); }

inline VARIANT variant(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  return V_VT(&v) = vt, v;
}
inline VARIANT i4(LONG value) {
  VARIANT v = variant(VT_I4);
  return V_I4(&v) = value, v;
}
inline VARIANT r8(double value) {
  VARIANT v = variant(VT_R8);
  return V_R8(&v) = value, v;
}
inline VARIANT text(const OLECHAR *value) {
  VARIANT v = variant(VT_BSTR);
  return V_BSTR(&v) = SysAllocString(value), v;
}
// What a host passes for an argument that the caller left out.
inline VARIANT missing() {
  VARIANT v = variant(VT_ERROR);
  return V_ERROR(&v) = DISP_E_PARAMNOTFOUND, v;
}

// One IDispatch::Invoke call, built the way a scripting host builds it:
// named arguments first in rgvarg, then the positional ones from the last to
// the first; the new value of a property put is the named argument
// DISPID_PROPERTYPUT.
class Invocation {
 public:
  Invocation() {
    VariantInit(&result);
    std::memset(&exception, 0, sizeof exception);
  }
  Invocation(const Invocation &) = delete;
  Invocation &operator=(const Invocation &) = delete;
  ~Invocation() {
    for (VARIANT &v : args_) VariantClear(&v);
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }

  Invocation &arg(VARIANT value) { return args_.insert(args_.begin() + std::ptrdiff_t(names_.size()), value), *this; }
  Invocation &named(DISPID id, VARIANT value) { return arg(value), names_.push_back(id), *this; }
  Invocation &putValue(VARIANT value) { return named(DISPID_PROPERTYPUT, value); }

  HRESULT run(IDispatch *target, DISPID member, WORD flags) {
    DISPPARAMS params = {args_.empty() ? nullptr : args_.data(), names_.empty() ? nullptr : names_.data(),
                         UINT(args_.size()), UINT(names_.size())};
    return target->Invoke(member, IID_NULL, 0, flags, &params, &result, &exception, &argError);
  }

  static constexpr UINT Untouched = 12345;
  VARIANT result;
  EXCEPINFO exception;
  UINT argError = Untouched;

 private:
  std::vector<VARIANT> args_;
  std::vector<DISPID> names_;
};
