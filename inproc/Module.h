// The state of the module that links the kit: each of our in-process modules
// (the component, the tree publisher, the companion) links its own copy and
// exports nothing but its four entry points, so every module counts its own
// locks. Every live object, every enumerator, every client's reference to a
// class object and every LockServer lock holds the module; while anything
// does, DllCanUnloadNow says no.
#pragma once
#include <windows.h>

#include <string>

#include "rvText.h"

namespace Module {

LONG lock();
LONG unlock();
LONG lockCount();

// DllCanUnloadNow's answer: S_OK when nothing holds the module, else S_FALSE.
HRESULT canUnloadNow();

// The module's own handle, which its resources are loaded from.
HMODULE instance();

// The file the module was loaded from, in the system's form. Throws
// rv::inproc::Failure when the system cannot tell it.
std::basic_string<OLECHAR> path();

}  // namespace Module

namespace rv::inproc {

// UTF-16 text, as the module's registry values, paths and names are.

// The folder of a file path, without its last backslash; empty for a bare name.
Text folderOf(const Text &path);

// A hold on the module for as long as the holder lives: the member or base of
// every object of the module that a client can hold.
class ModuleHold {
 public:
  ModuleHold() { Module::lock(); }
  ModuleHold(const ModuleHold &) { Module::lock(); }
  ModuleHold &operator=(const ModuleHold &) = default;
  ~ModuleHold() { Module::unlock(); }
};

}  // namespace rv::inproc
