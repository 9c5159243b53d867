// The type library and type information objects over a library's data.
#pragma once

#include "model.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace platform::typelib {

// An owned reference to a COM object of this folder.
template <typename T> class Ref {
 public:
  Ref() = default;
  explicit Ref(T *p, bool addRef = true) : p_(p) {
    if (p_ && addRef) p_->AddRef();
  }
  Ref(const Ref &o) : Ref(o.p_) {}
  Ref &operator=(const Ref &o) {
    Ref copy(o);
    std::swap(p_, copy.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  T **put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  T *detach() {
    T *p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T *p_ = nullptr;
};

struct GuidLess {
  bool operator()(const GUID &a, const GUID &b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

class TypeLibrary final : public ITypeLib {
 public:
  // A new library object with one reference.
  static TypeLibrary *create(std::shared_ptr<const LibraryData> data);
  // The standard OLE library (IUnknown, IDispatch), one for the process.
  static TypeLibrary *standard();

  const LibraryData &data() const { return *data_; }
  // A view of one type: a dual interface's dispatch view unless
  // `interfaceHalf`.
  HRESULT typeInfo(UINT index, bool interfaceHalf, ITypeInfo **out);
  // The type that a reference made inside this library names: its library
  // and position there.
  HRESULT locate(HREFTYPE href, Ref<TypeLibrary> &lib, UINT &index);
  HRESULT resolve(HREFTYPE href, ITypeInfo **out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo **ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *pTKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **ppTLibAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp **ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                             BSTR *pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL *pfName) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo **ppTInfo, MEMBERID *rgMemId,
                                     USHORT *pcFound) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *pTLibAttr) override;

 private:
  explicit TypeLibrary(std::shared_ptr<const LibraryData> data);
  HRESULT locateImport(const Import &import, Ref<TypeLibrary> &lib, UINT &index);

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<const LibraryData> data_;
  std::map<GUID, UINT, GuidLess> byGuid_;
};

// What calling a function through its function table takes from its
// types: the type each parameter travels in, or why it cannot travel, and
// the same for the result. Type libraries do not change once loaded, so it
// is worked out once per function.
struct Signature {
  std::vector<VARTYPE> params;
  std::vector<HRESULT> refused;  // S_OK, or why parameter i cannot be passed
  VARTYPE result = VT_ERROR;
  HRESULT resultRefused = S_OK;
};

class TypeInfo final : public ITypeInfo {
 public:
  // A function as one view shows it: the function, the library whose
  // references its types use, and whether it is shown in dispatch form.
  struct Member {
    const Func *func;
    TypeLibrary *owner;
    bool asDispatch;
  };

  static HRESULT create(TypeLibrary *lib, UINT index, bool interfaceHalf, ITypeInfo **out);

  const TypeData &type() const { return *type_; }
  TypeLibrary *library() const { return lib_.get(); }
  // The function with this id that answers one of the invoke `flags`, own
  // functions first, then inherited ones.
  const Member *findFunc(MEMBERID memid, WORD flags) const;
  // The signature of a member that findFunc found, made by `make` the first
  // time it is asked for and kept with this description; null when there
  // was no memory to make it.
  const Signature *signature(const Member *member, Signature (*make)(const Member &)) const;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR **ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp **ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC **ppVarDesc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT *pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams,
                                   VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString,
                                             DWORD *pdwHelpContext, BSTR *pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR *pBstrDllName, BSTR *pBstrName,
                                        WORD *pwOrdinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID *ppv) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR *pBstrMops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR *pTypeAttr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC *pFuncDesc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC *pVarDesc) override;

 private:
  TypeInfo(TypeLibrary *lib, UINT index, bool interfaceHalf);
  ~TypeInfo();
  bool dispatchView() const;
  TYPEKIND viewKind() const;
  HRESULT collectInherited(std::vector<Member> &into);
  const Member *memberById(MEMBERID memid) const;
  const Var *varById(MEMBERID memid) const;

  std::atomic<ULONG> refs_{1};
  Ref<TypeLibrary> lib_;
  UINT index_;
  const TypeData *type_;
  bool interfaceHalf_;
  std::vector<Member> funcs_;   // what GetFuncDesc counts
  std::vector<Member> lookup_;  // own functions, then inherited ones
  // One slot per entry of lookup_, filled once by signature().
  std::unique_ptr<std::atomic<const Signature *>[]> signatures_;
  std::vector<Ref<TypeLibrary>> bases_;
};

// The invocation of a member through its function table (invoke.cpp).
HRESULT invokeMember(TypeInfo &info, void *instance, MEMBERID memid, WORD flags, DISPPARAMS *params, VARIANT *result,
                     EXCEPINFO *exception, UINT *argError);

}  // namespace platform::typelib
