// What the platform trusts: a root, a registry store and modules that nobody
// but this user (or root) could have put or changed. Each case is planted as
// another user would: folders and files others may write to, links that lead
// there and, where the test runs as root, entries that belong to someone else.
#include <windows.h>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ChildProcess.h"
#include "kernel/paths.h"
#include "kernel/trusted_paths.h"

using platform::kernel::untrustedReason;

namespace {

// The child's instructions: the root it uses and the file its stderr goes to.
const char RootInstruction[] = "TRUSTED_PATHS_ROOT";
constexpr uid_t Nobody = 65534;

class Planted : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trusted-paths-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string make(const std::string &name, mode_t mode) {
    const std::string path = folder_ + "/" + name;
    EXPECT_EQ(0, mkdir(path.c_str(), 0700)) << path;
    EXPECT_EQ(0, chmod(path.c_str(), mode)) << path;
    return path;
  }
  static void write(const std::string &path, mode_t mode, const std::string &text = "x") {
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(0, chmod(path.c_str(), mode)) << path;
  }
  static std::string text(const std::string &path) {
    std::ostringstream all;
    all << std::ifstream(path).rdbuf();
    return all.str();
  }

  // Runs the registry's first use in a child whose root is `root`: its
  // stderr and the result of opening HKLM\Software, as "code\nstderr".
  std::string openRegistryIn(const std::string &root) {
    const std::string said = folder_ + "/said.txt";
    EXPECT_EQ(0, ChildProcess::run("TrustedPathsChild.DISABLED_OpenRegistry", RootInstruction, root + "\n" + said));
    return text(said);
  }

  std::string folder_;
};

}  // namespace

TEST_F(Planted, AnEntryIsTrustedOnlyWhenNobodyElseCouldHavePutOrChangedIt) {
  const std::string own = make("own", 0700);
  write(own + "/file", 0600);
  EXPECT_EQ("", untrustedReason(own + "/file"));
  EXPECT_EQ("", untrustedReason(own + "/missing")) << "a missing file fails when it is opened";
  // The group may write when it is this user's own.
  const std::string grouped = make("grouped", 0770);
  EXPECT_EQ("", untrustedReason(grouped));

  // A folder every user may write to, the file itself or a folder above it.
  const std::string open = make("open", 0777);
  write(open + "/file", 0600);
  EXPECT_EQ(open + " may be written by every user (mode 0777)", untrustedReason(open + "/file"));
  write(own + "/shared", 0666);
  EXPECT_EQ(own + "/shared may be written by every user (mode 0666)", untrustedReason(own + "/shared"));

  // A sticky folder such as /tmp protects what others put in it, but is not
  // itself a place to keep anything.
  const std::string sticky = make("sticky", 01777);
  const std::string inside = sticky + "/inside";
  ASSERT_EQ(0, mkdir(inside.c_str(), 0700));
  EXPECT_EQ("", untrustedReason(inside));
  EXPECT_EQ(sticky + " may be written by every user (mode 1777)", untrustedReason(sticky));

  // A link is followed to where it leads, and checked there too.
  ASSERT_EQ(0, symlink((open + "/file").c_str(), (own + "/link").c_str()));
  EXPECT_EQ(open + " may be written by every user (mode 0777)", untrustedReason(own + "/link"));
  ASSERT_EQ(0, symlink((own + "/file").c_str(), (own + "/good-link").c_str()));
  EXPECT_EQ("", untrustedReason(own + "/good-link"));
  // Relative paths are taken from the current folder.
  const std::string here = std::filesystem::current_path().string();
  ASSERT_EQ(0, chdir(open.c_str()));
  EXPECT_EQ(open + " may be written by every user (mode 0777)", untrustedReason("file"));
  ASSERT_EQ(0, chdir(here.c_str()));

  if (geteuid() != 0) return;  // only root can give an entry away
  const std::string theirs = make("theirs", 0755);
  ASSERT_EQ(0, chown(theirs.c_str(), Nobody, Nobody));
  write(own + "/their-file", 0644);
  ASSERT_EQ(0, chown((own + "/their-file").c_str(), Nobody, Nobody));
  EXPECT_EQ(theirs + " belongs to user 65534", untrustedReason(theirs));
  EXPECT_EQ(own + "/their-file belongs to user 65534", untrustedReason(own + "/their-file"));
}

TEST_F(Planted, WithoutHomeTheRootIsInTheHomeFolderOfTheUserDatabase) {
  const passwd *user = getpwuid(geteuid());
  ASSERT_NE(nullptr, user);
  const std::string kept = std::getenv(platform::kernel::RootVariable);
  const char *home = std::getenv("HOME");
  const std::string keptHome = home != nullptr ? home : "";
  const char *state = std::getenv("XDG_STATE_HOME");
  const std::string keptState = state != nullptr ? state : "";
  unsetenv(platform::kernel::RootVariable);
  unsetenv("XDG_STATE_HOME");
  unsetenv("HOME");
  const std::string root = platform::kernel::rootFolder();
  setenv("HOME", "", 1);
  const std::string emptyHome = platform::kernel::rootFolder();
  setenv(platform::kernel::RootVariable, kept.c_str(), 1);
  if (home != nullptr) setenv("HOME", keptHome.c_str(), 1);
  if (state != nullptr) setenv("XDG_STATE_HOME", keptState.c_str(), 1);
  EXPECT_EQ(std::string(user->pw_dir) + "/.local/state/winplatform", root);
  EXPECT_EQ(root, emptyHome);
}

