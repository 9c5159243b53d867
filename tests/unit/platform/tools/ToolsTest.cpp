// The POSIX system tools, run as separate programs on the same platform root
// as this test (the environment is passed on), their results read back
// through the registry API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string readAll(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string rootFolder() { return std::getenv("WINPLATFORM_ROOT"); }

// Runs a tool of the build with its output captured; no shell involved.
ToolRun runTool(const std::string &tool, std::vector<std::string> arguments) {
  std::string program = std::string(TOOLS_FOLDER) + "/" + tool;
  std::string outPath = rootFolder() + "/tool.out", errPath = rootFolder() + "/tool.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  std::vector<char *> argv{program.data()};
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return ToolRun{-1, "", "spawn failed"};
  int status = 0;
  waitpid(child, &status, 0);
  return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(outPath), readAll(errPath)};
}

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

// A key closed on every path.
class Key {
 public:
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY *out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

void createKey(HKEY root, const char *path, Key &key) {
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
}

void setDword(HKEY key, const char *name, DWORD value) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof value));
}

void setMultiString(HKEY key, const char *name, const std::vector<std::string> &strings) {
  std::string data;
  for (const std::string &text : strings) data += text + '\0';
  data += '\0';
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                                          static_cast<DWORD>(data.size())));
}

std::vector<std::string> multiString(HKEY root, const char *path, const char *name) {
  Key key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return {"<no key>"};
  char data[4096];
  DWORD size = sizeof data, type = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(data), &size) != ERROR_SUCCESS)
    return {"<no value>"};
  std::vector<std::string> strings;
  for (size_t at = 0; at < size && data[at] != 0;) {
    strings.emplace_back(data + at);
    at += strings.back().size() + 1;
  }
  return strings;
}

DWORD dword(HKEY root, const char *path, const char *name) {
  DWORD value = 0xffffffff, size = sizeof value;
  Key key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return 0xfffffffe;
  RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size);
  return value;
}

// Every key and value below root\path, in one text, to compare whole trees.
std::string snapshot(HKEY root, const std::string &path) {
  Key key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return path + " <missing>\n";
  std::string out = "[" + path + "]\n";
  for (DWORD index = 0;; ++index) {
    char name[256];
    BYTE data[8192];
    DWORD length = sizeof name, size = sizeof data, type = 0;
    if (RegEnumValueA(key.get(), index, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    out += std::string(name) + " " + std::to_string(type) + " " + std::string(reinterpret_cast<char *>(data), size) +
           "\n";
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out += snapshot(root, path.empty() ? std::string(name) : path + "\\" + name);
  }
  return out;
}

constexpr const char *Perflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
constexpr const char *Performance = "SYSTEM\\CurrentControlSet\\Services\\MySvc\\Performance";

// The state of the counter registry that every lodctr test starts from:
// the system's own names, and a service key for MySvc.
void prepareCounterRegistry() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, Perflib);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services");
  Key perflib, language, service;
  createKey(HKEY_LOCAL_MACHINE, Perflib, perflib);
  setDword(perflib.get(), "Last Counter", 1846);
  setDword(perflib.get(), "Last Help", 1847);
  createKey(perflib.get(), "009", language);
  setMultiString(language.get(), "Counter", {"1", "1847", "2", "System", "4", "Memory"});
  setMultiString(language.get(), "Help", {"3", "The system.", "5", "The memory."});
  createKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\MySvc", service);
}

// The INI and header files as the component writes them: 8-bit text, CR LF,
// the symbol file named by its full Windows path. They go to C:\perf, which
// is the folder c/perf of the platform's root.
std::string writeCounterFiles(const std::string &driver, const std::string &extraText = "") {
  std::string folder = rootFolder() + "/c/perf";
  mkdir((rootFolder() + "/c").c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  writeFile(folder + "/" + driver + ".h", "#define OBJECT1 0\r\n#define COUNTER2 2\r\n#define COUNTER3 4\r\n");
  writeFile(folder + "/" + driver + ".ini",
            "[info]\r\ndrivername=" + driver + "\r\nsymbolfile=C:\\perf\\\\" + driver +
                ".h\r\n[languages]\r\n009=English\r\n[text]\r\n"
                "OBJECT1_009_NAME=Queue\r\nOBJECT1_009_HELP=The queue \xe9t\xe9.\r\n"
                "COUNTER2_009_NAME=Length\r\nCOUNTER2_009_HELP=Items waiting.\r\n"
                "COUNTER3_009_NAME=Rate\r\nCOUNTER3_009_HELP=Items per second,\r\nsplit over two lines.\r\n" +
                extraText);
  return "C:\\perf\\" + driver + ".ini";
}

}  // namespace

