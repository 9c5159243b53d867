// Text inside the component is 8-bit, in the system code page; at the
// automation boundary it is UTF-16. These are the only crossings.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <string>

#include "ComPtr.h"
#include "rvText.h"

namespace rv {

// A null text reads as empty. Characters the code page lacks become its
// default character.
std::string toAnsi(const OLECHAR *text);
std::string toAnsi(const OLECHAR *text, size_t length);
Text toWide(const std::string &text);
// Throws std::bad_alloc when the string cannot be allocated.
Bstr toBstr(const std::string &text);

// A text up to its first zero as a string; a null text reads as empty.
inline Text textOf(const OLECHAR *text) { return text != nullptr ? Text(text) : Text(); }

// Whether `text` is `expected`, unit for unit: whole text, letter case
// counted, nothing trimmed. A null text reads as empty.
bool isText(const OLECHAR *text, const OLECHAR *expected);

// printf-style formatting into a string.
std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
std::string formatList(const char *pattern, va_list arguments);

}  // namespace rv
