#include "MessageText.h"

#include <iterator>

#include "server/Text.h"

namespace rv {

namespace {

struct SocketErrorName {
  int code;
  const char *name;
};

// The published Windows Sockets error constants.
constexpr SocketErrorName socketErrorNames[] = {
    {10004, "WSAEINTR"},
    {10009, "WSAEBADF"},
    {10013, "WSAEACCES"},
    {10014, "WSAEFAULT"},
    {10022, "WSAEINVAL"},
    {10024, "WSAEMFILE"},
    {10035, "WSAEWOULDBLOCK"},
    {10036, "WSAEINPROGRESS"},
    {10037, "WSAEALREADY"},
    {10038, "WSAENOTSOCK"},
    {10039, "WSAEDESTADDRREQ"},
    {10040, "WSAEMSGSIZE"},
    {10041, "WSAEPROTOTYPE"},
    {10042, "WSAENOPROTOOPT"},
    {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"},
    {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"},
    {10047, "WSAEAFNOSUPPORT"},
    {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"},
    {10050, "WSAENETDOWN"},
    {10051, "WSAENETUNREACH"},
    {10052, "WSAENETRESET"},
    {10053, "WSAECONNABORTED"},
    {10054, "WSAECONNRESET"},
    {10055, "WSAENOBUFS"},
    {10056, "WSAEISCONN"},
    {10057, "WSAENOTCONN"},
    {10058, "WSAESHUTDOWN"},
    {10059, "WSAETOOMANYREFS"},
    {10060, "WSAETIMEDOUT"},
    {10061, "WSAECONNREFUSED"},
    {10062, "WSAELOOP"},
    {10063, "WSAENAMETOOLONG"},
    {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"},
    {10066, "WSAENOTEMPTY"},
    {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},
    {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},
    {10071, "WSAEREMOTE"},
    {10091, "WSASYSNOTREADY"},
    {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WSANOTINITIALISED"},
    {10101, "WSAEDISCON"},
    {10102, "WSAENOMORE"},
    {10103, "WSAECANCELLED"},
    {10104, "WSAEINVALIDPROCTABLE"},
    {10105, "WSAEINVALIDPROVIDER"},
    {10106, "WSAEPROVIDERFAILEDINIT"},
    {10107, "WSASYSCALLFAILURE"},
    {10108, "WSASERVICE_NOT_FOUND"},
    {10109, "WSATYPE_NOT_FOUND"},
    {10110, "WSA_E_NO_MORE"},
    {10111, "WSA_E_CANCELLED"},
    {10112, "WSAEREFUSED"},
    {11001, "WSAHOST_NOT_FOUND"},
    {11002, "WSATRY_AGAIN"},
    {11003, "WSANO_RECOVERY"},
    {11004, "WSANO_DATA"},
};

// Asks the system message table; `language` 0 means any. Returns false and
// leaves the lookup's own error in `lookupError` when there is no text.
bool systemText(DWORD code, DWORD language, HMODULE module, std::string &text, DWORD &lookupError) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  LPSTR buffer = nullptr;
  const DWORD length = FormatMessageA(flags, module, code, language, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    lookupError = GetLastError();
    return false;
  }
  text.assign(buffer, length);
  LocalFree(buffer);
  return true;
}

}  // namespace

std::string socketErrorText(int code) {
  for (const SocketErrorName &entry : socketErrorNames)
    if (entry.code == code) return entry.name;
  return format("WINSOCK error %d", code);
}

std::string resultCodeText(HRESULT hr, const char *moduleName) {
  HMODULE module = moduleName != nullptr ? GetModuleHandleA(moduleName) : nullptr;
  std::string text;
  DWORD lookupError = 0;
  if (systemText(static_cast<DWORD>(hr), 0, module, text, lookupError)) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    for (char &c : text)
      if (c == '\r' || c == '\n' || c == '\t' || c == '\a') c = ' ';
    return text;
  }
  if (hr >= 10000 && hr <= 11999) return socketErrorText(hr);
  return format("Unknown message %d (0x%x) [FormatMessage returned %d (0x%x)]", static_cast<int>(hr),
                static_cast<unsigned>(hr), static_cast<int>(lookupError), static_cast<unsigned>(lookupError));
}

std::string systemErrorText(DWORD code) {
  std::string text;
  DWORD lookupError = 0;
  if (!systemText(code, LANG_USER_DEFAULT, nullptr, text, lookupError)) text = "-- message description not found --";
  return format("System error [ 0x%08X, %s ]", static_cast<unsigned>(code), text.c_str());
}

}  // namespace rv
