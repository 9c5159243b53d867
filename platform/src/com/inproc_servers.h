// In-process server modules loaded for class activation.
//
// The process keeps one table of loaded modules, keyed by POSIX path; each
// apartment keeps the list of modules it activated from. A module is asked
// whether it can be unloaded (DllCanUnloadNow) only by CoFreeUnusedLibraries
// in an apartment that uses it, and unloaded when no apartment uses it any
// more.
#pragma once

#include <objbase.h>

#include <memory>
#include <string>

#include "com/apartment.h"

namespace platform::com {

using ModulePath = std::basic_string<WCHAR>;

// Loads the module named by an InprocServer32 value (Windows or POSIX path)
// for the apartment, unless it already is, and asks it for the class object.
// `multithreaded` tells whether the class's threading model lets any thread
// call it ("Both", "Free", "Neutral"); such modules are unloaded after a delay.
// Results as Windows gives them under Wine: E_ACCESSDENIED when the module
// cannot be loaded, CO_E_DLLNOTFOUND when it has no DllGetClassObject, else
// the module's own answer.
// `path` is the value as a POSIX path (see posixModulePath); empty for an
// empty value.
HRESULT getInprocClassObject(const std::shared_ptr<Apartment> &apartment, const std::string &path, bool multithreaded,
                             REFCLSID rclsid, REFIID riid, void **ppv);

// An InprocServer32 value as the POSIX path of the module it names.
std::string posixModulePath(const ModulePath &modulePath);

// Asks the apartment's modules whether they can be unloaded and unloads
// those that can, at once or once `delay` (milliseconds; INFINITE for the
// default) has passed since they first said so.
void freeUnusedServers(const std::shared_ptr<Apartment> &apartment, DWORD delay);

// The end of an apartment: modules that can be unloaded now are; the others
// stay loaded, because objects of theirs are still alive, but the apartment
// no longer holds them.
void endApartmentServers(const std::shared_ptr<Apartment> &apartment);

}  // namespace platform::com