TEST(Regsvr32, RegistersAndUnregistersAModuleAndReportsEachFailure) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\RegistrationTestModule");
  ToolRun registered = runTool("regsvr32", {TEST_MODULE});
  EXPECT_EQ(0, registered.status) << registered.err;
  EXPECT_EQ(std::string("DllRegisterServer in ") + TEST_MODULE + " succeeded.\n", registered.out);
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\RegistrationTestModule", 0, KEY_READ, key.out()));
  char state[32];
  DWORD size = sizeof state;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "State", nullptr, nullptr, reinterpret_cast<BYTE *>(state), &size));
  EXPECT_STREQ("registered", state);

  // Silent, and with the module named by its Windows path (drive Z: is the POSIX root).
  std::string windowsPath = std::string("Z:") + TEST_MODULE;
  for (char &c : windowsPath)
    if (c == '/') c = '\\';
  ToolRun unregistered = runTool("regsvr32", {"/u", "/s", windowsPath});
  EXPECT_EQ(0, unregistered.status) << unregistered.err;
  EXPECT_EQ("", unregistered.out + unregistered.err);
  Key gone;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\RegistrationTestModule", 0, KEY_READ, gone.out()));

  // The entry point fails: its code is reported.
  ToolRun failed = runTool("regsvr32", {"/u", TEST_MODULE});
  EXPECT_EQ(5, failed.status);
  EXPECT_EQ(std::string("DllUnregisterServer in ") + TEST_MODULE + " failed.\nReturn code was: 0x80070002\n",
            failed.err);

  ToolRun missing = runTool("regsvr32", {"/tmp/no such folder/none.so"});
  EXPECT_EQ(3, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find("LoadLibrary(\"/tmp/no such folder/none.so\") failed - "))
      << missing.err;

  ToolRun noEntry = runTool("regsvr32", {PLATFORM_LIBRARY});
  EXPECT_EQ(4, noEntry.status);
  EXPECT_NE(std::string::npos, noEntry.err.find("the DllRegisterServer entry point was not found")) << noEntry.err;

  EXPECT_EQ(1, runTool("regsvr32", {}).status);
  EXPECT_EQ(1, runTool("regsvr32", {"/x", TEST_MODULE}).status);
}

TEST(RegQuery, PrintsKeysAndValuesAsRegExeDoes) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\RegQueryTest");
  Key top, sub, empty;
  createKey(HKEY_CURRENT_USER, "Software\\RegQueryTest", top);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(top.get(), "", 0, REG_SZ, reinterpret_cast<const BYTE *>("def"), 4));
  const BYTE binary[] = {0x01, 0x02, 0xff};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(top.get(), "Bin", 0, REG_BINARY, binary, sizeof binary));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(top.get(), "Exp", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>("%TEMP%\\x"), 9));
  setMultiString(top.get(), "Multi", {"a", "b"});
  setDword(top.get(), "Num", 42);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(top.get(), "Caf\xe9", 0, REG_SZ, reinterpret_cast<const BYTE *>("\x80"), 2));
  createKey(top.get(), "Sub", sub);
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(sub.get(), "Text", 0, REG_SZ, reinterpret_cast<const BYTE *>("hello world"), 12));
  createKey(top.get(), "Empty", empty);

  ToolRun all = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest"});
  EXPECT_EQ(0, all.status);
  EXPECT_EQ("\n"
            "HKEY_CURRENT_USER\\Software\\RegQueryTest\n"
            "    (Default)    REG_SZ    def\n"
            "    Bin    REG_BINARY    0102FF\n"
            "    Caf\xc3\xa9    REG_SZ    \xe2\x82\xac\n"
            "    Exp    REG_EXPAND_SZ    %TEMP%\\x\n"
            "    Multi    REG_MULTI_SZ    a\\0b\n"
            "    Num    REG_DWORD    0x2a\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\RegQueryTest\\Empty\n"
            "HKEY_CURRENT_USER\\Software\\RegQueryTest\\Sub\n",
            all.out);

  ToolRun recursive = runTool("reg", {"QUERY", "HKEY_CURRENT_USER\\Software\\RegQueryTest\\", "/s"});
  EXPECT_EQ(0, recursive.status);
  EXPECT_NE(std::string::npos, recursive.out.find("    Num    REG_DWORD    0x2a\n"
                                                  "\n"
                                                  "HKEY_CURRENT_USER\\Software\\RegQueryTest\\Empty\n"
                                                  "\n"
                                                  "HKEY_CURRENT_USER\\Software\\RegQueryTest\\Sub\n"
                                                  "    Text    REG_SZ    hello world\n"
                                                  "\n"))
      << recursive.out;

  ToolRun one = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest", "/v", "num"});
  EXPECT_EQ(0, one.status);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\RegQueryTest\n    num    REG_DWORD    0x2a\n\n", one.out);
  ToolRun searched = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest", "/v", "TEXT", "/s"});
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\RegQueryTest\\Sub\n    TEXT    REG_SZ    hello world\n\n"
            "Search complete. Number of matches found: 1\n",
            searched.out);
  ToolRun unset = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest\\Sub", "/ve"});
  EXPECT_EQ(0, unset.status);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\RegQueryTest\\Sub\n    (Default)    REG_SZ    (value not set)\n\n",
            unset.out);

  const std::string notFound = "ERROR: The system was unable to find the specified registry key or value.\n";
  ToolRun missingKey = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest\\Nothing"});
  EXPECT_EQ(1, missingKey.status);
  EXPECT_EQ(notFound, missingKey.err);
  ToolRun missingValue = runTool("reg", {"query", "HKCU\\Software\\RegQueryTest", "/v", "Nothing"});
  EXPECT_EQ(1, missingValue.status);
  EXPECT_EQ(notFound, missingValue.err);
  EXPECT_EQ(1, runTool("reg", {"query", "HKXX\\Software"}).status);
  EXPECT_EQ(1, runTool("reg", {"query"}).status);
  EXPECT_EQ(1, runTool("reg", {"query", "HKCU\\Software", "/v"}).status);
  EXPECT_EQ(0, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\RegQueryTest"));
}

