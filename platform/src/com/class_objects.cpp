// The table of registered class objects. A registration belongs to the
// apartment that made it: only that apartment finds it, only that apartment
// may revoke it, and it is revoked when that apartment ends.
#include <windows.h>

#include "com/apartment.h"
#include "com/class_objects.h"

namespace platform::com {
namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  const Apartment *apartment;
  IUnknown *object;
  DWORD context;
};

struct ClassObjectTable {
  std::vector<Registration> entries;
  DWORD lastCookie = 0;
};

ClassObjectTable &table() {
  static auto *all = new ClassObjectTable;  // guarded by comLock()
  return *all;
}

const Registration *find(const Apartment &apartment, REFCLSID rclsid, DWORD context) {
  for (const Registration &entry : table().entries)
    if (entry.apartment == &apartment && IsEqualCLSID(entry.clsid, rclsid) && (entry.context & context) != 0)
      return &entry;
  return nullptr;
}

}  // namespace

IUnknown *findRegisteredClassObject(const Apartment &apartment, REFCLSID rclsid, DWORD context) {
  std::lock_guard<std::mutex> guard(comLock());
  const Registration *entry = find(apartment, rclsid, context);
  if (entry == nullptr) return nullptr;
  entry->object->AddRef();
  return entry->object;
}

std::vector<IUnknown *> revokeApartmentClassObjects(const Apartment &apartment) {
  std::vector<IUnknown *> revoked;
  std::vector<Registration> &entries = table().entries;
  for (auto it = entries.begin(); it != entries.end();) {
    if (it->apartment == &apartment) {
      revoked.push_back(it->object);
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
  return revoked;
}

}  // namespace platform::com

using platform::com::Apartment;

// A second registration of a class in the same apartment is refused with
// CO_E_OBJISREG, except that a multiple-use one is accepted without being
// recorded (cookie 0), as Windows does for servers that register twice. A
// multiple-use registration for a local server also serves in-process
// requests.
HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister) {
  if (lpdwRegister == nullptr || pUnk == nullptr) return E_INVALIDARG;
  *lpdwRegister = 0;
  std::shared_ptr<Apartment> apartment = platform::com::servingApartment();
  if (!apartment) return CO_E_NOTINITIALIZED;
  if ((flags & REGCLS_MULTIPLEUSE) && (dwClsContext & CLSCTX_LOCAL_SERVER)) dwClsContext |= CLSCTX_INPROC_SERVER;

  std::lock_guard<std::mutex> guard(platform::com::comLock());
  if (apartment->ended) return CO_E_NOTINITIALIZED;
  if (platform::com::find(*apartment, rclsid, dwClsContext) != nullptr)
    return (flags & REGCLS_MULTIPLEUSE) ? S_OK : CO_E_OBJISREG;
  platform::com::ClassObjectTable &all = platform::com::table();
  DWORD cookie = ++all.lastCookie;
  if (cookie == 0) cookie = ++all.lastCookie;
  pUnk->AddRef();
  all.entries.push_back({cookie, rclsid, apartment.get(), pUnk, dwClsContext});
  *lpdwRegister = cookie;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  std::shared_ptr<Apartment> apartment = platform::com::servingApartment();
  if (!apartment) return CO_E_NOTINITIALIZED;
  IUnknown *object = nullptr;
  {
    std::lock_guard<std::mutex> guard(platform::com::comLock());
    std::vector<platform::com::Registration> &entries = platform::com::table().entries;
    auto it = entries.begin();
    while (it != entries.end() && it->cookie != dwRegister) ++it;
    if (it == entries.end()) return E_INVALIDARG;
    if (it->apartment != apartment.get()) return RPC_E_WRONG_THREAD;
    object = it->object;
    entries.erase(it);
  }
  object->Release();
  return S_OK;
}
