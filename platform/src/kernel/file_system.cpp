#include "file_system.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "paths.h"

namespace platform::kernel {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool hasDrive(const std::string &name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::string folderOf(const std::string &posixPath) {
  size_t cut = posixPath.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return posixPath.substr(0, cut);
}

}  // namespace

DWORD posixPathOf(const std::string &name, bool mustNameAFile, std::string *posixPath) {
  if (name.empty()) return ERROR_PATH_NOT_FOUND;
  std::string checked = name;
  // The long-path prefix \\?\ is no part of the name.
  if (checked.size() >= 4 && isSeparator(checked[0]) && isSeparator(checked[1]) && checked[2] == '?' &&
      isSeparator(checked[3]))
    checked.erase(0, 4);
  const size_t firstOfName = hasDrive(checked) ? 2 : 0;
  for (size_t i = firstOfName; i < checked.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(checked[i]);
    if (c < 32 || std::strchr("<>\"|?*:", c) != nullptr) return ERROR_INVALID_NAME;
  }
  if (mustNameAFile && isSeparator(checked.back())) return ERROR_INVALID_NAME;
  *posixPath = toPosixPath(name);
  return ERROR_SUCCESS;
}

DWORD errorFromErrno(int error, const std::string &posixPath) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: {
      struct stat folder;
      return stat(folderOf(posixPath).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                                        : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case ELOOP: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    default: return ERROR_GEN_FAILURE;
  }
}

bool inSharedFolder(const std::string &posixPath) {
  struct stat folder;
  if (stat(folderOf(posixPath).c_str(), &folder) != 0) return false;
  return (folder.st_mode & S_IWOTH) != 0;
}

}  // namespace platform::kernel
