// The POSIX system tools, run as programs on this test's platform root (the
// environment is passed on); registry trees are read with `reg query`.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

std::string rootFolder() { return std::getenv("WINPLATFORM_ROOT"); }

std::string readAll(const std::string &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

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
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child) return ToolRun{-1, "", "not run"};
  return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(outPath), readAll(errPath)};
}

std::string tree(const std::string &path) { return runTool("reg", {"query", "HKLM\\" + path, "/s"}).out; }

std::string multi(std::initializer_list<const char *> strings) {
  std::string data;
  for (const char *text : strings) data += std::string(text) + '\0';
  return data + '\0';
}

LONG setValue(const std::string &path, const char *name, DWORD type, const std::string &data) {
  HKEY key = nullptr;
  LONG status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS && name != nullptr)
    status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                            static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return status;
}

LONG setDword(const std::string &path, const char *name, DWORD value) {
  return setValue(path, name, REG_DWORD, std::string(reinterpret_cast<const char *>(&value), sizeof value));
}

const std::string Perflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";

// The system's own names and a service key for MySvc; the INI and header
// files as the component writes them (8-bit text, CR LF, the symbol file
// named by its full Windows path) in C:\perf, the folder c/perf of the root.
std::string prepareCounters() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, Perflib.c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services");
  EXPECT_EQ(ERROR_SUCCESS, setDword(Perflib, "Last Counter", 1846));
  EXPECT_EQ(ERROR_SUCCESS, setDword(Perflib, "Last Help", 1847));
  EXPECT_EQ(ERROR_SUCCESS,
            setValue(Perflib + "\\009", "Counter", REG_MULTI_SZ, multi({"1", "1847", "2", "System", "4", "Memory"})));
  EXPECT_EQ(ERROR_SUCCESS,
            setValue(Perflib + "\\009", "Help", REG_MULTI_SZ, multi({"3", "The system.", "5", "The memory."})));
  EXPECT_EQ(ERROR_SUCCESS, setValue("SYSTEM\\CurrentControlSet\\Services\\MySvc", nullptr, 0, ""));
  mkdir((rootFolder() + "/c").c_str(), 0700);
  mkdir((rootFolder() + "/c/perf").c_str(), 0700);
  std::ofstream(rootFolder() + "/c/perf/MySvc.h")
      << "#define OBJECT1 0\r\n#define COUNTER2 2\r\n#define COUNTER3 4\r\n";
  std::ofstream(rootFolder() + "/c/perf/MySvc.ini")
      << "[info]\r\ndrivername=MySvc\r\nsymbolfile=C:\\perf\\\\MySvc.h\r\n[languages]\r\n009=English\r\n[text]\r\n"
         "OBJECT1_009_NAME=Queue\r\nOBJECT1_009_HELP=The queue \xe9t\xe9.\r\n"
         "COUNTER2_009_NAME=Length\r\nCOUNTER2_009_HELP=Items waiting.\r\n"
         "COUNTER3_009_NAME=Rate\r\nCOUNTER3_009_HELP=Items per second,\r\nsplit over two lines.\r\n";
  return "C:\\perf\\MySvc.ini";
}

}  // namespace

TEST(Regsvr32, RegistersUnregistersAndReportsEachFailure) {
  const std::string module = TEST_MODULE;
  const std::string moduleKey = "HKCU\\Software\\RegistrationTestModule";
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\RegistrationTestModule");
  ToolRun registered = runTool("regsvr32", {module});
  EXPECT_EQ(0, registered.status) << registered.err;
  EXPECT_EQ("DllRegisterServer in " + module + " succeeded.\n", registered.out);
  EXPECT_NE(std::string::npos, runTool("reg", {"query", moduleKey}).out.find("    State    REG_SZ    registered\n"));

  // Silent, and with the module named by its Windows path (drive Z: is the POSIX root).
  std::string windowsPath = "Z:" + module;
  for (char &c : windowsPath) c = c == '/' ? '\\' : c;
  ToolRun unregistered = runTool("regsvr32", {"/u", "/s", windowsPath});
  EXPECT_EQ(0, unregistered.status) << unregistered.err;
  EXPECT_EQ("", unregistered.out + unregistered.err);
  EXPECT_EQ(1, runTool("reg", {"query", moduleKey}).status) << "the key is gone";

  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string message;
  } failures[] = {
      {{"/u", module}, 5, "DllUnregisterServer in " + module + " failed.\nReturn code was: 0x80070002\n"},
      {{"/tmp/no such folder/none.so"}, 3, "LoadLibrary(\"/tmp/no such folder/none.so\") failed - "},
      {{PLATFORM_LIBRARY}, 4, "the DllRegisterServer entry point was not found"},
      {{"/x", module}, 1, ""},
  };
  for (const auto &failure : failures) {
    ToolRun run = runTool("regsvr32", failure.arguments);
    EXPECT_EQ(failure.status, run.status) << failure.arguments[0];
    EXPECT_NE(std::string::npos, run.err.find(failure.message)) << run.err;
  }
}

