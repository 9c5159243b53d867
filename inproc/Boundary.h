// The boundary of every COM entry of our modules: nothing thrown in C++
// crosses into the caller (a script engine, a server), whose runtime would
// terminate on it. Running out of memory (std::bad_alloc, from the standard
// library's strings and containers) becomes E_OUTOFMEMORY, the result the
// automation helpers give for it; anything else thrown is a fault of ours
// and becomes E_UNEXPECTED.
#pragma once
#include <windows.h>

namespace rv::inproc {

// A failure that a module's code raises with the result its entry gives for it.
struct Failure {
  HRESULT hr;
};

// The result for the system error code of a call that failed: E_OUTOFMEMORY
// for the codes of running out of memory, whatever call gave them, E_FAIL
// when the call left no code, else the code as an HRESULT.
HRESULT resultOfError(DWORD error);

// The result for the exception being handled: a Failure's own, E_OUTOFMEMORY
// for std::bad_alloc, E_UNEXPECTED for anything else. Call only inside a
// catch block.
HRESULT caughtResult() noexcept;

// Runs `body`, which returns the entry's result.
template <typename Body> HRESULT boundary(Body &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return caughtResult();
  }
}

// As boundary, and when something was thrown, `caught` turns its result into
// the entry's (to leave error information, say); a throw in `caught` keeps
// the result as it was.
template <typename Body, typename Caught> HRESULT boundary(Body &&body, Caught &&caught) noexcept {
  HRESULT hr;
  try {
    return body();
  } catch (...) {
    hr = caughtResult();
  }
  try {
    return caught(hr);
  } catch (...) {
    return hr;
  }
}

}  // namespace rv::inproc
