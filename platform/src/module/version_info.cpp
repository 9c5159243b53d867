// Version information: the RT_VERSION resource of a module file, and queries
// into the VS_VERSIONINFO tree it holds.
//
// A module that is not loaded yet is loaded (as a shared object, so its
// constructors run) to read its resource image, then released again; a file
// that is no module has no version resource.
#include <windows.h>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/codepage.h"
#include "kernel/file_system.h"
#include "kernel/paths.h"
#include "kernel/trusted_paths.h"
#include "loaded_modules.h"

namespace {

WORD wordAt(const BYTE *p) {
  WORD value;
  std::memcpy(&value, p, 2);
  return value;
}

// What GetFileVersionInfo writes after the resource when the caller's block
// has room for the 8-bit copies of texts that VerQueryValueA hands out.
constexpr char ConversionMark[4] = {'F', 'E', '2', 'X'};

// The version resource of the module file `name`, or a Windows error.
DWORD readVersionResource(const std::string &name, std::vector<BYTE> *resource) {
  std::string path;
  if (name.empty()) return ERROR_BAD_PATHNAME;
  if (DWORD error = platform::kernel::posixPathOf(name, true, &path)) return error;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return platform::kernel::errorFromErrno(errno, path);
  if (S_ISDIR(status.st_mode)) return ERROR_ACCESS_DENIED;

  HMODULE module = platform::module::moduleOfFile(path);
  void *loaded = nullptr;
  if (module == nullptr) {
    // Loading runs the module's initialisers, as LoadLibrary does: only a
    // file nobody else could have put or changed.
    if (const std::string why = platform::kernel::untrustedReason(path); !why.empty()) {
      platform::kernel::reportRefusal("the module " + path, why);
      return ERROR_ACCESS_DENIED;
    }
    loaded = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    link_map *map = nullptr;
    if (loaded == nullptr || dlinfo(loaded, RTLD_DI_LINKMAP, &map) != 0) {
      if (loaded != nullptr) dlclose(loaded);
      return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    module = reinterpret_cast<HMODULE>(map);
  }
  DWORD error = ERROR_SUCCESS;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  if (found == nullptr) {
    error =
        GetLastError() == ERROR_RESOURCE_DATA_NOT_FOUND ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
  } else {
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    const DWORD size = SizeofResource(module, found);
    if (data == nullptr || size < 6)
      error = ERROR_RESOURCE_DATA_NOT_FOUND;
    else
      resource->assign(data, data + size);
  }
  if (loaded != nullptr) dlclose(loaded);
  return error;
}

DWORD versionInfoSize(const std::string &name, LPDWORD handle) {
  if (handle != nullptr) *handle = 0;
  std::vector<BYTE> resource;
  if (DWORD error = readVersionResource(name, &resource)) {
    SetLastError(error);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(resource.size() * 2 + sizeof ConversionMark);
}

BOOL versionInfo(const std::string &name, DWORD size, LPVOID block) {
  std::vector<BYTE> resource;
  if (DWORD error = readVersionResource(name, &resource)) {
    SetLastError(error);
    return FALSE;
  }
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE *out = static_cast<BYTE *>(block);
  const size_t copied = resource.size() < size ? resource.size() : size;
  std::memcpy(out, resource.data(), copied);
  // A cut copy says how long it is, so that queries stay inside it.
  if (copied >= 2 && copied < resource.size()) {
    const WORD length = static_cast<WORD>(copied);
    std::memcpy(out, &length, 2);
  }
  // The mark sits right behind the tree, which may be shorter than the
  // resource that holds it.
  const size_t treeSize = wordAt(resource.data()) < resource.size() ? wordAt(resource.data()) : resource.size();
  if (size >= resource.size() * 2 + sizeof ConversionMark)
    std::memcpy(out + treeSize, ConversionMark, sizeof ConversionMark);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// One node of the VS_VERSIONINFO tree: its length, value length and type, a
// key, then the value and the children, each DWORD-aligned.
struct Node {
  const BYTE *start = nullptr;
  size_t length = 0;  // bytes, children included
  WORD valueLength = 0;
  WORD type = 0;  // 1: the value is text, counted in characters
  const WCHAR *key = nullptr;
  size_t keyLength = 0;
  size_t valueOffset = 0;
  size_t childrenOffset = 0;
};

size_t aligned(size_t offset) { return (offset + 3) & ~size_t(3); }

// Reads the node at `offset` of a tree `size` bytes long; false when it does
// not fit.
bool readNode(const BYTE *base, size_t offset, size_t size, Node *node) {
  if (offset + 6 > size) return false;
  node->start = base + offset;
  node->length = wordAt(node->start);
  node->valueLength = wordAt(node->start + 2);
  node->type = wordAt(node->start + 4);
  if (node->length < 6 || offset + node->length > size) return false;
  const size_t end = offset + node->length;
  size_t at = offset + 6;
  node->key = reinterpret_cast<const WCHAR *>(base + at);
  node->keyLength = 0;
  while (at + 2 <= end && wordAt(base + at) != 0) {
    at += 2;
    ++node->keyLength;
  }
  if (at + 2 > end) return false;
  node->valueOffset = aligned(at + 2);
  const size_t valueBytes = node->type == 1 ? size_t(node->valueLength) * 2 : node->valueLength;
  if (node->valueOffset + valueBytes > end) {
    if (valueBytes != 0) return false;
    node->valueOffset = at;  // no value: the key's terminator serves as an empty text
  }
  node->childrenOffset = aligned(node->valueOffset + valueBytes);
  return true;
}

WCHAR foldCase(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool keyIs(const Node &node, const std::basic_string<WCHAR> &name) {
  if (node.keyLength != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    WCHAR c;
    std::memcpy(&c, node.key + i, 2);
    if (foldCase(c) != foldCase(name[i])) return false;
  }
  return true;
}

// Follows the backslash-separated names of `subBlock` down from the root.
bool findNode(const BYTE *block, const std::basic_string<WCHAR> &subBlock, Node *node) {
  const size_t size = wordAt(block);
  if (!readNode(block, 0, size, node)) return false;
  size_t from = 0;
  while (from < subBlock.size()) {
    size_t to = subBlock.find('\\', from);
    if (to == std::basic_string<WCHAR>::npos) to = subBlock.size();
    const std::basic_string<WCHAR> name = subBlock.substr(from, to - from);
    from = to + 1;
    if (name.empty()) continue;
    const size_t end = static_cast<size_t>(node->start - block) + node->length;
    bool found = false;
    for (size_t at = node->childrenOffset; at < end;) {
      Node child;
      if (!readNode(block, at, end, &child)) return false;
      if (keyIs(child, name)) {
        *node = child;
        found = true;
        break;
      }
      at = aligned(at + child.length);
    }
    if (!found) return false;
  }
  return true;
}

BOOL queryValue(LPCVOID pBlock, const std::basic_string<WCHAR> &subBlock, bool narrowText, LPVOID *value,
                PUINT length) {
  if (pBlock == nullptr || value == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE *block = static_cast<const BYTE *>(pBlock);
  Node node;
  if (!findNode(block, subBlock, &node)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  BYTE *valueAt = const_cast<BYTE *>(block) + node.valueOffset;
  UINT valueLength = node.valueLength;
  if (narrowText && node.type == 1) {
    // The 8-bit copy goes to the room behind the resource, at half the
    // text's own offset, so that no two texts overlap.
    const size_t treeSize = wordAt(block);
    if (std::memcmp(block + treeSize, ConversionMark, sizeof ConversionMark) != 0) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    char *copy =
        reinterpret_cast<char *>(const_cast<BYTE *>(block) + treeSize + sizeof ConversionMark + node.valueOffset / 2);
    std::basic_string<WCHAR> text(node.valueLength, 0);
    std::memcpy(text.data(), valueAt, text.size() * 2);
    const std::string converted = platform::kernel::WideToAnsi(text.data(), text.size());
    std::memcpy(copy, converted.data(), converted.size());
    copy[converted.size()] = 0;
    valueAt = reinterpret_cast<BYTE *>(copy);
    valueLength = static_cast<UINT>(converted.size());
  }
  *value = valueAt;
  if (length != nullptr) *length = valueLength;
  return TRUE;
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
  return versionInfoSize(lptstrFilename == nullptr ? std::string() : platform::kernel::utf8FromWide(lptstrFilename),
                         lpdwHandle);
}

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  return versionInfoSize(lptstrFilename == nullptr ? std::string() : platform::kernel::utf8FromAnsi(lptstrFilename),
                         lpdwHandle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  return versionInfo(lptstrFilename == nullptr ? std::string() : platform::kernel::utf8FromWide(lptstrFilename), dwLen,
                     lpData);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  return versionInfo(lptstrFilename == nullptr ? std::string() : platform::kernel::utf8FromAnsi(lptstrFilename), dwLen,
                     lpData);
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID *lplpBuffer, PUINT puLen) {
  if (lpSubBlock == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return queryValue(pBlock, std::basic_string<WCHAR>(lpSubBlock), false, lplpBuffer, puLen);
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID *lplpBuffer, PUINT puLen) {
  if (lpSubBlock == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return queryValue(pBlock, platform::kernel::AnsiToWide(lpSubBlock, std::strlen(lpSubBlock)), true, lplpBuffer, puLen);
}