TEST(RegQuery, PrintsValuesAndSubkeysAsRegExeDoes) {
  const std::string key = "SOFTWARE\\RegQueryTest";
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  ASSERT_EQ(ERROR_SUCCESS, setValue(key, "", REG_SZ, std::string("def", 4)));
  ASSERT_EQ(ERROR_SUCCESS, setValue(key, "Bin", REG_BINARY, "\x01\x02\xff"));
  ASSERT_EQ(ERROR_SUCCESS, setValue(key, "Caf\xe9", REG_SZ, std::string("\x80", 2)));  // UTF-8 on output
  ASSERT_EQ(ERROR_SUCCESS, setValue(key, "Multi", REG_MULTI_SZ, multi({"a", "b"})));
  ASSERT_EQ(ERROR_SUCCESS, setDword(key, "Num", 42));
  ASSERT_EQ(ERROR_SUCCESS, setValue(key + "\\Sub", nullptr, 0, ""));
  ToolRun all = runTool("reg", {"query", "HKLM\\Software\\RegQueryTest"});
  EXPECT_EQ(0, all.status);
  EXPECT_EQ(
      "\nHKEY_LOCAL_MACHINE\\Software\\RegQueryTest\n"
      "    (Default)    REG_SZ    def\n"
      "    Bin    REG_BINARY    0102FF\n"
      "    Caf\xc3\xa9    REG_SZ    \xe2\x82\xac\n"
      "    Multi    REG_MULTI_SZ    a\\0b\n"
      "    Num    REG_DWORD    0x2a\n"
      "\nHKEY_LOCAL_MACHINE\\Software\\RegQueryTest\\Sub\n",
      all.out);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()));
}

TEST(Lodctr, InstallsTextsAndUnlodctrRestoresTheTablesExactly) {
  const std::string ini = prepareCounters();
  const std::string before = tree(Perflib);
  ToolRun loaded = runTool("lodctr", {ini});
  ASSERT_EQ(0, loaded.status) << loaded.err;
  EXPECT_EQ("Info: Successfully installed performance counters for " + ini + "\n", loaded.out);
  // Names get First Counter + offset, help texts First Help + offset; the
  // line a help text's line break split off carries no entry.
  const std::string installed = tree("");
  for (const char *line :
       {"    Last Counter    REG_DWORD    0x73c\n", "    Last Help    REG_DWORD    0x73d\n",
        "    Counter    REG_MULTI_SZ    "
        "1\\01847\\02\\0System\\04\\0Memory\\01848\\0Queue\\01850\\0Length\\01852\\0Rate\n",
        "    Help    REG_MULTI_SZ    3\\0The system.\\05\\0The memory.\\01849\\0The queue \xc3\xa9t\xc3\xa9.\\01851\\0"
        "Items waiting.\\01853\\0Items per second,\n",
        "\\MySvc\\Performance\n    First Counter    REG_DWORD    0x738\n    First Help    REG_DWORD    0x739\n"}) {
    EXPECT_NE(std::string::npos, installed.find(line)) << line << installed;
  }

  // Loading twice is refused and changes nothing; unloading restores the tables.
  ToolRun again = runTool("lodctr", {ini});
  EXPECT_NE(0, again.status);
  EXPECT_NE(std::string::npos, again.err.find("already installed")) << again.err;
  EXPECT_EQ(installed, tree(""));
  ToolRun unloaded = runTool("unlodctr", {"MySvc"});
  ASSERT_EQ(0, unloaded.status) << unloaded.err;
  EXPECT_EQ("Info: Successfully uninstalled the performance counters of MySvc\n", unloaded.out);
  EXPECT_EQ(before, tree(Perflib));
  EXPECT_EQ(std::string::npos, tree("SYSTEM").find("First Counter")) << "the service's numbers are gone";
}

