#include "process_launch.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <system_error>
#include <thread>

#include "codepage.h"
#include "paths.h"

extern char **environ;

namespace platform::kernel {

namespace {

bool isBlank(WCHAR c) { return c == ' ' || c == '\t'; }

bool endsWithExe(const std::string &name) {
  if (name.size() < 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  for (char &c : suffix)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return suffix == ".exe";
}

// The file names a program name may stand for, the POSIX form first.
std::vector<std::string> candidates(const std::string &name) {
  if (endsWithExe(name)) return {name.substr(0, name.size() - 4), name};
  return {name, name + ".exe"};
}

bool isRegularFile(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Why a file that exists cannot be run: no right to, or no program at all.
DWORD whyNotRunnable(const std::string &path) {
  char start[4] = {};
  int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return ERROR_ACCESS_DENIED;
  ssize_t length = read(file, start, sizeof start);
  close(file);
  const bool looksLikeAProgram = (length == 4 && std::memcmp(start,
                                                             "\x7f"
                                                             "ELF",
                                                             4) == 0) ||
                                 (length >= 2 && start[0] == '#' && start[1] == '!');
  return looksLikeAProgram ? ERROR_ACCESS_DENIED : ERROR_BAD_EXE_FORMAT;
}

std::string folderOfMainProgram() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string program(path, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/'));
}

// A name with a folder or a drive is a path; a bare one is looked for.
bool isPath(const std::string &name) {
  return name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':');
}

// The exit code Windows gives for a program that ended as `status` says.
DWORD exitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (!WIFSIGNALED(status)) return 0;
  switch (WTERMSIG(status)) {
    case SIGABRT: return 3;  // the C runtime's abort
    case SIGSEGV:
    case SIGBUS: return 0xC0000005;  // access violation
    case SIGILL: return 0xC000001D;  // illegal instruction
    case SIGFPE: return 0xC0000094;  // integer division by zero
    default: return 1;               // killed from outside
  }
}

// Waits for the one child that `child` names (0: none started), so that it
// leaves no zombie, and passes its exit code on, while leaving every other
// child and the host's SIGCHLD handling alone. When the host ignores SIGCHLD
// the system reaps the child itself and its status is lost: the code is 0.
void watch(std::future<pid_t> child, std::promise<DWORD> exitCode) {
  const pid_t id = child.get();
  if (id == 0) return;
  int status = 0;
  while (waitpid(id, &status, 0) < 0 && errno == EINTR) {
  }
  exitCode.set_value(exitCodeOf(status));
}

// How a program starts: with the default action for every signal and
// nothing blocked, whatever the host has set up for itself, and in the
// folder asked for.
class SpawnSettings {
 public:
  explicit SpawnSettings(const std::string &folder) {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    complete_ = folder.empty() || posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0;
  }
  SpawnSettings(const SpawnSettings &) = delete;
  SpawnSettings &operator=(const SpawnSettings &) = delete;
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  // False when the system had no memory left to note the folder.
  bool complete() const { return complete_; }
  const posix_spawnattr_t *attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t *actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  bool complete_;
};

bool isFolder(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::vector<std::basic_string<WCHAR>> splitCommandLine(const std::basic_string<WCHAR> &line) {
  std::vector<std::basic_string<WCHAR>> arguments;
  const size_t n = line.size();
  size_t i = 0;
  std::basic_string<WCHAR> current;
  if (n > 0 && line[0] == '"') {
    for (i = 1; i < n && line[i] != '"'; ++i) current.push_back(line[i]);
    if (i < n) ++i;
  } else {
    for (; i < n && !isBlank(line[i]); ++i) current.push_back(line[i]);
  }
  arguments.push_back(current);

  for (;;) {
    while (i < n && isBlank(line[i])) ++i;
    if (i >= n) break;
    current.clear();
    bool quoted = false;
    while (i < n && (quoted || !isBlank(line[i]))) {
      if (line[i] == '\\') {
        size_t end = i;
        while (end < n && line[end] == '\\') ++end;
        const size_t count = end - i;
        if (end < n && line[end] == '"') {
          current.append(count / 2, '\\');
          if (count % 2 == 1) {
            current.push_back('"');
            ++end;
          }
        } else {
          current.append(count, '\\');
        }
        i = end;
      } else if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          current.push_back('"');
          i += 2;
          quoted = false;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        current.push_back(line[i++]);
      }
    }
    arguments.push_back(current);
  }
  return arguments;
}

std::string toolsFolder() {
  if (const char *chosen = std::getenv(ToolsVariable); chosen != nullptr && *chosen != 0) {
    std::string folder = toPosixPath(chosen);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  Dl_info info;
  if (dladdr(reinterpret_cast<const void *>(&toolsFolder), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string library = info.dli_fname;
  const size_t cut = library.rfind('/');
  return cut == std::string::npos ? std::string(".") : library.substr(0, cut);
}

DWORD findProgram(const std::string &name, std::string *path) {
  if (name.empty()) return ERROR_FILE_NOT_FOUND;
  std::vector<std::string> folders;
  std::string given = name;
  if (isPath(name)) {
    given = toPosixPath(name);
    folders.push_back({});
  } else {
    folders.push_back(toolsFolder());
    folders.push_back(folderOfMainProgram());
    if (const char *searchPath = std::getenv("PATH")) {
      std::string entries = searchPath;
      for (size_t from = 0; from <= entries.size();) {
        size_t to = entries.find(':', from);
        if (to == std::string::npos) to = entries.size();
        if (to > from) folders.push_back(entries.substr(from, to - from));
        from = to + 1;
      }
    }
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  for (const std::string &folder : folders) {
    if (!folders.front().empty() && folder.empty()) continue;
    for (const std::string &candidate : candidates(given)) {
      const std::string file = folder.empty() ? candidate : folder + "/" + candidate;
      if (!isRegularFile(file)) continue;
      if (access(file.c_str(), X_OK) == 0) {
        *path = file;
        return ERROR_SUCCESS;
      }
      // A file we may not run: keep looking, and say why if nothing else comes.
      if (error == ERROR_FILE_NOT_FOUND) error = whyNotRunnable(file);
    }
  }
  return error;
}

DWORD startProgram(const WCHAR *application, const WCHAR *commandLine, const WCHAR *folder,
                   std::promise<DWORD> exitCode, pid_t *id) {
  if (application == nullptr && commandLine == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> arguments;
  if (commandLine == nullptr) {
    arguments.push_back(utf8FromWide(application));
  } else {
    for (const auto &argument : splitCommandLine(commandLine))
      arguments.push_back(utf8FromWide(argument.data(), argument.size()));
  }
  // A named application is a path, never searched for: a bare name is in the
  // current folder.
  std::string name = application == nullptr ? arguments[0] : utf8FromWide(application);
  if (application != nullptr && !isPath(name)) name = ".\\" + name;
  std::string program;
  if (DWORD error = findProgram(name, &program)) return error;
  // The program was found from the caller's folder; it stays found when the
  // program starts in another.
  if (program.front() != '/') {
    char here[4096];
    if (getcwd(here, sizeof here) != nullptr) program = std::string(here) + "/" + program;
  }
  std::string startFolder;
  if (folder != nullptr) {
    startFolder = toPosixPath(utf8FromWide(folder));
    if (!isFolder(startFolder)) return ERROR_DIRECTORY;
  }

  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const SpawnSettings settings(startFolder);
  if (!settings.complete()) return ERROR_NOT_ENOUGH_MEMORY;
  // The watcher comes first: no program starts that nobody would reap.
  std::promise<pid_t> child;
  try {
    std::thread(watch, child.get_future(), std::move(exitCode)).detach();
  } catch (const std::system_error &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  pid_t started = 0;
  const int error =
      posix_spawn(&started, program.c_str(), settings.actions(), settings.attributes(), argv.data(), environ);
  child.set_value(error == 0 ? started : 0);
  switch (error) {
    case 0: *id = started; return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
    case ELOOP: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace platform::kernel

using namespace platform::kernel;

// As Windows' WinExec: CreateProcess with nothing kept of the program.
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT) {
  if (lpCmdLine == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::basic_string<WCHAR> commandLine = AnsiToWide(lpCmdLine, std::strlen(lpCmdLine));
  pid_t id;
  switch (const DWORD error = startProgram(nullptr, commandLine.c_str(), nullptr, std::promise<DWORD>(), &id)) {
    case ERROR_SUCCESS: return 33;  // any value above 31 means success
    case ERROR_NOT_ENOUGH_MEMORY: return 0;
    // A code above 31 would read as success; Windows gives ERROR_BAD_FORMAT.
    default: return error > 31 ? ERROR_BAD_FORMAT : error;
  }
}

LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int *pNumArgs) {
  if (pNumArgs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::basic_string<WCHAR>> arguments;
  if (lpCmdLine == nullptr || *lpCmdLine == 0) {
    WCHAR program[4096];
    const DWORD length = GetModuleFileNameW(nullptr, program, 4096);
    arguments.emplace_back(program, length < 4096 ? length : 0);
  } else {
    arguments = splitCommandLine(lpCmdLine);
  }
  // One block: the pointers, a null pointer, then the texts.
  size_t size = (arguments.size() + 1) * sizeof(LPWSTR);
  for (const auto &argument : arguments) size += (argument.size() + 1) * sizeof(WCHAR);
  auto *block = static_cast<LPWSTR *>(LocalAlloc(LMEM_FIXED, size));
  if (block == nullptr) return nullptr;
  auto *text = reinterpret_cast<WCHAR *>(block + arguments.size() + 1);
  for (size_t i = 0; i < arguments.size(); ++i) {
    block[i] = text;
    std::memcpy(text, arguments[i].c_str(), (arguments[i].size() + 1) * sizeof(WCHAR));
    text += arguments[i].size() + 1;
  }
  block[arguments.size()] = nullptr;
  *pNumArgs = static_cast<int>(arguments.size());
  return block;
}
