// What the file functions share: checking a Windows file name, turning errno
// values into Windows error codes, and telling folders that other users may
// write to.
#pragma once

#include <windows.h>

#include <string>

namespace platform::kernel {

// The POSIX path of a file name given to a kernel function (UTF-8 in), or a
// Windows error: ERROR_PATH_NOT_FOUND for an empty name, ERROR_INVALID_NAME
// for characters Windows refuses in names (< > " | ? * control characters,
// a colon other than the drive's) or, when `mustNameAFile`, a final separator.
DWORD posixPathOf(const std::string &name, bool mustNameAFile, std::string *posixPath);

// The Windows error for an errno value that an operation on `posixPath`
// failed with. A missing name is ERROR_FILE_NOT_FOUND when its folder exists
// and ERROR_PATH_NOT_FOUND when it does not.
DWORD errorFromErrno(int error, const std::string &posixPath);

// Whether the folder holding `posixPath` may be written by other users (as
// /tmp is), so that a symbolic link in it must not be followed.
bool inSharedFolder(const std::string &posixPath);

}  // namespace platform::kernel
