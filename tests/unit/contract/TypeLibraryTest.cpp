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

namespace {

using Text = std::basic_string<OLECHAR>;

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
  ~Com() { if (p) p->Release(); }
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
  const char *help;
  bool restricted = false;
};

constexpr USHORT In = PARAMFLAG_FIN;
constexpr USHORT Retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT InOpt = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
constexpr INVOKEKIND Get = INVOKE_PROPERTYGET;
constexpr INVOKEKIND Put = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND Method = INVOKE_FUNC;

const char *const blobHelp = "Serializes or Unserializes object hierarchy to or from a Blob";

std::vector<Member> commonMembers() {
  return {
      {1, Get, "ID", {{"pVal", Retval, "long*", nullptr}}, "ID of the object"},
      {1, Put, "ID", {{"", In, "long", nullptr}}, "ID of the object"},
      {3, Get, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"pVal", Retval, "VARIANT*", nullptr}}, blobHelp},
      {3, Put, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"", In, "VARIANT", nullptr}}, blobHelp},
      {4, Method, "CopyFrom", {{"oFromObj", In, "IDispatch*", nullptr}}, "Clones an entire object hierarchy."},
  };
}

void addProperty(std::vector<Member> &members, DISPID id, const char *name, const std::string &type,
                 const char *help) {
  members.push_back({id, Get, name, {{"pVal", Retval, type + "*", nullptr}}, help});
  members.push_back({id, Put, name, {{"", In, type, nullptr}}, help});
}

std::vector<Member> counterMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Value", "VARIANT", "Performance Counter Value");
  addProperty(m, 6, "Name", "BSTR", "Performance Counter Name");
  addProperty(m, 7, "Help", "BSTR", "Performance Counter Help string");
  addProperty(m, 8, "DefaultScale", "long", "Performance Counter DefaultScale");
  addProperty(m, 9, "CounterType", "long", "Performance Counter Type ");
  addProperty(m, 10, "CounterSize", "long", "Performance Counter Byte Size");
  m.push_back({11, Method, "ResetCounter", {}, "Reset Counter Values to Zero."});
  addProperty(m, 12, "AutoCalcInstanceTotal", "BSTR", "Automatically calculates the _Total for all instances");
  return m;
}

std::vector<Member> objectMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Name", "BSTR", "Perfomance Object Name");
  m.push_back({6, Get, "PerfCounters", {{"pVal", Retval, "IPerfCounters**", nullptr}}, "property PerfCounters"});
  addProperty(m, 7, "Help", "BSTR", "Perfomance Object Help string");
  m.push_back({8, Get, "PerfInstances", {{"pVal", Retval, "IPerfInstances**", nullptr}}, "property PerfInstances"});
  addProperty(m, 9, "InstanceTimeout", "long", "Perfomance Object Instance Timeout");
  addProperty(m, 10, "HasInstances", "VARIANT_BOOL", "Perfomance Object Has Intances");
  addProperty(m, 11, "AutoCreateInstanceTotal", "VARIANT_BOOL", "Automatically displays the _Total for all instances");
  m.push_back({12, Method, "ResetCounters", {}, "Reset Counter Values to Zero."});
  m.push_back({13, Method, "CreateInstance",
               {{"sInstanceName", In, "BSTR", nullptr}, {"pVal", Retval, "IPerfInstance**", nullptr}},
               "Create a _Total Instance if required"});
  m.push_back({14, Method, "CalcTotalInstance", {}, "Calculate a _Total Instance if required"});
  return m;
}

std::vector<Member> instanceMembers() {
  auto m = commonMembers();
  addProperty(m, 5, "Name", "BSTR", "Perfomance Object Name");
  m.push_back({6, Get, "PerfCounters", {{"pVal", Retval, "IPerfCounters**", nullptr}}, "property PerfCounters"});
  const char *stampHelp = "TimeStamp - time that counter value was set";
  m.push_back({7, Put, "TimeStamp", {{"", In, "DATE", nullptr}}, stampHelp});
  m.push_back({7, Get, "TimeStamp", {{"pVal", Retval, "DATE*", nullptr}}, stampHelp});
  m.push_back({8, Method, "ResetCounters", {}, "Reset Counter Values to Zero."});
  return m;
}

