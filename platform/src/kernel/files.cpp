// Files as Windows opens them: one open file description per handle, so each
// handle has its own file pointer, with the share modes of file_sharing.h.
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "file_sharing.h"
#include "file_system.h"
#include "handles.h"
#include "paths.h"

namespace platform::kernel {

namespace {

constexpr DWORD ReadRights = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA | GENERIC_EXECUTE | FILE_EXECUTE;
constexpr DWORD WriteRights = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD DeleteRights = GENERIC_ALL | DELETE;

class File : public KernelObject {
 public:
  File(int descriptor, unsigned access, std::unique_ptr<ShareReservation> reservation)
      : descriptor_(descriptor), access_(access), reservation_(std::move(reservation)) {}
  ~File() override { close(descriptor_); }

  int descriptor() const { return descriptor_; }
  bool mayRead() const { return (access_ & ShareRead) != 0; }
  bool mayWrite() const { return (access_ & ShareWrite) != 0; }

 private:
  int descriptor_;
  unsigned access_;  // ShareClass bits
  std::unique_ptr<ShareReservation> reservation_;
};

unsigned shareClassesOf(DWORD access) {
  return ((access & ReadRights) ? ShareRead : 0u) | ((access & WriteRights) ? ShareWrite : 0u) |
         ((access & DeleteRights) ? ShareDelete : 0u);
}

// Opens `path` with `flags`, O_NOFOLLOW added in folders other users write to.
int openFile(const std::string &path, int flags, mode_t mode) {
  if (inSharedFolder(path)) flags |= O_NOFOLLOW;
  int descriptor;
  do {
    descriptor = open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

HANDLE fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// Makes a new file at `path` that other openers first see with its share
// reservation already taken: the file is made without a name (O_TMPFILE),
// reserved, then linked into place, which fails when the name exists. On a
// file system without unnamed files it is made in place, and another opener
// may see it for the moment before the reservation.
int createReserved(const std::string &path, int mode, mode_t permissions, unsigned classes, DWORD shareMode,
                   std::unique_ptr<ShareReservation> *reservation, DWORD *error) {
  const size_t cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | (mode & O_APPEND), permissions);
  const bool unnamed = descriptor >= 0;
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      *error = errorFromErrno(errno, path);
      return -1;
    }
    descriptor = openFile(path, mode | O_CREAT | O_EXCL, permissions);
    if (descriptor < 0) {
      *error = errno == EEXIST ? ERROR_FILE_EXISTS : errorFromErrno(errno, path);
      return -1;
    }
  }
  struct stat status;
  *error = fstat(descriptor, &status) != 0 ? errorFromErrno(errno, path) : ERROR_SUCCESS;
  if (*error == ERROR_SUCCESS && classes != 0)
    *error = ShareReservation::acquire(status.st_dev, status.st_ino, classes, shareMode & ShareAll, reservation);
  if (*error == ERROR_SUCCESS && unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
      *error = errno == EEXIST ? ERROR_FILE_EXISTS : errorFromErrno(errno, path);
  }
  if (*error != ERROR_SUCCESS) {
    reservation->reset();
    close(descriptor);
    return -1;
  }
  return descriptor;
}

HANDLE createFile(const std::string &name, DWORD access, DWORD shareMode, DWORD disposition, DWORD flags) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return fail(ERROR_INVALID_PARAMETER);
  std::string path;
  if (DWORD error = posixPathOf(name, true, &path)) return fail(error);

  const unsigned classes = shareClassesOf(access);
  const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  const bool mayCreate = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  int mode = O_RDONLY;
  if ((classes & ShareWrite) && !(classes & ShareRead) && !truncates)
    mode = O_WRONLY;
  else if ((classes & ShareWrite) || truncates)
    mode = O_RDWR;
  // Appending without the right to write elsewhere: every write goes to the end.
  if ((access & FILE_APPEND_DATA) && !(access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL))) mode |= O_APPEND;
  const mode_t permissions = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  std::unique_ptr<ShareReservation> reservation;
  int descriptor = -1;
  bool existed = false;
  for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
    if (mayCreate) {
      DWORD error;
      descriptor = createReserved(path, mode, permissions, classes, shareMode, &reservation, &error);
      if (descriptor >= 0) break;
      if (error != ERROR_FILE_EXISTS || disposition == CREATE_NEW) return fail(error);
    }
    descriptor = openFile(path, mode, 0);
    if (descriptor < 0 && classes == 0 && errno == EACCES) descriptor = openFile(path, O_PATH, 0);
    existed = descriptor >= 0;
    // A file that vanished between the two tries is made on the next round.
    if (descriptor < 0 && !(errno == ENOENT && mayCreate)) return fail(errorFromErrno(errno, path));
  }
  if (descriptor < 0) return fail(ERROR_SHARING_VIOLATION);

  if (existed) {
    struct stat status;
    if (fstat(descriptor, &status) != 0 || (S_ISDIR(status.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS))) {
      close(descriptor);
      return fail(ERROR_ACCESS_DENIED);
    }
    // A handle without data access neither needs nor restricts sharing.
    if (classes != 0) {
      if (DWORD error =
              ShareReservation::acquire(status.st_dev, status.st_ino, classes, shareMode & ShareAll, &reservation)) {
        close(descriptor);
        return fail(error);
      }
    }
    if (truncates && ftruncate(descriptor, 0) != 0) {
      DWORD error = errorFromErrno(errno, path);
      close(descriptor);
      return fail(error);
    }
  }
  HANDLE handle = insertHandle(std::make_shared<File>(descriptor, classes, std::move(reservation)));
  if (handle == nullptr) return INVALID_HANDLE_VALUE;  // the File closed its descriptor
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
  return handle;
}

