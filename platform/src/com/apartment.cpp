// CoInitializeEx and CoUninitialize: the calling thread's apartment, with
// the results Windows gives: S_OK for the first call on a thread, S_FALSE for
// a nested call in the same mode, RPC_E_CHANGED_MODE (count unchanged) for the
// other mode. OleInitialize nests on top of a single-threaded apartment.
#include <windows.h>

#include <utility>

#include "com/apartment.h"
#include "com/inproc_servers.h"

namespace platform::com {
namespace {

// The process's multithreaded apartment, while any thread is in it.
std::shared_ptr<Apartment> &processMta() {
  static auto *mta = new std::shared_ptr<Apartment>;  // outlives every thread's exit
  return *mta;
}

void leaveApartment(std::shared_ptr<Apartment> apartment) {
  std::vector<IUnknown *> revoked;
  bool last;
  {
    std::lock_guard<std::mutex> guard(comLock());
    last = --apartment->threads == 0;
    if (last) {
      apartment->ended = true;
      if (processMta() == apartment) processMta().reset();
      revoked = revokeApartmentClassObjects(*apartment);
    }
  }
  for (IUnknown *object : revoked) object->Release();
  if (last) endApartmentServers(apartment);
}

// A thread's COM state. A thread that ends without uninitialising leaves its
// apartment then.
struct ThreadState {
  std::shared_ptr<Apartment> apartment;
  ULONG initCount = 0;
  ULONG oleInitCount = 0;

  ~ThreadState() {
    if (apartment) leaveApartment(std::move(apartment));
  }
};

ThreadState &threadState() {
  thread_local ThreadState state;
  return state;
}

}  // namespace

std::mutex &comLock() {
  static auto *lock = new std::mutex;
  return *lock;
}

std::shared_ptr<Apartment> currentApartment() { return threadState().apartment; }

std::shared_ptr<Apartment> servingApartment() {
  if (std::shared_ptr<Apartment> own = threadState().apartment) return own;
  std::lock_guard<std::mutex> guard(comLock());
  return processMta();
}

}  // namespace platform::com

using platform::com::Apartment;

// The reserved pointer and unknown flag bits are not checked, as under Wine.
HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  platform::com::ThreadState &state = platform::com::threadState();
  bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
  if (state.apartment) {
    if (state.apartment->multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++state.initCount;
    return S_FALSE;
  }
  std::lock_guard<std::mutex> guard(platform::com::comLock());
  std::shared_ptr<Apartment> apartment;
  if (multithreaded) {
    std::shared_ptr<Apartment> &mta = platform::com::processMta();
    if (!mta) {
      mta = std::make_shared<Apartment>();
      mta->multithreaded = true;
    }
    apartment = mta;
  } else {
    apartment = std::make_shared<Apartment>();
    apartment->ownerThread = GetCurrentThreadId();
  }
  ++apartment->threads;
  state.apartment = std::move(apartment);
  state.initCount = 1;
  return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize(void) {
  platform::com::ThreadState &state = platform::com::threadState();
  if (!state.apartment || --state.initCount > 0) return;
  state.oleInitCount = 0;
  platform::com::leaveApartment(std::move(state.apartment));
}

// The first OleInitialize of a thread answers S_OK even when the thread's
// single-threaded apartment was already open.
HRESULT OleInitialize(LPVOID) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return hr;
  return platform::com::threadState().oleInitCount++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize(void) {
  platform::com::ThreadState &state = platform::com::threadState();
  if (state.oleInitCount == 0) return;
  --state.oleInitCount;
  CoUninitialize();
}
