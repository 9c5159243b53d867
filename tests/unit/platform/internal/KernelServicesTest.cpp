// The platform's own parts of the kernel services: where programs are found,
// the private temporary folder, and share records across processes,
// including processes that end without closing their handles.
#include <windows.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
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
    if (const char *old = std::getenv(name)) old_ = old, hadOld_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (hadOld_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char *name_;
  std::string old_;
  bool hadOld_ = false;
};

size_t shareRecords() {
  size_t count = 0;
  if (DIR *folder = opendir((rootFolder() + "/shares").c_str())) {
    while (dirent *entry = readdir(folder))
      if (entry->d_name[0] != '.') ++count;
    closedir(folder);
  }
  return count;
}

HANDLE openForWriting(const std::string &path, DWORD share) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TEST(ProgramSearch, ToolsFolderFirstThenPathWithOrWithoutExe) {
  // By default the tools sit beside the platform library, which is where
  // the test programs are built too.
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  const std::string programFolder = std::string(self, length).substr(0, std::string(self, length).rfind('/'));
  EXPECT_EQ(programFolder, toolsFolder());

  const std::string tools = makeFolder("tools");
  const std::string onPath = makeFolder("onpath");
  writeFile(tools + "/lodctr", "#!/bin/sh\n", 0755);
  writeFile(onPath + "/lodctr", "#!/bin/sh\n", 0755);
  writeFile(onPath + "/pathonly", "#!/bin/sh\n", 0755);
  writeFile(onPath + "/legacy.exe", "#!/bin/sh\n", 0755);
  writeFile(onPath + "/notes.txt", "plain text\n", 0644);
  writeFile(onPath + "/locked", "#!/bin/sh\n", 0644);

  ScopedVariable toolsVariable(ToolsVariable, toWindowsPath(tools));  // any path form will do
  ScopedVariable path("PATH", "/nonexistent:" + onPath);
  EXPECT_EQ(tools, toolsFolder());

  std::string found;
  EXPECT_EQ(0u, findProgram("lodctr", &found));
  EXPECT_EQ(tools + "/lodctr", found);
  EXPECT_EQ(0u, findProgram("lodctr.EXE", &found)) << "the suffix is optional, in any case";
  EXPECT_EQ(tools + "/lodctr", found);
  EXPECT_EQ(0u, findProgram("pathonly", &found));
  EXPECT_EQ(onPath + "/pathonly", found);
  EXPECT_EQ(0u, findProgram("legacy", &found));
  EXPECT_EQ(onPath + "/legacy.exe", found);
  EXPECT_EQ(0u, findProgram(toWindowsPath(onPath) + "\\pathonly.exe", &found)) << "a path in Windows form";
  EXPECT_EQ(onPath + "/pathonly", found);

  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), findProgram("missing", &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), findProgram("notes.txt", &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), findProgram("locked", &found));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), findProgram(onPath, &found)) << "a folder is no program";
}

TEST(ProgramSearch, WinExecRunsNoShell) {
  // Shell syntax in a command line is passed on as arguments, never run.
  const std::string tools = makeFolder("echo_tools");
  const std::string out = rootFolder() + "/echo_out.txt";
  const std::string marker = rootFolder() + "/shell_ran";
  writeFile(tools + "/echoargs", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$ECHO_OUT\"\n", 0755);
  ScopedVariable toolsVariable(ToolsVariable, tools);
  ScopedVariable echoOut("ECHO_OUT", out);
  ASSERT_GT(WinExec(("echoargs a;touch " + marker + " \"$HOME\" `id`").c_str(), SW_HIDE), 31u);
  for (int i = 0; i < 500 && access(out.c_str(), F_OK) != 0; ++i) Sleep(10);
  Sleep(50);
  std::ifstream in(out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ("a;touch|" + marker + "|$HOME|`id`|", line);
  EXPECT_NE(0, access(marker.c_str(), F_OK));
}

TEST(TemporaryFolder, PrivateToTheUser) {
  char path[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, path), 0u);
  const std::string folder = toPosixPath(path);
  EXPECT_EQ(rootFolder() + "/temp/", folder);
  struct stat status;
  ASSERT_EQ(0, lstat(rootFolder().append("/temp").c_str(), &status));
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(0700u, status.st_mode & 0777);
}

TEST(ShareRecords, HeldByAnotherProcessUntilItEnds) {
  const std::string path = rootFolder() + "/held_by_child.txt";
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the file without sharing writes, says so, then waits to be killed.
    HANDLE file = openForWriting(path, FILE_SHARE_READ);
    char answer = file == INVALID_HANDLE_VALUE ? 'n' : 'y';
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

  // A process that ends without closing leaves nothing that blocks.
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  HANDLE file = openForWriting(path, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
  CloseHandle(file);
  close(ready[0]);
  close(ready[1]);
  DeleteFileA(path.c_str());
}

TEST(ShareRecords, LastCloseRemovesTheRecord) {
  const std::string path = rootFolder() + "/record_cleanup.txt";
  const size_t before = shareRecords();
  HANDLE first = openForWriting(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  HANDLE second = openForWriting(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  ASSERT_NE(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ(before + 1, shareRecords());
  CloseHandle(first);
  EXPECT_EQ(before + 1, shareRecords()) << "still used by the second handle";
  CloseHandle(second);
  EXPECT_EQ(before, shareRecords());
  DeleteFileA(path.c_str());
}

TEST(SharedFolders, LinksAreNotFollowedWhereOthersMayWrite) {
  // A folder that everybody may write to, like /tmp.
  const std::string shared = makeFolder("shared");
  chmod(shared.c_str(), 01777);
  const std::string target = rootFolder() + "/link_target.txt";
  writeFile(target, "secret", 0600);
  const std::string link = shared + "/planted";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openForWriting(link, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  // In a private folder a link is followed, as on Windows.
  const std::string privateLink = rootFolder() + "/own_link";
  ASSERT_EQ(0, symlink(target.c_str(), privateLink.c_str()));
  HANDLE file = CreateFileA(privateLink.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
}
