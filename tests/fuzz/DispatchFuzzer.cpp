// Calls IDispatch::Invoke of the seven classes as a hostile script host
// would: any member id, any combination of invoke kinds, any count of
// arguments, named arguments, and arguments of every variant type the
// automation functions accept (and some they refuse), by value, by
// reference and in arrays, including the component's own objects and an
// object of this program's that is none of them.
//
// An input is a sequence of calls. The objects called start as one fresh
// object of each class, in the class table's order; every object a call
// returns joins them, so that a later call can use it as target or argument.
// Each call is:
//   target   which object (modulo the objects there are)
//   member   below 0xE0: the member id plus 4 (modulo 24); else a raw LONG follows
//   flags    low four bits: the invoke kinds; 0x10 an undefined kind bit;
//            0x20, 0x40, 0x80: no result, no EXCEPINFO, no argument error slot
//   counts   low four bits: arguments; bits 4-6: how many of them are named;
//            0x80: an interface id other than IID_NULL
//   a named id for each named argument: 0xFF DISPID_PROPERTYPUT, 0xFE a raw
//            LONG follows, else (byte % 8) - 2
//   the arguments, first positional first, then the named ones from last to
//            first (rgvarg from its end to its start); each is a type byte
//            (see readValue) and its value.
//
// Whatever the call, Invoke comes back: a success, a refusal by the
// dispatcher itself, which IDispatch::Invoke documents as coming without
// error information (the argument's index is given instead where it names
// one), or DISP_E_EXCEPTION with a description, in EXCEPINFO or, when the
// caller passed none, in the thread's error information. Anything else
// aborts. Every argument, result and error string is released, and the
// foreign object's references must all come back.
//
// Register writes files into the folder it is given and starts lodctr; so
// that inputs cannot write anywhere on this machine, it always gets a folder
// of the fuzzer's own root. Load takes the same parameter and only reads, so
// argument shapes are still covered.
//
// Run for a while from the build folder of the fuzzers:
//   mkdir -p corpus-dispatch && bin/dispatch_fuzzer corpus-dispatch ../../tests/fuzz/seeds/dispatch \
//     -dict=../../tests/fuzz/dispatch.dict -max_len=2048 -malloc_limit_mb=64 -timeout=25 -runs=1000000
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt). The seeds come from
// tests/fuzz/make_dispatch_seeds.py.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "FuzzHost.h"
#include "rvZedaZuvivurAzodav.h"
#include "server/Text.h"

using namespace rv;

namespace {

constexpr size_t MaxCalls = 24;
constexpr size_t MaxObjects = 32;
constexpr int MaxDepth = 3;
constexpr ULONG MaxElements = 64;

[[noreturn]] void fail(const char *what, DISPID member, WORD flags, HRESULT hr) {
  std::fprintf(stderr, "dispatch fuzzer: %s (member %d, flags 0x%x, result 0x%08x)\n", what, int(member),
               unsigned(flags), unsigned(hr));
  std::abort();
}

// An object of this program's: IDispatch without a type, whose members all
// are unknown, as an unrelated automation object passed by a script is.
class Foreign : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT count, LCID, DISPID *ids) override {
    for (UINT i = 0; ids != nullptr && i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  ULONG references() const { return references_; }

 private:
  ULONG references_ = 1;
};

Foreign foreign;
Bstr registerFolder;

class Input {
 public:
  Input(const uint8_t *data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  // Up to `size` bytes into `out`; what the input lacks stays zero.
  void bytes(void *out, size_t size) {
    std::memset(out, 0, size);
    const size_t taken = size < n_ ? size : n_;
    std::memcpy(out, p_, taken);
    p_ += taken;
    n_ -= taken;
  }
  template <typename T> T raw() {
    T value;
    bytes(&value, sizeof value);
    return value;
  }

 private:
  const uint8_t *p_;
  size_t n_;
};

// What one input works on: the objects there are, and the values that
// reference arguments point to.
struct Session {
  std::vector<ComPtr<IDispatch>> objects;
  std::deque<VARIANT> stores;  // stable addresses for references

