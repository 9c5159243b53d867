#include "trusted_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace platform::kernel {

namespace {

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why one entry, seen with lstat, may not be trusted; `last` for the path
// itself, whose mode counts even where a sticky bit would excuse a folder
// above it.
std::string entryReason(const std::string &name, const struct stat &status, bool last) {
  if (status.st_uid != geteuid() && status.st_uid != 0)
    return name + " belongs to user " + std::to_string(status.st_uid);
  // A link's own mode means nothing; where it leads is checked on its own.
  if (S_ISLNK(status.st_mode)) return {};
  const bool othersWrite = (status.st_mode & S_IWOTH) != 0;
  const bool groupWrites = (status.st_mode & S_IWGRP) != 0 && status.st_gid != getegid();
  if (!othersWrite && !groupWrites) return {};
  if (!last && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0) return {};
  return name + " may be written by " + (othersWrite ? "every user" : "group " + std::to_string(status.st_gid)) +
         " (mode " + octal(status.st_mode) + ")";
}

// The lexical walk from the first name under / down to `absolute`, each entry
// as it lies.
std::string chainReason(const std::string &absolute) {
  for (size_t at = 1; at <= absolute.size(); ++at) {
    if (at != absolute.size() && absolute[at] != '/') continue;
    const std::string entry = absolute.substr(0, at);
    struct stat status;
    if (lstat(entry.c_str(), &status) != 0) return {};
    std::string why = entryReason(entry, status, at == absolute.size());
    if (!why.empty()) return why;
  }
  return {};
}

}  // namespace

std::string untrustedEntry(const std::string &name, const struct stat &status) {
  return entryReason(name, status, true);
}

std::string untrustedReason(const std::string &posixPath) {
  if (posixPath.empty()) return {};
  std::string absolute = posixPath;
  if (absolute[0] != '/') {
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return "the current folder cannot be read";
    absolute = std::string(folder) + "/" + absolute;
  }
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  struct stat status;
  if (lstat("/", &status) == 0) {
    std::string why = entryReason("/", status, absolute == "/");
    if (!why.empty()) return why;
  }
  std::string why = chainReason(absolute);
  if (!why.empty()) return why;
  // Where links lead: the same walk over the resolved path.
  char resolved[PATH_MAX];
  if (realpath(absolute.c_str(), resolved) == nullptr) return {};
  return std::string(resolved) == absolute ? std::string() : chainReason(resolved);
}

void reportRefusal(const std::string &what, const std::string &why) {
  static std::mutex lock;
  static std::set<std::string> *told = new std::set<std::string>;  // outlives static destructors
  const std::string text = "winplatform: refusing " + what + ": " + why + "\n";
  std::lock_guard<std::mutex> guard(lock);
  if (!told->insert(text).second) return;
  std::fputs(text.c_str(), stderr);
}

}  // namespace platform::kernel
