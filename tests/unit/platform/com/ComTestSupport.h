// What the COM library tests share: apartments and threads, and an object
// and a class factory whose reference counts a test can watch. Registry keys
// that a test writes and removes come from ClassesKeys.h.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

#include "../PlatformTestSupport.h"
#include "ClassesKeys.h"

// {3B0E7A51-6C2D-4F18-9E47-0D5A1C83B260} and neighbours: classes that exist
// only while a test registers them.
constexpr CLSID kTestClass = {0x3B0E7A51, 0x6C2D, 0x4F18, {0x9E, 0x47, 0x0D, 0x5A, 0x1C, 0x83, 0xB2, 0x60}};
constexpr CLSID kOtherTestClass = {0x3B0E7A52, 0x6C2D, 0x4F18, {0x9E, 0x47, 0x0D, 0x5A, 0x1C, 0x83, 0xB2, 0x60}};
constexpr CLSID kUnknownClass = {0x3B0E7A5F, 0x6C2D, 0x4F18, {0x9E, 0x47, 0x0D, 0x5A, 0x1C, 0x83, 0xB2, 0x60}};

// Runs `body` on a new thread that has not initialised COM, and waits.
template <typename Body> void onNewThread(Body body) { std::thread(std::move(body)).join(); }

// CoInitializeEx for the length of a scope.
class Apartment {
 public:
  explicit Apartment(DWORD mode) : result_(CoInitializeEx(nullptr, mode)) {}
  Apartment(const Apartment &) = delete;
  Apartment &operator=(const Apartment &) = delete;
  ~Apartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// An object whose Run (IRunnableObject) a test can observe; it also answers
// ISupportErrorInfo as a second interface to ask for.
class TestObject final : public IRunnableObject, public ISupportErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IRunnableObject))
      *ppv = static_cast<IRunnableObject *>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
      *ppv = static_cast<ISupportErrorInfo *>(this);
    else
      return *ppv = nullptr, E_NOINTERFACE;
    return AddRef(), S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Run(LPBINDCTX context) override {
    ++runs;
    runContext = context;
    return runResult;
  }
  BOOL STDMETHODCALLTYPE IsRunning() override { return runs > 0; }
  HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

  int runs = 0;
  LPBINDCTX runContext = reinterpret_cast<LPBINDCTX>(1);
  HRESULT runResult = S_OK;

 private:
  std::atomic<ULONG> references_{1};
};

// A class factory on the test's stack; its reference count shows who holds
// it, and it counts the objects it makes.
class TestClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = static_cast<IClassFactory *>(this);
    return AddRef(), S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ++made;
    auto *object = new TestObject;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  ULONG references() const { return references_; }
  std::atomic<int> made{0};

 private:
  std::atomic<ULONG> references_{1};
};

// Registers a factory in the calling thread's apartment for the length of a scope.
class RegisteredFactory {
 public:
  RegisteredFactory(REFCLSID clsid, IClassFactory *factory, DWORD context = CLSCTX_INPROC_SERVER,
                    DWORD flags = REGCLS_MULTIPLEUSE)
      : result_(CoRegisterClassObject(clsid, factory, context, flags, &cookie_)) {}
  RegisteredFactory(const RegisteredFactory &) = delete;
  RegisteredFactory &operator=(const RegisteredFactory &) = delete;
  ~RegisteredFactory() { revoke(); }
  HRESULT result() const { return result_; }
  DWORD cookie() const { return cookie_; }
  HRESULT revoke() { return SUCCEEDED(result_) ? result_ = E_FAIL, CoRevokeClassObject(cookie_) : S_OK; }

 private:
  DWORD cookie_ = 0;
  HRESULT result_;
};