  VARIANT &store() {
    stores.emplace_back();
    std::memset(&stores.back(), 0, sizeof(VARIANT));
    return stores.back();
  }
  void dropStores() {
    for (VARIANT &v : stores) VariantClear(&v);
    stores.clear();
  }
  IUnknown *object(uint8_t which) {
    if (which == 0) return nullptr;
    if (which == 1) return &foreign;
    return objects[(which - 2) % objects.size()].get();
  }
};

BSTR readString(Input &in) {
  const uint8_t length = in.byte();
  if (length == 0xFF) return nullptr;
  if (length & 0x80) {
    const UINT units = length & 0x7F;
    BSTR text = SysAllocStringLen(nullptr, units);
    if (text != nullptr) in.bytes(text, units * sizeof(OLECHAR));
    return text;
  }
  BSTR text = SysAllocStringLen(nullptr, length);
  if (text != nullptr)
    for (UINT i = 0; i < length; ++i) text[i] = OLECHAR(in.byte());
  return text;
}

void readValue(Session &s, Input &in, VARIANT &out, int depth);

// A plain value of type vt (no reference, no array) into `out`, which owns it.
void readScalar(Session &s, Input &in, VARTYPE vt, VARIANT &out, int depth) {
  std::memset(&out, 0, sizeof out);
  switch (vt) {
    case VT_BSTR: V_BSTR(&out) = readString(in); break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      V_UNKNOWN(&out) = s.object(in.byte());
      if (V_UNKNOWN(&out) != nullptr) V_UNKNOWN(&out)->AddRef();
      break;
    case VT_DECIMAL: V_DECIMAL(&out) = in.raw<DECIMAL>(); break;
    case VT_VARIANT: readValue(s, in, out, depth + 1); return;
    case VT_I1:
    case VT_UI1: V_UI1(&out) = in.byte(); break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: V_UI2(&out) = in.raw<USHORT>(); break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4: V_UI4(&out) = in.raw<ULONG>(); break;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_R8:
    case VT_DATE: V_UI8(&out) = in.raw<ULONGLONG>(); break;
    default: break;  // empty, null, a record without description, or no valid type: no value
  }
  V_VT(&out) = vt;
}

// An array of element type vt with up to three dimensions; none is a null
// array, which a VT_ARRAY variant may carry.
SAFEARRAY *readArray(Session &s, Input &in, VARTYPE vt, int depth) {
  const UINT dims = in.byte() % 4;
  if (dims == 0) return nullptr;
  SAFEARRAYBOUND bounds[3];
  ULONG total = 1;
  for (UINT d = 0; d < dims; ++d) {
    bounds[d].cElements = in.byte() % 5;
    bounds[d].lLbound = static_cast<int8_t>(in.byte());
    total *= bounds[d].cElements;
  }
  SAFEARRAY *array = SafeArrayCreate(vt, dims, bounds);
  if (array == nullptr || total > MaxElements) return array;
  void *data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return array;
  for (ULONG k = 0; k < total; ++k) {
    VARIANT element;
    readScalar(s, in, vt, element, depth + 1);
    if (vt == VT_VARIANT) {
      static_cast<VARIANT *>(data)[k] = element;  // the array takes it over
      continue;
    }
    switch (vt) {
      case VT_BSTR: static_cast<BSTR *>(data)[k] = V_BSTR(&element); break;
      case VT_DISPATCH:
      case VT_UNKNOWN: static_cast<IUnknown **>(data)[k] = V_UNKNOWN(&element); break;
      case VT_DECIMAL: static_cast<DECIMAL *>(data)[k] = V_DECIMAL(&element); break;
      default:
        std::memcpy(static_cast<BYTE *>(data) + size_t(k) * array->cbElements, &V_UNION(&element, llVal),
                    array->cbElements);
        break;
    }
  }
  SafeArrayUnaccessData(array);
  return array;
}

// One argument. The type byte's low five bits pick the base type: the
// VARTYPE itself up to VT_UINT (15 being no valid type), then a record,
// VT_CLSID, an omitted argument (VT_ERROR DISP_E_PARAMNOTFOUND), this
// program's object, and, for the rest, a raw type number that follows, with
// no value. 0x20 makes it a reference, 0x40 an array, 0x80 wraps the whole
// in a VT_VARIANT reference. A reference argument points into a store of the
// session; an argument by value owns its contents.
void readValue(Session &s, Input &in, VARIANT &out, int depth) {
  std::memset(&out, 0, sizeof out);
  const uint8_t type = in.byte();
  const uint8_t kind = type & 0x1F;
  if (depth > MaxDepth) return;
  if (type & 0x80) {
    VARIANT &inner = s.store();
    readValue(s, in, inner, depth + 1);
    V_VT(&out) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&out) = &inner;
    return;
  }
  VARTYPE vt;
  switch (kind) {
    case 15:
    case 28:
    case 29:
    case 30:
    case 31:
      V_VT(&out) = in.raw<VARTYPE>();  // nothing to release whatever it says, as the union stays zero
      return;
    case 24: vt = VT_RECORD; break;
    case 25: vt = VT_CLSID; break;
    case 26:
      V_VT(&out) = VT_ERROR;
      V_ERROR(&out) = DISP_E_PARAMNOTFOUND;
      return;
    case 27:
      V_VT(&out) = VT_DISPATCH;
      V_DISPATCH(&out) = &foreign;
      foreign.AddRef();
      return;
    default: vt = kind; break;
  }

