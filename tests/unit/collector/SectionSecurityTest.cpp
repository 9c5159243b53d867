// Who may open a published tree's sections and whose sections a reader
// believes: the access list a host gives them, read back from the system,
// and a tree's name taken first by an account that readers do not trust.
#include "ComponentFixture.h"

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#endif

#include <string>
#include <utility>
#include <vector>

#include "PublishedTree.h"
#include "SectionSecurity.h"

using rv::publishing::readPublishedTree;
using rv::publishing::sectionAccessText;
using rv::publishing::TreePublisher;
using rv::publishing::trustedOwner;

namespace {

std::string shown(const Text &text) { return narrow(text.c_str()); }

}  // namespace

TEST(SectionSecurity, ReadersTrustTheirOwnAccountAndAccountsOnlyAnAdministratorRuns) {
  const Text user = OLESTR("S-1-5-21-1-2-3-1000"), owner = OLESTR("S-1-5-32-544");
  for (const Text &trusted :
       {user, owner, Text(OLESTR("S-1-5-18")), Text(OLESTR("S-1-5-19")), Text(OLESTR("S-1-5-20")),
        Text(OLESTR("S-1-5-32-544")), Text(OLESTR("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"))})
    EXPECT_TRUE(trustedOwner(trusted, user, owner)) << shown(trusted);
  // Another user, the readers' own groups, everyone, a number that only
  // begins like a trusted one, a service prefix with no service, and no owner.
  for (const Text &outsider :
       {Text(OLESTR("S-1-5-21-1-2-3-1001")), Text(OLESTR("S-1-5-32-558")), Text(OLESTR("S-1-5-32-559")),
        Text(OLESTR("S-1-5-32-545")), Text(OLESTR("S-1-1-0")), Text(OLESTR("S-1-5-180")), Text(OLESTR("S-1-5-32-5440")),
        Text(OLESTR("S-1-5-80-")), Text(OLESTR("S-1-5-8")), Text()})
    EXPECT_FALSE(trustedOwner(outsider, user, owner)) << shown(outsider);

  // The owner first; nothing inherited from the namespace; all for the host
  // and SYSTEM, reading for Administrators and both groups of readers.
  EXPECT_EQ(
      "O:S-1-5-32-544D:P(A;;0xF001F;;;S-1-5-21-1-2-3-1000)(A;;0xF001F;;;SY)(A;;0x20005;;;BA)"
      "(A;;0x20005;;;S-1-5-32-558)(A;;0x20005;;;S-1-5-32-559)",
      shown(sectionAccessText(user, owner)));
}

#ifdef _WIN32

namespace {

Text deviceFor(const char *what) { return wide(std::string(what) + std::to_string(GetCurrentProcessId())); }

Text sidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return Text();
  Text copy = text;
  LocalFree(text);
  return copy;
}

Text processSid(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return Text();
  BYTE buffer[512];
  DWORD size = 0;
  Text text;
  if (GetTokenInformation(token, kind, buffer, sizeof buffer, &size))
    text = sidText(kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid
                                     : reinterpret_cast<TOKEN_OWNER *>(buffer)->Owner);
  CloseHandle(token);
  return text;
}

struct Access {
  Text owner;
  bool protectedList = false;
  std::vector<std::pair<Text, DWORD>> allowed;  // trustee and mask, in order
  size_t others = 0;                            // entries of any other kind
};

// The owner and access list of a named section, as the system keeps them.
Access accessOf(const Text &name) {
  Access access;
  HANDLE section = OpenFileMappingW(READ_CONTROL, FALSE, name.c_str());
  if (!section) {
    ADD_FAILURE() << shown(name) << ": " << GetLastError();
    return access;
  }
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(section, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &list, nullptr, &descriptor);
  CloseHandle(section);
  EXPECT_EQ(DWORD(ERROR_SUCCESS), error) << shown(name);
  if (error != ERROR_SUCCESS) return access;
  if (owner) access.owner = sidText(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  access.protectedList = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD at = 0; list && at < list->AceCount; ++at) {
    void *entry = nullptr;
    if (!GetAce(list, at, &entry)) break;
    auto allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ++access.others;
      continue;
    }
    access.allowed.emplace_back(sidText(&allowed->SidStart), allowed->Mask);
  }
  LocalFree(descriptor);
  return access;
}

