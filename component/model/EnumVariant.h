// The enumerator a collection hands out for its _NewEnum: it walks its own
// snapshot of the members, so later changes to the collection never reach it.
// It is code of the module and holds the module while it lives, even when it
// outlives every object (an enumerator of an empty collection holds none).
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "Module.h"
#include "server/ComPtr.h"

namespace rv {

class EnumVariant final : public IEnumVARIANT {
 public:
  // Takes a snapshot: one VT_DISPATCH variant per member, each counted.
  static HRESULT Create(std::vector<ComPtr<IDispatch>> members, IUnknown **enumerator);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT *items, ULONG *fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT **copy) override;

 private:
  EnumVariant() = default;
  ~EnumVariant() = default;

  inproc::ModuleHold hold_;
  LONG volatile references_ = 1;
  std::vector<ComPtr<IDispatch>> items_;
  size_t position_ = 0;
};

}  // namespace rv