  VARIANT value;
  std::memset(&value, 0, sizeof value);
  if (type & 0x40) {
    V_ARRAY(&value) = readArray(s, in, vt, depth);
    V_VT(&value) = VT_ARRAY | vt;
  } else if (vt == VT_VARIANT) {
    // A variant by value inside a variant means nothing: a reference to one.
    VARIANT &inner = s.store();
    readValue(s, in, inner, depth + 1);
    V_VT(&out) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&out) = &inner;
    return;
  } else {
    readScalar(s, in, vt, value, depth);
  }
  if (!(type & 0x20) || vt == VT_RECORD || vt == VT_CLSID) {
    out = value;
    if (type & 0x20) V_VT(&out) |= VT_BYREF;  // same layout, nothing owned
    return;
  }
  VARIANT &held = s.store();
  held = value;
  V_VT(&out) = V_VT(&held) | VT_BYREF;
  V_BYREF(&out) =
      V_VT(&held) == VT_DECIMAL ? static_cast<void *>(&V_DECIMAL(&held)) : static_cast<void *>(&V_UNION(&held, llVal));
}

bool isManager(IDispatch *object) {
  ComPtr<IPerfMgr> manager;
  return SUCCEEDED(object->QueryInterface(IID_IPerfMgr, manager.putVoid()));
}

// The codes with which IDispatch::Invoke documents a refusal by the
// dispatcher itself, which comes without error information; E_INVALIDARG
// and E_OUTOFMEMORY are DispInvoke's for a malformed call and a failed
// allocation, and DISP_E_NOTACOLLECTION answers arguments to a property
// that returns no collection.
bool isDispatcherRefusal(HRESULT hr) {
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_BADPARAMCOUNT:
    case DISP_E_PARAMNOTFOUND:
    case DISP_E_TYPEMISMATCH:
    case DISP_E_PARAMNOTOPTIONAL:
    case DISP_E_BADVARTYPE:
    case DISP_E_OVERFLOW:
    case DISP_E_NONAMEDARGS:
    case DISP_E_UNKNOWNINTERFACE:
    case DISP_E_UNKNOWNLCID:
    case DISP_E_NOTACOLLECTION:
    case E_INVALIDARG:
    case E_OUTOFMEMORY: return true;
    default: return false;
  }
}

