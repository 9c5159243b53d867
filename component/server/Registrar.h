// Runs registration scripts in the registrar's key/value script form:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'PerfMgr Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Both'
//               }
//           }
//       }
//   }
//
// Registering creates every key and value; a ForceRemove key is deleted with
// its subtree first. Unregistering deletes every key not marked NoRemove with
// its subtree, and goes into NoRemove keys. Variables in percent signs are
// replaced before the script runs, each apostrophe of a value doubled: the
// variables stand inside quoted texts, where '' is one apostrophe, so that a
// module in C:\Users\O'Brien is registered by its whole path.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "Text.h"

namespace rv {

using ScriptVariables = std::vector<std::pair<Text, Text>>;

// Runs script text. Returns the first failing registry call's result as an
// HRESULT, or DISP_E_EXCEPTION for a script that does not parse (nothing is
// written then). Unregistering ignores the failures of single steps.
HRESULT runRegistrationScript(const Text &script, const ScriptVariables &variables, bool registering);

// Runs the REGISTRY resource `id` of `module`.
HRESULT runRegistrationResource(HMODULE module, UINT id, const ScriptVariables &variables, bool registering);

}  // namespace rv
