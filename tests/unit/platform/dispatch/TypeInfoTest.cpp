// The type library read out of the component module: the two views of a dual
// interface, the references into the standard OLE library, the library's own
// queries, loading from files and resources, and registration. Natively this
// is the platform's reader, under Wine oleaut32's; both must agree.
#include "DispatchTestSupport.h"

#include <winreg.h>

#include <cstdio>
#include <fstream>

namespace {

constexpr MEMBERID QueryInterfaceId = 0x60000000;

struct Attr {
  Attr(ITypeInfo *info) : info_(info) { EXPECT_EQ(S_OK, info->GetTypeAttr(&attr)); }
  ~Attr() {
    if (attr) info_->ReleaseTypeAttr(attr);
  }
  const TYPEATTR *operator->() const { return attr; }
  TYPEATTR *attr = nullptr;

 private:
  ITypeInfo *info_;
};

struct Func {
  Func(ITypeInfo *info, UINT index) : info_(info) { EXPECT_EQ(S_OK, info->GetFuncDesc(index, &desc)); }
  ~Func() {
    if (desc) info_->ReleaseFuncDesc(desc);
  }
  const FUNCDESC *operator->() const { return desc; }
  FUNCDESC *desc = nullptr;

 private:
  ITypeInfo *info_;
};

std::string nameOf(ITypeInfo *info, MEMBERID memid = MEMBERID_NIL) {
  Text name;
  EXPECT_EQ(S_OK, info->GetDocumentation(memid, name.put(), nullptr, nullptr, nullptr));
  return name.str();
}

std::vector<std::string> namesOf(ITypeInfo *info, MEMBERID memid) {
  BSTR names[8] = {};
  UINT count = 0;
  EXPECT_EQ(S_OK, info->GetNames(memid, names, 8, &count));
  std::vector<std::string> out;
  for (UINT i = 0; i < count; ++i) out.push_back(narrow(names[i]));
  for (BSTR n : names) SysFreeString(n);
  return out;
}

class TypeInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    loadContract(lib.put());
    ASSERT_NE(nullptr, lib.get());
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_IPerfCounter, counter.put()));
  }
  Com<ITypeLib> lib;
  Com<ITypeInfo> counter;
};

// Automation clients see a dispatch interface that starts with IUnknown's
// and IDispatch's members; its functions take their retval as result.
TEST_F(TypeInfo, DispatchViewOfADualInterface) {
  {
    Attr attr(counter.get());
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    EXPECT_EQ(27, attr->cFuncs);
    EXPECT_EQ(1, attr->cImplTypes);
    EXPECT_EQ(7 * sizeof(void *), attr->cbSizeVft);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, attr->wTypeFlags);
    EXPECT_EQ(sizeof(void *), attr->cbSizeInstance);
  }
  {
    Func query(counter.get(), 0);
    EXPECT_EQ(QueryInterfaceId, query->memid);
    EXPECT_EQ(FUNC_DISPATCH, query->funckind);
    EXPECT_EQ(FUNCFLAG_FRESTRICTED, query->wFuncFlags);
    EXPECT_EQ(VT_VOID, query->elemdescFunc.tdesc.vt);
    EXPECT_EQ(2, query->cParams);
  }
  {
    Func addRef(counter.get(), 1);
    EXPECT_EQ(VT_UI4, addRef->elemdescFunc.tdesc.vt);
  }
  {
    // MyBlob's get: the VARIANT retval is the result, the optional type
    // with its default stays.
    Func get(counter.get(), 9);
    EXPECT_EQ(3, get->memid);
    EXPECT_EQ(INVOKE_PROPERTYGET, get->invkind);
    EXPECT_EQ(FUNC_DISPATCH, get->funckind);
    EXPECT_EQ(VT_VARIANT, get->elemdescFunc.tdesc.vt);
    ASSERT_EQ(1, get->cParams);
    EXPECT_EQ(1, get->cParamsOpt);
    const PARAMDESC &type = get->lprgelemdescParam[0].paramdesc;
    EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, type.wParamFlags);
    ASSERT_NE(nullptr, type.pparamdescex);
    EXPECT_EQ(VT_I4, V_VT(&type.pparamdescex->varDefaultValue));
    EXPECT_EQ(0, V_I4(&type.pparamdescex->varDefaultValue));
    EXPECT_EQ(VT_USERDEFINED, get->lprgelemdescParam[0].tdesc.vt);
    Com<ITypeInfo> blobType;
    ASSERT_EQ(S_OK, counter->GetRefTypeInfo(get->lprgelemdescParam[0].tdesc.hreftype, blobType.put()));
    EXPECT_EQ("RVBlobTypeEnum", nameOf(blobType.get()));
  }
  {
    Func put(counter.get(), 8);
    EXPECT_EQ(INVOKE_PROPERTYPUT, put->invkind);
    EXPECT_EQ(VT_VOID, put->elemdescFunc.tdesc.vt);
    EXPECT_EQ(VT_I4, put->lprgelemdescParam[0].tdesc.vt);
  }
  FUNCDESC *none = nullptr;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetFuncDesc(27, &none));

  EXPECT_EQ((std::vector<std::string>{"MyBlob", "tTranType"}), namesOf(counter.get(), 3));
  EXPECT_EQ((std::vector<std::string>{"QueryInterface", "riid", "ppvObj"}), namesOf(counter.get(), QueryInterfaceId));
  BSTR names[2] = {};
  UINT count = 9;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetNames(99, names, 2, &count));

  LPOLESTR query[] = {const_cast<LPOLESTR>(OLESTR("queryinterface"))};
  MEMBERID id = 0;
  EXPECT_EQ(S_OK, counter->GetIDsOfNames(query, 1, &id));
  EXPECT_EQ(QueryInterfaceId, id);

  Text name, doc;
  EXPECT_EQ(S_OK, counter->GetDocumentation(3, name.put(), doc.put(), nullptr, nullptr));
  EXPECT_EQ("MyBlob", name.str());
  EXPECT_EQ("Serializes or Unserializes object hierarchy to or from a Blob", doc.str());
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetDocumentation(99, name.put(), nullptr, nullptr, nullptr));
}

