// Module-wide state: the count of reasons the module must stay loaded.
#pragma once
#include <windows.h>

namespace Module {

// Every live object and every outstanding LockServer lock holds the module.
LONG lock();
LONG unlock();
LONG lockCount();

}
