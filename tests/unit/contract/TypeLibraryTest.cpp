// Reads the type library out of the built module through the system's own
// ITypeLib/ITypeInfo and compares it, member by member, with the published
// automation contract of the seven classes.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rvZedaZuvivurAzodav.h"
#include "rvText.h"

namespace {

using rv::Text;

std::string narrow(const OLECHAR *text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

struct Bstr {
  BSTR value = nullptr;
  ~Bstr() { SysFreeString(value); }
  std::string str() const { return narrow(value); }
};

template <typename T> struct Com {
  T *p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T *operator->() const { return p; }
};

// One parameter as the contract states it; `type` is written as in IDL.
struct Param {
  const char *name;  // "" for the unnamed value of a property put
  USHORT flags;
  std::string type;
  const char *defaultValue;  // nullptr when there is none; else the value as text
};

struct Member {
  DISPID id;
  INVOKEKIND kind;
  const char *name;
  std::vector<Param> params;
  bool restricted = false;
};

constexpr USHORT In = PARAMFLAG_FIN;
constexpr USHORT Retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT InOpt = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
constexpr INVOKEKIND Get = INVOKE_PROPERTYGET;
constexpr INVOKEKIND Put = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND Method = INVOKE_FUNC;

std::vector<Member> commonMembers() {
  return {
      {1, Get, "ID", {{"pVal", Retval, "long*", nullptr}}},
      {1, Put, "ID", {{"", In, "long", nullptr}}},
      {3, Get, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"pVal", Retval, "VARIANT*", nullptr}}},
      {3, Put, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"", In, "VARIANT", nullptr}}},
      {4, Method, "CopyFrom", {{"oFromObj", In, "IDispatch*", nullptr}}},
  };
}

void addProperty(std::vector<Member> &members, DISPID id, const char *name, const std::string &type) {
  members.push_back({id, Get, name, {{"pVal", Retval, type + "*", nullptr}}});
  members.push_back({id, Put, name, {{"", In, type, nullptr}}});
}

std::vector<Member> counterMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Value", "VARIANT");
  addProperty(m, 6, "Name", "BSTR");
  addProperty(m, 7, "Help", "BSTR");
  addProperty(m, 8, "DefaultScale", "long");
  addProperty(m, 9, "CounterType", "long");
  addProperty(m, 10, "CounterSize", "long");
  m.push_back({11, Method, "ResetCounter", {}});
  addProperty(m, 12, "AutoCalcInstanceTotal", "BSTR");
  return m;
}

std::vector<Member> objectMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Name", "BSTR");
  m.push_back({6, Get, "PerfCounters", {{"pVal", Retval, "IPerfCounters**", nullptr}}});
  addProperty(m, 7, "Help", "BSTR");
  m.push_back({8, Get, "PerfInstances", {{"pVal", Retval, "IPerfInstances**", nullptr}}});
  addProperty(m, 9, "InstanceTimeout", "long");
  addProperty(m, 10, "HasInstances", "VARIANT_BOOL");
  addProperty(m, 11, "AutoCreateInstanceTotal", "VARIANT_BOOL");
  m.push_back({12, Method, "ResetCounters", {}});
  m.push_back({13,
               Method,
               "CreateInstance",
               {{"sInstanceName", In, "BSTR", nullptr}, {"pVal", Retval, "IPerfInstance**", nullptr}}});
  m.push_back({14, Method, "CalcTotalInstance", {}});
  return m;
}

std::vector<Member> instanceMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Name", "BSTR");
  m.push_back({6, Get, "PerfCounters", {{"pVal", Retval, "IPerfCounters**", nullptr}}});
  m.push_back({7, Put, "TimeStamp", {{"", In, "DATE", nullptr}}});
  m.push_back({7, Get, "TimeStamp", {{"pVal", Retval, "DATE*", nullptr}}});
  m.push_back({8, Method, "ResetCounters", {}});
  return m;
}

