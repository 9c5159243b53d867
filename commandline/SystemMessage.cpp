#include "SystemMessage.h"

#include <cstdio>

namespace commandline {

std::string systemReason(DWORD code) {
  LPWSTR buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  int units = static_cast<int>(buffer != nullptr ? length : 0);
  while (units > 0 && (buffer[units - 1] == '\r' || buffer[units - 1] == '\n' || buffer[units - 1] == ' ')) --units;
  std::string text;
  if (units > 0) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, units, nullptr, 0, nullptr, nullptr);
    text.resize(size > 0 ? static_cast<size_t>(size) : 0);
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, buffer, units, text.data(), size, nullptr, nullptr);
  }
  LocalFree(buffer);
  char number[16];
  std::snprintf(number, sizeof number, (code & 0x80000000u) != 0 ? "0x%08lX" : "%lu", static_cast<unsigned long>(code));
  return "error " + std::string(number) + ": " + (text.empty() ? "no text for this code" : text);
}

}  // namespace commandline
