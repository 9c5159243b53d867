// Loading type libraries from files and modules, and their registration under
// HKEY_CLASSES_ROOT, written the way Windows writes it:
//   TypeLib\{libid}\<major>.<minor>            help string of the library
//   TypeLib\{libid}\<major>.<minor>\<lcid>\win64   full path of the library
//   TypeLib\{libid}\<major>.<minor>\FLAGS      library flags, decimal
//   TypeLib\{libid}\<major>.<minor>\HELPDIR    help folder
//   Interface\{iid}                            name, proxy/stub classes, library
// Versions and locales are written in lower-case hexadecimal.
#include <windows.h>
#include <oleauto.h>
#include <winreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kernel/paths.h"
#include "type_info.h"

using platform::typelib::LibraryData;
using platform::typelib::Ref;
using platform::typelib::Text;
using platform::typelib::TypeLibrary;

namespace {

constexpr size_t MaxLibrarySize = size_t(256) << 20;
// The proxy/stub classes of automation: dispatch interfaces, and interfaces
// that are dual or automation-compatible.
const OLECHAR *const DispatchProxy = OLESTR("{00020420-0000-0000-C000-000000000046}");
const OLECHAR *const AutomationProxy = OLESTR("{00020424-0000-0000-C000-000000000046}");

Text hex(unsigned value) {
  Text out;
  do {
    out.insert(out.begin(), OLECHAR(u"0123456789abcdef"[value & 15]));
    value >>= 4;
  } while (value != 0);
  return out;
}

Text decimal(unsigned value) {
  Text out;
  do {
    out.insert(out.begin(), OLECHAR(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return out;
}

Text guidText(const GUID &guid) {
  OLECHAR text[40];
  StringFromGUID2(guid, text, 40);
  return Text(text);
}

Text versionText(WORD major, WORD minor) { return hex(major) + OLESTR(".") + hex(minor); }

const OLECHAR *platformKey(SYSKIND syskind) {
  switch (syskind) {
    case SYS_WIN16: return OLESTR("win16");
    case SYS_WIN32: return OLESTR("win32");
    case SYS_MAC: return OLESTR("mac");
    default: return OLESTR("win64");
  }
}

class Key {
 public:
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY *put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

bool openKey(HKEY root, const Text &path, Key &key, REGSAM access = KEY_READ) {
  return RegOpenKeyExW(root, path.c_str(), 0, access, key.put()) == ERROR_SUCCESS;
}

bool readDefault(HKEY root, const Text &path, Text &value) {
  Key key;
  if (!openKey(root, path, key)) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ)
    return false;
  std::vector<OLECHAR> buffer(bytes / sizeof(OLECHAR) + 1, 0);
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &bytes) !=
      ERROR_SUCCESS)
    return false;
  value.assign(buffer.data());
  return true;
}

LSTATUS writeValue(HKEY root, const Text &path, const OLECHAR *name, const Text &value) {
  Key key;
  LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(OLECHAR)));
}

