#include "Text.h"

#include <cstdio>
#include <new>
#include <vector>

namespace rv {

std::string toAnsi(const OLECHAR *text) {
  return text ? toAnsi(text, static_cast<size_t>(lstrlenW(text))) : std::string();
}

std::string toAnsi(const OLECHAR *text, size_t length) {
  if (text == nullptr || length == 0) return {};
  const int count = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, count, out.data(), size, nullptr, nullptr);
  return out;
}

Text toWide(const std::string &text) {
  if (text.empty()) return {};
  const int count = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
  if (size <= 0) return {};
  Text out(static_cast<size_t>(size), 0);
  MultiByteToWideChar(CP_ACP, 0, text.data(), count, out.data(), size);
  return out;
}

bool isText(const OLECHAR *text, const OLECHAR *expected) {
  if (text == nullptr) return *expected == 0;
  for (; *text != 0 && *text == *expected; ++text, ++expected) {
  }
  return *text == *expected;
}

Bstr toBstr(const std::string &text) {
  const Text wide = toWide(text);
  Bstr copy = Bstr::attach(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
  if (copy.get() == nullptr) throw std::bad_alloc();
  return copy;
}

std::string formatList(const char *pattern, va_list arguments) {
  va_list measure;
  va_copy(measure, arguments);
  const int size = std::vsnprintf(nullptr, 0, pattern, measure);
  va_end(measure);
  if (size <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(size) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), pattern, arguments);
  return std::string(buffer.data(), static_cast<size_t>(size));
}

std::string format(const char *pattern, ...) {
  va_list arguments;
  va_start(arguments, pattern);
  std::string out = formatList(pattern, arguments);
  va_end(arguments);
  return out;
}

}  // namespace rv