TEST_F(Planted, ARootOrRegistryFileOthersCouldWriteIsNotRead) {
  // A root any user may write to: planted, or made by a careless umask.
  const std::string open = make("open-root", 0777);
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the platform root " + open + ": " + open +
                " may be written by every user (mode 0777)\n",
            openRegistryIn(open));

  // A registry file others may write to, or a link in its place.
  const std::string root = make("root", 0700);
  write(root + "/registry.db", 0666, "");
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the registry file " + root +
                "/registry.db: " + root + "/registry.db may be written by every user (mode 0666)\n",
            openRegistryIn(root));
  ASSERT_EQ(0, unlink((root + "/registry.db").c_str()));
  write(root + "/registry.db-wal", 0622, "");
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the registry file " + root +
                "/registry.db-wal: " + root + "/registry.db-wal may be written by every user (mode 0622)\n",
            openRegistryIn(root));
  ASSERT_EQ(0, unlink((root + "/registry.db-wal").c_str()));
  ASSERT_EQ(0, unlink((root + "/registry.db").c_str()));  // made before its journal was refused
  write(folder_ + "/elsewhere.db", 0600, "");
  ASSERT_EQ(0, symlink((folder_ + "/elsewhere.db").c_str(), (root + "/registry.db").c_str()));
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the registry file " + root +
                "/registry.db: it is a symbolic link\n",
            openRegistryIn(root));
  ASSERT_EQ(0, unlink((root + "/registry.db").c_str()));

  // A store of its own: made private, its journals too, and one that others
  // could only read is made private when it is next opened.
  const std::string privateStore = "0\nregistry.db 600\nregistry.db-shm 600\nregistry.db-wal 600\n";
  EXPECT_EQ(privateStore, openRegistryIn(root));
  ASSERT_EQ(0, chmod((root + "/registry.db").c_str(), 0644));
  EXPECT_EQ(privateStore, openRegistryIn(root));

  if (geteuid() != 0) return;  // only root can give an entry away
  ASSERT_EQ(0, chown((root + "/registry.db").c_str(), Nobody, Nobody));
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the registry file " + root +
                "/registry.db: " + root + "/registry.db belongs to user 65534\n",
            openRegistryIn(root));
  const std::string theirs = make("their-root", 0700);
  ASSERT_EQ(0, chown(theirs.c_str(), Nobody, Nobody));
  EXPECT_EQ(std::to_string(ERROR_ACCESS_DENIED) + "\nwinplatform: refusing the platform root " + theirs + ": " +
                theirs + " belongs to user 65534\n",
            openRegistryIn(theirs));
}

TEST_F(Planted, AModuleOthersCouldHaveChangedIsNotLoaded) {
  const std::string own = make("own", 0700), open = make("open", 0777);
  std::filesystem::copy_file(TEST_NOENTRY_PATH, own + "/module.so");
  std::filesystem::copy_file(TEST_NOENTRY_PATH, open + "/module.so");

  HMODULE loaded = LoadLibraryA((own + "/module.so").c_str());
  EXPECT_NE(nullptr, loaded);
  if (loaded != nullptr) FreeLibrary(loaded);

  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA((open + "/module.so").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  // Nor through a link that leads there, nor in its Windows form.
  ASSERT_EQ(0, symlink((open + "/module.so").c_str(), (own + "/link.so").c_str()));
  EXPECT_EQ(nullptr, LoadLibraryA((own + "/link.so").c_str()));
  EXPECT_EQ(nullptr, LoadLibraryW(u"Z:\\tmp\\no-such-folder\\module.so"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError()) << "a missing module is still not found";
  std::string windows = "Z:" + open + "\\module.so";
  for (char &c : windows) c = c == '/' ? '\\' : c;
  EXPECT_EQ(nullptr, LoadLibraryA(windows.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  // Its version resource is not read either: reading it loads the module.
  DWORD handle = 0;
  EXPECT_EQ(0u, GetFileVersionInfoSizeA((open + "/module.so").c_str(), &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  // A module file others may write to, in a folder of this user's own.
  ASSERT_EQ(0, chmod((own + "/module.so").c_str(), 0666));
  EXPECT_EQ(nullptr, LoadLibraryA((own + "/module.so").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// The child of the registry test: its root comes as the instruction's first
// line; it writes the result of its first registry call and its stderr to the
// file the second line names.
TEST(TrustedPathsChild, DISABLED_OpenRegistry) {
  const char *instruction = std::getenv(RootInstruction);
  ASSERT_NE(nullptr, instruction);
  const std::string lines = instruction;
  const std::string root = lines.substr(0, lines.find('\n')), said = lines.substr(lines.find('\n') + 1);
  setenv(platform::kernel::RootVariable, root.c_str(), 1);
  const std::string errors = said + ".stderr";
  ASSERT_NE(nullptr, std::freopen(errors.c_str(), "w", stderr));
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Planted", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  std::ostringstream modes;
  if (status == ERROR_SUCCESS) {
    const DWORD value = 1;
    status = RegSetValueExW(key, u"Written", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
    // SQLite's journals are there while the store is open.
    for (const char *name : {"registry.db", "registry.db-shm", "registry.db-wal"}) {
      struct stat file;
      if (stat((root + "/" + name).c_str(), &file) == 0)
        modes << name << " " << std::oct << (file.st_mode & 07777) << std::dec << "\n";
    }
  }
  std::fflush(stderr);
  std::ostringstream all;
  all << std::ifstream(errors).rdbuf();
  std::ofstream(said) << status << "\n" << all.str() << modes.str();
}
