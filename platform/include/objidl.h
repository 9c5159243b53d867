// Object interfaces of the COM library that this platform offers.
#pragma once

#include <unknwn.h>

// ---- Activation (apartments and class activation) ---------------------------
typedef interface IBindCtx IBindCtx;
typedef IBindCtx *LPBINDCTX;
typedef interface IRunnableObject IRunnableObject;
typedef IRunnableObject *LPRUNNABLEOBJECT;

EXTERN_C const IID IID_IRunnableObject;

// Where CoCreateInstanceEx should create an object; in-process activation
// does not look at it.
typedef struct _COAUTHINFO COAUTHINFO;
typedef struct _COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;
  COAUTHINFO *pAuthInfo;
  DWORD dwReserved2;
} COSERVERINFO;

// One interface asked for by CoCreateInstanceEx, and its answer.
typedef struct tagMULTI_QI {
  const IID *pIID;
  IUnknown *pItf;
  HRESULT hr;
} MULTI_QI;

// An object that must be put into its running state before use (OleRun).
MIDL_INTERFACE("00000126-0000-0000-C000-000000000046")
IRunnableObject : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID lpClsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(LPBINDCTX pbc) = 0;
  virtual BOOL STDMETHODCALLTYPE IsRunning() = 0;
  virtual HRESULT STDMETHODCALLTYPE LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL fContained) = 0;
};
// ---- end of activation --------------------------------------------------------
