// The three error frames every operation of the component runs in:
// - the member frame of an automation member turns a failure into the
//   member's result code plus the thread's error information;
// - the pass-through frame of an internal operation logs the failure with its
//   own location and passes it on;
// - the swallowing frame logs a failure and lets the operation go on.
//
// Running out of memory inside the component throws std::bad_alloc (the
// standard library's containers and strings, and the automation string
// owners of server/ComPtr.h and server/Text.h). Every frame takes it as the
// automation exception for E_OUTOFMEMORY, the one the automation string and
// variant helpers raise when they cannot allocate: the caller sees
// E_OUTOFMEMORY with the system's text for it, not a general exception.
#pragma once
#include <windows.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "Err.h"
#include "logHelperImpl.h"
#include "server/Text.h"

namespace rv {

// True once the trace settings have been read and ask for no entry records:
// the entry of a framed operation then costs one load.
extern std::atomic<bool> entryTraceQuiet;
// Reads the trace settings while they are not read yet, then records the
// entry when the trace level asks for it.
void traceEntry(const Site &site);
// Whether the trace level last read asks for entry records; false while the
// settings could not be read.
bool entryRecordsWanted();

// Records the entry of a framed operation when the trace level asks for it.
inline void entryTrace(const Site &site) {
  if (!entryTraceQuiet.load(std::memory_order_acquire)) traceEntry(site);
}

// The member frame's end for an automation exception: the frame's error
// from it, reported.
inline HRESULT reportComError(const Site &site, const ComError &error) noexcept {
  try {
    Err frame;
    frame.assignFrom(error, ModuleName, site.unit, site.operation, site.line, 1);
    frame.report();
    return frame.hr;
  } catch (...) {
    return E_FAIL;
  }
}

// Runs an automation member's body, which returns the member's result code.
template <typename Body> HRESULT memberFrame(const Site &site, Body &&body) noexcept {
  // The frame's error is made only on the way out of a failure, so that a
  // call that succeeds builds nothing.
  try {
    entryTrace(site);
    return body();
  } catch (Err &e) {
    try {
      Err frame;
      e.log(true, true);
      frame.assign(e.hr, e.source, e.description, ModuleName, site.unit, site.operation, site.line, 1);
      frame.report();
      return frame.hr;
    } catch (...) {
      return E_FAIL;
    }
  } catch (const ComError &error) {
    return reportComError(site, error);
  } catch (const std::bad_alloc &) {
    return reportComError(site, ComError(E_OUTOFMEMORY));
  } catch (...) {
    try {
      Err frame;
      frame.assign(E_FAIL,
                   format("%s::%s::%s::%s::%u", ComponentName, ModuleName, site.unit, site.operation,
                          static_cast<unsigned>(site.line)),
                   "at interface process general exception in try block", ModuleName, site.unit, site.operation,
                   site.line, 1);
      frame.report();
    } catch (...) {
    }
    return E_FAIL;
  }
}

// Runs an internal operation; a failure is logged here and raised again
// carrying this operation's location.
template <typename Body> auto passThrough(const Site &site, Body &&body) -> std::invoke_result_t<Body> {
  entryTrace(site);
  try {
    return body();
  } catch (Err &e) {
    e.log(true, true);
    e.module = ModuleName;
    e.file = fileOfUnit(site.unit);
    e.procedure = site.operation;
    e.line = site.line;
    throw;
  } catch (const ComError &error) {
    Err e;
    e.assignFrom(error, ModuleName, site.unit, site.operation, site.line, 1);
    throw e;
  } catch (const std::bad_alloc &) {
    Err e;
    e.assignFrom(ComError(E_OUTOFMEMORY), ModuleName, site.unit, site.operation, site.line, 1);
    throw e;
  } catch (...) {
    throw Err(E_FAIL, "", "general exception in try block", ModuleName, site.unit, site.operation, site.line, 1);
  }
}

// A failure handed from one node's transfer to the node that called it.
// Nodes call each other's transfers through an interface, so a failure has
// to leave a callee as its result code; the error itself, already logged by
// the callee's pass-through frame and carrying its location, is kept for the
// thread, and the caller raises it again as it stands, as if it had passed
// straight through: each frame on the way logs it once.
//
// Keeps `error` as the failure that `callee` hands back and sets it as the
// thread's error information, for a caller that is not one of this
// component's nodes. Returns the result code the callee answers.
HRESULT handBack(const void *callee, Err &&error) noexcept;

// After a call to `callee` failed with `hr`: raises the error that callee
// handed back, unchanged, or, for a callee that handed none back (an object
// that is not one of ours), an error made from the thread's error
// information at `site`.
[[noreturn]] void raiseHandedBack(const Site &site, const void *callee, HRESULT hr);

inline HRESULT raiseIfFailedFrom(const Site &site, const void *callee, HRESULT hr) {
  if (FAILED(hr)) raiseHandedBack(site, callee, hr);
  return hr;
}

// Runs an internal operation that a node offers through an interface method
// (`callee` is that interface): a pass-through frame whose failure is handed
// back as above rather than thrown.
template <typename Body> HRESULT handingBack(const Site &site, const void *callee, Body &&body) noexcept {
  try {
    passThrough(site, std::forward<Body>(body));
    return S_OK;
  } catch (Err &e) {
    return handBack(callee, std::move(e));
  } catch (...) {
    // Only making the frame's own error can end here, out of memory.
    return E_OUTOFMEMORY;
  }
}

// Runs a block whose failure is logged and then set aside; `frame` keeps what
// failed. Returns whether the block completed.
template <typename Body> bool swallowingFrame(const Site &site, Err &frame, Body &&body) noexcept {
  try {
    body();
    return true;
  } catch (Err &e) {
    try {
      e.log(true, true);
      std::string kept = e.description;
      frame.assign(e.hr, e.source, "Process exception", ModuleName, site.unit, site.operation, site.line, e.level);
      frame.logAndClear();
      frame.description = kept;
    } catch (...) {
    }
  } catch (const ComError &error) {
    try {
      frame.assignFrom(error, ModuleName, site.unit, site.operation, site.line, 1);
      frame.logAndClear();
    } catch (...) {
    }
  } catch (const std::bad_alloc &) {
    try {
      frame.assignFrom(ComError(E_OUTOFMEMORY), ModuleName, site.unit, site.operation, site.line, 1);
      frame.logAndClear();
    } catch (...) {
    }
  } catch (...) {
    try {
      frame.assign(E_FAIL, "", "process general exception", ModuleName, site.unit, site.operation, site.line, 1);
      frame.logAndClear();
    } catch (...) {
    }
  }
  return false;
}

}  // namespace rv