// A section someone else made under `name` first, owned by `owner` and open
// to everyone, as a squatter would leave it.
HANDLE squat(const Text &name, const WCHAR *owner) {
  const Text text = Text(OLESTR("O:")) + owner + OLESTR("D:P(A;;0xF001F;;;WD)");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, 4096, name.c_str());
  LocalFree(descriptor);
  return section;
}

const WCHAR Everyone[] = OLESTR("S-1-1-0");

}  // namespace

TEST(SectionSecurity, BothSectionsGiveTheHostAndSystemAllAndPerformanceReadersReadOnly) {
  const Text device = deviceFor("RVAccess");
  TreePublisher publisher(device.c_str());
  const std::vector<BYTE> tree(300, 7);
  ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size()));
  const Text directory = rv::publishing::directoryName(OLESTR("Global\\"), device.c_str());
  const Text user = processSid(TokenUser), owner = processSid(TokenOwner);
  ASSERT_FALSE(user.empty());
  const std::vector<std::pair<Text, DWORD>> expected = {{user, SECTION_ALL_ACCESS},
                                                        {OLESTR("S-1-5-18"), SECTION_ALL_ACCESS},
                                                        {OLESTR("S-1-5-32-544"), 0x20005},
                                                        {OLESTR("S-1-5-32-558"), 0x20005},
                                                        {OLESTR("S-1-5-32-559"), 0x20005}};
  for (const Text &name : {directory, directory + OLESTR("#1")}) {
    const Access access = accessOf(name);
    EXPECT_EQ(shown(owner), shown(access.owner)) << shown(name);
    EXPECT_TRUE(access.protectedList) << shown(name);
    EXPECT_EQ(0u, access.others) << shown(name);
    ASSERT_EQ(expected.size(), access.allowed.size()) << shown(name);
    for (size_t at = 0; at < expected.size(); ++at) {
      EXPECT_EQ(shown(expected[at].first), shown(access.allowed[at].first)) << shown(name);
      EXPECT_EQ(expected[at].second, access.allowed[at].second) << shown(name) << " " << at;
    }
  }
}

TEST(SectionSecurity, ANameSomeoneElseTookFirstNeitherBlocksTheHostNorFeedsTheReaders) {
  const Text device = deviceFor("RVSquat");
  const Text global = rv::publishing::directoryName(OLESTR("Global\\"), device.c_str());
  const Text local = rv::publishing::directoryName(OLESTR("Local\\"), device.c_str());
  std::vector<BYTE> read;

  // Taken in the first scope: readers refuse it, and the host publishes in
  // the second, where readers find the host's own tree.
  HANDLE squatter = squat(global, Everyone);
  ASSERT_TRUE(squatter) << GetLastError();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_OWNER), readPublishedTree(device.c_str(), read));
  {
    // A data section's name taken first is passed over too.
    HANDLE data = squat(local + OLESTR("#1"), Everyone);
    ASSERT_TRUE(data);
    TreePublisher publisher(device.c_str());
    const std::vector<BYTE> tree(500, 3);
    ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size()));
    ASSERT_EQ(S_OK, readPublishedTree(device.c_str(), read));
    EXPECT_EQ(tree, read);
    EXPECT_EQ(shown(processSid(TokenOwner)), shown(accessOf(local + OLESTR("#2")).owner));
    CloseHandle(data);
  }
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_OWNER), readPublishedTree(device.c_str(), read));

  // Taken in both: the host says so instead of publishing where nobody reads.
  HANDLE second = squat(local, OLESTR("S-1-5-32-545"));
  ASSERT_TRUE(second);
  {
    TreePublisher publisher(device.c_str());
    const std::vector<BYTE> tree(50, 1);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_OWNER), publisher.publish(tree.data(), tree.size()));
  }
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_OWNER), readPublishedTree(device.c_str(), read));
  CloseHandle(second);
  CloseHandle(squatter);
  EXPECT_EQ(S_FALSE, readPublishedTree(device.c_str(), read));
}

#endif
