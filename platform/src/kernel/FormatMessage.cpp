// FormatMessageA and FormatMessageW: message lookup in the system table, or a
// string given by the caller, then expansion of the insert sequences
// (%1..%99 with an optional !printf-format!, %0, %n, %r, %t, %%, ...) and the
// optional line-width control. The work is done in UTF-16; the 8-bit form
// converts through the system code page on the way in and out.
#include <windows.h>

#include <stdio.h>

#include <new>
#include <string>
#include <vector>

#include "kernel/codepage.h"
#include "kernel/system_messages.h"

namespace platform::kernel {
namespace {

using WideString = std::basic_string<WCHAR>;

// A failure of the expansion, carrying the system error code to report.
struct FormatError {
  DWORD code;
};

// The insert arguments: an array of pointer-sized values, or a va_list whose
// values are taken in order as they are first needed and kept, so that
// inserts may refer to them in any order.
class Arguments {
 public:
  Arguments(va_list *list, bool is_array)
      : list_(is_array ? nullptr : list), array_(is_array ? reinterpret_cast<const DWORD_PTR *>(list) : nullptr) {}

  bool Present() const { return list_ || array_; }

  DWORD_PTR Get(int number) {
    if (array_) return array_[number - 1];
    while (taken_.size() < static_cast<size_t>(number)) taken_.push_back(va_arg(*list_, DWORD_PTR));
    return taken_[number - 1];
  }

 private:
  va_list *list_;
  const DWORD_PTR *array_;
  std::vector<DWORD_PTR> taken_;
};

WideString Widen(const char *text) { return AnsiToWide(text, static_cast<size_t>(lstrlenA(text))); }

// Expands one insert with its printf-style format (without the '!' marks).
// Strings and characters follow the calling form: %s is WCHAR text for
// FormatMessageW and 8-bit text for FormatMessageA, %S the other kind, and
// the size letters h and l choose explicitly.
WideString ExpandInsert(const WideString &format, Arguments &args, int number, bool ansi_caller) {
  size_t i = 0;
  std::string flags;
  while (i < format.size() &&
         (format[i] == '-' || format[i] == '+' || format[i] == ' ' || format[i] == '0' || format[i] == '#'))
    flags += static_cast<char>(format[i++]);
  int width = -1, precision = -1;
  auto read_count = [&](int &value) {
    if (i < format.size() && format[i] == '*') {
      value = static_cast<int>(args.Get(number++));
      ++i;
      return;
    }
    if (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      value = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') value = value * 10 + (format[i++] - '0');
    }
  };
  read_count(width);
  if (i < format.size() && format[i] == '.') {
    ++i;
    precision = 0;
    read_count(precision);
  }
  enum { Default, Short, Long, Wide64 } size = Default;
  if (format.compare(i, 3, u"I64") == 0 || format.compare(i, 2, u"ll") == 0) {
    size = Wide64;
    i += format[i] == 'I' ? 3 : 2;
  } else if (format.compare(i, 3, u"I32") == 0) {
    i += 3;
  } else if (i < format.size() && (format[i] == 'l' || format[i] == 'w')) {
    size = Long;
    ++i;
  } else if (i < format.size() && format[i] == 'h') {
    size = Short;
    ++i;
  }
  if (i + 1 != format.size()) throw FormatError{ERROR_INVALID_PARAMETER};
  const WCHAR type = format[i];
  const DWORD_PTR value = args.Get(number);
  const bool left = flags.find('-') != std::string::npos;

  auto pad = [&](WideString text) {
    if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(static_cast<size_t>(precision));
    if (width > 0 && text.size() < static_cast<size_t>(width)) {
      WideString padding(static_cast<size_t>(width) - text.size(), u' ');
      text = left ? text + padding : padding + text;
    }
    return text;
  };
  auto takes_wide = [&](bool capital) {
    if (size == Short) return false;
    if (size == Long) return true;
    return ansi_caller == capital;
  };

  switch (type) {
    case 's':
    case 'S': {
      if (!value) return pad(u"(null)");
      if (takes_wide(type == 'S')) return pad(WideString(reinterpret_cast<const WCHAR *>(value)));
      return pad(Widen(reinterpret_cast<const char *>(value)));
    }
    case 'c':
    case 'C': {
      if (takes_wide(type == 'C')) return pad(WideString(1, static_cast<WCHAR>(value)));
      char narrow = static_cast<char>(value);
      return pad(AnsiToWide(&narrow, 1));
    }
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
    case 'p': {
      // Numbers are formatted by the C library with a 64-bit argument whose
      // value has been cut to the size Windows reads.
      char text[128];
      const bool is_signed = type == 'd' || type == 'i';
      long long number_value;
      if (type == 'p') {
        snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void *)),
                 static_cast<unsigned long long>(value));
        return pad(Widen(text));
      }
      if (size == Wide64)
        number_value = static_cast<long long>(value);
      else if (size == Short)
        number_value = is_signed ? static_cast<long long>(static_cast<short>(value))
                                 : static_cast<long long>(static_cast<unsigned short>(value));
      else
        number_value = is_signed ? static_cast<long long>(static_cast<int>(value))
                                 : static_cast<long long>(static_cast<unsigned int>(value));
      std::string printf_format = "%" + flags;
      if (width >= 0) printf_format += std::to_string(width);
      if (precision >= 0) printf_format += "." + std::to_string(precision);
      printf_format += "ll";
      printf_format += static_cast<char>(type);
      snprintf(text, sizeof text, printf_format.c_str(), number_value);
      return Widen(text);
    }
    default: throw FormatError{ERROR_INVALID_PARAMETER};
  }
}

