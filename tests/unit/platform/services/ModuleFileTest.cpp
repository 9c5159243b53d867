// Module file names and handles of the test program and of the component
// module, and the version resource read through the version functions.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"

using namespace services_test;

namespace {

std::string fileNameOf(const std::string &path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

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

TEST(ModuleFileName, OfTheMainProgramInBothWidths) {
  char narrowPath[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, narrowPath, MAX_PATH);
  ASSERT_GT(length, 3u);
  ASSERT_EQ(std::strlen(narrowPath), length);
  const std::string path(narrowPath, length);
  EXPECT_EQ(":\\", path.substr(1, 2)) << path;
  EXPECT_EQ(ProgramName, fileNameOf(path));
  EXPECT_EQ(std::string::npos, path.find('/'));

  WCHAR widePath[MAX_PATH];
  EXPECT_EQ(length, GetModuleFileNameW(nullptr, widePath, MAX_PATH));
  EXPECT_EQ(path, narrow(widePath));

  // The main program's handle names the same file.
  HMODULE self = GetModuleHandleA(nullptr);
  ASSERT_NE(nullptr, self);
  EXPECT_EQ(self, GetModuleHandleW(nullptr));
  EXPECT_EQ(length, GetModuleFileNameA(self, narrowPath, MAX_PATH));
  EXPECT_EQ(path, narrowPath);
  EXPECT_EQ(self, GetModuleHandleA(ProgramName));
  EXPECT_EQ(self, GetModuleHandleA(path.c_str()));
}

TEST(ModuleFileName, ShortBuffersAndUnknownModules) {
  char full[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, full, MAX_PATH);

  // A buffer one character too short is filled, and the call returns its
  // size with ERROR_INSUFFICIENT_BUFFER. Windows since Vista ends the text
  // with a terminator in the last place; Wine does not, so only the
  // platform's terminator is checked.
  std::vector<char> shortBuffer(length, 'x');
  SetLastError(0);
  EXPECT_EQ(length, GetModuleFileNameA(nullptr, shortBuffer.data(), length));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(std::string(full, length - 1), std::string(shortBuffer.data(), length - 1));
  if (kPlatformLayer) {
    EXPECT_EQ(0, shortBuffer[length - 1]);
  }

  WCHAR wide[4] = {'x', 'x', 'x', 'x'};
  SetLastError(0);
  EXPECT_EQ(4u, GetModuleFileNameW(nullptr, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(std::string(full, 3), narrow(WideString(wide, 3)));
  if (kPlatformLayer) {
    EXPECT_EQ(0, wide[3]);
  }

  SetLastError(0);
  EXPECT_EQ(0u, GetModuleFileNameA(nullptr, full, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

  // An exact fit succeeds.
  GetModuleFileNameA(nullptr, full, MAX_PATH);
  std::vector<char> exact(length + 1, 'x');
  EXPECT_EQ(length, GetModuleFileNameA(nullptr, exact.data(), length + 1));
  EXPECT_EQ(std::string(full), exact.data());

  int local = 0;
  SetLastError(0);
  EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), full, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(ModuleFileName, OfTheComponentModule) {
  HMODULE module = LoadLibraryA(componentPath().c_str());  // Windows form of the path
  ASSERT_NE(nullptr, module) << componentPath() << " error " << GetLastError();

  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  EXPECT_EQ(componentPath(), std::string(path, length));
  EXPECT_EQ(module, GetModuleHandleA(fileNameOf(componentPath()).c_str()));

  // The module folder, as the component finds it: cut at the last backslash.
  EXPECT_EQ(programFolder(), std::string(path, std::strrchr(path, '\\')));

  FreeLibrary(module);
}

TEST(ModuleHandle, FromAnAddressInsideTheModule) {
  HMODULE self = GetModuleHandleW(nullptr);
  HMODULE found = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(&markerFunction), &found));
  EXPECT_EQ(self, found);

  HMODULE module = LoadLibraryA(componentPath().c_str());
  ASSERT_NE(nullptr, module);
  FARPROC entry = GetProcAddress(module, "DllGetClassObject");
  ASSERT_NE(nullptr, entry);
  found = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(entry), &found));
  EXPECT_EQ(module, found);

  // Without UNCHANGED_REFCOUNT the module gains a reference: it stays loaded
  // after the first FreeLibrary.
  HMODULE counted = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(entry), &counted));
  EXPECT_EQ(module, counted);
  FreeLibrary(module);
  EXPECT_EQ(module, GetModuleHandleA(fileNameOf(componentPath()).c_str()));
  char path[MAX_PATH];
  EXPECT_EQ(componentPath().size(), GetModuleFileNameA(counted, path, MAX_PATH));
  FreeLibrary(counted);

  // No name: the main program.
  found = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &found));
  EXPECT_EQ(self, found);

  // By name, with a counted reference.
  HMODULE byName = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(0, ProgramName, &byName));
  EXPECT_EQ(self, byName);
  FreeLibrary(byName);
}

