#include "file_sharing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "file_system.h"
#include "paths.h"

namespace platform::kernel {

namespace {

constexpr off_t GateByte = 0;

// Byte of a handle that has the access `bit`, and of one that denies it.
off_t hasByte(unsigned bit) { return bit == ShareRead ? 1 : bit == ShareWrite ? 2 : 3; }
off_t deniesByte(unsigned bit) { return hasByte(bit) + 3; }
constexpr off_t FirstHandleByte = 1;
constexpr off_t HandleBytes = 6;

const unsigned Classes[] = {ShareRead, ShareWrite, ShareDelete};

struct flock byteRange(short type, off_t start, off_t length) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = length;
  return range;
}

int setLock(int record, short type, off_t start, off_t length, bool wait) {
  struct flock range = byteRange(type, start, length);
  int result;
  do {
    result = fcntl(record, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Whether any other open file description holds a lock in the range.
bool heldByOthers(int record, off_t start, off_t length) {
  struct flock range = byteRange(F_WRLCK, start, length);
  if (fcntl(record, F_OFD_GETLK, &range) != 0) return true;  // cannot tell: assume the worst
  return range.l_type != F_UNLCK;
}

std::string recordFolder() { return rootFolder() + "/shares"; }

std::string recordPath(dev_t device, ino_t inode) {
  char name[64];
  std::snprintf(name, sizeof name, "/%llx-%llx", static_cast<unsigned long long>(device),
                static_cast<unsigned long long>(inode));
  return recordFolder() + name;
}

bool isLinked(int record, const std::string &path) {
  struct stat open, named;
  return fstat(record, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

// With the gate held: removes the record when no other handle uses it.
void removeIfUnused(int record, const std::string &path) {
  if (!heldByOthers(record, FirstHandleByte, HandleBytes) && isLinked(record, path)) unlink(path.c_str());
}

}  // namespace

DWORD ShareReservation::acquire(dev_t device, ino_t inode, unsigned access, unsigned share,
                                std::unique_ptr<ShareReservation> *reservation) {
  const std::string path = recordPath(device, inode);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int record = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (record < 0 && errno == ENOENT) {
      mkdir(recordFolder().c_str(), 0700);
      record = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (record < 0) return errorFromErrno(errno, path);
    if (setLock(record, F_WRLCK, GateByte, 1, true) != 0) {
      DWORD error = errorFromErrno(errno, path);
      close(record);
      return error;
    }
    if (!isLinked(record, path)) {  // removed by the last closer while we waited
      close(record);
      continue;
    }

    bool conflict = false;
    for (unsigned bit : Classes) {
      if ((access & bit) && heldByOthers(record, deniesByte(bit), 1)) conflict = true;
      if (!(share & bit) && heldByOthers(record, hasByte(bit), 1)) conflict = true;
    }
    if (conflict) {
      removeIfUnused(record, path);
      close(record);
      return ERROR_SHARING_VIOLATION;
    }
    for (unsigned bit : Classes) {
      if (((access & bit) && setLock(record, F_RDLCK, hasByte(bit), 1, false) != 0) ||
          (!(share & bit) && setLock(record, F_RDLCK, deniesByte(bit), 1, false) != 0)) {
        DWORD error = errorFromErrno(errno, path);
        close(record);
        return error;
      }
    }
    setLock(record, F_UNLCK, GateByte, 1, false);
    reservation->reset(new ShareReservation(record, path));
    return ERROR_SUCCESS;
  }
  return ERROR_SHARING_VIOLATION;
}

ShareReservation::~ShareReservation() {
  if (setLock(record_, F_WRLCK, GateByte, 1, true) == 0) removeIfUnused(record_, path_);
  close(record_);  // drops this handle's bytes and the gate at once
}

}  // namespace platform::kernel