std::vector<Member> managerMembers() {
  auto m = commonMembers();
  m.push_back({5, Get, "PerfObjects", {{"pVal", Retval, "IPerfObjects**", nullptr}}, "property PerfObjects"});
  m.push_back({6, Method, "Load", {{"sFilePathName", InOpt, "BSTR", ""}}, "Hydrate from file."});
  m.push_back({7, Get, "InstallLocation", {{"pVal", Retval, "BSTR*", nullptr}},
               "The directory where the dll has been installed to."});
  m.push_back({8, Method, "Register", {{"sPath", InOpt, "BSTR", ""}}, "Register Counters with Windows."});
  m.push_back({9, Get, "DeviceName", {{"pVal", Retval, "BSTR*", nullptr}}, "Device Name"});
  m.push_back({10, Method, "RemoveTimedOutInstances", {}, "Removes Time'd out Instances"});
  m.push_back({11, Get, "PerformanceSetting", {{"pVal", Retval, "RVPerformanceSetting*", nullptr}},
               "property PerformanceSetting"});
  addProperty(m, 12, "InstanceCleannupPolling", "long", "property InstanceCleannupPolling");
  m.push_back({13, Method, "SyncronizeFrom", {{"pPerfMgrIn", In, "IPerfMgr*", nullptr}},
               "Add missing counters and instances."});
  m.push_back({14, Method, "ResetCounters", {}, "Reset Counter Values to Zero."});
  m.push_back({15, Method, "CreateTotalInstances", {}, "Create a _Total Instances if required"});
  m.push_back({16, Method, "CalcTotalInstances", {}, "Calculate a _Total Instances if required"});
  return m;
}

std::vector<Member> collectionMembers(const std::string &element, bool objects) {
  const std::string out = element + "**";
  const std::string in = element + "*";
  std::vector<Member> m = {
      {1, Get, "Count", {{"pVal", Retval, "long*", nullptr}}, "The number of items in the collection"},
      {0, Get, "Item", {{"lIndex", In, "long", nullptr}, {"oObject", Retval, out, nullptr}},
       "Returns the object at the passed in index. The index is one based."},
      {2, Get, "ItemByID", {{"lID", In, "long", nullptr}, {"oObject", Retval, out, nullptr}},
       "Returns the object with the passed in id."},
      {3, Method, "Remove", {{"lIndex", In, "long", nullptr}},
       "Removes the object at the passed in index. Index is one based."},
      {4, Method, "RemoveAll", {}, "Empties the collection."},
      {5, Method, "RemoveByID", {{"lID", In, "long", nullptr}}, "Removes the object with the passed in id."},
      {6, Method, "Add", {{"oObject", 0, in, nullptr}}, "Adds an object to the collection."},
      {DISPID_NEWENUM, Get, "_NewEnum", {{"RetVal", Retval, "IUnknown**", nullptr}}, "Method NewEnum", true},
      {7, Method, "CopyFrom", {{"oFromObj", In, "IDispatch*", nullptr}}, "Clones an entire object hierarchy."},
      {8, Method, "AddNew", {{"lID", InOpt, "long", "0"}, {"oObject", Retval, out, nullptr}},
       "Creates a new member and returns it."},
      {9, Get, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"pVal", Retval, "VARIANT*", nullptr}}, blobHelp},
      {9, Put, "MyBlob", {{"tTranType", InOpt, "RVBlobTypeEnum", "0"}, {"", In, "VARIANT", nullptr}}, blobHelp},
      {10, Get, "ItemByName", {{"sName", In, "BSTR", nullptr}, {"oObject", Retval, out, nullptr}},
       "Returns the object with the passed in name."},
      {11, Method, "ResetCounters", {}, "Reset Counter Values to Zero."},
  };
  if (objects) {
    m.push_back({12, Method, "CreateTotalInstances", {}, "Create a _Total Instances if required"});
    m.push_back({13, Method, "CalcTotalInstances", {}, "Calculate a _Total Instances if required"});
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
      {"PerfCounters", &CLSID_PerfCounters, "IPerfCounters", &IID_IPerfCounters, collectionMembers("IPerfCounter", false)},
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

  OLECHAR text[64];
  StringFromGUID2(LIBID_rvZedaZuvivurAzodav_83, text, 64);
  EXPECT_EQ("{507DD558-5BC4-4529-A422-CF9A372E3052}", narrow(text));

  Bstr name, help;
  ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name.value, &help.value, nullptr, nullptr));
  EXPECT_EQ("rvZedaZuvivurAzodav_83", name.str());
  EXPECT_NE(std::string::npos, help.str().find("rvZedaZuvivurAzodav"));
  EXPECT_NE(std::string::npos, help.str().find("8.3"));

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
    const char *help;
    std::vector<std::pair<const char *, LONG>> members;
  };
  const std::vector<Enum> expected = {
      {"RVBlobTypeEnum", "Norvale Binary Transfer Type", {{"btAsBinaryArray", 0}, {"btAsString", 1}}},
      {"RVPerformanceSetting", "Norvale Performance Settings", {{"pmUnknown", -1}, {"pmDisabled", 0}, {"pmEnabled", 1}}},
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
    Bstr help;
    info->GetDocumentation(MEMBERID_NIL, nullptr, &help.value, nullptr, nullptr);
    EXPECT_EQ(e.help, help.str());
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

    Bstr name, help;
    info->GetDocumentation(MEMBERID_NIL, &name.value, &help.value, nullptr, nullptr);
    EXPECT_EQ(c.name, name.str());
    EXPECT_EQ(std::string(c.name) + " Class", help.str());

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
    const UINT inherited = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(1u, inherited);

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

      Bstr help;
      info->GetDocumentation(m.id, nullptr, &help.value, nullptr, nullptr);
      EXPECT_EQ(m.help, help.str());

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
