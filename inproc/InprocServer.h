// What every in-process server of ours beside the component shares (the
// companion components, the tree publisher): class objects that live as
// long as their module and hold it while a client holds them, and the
// registration of classes as values under HKEY_CLASSES_ROOT.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace rv::inproc {

using Text = std::basic_string<OLECHAR>;

// The module's lock count, as the module keeps it.
struct ModuleLock {
  void (*lock)();
  void (*unlock)();
};

// The class object of one class. It lives as long as the module; a client's
// reference to it holds the module, as LockServer does. Objects are never
// aggregated.
class ClassObject final : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID, void **);

  ClassObject(Create create, ModuleLock module) : create_(create), module_(module) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    module_.lock();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    module_.unlock();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      module_.lock();
    else
      module_.unlock();
    return S_OK;
  }

 private:
  Create create_;
  ModuleLock module_;
};

inline Text guidText(REFGUID guid) {
  OLECHAR text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

inline Text classKey(REFCLSID clsid) { return OLESTR("CLSID\\") + guidText(clsid); }

// One value the registration writes: the key under HKEY_CLASSES_ROOT, the
// value's name (null for the key's default value) and its text.
struct RegistryValue {
  Text key;
  const OLECHAR *name;
  Text data;
};

// Removes the keys a registration owns, each with its whole subtree.
inline void removeKeys(const std::vector<Text> &keys) {
  for (const Text &key : keys) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  }
}

// Writes the values in order, making their keys; stops at the first
// failure and gives it as a result code.
inline HRESULT writeValues(const std::vector<RegistryValue> &values) {
  for (const RegistryValue &value : values) {
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
      error = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.data.c_str()),
                             static_cast<DWORD>((value.data.size() + 1) * sizeof(OLECHAR)));
      RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  }
  return S_OK;
}

}  // namespace rv::inproc
