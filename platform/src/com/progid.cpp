// ProgIDs: HKEY_CLASSES_ROOT\<ProgID>\CLSID names the class of a ProgID, and
// HKEY_CLASSES_ROOT\CLSID\{...}\ProgID the ProgID of a class. The built-in
// classes carry their ProgIDs themselves.
#include <windows.h>

#include <cstring>
#include <new>

#include "com/builtin_classes.h"
#include "com/class_keys.h"

namespace {

HRESULT classOfProgId(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (const platform::com::BuiltinClass *builtin = platform::com::findBuiltinProgId(lpszProgID)) {
    *lpclsid = builtin->clsid;
    return S_OK;
  }
  if (*lpszProgID != 0) {
    std::optional<platform::com::WideText> text =
        platform::com::readClassesText(platform::com::WideText(lpszProgID) + OLESTR("\\CLSID"), nullptr);
    // Only the braced form is a class identifier here: a value that named
    // another ProgID must not send the lookup round in circles.
    CLSID found;
    if (text && SUCCEEDED(IIDFromString(text->c_str(), &found))) {
      *lpclsid = found;
      return S_OK;
    }
  }
  *lpclsid = CLSID_NULL;
  return CO_E_CLASSSTRING;
}

HRESULT progIdOfClass(REFCLSID clsid, LPOLESTR *lplpszProgID) {
  platform::com::WideText progId;
  if (const platform::com::BuiltinClass *builtin = platform::com::findBuiltinClass(clsid)) {
    progId = builtin->progId;
  } else {
    std::optional<platform::com::WideText> text =
        platform::com::readClassesText(platform::com::classKeyPath(clsid) + OLESTR("\\ProgID"), nullptr);
    if (!text) return REGDB_E_CLASSNOTREG;
    progId = std::move(*text);
  }
  size_t bytes = (progId.size() + 1) * sizeof(OLECHAR);
  auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, progId.c_str(), bytes);
  *lplpszProgID = copy;
  return S_OK;
}

}  // namespace

// Running out of memory while reading the registry is E_OUTOFMEMORY, never
// "no such class".
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  try {
    return classOfProgId(lpszProgID, lpclsid);
  } catch (const std::bad_alloc &) {
    *lpclsid = CLSID_NULL;
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  try {
    return progIdOfClass(clsid, lplpszProgID);
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}
