#include "SectionSecurity.h"

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#endif

#include <cstring>
#include <memory>

namespace rv::publishing {

namespace {

// What a section's owners may do with it, and what its readers may: map it
// for reading, query its size and read its owner.
const WCHAR FullAccess[] = OLESTR("0xF001F");  // SECTION_ALL_ACCESS
const WCHAR ReadAccess[] = OLESTR("0x20005");  // READ_CONTROL | SECTION_MAP_READ | SECTION_QUERY

// Accounts that only an administrator can make run code: SYSTEM, LocalService,
// NetworkService and Administrators; a service's own account is any SID under
// "S-1-5-80-".
const WCHAR *const AdministeredOwners[] = {OLESTR("S-1-5-18"), OLESTR("S-1-5-19"), OLESTR("S-1-5-20"),
                                           OLESTR("S-1-5-32-544")};
const WCHAR ServiceAccounts[] = OLESTR("S-1-5-80-");

Text allow(const WCHAR *access, const Text &trustee) {
  return OLESTR("(A;;") + (access + (OLESTR(";;;") + trustee)) + OLESTR(")");
}

#ifdef _WIN32
struct LocalRelease {
  void operator()(void *memory) const { LocalFree(memory); }
};
template <typename T> using LocalMemory = std::unique_ptr<T, LocalRelease>;

HRESULT lastError() {
  const DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT sidText(PSID sid, Text &text) {
  LPWSTR converted = nullptr;
  if (!ConvertSidToStringSidW(sid, &converted)) return lastError();
  LocalMemory<WCHAR> held(converted);
  text = converted;
  return S_OK;
}

// This process's account and the owner its new objects get (Administrators
// for an elevated administrator, the account itself otherwise).
struct Identity {
  HRESULT status = S_OK;
  Text user;
  Text owner;
};

Identity readIdentity() {
  Identity identity;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    identity.status = lastError();
    return identity;
  }
  auto query = [&](TOKEN_INFORMATION_CLASS kind, Text &text) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0) return lastError();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, kind, buffer.data(), size, &size)) return lastError();
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER *>(buffer.data())->Owner;
    return sidText(sid, text);
  };
  identity.status = query(TokenUser, identity.user);
  if (SUCCEEDED(identity.status)) identity.status = query(TokenOwner, identity.owner);
  CloseHandle(token);
  return identity;
}

const Identity &processIdentity() {
  static const Identity identity = readIdentity();
  return identity;
}
#endif

}  // namespace

Text sectionAccessText(const Text &user, const Text &owner) {
  // "P": nothing inherited from the namespace's own list.
  Text text = OLESTR("O:") + owner + OLESTR("D:P");
  text += allow(FullAccess, user);
  text += allow(FullAccess, OLESTR("SY"));
  text += allow(ReadAccess, OLESTR("BA"));
  // The groups by number: Wine does not know their two-letter names.
  text += allow(ReadAccess, OLESTR("S-1-5-32-558"));
  text += allow(ReadAccess, OLESTR("S-1-5-32-559"));
  return text;
}

bool trustedOwner(const Text &owner, const Text &user, const Text &ownOwner) {
  if (owner.empty()) return false;
  if (owner == user || owner == ownOwner) return true;
  for (const WCHAR *administered : AdministeredOwners)
    if (owner == administered) return true;
  const size_t prefix = sizeof(ServiceAccounts) / sizeof(WCHAR) - 1;
  return owner.size() > prefix && owner.compare(0, prefix, ServiceAccounts) == 0;
}

HRESULT SectionSecurity::prepare() {
#ifdef _WIN32
  if (!descriptor_.empty()) return S_OK;
  const Identity &identity = processIdentity();
  if (FAILED(identity.status)) return identity.status;
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sectionAccessText(identity.user, identity.owner).c_str(),
                                                            SDDL_REVISION_1, &converted, nullptr))
    return lastError();
  LocalMemory<void> held(converted);
  const BYTE *bytes = static_cast<const BYTE *>(converted);
  descriptor_.assign(bytes, bytes + GetSecurityDescriptorLength(converted));
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_.data();
  attributes_.bInheritHandle = FALSE;
#endif
  return S_OK;
}

HRESULT checkSectionOwner(HANDLE section) {
#ifdef _WIN32
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(section, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                      nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  LocalMemory<void> held(descriptor);
  const Identity &identity = processIdentity();
  if (FAILED(identity.status)) return identity.status;
  Text text;
  if (owner != nullptr) {
    if (HRESULT hr = sidText(owner, text); FAILED(hr)) return hr;
  }
  return trustedOwner(text, identity.user, identity.owner) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_OWNER);
#else
  (void)section;
  return S_OK;
#endif
}

}  // namespace rv::publishing