std::vector<Member> managerMembers() {
  auto m = commonMembers();
  m.push_back({5, Get, "PerfObjects", {{"pVal", Retval, "IPerfObjects**", nullptr}}});
  m.push_back({6, Method, "Load", {{"sFilePathName", InOpt, "BSTR", ""}}});
  m.push_back({7, Get, "InstallLocation", {{"pVal", Retval, "BSTR*", nullptr}}});
  m.push_back({8, Method, "Register", {{"sPath", InOpt, "BSTR", ""}}});
  m.push_back({9, Get, "DeviceName", {{"pVal", Retval, "BSTR*", nullptr}}});
  m.push_back({10, Method, "RemoveTimedOutInstances", {}});
  m.push_back({11, Get, "PerformanceSetting", {{"pVal", Retval, "RVPerformanceSetting*", nullptr}}});
  addProperty(m, 12, "InstanceCleannupPolling", "long");
  m.push_back({13, Method, "SyncronizeFrom", {{"pPerfMgrIn", In, "IPerfMgr*", nullptr}}});
  m.push_back({14, Method, "ResetCounters", {}});
  m.push_back({15, Method, "CreateTotalInstances", {}});
  m.push_back({16, Method, "CalcTotalInstances", {}});
  return m;
}

std::vector<Member> collectionMembers(const std::string &element, bool objects) {
  const std::string out = element + "**";
  const std::string in = element + "*";
  std::vector<Member> m = {
      {1, Get, "Count", {{"pVal", Retval, "long*", nullptr}}},
      {0, Get, "Item", {{"lIndex", In, "long", nullptr}, {"oObject", Retval, out, nullptr}}},
      {2, Get, "ItemByID", {{"lID", In, "long", nullptr}, {"oObject", Retval, out, nullptr}}},
      {3, Method, "Remove", {{"lIndex", In, "long", nullptr}}},
      {4, Method, "RemoveAll", {}},
      {5, Method, "RemoveByID", {{"lID", In, "long", nullptr}}},
      {6, Method, "Add", {{"oObject", 0, in, nullptr}}},
      {DISPID_NEWENUM, Get, "_NewEnum", {{"RetVal", Retval, "IUnknown**", nullptr}}, true},
      {7, Method, "CopyFrom", {{"oFromObj", In, "IDispatch*", nullptr}}},
      {8, Method, "AddNew", {{"lID", InOpt, "long", "0"}, {"oObject", Retval, out, nullptr}}},
      {9, Get, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"pVal", Retval, "VARIANT*", nullptr}}},
      {9, Put, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"", In, "VARIANT", nullptr}}},
      {10, Get, "ItemByName", {{"sName", In, "BSTR", nullptr}, {"oObject", Retval, out, nullptr}}},
      {11, Method, "ResetCounters", {}},
  };
  if (objects) {
    m.push_back({12, Method, "CreateTotalInstances", {}});
    m.push_back({13, Method, "CalcTotalInstances", {}});
  }
  return m;
}

struct Class {
  const char *name;
  const CLSID *clsid;
  const char *interfaceName;
  const IID *iid;
  std::vector<Member> members;
};

std::vector<Class> contractClasses() {
  return {
      {"PerfCounter", &CLSID_PerfCounter, "IPerfCounter", &IID_IPerfCounter, counterMembers()},
      {"PerfObject", &CLSID_PerfObject, "IPerfObject", &IID_IPerfObject, objectMembers()},
      {"PerfCounters", &CLSID_PerfCounters, "IPerfCounters", &IID_IPerfCounters,
       collectionMembers("IPerfCounter", false)},
      {"PerfObjects", &CLSID_PerfObjects, "IPerfObjects", &IID_IPerfObjects, collectionMembers("IPerfObject", true)},
      {"PerfMgr", &CLSID_PerfMgr, "IPerfMgr", &IID_IPerfMgr, managerMembers()},
      {"PerfInstance", &CLSID_PerfInstance, "IPerfInstance", &IID_IPerfInstance, instanceMembers()},
      {"PerfInstances", &CLSID_PerfInstances, "IPerfInstances", &IID_IPerfInstances,
       collectionMembers("IPerfInstance", false)},
  };
}

