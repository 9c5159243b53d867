// Owners and helpers shared by the type library and dispatch tests, which
// run natively over the platform layer and under Wine against oleaut32.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rvZedaZuvivurAzodav.h"

using OleString = std::basic_string<OLECHAR>;

template <typename T> class Com {
 public:
  Com() = default;
  Com(const Com &) = delete;
  Com &operator=(const Com &) = delete;
  ~Com() { reset(); }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  T **put() {
    reset();
    return &p_;
  }
  void **putVoid() { return reinterpret_cast<void **>(put()); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T *p_ = nullptr;
};

class Text {
 public:
  Text() = default;
  Text(const Text &) = delete;
  Text &operator=(const Text &) = delete;
  ~Text() { SysFreeString(value_); }
  BSTR *put() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  BSTR get() const { return value_; }
  std::string str() const {
    std::string out;
    for (const OLECHAR *c = value_; c && *c; ++c) out.push_back(*c < 0x80 ? char(*c) : '?');
    return out;
  }

 private:
  BSTR value_ = nullptr;
};

inline OleString ole(const std::string &text) { return OleString(text.begin(), text.end()); }

inline std::string narrow(const OLECHAR *text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? char(*text) : '?');
  return out;
}

// The component module as this target names it.
inline OleString modulePath() { return ole(COMPONENT_MODULE); }

// A POSIX path of the build as both targets accept it: Wine and the platform
// layer both map drive Z: to the POSIX root.
inline OleString buildPath(const std::string &posix) {
  OleString out = OLESTR("Z:");
  for (char c : posix) out.push_back(c == '/' ? u'\\' : OLECHAR(c));
  return out;
}

// The type library as the component loads it: from its own module.
inline void loadContract(ITypeLib **lib) {
  ASSERT_EQ(S_OK, LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib));
}

inline VARIANT i4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

inline VARIANT r8(double value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = value;
  return v;
}

inline VARIANT text(const OLECHAR *value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(value);
  return v;
}

inline VARIANT missing() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

// One IDispatch::Invoke call, built the way a scripting host builds it:
// positional arguments in rgvarg from the last to the first, the new value of
// a property put as the named argument DISPID_PROPERTYPUT.
class Invocation {
 public:
  Invocation() {
    VariantInit(&result);
    std::memset(&exception, 0, sizeof exception);
  }
  Invocation(const Invocation &) = delete;
  Invocation &operator=(const Invocation &) = delete;
  ~Invocation() {
    for (VARIANT &v : owned_) VariantClear(&v);
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }

  Invocation &arg(VARIANT value) {
    positional_.push_back(value);
    return *this;
  }
  Invocation &putValue(VARIANT value) {
    named_.push_back(value);
    names_.push_back(DISPID_PROPERTYPUT);
    return *this;
  }
  Invocation &named(DISPID id, VARIANT value) {
    named_.push_back(value);
    names_.push_back(id);
    return *this;
  }

  HRESULT run(IDispatch *target, DISPID member, WORD flags) {
    owned_ = named_;
    for (auto it = positional_.rbegin(); it != positional_.rend(); ++it) owned_.push_back(*it);
    DISPPARAMS params = {owned_.data(), names_.data(), UINT(owned_.size()), UINT(names_.size())};
    if (owned_.empty()) params.rgvarg = nullptr;
    if (names_.empty()) params.rgdispidNamedArgs = nullptr;
    return target->Invoke(member, IID_NULL, 0, flags, &params, &result, &exception, &argError);
  }

  VARIANT result;
  EXCEPINFO exception;
  UINT argError = 12345;

 private:
  std::vector<VARIANT> positional_;
  std::vector<VARIANT> named_;
  std::vector<DISPID> names_;
  std::vector<VARIANT> owned_;
};
