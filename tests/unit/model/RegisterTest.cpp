// Registration: the symbol header and INI files byte for byte, the service's
// Performance values, and unlodctr and lodctr run one after the other from
// the registration folder.
#include "RegistrationFixture.h"
#include "Trees.h"
#include "doubles/DoublesHarness.h"

#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#endif

using trees::objectsOf;

namespace {

// Object A with counters a1 and a2, then object B with counter b1; A's help
// has a line break and a1's name a character of the upper half of Latin-1.
const char Definition[] =
    "<PerfData headerFile=\"x.h\" iniFile=\"x.ini\" perfmonDLLFile=\"x.dll\" deviceName=\"%DEVICE%\" "
    "instanceCleannupPolling=\"900\">"
    "<Object name=\"A\" help=\"hA&#10;more\" hasInstances=\"false\" autoCreateInstanceTotal=\"false\" "
    "instanceTimeout=\"0\">"
    "<Counter name=\"a1&#233;\" help=\"ha1\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/>"
    "<Counter name=\"a2\" help=\"ha2\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>"
    "<Object name=\"B\" help=\"hB\" hasInstances=\"false\" autoCreateInstanceTotal=\"false\" instanceTimeout=\"0\">"
    "<Counter name=\"b1\" help=\"hb1\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>"
    "</PerfData>";

class Register : public RegistrationFixture {
 protected:
  void SetUp() override {
    prepare("register", "RVRegisterTest");
    takeError();
  }
  void TearDown() override { removeAll({"x.h", "x.ini"}); }

  std::string read(const std::string &name) { return fileText(folder + "\\" + name); }

  void loadDefinition() {
    writeDefinition(Definition);
    TestBstr from(folder);
    ASSERT_EQ(S_OK, manager->Load(from.value));
  }

