#include "SystemMessage.h"

#include <cstdio>

#include "Utf8Text.h"

namespace commandline {
namespace {

// The system's own text, or nothing.
std::string formatted(DWORD code) {
  LPWSTR buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::basic_string<WCHAR> text(buffer != nullptr ? buffer : OLESTR(""), buffer != nullptr ? length : 0);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return toUtf8(text);
}

std::string reason(DWORD code, const std::string &text) {
  char number[16];
  std::snprintf(number, sizeof number, (code & 0x80000000u) != 0 ? "0x%08lX" : "%lu", static_cast<unsigned long>(code));
  return "error " + std::string(number) + ": " + (text.empty() ? "no text for this code" : text);
}

}  // namespace

std::string systemText(DWORD code) {
  std::string text = formatted(code);
  return text.empty() ? reason(code, text) : text;
}

std::string systemReason(DWORD code) { return reason(code, formatted(code)); }

}  // namespace commandline
