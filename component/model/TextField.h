// A text property of a node: stores take a private copy of the text up to its
// first NUL (a null text makes the field absent), reads hand out a new copy
// and read an absent field as an empty text. The blob carries the field
// itself, absent or not (see get()).
//
// A text that nearly every node of a tree carries (a counter's "no_calc"
// keyword) is not copied into each of them: the field points at one
// read-only string of the module instead, laid out as an automation string,
// and never frees it. Nobody outside can tell: reads hand out copies either
// way.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <utility>

namespace rv {

class TextField {
 public:
  TextField() = default;
  explicit TextField(const OLECHAR *initial) { put(const_cast<BSTR>(initial)); }
  TextField(const TextField &) = delete;
  TextField &operator=(const TextField &) = delete;
  ~TextField() { release(); }

  HRESULT read(BSTR *out) const {
    if (out == nullptr) return E_POINTER;
    *out = value_ ? SysAllocStringLen(value_, SysStringLen(value_)) : SysAllocString(OLESTR(""));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT put(BSTR text) {
    if (text == nullptr) {
      release();
      return S_OK;
    }
    BSTR copy = sharedEqualTo(text, textLength(text));
    if (copy == nullptr && (copy = SysAllocString(text)) == nullptr) return E_OUTOFMEMORY;
    release();
    value_ = copy;
    return S_OK;
  }

  // The stored string itself, null when absent.
  BSTR get() const { return value_; }

  // The field as a string the caller replaces: it may free what it finds
  // there (never the shared text, which is let go first) and leaves a string
  // of its own, which adopt() then takes over.
  BSTR *slot() {
    if (isShared()) value_ = nullptr;
    return &value_;
  }
  // Swaps the string that slot() left for the shared one when they read the
  // same.
  void adopt() {
    if (value_ == nullptr || isShared()) return;
    if (BSTR shared = sharedEqualTo(value_, SysStringLen(value_))) {
      SysFreeString(value_);
      value_ = shared;
    }
  }

 private:
  // A module string in the automation string layout: 4 bytes of padding,
  // the byte length, the text and its terminator, 8-byte aligned.
  template <size_t N> struct SharedText {
    alignas(8) DWORD padding;
    DWORD bytes;
    OLECHAR text[N];
  };
  static constexpr SharedText<8> NoCalc{0, 7 * sizeof(OLECHAR), {'n', 'o', '_', 'c', 'a', 'l', 'c', 0}};

  static BSTR sharedText() { return const_cast<BSTR>(NoCalc.text); }

  static UINT textLength(const OLECHAR *text) {
    UINT length = 0;
    while (text[length] != 0) ++length;
    return length;
  }
  // The shared string when `text` (`length` code units) reads the same, else null.
  static BSTR sharedEqualTo(const OLECHAR *text, UINT length) {
    if (length * sizeof(OLECHAR) != NoCalc.bytes) return nullptr;
    return std::memcmp(text, NoCalc.text, NoCalc.bytes) == 0 ? sharedText() : nullptr;
  }

  bool isShared() const { return value_ == sharedText(); }
  void release() {
    if (!isShared()) SysFreeString(value_);
    value_ = nullptr;
  }

  BSTR value_ = nullptr;
};

}  // namespace rv
