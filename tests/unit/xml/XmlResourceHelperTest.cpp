// The XML resource helper against the system's XML document (the platform
// layer's natively, Wine's msxml3 under Wine); the outside doubles stand in
// for the branding component and take the log records.
//
// Wine 8's msxml3 reports every failed load with the parse error code
// E_FAIL, so under Wine a missing file never reads as "object not found" and
// the branding folder is never asked for: the exact codes and the branding
// fallback are checked natively only.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "doubles/DoublesHarness.h"
#include "log/Err.h"
#include "rvOutsideComponents.h"
#include "xml/XmlResourceHelper.h"
#include "rvText.h"

using namespace rv;

namespace {

Text wide(const std::string &text) { return Text(text.begin(), text.end()); }
std::string narrow(const OLECHAR *text) { return text != nullptr ? DoublesHarness::text(text) : std::string(); }

const char Counters[] = "<PerfData Enabled=\"1\" Empty=\"\"><Object Name=\"Disk\"/><Object Name=\"Net\"/></PerfData>";

// What a call raised; an error with hr 0 when it raised nothing.
Err raisedBy(const std::function<void()> &call) {
  try {
    call();
  } catch (const Err &e) {
    return e;
  }
  return Err();
}

std::string attribute(XmlResourceHelper &helper, const char *xpath, const char *name) {
  return narrow(helper.GetAttributeString(wide(xpath).c_str(), wide(name).c_str()).get());
}

// "Failed HRESULT [0x...] :Invalid xml resource file: <name>. ", which the
// parse error's reason follows.
std::string invalidFilePrefix(HRESULT hr, const Text &name) {
  char code[16];
  wsprintfA(code, "0x%08X", static_cast<unsigned>(hr));
  return std::string("Failed HRESULT [") + code + "] :Invalid xml resource file: " + narrow(name.c_str()) + ". ";
}

// The process's current folder, moved for the length of a scope.
class CurrentFolder {
 public:
  explicit CurrentFolder(const Text &folder) {
    GetCurrentDirectoryW(MAX_PATH, previous_);
    EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  }
  ~CurrentFolder() { SetCurrentDirectoryW(previous_); }

 private:
  OLECHAR previous_[MAX_PATH] = {};
};

// The files live in the temporary folder under names of this process. The
// branding double names that folder too, and the tests run in another one,
// so a relative name is found there exactly when the branding component is
// asked for its folder.
class XmlResource : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    doubles = new DoublesHarness(DOUBLES_MODULE);
    OLECHAR temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    folder = Text(temp, length > 0 ? length - 1 : 0);
  }
  static void TearDownTestSuite() {
    for (const Text &file : files) DeleteFileW(file.c_str());
    delete doubles;
    CoUninitialize();
  }
  void SetUp() override {
    ASSERT_TRUE(doubles->loaded());
    ASSERT_FALSE(folder.empty());
    doubles->setRegistered(CLSID_FolderBranding, true);
    DoublesSettings settings = {};
    settings.errorLogAvailable = TRUE;
    settings.brandingAvailable = TRUE;
    lstrcpynW(settings.brandingFolder, folder.c_str(), 260);
    doubles->reset(settings);
  }

  static Text named(const char *name) {
    return wide("xml-resource-" + std::to_string(GetCurrentProcessId()) + "-" + name);
  }
  // Writes a file into the temporary folder.
  static void write(const char *name, const std::string &bytes) {
    const Text path = folder + wide("\\") + named(name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    files.push_back(path);
  }

  static DoublesHarness *doubles;
  static Text folder;
  static std::vector<Text> files;
};

DoublesHarness *XmlResource::doubles = nullptr;
Text XmlResource::folder;
std::vector<Text> XmlResource::files;

// The component reads its definition file by a relative name: from the
// current folder without asking the branding component, a node or attribute
// that is not there raised as a null pointer, and a file that cannot be read
// raised (and logged once) with the parse error's code and reason.
TEST_F(XmlResource, AFileInTheCurrentFolder) {
  write("Current.xml", Counters);
  write("Malformed.xml", "<PerfData>\n<Object>\n</PerfData>\n");
  CurrentFolder current(folder);
  XmlResourceHelper helper(named("Current.xml").c_str());
  EXPECT_EQ("1", attribute(helper, "/PerfData", "Enabled"));
  EXPECT_EQ("", attribute(helper, "/PerfData", "Empty"));
  EXPECT_EQ("Disk", attribute(helper, "/PerfData/Object", "Name"));
  for (const auto &[xpath, name] : {std::pair{"/Other", "Enabled"}, std::pair{"/PerfData", "Disabled"}}) {
    const Err e = raisedBy([&] { attribute(helper, xpath, name); });
    EXPECT_EQ(E_POINTER, e.hr) << xpath << " " << name;
    EXPECT_EQ("GetAttributeString", e.procedure);
  }

  const Text malformed = named("Malformed.xml");
  const Err e = raisedBy([&] { XmlResourceHelper helper(malformed.c_str()); });
  ASSERT_LT(e.hr, 0);
  const std::string prefix = invalidFilePrefix(e.hr, malformed);
  EXPECT_EQ(prefix, e.description.substr(0, prefix.size()));
  const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("Load", narrow(calls[0].procedure));
  EXPECT_EQ("XmlResourceHelper", narrow(calls[0].file));
  EXPECT_EQ(e.description, narrow(calls[0].description));
  EXPECT_EQ(0, doubles->counts().brandingCreations);
#ifndef _WIN32
  EXPECT_EQ(static_cast<HRESULT>(0xC00CE56D), e.hr);
  EXPECT_EQ(prefix.size(), e.description.find("End tag 'PerfData' does not match the start tag 'Object'."));
#endif
}

#ifndef _WIN32
TEST_F(XmlResource, RelativeNameNotFoundIsLookedForInTheBrandingFolder) {
  write("Branded.xml", Counters);
  XmlResourceHelper helper(named("Branded.xml").c_str());
  EXPECT_EQ("1", attribute(helper, "/PerfData", "Enabled"));
  EXPECT_EQ(1, doubles->counts().brandingCreations);

  // Found nowhere: the error names the file as it was given.
  const Text absent = named("Absent.xml");
  const Err e = raisedBy([&] { XmlResourceHelper helper(absent.c_str()); });
  EXPECT_EQ(static_cast<HRESULT>(0x800C0006), e.hr);
  EXPECT_EQ(invalidFilePrefix(e.hr, absent) + "The system cannot locate the object specified.\r\n", e.description);
  EXPECT_EQ(2, doubles->counts().brandingCreations);

  doubles->setRegistered(CLSID_FolderBranding, false);
  const Err unbranded = raisedBy([&] { XmlResourceHelper helper(absent.c_str()); });
  EXPECT_EQ(REGDB_E_CLASSNOTREG, unbranded.hr);
  EXPECT_EQ("Failed HRESULT [0x80040154] :Failed to create deDaravodi::FolderBranding component",
            unbranded.description);
}
#endif

}  // namespace
