// Text inside the component is 8-bit, in the system code page; at the
// automation boundary it is UTF-16. These are the only crossings.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <string>

#include "ComPtr.h"

namespace rv {

using WideString = std::basic_string<OLECHAR>;

// A null text reads as empty. Characters the code page lacks become its
// default character.
std::string toAnsi(const OLECHAR *text);
std::string toAnsi(const OLECHAR *text, size_t length);
WideString toWide(const std::string &text);
// Throws std::bad_alloc when the string cannot be allocated.
Bstr toBstr(const std::string &text);

// A text up to its first zero as a string; a null text reads as empty.
inline WideString textOf(const OLECHAR *text) { return text != nullptr ? WideString(text) : WideString(); }

// Whether `text` is `expected`, unit for unit: whole text, letter case
// counted, nothing trimmed. A null text reads as empty.
bool isText(const OLECHAR *text, const OLECHAR *expected);

// printf-style formatting into a string.
std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
std::string formatList(const char *pattern, va_list arguments);

}  // namespace rv
