// Open registry keys of this process: what an HKEY stands for, and the
// rights it was opened with.
#pragma once

#include "registry/store.h"

namespace platform::registry {

// Looks hkey up inside a transaction: the predefined roots, or a key this
// process opened. ERROR_INVALID_HANDLE for anything else, ERROR_ACCESS_DENIED
// when the handle lacks one of the needed rights, ERROR_KEY_DELETED when the
// key was deleted since it was opened.
LSTATUS resolveKey(Store &store, HKEY hkey, REGSAM needed, KeyId &key);

// Gives out a new handle for key (after its transaction has committed).
HKEY openHandle(KeyId key, REGSAM access);

// ERROR_SUCCESS for a handle that may be closed (predefined roots included).
LSTATUS closeHandle(HKEY hkey);

bool isPredefined(HKEY hkey);
bool isKnownHandle(HKEY hkey);

// The rights a request stands for, generic rights mapped to key rights.
REGSAM grantedAccess(REGSAM desired);

}  // namespace platform::registry