TEST_F(TypeInfo, InterfaceHalfAndTheStandardBaseInterfaces) {
  HREFTYPE half = 0;
  ASSERT_EQ(S_OK, counter->GetRefTypeOfImplType(UINT(-1), &half));
  Com<ITypeInfo> table;
  ASSERT_EQ(S_OK, counter->GetRefTypeInfo(half, table.put()));
  {
    Attr attr(table.get());
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(20, attr->cFuncs);
    EXPECT_EQ(27 * sizeof(void *), attr->cbSizeVft);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  }
  // The interface half answers inherited names too.
  LPOLESTR query[] = {const_cast<LPOLESTR>(OLESTR("QueryInterface"))};
  MEMBERID id = 0;
  EXPECT_EQ(S_OK, table->GetIDsOfNames(query, 1, &id));
  EXPECT_EQ(QueryInterfaceId, id);
  // And leads back to the dispatch view.
  ASSERT_EQ(S_OK, table->GetRefTypeOfImplType(UINT(-1), &half));
  Com<ITypeInfo> back;
  ASSERT_EQ(S_OK, table->GetRefTypeInfo(half, back.put()));
  EXPECT_EQ(TKIND_DISPATCH, Attr(back.get())->typekind);

  // Both views derive from IDispatch, which derives from IUnknown.
  for (ITypeInfo *view : {counter.get(), table.get()}) {
    HREFTYPE base = 0;
    ASSERT_EQ(S_OK, view->GetRefTypeOfImplType(0, &base));
    Com<ITypeInfo> dispatch;
    ASSERT_EQ(S_OK, view->GetRefTypeInfo(base, dispatch.put()));
    EXPECT_EQ("IDispatch", nameOf(dispatch.get()));
    Attr attr(dispatch.get());
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_TRUE(IsEqualGUID(IID_IDispatch, attr->guid));
    EXPECT_EQ(4, attr->cFuncs);
    Com<ITypeLib> standard;
    ASSERT_EQ(S_OK, dispatch->GetContainingTypeLib(standard.put(), nullptr));
    Text libName;
    standard->GetDocumentation(-1, libName.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ("stdole", libName.str());

    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(0, &base));
    Com<ITypeInfo> unknown;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(base, unknown.put()));
    EXPECT_EQ("IUnknown", nameOf(unknown.get()));
    EXPECT_EQ(3, Attr(unknown.get())->cFuncs);
  }

  INT flags = 0;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetImplTypeFlags(UINT(-1), &flags));
  HREFTYPE none = 0;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, counter->GetRefTypeOfImplType(1, &none));
}

