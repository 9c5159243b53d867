// Test programs that drive the component through COM: the module is
// registered for the test suite (children are created through class
// activation) and unregistered afterwards.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <string>

#include "rvZedaZuvivurAzodav.h"
#include "rvText.h"

template <typename T> struct Ref {
  T *p = nullptr;
  Ref() = default;
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  ~Ref() { reset(); }
  void reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T **put() {
    reset();
    return &p;
  }
  void **putVoid() { return reinterpret_cast<void **>(put()); }
  T *operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

using rv::Text;

inline Text wide(const std::string &text) {
  Text out;
  for (char c : text) out.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(c)));
  return out;
}

inline std::string narrow(const OLECHAR *text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

// An owned BSTR made from an ASCII text.
struct TestBstr {
  BSTR value;
  explicit TestBstr(const std::string &text)
      : value(SysAllocStringLen(wide(text).data(), static_cast<UINT>(text.size()))) {}
  TestBstr(const OLECHAR *units, UINT length) : value(SysAllocStringLen(units, length)) {}
  TestBstr(const TestBstr &) = delete;
  ~TestBstr() { SysFreeString(value); }
};

// The bytes of a file, "<missing>" when it cannot be opened.
inline std::string fileText(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD count = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr);
  CloseHandle(file);
  return bytes.substr(0, count);
}

// Writes `bytes` as the whole of a file; false when that failed.
inline bool writeFileText(const std::string &path, const std::string &bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return wrote && written == bytes.size();
}

// The name index base of a registered device: the range lodctr installed,
// else the collector's fixed base, 10000 (Wine's lodctr installs no names).
inline DWORD nameBase(const std::string &device) {
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + device + "\\Performance";
  DWORD base = 10000, size = sizeof base;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return base;
  if (RegQueryValueExA(key, "First Counter", nullptr, nullptr, reinterpret_cast<BYTE *>(&base), &size) != ERROR_SUCCESS)
    base = 10000;
  RegCloseKey(key);
  return base;
}

// Reads a BSTR out parameter into a string and frees it.
template <typename Getter> std::string readText(Getter &&getter) {
  BSTR text = nullptr;
  HRESULT hr = getter(&text);
  std::string out = hr == S_OK ? narrow(text) : "<failed>";
  if (hr == S_OK && text == nullptr) out = "<null>";
  SysFreeString(text);
  return out;
}

struct ErrorSeen {
  bool present = false;
  GUID guid = {};
  std::string source, description;
};

inline ErrorSeen takeError() {
  ErrorSeen seen;
  IErrorInfo *info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return seen;
  seen.present = true;
  BSTR source = nullptr, description = nullptr;
  info->GetGUID(&seen.guid);
  info->GetSource(&source);
  info->GetDescription(&description);
  seen.source = narrow(source);
  seen.description = narrow(description);
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  return seen;
}

class ComponentFixture : public ::testing::Test {
 protected:
  using Entry = HRESULT(STDAPICALLTYPE *)();

  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    module_ = LoadLibraryA(COMPONENT_MODULE);
    ASSERT_NE(nullptr, module_);
    ASSERT_EQ(S_OK, entry("DllRegisterServer")());
  }

  static void TearDownTestSuite() {
    entry("DllUnregisterServer")();
    FreeLibrary(module_);
    CoUninitialize();
  }

  static Entry entry(const char *name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
  }

  // The file the component module was loaded from.
  static std::string modulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module_, path, MAX_PATH);
    return path;
  }

  template <typename I> static void create(REFCLSID clsid, REFIID iid, Ref<I> &out) {
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out.putVoid()));
  }

  static HMODULE module_;
};

inline HMODULE ComponentFixture::module_ = nullptr;
