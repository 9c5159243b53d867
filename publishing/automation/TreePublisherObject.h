// The TreePublisher class: what a script reaches as
// rvTreePublisher.TreePublisher. It publishes the tree of a PerfMgr of the
// component under the manager's device name; the first tree published fixes
// that device for the object's life, so that readers of one device never see
// another device's tree under its name. Failures come back with error
// information that a script reads as e.number and e.description. Every
// member runs inside the kit's entry boundary.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "ComPtr.h"
#include "Module.h"
#include "PublishedTree.h"
#include "rvTreePublisher.h"

namespace rv::automation {

class TreePublisherObject final : public ITreePublisher, public ISupportErrorInfo {
 public:
  // A new object, asked for `riid`; never aggregated.
  static HRESULT create(IUnknown *outer, REFIID riid, void **object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *parameters,
                                   VARIANT *result, EXCEPINFO *exception, UINT *argumentError) override;

  HRESULT STDMETHODCALLTYPE Publish(IDispatch *manager) override;
  HRESULT STDMETHODCALLTYPE Withdraw() override;
  HRESULT STDMETHODCALLTYPE get_Generation(LONG *value) override;
  HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR *value) override;

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  TreePublisherObject() = default;
  ~TreePublisherObject() = default;

  HRESULT publish(IDispatch *manager);

  inproc::ModuleHold hold_;
  LONG references_ = 1;
  CriticalSection lock_;
  // Made by the first Publish that succeeds; it names the device from then on.
  std::unique_ptr<publishing::TreePublisher> publisher_;
};

}  // namespace rv::automation
