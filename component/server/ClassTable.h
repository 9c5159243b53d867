// The seven creatable classes, in the order registration walks them and the
// class object lookup searches them: each with its name, the registration
// script among the module's resources and its class object.
#pragma once
#include <windows.h>

#include <span>

#include "ClassObject.h"

namespace rv {

struct ClassRow {
  const CLSID *clsid;
  const char *name;
  UINT registrationScript;
  mutable inproc::ClassObject classObject;
};

inline constexpr size_t ClassCount = 7;

std::span<const ClassRow, ClassCount> classTable();

}  // namespace rv