std::vector<Text> subkeys(HKEY root, const Text &path) {
  std::vector<Text> names;
  Key key;
  if (!openKey(root, path, key)) return names;
  for (DWORD i = 0;; ++i) {
    OLECHAR name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

bool parseHex(const Text &text, size_t begin, size_t end, unsigned &value) {
  if (begin >= end || end - begin > 4) return false;
  value = 0;
  for (size_t i = begin; i < end; ++i) {
    OLECHAR c = text[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return false;
    value = value * 16 + digit;
  }
  return true;
}

// The registered version that serves a request: the same major version and
// the requested minor version, else the highest minor version above it.
bool findVersion(const Text &libKey, WORD major, WORD minor, Text &version) {
  bool found = false;
  unsigned best = 0;
  for (const Text &name : subkeys(HKEY_CLASSES_ROOT, libKey)) {
    size_t dot = name.find(u'.');
    unsigned maj, min;
    if (dot == Text::npos || !parseHex(name, 0, dot, maj) || !parseHex(name, dot + 1, name.size(), min)) continue;
    if (maj != major || min < minor) continue;
    if (min == minor) {
      version = name;
      return true;
    }
    if (!found || min > best) {
      found = true;
      best = min;
      version = name;
    }
  }
  return found;
}

// A file named by the caller: its POSIX path and the resource number, when it
// is a module ("path\N" names resource N, else resource 1).
struct Source {
  std::string path;
  UINT resource = 1;
  bool named = false;  // the caller named resource N
};

bool isRegularFile(const std::string &path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executableFolder() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  std::string path(buffer, size_t(length));
  return path.substr(0, path.find_last_of('/') + 1);
}

bool locateFile(const std::string &name, Source &source) {
  std::string path = platform::kernel::toPosixPath(name);
  if (isRegularFile(path)) {
    source.path = path;
    return true;
  }
  size_t cut = name.find_last_of('\\');
  if (cut != std::string::npos && cut + 1 < name.size() && name.size() - cut <= 6 &&
      name.find_first_not_of("0123456789", cut + 1) == std::string::npos) {
    source.resource = UINT(std::stoul(name.substr(cut + 1)));
    source.named = true;
    if (locateFile(name.substr(0, cut), source)) return true;
    source.resource = 1;
    source.named = false;
  }
  if (name.find_first_of("\\/:") == std::string::npos) {
    std::string beside = executableFolder() + name;
    if (isRegularFile(beside)) {
      source.path = beside;
      return true;
    }
  }
  return false;
}

HRESULT readFile(const std::string &path, std::vector<BYTE> &bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return TYPE_E_CANTLOADLIBRARY;
  struct stat st;
  HRESULT hr = S_OK;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    hr = TYPE_E_CANTLOADLIBRARY;
  } else if (size_t(st.st_size) > MaxLibrarySize) {
    hr = TYPE_E_SIZETOOBIG;
  } else {
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
      if (got <= 0) break;
      done += size_t(got);
    }
    bytes.resize(done);
  }
  close(fd);
  return hr;
}

// The TYPELIB resource of a module, copied out before the module is released.
HRESULT readModuleResource(const std::string &path, UINT resource, std::vector<BYTE> &bytes) {
  // A path without a folder would send the loader through its search path.
  char resolved[PATH_MAX];
  std::basic_string<WCHAR> wide =
      platform::kernel::wideFromUtf8(realpath(path.c_str(), resolved) ? std::string(resolved) : path);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
  HRESULT hr = TYPE_E_CANTLOADLIBRARY;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource), OLESTR("TYPELIB"));
  if (found != nullptr) {
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    DWORD size = SizeofResource(module, found);
    if (data != nullptr) {
      bytes.assign(data, data + size);
      hr = S_OK;
    }
  }
  FreeLibrary(module);
  return hr;
}

bool isModule(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  bool module = read(fd, magic, 4) == 4 && std::memcmp(magic,
                                                       "\x7f"
                                                       "ELF",
                                                       4) == 0;
  close(fd);
  return module;
}

HRESULT loadLibraryData(const Source &source, LibraryData &data) {
  std::vector<BYTE> bytes;
  HRESULT hr = isModule(source.path) ? readModuleResource(source.path, source.resource, bytes)
               : source.named        ? TYPE_E_CANTLOADLIBRARY
                                     : readFile(source.path, bytes);
  if (FAILED(hr)) return hr;
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "SLTG", 4) == 0) return TYPE_E_UNSUPFORMAT;
  if (bytes.size() < 4 || std::memcmp(bytes.data(), "MSFT", 4) != 0) return TYPE_E_CANTLOADLIBRARY;
  return platform::typelib::readMsft(bytes.data(), bytes.size(), data);
}

Text fullWindowsPath(const Source &source) {
  char resolved[PATH_MAX];
  std::string path = realpath(source.path.c_str(), resolved) ? std::string(resolved) : source.path;
  Text full = platform::kernel::wideFromUtf8(platform::kernel::toWindowsPath(path));
  if (source.resource != 1) full += OLESTR("\\") + decimal(source.resource);
  return full;
}

// A path the caller gave in full is not registered by REGKIND_DEFAULT.
bool isFullPath(const OLECHAR *name) {
  return (name[0] == u'\\' && name[1] == u'\\') || (name[0] != 0 && name[1] == u':') || name[0] == u'/';
}

