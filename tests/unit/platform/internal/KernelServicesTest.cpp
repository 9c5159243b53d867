// The platform's own parts of the kernel services: where programs are found
// and that no shell runs them, that started programs are reaped and how a
// signal's end reads, the private temporary folder, links planted
// in shared folders, share records of processes that end without
// closing their handles, and section views whose file is cut short.
#include <windows.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "kernel/paths.h"
#include "kernel/process_launch.h"

using namespace platform::kernel;

namespace {

std::string makeFolder(const std::string &name) {
  const std::string folder = rootFolder() + "/" + name;
  mkdir(folder.c_str(), 0700);
  return folder;
}

void writeFile(const std::string &path, const std::string &text, mode_t mode) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

// Sets an environment variable for the length of a scope.
class ScopedVariable {
 public:
  ScopedVariable(const char *name, const std::string &value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char *name_;
  std::optional<std::string> old_;
};

HANDLE openForWriting(const std::string &path, DWORD share) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TEST(ProgramSearch, ToolsFolderFirstThenPathWithOrWithoutExe) {
  // By default the tools sit beside the platform library, where the test
  // programs are built too.
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  EXPECT_EQ(std::string(self).substr(0, std::string(self).rfind('/')), toolsFolder());

  const std::string tools = makeFolder("tools"), onPath = makeFolder("onpath");
  for (const std::string &name : {tools + "/lodctr", onPath + "/lodctr", onPath + "/pathonly", onPath + "/legacy.exe"})
    writeFile(name, "#!/bin/sh\n", 0755);
  writeFile(onPath + "/notes.txt", "plain text\n", 0644);
  writeFile(onPath + "/locked", "#!/bin/sh\n", 0644);
  ScopedVariable toolsVariable(ToolsVariable, toWindowsPath(tools));  // any path form will do
  ScopedVariable path("PATH", "/nonexistent:" + onPath);
  const std::pair<std::string, std::string> found[] = {
      {"lodctr", tools + "/lodctr"},
      {"lodctr.EXE", tools + "/lodctr"},  // the suffix is optional, in any case
      {"pathonly", onPath + "/pathonly"},
      {"legacy", onPath + "/legacy.exe"},
      {toWindowsPath(onPath) + "\\pathonly.exe", onPath + "/pathonly"},
  };
  for (const auto &[name, expected] : found) {
    std::string at;
    EXPECT_EQ(0u, findProgram(name, &at)) << name;
    EXPECT_EQ(expected, at);
  }
  const std::pair<std::string, DWORD> refused[] = {
      {"missing", ERROR_FILE_NOT_FOUND},
      {"notes.txt", ERROR_BAD_EXE_FORMAT},
      {"locked", ERROR_ACCESS_DENIED},
      {onPath, ERROR_FILE_NOT_FOUND},  // a folder is no program
  };
  std::string at;
  for (const auto &[name, error] : refused) EXPECT_EQ(error, findProgram(name, &at)) << name;
}

TEST(ProgramSearch, WinExecRunsNoShell) {
  // Shell syntax in a command line is passed on as arguments, never run.
  const std::string tools = makeFolder("echo_tools");
  const std::string out = rootFolder() + "/echo_out.txt", marker = rootFolder() + "/shell_ran";
  // The answer is written beside and renamed, so that it is read whole.
  const char *script = "#!/bin/sh\nprintf '%s|' \"$@\" > \"$ECHO_OUT.part\"\nmv \"$ECHO_OUT.part\" \"$ECHO_OUT\"\n";
  writeFile(tools + "/echoargs", script, 0755);
  ScopedVariable toolsVariable(ToolsVariable, tools);
  ScopedVariable echoOut("ECHO_OUT", out);
  ASSERT_GT(WinExec(("echoargs a;touch " + marker + " \"$HOME\" `id`").c_str(), SW_HIDE), 31u);
  for (int i = 0; i < 500 && access(out.c_str(), F_OK) != 0; ++i) Sleep(10);
  std::string line;
  std::getline(std::ifstream(out), line);
  EXPECT_EQ("a;touch|" + marker + "|$HOME|`id`|", line);
  EXPECT_NE(0, access(marker.c_str(), F_OK));
}

TEST(StartedPrograms, ReapedWhenNobodyFollowsThemAndSignalsGiveWindowsCodes) {
  const std::string tools = makeFolder("ending_tools");
  writeFile(tools + "/quick", "#!/bin/sh\nexit 0\n", 0755);
  writeFile(tools + "/crash", "#!/bin/sh\nulimit -c 0\nkill -SEGV $$\n", 0755);
  ScopedVariable toolsVariable(ToolsVariable, tools);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};

