// A module for regsvr32 to register: DllRegisterServer writes one key with
// one value, DllUnregisterServer removes it and fails when it is not there.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr const char *ModuleKey = "Software\\RegistrationTestModule";

}  // namespace

extern "C" DECLSPEC_EXPORT HRESULT DllRegisterServer() {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, ModuleKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  const char text[] = "registered";
  status = RegSetValueExA(key, "State", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text);
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(status);
}

extern "C" DECLSPEC_EXPORT HRESULT DllUnregisterServer() {
  return HRESULT_FROM_WIN32(RegDeleteTreeA(HKEY_CURRENT_USER, ModuleKey));
}
