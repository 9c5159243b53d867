#include "registry/handles.h"

#include <mutex>
#include <unordered_map>

namespace platform::registry {

namespace {

constexpr REGSAM GenericRead = 0x80000000u;
constexpr REGSAM GenericWrite = 0x40000000u;
constexpr REGSAM GenericExecute = 0x20000000u;
constexpr REGSAM GenericAll = 0x10000000u;

struct OpenKey {
  KeyId key;
  REGSAM access;
};

class HandleTable {
 public:
  HKEY add(OpenKey open) {
    std::lock_guard<std::mutex> guard(lock_);
    // Handle values are small multiples of four, as Windows gives them out,
    // and are never given out twice in a process's life.
    next_ += 4;
    keys_.emplace(next_, open);
    return reinterpret_cast<HKEY>(next_);
  }

  bool find(HKEY hkey, OpenKey &out) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = keys_.find(reinterpret_cast<uintptr_t>(hkey));
    if (found == keys_.end()) return false;
    out = found->second;
    return true;
  }

  bool remove(HKEY hkey) {
    std::lock_guard<std::mutex> guard(lock_);
    return keys_.erase(reinterpret_cast<uintptr_t>(hkey)) != 0;
  }

 private:
  std::mutex lock_;
  std::unordered_map<uintptr_t, OpenKey> keys_;
  uintptr_t next_ = 0x100;
};

HandleTable &handles() {
  static HandleTable table;
  return table;
}

}  // namespace

bool isPredefined(HKEY hkey) {
  return hkey == HKEY_CLASSES_ROOT || hkey == HKEY_LOCAL_MACHINE || hkey == HKEY_CURRENT_USER;
}

bool isKnownHandle(HKEY hkey) {
  OpenKey ignored;
  return isPredefined(hkey) || handles().find(hkey, ignored);
}

REGSAM grantedAccess(REGSAM desired) {
  REGSAM access = desired & ~static_cast<REGSAM>(KEY_WOW64_RES | GenericRead | GenericWrite | GenericExecute |
                                                 GenericAll | MAXIMUM_ALLOWED);
  if (desired & GenericRead) access |= KEY_READ;
  if (desired & GenericWrite) access |= KEY_WRITE;
  if (desired & GenericExecute) access |= KEY_EXECUTE;
  if (desired & (GenericAll | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
  return access;
}

LSTATUS resolveKey(Store &store, HKEY hkey, REGSAM needed, KeyId &key) {
  if (hkey == HKEY_LOCAL_MACHINE) {
    key = LocalMachineId;
    return ERROR_SUCCESS;
  }
  if (hkey == HKEY_CURRENT_USER) {
    key = CurrentUserId;
    return ERROR_SUCCESS;
  }
  if (hkey == HKEY_CLASSES_ROOT) {
    key = store.classesRoot();
    return ERROR_SUCCESS;
  }
  OpenKey open;
  if (!handles().find(hkey, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & needed) != needed) return ERROR_ACCESS_DENIED;
  if (!store.exists(open.key)) return ERROR_KEY_DELETED;
  key = open.key;
  return ERROR_SUCCESS;
}

HKEY openHandle(KeyId key, REGSAM access) { return handles().add(OpenKey{key, access}); }

LSTATUS closeHandle(HKEY hkey) {
  if (isPredefined(hkey)) return ERROR_SUCCESS;
  return handles().remove(hkey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace platform::registry
