// How the log operation and the XML resource helper reach the outside
// components, which idl/rvOutsideComponents.h declares.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>

#include "rvOutsideComponents.h"
#include "server/ComPtr.h"

namespace rv {

// Creates a component that may live in another process: first its IUnknown,
// then its running state, then the interface wanted. A failure of any of the
// three steps is the creation's failure.
template <typename T> HRESULT createOutside(REFCLSID clsid, REFIID iid, ComPtr<T> &out) {
  ComPtr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.putVoid());
  if (FAILED(hr)) return hr;
  hr = OleRun(unknown.get());
  if (FAILED(hr)) return hr;
  return unknown.query(iid, out);
}

}  // namespace rv