TEST(Tools, AnswerHelpWithTheirUsageOnStandardOutput) {
  for (const char *tool : {"regsvr32", "reg", "lodctr", "unlodctr"})
    for (const char *help : {"--help", "-h", "/?"}) {
      ToolRun run = runTool(tool, {help});
      EXPECT_EQ(0, run.status) << tool << " " << help;
      EXPECT_TRUE(run.out.starts_with(std::string("Usage: ") + tool)) << tool << " " << help << ": " << run.out;
    }
  // reg takes every root its help names.
  const std::string help = runTool("reg", {"--help"}).out;
  const size_t from = help.find("a root (") + 8, to = help.find(" or its long name");
  ASSERT_LT(from, to) << help;
  std::istringstream roots(help.substr(from, to - from));
  for (std::string root; std::getline(roots >> std::ws, root, ',');) {
    ToolRun query = runTool("reg", {"query", root});
    EXPECT_EQ(std::string::npos, query.err.find("Invalid key name")) << root;
  }
}

TEST(Lodctr, BadInputIsReportedAndChangesNothing) {
  prepareCounters();
  const std::string before = tree(""), folder = rootFolder() + "/c/perf";
  auto ini = [&](const char *file, const std::string &driver, const std::string &symbols, const char *text) {
    std::ofstream(folder + "/" + file) << "[info]\r\ndrivername=" + driver + "\r\nsymbolfile=" + symbols +
                                              "\r\n[languages]\r\n009=English\r\n[text]\r\nOBJECT1_009_NAME=Queue\r\n"
                                       << text;
  };
  ini("undefined.ini", "MySvc", "MySvc.h", "COUNTER9_009_NAME=Nine\r\n");
  ini("nosymbols.ini", "MySvc", "missing.h", "");
  ini("badheader.ini", "MySvc", "badheader.h", "");
  std::ofstream(folder + "/badheader.h") << "#define OBJECT1 zero\r\n";
  ini("noservice.ini", "NoSuchService", "MySvc.h", "");
  ini("nodriver.ini", "", "MySvc.h", "");
  const struct {
    std::vector<std::string> command;
    std::string message;
  } cases[] = {
      {{"lodctr", "C:\\perf\\none.ini"}, "Unable to open the file C:\\perf\\none.ini"},
      {{"lodctr", "C:\\perf\\undefined.ini"}, "The symbol COUNTER9"},
      {{"lodctr", "C:\\perf\\nosymbols.ini"}, "Unable to open the symbol file missing.h"},
      {{"lodctr", "C:\\perf\\badheader.ini"}, "is not a definition"},
      {{"lodctr", "C:\\perf\\noservice.ini"}, "NoSuchService"},
      {{"lodctr", folder + "/nodriver.ini"}, "names no driver"},
      {{"lodctr", "/dev/zero"}, "The file /dev/zero is larger than 16 MB"},
      {{"unlodctr", "MySvc"}, "The counters of MySvc are not installed."},
      {{"unlodctr", "NoSuchService"}, "does not exist"},
      {{"lodctr"}, "Usage: lodctr <ini file>\n"},
      {{"unlodctr", "MySvc", "Other"}, "Usage: unlodctr <driver name>\n"},
  };
  for (const auto &c : cases) {
    ToolRun run = runTool(c.command[0], {c.command.begin() + 1, c.command.end()});
    const bool usage = c.message.starts_with("Usage: ");
    // A usage error exits with ERROR_INVALID_PARAMETER; a failure says "Error: " and why.
    if (usage) {
      EXPECT_EQ(ERROR_INVALID_PARAMETER, run.status);
      EXPECT_EQ(c.message, run.err);
    } else {
      EXPECT_NE(0, run.status) << c.command.back();
      EXPECT_TRUE(run.err.starts_with("Error: ")) << run.err;
      EXPECT_NE(std::string::npos, run.err.find(c.message)) << c.command.back() << ": " << run.err;
    }
    EXPECT_EQ(before, tree("")) << c.command.back();
  }
}