// Renders a type description in IDL spelling, so that a mismatch reads plainly.
std::string typeText(ITypeInfo *info, const TYPEDESC &desc) {
  switch (desc.vt) {
    case VT_I4: return "long";
    case VT_BSTR: return "BSTR";
    case VT_VARIANT: return "VARIANT";
    case VT_DATE: return "DATE";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_DISPATCH: return "IDispatch*";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_HRESULT: return "HRESULT";
    case VT_PTR: return typeText(info, *desc.lptdesc) + "*";
    case VT_USERDEFINED: {
      Com<ITypeInfo> ref;
      if (FAILED(info->GetRefTypeInfo(desc.hreftype, &ref.p))) return "?unresolved";
      Bstr name;
      ref->GetDocumentation(MEMBERID_NIL, &name.value, nullptr, nullptr, nullptr);
      return name.str();
    }
    default: return "vt" + std::to_string(desc.vt);
  }
}

std::string defaultText(const PARAMDESC &desc) {
  if (!(desc.wParamFlags & PARAMFLAG_FHASDEFAULT) || desc.pparamdescex == nullptr) return "<none>";
  const VARIANT &v = desc.pparamdescex->varDefaultValue;
  if (V_VT(&v) == VT_BSTR) return narrow(V_BSTR(&v));
  if (V_VT(&v) == VT_I4) return std::to_string(V_I4(&v));
  if (V_VT(&v) == VT_INT) return std::to_string(V_INT(&v));
  return "vt" + std::to_string(V_VT(&v));
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    Text module;
    for (const char *c = COMPONENT_MODULE; *c; ++c) module.push_back(static_cast<OLECHAR>(*c));
    ASSERT_EQ(S_OK, LoadTypeLibEx(module.c_str(), REGKIND_NONE, &lib.p));
  }
  Com<ITypeLib> lib;
};

TEST_F(TypeLibrary, IdentityOfTheLibrary) {
  TLIBATTR *attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_rvZedaZuvivurAzodav_83));
  EXPECT_EQ(0x409u, attr->lcid);
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  EXPECT_EQ(SYS_WIN64, attr->syskind);
  lib->ReleaseTLibAttr(attr);

  Bstr name;
  ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name.value, nullptr, nullptr, nullptr));
  EXPECT_EQ("rvZedaZuvivurAzodav_83", name.str());

  // Two enumerations, seven interfaces and seven classes; nothing else: the
  // internal interfaces stay out.
  EXPECT_EQ(16u, lib->GetTypeInfoCount());
  for (const IID *iid : {&IID_IPerfCommon, &IID_IPerfTransfer, &IID_IPerfCollection}) {
    Com<ITypeInfo> info;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoOfGuid(*iid, &info.p));
  }
}

TEST_F(TypeLibrary, Enumerations) {
  struct Enum {
    const char *name;
    std::vector<std::pair<const char *, LONG>> members;
  };
  const std::vector<Enum> expected = {
      {"RVBlobTypeEnum", {{"btAsBinaryArray", 0}, {"btAsString", 1}}},
      {"RVPerformanceSetting", {{"pmUnknown", -1}, {"pmDisabled", 0}, {"pmEnabled", 1}}},
  };
  for (const Enum &e : expected) {
    SCOPED_TRACE(e.name);
    Com<ITypeInfo> info;
    for (UINT i = 0; i < lib->GetTypeInfoCount() && info.p == nullptr; ++i) {
      Bstr name;
      lib->GetDocumentation(i, &name.value, nullptr, nullptr, nullptr);
      if (name.str() == e.name) lib->GetTypeInfo(i, &info.p);
    }
    ASSERT_NE(nullptr, info.p);
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_ENUM, attr->typekind);
    ASSERT_EQ(e.members.size(), attr->cVars);
    for (UINT i = 0; i < attr->cVars; ++i) {
      VARDESC *var = nullptr;
      ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
      Bstr name;
      info->GetDocumentation(var->memid, &name.value, nullptr, nullptr, nullptr);
      EXPECT_EQ(e.members[i].first, name.str());
      EXPECT_EQ(VAR_CONST, var->varkind);
      EXPECT_EQ(VT_I4, V_VT(var->lpvarValue));
      EXPECT_EQ(e.members[i].second, V_I4(var->lpvarValue));
      info->ReleaseVarDesc(var);
    }
    info->ReleaseTypeAttr(attr);
  }
}

