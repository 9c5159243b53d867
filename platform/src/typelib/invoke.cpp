// Late binding through a type description: the member is found by its id and
// invoke kind, the arguments are bound to its parameters (positional ones
// from the end of rgvarg, named ones by parameter position, the new value of
// a property put by DISPID_PROPERTYPUT), missing optional ones take their
// default, each is coerced to its parameter's type, and the member is called
// through the object's function table. A failing member becomes
// DISP_E_EXCEPTION with its error information.
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <vector>

#include "small_buffer.h"
#include "type_info.h"

namespace platform::typelib {
namespace {

constexpr int MaxTypeDepth = 16;
constexpr GUID DispatchInterfaceId = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

HRESULT argumentType(TypeLibrary *owner, const Type &t, VARTYPE &vt, int depth = 0);

// The VARIANT type for a user-defined type: enumerations travel as VT_I4,
// aliases as what they name, interfaces as VT_DISPATCH when automation can
// call them and as VT_UNKNOWN otherwise.
HRESULT userDefinedType(TypeLibrary *owner, HREFTYPE href, VARTYPE &vt, int depth) {
  Ref<ITypeInfo> target;
  HRESULT hr = owner->resolve(href, target.put());
  if (FAILED(hr)) return hr;
  auto *info = dynamic_cast<TypeInfo *>(target.get());
  if (info == nullptr) return DISP_E_BADVARTYPE;
  const TypeData &t = info->type();
  switch (t.kind) {
    case TKIND_ENUM: vt = VT_I4; return S_OK;
    case TKIND_ALIAS: return argumentType(info->library(), t.alias, vt, depth + 1);
    case TKIND_DISPATCH: vt = VT_DISPATCH; return S_OK;
    case TKIND_INTERFACE:
      vt = (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) || IsEqualGUID(t.guid, DispatchInterfaceId)
               ? VT_DISPATCH
               : VT_UNKNOWN;
      return S_OK;
    case TKIND_COCLASS: vt = VT_UNKNOWN; return S_OK;
    default: return DISP_E_BADVARTYPE;
  }
}

bool isInterface(VARTYPE vt) { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }

// The type in which an argument of this parameter type travels: a pointer to
// an interface is the interface itself, any other pointer a reference.
HRESULT argumentType(TypeLibrary *owner, const Type &t, VARTYPE &vt, int depth) {
  if (depth > MaxTypeDepth) return DISP_E_BADVARTYPE;
  switch (t.vt) {
    case VT_PTR: {
      if (!t.inner) return DISP_E_BADVARTYPE;
      const Type &inner = *t.inner;
      if (inner.vt == VT_VOID) return DISP_E_BADVARTYPE;
      VARTYPE target;
      if (inner.vt == VT_USERDEFINED) {
        HRESULT hr = userDefinedType(owner, inner.href, target, depth);
        if (FAILED(hr)) return hr;
        vt = isInterface(target) ? target : VARTYPE(VT_BYREF | target);
        return S_OK;
      }
      HRESULT hr = argumentType(owner, inner, target, depth + 1);
      if (FAILED(hr)) return hr;
      if (target & VT_BYREF) return DISP_E_BADVARTYPE;
      vt = VT_BYREF | target;
      return S_OK;
    }
    case VT_USERDEFINED: return userDefinedType(owner, t.href, vt, depth);
    case VT_SAFEARRAY: {
      if (!t.inner) return DISP_E_BADVARTYPE;
      VARTYPE element;
      HRESULT hr = argumentType(owner, *t.inner, element, depth + 1);
      if (FAILED(hr)) return hr;
      if (element & (VT_BYREF | VT_ARRAY)) return DISP_E_BADVARTYPE;
      vt = VT_ARRAY | element;
      return S_OK;
    }
    case VT_HRESULT: vt = VT_ERROR; return S_OK;
    case VT_VOID: vt = VT_EMPTY; return S_OK;
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_CARRAY:
    case VT_RECORD:
    case VT_EMPTY:
    case VT_NULL: return DISP_E_BADVARTYPE;
    default: vt = t.vt; return S_OK;
  }
}

bool isMissing(const VARIANT *v) { return V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND; }

// The types of a member's parameters and result, as invokeMember asks for
// them one at a time.
Signature resolveSignature(const TypeInfo::Member &member) {
  const Func &f = *member.func;
  Signature made;
  made.params.resize(f.params.size(), VT_EMPTY);
  made.refused.resize(f.params.size(), S_OK);
  for (size_t i = 0; i < f.params.size(); ++i)
    made.refused[i] = argumentType(member.owner, f.params[i].type, made.params[i]);
  if (f.result.vt != VT_HRESULT) made.resultRefused = argumentType(member.owner, f.result, made.result);
  return made;
}

VARIANT emptyVariant() {
  VARIANT v;
  VariantInit(&v);
  return v;
}

// The variants of one call: what the function table receives, and the values
// that they point to.
class Arguments {
 public:
  explicit Arguments(size_t count)
      : passed_(count, emptyVariant()),
        held_(count, emptyVariant()),
        owned_(count, 0),
        pointers_(count, nullptr),
        types_(count, VT_EMPTY) {}
  ~Arguments() {
    for (size_t i = 0; i < passed_.size(); ++i) {
      if (owned_[i]) VariantClear(&passed_[i]);
      VariantClear(&held_[i]);
    }
  }
  VARIANT &passed(size_t i) { return passed_[i]; }
  VARIANT &held(size_t i) { return held_[i]; }
  void own(size_t i) { owned_[i] = 1; }
  void set(size_t i, VARTYPE vt, VARIANT *value) {
    types_[i] = vt;
    pointers_[i] = value;
  }
  VARTYPE *types() { return types_.data(); }
  VARIANTARG **pointers() { return pointers_.data(); }

