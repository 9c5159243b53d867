// Apartments: which COM world a thread lives in.
//
// A thread that calls CoInitializeEx joins the one multithreaded apartment
// (MTA) of the process or opens a single-threaded apartment (STA) of its own.
// An apartment ends when its last thread leaves it (last CoUninitialize, or
// thread exit); its registered class objects are revoked then and its unused
// in-process servers unloaded.
//
// A thread that never initialised may still activate objects while the
// process has an MTA: it is then served in that MTA (the "implicit MTA" of
// Windows 7 and later, which Wine 8 reproduces). Without an MTA such a thread
// gets CO_E_NOTINITIALIZED.
#pragma once

#include <objbase.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::com {

class InprocServer;

// One in-process server module as one apartment uses it.
struct ApartmentServer {
  std::shared_ptr<InprocServer> server;
  // When the module first said it could be unloaded and a delay applied;
  // empty while it has not said so.
  std::chrono::steady_clock::time_point unloadAfter;
  bool unloadPending = false;
};

struct Apartment {
  bool multithreaded = false;
  DWORD ownerThread = 0;  // the thread of an STA; 0 for the MTA
  int threads = 0;        // threads that have initialised into it
  bool ended = false;     // set once its last thread has left
  std::vector<ApartmentServer> servers;
};

// Guards every apartment, the class object table and the module table. Held
// for AddRef of a registered class object only; never while calling a
// module's entry points, releasing an object or loading a module.
std::mutex &comLock();

// The calling thread's own apartment, or null when it has not initialised.
std::shared_ptr<Apartment> currentApartment();

// The apartment that serves the calling thread: its own, else the MTA when
// one exists. Null means CO_E_NOTINITIALIZED.
std::shared_ptr<Apartment> servingApartment();

// Called with comLock() held when an apartment's last thread has left:
// removes what the apartment registered and returns the objects to release
// once the lock is dropped.
std::vector<IUnknown *> revokeApartmentClassObjects(const Apartment &apartment);

}  // namespace platform::com
