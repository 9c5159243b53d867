// The module as a host loads it: its entry points and the resources that the
// component reads at run time (string table, type library). The version is
// the frame test's, the registration scripts' effect the server test's.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using WideText = std::basic_string<WCHAR>;

WideText wide(const char *text) {
  WideText out;
  for (; *text; ++text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*text)));
  return out;
}

std::string narrow(const WCHAR *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  return out;
}

class Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, module = LoadLibraryA(COMPONENT_MODULE)); }
  void TearDown() override { FreeLibrary(module); }

  std::string resourceBytes(WORD id, const char *type) {
    WideText typeName = wide(type);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), typeName.c_str());
    if (found == nullptr) return {};
    const char *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
  }

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

TEST_F(Module, StringTable) {
  EXPECT_EQ("rvZedaZuvivurAzodav", loadString(100));
  EXPECT_EQ("Cannot perform this operation because the object being passed in is not valid.", loadString(601));
  EXPECT_EQ("The object already exists within the collection with the same ID.", loadString(602));
  EXPECT_EQ("", loadString(604));
  EXPECT_EQ("", loadString(4000));

  // A short buffer gets the start of the text and its terminator.
  WCHAR buffer[6];
  EXPECT_EQ(5, LoadStringW(module, 603, buffer, 6));
  EXPECT_EQ("Index", narrow(buffer, 5));
  EXPECT_EQ(0, buffer[5]);

  // A zero-sized buffer receives a pointer to the text in the module itself.
  const WCHAR *inPlace = nullptr;
  EXPECT_EQ(20, LoadStringW(module, 603, reinterpret_cast<LPWSTR>(&inPlace), 0));
  ASSERT_NE(nullptr, inPlace);
  EXPECT_EQ("Index out of bounds.", narrow(inPlace, 20));
}

TEST_F(Module, TypeLibraryResource) {
  const std::string typeLibrary = resourceBytes(1, "TYPELIB");
  ASSERT_GT(typeLibrary.size(), 4u);
  EXPECT_EQ("MSFT", typeLibrary.substr(0, 4));
}

}  // namespace
