// Windows share modes between all handles to a file, in this process and in
// other processes.
//
// Every file with open handles has a share record: a file named after the
// file's device and inode in <root>/shares/. A handle keeps the record open
// and holds shared open-file-description locks on single bytes of it, one
// byte per access it has (read, write, delete) and one per access it denies
// to others. A new handle may come when nobody denies what it asks for and
// nobody has what it denies. Byte 0 is a gate held exclusively while one
// opener checks and takes its bytes, so that two openers cannot both pass.
//
// The kernel drops the locks of a process that ends, however it ends, so the
// record of a dead process never blocks anyone. The last handle to close
// removes the record (under the gate; an opener that waited for the gate on
// a removed record starts again with a fresh one).
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <memory>

namespace platform::kernel {

// The classes of access that share modes govern, with the bits of
// FILE_SHARE_READ, FILE_SHARE_WRITE and FILE_SHARE_DELETE.
enum ShareClass : unsigned { ShareRead = 1, ShareWrite = 2, ShareDelete = 4, ShareAll = 7 };

class ShareReservation {
 public:
  ~ShareReservation();
  ShareReservation(const ShareReservation &) = delete;
  ShareReservation &operator=(const ShareReservation &) = delete;

  // Reserves `access` (ShareClass bits) to the file (device, inode) while
  // granting others `share`. ERROR_SHARING_VIOLATION when an open handle
  // conflicts, another error when the share record cannot be used.
  static DWORD acquire(dev_t device, ino_t inode, unsigned access, unsigned share,
                       std::unique_ptr<ShareReservation> *reservation);

 private:
  ShareReservation(int record, std::string path) : record_(record), path_(std::move(path)) {}
  int record_;
  std::string path_;
};

}  // namespace platform::kernel
