// The automation exception: a failed result from a call into another
// automation object or the platform, with the error information that call
// left behind, if any.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "server/ComPtr.h"

namespace rv {

class ComError {
 public:
  explicit ComError(HRESULT code, ComPtr<IErrorInfo> info = {}) : code_(code), info_(std::move(info)) {}

  // Takes the calling thread's error information along with the code.
  static ComError withThreadErrorInfo(HRESULT code);

  HRESULT code() const { return code_; }
  IErrorInfo *errorInfo() const { return info_.get(); }

  // The system's text for the code, or the fallbacks for codes it has no
  // text for ("IDispatch error #n", "Unknown error 0x...").
  std::string message() const;

 private:
  HRESULT code_;
  ComPtr<IErrorInfo> info_;
};

// Throws a ComError for a failed result; returns the result otherwise.
HRESULT checked(HRESULT hr);

}  // namespace rv
