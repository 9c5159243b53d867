// wsprintfA/W and wvsprintfA/W: Windows' own small printf. No floating point,
// no '+' or ' ' flags and no '*' width; an unknown conversion writes its
// letter. The output holds at most 1024 units, terminator included.
#include <windows.h>

#include <string>

#include "kernel/codepage.h"

namespace platform::kernel {
namespace {

constexpr int output_limit = 1024;

template <typename Char> class Writer {
 public:
  explicit Writer(Char *buffer) : buffer_(buffer) {}

  void Put(Char c) {
    if (count_ < output_limit - 1)
      buffer_[count_++] = c;
    else
      truncated_ = true;
  }

  void Repeat(Char c, int times) {
    for (int i = 0; i < times; ++i) Put(c);
  }

  // Terminates the text; the result is what Windows returns, which is the
  // whole limit when the text had to be cut.
  int Finish() {
    buffer_[count_] = 0;
    return truncated_ ? output_limit : count_;
  }

 private:
  Char *buffer_;
  int count_ = 0;
  bool truncated_ = false;
};

struct Conversion {
  bool left = false;
  bool zero = false;
  bool prefix = false;
  int width = 0;
  int precision = -1;
  enum { Default, Short, Long, Wide64 } size = Default;
};

// Whether a string or character conversion takes WCHAR text: the size letter
// decides, else %s follows the function and %S takes the other kind.
template <typename Char> bool TakesWide(const Conversion &conversion, bool capital) {
  if (conversion.size == Conversion::Short) return false;
  if (conversion.size == Conversion::Long) return true;
  return (sizeof(Char) == sizeof(WCHAR)) != capital;
}

template <typename Char> std::basic_string<Char> ToOutputText(const char *text, size_t length) {
  if constexpr (sizeof(Char) == sizeof(WCHAR))
    return AnsiToWide(text, length);
  else
    return std::string(text, length);
}

template <typename Char> std::basic_string<Char> ToOutputText(const WCHAR *text, size_t length) {
  if constexpr (sizeof(Char) == sizeof(WCHAR))
    return std::basic_string<WCHAR>(text, length);
  else
    return WideToAnsi(text, length);
}

template <typename Char, typename Text>
void WriteText(Writer<Char> &out, const Conversion &conversion, const Text &text) {
  int length = static_cast<int>(text.size());
  if (conversion.precision >= 0 && conversion.precision < length) length = conversion.precision;
  int padding = conversion.width > length ? conversion.width - length : 0;
  if (!conversion.left) out.Repeat(conversion.zero ? '0' : ' ', padding);
  for (int i = 0; i < length; ++i) out.Put(text[i]);
  if (conversion.left) out.Repeat(' ', padding);
}

template <typename Char>
void WriteNumber(Writer<Char> &out, const Conversion &conversion, ULONGLONG magnitude, bool negative, int base,
                 bool upper) {
  const char *digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  int count = 0;
  do {
    digits[count++] = digit_set[magnitude % base];
    magnitude /= base;
  } while (magnitude);
  int precision_zeros = conversion.precision > count ? conversion.precision - count : 0;
  int body = count + precision_zeros + (negative ? 1 : 0);
  int padding = conversion.width > body ? conversion.width - body : 0;
  bool zero_pad = conversion.zero && !conversion.left;
  if (!zero_pad && !conversion.left) out.Repeat(' ', padding);
  if (negative) out.Put('-');
  if (conversion.prefix && base == 16) {
    out.Put('0');
    out.Put(upper ? 'X' : 'x');
  }
  if (zero_pad) out.Repeat('0', padding);
  out.Repeat('0', precision_zeros);
  while (count) out.Put(digits[--count]);
  if (conversion.left) out.Repeat(' ', padding);
}

template <typename Char> int Format(Char *buffer, const Char *format, va_list *args) {
  Writer<Char> out(buffer);
  const Char *p = format;
  while (*p) {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put(*p++);
      continue;
    }
    Conversion conversion;
    for (;; ++p) {
      if (*p == '-')
        conversion.left = true;
      else if (*p == '0')
        conversion.zero = true;
      else if (*p == '#')
        conversion.prefix = true;
      else
        break;
    }
    while (*p >= '0' && *p <= '9') conversion.width = conversion.width * 10 + (*p++ - '0');
    if (*p == '.') {
      conversion.precision = 0;
      for (++p; *p >= '0' && *p <= '9'; ++p) conversion.precision = conversion.precision * 10 + (*p - '0');
    }
    if (*p == 'l' || *p == 'w') {
      conversion.size = Conversion::Long;
      ++p;
    } else if (*p == 'h') {
      conversion.size = Conversion::Short;
      ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      conversion.size = Conversion::Wide64;
      p += 3;
    }
    if (!*p) break;
    Char type = *p++;
    switch (type) {
      case 'c':
      case 'C': {
        int c = va_arg(*args, int);
        if (TakesWide<Char>(conversion, type == 'C')) {
          WCHAR wide = static_cast<WCHAR>(c);
          WriteText(out, conversion, ToOutputText<Char>(&wide, 1));
        } else {
          char narrow = static_cast<char>(c);
          WriteText(out, conversion, ToOutputText<Char>(&narrow, 1));
        }
        break;
      }
      case 's':
      case 'S': {
        static const char null_text[] = "(null)";
        if (TakesWide<Char>(conversion, type == 'S')) {
          const WCHAR *text = va_arg(*args, const WCHAR *);
          WriteText(out, conversion,
                    text ? ToOutputText<Char>(text, lstrlenW(text)) : ToOutputText<Char>(null_text, 6));
        } else {
          const char *text = va_arg(*args, const char *);
          WriteText(out, conversion, ToOutputText<Char>(text ? text : null_text, text ? lstrlenA(text) : 6));
        }
        break;
      }
      case 'd':
      case 'i': {
        LONGLONG value = conversion.size == Conversion::Wide64 ? va_arg(*args, LONGLONG) : va_arg(*args, int);
        ULONGLONG magnitude = value < 0 ? 0 - static_cast<ULONGLONG>(value) : static_cast<ULONGLONG>(value);
        WriteNumber(out, conversion, magnitude, value < 0, 10, false);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        ULONGLONG value =
            conversion.size == Conversion::Wide64 ? va_arg(*args, ULONGLONG) : va_arg(*args, unsigned int);
        WriteNumber(out, conversion, value, false, type == 'u' ? 10 : 16, type == 'X');
        break;
      }
      case 'p': {
        Conversion pointer;
        pointer.zero = true;
        pointer.width = 2 * sizeof(void *);
        WriteNumber(out, pointer, reinterpret_cast<ULONG_PTR>(va_arg(*args, void *)), false, 16, true);
        break;
      }
      default: out.Put(type); break;
    }
  }
  return out.Finish();
}

// Formats from a list of arguments that the caller still owns: the list is
// walked through a copy.
template <typename Char> int FormatList(Char *out, const Char *format, va_list list) {
  va_list args;
  va_copy(args, list);
  int result = Format(out, format, &args);
  va_end(args);
  return result;
}

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" {

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) { return FormatList(lpOut, lpFmt, arglist); }

int WINAPI wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist) { return FormatList(lpOut, lpFmt, arglist); }

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  int result = FormatList(lpOut, lpFmt, args);
  va_end(args);
  return result;
}

int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  int result = FormatList(lpOut, lpFmt, args);
  va_end(args);
  return result;
}

}  // extern "C"
