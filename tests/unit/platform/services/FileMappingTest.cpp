// Sections over the paging file: a name that lives as long as some handle
// holds it, names and namespaces, views and their access, and the codes of
// bad arguments. (Sharing by name with other processes, and a process that
// dies holding one, are the collector's own tests.)
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "ServicesTestSupport.h"

namespace {

constexpr DWORD Succeeded = 0xFFFFFFFF;  // not an error code
constexpr DWORD Denied = ERROR_ACCESS_DENIED;

WideString sectionName(const char *what) { return widen("svc" + std::to_string(GetCurrentProcessId()) + what); }

struct Unmap {
  void operator()(char *view) const { UnmapViewOfFile(view); }
};
using Mapping = Handle;
using View = std::unique_ptr<char, Unmap>;

View map(const Mapping &mapping, DWORD access, SIZE_T bytes = 0) {
  return View(static_cast<char *>(MapViewOfFile(mapping.get(), access, 0, 0, bytes)));
}

HANDLE create(const WideString &name, DWORD size, DWORD protection = PAGE_READWRITE) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, protection, 0, size, name.c_str());
}

HANDLE open(const WideString &name, DWORD access = FILE_MAP_READ) {
  return OpenFileMappingW(access, FALSE, name.c_str());
}

// The last error of a call that fails (returns null or FALSE), or Succeeded.
template <typename Call> DWORD errorOf(Call call) {
  SetLastError(ERROR_SUCCESS);
  return call() ? Succeeded : GetLastError();
}

}  // namespace

TEST(FileMapping, ViewsOutliveTheHandlesButHoldNoName) {
  const WideString name = sectionName("outlived");
  Mapping section(create(name, 4096));
  View view = map(section, FILE_MAP_WRITE);
  ASSERT_NE(nullptr, view.get());
  view.get()[0] = 7;
  Mapping other(open(name));
  section.reset();
  EXPECT_EQ(Succeeded, errorOf([&] { return Mapping(open(name)).get(); })) << "another handle keeps the name";
  other.reset();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), errorOf([&] { return Mapping(open(name)).get(); }));
  view.get()[1] = 8;
  EXPECT_EQ(7, view.get()[0]);
}

TEST(FileMapping, CreatingATakenNameOpensTheSectionWithItsSize) {
  const WideString name = sectionName("Taken");
  Mapping first(create(name, 8192));
  View firstView = map(first, FILE_MAP_WRITE);
  ASSERT_NE(nullptr, firstView.get());
  firstView.get()[8191] = 'x';
  SetLastError(0);
  Mapping again(create(name, 65536, PAGE_READONLY));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ(Denied, errorOf([&] { return map(again, FILE_MAP_READ, 8193).get(); }));
  // The handle maps what the protection asked for allows.
  EXPECT_EQ(Denied, errorOf([&] { return map(again, FILE_MAP_WRITE).get(); }));
  View whole = map(again, FILE_MAP_READ);
  ASSERT_NE(nullptr, whole.get());
  EXPECT_EQ('x', whole.get()[8191]);

  // Names are case-sensitive, "Local\" is the default namespace and "Global\"
  // another one; its prefixes are spelt exactly.
  EXPECT_EQ(Succeeded, errorOf([&] { return Mapping(open(WIDE("Local\\") + name)).get(); }));
  EXPECT_EQ(Succeeded,
            errorOf([&] { return Mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, narrow(name).c_str())).get(); }));
  const struct {
    WideString name;
    DWORD error;
  } others[] = {
      {sectionName("TAKEN"), ERROR_FILE_NOT_FOUND},
      {WIDE("Global\\") + name, ERROR_FILE_NOT_FOUND},
      {WIDE("local\\") + name, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &other : others) {
    SCOPED_TRACE(narrow(other.name));
    EXPECT_EQ(other.error, errorOf([&] { return Mapping(open(other.name)).get(); }));
  }

  // An empty name is no name: two such sections are two.
  Mapping unnamed(create(WIDE(""), 4096));
  SetLastError(0xdead);
  Mapping secondUnnamed(create(WIDE(""), 4096));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  View one = map(unnamed, FILE_MAP_WRITE);
  View two = map(secondUnnamed, FILE_MAP_READ);
  ASSERT_TRUE(one.get() != nullptr && two.get() != nullptr);
  one.get()[0] = 1;
  EXPECT_EQ(0, two.get()[0]);
}

