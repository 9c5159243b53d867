// Small owners and helpers shared by the OLE Automation tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

using OleString = std::basic_string<OLECHAR>;

// Owns a BSTR for the length of a test.
class Bstr {
 public:
  explicit Bstr(BSTR text = nullptr) : text_(text) {}
  explicit Bstr(const OLECHAR *text) : text_(SysAllocString(text)) {}
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR get() const { return text_; }
  BSTR *out() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }

 private:
  BSTR text_;
};

// Owns a VARIANT for the length of a test.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant &) = delete;
  Variant &operator=(const Variant &) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT *operator&() { return &value_; }

  static void text(VARIANT *v, const OLECHAR *s) {
    V_VT(v) = VT_BSTR;
    V_BSTR(v) = SysAllocString(s);
  }

 private:
  VARIANT value_;
};

// The whole text of a BSTR, embedded zeros included.
inline OleString textOf(BSTR text) { return text == nullptr ? OleString() : OleString(text, SysStringLen(text)); }

// An IDispatch whose reference count the test can watch and whose value
// property (DISPID_VALUE) returns a fixed VT_I4.
class CountingDispatch : public IDispatch {
 public:
  explicit CountingDispatch(LONG value = 0) : value_(value) {}
  ULONG references() const { return references_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch);
    *ppv = known ? static_cast<IDispatch *>(this) : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS *, VARIANT *result,
                                   EXCEPINFO *, UINT *) override {
    if (member != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_I4;
    V_I4(result) = value_;
    return S_OK;
  }

 private:
  ULONG references_ = 1;
  LONG value_;
};
