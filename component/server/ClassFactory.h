// The class object of every row: a standard class factory. The module holds
// one reference of its own; while a client holds it too, it holds the module.
#pragma once
#include <windows.h>

#include "ComPtr.h"

namespace rv {

struct ClassRow;

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ClassRow &row) : row_(row) {}
  ClassFactory(const ClassFactory &) = delete;
  ClassFactory &operator=(const ClassFactory &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~ClassFactory() = default;

  const ClassRow &row_;
  LONG references_ = 1;
  CriticalSection lock_;
};

}  // namespace rv
