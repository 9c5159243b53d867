// The entry boundary of the module kit: what a caller of a COM entry gets
// for each kind of exception thrown inside it, and that nothing thrown gets
// out, not even from the handler that turns a failure into the entry's result.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "Boundary.h"

namespace {

using rv::inproc::boundary;
using rv::inproc::Failure;

TEST(Boundary, EveryExceptionBecomesTheEntrysResult) {
  EXPECT_EQ(S_FALSE, boundary([] { return S_FALSE; }));
  EXPECT_EQ(E_OUTOFMEMORY, boundary([]() -> HRESULT { throw std::bad_alloc(); }));
  EXPECT_EQ(E_ACCESSDENIED, boundary([]() -> HRESULT { throw Failure{E_ACCESSDENIED}; }));
  EXPECT_EQ(E_UNEXPECTED, boundary([]() -> HRESULT { throw std::runtime_error("a fault of ours"); }));
  EXPECT_EQ(E_UNEXPECTED, boundary([]() -> HRESULT { throw 42; }));

  // The handler runs only for what was thrown, and its own throw keeps the
  // result it was handed.
  int handled = 0;
  const auto count = [&](HRESULT hr) {
    ++handled;
    return hr == E_OUTOFMEMORY ? E_FAIL : hr;
  };
  EXPECT_EQ(S_OK, boundary([] { return S_OK; }, count));
  EXPECT_EQ(0, handled);
  EXPECT_EQ(E_FAIL, boundary([]() -> HRESULT { throw std::bad_alloc(); }, count));
  EXPECT_EQ(1, handled);
  EXPECT_EQ(E_OUTOFMEMORY,
            boundary([]() -> HRESULT { throw std::bad_alloc(); }, [](HRESULT) -> HRESULT { throw std::bad_alloc(); }));
}

TEST(Boundary, SystemErrorsOfRunningOutOfMemoryAreOne) {
  EXPECT_EQ(E_OUTOFMEMORY, rv::inproc::resultOfError(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(E_OUTOFMEMORY, rv::inproc::resultOfError(ERROR_OUTOFMEMORY));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), rv::inproc::resultOfError(ERROR_ACCESS_DENIED));
  // A failed call that left no code is still a failure.
  EXPECT_EQ(E_FAIL, rv::inproc::resultOfError(ERROR_SUCCESS));
}

}  // namespace
