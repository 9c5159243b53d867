// Lookup in the system message table (system_messages.cpp).
#pragma once

#include <windows.h>

namespace platform::kernel {

// The English text stored for exactly this code, with its trailing "\r\n",
// or nullptr when the table holds none.
const WCHAR *FindSystemMessage(DWORD code);

}  // namespace platform::kernel