TEST(Lodctr, InstallsTextsAndUnlodctrRestoresTheTablesExactly) {
  prepareCounterRegistry();
  const std::string before = snapshot(HKEY_LOCAL_MACHINE, Perflib);
  std::string ini = writeCounterFiles("MySvc");

  ToolRun loaded = runTool("lodctr", {ini});
  ASSERT_EQ(0, loaded.status) << loaded.err;
  // Names get First Counter + offset, help texts First Help + offset; the
  // line a help text's line break split off carries no entry.
  const std::string language = std::string(Perflib) + "\\009";
  EXPECT_EQ((std::vector<std::string>{"1", "1847", "2", "System", "4", "Memory", "1848", "Queue", "1850", "Length",
                                      "1852", "Rate"}),
            multiString(HKEY_LOCAL_MACHINE, language.c_str(), "Counter"));
  EXPECT_EQ((std::vector<std::string>{"3", "The system.", "5", "The memory.", "1849", "The queue \xe9t\xe9.", "1851",
                                      "Items waiting.", "1853", "Items per second,"}),
            multiString(HKEY_LOCAL_MACHINE, language.c_str(), "Help"));
  EXPECT_EQ(1848u, dword(HKEY_LOCAL_MACHINE, Performance, "First Counter"));
  EXPECT_EQ(1852u, dword(HKEY_LOCAL_MACHINE, Performance, "Last Counter"));
  EXPECT_EQ(1849u, dword(HKEY_LOCAL_MACHINE, Performance, "First Help"));
  EXPECT_EQ(1853u, dword(HKEY_LOCAL_MACHINE, Performance, "Last Help"));
  EXPECT_EQ(1852u, dword(HKEY_LOCAL_MACHINE, Perflib, "Last Counter"));
  EXPECT_EQ(1853u, dword(HKEY_LOCAL_MACHINE, Perflib, "Last Help"));

  // Loading twice is refused and changes nothing.
  const std::string installed = snapshot(HKEY_LOCAL_MACHINE, "");
  ToolRun again = runTool("lodctr", {ini});
  EXPECT_NE(0, again.status);
  EXPECT_NE(std::string::npos, again.err.find("already installed")) << again.err;
  EXPECT_EQ(installed, snapshot(HKEY_LOCAL_MACHINE, ""));

  // A second service gets the next block; removing the first leaves Last
  // Counter where the second put it.
  Key other;
  createKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Other", other);
  ASSERT_EQ(0, runTool("lodctr", {writeCounterFiles("Other")}).status);
  EXPECT_EQ(1854u, dword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Other\\Performance",
                         "First Counter"));
  ToolRun unloaded = runTool("unlodctr", {"MySvc"});
  ASSERT_EQ(0, unloaded.status) << unloaded.err;
  EXPECT_EQ(1858u, dword(HKEY_LOCAL_MACHINE, Perflib, "Last Counter"));
  EXPECT_EQ((std::vector<std::string>{"1", "1847", "2", "System", "4", "Memory", "1854", "Queue", "1856", "Length",
                                      "1858", "Rate"}),
            multiString(HKEY_LOCAL_MACHINE, language.c_str(), "Counter"));
  EXPECT_EQ(0xffffffffu, dword(HKEY_LOCAL_MACHINE, Performance, "First Counter"));

  // Removing the last block lowers Last Counter and Last Help below it.
  ASSERT_EQ(0, runTool("unlodctr", {"Other"}).status);
  EXPECT_EQ(1852u, dword(HKEY_LOCAL_MACHINE, Perflib, "Last Counter"));
  EXPECT_EQ(1853u, dword(HKEY_LOCAL_MACHINE, Perflib, "Last Help"));

  // One service loaded and unloaded leaves the tables exactly as they were.
  Key perflib;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, Perflib, 0, KEY_ALL_ACCESS, perflib.out()));
  setDword(perflib.get(), "Last Counter", 1846);
  setDword(perflib.get(), "Last Help", 1847);
  ASSERT_EQ(before, snapshot(HKEY_LOCAL_MACHINE, Perflib));
  ASSERT_EQ(0, runTool("lodctr", {ini}).status);
  ASSERT_EQ(0, runTool("unlodctr", {"MySvc"}).status);
  EXPECT_EQ(before, snapshot(HKEY_LOCAL_MACHINE, Perflib));
}

