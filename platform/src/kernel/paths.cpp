#include "paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codepage.h"

namespace platform::kernel {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void makeFolders(const std::string &path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      std::string part = path.substr(0, at);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
  }
}

std::string slashes(std::string_view path) {
  std::string out(path);
  for (char &c : out)
    if (c == '\\') c = '/';
  return out;
}

// $HOME, else the home folder the user database gives this user; never a
// folder others share, such as /tmp, where another user could have made the
// root first. With neither, a folder that cannot exist, so that nothing of
// the platform's state is kept anywhere.
std::string homeFolder() {
  if (const char *home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "/nonexistent";
}

}  // namespace

std::string rootFolder() {
  std::string root;
  if (const char *chosen = std::getenv(RootVariable); chosen != nullptr && *chosen != 0) {
    root = chosen;
  } else if (const char *state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    root = std::string(state) + "/winplatform";
  } else {
    root = homeFolder() + "/.local/state/winplatform";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  makeFolders(root);
  return root;
}

std::string toPosixPath(std::string_view path) {
  // The long-path prefix \\?\ changes nothing here.
  if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == '?' && isSeparator(path[3]))
    path.remove_prefix(4);
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') {
    std::string rest = slashes(path.substr(2));
    while (!rest.empty() && rest.front() == '/') rest.erase(rest.begin());
    if (lower(path[0]) == 'z') return "/" + rest;
    std::string drive = rootFolder() + "/" + lower(path[0]);
    return rest.empty() ? drive : drive + "/" + rest;
  }
  return slashes(path);
}

std::string toWindowsPath(std::string_view posixPath) {
  std::string path(posixPath);
  if (path.empty() || path[0] != '/') {
    for (char &c : path)
      if (c == '/') c = '\\';
    return path;
  }
  std::string drive = "Z:";
  const std::string root = rootFolder() + "/";
  if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && isLetter(path[root.size()]) &&
      (path.size() == root.size() + 1 || path[root.size() + 1] == '/')) {
    drive = std::string(1, upper(path[root.size()])) + ":";
    path = path.substr(root.size() + 1);
    if (path.empty()) path = "/";
  }
  for (char &c : path)
    if (c == '/') c = '\\';
  return drive + path;
}

std::string utf8FromWide(const WCHAR *text, size_t length) {
  if (length == 0) return {};
  if (isAscii(text, length)) return std::string(text, text + length);
  int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
  return out;
}

std::string utf8FromWide(const WCHAR *text) { return utf8FromWide(text, static_cast<size_t>(lstrlenW(text))); }

std::basic_string<WCHAR> wideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  if (isAscii(text.data(), text.size())) return std::basic_string<WCHAR>(text.begin(), text.end());
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::basic_string<WCHAR> out(size > 0 ? size : 0, 0);
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string utf8FromAnsi(const char *text) {
  const std::basic_string<WCHAR> wide = AnsiToWide(text, std::strlen(text));
  return utf8FromWide(wide.data(), wide.size());
}

}  // namespace platform::kernel
