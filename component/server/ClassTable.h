// The seven creatable classes, in the order registration walks them and the
// class object lookup searches them.
#pragma once
#include <windows.h>

#include <span>

namespace rv {

using InstanceCreator = HRESULT (*)(IUnknown *outer, REFIID riid, void **object);

struct ClassRow {
  const CLSID *clsid;
  const char *name;
  const OLECHAR *progId;
  UINT registrationScript;
  const IID *defaultInterface;
  InstanceCreator create;
};

inline constexpr size_t ClassCount = 7;

std::span<const ClassRow, ClassCount> classTable();

// The row of a class identifier, or null.
const ClassRow *findClass(REFCLSID clsid);

}  // namespace rv
