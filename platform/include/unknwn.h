// IUnknown and IClassFactory. The C++ declarations give the COM vtable
// layout: the methods in the order listed, no virtual destructor.
#pragma once

#include <rpc.h>
#include <rpcndr.h>
#include <wtypes.h>

typedef interface IUnknown IUnknown;
typedef interface IClassFactory IClassFactory;
typedef IUnknown *LPUNKNOWN;
typedef IClassFactory *LPCLASSFACTORY;

EXTERN_C const IID IID_IUnknown;
EXTERN_C const IID IID_IClassFactory;

MIDL_INTERFACE("00000000-0000-0000-C000-000000000046")
IUnknown {
 public:
  BEGIN_INTERFACE
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
  END_INTERFACE
};

MIDL_INTERFACE("00000001-0000-0000-C000-000000000046")
IClassFactory : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
