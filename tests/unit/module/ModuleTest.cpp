// The module as a host loads it: its entry points and its string table. The
// type library is the contract test's, the version the frame test's, the
// registration scripts' effect the server test's.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string narrow(const WCHAR *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  return out;
}

class Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, module = LoadLibraryA(COMPONENT_MODULE)); }
  void TearDown() override { FreeLibrary(module); }

  std::string loadString(UINT id) {
    WCHAR buffer[1024];
    int length = LoadStringW(module, id, buffer, 1024);
    return narrow(buffer, length);
  }

  HMODULE module = nullptr;
};

TEST_F(Module, EntryPoints) {
  // What they do when called is the server test's.
  const char *names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
  for (const char *name : names) EXPECT_NE(nullptr, GetProcAddress(module, name)) << name;
  EXPECT_EQ(nullptr, GetProcAddress(module, "DllMain"));
#ifdef _WIN32
  // Ordinals 1 to 4 in the order of the module definition.
  for (WORD ordinal = 1; ordinal <= 4; ++ordinal)
    EXPECT_EQ(GetProcAddress(module, names[ordinal - 1]), GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
  EXPECT_EQ(nullptr, GetProcAddress(module, MAKEINTRESOURCEA(5)));
#endif
}

// The texts the component reports come from its string table.
TEST_F(Module, StringTable) {
  EXPECT_EQ("rvZedaZuvivurAzodav", loadString(100));
  EXPECT_EQ("Index out of bounds.", loadString(603));
  EXPECT_EQ("", loadString(604));
}

}  // namespace
