// The process's table of kernel object handles. A handle value is a small
// multiple of four, as on Windows; closing a handle frees its value for the
// next object. An object lives while its handle is open or a call that looked
// it up still uses it.
#pragma once

#include <windows.h>

#include <memory>

namespace platform::kernel {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// A new handle for `object`, or NULL (with ERROR_NOT_ENOUGH_MEMORY) when the
// table is full.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);

// The object of `handle` if it is open and of type T; otherwise null, with
// ERROR_INVALID_HANDLE as the last error.
template <typename T> std::shared_ptr<T> objectOf(HANDLE handle);

std::shared_ptr<KernelObject> anyObjectOf(HANDLE handle);

template <typename T> std::shared_ptr<T> objectOf(HANDLE handle) {
  std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(anyObjectOf(handle));
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace platform::kernel
