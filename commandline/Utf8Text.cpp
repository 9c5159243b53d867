#include "Utf8Text.h"

namespace commandline {

std::string toUtf8(std::basic_string_view<WCHAR> text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::basic_string<WCHAR> fromCodePage(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  std::basic_string<WCHAR> wide(size > 0 ? static_cast<size_t>(size) : 0, 0);
  if (size > 0) MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
  return wide;
}

std::basic_string<WCHAR> fromUtf8(std::string_view text) { return fromCodePage(CP_UTF8, text); }

}  // namespace commandline