  // Both handles closed at once: the program is reaped all the same, and a
  // zombie would still answer kill(pid, 0).
  char quick[] = "quick";
  ASSERT_TRUE(CreateProcessA(nullptr, quick, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  const pid_t child = static_cast<pid_t>(process.dwProcessId);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int attempt = 0; attempt < 3000 && kill(child, 0) == 0; ++attempt) Sleep(10);
  EXPECT_EQ(-1, kill(child, 0));
  EXPECT_EQ(ESRCH, errno);

  char crash[] = "crash";
  ASSERT_TRUE(CreateProcessA(nullptr, crash, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, INFINITE));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
  EXPECT_EQ(0xC0000005u, code);  // an access violation
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

TEST(SharedFolders, TemporaryFolderIsPrivateAndPlantedLinksAreNotFollowed) {
  char path[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, path), 0u);
  EXPECT_EQ(rootFolder() + "/temp/", toPosixPath(path));
  struct stat status;
  ASSERT_EQ(0, lstat((rootFolder() + "/temp").c_str(), &status));
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(0700u, status.st_mode & 0777);

  // In a folder that everybody may write to, like /tmp, a link is refused.
  const std::string shared = makeFolder("shared"), target = rootFolder() + "/link_target.txt";
  chmod(shared.c_str(), 01777);
  writeFile(target, "secret", 0600);
  ASSERT_EQ(0, symlink(target.c_str(), (shared + "/planted").c_str()));
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openForWriting(shared + "/planted", 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  // In a private folder a link is followed, as on Windows.
  ASSERT_EQ(0, symlink(target.c_str(), (rootFolder() + "/own_link").c_str()));
  HANDLE file = openForWriting(rootFolder() + "/own_link", 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
}

// A process that ends without closing its handles leaves nothing that blocks.
TEST(ShareRecords, HeldByAnotherProcessUntilItEnds) {
  const std::string path = rootFolder() + "/held_by_child.txt";
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the file without sharing writes, says so, then waits to be killed.
    char answer = openForWriting(path, FILE_SHARE_READ) == INVALID_HANDLE_VALUE ? 'n' : 'y';
    (void)!write(ready[1], &answer, 1);
    pause();
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(1, read(ready[0], &answer, 1));
  ASSERT_EQ('y', answer);
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openForWriting(path, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  HANDLE file = openForWriting(path, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
  CloseHandle(file);
  DeleteFileA(path.c_str());
}

// A section's file cut short under its views, as anyone who may write the
// file can: the bytes still there keep their values, the ones gone read as
// zeros in every view, a write to them goes nowhere, the process goes on,
// and opening the section again fails as corrupt. In a child process, so that a bus error fails the test rather than
// ending the test program.
TEST(SectionViews, ReadZerosWhereTheirFileWasCutShort) {
  const pid_t child = fork();
  if (child == 0) {
    const DWORD size = 65536, kept = 8192;
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, u"Global\\CutShort");
    auto *writer = static_cast<BYTE *>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\CutShort");
    auto *reader = static_cast<const BYTE *>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    if (writer == nullptr || reader == nullptr) _exit(10);
    memset(writer, 0xAB, size);
    // The file: a header page, then the section's bytes.
    const std::string file = rootFolder() + "/sections/global/fCutShort";
    if (truncate(file.c_str(), static_cast<off_t>(sysconf(_SC_PAGESIZE)) + kept) != 0) _exit(11);
    if (reader[0] != 0xAB || reader[kept - 1] != 0xAB || writer[kept - 1] != 0xAB) _exit(12);
    if (reader[kept] != 0 || reader[size - 1] != 0 || writer[size / 2] != 0) _exit(13);
    writer[size - 1] = 7;
    struct stat status {};
    if (stat(file.c_str(), &status) != 0 || status.st_size != static_cast<off_t>(sysconf(_SC_PAGESIZE)) + kept) {
      _exit(14);
    }
    // Opened anew, the section says that it is damaged.
    if (OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\CutShort") != nullptr || GetLastError() != ERROR_FILE_CORRUPT)
      _exit(15);
    UnmapViewOfFile(reader);
    UnmapViewOfFile(writer);
    CloseHandle(opened);
    CloseHandle(section);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status)) << "the child ended with signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(0, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "the step that failed, counted from 10";
}
