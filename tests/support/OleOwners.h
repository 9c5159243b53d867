// Owners of a BSTR and of a VARIANT for the length of a test, shared by the
// tests of the platform's OLE Automation core and of its XML document.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

using OleString = std::basic_string<OLECHAR>;

// The whole text of a BSTR, embedded zeros included.
inline OleString textOf(BSTR text) { return text == nullptr ? OleString() : OleString(text, SysStringLen(text)); }

class Bstr {
 public:
  Bstr() = default;
  // Takes over a string the test was handed.
  explicit Bstr(BSTR owned) : text_(owned) {}
  // Copies a text (up to its first zero, or whole when it is an OleString).
  explicit Bstr(const OLECHAR *text) : text_(SysAllocString(text)) {}
  explicit Bstr(const OleString &text) : text_(SysAllocStringLen(text.data(), UINT(text.size()))) {}
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR get() const { return text_; }
  BSTR *out() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  OleString text() const { return textOf(text_); }

 private:
  BSTR text_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant &) = delete;
  Variant &operator=(const Variant &) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT *get() { return &value_; }
  VARIANT *operator&() { return &value_; }
  OleString text() const { return V_VT(&value_) == VT_BSTR ? textOf(V_BSTR(&value_)) : OleString(); }
  void setText(const OleString &text) {
    VariantClear(&value_);
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = SysAllocStringLen(text.data(), UINT(text.size()));
  }

 private:
  VARIANT value_;
};
