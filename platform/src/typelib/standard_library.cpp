// IUnknown and IDispatch, as the standard OLE type library describes them.
// Libraries refer to these two for every dual interface; the platform holds
// their descriptions itself instead of reading a system file. Structure
// arguments (the interface identifier, the dispatch parameters, the
// exception information) are described as untyped pointers.
#include "model.h"

namespace platform::typelib {
namespace {

constexpr GUID UnknownId = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID DispatchId = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

Type base(VARTYPE vt) {
  Type t;
  t.vt = vt;
  return t;
}

Type pointerTo(Type inner) {
  Type t;
  t.vt = VT_PTR;
  t.inner = std::make_shared<Type>(std::move(inner));
  return t;
}

Param param(const char16_t *name, USHORT flags, Type type) {
  Param p;
  p.name = name;
  p.flags = flags;
  p.type = std::move(type);
  return p;
}

Func method(MEMBERID memid, const char16_t *name, SHORT slot, VARTYPE result, std::vector<Param> params) {
  Func f;
  f.memid = memid;
  f.name = name;
  f.kind = FUNC_PUREVIRTUAL;
  f.invkind = INVOKE_FUNC;
  f.callconv = CC_STDCALL;
  f.oVft = SHORT(slot * sizeof(void *));
  f.flags = FUNCFLAG_FRESTRICTED;
  f.result = base(result);
  f.params = std::move(params);
  return f;
}

TypeData interfaceType(const GUID &guid, const char16_t *name, WORD flags, WORD slots) {
  TypeData t;
  t.kind = TKIND_INTERFACE;
  t.guid = guid;
  t.name = name;
  t.flags = flags;
  t.size = sizeof(void *);
  t.alignment = sizeof(void *);
  t.cbSizeVft = WORD(slots * sizeof(void *));
  return t;
}

std::shared_ptr<const LibraryData> build() {
  auto lib = std::make_shared<LibraryData>();
  lib->guid = StandardLibraryId;
  lib->lcid = 0;
  lib->syskind = SYS_WIN64;
  lib->major = 2;
  lib->minor = 0;
  lib->name = u"stdole";
  lib->doc = u"OLE Automation";
  lib->dispatchRef = localRef(1);

  const USHORT in = PARAMFLAG_FIN, out = PARAMFLAG_FOUT;
  const Type untyped = pointerTo(base(VT_VOID));

  TypeData unknown = interfaceType(UnknownId, u"IUnknown", TYPEFLAG_FHIDDEN, 3);
  unknown.funcs.push_back(method(0x60000000, u"QueryInterface", 0, VT_HRESULT,
                                 {param(u"riid", in, untyped), param(u"ppvObj", out, pointerTo(untyped))}));
  unknown.funcs.push_back(method(0x60000001, u"AddRef", 1, VT_UI4, {}));
  unknown.funcs.push_back(method(0x60000002, u"Release", 2, VT_UI4, {}));

  TypeData dispatch = interfaceType(DispatchId, u"IDispatch", TYPEFLAG_FRESTRICTED, 7);
  dispatch.impls.push_back({localRef(0), 0});
  dispatch.funcs.push_back(
      method(0x60010000, u"GetTypeInfoCount", 3, VT_HRESULT, {param(u"pctinfo", out, pointerTo(base(VT_UINT)))}));
  dispatch.funcs.push_back(method(0x60010001, u"GetTypeInfo", 4, VT_HRESULT,
                                  {param(u"itinfo", in, base(VT_UINT)), param(u"lcid", in, base(VT_UI4)),
                                   param(u"pptinfo", out, pointerTo(untyped))}));
  dispatch.funcs.push_back(method(
      0x60010002, u"GetIDsOfNames", 5, VT_HRESULT,
      {param(u"riid", in, untyped), param(u"rgszNames", in, pointerTo(untyped)), param(u"cNames", in, base(VT_UINT)),
       param(u"lcid", in, base(VT_UI4)), param(u"rgdispid", out, pointerTo(base(VT_I4)))}));
  dispatch.funcs.push_back(
      method(0x60010003, u"Invoke", 6, VT_HRESULT,
             {param(u"dispidMember", in, base(VT_I4)), param(u"riid", in, untyped), param(u"lcid", in, base(VT_UI4)),
              param(u"wFlags", in, base(VT_UI2)), param(u"pdispparams", in, untyped),
              param(u"pvarResult", out, pointerTo(base(VT_VARIANT))), param(u"pexcepinfo", out, untyped),
              param(u"puArgErr", out, pointerTo(base(VT_UINT)))}));

  lib->types.push_back(std::move(unknown));
  lib->types.push_back(std::move(dispatch));
  return lib;
}

}  // namespace

std::shared_ptr<const LibraryData> standardLibrary() {
  static const std::shared_ptr<const LibraryData> library = build();
  return library;
}

// In the shipped library IUnknown and IDispatch follow GUID, DISPPARAMS and
// EXCEPINFO.
bool standardIndex(UINT shippedIndex, UINT *index) {
  if (shippedIndex != 3 && shippedIndex != 4) return false;
  *index = shippedIndex - 3;
  return true;
}

}  // namespace platform::typelib