// Moves the file pointer for a transfer at an OVERLAPPED offset.
bool seekForTransfer(int descriptor, LPOVERLAPPED overlapped) {
  if (overlapped == nullptr) return true;
  const off_t offset = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
  return lseek(descriptor, offset, SEEK_SET) >= 0;
}

void reportTransfer(LPOVERLAPPED overlapped, DWORD count) {
  if (overlapped == nullptr) return;
  overlapped->Internal = 0;
  overlapped->InternalHigh = count;
}

std::string utf8Of(LPCWSTR text) { return utf8FromWide(text); }
std::string utf8Of(LPCSTR text) { return utf8FromAnsi(text); }

// Runs `act` on a path given in either form; a null name is a path that is
// not found.
template <typename Char> BOOL onPath(const Char *name, BOOL (*act)(const std::string &)) {
  if (name == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return act(utf8Of(name));
}

// A new folder, in a folder that exists.
BOOL createDirectory(const std::string &name) {
  std::string path;
  if (DWORD error = posixPathOf(name, false, &path)) {
    SetLastError(error);
    return FALSE;
  }
  if (mkdir(path.c_str(), 0777) == 0) return TRUE;
  SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : errorFromErrno(errno, path));
  return FALSE;
}

// An empty folder goes; a file is no folder, and a folder with content stays.
BOOL removeDirectory(const std::string &name) {
  std::string path;
  if (DWORD error = posixPathOf(name, false, &path)) {
    SetLastError(error);
    return FALSE;
  }
  if (rmdir(path.c_str()) == 0) return TRUE;
  const int error = errno;
  SetLastError(error == ENOTEMPTY || error == EEXIST ? ERROR_DIR_NOT_EMPTY
               : error == ENOTDIR                    ? ERROR_DIRECTORY
                                                     : errorFromErrno(error, path));
  return FALSE;
}

