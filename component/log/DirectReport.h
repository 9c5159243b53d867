// Argument errors found at the start of a member are reported directly:
// error information from the module's string table or a given text, no Err,
// no log record.
#pragma once
#include <windows.h>

#include <string>

namespace rv {

// The description is string `stringId` of the module's string table
// ("Unknown Error" when it has none); a result of 0 becomes 0x80040000 + id.
HRESULT reportDirect(REFCLSID clsid, UINT stringId, REFIID iid, HRESULT hr);
HRESULT reportDirect(REFCLSID clsid, const std::string &description, REFIID iid, HRESULT hr);

}  // namespace rv
