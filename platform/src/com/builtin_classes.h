// Classes that the platform itself provides, as Windows provides system
// classes (the XML DOM document of MSXML): found before the registry.
#pragma once

#include <objbase.h>

namespace platform::com {

// Makes one object: aggregated when `outer` is given, then asked for riid.
using BuiltinCreator = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv);

struct BuiltinClass {
  CLSID clsid;
  LPCOLESTR progId;
  BuiltinCreator create;
};

const BuiltinClass *findBuiltinClass(REFCLSID rclsid);
// ProgIDs compare without regard to case, as registry key names do.
const BuiltinClass *findBuiltinProgId(LPCOLESTR progId);

// A class object (IClassFactory) for a built-in class, asked for riid.
HRESULT getBuiltinClassObject(const BuiltinClass &builtin, REFIID riid, void **ppv);

}  // namespace platform::com