void call(Session &s, Input &in) {
  IDispatch *target = s.objects[in.byte() % s.objects.size()].get();
  const uint8_t memberByte = in.byte();
  const DISPID member = memberByte < 0xE0 ? DISPID(memberByte % 24) - 4 : in.raw<DISPID>();
  const uint8_t flagByte = in.byte();
  const WORD flags = WORD((flagByte & 0x0F) | (flagByte & 0x10 ? 0x10 : 0));
  const uint8_t counts = in.byte();
  const UINT argCount = counts & 0x0F;
  UINT namedCount = (counts >> 4) & 0x07;
  if (namedCount > argCount) namedCount = argCount;

  std::vector<DISPID> named(namedCount);
  for (DISPID &id : named) {
    const uint8_t b = in.byte();
    id = b == 0xFF ? DISPID_PROPERTYPUT : b == 0xFE ? in.raw<DISPID>() : DISPID(b % 8) - 2;
  }
  std::vector<VARIANT> args(argCount);
  for (UINT k = 0; k < argCount; ++k) readValue(s, in, args[argCount - 1 - k], 0);

  if (member == 8 && (flags & DISPATCH_METHOD) && isManager(target)) {
    for (VARIANT &arg : args) VariantClear(&arg);
    s.dropStores();
    named.clear();
    args.assign(1, VARIANT{});
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocString(registerFolder.get());
  }

  DISPPARAMS params = {args.data(), named.data(), UINT(args.size()), UINT(named.size())};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception;
  std::memset(&exception, 0, sizeof exception);
  const UINT noArgument = 0xFFFFFFFF;
  UINT argError = noArgument;
  ComPtr<IErrorInfo> stale;
  GetErrorInfo(0, stale.put());

  const HRESULT hr = target->Invoke(member, counts & 0x80 ? IID_IDispatch : IID_NULL, LOCALE_USER_DEFAULT, flags,
                                    &params, flagByte & 0x20 ? nullptr : &result,
                                    flagByte & 0x40 ? nullptr : &exception, flagByte & 0x80 ? nullptr : &argError);

  if (hr == DISP_E_EXCEPTION) {
    if (!(flagByte & 0x40)) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      if (SysStringLen(exception.bstrDescription) == 0 || (exception.scode == 0 && exception.wCode == 0))
        fail("an exception without its code or description", member, flags, hr);
    } else {
      ComPtr<IErrorInfo> error;
      Bstr description;
      if (GetErrorInfo(0, error.put()) != S_OK || !error || FAILED(error->GetDescription(description.put())) ||
          SysStringLen(description.get()) == 0)
        fail("an exception without error information", member, flags, hr);
    }
  } else if (FAILED(hr)) {
    if (!isDispatcherRefusal(hr)) fail("a failure without error information", member, flags, hr);
    // The two refusals about one argument say which.
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && !(flagByte & 0x80) && argError >= args.size())
      fail("a refused argument without its index", member, flags, hr);
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);

  if (SUCCEEDED(hr) && s.objects.size() < MaxObjects && (V_VT(&result) == VT_DISPATCH || V_VT(&result) == VT_UNKNOWN) &&
      V_UNKNOWN(&result) != nullptr) {
    ComPtr<IDispatch> returned;
    if (SUCCEEDED(V_UNKNOWN(&result)->QueryInterface(IID_IDispatch, returned.putVoid())) && returned.get() != &foreign)
      s.objects.push_back(returned);
  }
  VariantClear(&result);
  for (VARIANT &arg : args) VariantClear(&arg);
  s.dropStores();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_host::start();
  // Late binding finds the type library through the registry, as a script
  // host's calls do. The library is the resource linked into this program,
  // written out as a file since a program cannot be loaded as a module.
  OLECHAR temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const Text file = Text(temp) + OLESTR("contract.tlb");
  HRSRC found = FindResourceW(Module::instance(), MAKEINTRESOURCEW(1), OLESTR("TYPELIB"));
  const void *bytes = found != nullptr ? LockResource(LoadResource(Module::instance(), found)) : nullptr;
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (bytes == nullptr || out == INVALID_HANDLE_VALUE ||
      !WriteFile(out, bytes, SizeofResource(Module::instance(), found), &written, nullptr))
    std::abort();
  CloseHandle(out);
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.put());
  if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.get(), const_cast<OLECHAR *>(file.c_str()), nullptr);
  if (FAILED(hr)) fail("the type library not registered", 0, 0, hr);

  const Text folder = Text(temp) + OLESTR("register");
  if (!CreateDirectoryW(folder.c_str(), nullptr)) std::abort();
  registerFolder = Bstr(folder.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  {
    Session s;
    for (const ClassRow &row : classTable()) {
      ComPtr<IDispatch> object;
      if (FAILED(CoCreateInstance(*row.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.putVoid())))
        std::abort();
      s.objects.push_back(object);
    }
    for (size_t n = 0; n < MaxCalls && !in.empty(); ++n) call(s, in);
  }
  if (foreign.references() != 1) fail("references to the foreign object left behind", 0, 0, S_OK);
  fuzz_host::afterInput();
  return 0;
}
