// ITypeLib and ITypeInfo over a library's data. Descriptions handed out
// (TYPEATTR, FUNCDESC, VARDESC, TLIBATTR) are each one allocation of their
// own, so that they stay valid however long the caller keeps them, and the
// Release* functions free them.
#include "type_info.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace platform::typelib {
namespace {

constexpr int MaxInheritance = 32;

size_t rounded(size_t size) { return (size + 7) & ~size_t(7); }

BSTR textOrNull(const Text &text) {
  if (text.empty()) return nullptr;
  return SysAllocStringLen(text.data(), UINT(text.size()));
}

// One allocation for a description and everything it points to.
class Block {
 public:
  explicit Block(size_t size) : base_(static_cast<BYTE *>(std::calloc(1, size == 0 ? 1 : size))) {}
  bool ok() const { return base_ != nullptr; }
  template <typename T> T *take(size_t count = 1) {
    T *p = reinterpret_cast<T *>(base_ + used_);
    used_ += rounded(sizeof(T) * count);
    return p;
  }
  BYTE *take(size_t bytes) {
    BYTE *p = base_ + used_;
    used_ += rounded(bytes);
    return p;
  }

 private:
  BYTE *base_;
  size_t used_ = 0;
};

size_t arrayDescSize(const Type &t) {
  size_t dims = t.bounds.empty() ? 1 : t.bounds.size();
  return sizeof(ARRAYDESC) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// The bytes that a type needs outside its own TYPEDESC.
size_t typeExtra(const Type &t) {
  if ((t.vt == VT_PTR || t.vt == VT_SAFEARRAY) && t.inner) return rounded(sizeof(TYPEDESC)) + typeExtra(*t.inner);
  if (t.vt == VT_CARRAY && t.inner) return rounded(arrayDescSize(t)) + typeExtra(*t.inner);
  return 0;
}

void fillType(TYPEDESC &out, const Type &t, Block &block) {
  out.vt = t.vt;
  if ((t.vt == VT_PTR || t.vt == VT_SAFEARRAY) && t.inner) {
    out.lptdesc = block.take<TYPEDESC>();
    fillType(*out.lptdesc, *t.inner, block);
  } else if (t.vt == VT_CARRAY && t.inner) {
    out.lpadesc = reinterpret_cast<ARRAYDESC *>(block.take(arrayDescSize(t)));
    out.lpadesc->cDims = USHORT(t.bounds.size());
    for (size_t d = 0; d < t.bounds.size(); ++d) out.lpadesc->rgbounds[d] = t.bounds[d];
    fillType(out.lpadesc->tdescElem, *t.inner, block);
  } else if (t.vt == VT_USERDEFINED) {
    out.hreftype = t.href;
  }
}

// The dispatch form of a function-table member: the HRESULT becomes the
// return of the retval parameter (or nothing), and that parameter goes.
void dispatchForm(const Func &f, Type &result, size_t &params) {
  result = f.result;
  params = f.params.size();
  if (f.result.vt != VT_HRESULT) return;
  const Param *last = params ? &f.params.back() : nullptr;
  if (last && (last->flags & PARAMFLAG_FRETVAL) && last->type.vt == VT_PTR && last->type.inner) {
    result = *last->type.inner;
    --params;
  } else {
    result = Type();
    result.vt = VT_VOID;
  }
}

FUNCDESC *buildFuncDesc(const TypeInfo::Member &m) {
  const Func &f = *m.func;
  const bool asDispatch = m.asDispatch && f.kind != FUNC_DISPATCH;
  Type result = f.result;
  size_t count = f.params.size();
  if (asDispatch) dispatchForm(f, result, count);

  size_t size = rounded(sizeof(FUNCDESC)) + rounded(count * sizeof(ELEMDESC)) + typeExtra(result);
  for (size_t i = 0; i < count; ++i) {
    size += typeExtra(f.params[i].type);
    if (f.params[i].hasDefault) size += rounded(sizeof(PARAMDESCEX));
  }
  Block block(size);
  if (!block.ok()) return nullptr;
  FUNCDESC *desc = block.take<FUNCDESC>();
  ELEMDESC *params = count ? block.take<ELEMDESC>(count) : nullptr;
  desc->memid = f.memid;
  desc->lprgscode = nullptr;
  desc->lprgelemdescParam = params;
  desc->funckind = asDispatch ? FUNC_DISPATCH : f.kind;
  desc->invkind = f.invkind;
  desc->callconv = f.callconv;
  desc->cParams = SHORT(count);
  desc->cParamsOpt = f.cParamsOpt;
  desc->oVft = f.oVft;
  desc->cScodes = 0;
  desc->wFuncFlags = f.flags;
  fillType(desc->elemdescFunc.tdesc, result, block);
  for (size_t i = 0; i < count; ++i) {
    const Param &p = f.params[i];
    fillType(params[i].tdesc, p.type, block);
    params[i].paramdesc.wParamFlags = p.flags;
    if (p.hasDefault) {
      PARAMDESCEX *ex = block.take<PARAMDESCEX>();
      ex->cBytes = sizeof(PARAMDESCEX);
      VariantInit(&ex->varDefaultValue);
      VariantCopy(&ex->varDefaultValue, p.defaultValue.get());
      params[i].paramdesc.pparamdescex = ex;
    }
  }
  return desc;
}

VARDESC *buildVarDesc(const Var &v) {
  size_t size = rounded(sizeof(VARDESC)) + typeExtra(v.type);
  if (v.kind == VAR_CONST) size += rounded(sizeof(VARIANT));
  Block block(size);
  if (!block.ok()) return nullptr;
  VARDESC *desc = block.take<VARDESC>();
  desc->memid = v.memid;
  desc->lpstrSchema = nullptr;
  desc->wVarFlags = v.flags;
  desc->varkind = v.kind;
  if (v.kind == VAR_CONST) {
    desc->lpvarValue = block.take<VARIANT>();
    VariantInit(desc->lpvarValue);
    VariantCopy(desc->lpvarValue, v.value.get());
  } else {
    desc->oInst = v.oInst;
  }
  fillType(desc->elemdescVar.tdesc, v.type, block);
  return desc;
}

bool sameGuid(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// TypeLibrary

TypeLibrary::TypeLibrary(std::shared_ptr<const LibraryData> data) : data_(std::move(data)) {
  for (UINT i = 0; i < data_->types.size(); ++i) byGuid_.emplace(data_->types[i].guid, i);
}

TypeLibrary *TypeLibrary::create(std::shared_ptr<const LibraryData> data) {
  return new (std::nothrow) TypeLibrary(std::move(data));
}

TypeLibrary *TypeLibrary::standard() {
  static TypeLibrary *const library = new TypeLibrary(standardLibrary());  // lives as long as the process
  return library;
}

HRESULT TypeLibrary::typeInfo(UINT index, bool interfaceHalf, ITypeInfo **out) {
  if (index >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  return TypeInfo::create(this, index, interfaceHalf, out);
}

HRESULT TypeLibrary::resolve(HREFTYPE href, ITypeInfo **out) {
  *out = nullptr;
  Ref<TypeLibrary> lib;
  UINT index = 0;
  HRESULT hr = locate(href, lib, index);
  if (FAILED(hr)) return hr;
  return lib->typeInfo(index, false, out);
}

HRESULT TypeLibrary::locate(HREFTYPE href, Ref<TypeLibrary> &lib, UINT &index) {
  if (href == StandardDispatchRef) {
    lib = Ref<TypeLibrary>(standard());
    index = 1;
    return S_OK;
  }
  if (href & 1) {
    auto it = data_->imports.find(href & ~HREFTYPE(3));
    if (it == data_->imports.end()) return TYPE_E_ELEMENTNOTFOUND;
    return locateImport(it->second, lib, index);
  }
  if (href % TypeRecordSize != 0 || href / TypeRecordSize >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  lib = Ref<TypeLibrary>(this);
  index = UINT(href / TypeRecordSize);
  return S_OK;
}

// A type of another library: the standard one is the platform's own; any
// other is loaded from the registry.
HRESULT TypeLibrary::locateImport(const Import &import, Ref<TypeLibrary> &lib, UINT &index) {
  if (sameGuid(import.library, StandardLibraryId)) {
    lib = Ref<TypeLibrary>(standard());
  } else {
    Ref<ITypeLib> other;
    HRESULT hr = LoadRegTypeLib(import.library, import.major, import.minor, import.lcid, other.put());
    if (FAILED(hr)) return hr;
    auto *ours = dynamic_cast<TypeLibrary *>(other.get());
    if (ours == nullptr) return TYPE_E_CANTLOADLIBRARY;
    lib = Ref<TypeLibrary>(ours);
  }
  if (import.byGuid) {
    auto it = lib->byGuid_.find(import.type);
    if (it == lib->byGuid_.end()) return TYPE_E_ELEMENTNOTFOUND;
    index = it->second;
    return S_OK;
  }
  if (lib.get() == standard()) return standardIndex(import.index, &index) ? S_OK : TYPE_E_ELEMENTNOTFOUND;
  if (import.index >= lib->data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  index = import.index;
  return S_OK;
}

HRESULT TypeLibrary::QueryInterface(REFIID riid, void **ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITypeLib)) {
    *ppv = static_cast<ITypeLib *>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLibrary::AddRef() { return ++refs_; }

ULONG TypeLibrary::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

UINT TypeLibrary::GetTypeInfoCount() { return UINT(data_->types.size()); }

HRESULT TypeLibrary::GetTypeInfo(UINT index, ITypeInfo **ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  return typeInfo(index, false, ppTInfo);
}

HRESULT TypeLibrary::GetTypeInfoType(UINT index, TYPEKIND *pTKind) {
  if (pTKind == nullptr) return E_INVALIDARG;
  if (index >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = data_->types[index].kind;
  return S_OK;
}

HRESULT TypeLibrary::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) {
  if (ppTinfo == nullptr) return E_INVALIDARG;
  *ppTinfo = nullptr;
  auto it = byGuid_.find(guid);
  if (it == byGuid_.end()) return TYPE_E_ELEMENTNOTFOUND;
  return typeInfo(it->second, false, ppTinfo);
}

HRESULT TypeLibrary::GetLibAttr(TLIBATTR **ppTLibAttr) {
  if (ppTLibAttr == nullptr) return E_INVALIDARG;
  auto *attr = static_cast<TLIBATTR *>(std::calloc(1, sizeof(TLIBATTR)));
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = data_->guid;
  attr->lcid = data_->lcid;
  attr->syskind = data_->syskind;
  attr->wMajorVerNum = data_->major;
  attr->wMinorVerNum = data_->minor;
  attr->wLibFlags = WORD(data_->flags | LIBFLAG_FHASDISKIMAGE);
  *ppTLibAttr = attr;
  return S_OK;
}

HRESULT TypeLibrary::GetTypeComp(ITypeComp **ppTComp) {
  if (ppTComp) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLibrary::GetDocumentation(INT index, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                      BSTR *pBstrHelpFile) {
  const Text *name = &data_->name, *doc = &data_->doc;
  DWORD context = data_->helpContext;
  if (index != -1) {
    if (index < 0 || size_t(index) >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeData &t = data_->types[size_t(index)];
    name = &t.name;
    doc = &t.doc;
    context = t.helpContext;
  }
  if (pBstrName) *pBstrName = textOrNull(*name);
  if (pBstrDocString) *pBstrDocString = textOrNull(*doc);
  if (pdwHelpContext) *pdwHelpContext = context;
  if (pBstrHelpFile) *pBstrHelpFile = textOrNull(data_->helpFile);
  return S_OK;
}

// A name of the library: a type, a member or a parameter. The caller's
// buffer receives the spelling the library uses.
HRESULT TypeLibrary::IsName(LPOLESTR szNameBuf, ULONG, BOOL *pfName) {
  if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
  *pfName = FALSE;
  auto match = [&](const Text &name) {
    if (!sameName(szNameBuf, name)) return false;
    std::copy(name.begin(), name.end(), szNameBuf);
    *pfName = TRUE;
    return true;
  };
  for (const TypeData &t : data_->types) {
    if (match(t.name)) return S_OK;
    for (const Func &f : t.funcs) {
      if (match(f.name)) return S_OK;
      for (const Param &p : f.params)
        if (match(p.name)) return S_OK;
    }
    for (const Var &v : t.vars)
      if (match(v.name)) return S_OK;
  }
  return S_OK;
}

// The types that hold a member of that name (MEMBERID_NIL for a type of that
// name), up to *pcFound of them.
HRESULT TypeLibrary::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo **ppTInfo, MEMBERID *rgMemId, USHORT *pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr) return E_INVALIDARG;
  const USHORT wanted = *pcFound;
  USHORT found = 0;
  for (UINT i = 0; i < data_->types.size() && found < wanted; ++i) {
    const TypeData &t = data_->types[i];
    const Text *spelling = nullptr;
    MEMBERID memid = MEMBERID_NIL;
    if (sameName(szNameBuf, t.name)) spelling = &t.name;
    for (size_t f = 0; spelling == nullptr && f < t.funcs.size(); ++f)
      if (sameName(szNameBuf, t.funcs[f].name)) spelling = &t.funcs[f].name, memid = t.funcs[f].memid;
    for (size_t v = 0; spelling == nullptr && v < t.vars.size(); ++v)
      if (sameName(szNameBuf, t.vars[v].name)) spelling = &t.vars[v].name, memid = t.vars[v].memid;
    if (spelling == nullptr) continue;
    if (FAILED(typeInfo(i, false, &ppTInfo[found]))) continue;
    std::copy(spelling->begin(), spelling->end(), szNameBuf);
    rgMemId[found++] = memid;
  }
  *pcFound = found;
  return S_OK;
}

void TypeLibrary::ReleaseTLibAttr(TLIBATTR *pTLibAttr) { std::free(pTLibAttr); }

// ---------------------------------------------------------------------------
// TypeInfo

TypeInfo::TypeInfo(TypeLibrary *lib, UINT index, bool interfaceHalf)
    : lib_(lib), index_(index), type_(&lib->data().types[index]), interfaceHalf_(interfaceHalf && type_->dual()) {}

HRESULT TypeInfo::create(TypeLibrary *lib, UINT index, bool interfaceHalf, ITypeInfo **out) {
  *out = nullptr;
  Ref<TypeInfo> info(new (std::nothrow) TypeInfo(lib, index, interfaceHalf), false);
  if (info.get() == nullptr) return E_OUTOFMEMORY;
  const TypeData &t = *info->type_;
  std::vector<Member> own;
  for (const Func &f : t.funcs) own.push_back({&f, lib, info->dispatchView()});
  std::vector<Member> inherited;
  if (t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH) {
    // A damaged base chain leaves the type with its own members only.
    info->collectInherited(inherited);
  }
  if (info->dispatchView()) {
    for (Member &m : inherited) m.asDispatch = true;
    info->funcs_ = inherited;
    info->funcs_.insert(info->funcs_.end(), own.begin(), own.end());
  } else {
    info->funcs_ = own;
  }
  info->lookup_ = own;
  info->lookup_.insert(info->lookup_.end(), inherited.begin(), inherited.end());
  info->signatures_.reset(new (std::nothrow) std::atomic<const Signature *>[info->lookup_.size()]());
  if (info->signatures_ == nullptr) return E_OUTOFMEMORY;
  *out = info.detach();
  return S_OK;
}

bool TypeInfo::dispatchView() const { return type_->dual() && !interfaceHalf_; }

TYPEKIND TypeInfo::viewKind() const {
  if (!type_->dual()) return type_->kind;
  return interfaceHalf_ ? TKIND_INTERFACE : TKIND_DISPATCH;
}

// The functions of the base interfaces, the root's first, as the function
// table lays them out before this interface's own.
HRESULT TypeInfo::collectInherited(std::vector<Member> &into) {
  if (type_->impls.empty()) return S_OK;
  std::vector<std::vector<Member>> levels;
  Ref<TypeLibrary> owner(lib_.get());
  HREFTYPE href = type_->impls[0].href;
  for (int depth = 0;; ++depth) {
    if (depth >= MaxInheritance) return TYPE_E_CIRCULARTYPE;
    Ref<TypeLibrary> baseLib;
    UINT index = 0;
    HRESULT hr = owner->locate(href, baseLib, index);
    if (FAILED(hr)) return hr;
    const TypeData &base = baseLib->data().types[index];
    std::vector<Member> level;
    for (const Func &f : base.funcs) level.push_back({&f, baseLib.get(), false});
    levels.push_back(std::move(level));
    bases_.push_back(baseLib);
    if (base.impls.empty()) break;
    href = base.impls[0].href;
    owner = baseLib;
  }
  for (auto level = levels.rbegin(); level != levels.rend(); ++level)
    into.insert(into.end(), level->begin(), level->end());
  return S_OK;
}

const TypeInfo::Member *TypeInfo::memberById(MEMBERID memid) const {
  for (const Member &m : lookup_)
    if (m.func->memid == memid) return &m;
  return nullptr;
}

const Var *TypeInfo::varById(MEMBERID memid) const {
  for (const Var &v : type_->vars)
    if (v.memid == memid) return &v;
  return nullptr;
}

TypeInfo::~TypeInfo() {
  if (signatures_ == nullptr) return;
  for (size_t i = 0; i < lookup_.size(); ++i) delete signatures_[i].load(std::memory_order_acquire);
}

const Signature *TypeInfo::signature(const Member *member, Signature (*make)(const Member &)) const {
  std::atomic<const Signature *> &slot = signatures_[size_t(member - lookup_.data())];
  const Signature *known = slot.load(std::memory_order_acquire);
  if (known != nullptr) return known;
  const Signature *made = nullptr;
  try {
    made = new Signature(make(*member));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  // Two callers may make it at once; the first one kept serves both.
  if (!slot.compare_exchange_strong(known, made, std::memory_order_acq_rel)) {
    delete made;
    return known;
  }
  return made;
}

const TypeInfo::Member *TypeInfo::findFunc(MEMBERID memid, WORD flags) const {
  for (const Member &m : lookup_)
    if (m.func->memid == memid && (m.func->invkind & flags)) return &m;
  return nullptr;
}

HRESULT TypeInfo::QueryInterface(REFIID riid, void **ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITypeInfo)) {
    *ppv = static_cast<ITypeInfo *>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfo::AddRef() { return ++refs_; }

ULONG TypeInfo::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR **ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  const TypeData &t = *type_;
  Block block(rounded(sizeof(TYPEATTR)) + typeExtra(t.alias));
  if (!block.ok()) return E_OUTOFMEMORY;
  TYPEATTR *attr = block.take<TYPEATTR>();
  attr->guid = t.guid;
  attr->lcid = lib_->data().lcid;
  attr->memidConstructor = MEMBERID_NIL;
  attr->memidDestructor = MEMBERID_NIL;
  attr->cbSizeInstance = t.size;
  attr->typekind = viewKind();
  attr->cFuncs = WORD(funcs_.size());
  attr->cVars = WORD(t.vars.size());
  attr->cImplTypes = WORD(t.impls.size());
  attr->cbSizeVft = t.cbSizeVft;
  attr->cbAlignment = t.alignment;
  attr->wTypeFlags = t.flags;
  attr->wMajorVerNum = t.major;
  attr->wMinorVerNum = t.minor;
  if (viewKind() == TKIND_DISPATCH) {
    // Automation sees IDispatch's seven slots; of a dual interface, the
    // interface half is the one that is automation-compatible.
    attr->cImplTypes = 1;
    attr->cbSizeVft = WORD(7 * sizeof(void *));
    if (t.dual()) attr->wTypeFlags = WORD(t.flags & ~TYPEFLAG_FOLEAUTOMATION);
  }
  if (t.kind == TKIND_ALIAS) fillType(attr->tdescAlias, t.alias, block);
  *ppTypeAttr = attr;
  return S_OK;
}

HRESULT TypeInfo::GetTypeComp(ITypeComp **ppTComp) {
  if (ppTComp) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppFuncDesc = buildFuncDesc(funcs_[index]);
  return *ppFuncDesc ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC **ppVarDesc) {
  if (ppVarDesc == nullptr) return E_INVALIDARG;
  *ppVarDesc = nullptr;
  if (index >= type_->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppVarDesc = buildVarDesc(type_->vars[index]);
  return *ppVarDesc ? S_OK : E_OUTOFMEMORY;
}

// The member's name, then the names of its parameters up to the first one
// without a name; the dispatch view leaves out the retval parameter.
HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames) {
  if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  std::vector<const Text *> names;
  if (const Member *m = memberById(memid)) {
    names.push_back(&m->func->name);
    size_t count = m->func->params.size();
    if (m->asDispatch && m->func->kind != FUNC_DISPATCH) {
      Type result;
      dispatchForm(*m->func, result, count);
    }
    for (size_t i = 0; i < count && !m->func->params[i].name.empty(); ++i) names.push_back(&m->func->params[i].name);
  } else if (const Var *v = varById(memid)) {
    names.push_back(&v->name);
  } else {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  UINT n = 0;
  for (; n < names.size() && n < cMaxNames; ++n) rgBstrNames[n] = textOrNull(*names[n]);
  *pcNames = n;
  return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  if (index == UINT(-1)) {
    if (!type_->dual()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = DualHalfRef;
    return S_OK;
  }
  if (viewKind() == TKIND_DISPATCH && index == 0) {
    *pRefType = lib_->data().dispatchRef;
    return S_OK;
  }
  if (index >= type_->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = type_->impls[index].href;
  return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT *pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  if (viewKind() == TKIND_DISPATCH && index == 0) {
    *pImplTypeFlags = 0;
    return S_OK;
  }
  if (index >= type_->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = type_->impls[index].flags;
  return S_OK;
}

// Names compare without regard to case. The first name is a member, the
// others its parameters, numbered by their position in the function table.
HRESULT TypeInfo::GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
  if (rgszNames[0] == nullptr) return DISP_E_UNKNOWNNAME;
  for (const Member &m : lookup_) {
    if (!sameName(rgszNames[0], m.func->name)) continue;
    pMemId[0] = m.func->memid;
    HRESULT hr = S_OK;
    for (UINT n = 1; n < cNames; ++n) {
      const std::vector<Param> &params = m.func->params;
      for (size_t p = 0; rgszNames[n] && p < params.size() && pMemId[n] == DISPID_UNKNOWN; ++p)
        if (sameName(rgszNames[n], params[p].name)) pMemId[n] = DISPID(p);
      if (pMemId[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  for (const Var &v : type_->vars) {
    if (!sameName(rgszNames[0], v.name)) continue;
    pMemId[0] = v.memid;
    return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams, VARIANT *pVarResult,
                         EXCEPINFO *pExcepInfo, UINT *puArgErr) {
  return invokeMember(*this, pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                   BSTR *pBstrHelpFile) {
  const Text *name = nullptr, *doc = nullptr;
  DWORD context = 0;
  const LibraryData *owner = &lib_->data();
  if (memid == MEMBERID_NIL) {
    name = &type_->name;
    doc = &type_->doc;
    context = type_->helpContext;
  } else if (const Member *m = memberById(memid)) {
    name = &m->func->name;
    doc = &m->func->doc;
    context = m->func->helpContext;
    owner = &m->owner->data();
  } else if (const Var *v = varById(memid)) {
    name = &v->name;
    doc = &v->doc;
    context = v->helpContext;
  } else {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  if (pBstrName) *pBstrName = textOrNull(*name);
  if (pBstrDocString) *pBstrDocString = textOrNull(*doc);
  if (pdwHelpContext) *pdwHelpContext = context;
  if (pBstrHelpFile) *pBstrHelpFile = textOrNull(owner->helpFile);
  return S_OK;
}

// Only module types name DLL entries, and libraries of this platform hold none.
HRESULT TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR *pBstrDllName, BSTR *pBstrName, WORD *pwOrdinal) {
  if (pBstrDllName) *pBstrDllName = nullptr;
  if (pBstrName) *pBstrName = nullptr;
  if (pwOrdinal) *pwOrdinal = 0;
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (hRefType == DualHalfRef) {
    if (!type_->dual()) return TYPE_E_ELEMENTNOTFOUND;
    return TypeInfo::create(lib_.get(), index_, !interfaceHalf_, ppTInfo);
  }
  return lib_->resolve(hRefType, ppTInfo);
}

HRESULT TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, PVOID *ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::CreateInstance(IUnknown *, REFIID, PVOID *ppvObj) {
  if (ppvObj) *ppvObj = nullptr;
  if (type_->kind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetMops(MEMBERID, BSTR *pBstrMops) {
  if (pBstrMops == nullptr) return E_INVALIDARG;
  *pBstrMops = nullptr;
  return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) {
  if (ppTLib) {
    *ppTLib = lib_.get();
    lib_->AddRef();
  }
  if (pIndex) *pIndex = index_;
  return S_OK;
}

void TypeInfo::ReleaseTypeAttr(TYPEATTR *pTypeAttr) { std::free(pTypeAttr); }

void TypeInfo::ReleaseFuncDesc(FUNCDESC *pFuncDesc) {
  if (pFuncDesc == nullptr) return;
  for (SHORT i = 0; i < pFuncDesc->cParams; ++i) {
    PARAMDESCEX *ex = pFuncDesc->lprgelemdescParam[i].paramdesc.pparamdescex;
    if (ex) VariantClear(&ex->varDefaultValue);
  }
  std::free(pFuncDesc);
}

void TypeInfo::ReleaseVarDesc(VARDESC *pVarDesc) {
  if (pVarDesc == nullptr) return;
  if (pVarDesc->varkind == VAR_CONST && pVarDesc->lpvarValue) VariantClear(pVarDesc->lpvarValue);
  std::free(pVarDesc);
}

}  // namespace platform::typelib