bool registersInterface(const TYPEATTR &attr) {
  return attr.typekind == TKIND_DISPATCH ||
         (attr.typekind == TKIND_INTERFACE && (attr.wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)));
}

}  // namespace

HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib) {
  if (szFile == nullptr || pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  Source source;
  if (!locateFile(platform::kernel::utf8FromWide(szFile), source)) return TYPE_E_CANTLOADLIBRARY;
  auto data = std::make_shared<LibraryData>();
  HRESULT hr = loadLibraryData(source, *data);
  if (FAILED(hr)) return hr;
  Ref<ITypeLib> lib(TypeLibrary::create(std::move(data)), false);
  if (lib.get() == nullptr) return E_OUTOFMEMORY;
  if (regkind == REGKIND_REGISTER || (regkind == REGKIND_DEFAULT && !isFullPath(szFile))) {
    Text full = fullWindowsPath(source);
    hr = RegisterTypeLib(lib.get(), full.data(), nullptr);
    if (FAILED(hr)) return hr;
  }
  *pptlib = lib.detach();
  return S_OK;
}

HRESULT WINAPI LoadTypeLib(const OLECHAR *szFile, ITypeLib **pptlib) {
  return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}

// Locales are tried from the requested one towards the neutral one: the
// locale, its primary language, then 0.
HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, LPBSTR lpbstrPathName) {
  if (lpbstrPathName == nullptr) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  const Text libKey = OLESTR("TypeLib\\") + guidText(guid);
  Text version;
  if (!findVersion(libKey, wMaj, wMin, version)) return TYPE_E_LIBNOTREGISTERED;
  std::vector<LCID> locales = {lcid};
  if (PRIMARYLANGID(lcid) != lcid) locales.push_back(PRIMARYLANGID(lcid));
  if (lcid != 0) locales.push_back(0);
  for (LCID locale : locales) {
    for (const OLECHAR *platform : {OLESTR("win64"), OLESTR("win32")}) {
      Text path;
      if (readDefault(HKEY_CLASSES_ROOT,
                      libKey + OLESTR("\\") + version + OLESTR("\\") + hex(locale) + OLESTR("\\") + platform, path)) {
        *lpbstrPathName = SysAllocStringLen(path.data(), UINT(path.size()));
        return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
      }
    }
  }
  return TYPE_E_LIBNOTREGISTERED;
}

HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib **pptlib) {
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
  if (FAILED(hr)) return hr;
  hr = LoadTypeLibEx(path, REGKIND_NONE, pptlib);
  SysFreeString(path);
  return hr;
}

