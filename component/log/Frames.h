// The three error frames every operation of the component runs in:
// - the member frame of an automation member turns a failure into the
//   member's result code plus the thread's error information;
// - the pass-through frame of an internal operation logs the failure with its
//   own location and passes it on;
// - the swallowing frame logs a failure and lets the operation go on.
#pragma once
#include <windows.h>

#include <atomic>
#include <type_traits>

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

// Records the entry of a framed operation when the trace level asks for it.
inline void entryTrace(const Site &site) {
  if (!entryTraceQuiet.load(std::memory_order_acquire)) traceEntry(site);
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
    try {
      Err frame;
      frame.assignFrom(error, ModuleName, site.unit, site.operation, site.line, 1);
      frame.report();
      return frame.hr;
    } catch (...) {
      return E_FAIL;
    }
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
  } catch (...) {
    throw Err(E_FAIL, "", "general exception in try block", ModuleName, site.unit, site.operation, site.line, 1);
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
