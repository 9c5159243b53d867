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
    BSTR copy = sharedEqualTo(reinterpret_cast<const BYTE *>(text), textLength(text) * UINT(sizeof(OLECHAR)));
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
  // same, byte for byte.
  void adopt() {
    if (value_ == nullptr || isShared()) return;
    if (BSTR shared = sharedEqualTo(reinterpret_cast<const BYTE *>(value_), SysStringByteLen(value_))) {
      SysFreeString(value_);
      value_ = shared;
    }
  }

  // Takes the text of a string record in place: `stored` bytes at `bytes`,
  // the last two of them the terminator (0: the field becomes absent). A
  // string of the field's own of the same length is written over rather
  // than replaced. false when a new string cannot be allocated; the field is
  // then absent, as after a read that failed.
  bool assignStored(DWORD stored, const BYTE *bytes) {
    if (stored == 0) {
      release();
      return true;
    }
    const UINT length = stored - sizeof(OLECHAR);
    if (BSTR shared = sharedEqualTo(bytes, length)) {
      release();
      value_ = shared;
      return true;
    }
    if (value_ == nullptr || isShared() || SysStringByteLen(value_) != length) {
      release();
      if ((value_ = SysAllocStringByteLen(nullptr, length)) == nullptr) return false;
    }
    BYTE *text = reinterpret_cast<BYTE *>(value_);
    std::memcpy(text, bytes, length);
    std::memset(text + length, 0, sizeof(OLECHAR));
    return true;
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
  // The shared string when the `bytes` bytes of `text` read the same, else null.
  static BSTR sharedEqualTo(const BYTE *text, UINT bytes) {
    if (bytes != NoCalc.bytes) return nullptr;
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
