// Reading the class registrations under HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace platform::com {

using WideText = std::basic_string<WCHAR>;

// The text of a string value of HKEY_CLASSES_ROOT\<subKey> (REG_SZ or
// REG_EXPAND_SZ, taken as written, up to its first NUL); `name` null for the
// key's default value. Nothing when the key or value is missing or holds no
// text; std::bad_alloc when the registry ran out of memory reading it.
std::optional<WideText> readClassesText(const WideText &subKey, LPCWSTR name);

// "CLSID\{...}" for a class identifier.
WideText classKeyPath(REFCLSID rclsid);

}  // namespace platform::com
