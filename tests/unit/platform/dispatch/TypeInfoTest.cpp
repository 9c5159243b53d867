// The type library read out of the component module, beyond its members
// (which the contract's own test compares): the import of the standard OLE
// library, the bounds of every index, loading from files and resources, and
// registration. Natively this
// is the platform's reader, under Wine oleaut32's; both must agree.
#include "DispatchTestSupport.h"

#include <winreg.h>

#include <cstdio>
#include <fstream>

namespace {

std::string nameOf(ITypeInfo *info) {
  Bstr name;
  EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr));
  return narrow(name.get());
}

// Both halves of a dual interface derive from stdole's IDispatch, found
// through the library's import. Every index past the end is refused, never
// read.
TEST(TypeInfo, ImportedBasesAndIndexBounds) {
  Com<ITypeLib> lib;
  loadContract(lib.out());
  Com<ITypeInfo> counter, table, dispatch, none;
  ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_IPerfCounter, counter.out()));
  HREFTYPE ref = 0;
  ASSERT_EQ(S_OK, counter->GetRefTypeOfImplType(UINT(-1), &ref));
  ASSERT_EQ(S_OK, counter->GetRefTypeInfo(ref, table.out()));
  for (ITypeInfo *view : {counter.get(), table.get()}) {
    ASSERT_EQ(S_OK, view->GetRefTypeOfImplType(0, &ref));
    ASSERT_EQ(S_OK, view->GetRefTypeInfo(ref, dispatch.out()));
    EXPECT_EQ("IDispatch", nameOf(dispatch.get()));
    Com<ITypeLib> standard;
    ASSERT_EQ(S_OK, dispatch->GetContainingTypeLib(standard.out(), nullptr));
    Bstr libName;
    standard->GetDocumentation(-1, libName.out(), nullptr, nullptr, nullptr);
    EXPECT_EQ("stdole", narrow(libName.get()));
  }

  const UINT count = lib->GetTypeInfoCount();
  FUNCDESC *noFunc = nullptr;
  VARDESC *noVar = nullptr;
  BSTR noNames[2] = {};
  UINT found = 0;
  INT flags = 0;
  Bstr name;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfo(count, none.out()));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetDocumentation(INT(count), name.out(), nullptr, nullptr, nullptr));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoOfGuid(IID_ITypeInfo, none.out()));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetFuncDesc(7 + 20, &noFunc));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, table->GetFuncDesc(20, &noFunc));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetNames(99, noNames, 2, &found));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetDocumentation(99, name.out(), nullptr, nullptr, nullptr));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetImplTypeFlags(UINT(-1), &flags));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetRefTypeOfImplType(1, &ref));
  ASSERT_EQ(S_OK, lib->GetTypeInfo(0, none.out()));  // an enumeration of two
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, none->GetVarDesc(2, &noVar));
}

TEST(TypeLibraryFiles, LoadsFromModulesAndFilesOrSaysWhyNot) {
  Com<ITypeLib> lib;
  const OleString module = modulePath();
  ASSERT_EQ(S_OK, LoadTypeLibEx((module + OLESTR("\\1")).c_str(), REGKIND_NONE, lib.out()));
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx((module + OLESTR("\\2")).c_str(), REGKIND_NONE, lib.out()));
  EXPECT_EQ(nullptr, lib.get());
  // The .tlb that the module embeds, read as a file.
  ASSERT_EQ(S_OK, LoadTypeLibEx(windowsPath(CONTRACT_TLB).c_str(), REGKIND_NONE, lib.out()));
  TLIBATTR *attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_rvZedaZuvivurAzodav_83, attr->guid));
  lib->ReleaseTLibAttr(attr);

  const std::string missingFile = std::string(CONTRACT_TLB) + ".missing";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx(windowsPath(missingFile).c_str(), REGKIND_NONE, lib.out()));
  const std::string plainText = std::string(CONTRACT_TLB) + ".txt";
  std::ofstream(plainText) << "not a type library\n";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx(windowsPath(plainText).c_str(), REGKIND_NONE, lib.out()));
  std::remove(plainText.c_str());
  EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(nullptr, REGKIND_NONE, lib.out()));
  EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(module.c_str(), REGKIND_NONE, nullptr));
}

