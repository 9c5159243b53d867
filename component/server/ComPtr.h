// Small owners of automation resources, so that every reference, string,
// variant and lock is released on every path.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <utility>

namespace rv {

// One counted reference to an interface.
template <typename T> class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to `p`.
  explicit ComPtr(T *p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr &other) : ComPtr(other.p_) {}
  ComPtr(ComPtr &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr &operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr attach(T *p) {
    ComPtr owner;
    owner.p_ = p;
    return owner;
  }

  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out parameters: releases what is held and hands out the slot.
  T **put() {
    reset();
    return &p_;
  }
  void **putVoid() { return reinterpret_cast<void **>(put()); }

  T *detach() { return std::exchange(p_, nullptr); }

  void reset() {
    if (T *p = std::exchange(p_, nullptr)) p->Release();
  }

  // Asks for another interface of the same object.
  template <typename U> HRESULT query(REFIID iid, ComPtr<U> &out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.putVoid());
  }

 private:
  T *p_ = nullptr;
};

// An owned BSTR. A copy that cannot be allocated throws std::bad_alloc, which
// the error frames report as E_OUTOFMEMORY: a null string left in its place
// would read as a missing text instead.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const OLECHAR *text) : s_(text ? SysAllocString(text) : nullptr) {
    if (text != nullptr && s_ == nullptr) throw std::bad_alloc();
  }
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  Bstr(Bstr &&other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  Bstr &operator=(Bstr &&other) noexcept {
    std::swap(s_, other.s_);
    return *this;
  }
  ~Bstr() { SysFreeString(s_); }

  static Bstr attach(BSTR s) {
    Bstr owner;
    owner.s_ = s;
    return owner;
  }

  BSTR get() const { return s_; }
  BSTR *put() {
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  BSTR detach() { return std::exchange(s_, nullptr); }
  UINT length() const { return SysStringLen(s_); }

 private:
  BSTR s_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant &) = delete;
  Variant &operator=(const Variant &) = delete;
  ~Variant() { VariantClear(&v_); }

  VARIANT *get() { return &v_; }
  const VARIANT *get() const { return &v_; }
  VARIANT *operator->() { return &v_; }
  const VARIANT *operator->() const { return &v_; }
  // Clears what is held and hands out the variant to be filled.
  VARIANT *put() {
    VariantClear(&v_);
    return &v_;
  }
  // Moves the value out into `target`, which must be empty or cleared.
  void detachTo(VARIANT *target) {
    *target = v_;
    VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

// A critical section and its scoped owner.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection &) = delete;
  CriticalSection &operator=(const CriticalSection &) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  void enter() { EnterCriticalSection(&cs_); }
  void leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class Lock {
 public:
  explicit Lock(CriticalSection &cs) : cs_(cs) { cs_.enter(); }
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
  ~Lock() { cs_.leave(); }

 private:
  CriticalSection &cs_;
};

}  // namespace rv
