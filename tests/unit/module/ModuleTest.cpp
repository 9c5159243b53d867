// The module as a host loads it: its entry points and the resources that the
// component reads at run time (string table, version, registration scripts,
// type library).
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <cstring>
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

  template <typename F> F entry(const char *name) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  }

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
  using NoArgs = HRESULT(STDAPICALLTYPE *)();
  using GetClassObject = HRESULT(STDAPICALLTYPE *)(const GUID &, const GUID &, void **);
  auto canUnload = entry<NoArgs>("DllCanUnloadNow");
  auto getClassObject = entry<GetClassObject>("DllGetClassObject");
  ASSERT_NE(nullptr, canUnload);
  ASSERT_NE(nullptr, getClassObject);
  EXPECT_NE(nullptr, entry<NoArgs>("DllRegisterServer"));
  EXPECT_NE(nullptr, entry<NoArgs>("DllUnregisterServer"));
  EXPECT_EQ(nullptr, entry<NoArgs>("DllMain"));
#ifdef _WIN32
  // Ordinals 1 to 4 in the order of the module definition.
  const char *byOrdinal[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
  for (WORD ordinal = 1; ordinal <= 4; ++ordinal)
    EXPECT_EQ(GetProcAddress(module, byOrdinal[ordinal - 1]), GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
  EXPECT_EQ(nullptr, GetProcAddress(module, MAKEINTRESOURCEA(5)));
#endif

  // Nothing is alive, so the module may go.
  EXPECT_EQ(S_OK, canUnload());

  const GUID unknownClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  const GUID classFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(E_POINTER, getClassObject(unknownClass, classFactory, nullptr));
  void *object = reinterpret_cast<void *>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(unknownClass, classFactory, &object));
  EXPECT_EQ(nullptr, object);
}

TEST_F(Module, StringTable) {
  EXPECT_EQ("rvZedaZuvivurAzodav", loadString(100));
  EXPECT_EQ("Cannot perform this operation because the object being passed in is not valid.", loadString(601));
  EXPECT_EQ("The object already exists within the collection with the same ID.", loadString(602));
  EXPECT_EQ("Index out of bounds.", loadString(603));
  EXPECT_EQ("Invlalid blob type. Blob must be a string or an array of bytes.", loadString(615));
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

TEST_F(Module, FileVersion) {
  std::string version = resourceBytes(1, "#16");
  ASSERT_FALSE(version.empty());
  const DWORD signature = 0xFEEF04BD;
  size_t at = version.find(std::string(reinterpret_cast<const char *>(&signature), 4));
  ASSERT_NE(std::string::npos, at);
  DWORD fields[4];  // signature, structure version, file version high and low
  ASSERT_LE(at + sizeof fields, version.size());
  std::memcpy(fields, version.data() + at, sizeof fields);
  EXPECT_EQ(MAKELONG(3, 8), static_cast<LONG>(fields[2]));
  EXPECT_EQ(MAKELONG(0, 1202), static_cast<LONG>(fields[3]));
}

TEST_F(Module, RegistrationScriptsOfTheSevenClasses) {
  struct Script {
    WORD id;
    const char *className;
    const char *clsid;
  };
  const Script scripts[] = {
      {101, "PerfCounter", "{5F3AA7E6-D0F0-44AF-9F90-281DA26715F4}"},
      {102, "PerfObject", "{BC3691DB-A420-4A16-9F59-8BB6CE20E6EB}"},
      {103, "PerfCounters", "{F686EB72-7AAD-4718-B2D4-02B165A73311}"},
      {104, "PerfObjects", "{860C2D31-C537-482A-9AE6-A0EC8643F8E8}"},
      {105, "PerfMgr", "{0E1E1448-611D-414F-9920-8B6DA8E5C41F}"},
      {106, "PerfInstance", "{0444DF31-A6C6-42E4-916B-512CA6540A70}"},
      {107, "PerfInstances", "{38E0CF11-0BEF-44FE-847E-5F8C7148E849}"},
  };
  for (const Script &s : scripts) {
    SCOPED_TRACE(s.className);
    const std::string text = resourceBytes(s.id, "REGISTRY");
    const std::string progId = std::string("rvZedaZuvivurAzodav_83.") + s.className;
    const std::string title = std::string("'") + s.className + " Class'";
    for (const std::string &line : {
             progId + " = s " + title,
             "CLSID = s '" + std::string(s.clsid) + "'",
             std::string("NoRemove CLSID"),
             "ForceRemove " + std::string(s.clsid) + " = s " + title,
             "ProgID = s '" + progId + "'",
             "VersionIndependentProgID = s '" + progId + "'",
             std::string("ForceRemove 'Programmable'"),
             std::string("InprocServer32 = s '%MODULE%'"),
             std::string("val ThreadingModel = s 'Both'"),
             std::string("'TypeLib' = s '{507DD558-5BC4-4529-A422-CF9A372E3052}'"),
         })
      EXPECT_NE(std::string::npos, text.find(line)) << line;
  }
  EXPECT_TRUE(resourceBytes(108, "REGISTRY").empty());
}

TEST_F(Module, TypeLibraryResource) {
  const std::string typeLibrary = resourceBytes(1, "TYPELIB");
  ASSERT_GT(typeLibrary.size(), 4u);
  EXPECT_EQ("MSFT", typeLibrary.substr(0, 4));
}

}  // namespace
