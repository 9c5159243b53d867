// Loading in-process server modules for activation, and unloading them when
// they say they can be unloaded (CoFreeUnusedLibraries).
#include <windows.h>

#include <algorithm>
#include <map>
#include <utility>

#include "com/inproc_servers.h"
#include "kernel/paths.h"

namespace platform::com {

using GetClassObjectEntry = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowEntry = HRESULT(STDAPICALLTYPE *)(void);

class InprocServer {
 public:
  std::string path;
  HMODULE module = nullptr;
  GetClassObjectEntry getClassObject = nullptr;
  CanUnloadNowEntry canUnloadNow = nullptr;  // may be missing: never unloaded then
  bool multithreaded = false;
  int apartments = 0;   // apartments whose lists hold it
  int activations = 0;  // calls into DllGetClassObject under way
};

namespace {

// Modules that any thread may call are kept for a while after they first say
// they can be unloaded, for threads still running their code; so is every
// module of the multithreaded apartment. Windows waits ten minutes.
constexpr std::chrono::minutes kMultithreadedUnloadDelay(10);

std::map<std::string, std::shared_ptr<InprocServer>> &loadedServers() {
  static auto *all = new std::map<std::string, std::shared_ptr<InprocServer>>;  // guarded by comLock()
  return *all;
}

// Under comLock(): makes the apartment a user of the module.
void attach(Apartment &apartment, const std::shared_ptr<InprocServer> &server) {
  for (const ApartmentServer &entry : apartment.servers)
    if (entry.server == server) return;
  apartment.servers.push_back({server, {}, false});
  ++server->apartments;
}

// Under comLock(): the apartment stops using the module; returns the module
// handle to free when no apartment uses it and it is to be unloaded.
HMODULE detach(const std::shared_ptr<InprocServer> &server, bool unload) {
  if (--server->apartments > 0 || !unload) return nullptr;
  auto it = loadedServers().find(server->path);
  if (it != loadedServers().end() && it->second == server) loadedServers().erase(it);
  return server->module;
}

std::shared_ptr<InprocServer> findForApartment(Apartment &apartment, const std::string &path) {
  for (const ApartmentServer &entry : apartment.servers)
    if (entry.server->path == path) return entry.server;
  auto it = loadedServers().find(path);
  if (it == loadedServers().end()) return nullptr;
  attach(apartment, it->second);
  return it->second;
}

// Asks the module for the class object. Another thread of the same
// apartment may be freeing unused modules meanwhile: the module is not
// unloaded while it is being asked.
HRESULT askForClassObject(const std::shared_ptr<InprocServer> &server, REFCLSID rclsid, REFIID riid, void **ppv) {
  HRESULT hr = server->getClassObject(rclsid, riid, ppv);
  std::lock_guard<std::mutex> guard(comLock());
  --server->activations;
  return hr;
}

// An exported function by name, as its own type (through the generic
// function pointer type, which converts to any other).
template <typename Entry> Entry entryPoint(HMODULE module, LPCSTR name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HRESULT loadServer(const std::string &path, std::shared_ptr<InprocServer> &server) {
  HMODULE module = LoadLibraryW(kernel::wideFromUtf8(path).c_str());
  if (module == nullptr) return E_ACCESSDENIED;
  auto getClassObject = entryPoint<GetClassObjectEntry>(module, "DllGetClassObject");
  if (getClassObject == nullptr) {
    FreeLibrary(module);
    return CO_E_DLLNOTFOUND;
  }
  server = std::make_shared<InprocServer>();
  server->path = path;
  server->module = module;
  server->getClassObject = getClassObject;
  server->canUnloadNow = entryPoint<CanUnloadNowEntry>(module, "DllCanUnloadNow");
  return S_OK;
}

}  // namespace

std::string posixModulePath(const ModulePath &modulePath) {
  if (modulePath.empty()) return {};
  return kernel::toPosixPath(kernel::utf8FromWide(modulePath.c_str(), modulePath.size()));
}

HRESULT getInprocClassObject(const std::shared_ptr<Apartment> &apartment, const std::string &path, bool multithreaded,
                             REFCLSID rclsid, REFIID riid, void **ppv) {
  if (path.empty()) return E_ACCESSDENIED;
  std::shared_ptr<InprocServer> server;
  {
    std::lock_guard<std::mutex> guard(comLock());
    if (apartment->ended) return CO_E_NOTINITIALIZED;
    server = findForApartment(*apartment, path);
    if (server) {
      if (multithreaded) server->multithreaded = true;
      ++server->activations;
    }
  }
  if (!server) {
    // Loading runs the module's initialisation, which may itself use COM, so
    // it happens outside the lock; a thread that loaded the same module
    // meanwhile wins and this load is undone.
    std::shared_ptr<InprocServer> loaded;
    HRESULT hr = loadServer(path, loaded);
    if (FAILED(hr)) return hr;
    loaded->multithreaded = multithreaded;
    HMODULE duplicate = nullptr;
    {
      std::lock_guard<std::mutex> guard(comLock());
      auto [it, inserted] = loadedServers().emplace(path, loaded);
      if (!inserted) {
        duplicate = loaded->module;
        if (multithreaded) it->second->multithreaded = true;
      }
      server = it->second;
      ++server->activations;
      if (!apartment->ended) attach(*apartment, server);
    }
    if (duplicate != nullptr) FreeLibrary(duplicate);
  }
  return askForClassObject(server, rclsid, riid, ppv);
}

void freeUnusedServers(const std::shared_ptr<Apartment> &apartment, DWORD delay) {
  std::vector<std::shared_ptr<InprocServer>> servers;
  {
    std::lock_guard<std::mutex> guard(comLock());
    for (const ApartmentServer &entry : apartment->servers) servers.push_back(entry.server);
  }
  // The modules are asked outside the lock: their answer may take COM calls.
  std::vector<std::shared_ptr<InprocServer>> unloadable;
  for (const std::shared_ptr<InprocServer> &server : servers)
    if (server->canUnloadNow != nullptr && server->canUnloadNow() == S_OK) unloadable.push_back(server);

  std::vector<HMODULE> toFree;
  {
    std::lock_guard<std::mutex> guard(comLock());
    auto now = std::chrono::steady_clock::now();
    auto &entries = apartment->servers;
    for (auto it = entries.begin(); it != entries.end();) {
      if (it->server->activations > 0 ||
          std::find(unloadable.begin(), unloadable.end(), it->server) == unloadable.end()) {
        it->unloadPending = false;
        ++it;
        continue;
      }
      std::chrono::milliseconds wait(delay);
      if (delay == INFINITE)
        wait = (it->server->multithreaded || apartment->multithreaded)
                   ? std::chrono::duration_cast<std::chrono::milliseconds>(kMultithreadedUnloadDelay)
                   : std::chrono::milliseconds(0);
      if (wait.count() == 0 || (it->unloadPending && now >= it->unloadAfter)) {
        if (HMODULE module = detach(it->server, true)) toFree.push_back(module);
        it = entries.erase(it);
        continue;
      }
      if (!it->unloadPending) {
        it->unloadPending = true;
        it->unloadAfter = now + wait;
      }
      ++it;
    }
  }
  for (HMODULE module : toFree) FreeLibrary(module);
}

void endApartmentServers(const std::shared_ptr<Apartment> &apartment) {
  freeUnusedServers(apartment, 0);
  std::lock_guard<std::mutex> guard(comLock());
  for (const ApartmentServer &entry : apartment->servers) detach(entry.server, false);
  apartment->servers.clear();
}

}  // namespace platform::com

void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD) {
  // Only a thread's own apartment frees its modules; a thread served by the
  // implicit multithreaded apartment has none.
  if (std::shared_ptr<platform::com::Apartment> apartment = platform::com::currentApartment())
    platform::com::freeUnusedServers(apartment, dwUnloadDelay);
}

void CoFreeUnusedLibraries(void) { CoFreeUnusedLibrariesEx(INFINITE, 0); }