  HRESULT registerIn(const std::string &where) {
    TestBstr in(where);
    return manager->Register(in.value);
  }
};

TEST_F(Register, NothingLoadedWritesNothing) {
  EXPECT_EQ(E_FAIL, registerIn(folder));
  EXPECT_EQ("Failed HRESULT [0x80004005] :PerfMgr not loaded. Unable to register.", takeError().description);
  loadDefinition();
  objectsOf(manager.p)->RemoveAll();
  EXPECT_EQ(E_FAIL, registerIn(folder));
  EXPECT_EQ("<missing>", read("x.h"));
  EXPECT_EQ("<missing>", read("x.ini"));
}

TEST_F(Register, WritesTheFilesAndThePerformanceValues) {
  DoublesHarness outside(DOUBLES_MODULE);
  DoublesSettings settings = {};
  settings.errorLogAvailable = TRUE;
  outside.reset(settings);
  loadDefinition();
  char before[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, before);
  ASSERT_EQ(S_OK, registerIn(folder));
  char after[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(before, after);
  // unlodctr and lodctr both started: nothing was logged.
  EXPECT_EQ(0u, outside.logErrorCalls().size());

  EXPECT_EQ(
      "#define OBJECT1 0\r\n#define COUNTER2 2\r\n#define COUNTER3 4\r\n#define OBJECT4 6\r\n"
      "#define COUNTER5 8\r\n",
      read("x.h"));
  const std::string ini = read("x.ini");
  EXPECT_EQ("[info]\r\ndrivername=" + device + "\r\nsymbolfile=" + folder +
                "\\x.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
                "OBJECT1_009_NAME=A\r\nOBJECT1_009_HELP=hA\r\nmore\r\n"
                "COUNTER2_009_NAME=a1\xE9\r\nCOUNTER2_009_HELP=ha1\r\nCOUNTER3_009_NAME=a2\r\nCOUNTER3_009_HELP=ha2\r\n"
                "OBJECT4_009_NAME=B\r\nOBJECT4_009_HELP=hB\r\nCOUNTER5_009_NAME=b1\r\nCOUNTER5_009_HELP=hb1\r\n",
            ini);

  // The values, each with one terminating zero.
  HKEY key = nullptr;
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + device + "\\Performance";
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
  for (const auto &[name, data] :
       {std::pair{"Close", "CloseNorvalePerfData"}, std::pair{"Collect", "CollectNorvalePerfData"},
        std::pair{"Open", "OpenNorvalePerfData"}, std::pair{"Library", "x.dll"}}) {
    char text[64] = {};
    DWORD type = 0, size = sizeof text;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << name;
    EXPECT_EQ(std::string(data).size() + 1, size) << name;
    EXPECT_STREQ(data, text);
  }
  RegCloseKey(key);

  // A folder that ends in a backslash gets one more; the files land all the same.
  DeleteFileA((folder + "\\x.h").c_str());
  ASSERT_EQ(S_OK, registerIn(folder + "\\"));
  EXPECT_NE("<missing>", read("x.h"));
  EXPECT_NE(std::string::npos, read("x.ini").find("symbolfile=" + folder + "\\\\x.h\r\n"));

  // A folder that does not exist: the system's own error.
  EXPECT_EQ(E_FAIL, registerIn(folder + "\\missing"));
  EXPECT_EQ(0u, takeError().description.find("System error [ 0x00000003, "));
}

// The file names come from the definition file only: a copy or a blob brings
// the tree and the device name, never the names of the files.
TEST_F(Register, FileNamesStayWithTheManagerThatLoadedThem) {
  loadDefinition();
  Ref<IPerfMgr> copy;
  create(CLSID_PerfMgr, IID_IPerfMgr, copy);
  ASSERT_EQ(S_OK, copy->CopyFrom(manager.p));
  TestBstr in(folder);
  EXPECT_EQ(E_FAIL, copy->Register(in.value));
  EXPECT_EQ(0u, takeError().description.find("System error [ 0x"));

  VARIANT blob;
  VariantInit(&blob);
  ASSERT_EQ(S_OK, copy->get_MyBlob(btAsBinaryArray, &blob));
  ASSERT_EQ(S_OK, manager->put_MyBlob(btAsBinaryArray, blob));
  VariantClear(&blob);
  ASSERT_EQ(S_OK, registerIn(folder));
  EXPECT_EQ(0u, read("x.h").find("#define OBJECT1 0\r\n"));
}

#ifndef _WIN32
// Stand-ins for unlodctr and lodctr in the platform's tools folder: a
// program that cannot start, and one that records its arguments and its
// current folder.
TEST_F(Register, RunsUnlodctrThenLodctrFromTheRegistrationFolder) {
  DoublesHarness outside(DOUBLES_MODULE);
  ASSERT_TRUE(outside.loaded());
  DoublesSettings settings = {};
  settings.errorLogAvailable = TRUE;
  outside.reset(settings);
  loadDefinition();

  char posixTemp[] = "/tmp/rv-tools-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(posixTemp));
  const std::string tools = posixTemp, record = tools + "/record";
  auto writeTool = [&](const char *name, const std::string &content) {
    const std::string file = tools + "/" + name;
    FILE *out = fopen(file.c_str(), "w");
    fputs(content.c_str(), out);
    fclose(out);
    chmod(file.c_str(), 0755);
  };
  const std::string recorder =
      "#!/bin/sh\n{ basename \"$0\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; pwd; } >>" + record + "\n";
  writeTool("unlodctr", "not a program\n");
  writeTool("lodctr", recorder);
  setenv("WINPLATFORM_TOOLS", tools.c_str(), 1);

  ASSERT_EQ(S_OK, registerIn(folder));
  const std::vector<LogErrorCall> calls = outside.logErrorCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("Failed to execute unlodctr \"" + device + "\". Return code was 11",
            DoublesHarness::text(calls[0].description));
  EXPECT_EQ("RegisterWithWindows", DoublesHarness::text(calls[0].procedure));

  writeTool("unlodctr", recorder);
  ASSERT_EQ(S_OK, registerIn(folder));
  unsetenv("WINPLATFORM_TOOLS");

  // The folder as the tool sees it: drive Z: is the POSIX root.
  std::string underRoot = folder.substr(2);
  for (char &c : underRoot)
    if (c == '\\') c = '/';
  char posixFolder[4096] = {};
  ASSERT_NE(nullptr, realpath(underRoot.c_str(), posixFolder));
  std::string expected;
  for (const std::string &line :
       {std::string("lodctr"), folder + "\\x.ini", std::string(posixFolder), std::string("unlodctr"), device,
        std::string(), std::string("lodctr"), folder + "\\x.ini", std::string(posixFolder)})
    expected += line + "\n";
  FILE *in = fopen(record.c_str(), "r");
  ASSERT_NE(nullptr, in);
  std::string recorded;
  for (int c; (c = fgetc(in)) != EOF;) recorded.push_back(static_cast<char>(c));
  fclose(in);
  // unlodctr's current folder is the host's, whatever it is.
  const size_t unlodctrFolder = recorded.find(device + "\n") + device.size() + 1;
  recorded.replace(unlodctrFolder, recorded.find('\n', unlodctrFolder) - unlodctrFolder, "");
  EXPECT_EQ(expected, recorded);
  for (const char *name : {"unlodctr", "lodctr", "record"}) unlink((tools + "/" + name).c_str());
  rmdir(tools.c_str());
}
#endif

}  // namespace
