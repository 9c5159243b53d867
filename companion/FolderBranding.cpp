// The branding component: the folder in which the product's resource files
// (RVCounters.xml beside the component) are looked for. It is the Branding
// key's Folder value; by default the folder the component module was
// registered from (the InprocServer32 of its PerfMgr class), and where the
// component is not registered, this module's own folder, as when both are
// installed side by side.
#include "rvOutsideComponents.h"
#include "CompanionModule.h"
#include "rvZedaZuvivurAzodav.h"

namespace rv::companion {

namespace {

const OLECHAR FolderValue[] = OLESTR("Folder");

// The registered path of the component module, or nothing.
std::optional<Text> componentModulePath() {
  OLECHAR clsid[40] = {};
  StringFromGUID2(CLSID_PerfMgr, clsid, 40);
  const Text keyPath = OLESTR("CLSID\\") + Text(clsid) + OLESTR("\\InprocServer32");
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) return nothingUnlessOutOfMemory(opened);
  OLECHAR path[MAX_PATH + 1] = {};
  DWORD size = sizeof(path) - sizeof(OLECHAR), type = 0;
  const LONG error = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(path), &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return nothingUnlessOutOfMemory(error);
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || path[0] == 0) return std::nullopt;
  return Text(path);
}

// A folder as the component joins it with a backslash and a name: without
// a final backslash of its own ("C:\" becomes "C:").
Text withoutFinalBackslash(Text folder) {
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

// The component's folder where it is registered by path, else this
// module's own.
Text installFolder() {
  const auto component = componentModulePath();
  const Text folder = component ? inproc::folderOf(*component) : Text();
  return folder.empty() ? inproc::folderOf(Module::path()) : folder;
}

class FolderBranding final : public Object<IFolderBranding, rv::IID_IFolderBranding> {
 public:
  HRESULT STDMETHODCALLTYPE SetFolder(BSTR folder) override {
    return inproc::boundary([&] { return store(folder); });
  }

  HRESULT STDMETHODCALLTYPE GetFolder(BSTR *folder) override {
    if (folder == nullptr) return E_POINTER;
    return inproc::boundary([&] {
      const auto configured = readText(settingsKey(OLESTR("Branding")), FolderValue);
      const Text chosen = withoutFinalBackslash(configured ? *configured : installFolder());
      *folder = SysAllocStringLen(chosen.data(), static_cast<UINT>(chosen.size()));
      return *folder != nullptr ? S_OK : E_OUTOFMEMORY;
    });
  }

 private:
  static HRESULT store(BSTR folder) {
    const Text key = settingsKey(OLESTR("Branding"));
    LONG error;
    if (folder == nullptr || folder[0] == 0) {
      HKEY opened = nullptr;
      error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &opened);
      if (error == ERROR_SUCCESS) {
        error = RegDeleteValueW(opened, FolderValue);
        RegCloseKey(opened);
      }
      if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    } else {
      return writeText(key, FolderValue, folder);
    }
    return error == ERROR_SUCCESS ? S_OK : inproc::resultOfError(static_cast<DWORD>(error));
  }
};

}  // namespace

HRESULT createFolderBranding(IUnknown *outer, REFIID riid, void **object) {
  return FolderBranding::create<FolderBranding>(outer, riid, object);
}

}  // namespace rv::companion
