// Registrations that a test writes under HKEY_CLASSES_ROOT and removes again
// at the end of their scope. Under Wine HKEY_CLASSES_ROOT is
// HKEY_LOCAL_MACHINE\Software\Classes only (Wine 8 does not merge the
// user's classes into it), and so it is over the platform layer.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>
#include <utility>

// A key with a default value (and named values), removed with its subtree.
class ClassesKey {
 public:
  using Text = std::basic_string<OLECHAR>;

  ClassesKey(Text path, const OLECHAR *value) : path_(std::move(path)) { written_ = set(nullptr, value); }
  ClassesKey(const ClassesKey &) = delete;
  ClassesKey &operator=(const ClassesKey &) = delete;
  ~ClassesKey() {
    if (!kept_) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, path_.c_str());
      RegDeleteKeyW(HKEY_CLASSES_ROOT, path_.c_str());
    }
  }

  // Leaves the key in the registry, for another process to find and remove.
  void keep() { kept_ = true; }

  // Sets a string value (the default one for a null name); null data only
  // makes sure the key exists. False when the key or the value could not be
  // written.
  bool set(const OLECHAR *name, const OLECHAR *data) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return false;
    LSTATUS status = ERROR_SUCCESS;
    if (data != nullptr) {
      const DWORD bytes = static_cast<DWORD>((Text(data).size() + 1) * sizeof(OLECHAR));
      status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data), bytes);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }

  // Whether the key and its default value were written.
  bool written() const { return written_; }

 private:
  Text path_;
  bool written_ = false;
  bool kept_ = false;
};

inline ClassesKey::Text classKeyPath(REFCLSID clsid) {
  OLECHAR text[39];
  StringFromGUID2(clsid, text, 39);
  return ClassesKey::Text(OLESTR("CLSID\\")) + text;
}

// A class served by an in-process module: CLSID\{...} (with the class's
// name, if given) and its InprocServer32 key, which holds the module's path
// and threading model.
class RegisteredServer {
 public:
  RegisteredServer(REFCLSID clsid, const ClassesKey::Text &modulePath, const OLECHAR *threadingModel,
                   const OLECHAR *className = nullptr)
      : classKey_(classKeyPath(clsid), className),
        serverKey_(classKeyPath(clsid) + OLESTR("\\InprocServer32"), modulePath.c_str()) {
    written_ = classKey_.written() && serverKey_.written() && serverKey_.set(OLESTR("ThreadingModel"), threadingModel);
  }

  bool written() const { return written_; }
  void keep() {
    classKey_.keep();
    serverKey_.keep();
  }

 private:
  ClassesKey classKey_;
  ClassesKey serverKey_;
  bool written_ = false;
};