BOOL deleteFile(const std::string &name) {
  std::string path;
  if (DWORD error = posixPathOf(name, false, &path)) {
    SetLastError(error);
    return FALSE;
  }
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    SetLastError(errorFromErrno(errno, path));
    return FALSE;
  }
  if (S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Deleting needs delete access, which every open handle must share.
  std::unique_ptr<ShareReservation> reservation;
  if (DWORD error = ShareReservation::acquire(status.st_dev, status.st_ino, ShareDelete, ShareAll, &reservation)) {
    SetLastError(error);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(errorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}

// Renames `from` to `to`. Both the source and a target that is replaced need
// delete access, which every handle open on them must share; the
// reservations are held across the rename so that no opener slips in.
BOOL moveFile(const std::string &from, const std::string &to, DWORD flags) {
  if ((flags & ~static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string source, target;
  if (DWORD error = posixPathOf(from, false, &source)) {
    SetLastError(error);
    return FALSE;
  }
  if (DWORD error = posixPathOf(to, true, &target)) {
    SetLastError(error);
    return FALSE;
  }
  struct stat status;
  if (lstat(source.c_str(), &status) != 0) {
    SetLastError(errorFromErrno(errno, source));
    return FALSE;
  }
  if (S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::unique_ptr<ShareReservation> sourceReservation, targetReservation;
  if (DWORD error =
          ShareReservation::acquire(status.st_dev, status.st_ino, ShareDelete, ShareAll, &sourceReservation)) {
    SetLastError(error);
    return FALSE;
  }
  struct stat existing;
  if (lstat(target.c_str(), &existing) == 0) {
    if (existing.st_dev == status.st_dev && existing.st_ino == status.st_ino) return TRUE;
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
    if (S_ISDIR(existing.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (DWORD error =
            ShareReservation::acquire(existing.st_dev, existing.st_ino, ShareDelete, ShareAll, &targetReservation)) {
      SetLastError(error);
      return FALSE;
    }
  }
  // Without the flag a target that appeared since the check is not replaced.
  const int moved = (flags & MOVEFILE_REPLACE_EXISTING)
                        ? rename(source.c_str(), target.c_str())
                        : renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (moved != 0) {
    const int error = errno;
    SetLastError(error == EEXIST ? ERROR_ALREADY_EXISTS : errorFromErrno(error, error == ENOENT ? source : target));
    return FALSE;
  }
  return TRUE;
}

enum class Direction { Read, Write };

// Moves `count` bytes between the buffer and the file, at the file's
// position or at the offset an OVERLAPPED names. Like a disk file on Windows,
// a read returns short only at the end of the file; a write that the disk
// takes no more of fails as a full disk. The bytes moved are counted also
// when the transfer fails half-way.
BOOL transfer(HANDLE handle, char *buffer, DWORD count, LPDWORD moved, LPOVERLAPPED overlapped, Direction direction) {
  const bool writing = direction == Direction::Write;
  if (moved != nullptr) *moved = 0;
  std::shared_ptr<File> file = objectOf<File>(handle);
  if (!file) return FALSE;
  if (!(writing ? file->mayWrite() : file->mayRead())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!seekForTransfer(file->descriptor(), overlapped)) {
    SetLastError(errorFromErrno(errno, {}));
    return FALSE;
  }
  DWORD total = 0;
  while (total < count) {
    ssize_t step = writing ? write(file->descriptor(), buffer + total, count - total)
                           : read(file->descriptor(), buffer + total, count - total);
    if (step < 0 && errno == EINTR) continue;
    if (step == 0 && !writing) break;
    if (step <= 0) {
      SetLastError(step == 0                     ? ERROR_DISK_FULL
                   : !writing && errno == EISDIR ? ERROR_INVALID_FUNCTION
                                                 : errorFromErrno(errno, {}));
      if (moved != nullptr) *moved = total;
      return FALSE;
    }
    total += static_cast<DWORD>(step);
  }
  if (moved != nullptr) *moved = total;
  reportTransfer(overlapped, total);
  return TRUE;
}

}  // namespace

}  // namespace platform::kernel

using namespace platform::kernel;

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (lpFileName == nullptr) return fail(ERROR_PATH_NOT_FOUND);
  return createFile(utf8FromWide(lpFileName), dwDesiredAccess, dwShareMode, dwCreationDisposition,
                    dwFlagsAndAttributes);
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (lpFileName == nullptr) return fail(ERROR_PATH_NOT_FOUND);
  return createFile(utf8FromAnsi(lpFileName), dwDesiredAccess, dwShareMode, dwCreationDisposition,
                    dwFlagsAndAttributes);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  return transfer(hFile, static_cast<char *>(lpBuffer), nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped,
                  Direction::Read);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  return transfer(hFile, static_cast<char *>(const_cast<LPVOID>(lpBuffer)), nNumberOfBytesToWrite,
                  lpNumberOfBytesWritten, lpOverlapped, Direction::Write);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  std::shared_ptr<File> file = objectOf<File>(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  // Without a high part the distance is a signed 32-bit value.
  int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr)
    distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                    static_cast<uint32_t>(lDistanceToMove));
  int whence;
  switch (dwMoveMethod) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
  }
  const off_t position = lseek(file->descriptor(), static_cast<off_t>(distance), whence);
  if (position < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : errorFromErrno(errno, {}));
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  // A position whose low part looks like the failure value is told apart by
  // the last error.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  std::shared_ptr<File> file = objectOf<File>(hFile);
  if (!file) return FALSE;
  struct stat status;
  if (fstat(file->descriptor(), &status) != 0) {
    SetLastError(errorFromErrno(errno, {}));
    return FALSE;
  }
  lpFileSize->QuadPart = status.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size.u.HighPart);
  SetLastError(ERROR_SUCCESS);
  return size.u.LowPart;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) { return onPath(lpFileName, deleteFile); }

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) { return onPath(lpPathName, createDirectory); }

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) { return onPath(lpPathName, createDirectory); }

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) { return onPath(lpPathName, removeDirectory); }

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) { return onPath(lpPathName, removeDirectory); }

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) { return onPath(lpFileName, deleteFile); }

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return moveFile(utf8FromWide(lpExistingFileName), utf8FromWide(lpNewFileName), dwFlags);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return moveFile(utf8FromAnsi(lpExistingFileName), utf8FromAnsi(lpNewFileName), dwFlags);
}