HRESULT WINAPI RegisterTypeLib(ITypeLib *ptlib, OLECHAR *szFullPath, OLECHAR *szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  TLIBATTR *attr = nullptr;
  HRESULT hr = ptlib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const Text libId = guidText(attr->guid);
  const Text versionKey =
      OLESTR("TypeLib\\") + libId + OLESTR("\\") + versionText(attr->wMajorVerNum, attr->wMinorVerNum);
  const Text fullPath(szFullPath);
  Text helpDir;
  if (szHelpDir != nullptr) {
    helpDir = szHelpDir;
  } else {
    size_t cut = fullPath.find_last_of(u'\\');
    helpDir = cut == Text::npos ? Text() : fullPath.substr(0, cut);
  }

  bool ok = true;
  BSTR doc = nullptr;
  if (SUCCEEDED(ptlib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr)) && doc != nullptr)
    ok = writeValue(HKEY_CLASSES_ROOT, versionKey, nullptr, Text(doc)) == ERROR_SUCCESS;
  SysFreeString(doc);
  ok = ok && writeValue(HKEY_CLASSES_ROOT,
                        versionKey + OLESTR("\\") + hex(attr->lcid) + OLESTR("\\") + platformKey(attr->syskind),
                        nullptr, fullPath) == ERROR_SUCCESS;
  ok = ok && writeValue(HKEY_CLASSES_ROOT, versionKey + OLESTR("\\FLAGS"), nullptr, decimal(attr->wLibFlags)) ==
                 ERROR_SUCCESS;
  ok = ok && writeValue(HKEY_CLASSES_ROOT, versionKey + OLESTR("\\HELPDIR"), nullptr, helpDir) == ERROR_SUCCESS;

  const Text version = versionText(attr->wMajorVerNum, attr->wMinorVerNum);
  for (UINT i = 0; ok && i < ptlib->GetTypeInfoCount(); ++i) {
    Ref<ITypeInfo> info;
    if (FAILED(ptlib->GetTypeInfo(i, info.put()))) continue;
    TYPEATTR *type = nullptr;
    if (FAILED(info->GetTypeAttr(&type))) continue;
    if (registersInterface(*type)) {
      const Text key = OLESTR("Interface\\") + guidText(type->guid);
      const bool pureDispatch = type->typekind == TKIND_DISPATCH && !(type->wTypeFlags & TYPEFLAG_FDUAL);
      const Text proxy = pureDispatch ? DispatchProxy : AutomationProxy;
      BSTR name = nullptr;
      info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      ok = writeValue(HKEY_CLASSES_ROOT, key, nullptr, name ? Text(name) : Text()) == ERROR_SUCCESS &&
           writeValue(HKEY_CLASSES_ROOT, key + OLESTR("\\ProxyStubClsid"), nullptr, proxy) == ERROR_SUCCESS &&
           writeValue(HKEY_CLASSES_ROOT, key + OLESTR("\\ProxyStubClsid32"), nullptr, proxy) == ERROR_SUCCESS &&
           writeValue(HKEY_CLASSES_ROOT, key + OLESTR("\\TypeLib"), nullptr, libId) == ERROR_SUCCESS &&
           writeValue(HKEY_CLASSES_ROOT, key + OLESTR("\\TypeLib"), OLESTR("Version"), version) == ERROR_SUCCESS;
      SysFreeString(name);
    }
    info->ReleaseTypeAttr(type);
  }
  ptlib->ReleaseTLibAttr(attr);
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

// Removes what RegisterTypeLib wrote for one locale and platform: the
// interfaces of the library (read from the registered file), the path, and
// the version and library keys once nothing else is left under them.
HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
  const Text libId = guidText(libID);
  const Text libKey = OLESTR("TypeLib\\") + libId;
  const Text versionKey = libKey + OLESTR("\\") + versionText(wVerMajor, wVerMinor);
  {
    Key version;
    if (!openKey(HKEY_CLASSES_ROOT, versionKey, version)) return E_INVALIDARG;
  }
  const Text localeKey = versionKey + OLESTR("\\") + hex(lcid);
  const Text platformPath = localeKey + OLESTR("\\") + platformKey(syskind);
  Text path;
  if (!readDefault(HKEY_CLASSES_ROOT, platformPath, path)) return TYPE_E_INVALIDSTATE;
  Ref<ITypeLib> lib;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()))) return TYPE_E_INVALIDSTATE;

  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    Ref<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, info.put()))) continue;
    TYPEATTR *type = nullptr;
    if (FAILED(info->GetTypeAttr(&type))) continue;
    if (registersInterface(*type)) {
      const Text key = OLESTR("Interface\\") + guidText(type->guid);
      Text owner;
      if (readDefault(HKEY_CLASSES_ROOT, key + OLESTR("\\TypeLib"), owner) &&
          lstrcmpiW(owner.c_str(), libId.c_str()) == 0)
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    }
    info->ReleaseTypeAttr(type);
  }

  RegDeleteTreeW(HKEY_CLASSES_ROOT, platformPath.c_str());
  if (subkeys(HKEY_CLASSES_ROOT, localeKey).empty()) RegDeleteKeyW(HKEY_CLASSES_ROOT, localeKey.c_str());
  bool otherLocales = false;
  for (const Text &name : subkeys(HKEY_CLASSES_ROOT, versionKey))
    if (lstrcmpiW(name.c_str(), OLESTR("FLAGS")) != 0 && lstrcmpiW(name.c_str(), OLESTR("HELPDIR")) != 0)
      otherLocales = true;
  if (!otherLocales) RegDeleteTreeW(HKEY_CLASSES_ROOT, versionKey.c_str());
  if (subkeys(HKEY_CLASSES_ROOT, libKey).empty()) RegDeleteKeyW(HKEY_CLASSES_ROOT, libKey.c_str());
  return S_OK;
}
