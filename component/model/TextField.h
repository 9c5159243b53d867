// A text property of a node: stores take a private copy of the text up to its
// first NUL (a null text makes the field absent), reads hand out a new copy
// and read an absent field as an empty text. The blob carries the field
// itself, absent or not (see get()).
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "server/ComPtr.h"

namespace rv {

class TextField {
 public:
  TextField() = default;
  explicit TextField(const OLECHAR *initial) { put(const_cast<BSTR>(initial)); }

  HRESULT read(BSTR *out) const {
    if (out == nullptr) return E_POINTER;
    *out = value_.get() ? SysAllocStringLen(value_.get(), value_.length()) : SysAllocString(OLESTR(""));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT put(BSTR text) {
    if (text == nullptr) {
      value_ = Bstr();
      return S_OK;
    }
    BSTR copy = SysAllocString(text);
    if (copy == nullptr) return E_OUTOFMEMORY;
    value_ = Bstr::attach(copy);
    return S_OK;
  }

  // The stored string itself, null when absent.
  BSTR get() const { return value_.get(); }
  BSTR *slot() { return value_.put(); }

 private:
  Bstr value_;
};

}  // namespace rv
