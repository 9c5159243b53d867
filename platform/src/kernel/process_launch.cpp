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
  const bool looksLikeAProgram = (length == 4 && std::memcmp(start, "\x7f" "ELF", 4) == 0) ||
                                 (length >= 2 && start[0] == '#' && start[1] == '!');
  return looksLikeAProgram ? ERROR_ACCESS_DENIED : ERROR_BAD_FORMAT;
}

std::string folderOfMainProgram() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string program(path, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/'));
}

// Runs nothing but waits for one child, so that it leaves no zombie, while
// leaving every other child and the host's SIGCHLD handling alone.
void reapLater(pid_t child) {
  try {
    std::thread([child] {
      int status;
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error &) {
    // No thread to spare: the child is reaped when this process ends.
  }
}

UINT winExec(const std::basic_string<WCHAR> &commandLine) {
  const std::vector<std::basic_string<WCHAR>> arguments = splitCommandLine(commandLine);
  if (arguments.empty() || arguments[0].empty()) return ERROR_FILE_NOT_FOUND;
  std::vector<std::string> texts;
  for (const auto &argument : arguments) texts.push_back(utf8FromWide(argument.data(), argument.size()));
  std::string program;
  if (DWORD error = findProgram(texts[0], &program)) return error;

  std::vector<char *> argv;
  for (std::string &text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  // The program starts with the default action for every signal and nothing
  // blocked, whatever the host has set up for itself.
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return 0;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  switch (error) {
    case 0: reapLater(child); return 33;  // any value above 31 means success
    case ENOENT: case ENOTDIR: case ELOOP: return ERROR_FILE_NOT_FOUND;
    case EACCES: case EPERM: case ETXTBSY: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    default: return 0;  // out of resources
  }
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
  if (name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':')) {
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

}  // namespace platform::kernel

using namespace platform::kernel;

UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT) {
  if (lpCmdLine == nullptr) return ERROR_FILE_NOT_FOUND;
  return winExec(AnsiToWide(lpCmdLine, std::strlen(lpCmdLine)));
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
