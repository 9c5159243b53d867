// An interface that callers seldom ask for, made when it is asked for instead
// of carried by every object. A tree holds hundreds of thousands of nodes and
// each interface table a node carries costs it a word; a tear-off costs a
// small allocation at each query instead.
//
// A tear-off holds a reference on its object's controlling unknown for as
// long as it lives, and hands every query back to it, so the rules of
// identity hold: IUnknown asked of the tear-off is the object's own, and any
// interface of the object can be reached from it. Two queries give two
// tear-offs; COM promises a stable pointer for IUnknown only.
#pragma once
#include <windows.h>

#include <new>
#include <utility>

namespace rv {

template <typename Interface> class TearOff : public Interface {
 public:
  TearOff(const TearOff &) = delete;
  TearOff &operator=(const TearOff &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return owner_->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) {
      IUnknown *owner = owner_;
      delete this;
      owner->Release();
    }
    return static_cast<ULONG>(remaining);
  }

  // Makes a tear-off of class T over `owner` and hands it out counted, as a
  // query answers; E_OUTOFMEMORY when it cannot be made.
  template <typename T, typename... Arguments>
  static HRESULT answer(void **object, IUnknown *owner, Arguments &&...arguments) {
    T *made = new (std::nothrow) T(owner, std::forward<Arguments>(arguments)...);
    if (made == nullptr) return E_OUTOFMEMORY;
    made->AddRef();
    *object = static_cast<Interface *>(made);
    return S_OK;
  }

 protected:
  explicit TearOff(IUnknown *owner) : owner_(owner) { owner_->AddRef(); }
  virtual ~TearOff() = default;

 private:
  IUnknown *const owner_;
  LONG volatile references_ = 0;
};

}  // namespace rv
