// What the three collection classes share on top of TRVPObjectImpl: the
// public collection interface for element interface E, and the untyped
// IPerfCollection that forwards to it.
#pragma once
#include "TRVPObjectImpl.h"

namespace rv {

template <typename Derived, typename Main, typename E>
class TRVPCollectionImpl : public TRVPObjectImpl<Derived, Main, IPerfCollection> {
 public:
  // The members of the collection arrive with the object model.
  HRESULT STDMETHODCALLTYPE get_Count(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Item(LONG, E **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ItemByID(LONG, E **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Remove(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveAll() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveByID(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(E *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddNew(LONG, E **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ItemByName(BSTR, E **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounters() override { return E_NOTIMPL; }

  // IPerfCollection: the same collection with plain dispatch references.
  HRESULT STDMETHODCALLTYPE get_Item(LONG, IDispatch **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ItemByID(LONG, IDispatch **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(IDispatch *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddNew(LONG, IDispatch **) override { return E_NOTIMPL; }
};

}  // namespace rv
