// The one class of the test in-process server, and the interface through
// which a test reads how many objects the loaded module has made.
#pragma once

#include <windows.h>
#include <objbase.h>

// {7C1D94A2-5E3B-4F60-A1C8-2B9E6D40F713}
static const CLSID CLSID_TestServerObject = {
    0x7C1D94A2, 0x5E3B, 0x4F60, {0xA1, 0xC8, 0x2B, 0x9E, 0x6D, 0x40, 0xF7, 0x13}};

// {7C1D94A3-5E3B-4F60-A1C8-2B9E6D40F713}
static const IID IID_ISerialNumber = {0x7C1D94A3, 0x5E3B, 0x4F60, {0xA1, 0xC8, 0x2B, 0x9E, 0x6D, 0x40, 0xF7, 0x13}};

struct ISerialNumber : public IUnknown {
  // 1 for the first object the module made since it was loaded, 2 for the
  // second, and so on: a module that was unloaded and loaded again starts at
  // 1 again.
  virtual LONG STDMETHODCALLTYPE SerialNumber() = 0;
};