TEST_F(TypeInfo, LibraryQueriesAndTheirBounds) {
  const UINT count = lib->GetTypeInfoCount();
  EXPECT_EQ(16u, count);
  Com<ITypeInfo> info;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfo(count, info.put()));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoOfGuid(IID_ITypeInfo, info.put()));
  Text name;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetDocumentation(INT(count), name.put(), nullptr, nullptr, nullptr));

  UINT index = 99;
  Com<ITypeLib> container;
  ASSERT_EQ(S_OK, counter->GetContainingTypeLib(container.put(), &index));
  TYPEKIND kind = TKIND_MAX;
  ASSERT_EQ(S_OK, lib->GetTypeInfoType(index, &kind));
  EXPECT_EQ(TKIND_DISPATCH, kind);
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoType(count, &kind));

  TLIBATTR *attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_EQ(LIBFLAG_FHASDISKIMAGE, attr->wLibFlags);
  lib->ReleaseTLibAttr(attr);
  Text doc, helpFile;
  DWORD context = 7;
  ASSERT_EQ(S_OK, lib->GetDocumentation(-1, nullptr, doc.put(), &context, helpFile.put()));
  EXPECT_EQ(nullptr, helpFile.get());
  EXPECT_EQ(0u, context);

  // Wine 8.0's IsName and FindName answer "not found" without a hash value;
  // the platform answers as documented and corrects the caller's spelling.
#ifndef _WIN32
  OLECHAR spelled[] = OLESTR("iperfcounter");
  BOOL isName = FALSE;
  ASSERT_EQ(S_OK, lib->IsName(spelled, 0, &isName));
  EXPECT_TRUE(isName);
  EXPECT_EQ("IPerfCounter", narrow(spelled));
  OLECHAR memberName[] = OLESTR("resetcounters");
  ITypeInfo *holders[8] = {};
  MEMBERID ids[8] = {};
  USHORT found = 8;
  ASSERT_EQ(S_OK, lib->FindName(memberName, 0, holders, ids, &found));
  EXPECT_EQ(6, found);  // three objects and three collections
  for (USHORT i = 0; i < found; ++i) {
    EXPECT_TRUE(ids[i] == 11 || ids[i] == 12 || ids[i] == 8 || ids[i] == 14) << ids[i];
    holders[i]->Release();
  }
  EXPECT_EQ("ResetCounters", narrow(memberName));
#endif

  // Enumeration members are constants with ids of their own.
  ASSERT_EQ(S_OK, lib->GetTypeInfo(0, info.put()));
  VARDESC *member = nullptr;
  ASSERT_EQ(S_OK, info->GetVarDesc(1, &member));
  EXPECT_EQ(0x40000001, member->memid);
  EXPECT_EQ(VAR_CONST, member->varkind);
  EXPECT_EQ(VT_INT, member->elemdescVar.tdesc.vt);
  EXPECT_EQ(1, V_I4(member->lpvarValue));
  EXPECT_EQ((std::vector<std::string>{"btAsString"}), namesOf(info.get(), member->memid));
  info->ReleaseVarDesc(member);
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, info->GetVarDesc(2, &member));
  Attr enumAttr(info.get());
  EXPECT_EQ(4u, enumAttr->cbSizeInstance);
  EXPECT_EQ(4, enumAttr->cbAlignment);
}

TEST(TypeLibraryFiles, LoadsFromModulesAndFilesOrSaysWhyNot) {
  Com<ITypeLib> lib;
  const OleString module = modulePath();
  ASSERT_EQ(S_OK, LoadTypeLibEx((module + OLESTR("\\1")).c_str(), REGKIND_NONE, lib.put()));
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx((module + OLESTR("\\2")).c_str(), REGKIND_NONE, lib.put()));
  EXPECT_EQ(nullptr, lib.get());

  // The .tlb that the module embeds, read as a file.
  ASSERT_EQ(S_OK, LoadTypeLibEx(buildPath(CONTRACT_TLB).c_str(), REGKIND_NONE, lib.put()));
  TLIBATTR *attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_rvZedaZuvivurAzodav_83, attr->guid));
  lib->ReleaseTLibAttr(attr);

  const std::string missingFile = std::string(CONTRACT_TLB) + ".missing";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx(buildPath(missingFile).c_str(), REGKIND_NONE, lib.put()));
  const std::string plainText = std::string(CONTRACT_TLB) + ".txt";
  std::ofstream(plainText) << "not a type library\n";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibEx(buildPath(plainText).c_str(), REGKIND_NONE, lib.put()));
  std::remove(plainText.c_str());

  EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(nullptr, REGKIND_NONE, lib.put()));
  EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(module.c_str(), REGKIND_NONE, nullptr));
}