TEST_F(TypeLibrary, CoclassesAreCreatableWithTheirDefaultInterface) {
  for (const Class &c : contractClasses()) {
    SCOPED_TRACE(c.name);
    Com<ITypeInfo> info;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*c.clsid, &info.p));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(1, attr->cImplTypes);
    info->ReleaseTypeAttr(attr);

    Bstr name;
    info->GetDocumentation(MEMBERID_NIL, &name.value, nullptr, nullptr, nullptr);
    EXPECT_EQ(c.name, name.str());

    INT flags = 0;
    ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
    Com<ITypeInfo> iface;
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &iface.p));
    Bstr ifaceName;
    iface->GetDocumentation(MEMBERID_NIL, &ifaceName.value, nullptr, nullptr, nullptr);
    EXPECT_EQ(c.interfaceName, ifaceName.str());
  }
}

TEST_F(TypeLibrary, InterfacesMemberByMember) {
  for (const Class &c : contractClasses()) {
    SCOPED_TRACE(c.interfaceName);
    Com<ITypeInfo> dispatchInfo;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*c.iid, &dispatchInfo.p));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, dispatchInfo->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    const WORD dualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, attr->wTypeFlags & dualFlags);
    dispatchInfo->ReleaseTypeAttr(attr);

    // The interface half of the dual interface carries the function table.
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeOfImplType(-1, &ref));
    Com<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(ref, &info.p));
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(dualFlags, attr->wTypeFlags & dualFlags);
    EXPECT_TRUE(IsEqualGUID(attr->guid, *c.iid));
    ASSERT_EQ(c.members.size(), attr->cFuncs);
    EXPECT_EQ(1, attr->cImplTypes);
    info->ReleaseTypeAttr(attr);

    std::vector<DISPID> seen;
    for (UINT i = 0; i < c.members.size(); ++i) {
      const Member &m = c.members[i];
      SCOPED_TRACE(std::string(m.name) + " in slot " + std::to_string(i + 1));
      FUNCDESC *f = nullptr;
      ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
      EXPECT_EQ(m.id, f->memid);
      EXPECT_EQ(m.kind, f->invkind);
      EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind);
      EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void *)), f->oVft);
      EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
      EXPECT_EQ(m.restricted, (f->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0);

      ASSERT_EQ(static_cast<size_t>(f->cParams), m.params.size());
      for (UINT p = 0; p < m.params.size(); ++p) {
        SCOPED_TRACE(std::string("parameter ") + std::to_string(p + 1));
        const ELEMDESC &e = f->lprgelemdescParam[p];
        EXPECT_EQ(m.params[p].flags, e.paramdesc.wParamFlags);
        EXPECT_EQ(m.params[p].type, typeText(info.p, e.tdesc));
        EXPECT_EQ(m.params[p].defaultValue ? m.params[p].defaultValue : "<none>", defaultText(e.paramdesc));
      }
      info->ReleaseFuncDesc(f);

      // GetNames answers for the first function with a member id: the
      // property get where there is one, the put of TimeStamp, which comes
      // first. A put's value parameter carries no name.
      if (std::find(seen.begin(), seen.end(), m.id) != seen.end()) continue;
      seen.push_back(m.id);
      BSTR names[8] = {};
      UINT count = 0;
      ASSERT_EQ(S_OK, info->GetNames(m.id, names, 8, &count));
      std::vector<std::string> got, want = {m.name};
      for (UINT n = 0; n < count; ++n) got.push_back(narrow(names[n]));
      for (BSTR n : names) SysFreeString(n);
      for (const Param &p : m.params)
        if (*p.name) want.push_back(p.name);
      EXPECT_EQ(want, got);
    }
  }
}

}  // namespace