TEST(Lodctr, BadInputIsReportedAndChangesNothing) {
  prepareCounterRegistry();
  std::string ini = writeCounterFiles("MySvc");
  const std::string before = snapshot(HKEY_LOCAL_MACHINE, "");
  std::string folder = rootFolder() + "/c/perf";

  struct Case {
    const char *what;
    std::string tool;
    std::string argument;
    std::string message;
  };
  writeFile(folder + "/undefined.ini",
            "[info]\r\ndrivername=MySvc\r\nsymbolfile=MySvc.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
            "OBJECT1_009_NAME=Queue\r\nCOUNTER9_009_NAME=Nine\r\n");
  writeFile(folder + "/nosymbols.ini",
            "[info]\r\ndrivername=MySvc\r\nsymbolfile=missing.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
            "OBJECT1_009_NAME=Queue\r\n");
  writeFile(folder + "/nodriver.ini", "[languages]\r\n009=English\r\n[text]\r\nOBJECT1_009_NAME=Queue\r\n");
  writeFile(folder + "/badheader.h", "#define OBJECT1 zero\r\n");
  writeFile(folder + "/badheader.ini",
            "[info]\r\ndrivername=MySvc\r\nsymbolfile=badheader.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
            "OBJECT1_009_NAME=Queue\r\n");
  writeFile(folder + "/noservice.ini",
            "[info]\r\ndrivername=NoSuchService\r\nsymbolfile=MySvc.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
            "OBJECT1_009_NAME=Queue\r\n");
  const Case cases[] = {
      {"missing INI file", "lodctr", "C:\\perf\\none.ini", "Unable to open the file C:\\perf\\none.ini"},
      {"undefined symbol", "lodctr", "C:\\perf\\undefined.ini", "The symbol COUNTER9"},
      {"missing symbol file", "lodctr", "C:\\perf\\nosymbols.ini", "Unable to open the symbol file missing.h"},
      {"no driver name", "lodctr", folder + "/nodriver.ini", "names no driver"},
      {"bad definition", "lodctr", "C:\\perf\\badheader.ini", "is not a definition"},
      {"service key missing", "lodctr", "C:\\perf\\noservice.ini", "NoSuchService"},
      {"driver not installed", "unlodctr", "MySvc", "The counters of MySvc are not installed."},
      {"service key missing", "unlodctr", "NoSuchService", "does not exist"},
  };
  for (const Case &c : cases) {
    ToolRun run = runTool(c.tool, {c.argument});
    EXPECT_NE(0, run.status) << c.what;
    EXPECT_NE(std::string::npos, run.err.find(c.message)) << c.what << ": " << run.err;
    EXPECT_EQ(before, snapshot(HKEY_LOCAL_MACHINE, "")) << c.what;
  }
  EXPECT_NE(0, runTool("lodctr", {}).status);
  EXPECT_NE(0, runTool("unlodctr", {}).status);
}