// Collects the output and applies the line-width rule: with a width, a line
// that reaches it is broken at its last blank (the blank becomes the break),
// or where it stands when it has none.
class MessageOutput {
 public:
  explicit MessageOutput(DWORD width) : width_(width) {}

  void Put(WCHAR c) {
    text_ += c;
    if (width_ == 0 || width_ == FORMAT_MESSAGE_MAX_WIDTH_MASK || text_.size() - line_start_ < width_) return;
    size_t blank = text_.find_last_of(u' ');
    if (blank != WideString::npos && blank >= line_start_) {
      text_.replace(blank, 1, u"\r\n");
      line_start_ = blank + 2;
    } else {
      text_ += u"\r\n";
      line_start_ = text_.size();
    }
  }

  void Put(const WideString &text) {
    for (WCHAR c : text) Put(c);
  }

  void HardBreak() {
    text_ += u"\r\n";
    line_start_ = text_.size();
  }

  // A line break of the message text itself: kept without a width, a blank
  // with one.
  void SourceBreak() {
    if (width_ == 0)
      HardBreak();
    else
      Put(u' ');
  }

  const WideString &Text() const { return text_; }

 private:
  DWORD width_;
  WideString text_;
  size_t line_start_ = 0;
};

bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

WideString Expand(const WCHAR *message, DWORD flags, Arguments &args, bool ansi_caller) {
  const bool ignore_inserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  MessageOutput out(flags & FORMAT_MESSAGE_MAX_WIDTH_MASK);
  const WCHAR *p = message;
  while (*p) {
    if (*p == '\r' || *p == '\n') {
      p += (p[0] == '\r' && p[1] == '\n') ? 2 : 1;
      out.SourceBreak();
      continue;
    }
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    const WCHAR *sequence = p++;
    if (!*p) {
      if (!ignore_inserts) throw FormatError{ERROR_INVALID_PARAMETER};
      out.Put(u'%');
      break;
    }
    if (IsDigit(*p) && *p != '0') {
      int number = *p++ - '0';
      if (IsDigit(*p)) number = number * 10 + (*p++ - '0');
      WideString format = u"s";
      if (*p == '!') {
        const WCHAR *end = p + 1;
        while (*end && *end != '!') ++end;
        if (!*end) throw FormatError{ERROR_INVALID_PARAMETER};
        format.assign(p + 1, end);
        p = end + 1;
      }
      if (ignore_inserts) {
        out.Put(WideString(sequence, p));
        continue;
      }
      if (!args.Present()) throw FormatError{ERROR_INVALID_PARAMETER};
      out.Put(ExpandInsert(format, args, number, ansi_caller));
      continue;
    }
    WCHAR code = *p++;
    switch (code) {
      case '0': return out.Text();
      case 'n': out.HardBreak(); break;
      case 'r': out.Put(u'\r'); break;
      case 't': out.Put(u'\t'); break;
      case '%':
        if (ignore_inserts) out.Put(u'%');
        out.Put(u'%');
        break;
      default: out.Put(code); break;
    }
  }
  return out.Text();
}

