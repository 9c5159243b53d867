#include "SystemMessage.h"

#include "Utf8Text.h"

namespace exporter {

std::string systemReason(DWORD code) {
  LPWSTR buffer = nullptr;
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::basic_string<WCHAR> text =
      buffer != nullptr ? std::basic_string<WCHAR>(reinterpret_cast<const WCHAR *>(buffer), length)
                        : std::basic_string<WCHAR>();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return "error " + std::to_string(code) + ": " + (text.empty() ? "no text for this code" : perfdata::toUtf8(text));
}

}  // namespace exporter
