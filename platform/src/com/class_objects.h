// Class objects that running code registered with CoRegisterClassObject.
#pragma once

#include <objbase.h>

#include "com/apartment.h"

namespace platform::com {

// The class object registered in the apartment for the class in one of the
// given contexts, with a reference for the caller; null when there is none.
IUnknown *findRegisteredClassObject(const Apartment &apartment, REFCLSID rclsid, DWORD context);

}  // namespace platform::com
