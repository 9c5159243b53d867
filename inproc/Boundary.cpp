#include "Boundary.h"

#include <new>

namespace rv::inproc {

HRESULT resultOfError(DWORD error) {
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (error == ERROR_SUCCESS) return E_FAIL;
  return HRESULT_FROM_WIN32(error);
}

HRESULT caughtResult() noexcept {
  try {
    throw;
  } catch (const Failure &failure) {
    return failure.hr;
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace rv::inproc