std::string registryText(const OleString &key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<no key>";
  OLECHAR buffer[512] = {};
  DWORD bytes = sizeof buffer - sizeof(OLECHAR), type = 0;
  LONG status = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS && type == REG_SZ ? narrow(buffer) : "<no value>";
}

// RegisterTypeLib writes the keys Windows writes, through which the
// component's objects find their type information for late binding;
// UnRegisterTypeLib removes them all.
TEST(TypeLibraryRegistration, ServesLateBindingUntilUnregistered) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  HMODULE module = LoadLibraryW(modulePath().c_str());
  ASSERT_NE(nullptr, module);
  OLECHAR path[1024] = {};
  ASSERT_GT(GetModuleFileNameW(module, path, 1024), 0u);
  const std::string fullPath = narrow(path);
  Com<ITypeLib> lib;
  loadContract(lib.out());
  ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path, nullptr));

  const GUID &libId = LIBID_rvZedaZuvivurAzodav_83;
  const OleString libKey = OLESTR("TypeLib\\") + guidText(libId);
  const OleString counterKey = OLESTR("Interface\\") + guidText(IID_IPerfCounter);
  EXPECT_EQ(fullPath, registryText(libKey + OLESTR("\\1.0\\409\\win64")));
  // Dual interfaces are marshalled by the automation marshaler.
  EXPECT_EQ("{00020424-0000-0000-C000-000000000046}", registryText(counterKey + OLESTR("\\ProxyStubClsid32")));
  EXPECT_EQ(narrow(guidText(libId)), registryText(counterKey + OLESTR("\\TypeLib")));
  // The locale is looked up towards the neutral one, never the other way;
  // a higher version than registered is not found.
  Bstr found;
  ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(libId, 1, 0, 0x409, found.out()));
  EXPECT_EQ(fullPath, narrow(found.get()));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(libId, 1, 0, 0, found.out()));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(libId, 1, 1, 0x409, found.out()));

  {
    // A script engine asks a collection for its enumerator as a method only,
    // though the library declares _NewEnum a property.
    using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
    Com<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(CLSID_PerfCounters, IID_IClassFactory, factory.outVoid()));
    Com<IDispatch> counters;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, counters.outVoid()));
    for (WORD flags : {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_METHOD | DISPATCH_PROPERTYGET}) {
      SCOPED_TRACE(flags);
      Invocation call;
      ASSERT_EQ(S_OK, call.run(counters.get(), DISPID_NEWENUM, flags));
      ASSERT_EQ(VT_UNKNOWN, V_VT(&call.result));
      Com<IEnumVARIANT> items;
      ASSERT_EQ(S_OK, V_UNKNOWN(&call.result)->QueryInterface(IID_IEnumVARIANT, items.outVoid()));
      VARIANT item;
      ULONG fetched = 9;
      EXPECT_EQ(S_FALSE, items->Next(1, &item, &fetched));
      EXPECT_EQ(0u, fetched);
    }
    // Only the enumerator is widened: Count stays a property.
    Invocation count;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, count.run(counters.get(), 1, DISPATCH_METHOD));
  }

  Com<ITypeLib> registered;
  ASSERT_EQ(S_OK, UnRegisterTypeLib(libId, 1, 0, 0x409, SYS_WIN64));
  EXPECT_EQ("<no key>", registryText(libKey));
  EXPECT_EQ("<no key>", registryText(counterKey));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(libId, 1, 0, 0x409, registered.out()));
  EXPECT_EQ(E_INVALIDARG, UnRegisterTypeLib(libId, 1, 0, 0x409, SYS_WIN64));
  lib.reset();
  FreeLibrary(module);
  CoUninitialize();
}

}  // namespace
