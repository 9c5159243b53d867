// Who may use a published tree's sections, and whose sections a reader
// trusts.
//
// On Windows a section keeps the access list it was created with. A host's
// sections let its own account and SYSTEM do everything, let Administrators
// and the two groups Windows has for reading performance data (Performance
// Monitor Users, Performance Log Users) map them for reading, and let nobody
// else open them.
//
// Whoever creates a tree's name first holds it, so a reader trusts a section
// only when its owner is an account that only an administrator can make run
// code (SYSTEM, LocalService, NetworkService, Administrators, a service's own
// account) or the reader's own account. A host that finds its name held by
// anyone else publishes in the next scope, where readers look next.
//
// Over the platform layer, sections live in a folder that only its user may
// use (checked when it is opened), so there every section is the reader's own
// and carries no access list.
#pragma once
#include <windows.h>

#include <vector>

#include "rvText.h"

namespace rv::publishing {

// The access list, in the system's descriptor language, of the sections of a
// host whose account is `user` and whose new objects are owned by `owner`
// (both SIDs as text: "S-1-5-19").
Text sectionAccessText(const Text &user, const Text &owner);

// Whether a reader whose account is `user` and whose new objects are owned by
// `ownOwner` trusts a section owned by `owner` (SIDs as text).
bool trustedOwner(const Text &owner, const Text &user, const Text &ownOwner);

// The security attributes a host creates its sections with.
class SectionSecurity {
 public:
  SectionSecurity() = default;
  // Builds the descriptor for this process's account; S_OK, or why not.
  HRESULT prepare();
  // The attributes to create a section with: null before prepare(), and
  // where sections carry no access list.
  SECURITY_ATTRIBUTES *attributes() { return descriptor_.empty() ? nullptr : &attributes_; }

 private:
  std::vector<BYTE> descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
};

// S_OK when the section `section` (opened with READ_CONTROL) belongs to
// an owner this process trusts; HRESULT_FROM_WIN32(ERROR_INVALID_OWNER) when
// it belongs to anyone else or to nobody; the system's failure when its owner
// cannot be read.
HRESULT checkSectionOwner(HANDLE section);

}  // namespace rv::publishing
