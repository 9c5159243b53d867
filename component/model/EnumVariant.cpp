#include "EnumVariant.h"

#include <new>

namespace rv {

HRESULT EnumVariant::Create(std::vector<ComPtr<IDispatch>> members, IUnknown **enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  EnumVariant *created = new (std::nothrow) EnumVariant;
  if (created == nullptr) return E_OUTOFMEMORY;
  created->items_ = std::move(members);
  *enumerator = static_cast<IEnumVARIANT *>(created);
  return S_OK;
}

HRESULT EnumVariant::QueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
    *object = static_cast<IEnumVARIANT *>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG EnumVariant::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG EnumVariant::Release() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) delete this;
  return static_cast<ULONG>(remaining);
}

HRESULT EnumVariant::Next(ULONG count, VARIANT *items, ULONG *fetched) {
  if (items == nullptr) return E_POINTER;
  ULONG given = 0;
  for (; given < count && position_ < items_.size(); ++given, ++position_) {
    VariantInit(&items[given]);
    V_VT(&items[given]) = VT_DISPATCH;
    V_DISPATCH(&items[given]) = ComPtr<IDispatch>(items_[position_]).detach();
  }
  if (fetched != nullptr) *fetched = given;
  return given == count ? S_OK : S_FALSE;
}

HRESULT EnumVariant::Skip(ULONG count) {
  const size_t left = items_.size() - position_;
  if (count > left) {
    position_ = items_.size();
    return S_FALSE;
  }
  position_ += count;
  return S_OK;
}

HRESULT EnumVariant::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT EnumVariant::Clone(IEnumVARIANT **copy) {
  if (copy == nullptr) return E_POINTER;
  IUnknown *created = nullptr;
  HRESULT hr = Create(items_, &created);
  if (FAILED(hr)) return hr;
  static_cast<EnumVariant *>(static_cast<IEnumVARIANT *>(created))->position_ = position_;
  *copy = static_cast<IEnumVARIANT *>(created);
  return S_OK;
}

}  // namespace rv
