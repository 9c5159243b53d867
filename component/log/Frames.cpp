#include "Frames.h"

namespace rv {

namespace {

// The failure a node's transfer handed back on this thread, until the node
// that called it takes it.
struct HandedBack {
  const void *callee = nullptr;
  Err error;
};

thread_local HandedBack handedBack;

}  // namespace

HRESULT handBack(const void *callee, Err &&error) noexcept {
  if (!FAILED(error.hr)) error.hr = E_FAIL;
  const HRESULT hr = error.hr;
  error.setErrorInformation();
  handedBack.error = std::move(error);
  handedBack.callee = callee;
  return hr;
}

void raiseHandedBack(const Site &site, const void *callee, HRESULT hr) {
  if (callee == nullptr || handedBack.callee != callee) raiseWithErrorInfo(site, hr);
  handedBack.callee = nullptr;
  Err error = std::move(handedBack.error);
  // The callee's error information was for other callers; the error goes
  // on as it is, and whoever reports it sets the thread's anew.
  SetErrorInfo(0, nullptr);
  throw error;
}

}  // namespace rv
