// What the platform tests share. They are written against the Windows API:
// natively they run over the platform layer, under Wine against Wine's own
// libraries, with the same expectations unless a test says otherwise.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

#ifdef _WIN32
#define WIDE(text) L##text
constexpr bool kPlatformLayer = false;
#else
#define WIDE(text) u##text
constexpr bool kPlatformLayer = true;
#endif

// WCHAR is wchar_t with mingw-w64 and char16_t over the platform layer.
using WideString = std::basic_string<WCHAR>;

// ASCII of a wide text for messages and comparisons; '?' for the rest.
inline std::string narrow(const WCHAR *text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}
inline std::string narrow(const WideString &text) { return narrow(text.c_str()); }

// Text of the system code page as UTF-16.
inline WideString widen(const std::string &text) {
  WideString out(text.size(), 0);
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), out.data(), int(out.size()));
  out.resize(length > 0 ? size_t(length) : 0);
  return out;
}

// An absolute POSIX path of the build in the Windows form both targets
// accept: Wine and the platform layer both map drive Z: to the POSIX root.
inline WideString windowsPath(const std::string &posix) {
  WideString out = WIDE("Z:");
  for (char c : posix) out.push_back(c == '/' ? WCHAR('\\') : WCHAR(c));
  return out;
}

inline WideString guidText(REFGUID guid) {
  OLECHAR text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

// A registry key closed on every path.
class Key {
 public:
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  ~Key() { reset(); }
  HKEY get() const { return key_; }
  HKEY *out() { return reset(), &key_; }
  void reset() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// One reference to an interface, released on every path.
template <class T> class Com {
 public:
  explicit Com(T *object = nullptr) : object_(object) {}
  Com(const Com &) = delete;
  Com &operator=(const Com &) = delete;
  ~Com() { reset(); }
  T *get() const { return object_; }
  T *operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  T **out() { return reset(), &object_; }
  void **outVoid() { return reinterpret_cast<void **>(out()); }
  void reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  T *object_ = nullptr;
};