TEST(FileMapping, ViewsHaveTheAccessOfTheirHandleAndSection) {
  const WideString name = sectionName("access");
  Mapping section(create(name, 4096));
  Mapping readOnly(open(name, FILE_MAP_READ));
  View writer = map(section, FILE_MAP_WRITE);
  View reader = map(readOnly, FILE_MAP_READ);
  View copy = map(readOnly, FILE_MAP_COPY);
  ASSERT_TRUE(writer.get() != nullptr && reader.get() != nullptr && copy.get() != nullptr);
  EXPECT_EQ(Denied, errorOf([&] { return map(readOnly, FILE_MAP_WRITE).get(); }));
  writer.get()[0] = 'a';
  EXPECT_EQ('a', reader.get()[0]);
  EXPECT_EQ('a', copy.get()[0]);
  copy.get()[0] = 'b';  // a private copy of the page from now on
  EXPECT_EQ('a', reader.get()[0]);
  EXPECT_EQ('b', copy.get()[0]);

  Mapping readOnlySection(create(sectionName("readonly"), 4096, PAGE_READONLY));
  for (DWORD access : {DWORD(FILE_MAP_WRITE), DWORD(FILE_MAP_ALL_ACCESS)}) {
    SCOPED_TRACE(access);
    EXPECT_EQ(Denied, errorOf([&] { return map(readOnlySection, access).get(); }));
  }
  View zeros = map(readOnlySection, FILE_MAP_READ);
  ASSERT_NE(nullptr, zeros.get());
  EXPECT_EQ(0, zeros.get()[4095]);
}

TEST(FileMapping, BadArgumentsFailWithWindowsCodes) {
  const struct {
    const WCHAR *name;
    DWORD protection;
    DWORD size;
    DWORD error;
  } creations[] = {
      {WIDE("zero"), PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER},
      {nullptr, PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER},
      {nullptr, 0, 4096, ERROR_INVALID_PARAMETER},
      {nullptr, PAGE_NOACCESS, 4096, ERROR_INVALID_PARAMETER},
      {nullptr, PAGE_READWRITE | SEC_COMMIT | SEC_RESERVE, 4096, ERROR_INVALID_PARAMETER},
      {nullptr, PAGE_READWRITE | SEC_IMAGE, 4096, ERROR_BAD_EXE_FORMAT},
      {WIDE("a\\b"), PAGE_READWRITE, 4096, ERROR_PATH_NOT_FOUND},
      {WIDE("Local\\a\\b"), PAGE_READWRITE, 4096, ERROR_PATH_NOT_FOUND},
      {WIDE("\\a"), PAGE_READWRITE, 4096, ERROR_BAD_PATHNAME},
      {WIDE("Global\\"), PAGE_READWRITE, 4096, ERROR_INVALID_NAME},
      {WIDE("Global"), PAGE_READWRITE, 4096, ERROR_INVALID_HANDLE},
  };
  for (const auto &c : creations) {
    SCOPED_TRACE(testing::Message() << (c.name ? narrow(c.name) : "(null)") << " protection " << std::hex
                                    << c.protection);
    EXPECT_EQ(c.error, errorOf([&] {
                return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, c.protection, 0, c.size, c.name);
              }));
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            errorOf([] { return OpenFileMappingW(FILE_MAP_READ, FALSE, nullptr); }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            errorOf([] { return OpenFileMappingW(FILE_MAP_READ, FALSE, WIDE("")); }));

  // A section of 100 bytes maps whole pages, from offsets at 64 KiB steps.
  Mapping section(create(sectionName("views"), 100));
  const struct {
    HANDLE mapping;
    DWORD offsetHigh, offsetLow;
    SIZE_T bytes;
    DWORD error;
  } views[] = {
      {nullptr, 0, 0, 0, ERROR_INVALID_HANDLE},
      {INVALID_HANDLE_VALUE, 0, 0, 0, ERROR_INVALID_HANDLE},
      {section.get(), 0, 4096, 0, ERROR_MAPPED_ALIGNMENT},
      {section.get(), 0, 65536, 0, ERROR_INVALID_PARAMETER},
      {section.get(), 1, 0, 0, ERROR_INVALID_PARAMETER},
      {section.get(), 0, 0, 4097, ERROR_ACCESS_DENIED},
  };
  for (const auto &v : views) {
    SCOPED_TRACE(testing::Message() << "offset " << v.offsetHigh << ":" << v.offsetLow << " bytes " << v.bytes);
    EXPECT_EQ(v.error,
              errorOf([&] { return MapViewOfFile(v.mapping, FILE_MAP_READ, v.offsetHigh, v.offsetLow, v.bytes); }));
  }

  // Any address in a view unmaps it; nothing else does.
  char *view = static_cast<char *>(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 4096));
  ASSERT_NE(nullptr, view);
  view[4095] = 1;
  EXPECT_TRUE(FlushViewOfFile(view, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), errorOf([&] { return FlushViewOfFile(view, 2 * 65536); }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), errorOf([] { return FlushViewOfFile(nullptr, 0); }));
  int notAView = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), errorOf([&] { return UnmapViewOfFile(&notAView); }));
  EXPECT_TRUE(UnmapViewOfFile(view + 100));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), errorOf([&] { return UnmapViewOfFile(view); }));
}