bool IsSystemLanguage(DWORD language) {
  WORD primary = PRIMARYLANGID(language);
  return language == 0 || primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

// The system's text for a code; a result code of facility Win32 shares the
// text of its system error code.
const WCHAR *LookUpSystemMessage(DWORD code, DWORD language) {
  // The system table is English only: another language has no table at all.
  if (!IsSystemLanguage(language)) throw FormatError{ERROR_RESOURCE_LANG_NOT_FOUND};
  const WCHAR *text = FindSystemMessage(code);
  if (!text && HRESULT_FACILITY(code) == FACILITY_WIN32 && (code & 0x80000000u))
    text = FindSystemMessage(HRESULT_CODE(code));
  if (!text) throw FormatError{ERROR_MR_MID_NOT_FOUND};
  return text;
}

WideString FindMessage(DWORD flags, const WideString *given, DWORD message_id, DWORD language) {
  if (flags & FORMAT_MESSAGE_FROM_STRING) return *given;
  if (!(flags & (FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM))) throw FormatError{ERROR_INVALID_PARAMETER};
  // Modules of the platform carry no message tables, so a module search
  // finds nothing and falls through to the system table when that is asked
  // for too.
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM)) throw FormatError{ERROR_RESOURCE_DATA_NOT_FOUND};
  return LookUpSystemMessage(message_id, language);
}

// Stores the result as FormatMessage does: into the caller's buffer, or into
// a LocalAlloc block of at least size units when asked to allocate.
template <typename Char> DWORD Deliver(const std::basic_string<Char> &result, DWORD flags, Char *buffer, DWORD size) {
  const size_t needed = result.size() + 1;
  Char *target = buffer;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t units = needed > size ? needed : size;
    target = static_cast<Char *>(LocalAlloc(LMEM_FIXED, units * sizeof(Char)));
    if (!target) return 0;
    *reinterpret_cast<Char **>(buffer) = target;
  } else if (needed > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  result.copy(target, result.size());
  target[result.size()] = 0;
  return static_cast<DWORD>(result.size());
}

template <typename Char>
DWORD FormatMessageCommon(DWORD flags, LPCVOID source, DWORD message_id, DWORD language, Char *buffer, DWORD size,
                          va_list *arguments) {
  constexpr bool ansi = sizeof(Char) == 1;
  if (!buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<Char **>(buffer) = nullptr;
  try {
    WideString given;
    if (flags & FORMAT_MESSAGE_FROM_STRING) {
      if (!source) throw FormatError{ERROR_INVALID_PARAMETER};
      if constexpr (ansi)
        given = Widen(static_cast<const char *>(source));
      else
        given = static_cast<const WCHAR *>(source);
    }
    WideString message = FindMessage(flags, &given, message_id, language);
    Arguments args(arguments, (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
    WideString result = Expand(message.c_str(), flags, args, ansi);
    if (result.empty()) return 0;
    if constexpr (ansi)
      return Deliver(WideToAnsi(result.data(), result.size()), flags, buffer, size);
    else
      return Deliver(result, flags, buffer, size);
  } catch (const FormatError &error) {
    SetLastError(error.code);
    return 0;
  } catch (const std::bad_alloc &) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" {

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                            DWORD nSize, va_list *Arguments) {
  return FormatMessageCommon(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                            DWORD nSize, va_list *Arguments) {
  return FormatMessageCommon(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}

}  // extern "C"