TEST(ModuleHandle, RefusesAddressesOutsideModulesAndBadArguments) {
  void *heap = std::malloc(64);
  HMODULE found = reinterpret_cast<HMODULE>(1);
  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  static_cast<LPCWSTR>(heap), &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, found);
  std::free(heap);

  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&markerFunction),
                                  nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  nullptr, &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExW(8, nullptr, &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleA("no_such_module_here.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  found = reinterpret_cast<HMODULE>(1);
  EXPECT_FALSE(GetModuleHandleExA(0, "no_such_module_here.dll", &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, found);
}

TEST(LoadString, EightBitTextInTheSystemCodePage) {
  HMODULE module = LoadLibraryA(componentPath().c_str());
  ASSERT_NE(nullptr, module);
  char buffer[64];
  EXPECT_EQ(20, LoadStringA(module, 603, buffer, sizeof buffer));
  EXPECT_STREQ("Index out of bounds.", buffer);
  EXPECT_EQ(5, LoadStringA(module, 603, buffer, 6));
  EXPECT_STREQ("Index", buffer);
  EXPECT_EQ(0, LoadStringA(module, 604, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  FreeLibrary(module);
}

TEST(VersionInfo, FixedInformationTextsAndTranslation) {
  DWORD handle = 99;
  const DWORD size = GetFileVersionInfoSizeA(componentPath().c_str(), &handle);
  ASSERT_GT(size, 0u) << GetLastError();
  EXPECT_EQ(0u, handle);
  EXPECT_EQ(size, GetFileVersionInfoSizeW(widen(componentPath()).c_str(), &handle));
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(widen(componentPath()).c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), WIDE("\\"), reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  EXPECT_EQ(static_cast<DWORD>(VS_FFI_SIGNATURE), fixed->dwSignature);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(3, 8)), fixed->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, 1202)), fixed->dwFileVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

  WCHAR *text = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), WIDE("\\StringFileInfo\\040904B0\\FileVersion"),
                             reinterpret_cast<void **>(&text), &length));
  EXPECT_EQ("8.3.1202.0", narrow(text));
  EXPECT_EQ(11u, length);
  // Names are found whatever their case.
  ASSERT_TRUE(VerQueryValueW(block.data(), WIDE("\\stringfileinfo\\040904b0\\productname"),
                             reinterpret_cast<void **>(&text), &length));
  EXPECT_EQ("Norvale rvZedaZuvivurAzodav", narrow(text));

  char *narrowText = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void **>(&narrowText), &length));
  EXPECT_STREQ("8.3.1202.0", narrowText);
  EXPECT_EQ(11u, length);

  WORD *translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                             &length));
  ASSERT_EQ(4u, length);
  EXPECT_EQ(0x0409, translation[0]);
  EXPECT_EQ(1200, translation[1]);

  EXPECT_FALSE(VerQueryValueW(block.data(), WIDE("\\StringFileInfo\\040904B0\\NoSuchValue"),
                              reinterpret_cast<void **>(&text), &length));
  EXPECT_FALSE(VerQueryValueW(block.data(), WIDE("\\StringFileInfo\\04070000\\FileVersion"),
                              reinterpret_cast<void **>(&text), &length));

  // A block too short for the whole resource is filled as far as it goes.
  std::vector<BYTE> shortBlock(64);
  EXPECT_TRUE(GetFileVersionInfoA(componentPath().c_str(), 0, 64, shortBlock.data()));
  EXPECT_EQ(0, std::memcmp(shortBlock.data() + 2, block.data() + 2, 62));
}

TEST(VersionInfo, FilesWithoutVersionResource) {
  struct Case {
    std::string path;
    DWORD error;
  };
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string textFile = tempFile("not_a_module.dll");
  {
    File file(openFile(textFile, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(write(file.get(), "this is no module\r\n"));
  }
  std::string folder = tempFolder();
  folder.pop_back();
  const Case cases[] = {
      {program, ERROR_RESOURCE_DATA_NOT_FOUND},  // a module without version resource
      {textFile, ERROR_RESOURCE_DATA_NOT_FOUND},  // no module at all
      {programFolder() + "\\no_such_module.dll", ERROR_FILE_NOT_FOUND},
      {programFolder() + "\\no_such_folder\\x.dll", ERROR_PATH_NOT_FOUND},
      {folder, ERROR_ACCESS_DENIED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    DWORD handle = 99;
    SetLastError(0);
    EXPECT_EQ(0u, GetFileVersionInfoSizeA(c.path.c_str(), &handle));
    EXPECT_EQ(c.error, GetLastError());
    BYTE block[64];
    SetLastError(0);
    EXPECT_FALSE(GetFileVersionInfoA(c.path.c_str(), 0, sizeof block, block));
    EXPECT_EQ(c.error, GetLastError());
  }
  EXPECT_TRUE(DeleteFileA(textFile.c_str()));

  DWORD handle = 99;
  SetLastError(0);
  EXPECT_EQ(0u, GetFileVersionInfoSizeA("", &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), GetLastError());
}
