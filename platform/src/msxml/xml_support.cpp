#include "msxml/xml_support.h"

#include "kernel/paths.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <mutex>

namespace platform::msxml {

namespace {

void discardGeneric(void *, const char *, ...) {}
void discardStructured(void *, xmlErrorPtr) {}

}  // namespace

void initializeLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

// libxml2 keeps these handlers per thread, so saving and restoring them here
// touches no other thread's settings.
QuietLibxml::QuietLibxml()
    : genericHandler_(xmlGenericError),
      genericContext_(xmlGenericErrorContext),
      structuredHandler_(xmlStructuredError),
      structuredContext_(xmlStructuredErrorContext) {
  xmlSetGenericErrorFunc(nullptr, discardGeneric);
  xmlSetStructuredErrorFunc(nullptr, discardStructured);
}

QuietLibxml::~QuietLibxml() {
  xmlSetGenericErrorFunc(genericContext_, genericHandler_);
  xmlSetStructuredErrorFunc(structuredContext_, structuredHandler_);
}

std::basic_string<WCHAR> wideFromUtf8(const char *text, size_t length) {
  if (text == nullptr) return {};
  return kernel::wideFromUtf8(std::string_view(text, std::min<size_t>(length, INT_MAX)));
}

BSTR bstrFromUtf8(const char *text, size_t length) {
  if (text == nullptr || length == 0) return SysAllocStringLen(nullptr, 0);
  if (length > INT_MAX) return nullptr;
  if (kernel::isAscii(text, length)) {
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (out != nullptr) std::copy(text, text + length, out);
    return out;
  }
  int size = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
  if (size <= 0) return SysAllocStringLen(nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (out != nullptr) MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), out, size);
  return out;
}

BSTR bstrFromUtf8(const xmlChar *text) {
  const char *chars = reinterpret_cast<const char *>(text);
  return bstrFromUtf8(chars, chars == nullptr ? 0 : strlen(chars));
}

std::string utf8FromBstr(BSTR text) { return kernel::utf8FromWide(text, SysStringLen(text)); }

HRESULT returnText(BSTR *out, BSTR text) {
  *out = text;
  return text != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT returnUtf8(BSTR *out, const xmlChar *text) { return returnText(out, bstrFromUtf8(text)); }

}  // namespace platform::msxml
