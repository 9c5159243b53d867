// Module file names and handles of the test program and of the component
// module, and files without a version resource.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"

namespace {

std::string fileNameOf(const std::string &path) { return path.substr(path.find_last_of("\\/") + 1); }

const std::string &componentPath() {
  static const std::string path = programFolder() + "\\" + fileNameOf(COMPONENT_MODULE);
  return path;
}

#ifdef _WIN32
const char *const ProgramName = "platform_services_tests.exe";
#else
const char *const ProgramName = "platform_services_tests";
#endif

void markerFunction() {}

}  // namespace

TEST(ModuleFileName, WindowsFormInBothWidthsAndShortBuffers) {
  char full[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, full, MAX_PATH);
  ASSERT_GT(length, 3u);
  ASSERT_EQ(std::strlen(full), length);
  EXPECT_EQ(":\\", std::string(full + 1, 2)) << full;
  EXPECT_EQ(ProgramName, fileNameOf(full));
  EXPECT_EQ(nullptr, std::strchr(full, '/'));
  WCHAR wide[MAX_PATH];
  EXPECT_EQ(length, GetModuleFileNameW(nullptr, wide, MAX_PATH));
  EXPECT_EQ(full, narrow(wide));
  HMODULE self = GetModuleHandleA(nullptr);
  EXPECT_EQ(self, GetModuleHandleA(ProgramName));
  EXPECT_EQ(self, GetModuleHandleA(full));

  // Too short a buffer is filled as far as it goes, and the call returns its
  // size with ERROR_INSUFFICIENT_BUFFER. Windows since Vista ends the text
  // with a terminator in the last place; Wine does not, so only the
  // platform's terminator is checked. An exact fit succeeds.
  for (DWORD size : {length, DWORD{4}, DWORD{1}, DWORD{0}, length + 1}) {
    SCOPED_TRACE(size);
    std::vector<char> buffer(size + 1, 'x');
    SetLastError(0);
    EXPECT_EQ(std::min(size, length), GetModuleFileNameA(nullptr, buffer.data(), size));
    EXPECT_EQ(size > length ? 0u : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    if (size == 0) continue;
    const DWORD kept = std::min(size - 1, length);
    EXPECT_EQ(std::string(full, kept), std::string(buffer.data(), kept));
    if (kPlatformLayer || size > length) {
      EXPECT_EQ(0, buffer[kept]);
    }
  }
  WCHAR four[4];
  EXPECT_EQ(4u, GetModuleFileNameW(nullptr, four, 4));
  EXPECT_EQ(std::string(full, 3), narrow(WideString(four, 3)));

  int local = 0;
  SetLastError(0);
  EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), full, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(ModuleHandle, OfTheComponentFromAnAddressInsideIt) {
  HMODULE module = LoadLibraryA(componentPath().c_str());  // Windows form of the path
  ASSERT_NE(nullptr, module) << componentPath() << " error " << GetLastError();
  char path[MAX_PATH];
  EXPECT_EQ(componentPath(), std::string(path, GetModuleFileNameA(module, path, MAX_PATH)));
  EXPECT_EQ(module, GetModuleHandleA(fileNameOf(componentPath()).c_str()));

  HMODULE found = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(&markerFunction), &found));
  EXPECT_EQ(GetModuleHandleW(nullptr), found);

  // Without UNCHANGED_REFCOUNT the module gains a reference: it stays loaded
  // after the first FreeLibrary.
  FARPROC entry = GetProcAddress(module, "DllGetClassObject");
  ASSERT_NE(nullptr, entry);
  HMODULE counted = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(entry), &counted));
  EXPECT_EQ(module, counted);
  FreeLibrary(module);
  EXPECT_EQ(module, GetModuleHandleA(fileNameOf(componentPath()).c_str()));
  EXPECT_EQ(componentPath().size(), GetModuleFileNameA(counted, path, MAX_PATH));
  FreeLibrary(counted);

  // An address outside every module, and a name of none.
  void *heap = std::malloc(64);
  found = reinterpret_cast<HMODULE>(1);
  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  static_cast<LPCWSTR>(heap), &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, found);
  std::free(heap);
  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleA("no_such_module_here.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

// The fixed version the component logs is read through its own frame
// tests; these are the answers for files that have none.
TEST(VersionInfo, FilesWithoutVersionResource) {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string textFile = tempFile("not_a_module.dll");
  {
    Handle file(openFile(textFile, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(write(file.get(), "this is no module\r\n"));
  }
  std::string folder = tempFolder();
  folder.pop_back();
  const struct {
    std::string path;
    DWORD error;
  } cases[] = {
      {program, ERROR_RESOURCE_DATA_NOT_FOUND},   // a module without version resource
      {textFile, ERROR_RESOURCE_DATA_NOT_FOUND},  // no module at all
      {programFolder() + "\\no_such_module.dll", ERROR_FILE_NOT_FOUND},
      {programFolder() + "\\no_such_folder\\x.dll", ERROR_PATH_NOT_FOUND},
      {folder, ERROR_ACCESS_DENIED},
      {"", ERROR_BAD_PATHNAME},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    DWORD handle = 99;
    SetLastError(0);
    EXPECT_EQ(0u, GetFileVersionInfoSizeA(c.path.c_str(), &handle));
    EXPECT_EQ(c.error, GetLastError());
    BYTE block[64];
    SetLastError(0);
    EXPECT_FALSE(GetFileVersionInfoA(c.path.c_str(), 0, sizeof block, block));
    if (!c.path.empty()) {
      EXPECT_EQ(c.error, GetLastError());
    }
  }
  EXPECT_TRUE(DeleteFileA(textFile.c_str()));
}