 private:
  SmallBuffer<VARIANT> passed_;
  SmallBuffer<VARIANT> held_;
  SmallBuffer<unsigned char> owned_;
  SmallBuffer<VARIANTARG *> pointers_;
  SmallBuffer<VARTYPE> types_;
};

// Binds one argument `source` (or the parameter's stand-in when it is
// missing) to parameter i of type `vt`. Too few arguments for a required
// parameter are a wrong count; an argument marked as omitted is refused.
HRESULT bind(Arguments &args, size_t i, VARTYPE vt, const Param &param, VARIANT *source) {
  const bool optional = (param.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
  if (!optional && source == nullptr) return DISP_E_BADPARAMCOUNT;
  if (!optional && isMissing(source)) return DISP_E_PARAMNOTOPTIONAL;
  if (source == nullptr || isMissing(source)) {
    VARIANT &stand = args.held(i);
    if (param.hasDefault) {
      HRESULT hr = VariantCopy(&stand, param.defaultValue.get());
      if (FAILED(hr)) return hr;
    } else if ((param.flags & PARAMFLAG_FOPT) && (vt & ~VT_BYREF) == VT_VARIANT) {
      V_VT(&stand) = VT_ERROR;
      V_ERROR(&stand) = DISP_E_PARAMNOTFOUND;
    } else {
      return DISP_E_PARAMNOTOPTIONAL;
    }
    source = &stand;
  }

  VARIANT &passed = args.passed(i);
  if (vt == VT_VARIANT) {
    VARIANT *value = V_VT(source) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(source) : source;
    args.set(i, VT_VARIANT, value);
    return S_OK;
  }
  if (vt & VT_BYREF) {
    const VARTYPE target = vt & ~VT_BYREF;
    V_VT(&passed) = vt;
    if (V_VT(source) == vt) {
      V_BYREF(&passed) = V_BYREF(source);
    } else if (target == VT_VARIANT) {
      V_BYREF(&passed) = source;
    } else {
      // Not a reference of the parameter's type: the member gets the
      // address of a coerced copy, which the caller never sees again.
      VARIANT converted;
      VariantInit(&converted);
      HRESULT hr = VariantChangeType(&converted, source, 0, target);
      if (FAILED(hr)) return hr;
      VariantClear(&args.held(i));
      args.held(i) = converted;
      V_BYREF(&passed) = &V_UNION(&args.held(i), llVal);
    }
    args.set(i, vt, &passed);
    return S_OK;
  }
  HRESULT hr = VariantChangeType(&passed, source, 0, vt);
  if (FAILED(hr)) return hr;
  args.own(i);
  args.set(i, vt, &passed);
  return S_OK;
}

bool supportsErrorInfo(void *instance, const GUID &iid) {
  ISupportErrorInfo *support = nullptr;
  if (FAILED(static_cast<IUnknown *>(instance)->QueryInterface(IID_ISupportErrorInfo,
                                                               reinterpret_cast<void **>(&support))))
    return false;
  const bool supported = support->InterfaceSupportsErrorInfo(iid) == S_OK;
  support->Release();
  return supported;
}

void fillException(EXCEPINFO *exception, HRESULT code, void *instance, const GUID &iid) {
  if (exception == nullptr) return;
  std::memset(exception, 0, sizeof *exception);
  exception->scode = code;
  if (!supportsErrorInfo(instance, iid)) return;
  IErrorInfo *error = nullptr;
  if (GetErrorInfo(0, &error) != S_OK || error == nullptr) return;
  error->GetSource(&exception->bstrSource);
  error->GetDescription(&exception->bstrDescription);
  error->GetHelpFile(&exception->bstrHelpFile);
  error->GetHelpContext(&exception->dwHelpContext);
  error->Release();
}

}  // namespace

HRESULT invokeMember(TypeInfo &info, void *instance, MEMBERID memid, WORD flags, DISPPARAMS *params, VARIANT *result,
                     EXCEPINFO *exception, UINT *argError) {
  if (params == nullptr || params->cNamedArgs > params->cArgs || (params->cArgs && params->rgvarg == nullptr) ||
      (params->cNamedArgs && params->rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  const TypeInfo::Member *member = info.findFunc(memid, flags);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (instance == nullptr) return E_INVALIDARG;
  const Func &f = *member->func;
  if (f.kind == FUNC_DISPATCH) {
    return static_cast<IDispatch *>(instance)->Invoke(memid, IID_NULL, 0, flags, params, result, exception, argError);
  }

  // Which argument feeds which parameter.
  const size_t count = f.params.size();
  const bool hasRetval = count > 0 && (f.params.back().flags & PARAMFLAG_FRETVAL);
  const size_t inCount = count - (hasRetval ? 1 : 0);
  const bool isPut = (f.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  const UINT positional = params->cArgs - params->cNamedArgs;
  // Arguments to a property without parameters index the collection that
  // the property returns: they go to that object's default member.
  if ((f.invkind & INVOKE_PROPERTYGET) && hasRetval && inCount == 0 && params->cArgs > 0) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT collection;
    VariantInit(&collection);
    HRESULT hr = invokeMember(info, instance, memid, flags, &none, &collection, exception, argError);
    if (FAILED(hr)) return hr;
    if (V_VT(&collection) != VT_DISPATCH || V_DISPATCH(&collection) == nullptr) {
      VariantClear(&collection);
      return DISP_E_NOTACOLLECTION;
    }
    hr = V_DISPATCH(&collection)->Invoke(DISPID_VALUE, IID_NULL, 0, flags, params, result, exception, argError);
    VariantClear(&collection);
    return hr;
  }
  if (params->cArgs > inCount) return DISP_E_BADPARAMCOUNT;
  SmallBuffer<int> sourceOf(count, -1);  // index into rgvarg
  for (UINT k = 0; k < positional; ++k) sourceOf[k] = int(params->cArgs - 1 - k);
  for (UINT n = 0; n < params->cNamedArgs; ++n) {
    const DISPID id = params->rgdispidNamedArgs[n];
    size_t target;
    if (id == DISPID_PROPERTYPUT && isPut && inCount > 0) {
      target = inCount - 1;
    } else if (id >= 0 && size_t(id) < inCount) {
      target = size_t(id);
    } else {
      if (argError) *argError = n;
      return DISP_E_PARAMNOTFOUND;
    }
    if (sourceOf[target] != -1) {
      if (argError) *argError = n;
      return DISP_E_PARAMNOTFOUND;
    }
    sourceOf[target] = int(n);
  }

  const Signature *signature = info.signature(member, resolveSignature);
  if (signature == nullptr) return E_OUTOFMEMORY;
  Arguments args(count);
  VARIANT ret;
  VariantInit(&ret);
  for (size_t i = 0; i < count; ++i) {
    if (FAILED(signature->refused[i])) return signature->refused[i];
    const VARTYPE vt = signature->params[i];
    if (hasRetval && i == count - 1) {
      if (!(vt & VT_BYREF)) return DISP_E_BADVARTYPE;
      const VARTYPE target = vt & ~VT_BYREF;
      VARIANT &passed = args.passed(i);
      V_VT(&passed) = vt;
      if (target == VT_VARIANT) {
        V_BYREF(&passed) = &ret;
      } else {
        V_VT(&ret) = target;
        V_BYREF(&passed) = &V_UNION(&ret, llVal);
      }
      args.set(i, vt, &passed);
      continue;
    }
    VARIANT *source = sourceOf[i] >= 0 ? &params->rgvarg[sourceOf[i]] : nullptr;
    const HRESULT hr = bind(args, i, vt, f.params[i], source);
    if (FAILED(hr)) {
      VariantClear(&ret);
      if (argError && sourceOf[i] >= 0 && hr != DISP_E_BADPARAMCOUNT) *argError = UINT(sourceOf[i]);
      return hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_OVERFLOW ||
                     hr == DISP_E_BADVARTYPE || hr == E_OUTOFMEMORY
                 ? hr
                 : DISP_E_TYPEMISMATCH;
    }
  }

  VARTYPE returned = VT_ERROR;
  if (f.result.vt != VT_HRESULT) {
    if (FAILED(signature->resultRefused)) return signature->resultRefused;
    returned = signature->result;
  }
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = DispCallFunc(instance, ULONG_PTR(USHORT(f.oVft)), f.callconv, returned, UINT(count), args.types(),
                            args.pointers(), &value);
  if (FAILED(hr)) {
    VariantClear(&ret);
    return hr;
  }
  if (f.result.vt == VT_HRESULT) {
    const HRESULT code = V_ERROR(&value);
    if (FAILED(code)) {
      VariantClear(&ret);
      fillException(exception, code, instance, info.type().guid);
      return DISP_E_EXCEPTION;
    }
    if (hasRetval) {
      if (result)
        *result = ret;
      else
        VariantClear(&ret);
    }
  } else if (result) {
    *result = value;
  } else {
    VariantClear(&value);
  }
  return S_OK;
}

}  // namespace platform::typelib

HRESULT WINAPI DispInvoke(void *_this, ITypeInfo *ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS *pparams,
                          VARIANT *pvarResult, EXCEPINFO *pexcepinfo, UINT *puArgErr) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT WINAPI DispGetIDsOfNames(ITypeInfo *ptinfo, OLECHAR **rgszNames, UINT cNames, DISPID *rgdispid) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}