std::string registryText(const OleString &key, const OLECHAR *value = nullptr) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<no key>";
  OLECHAR buffer[512] = {};
  DWORD bytes = sizeof buffer - sizeof(OLECHAR), type = 0;
  LONG status = RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
  return narrow(buffer);
}

OleString guidText(const GUID &guid) {
  OLECHAR text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// RegisterTypeLib writes the keys Windows writes; LoadRegTypeLib finds the
// library through them; UnRegisterTypeLib removes them all.
TEST(TypeLibraryRegistration, RoundTrip) {
  HMODULE module = LoadLibraryW(modulePath().c_str());
  ASSERT_NE(nullptr, module);
  OLECHAR path[1024] = {};
  ASSERT_GT(GetModuleFileNameW(module, path, 1024), 0u);
  FreeLibrary(module);
  const OleString fullPath = path;
  const OleString folder = fullPath.substr(0, fullPath.find_last_of(u'\\'));

  Com<ITypeLib> lib;
  loadContract(lib.put());
  ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), const_cast<OLECHAR *>(fullPath.c_str()), nullptr));

  const OleString libKey = OLESTR("TypeLib\\") + guidText(LIBID_rvZedaZuvivurAzodav_83);
  const OleString version = libKey + OLESTR("\\1.0");
  EXPECT_EQ("Norvale rvZedaZuvivurAzodav 8.3 Type Library", registryText(version));
  EXPECT_EQ(narrow(fullPath.c_str()), registryText(version + OLESTR("\\409\\win64")));
  EXPECT_EQ("8", registryText(version + OLESTR("\\FLAGS")));
  EXPECT_EQ(narrow(folder.c_str()), registryText(version + OLESTR("\\HELPDIR")));
  for (const IID *iid : {&IID_IPerfCounter, &IID_IPerfMgr, &IID_IPerfInstances}) {
    const OleString key = OLESTR("Interface\\") + guidText(*iid);
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}", registryText(key + OLESTR("\\ProxyStubClsid")));
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}", registryText(key + OLESTR("\\ProxyStubClsid32")));
    EXPECT_EQ(narrow(guidText(LIBID_rvZedaZuvivurAzodav_83).c_str()), registryText(key + OLESTR("\\TypeLib")));
    EXPECT_EQ("1.0", registryText(key + OLESTR("\\TypeLib"), OLESTR("Version")));
  }
  EXPECT_EQ("IPerfCounter", registryText(OLESTR("Interface\\") + guidText(IID_IPerfCounter)));

  // The locale is looked up towards the neutral one, never the other way;
  // a higher minor version than registered is not found.
  Text found;
  ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, found.put()));
  EXPECT_EQ(narrow(fullPath.c_str()), found.str());
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0, found.put()));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 1, 0x409, found.put()));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 2, 0, 0x409, found.put()));

  Com<ITypeLib> registered;
  ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, registered.put()));
  Com<ITypeInfo> mgr;
  EXPECT_EQ(S_OK, registered->GetTypeInfoOfGuid(IID_IPerfMgr, mgr.put()));

  ASSERT_EQ(S_OK, UnRegisterTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, SYS_WIN64));
  EXPECT_EQ("<no key>", registryText(libKey));
  EXPECT_EQ("<no key>", registryText(OLESTR("Interface\\") + guidText(IID_IPerfCounter)));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, registered.put()));
  EXPECT_EQ(E_INVALIDARG, UnRegisterTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, SYS_WIN64));

  // Loading with REGKIND_REGISTER registers on the way.
  ASSERT_EQ(S_OK, LoadTypeLibEx(modulePath().c_str(), REGKIND_REGISTER, lib.put()));
  EXPECT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, found.put()));
  EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, SYS_WIN64));
}

}  // namespace
