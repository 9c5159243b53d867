#include "section_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "descriptor.h"
#include "file_system.h"
#include "paths.h"

namespace platform::kernel {

namespace {

constexpr char Magic[8] = {'W', 'P', 'S', 'E', 'C', 'T', '1', 0};

struct Header {
  char magic[8];
  uint64_t size;
  uint32_t protection;
  uint32_t reserved;
};

// The longest piece of an encoded name in one path component, below the
// system's 255 bytes with room for the letter that tells folders from files.
constexpr size_t PieceLength = 240;

// The page a header takes and the unit a section's bytes are rounded up to:
// Windows' 4 KiB, or the system's page where that is larger, so that every
// mapped page lies inside the file.
uint64_t pageSize() {
  static const uint64_t size = std::max<uint64_t>(static_cast<uint64_t>(sysconf(_SC_PAGESIZE)), 4096);
  return size;
}

uint64_t roundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

// Whether `size` bytes, rounded up and after a header, fit in a file offset.
bool fitsInAFile(uint64_t size) { return size <= static_cast<uint64_t>(INT64_MAX) - 2 * pageSize(); }

// A failure to give a section its size is a lack of memory, as on Windows.
DWORD sizingError(int error) {
  return error == EFBIG || error == ENOSPC || error == EINVAL || error == ENOMEM || error == EDQUOT
             ? ERROR_NOT_ENOUGH_MEMORY
             : errorFromErrno(error, {});
}

std::vector<std::string> pathOf(SectionNamespace space, const std::basic_string<WCHAR> &name) {
  std::string encoded;
  for (WCHAR unit : name) {
    if (unit > 0x20 && unit < 0x7f && unit != '/' && unit != '%') {
      encoded.push_back(static_cast<char>(unit));
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "%%%04X", static_cast<unsigned>(unit));
      encoded += escape;
    }
  }
  std::vector<std::string> path{space == SectionNamespace::Global ? "global" : "local"};
  // Folders are "d" and a piece, the section's file "f" and the last piece.
  for (size_t at = 0;; at += PieceLength) {
    if (encoded.size() - at <= PieceLength) {
      path.push_back("f" + encoded.substr(at));
      return path;
    }
    path.push_back("d" + encoded.substr(at, PieceLength));
  }
}

// Exclusive use of the sections folder, across threads and processes: every
// holder opens the lock file on its own, so that its lock is its own.
class StoreLock {
 public:
  DWORD acquire() {
    const std::string folder = rootFolder() + "/sections";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errorFromErrno(errno, folder);
    sections_.reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (sections_.get() < 0 || fstat(sections_.get(), &status) != 0) return errorFromErrno(errno, folder);
    // Sections are private to the user: a folder others may enter is not used.
    if (status.st_uid != geteuid() || (status.st_mode & 077) != 0) return ERROR_ACCESS_DENIED;
    lock_.reset(openat(sections_.get(), "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock_.get() < 0) return errorFromErrno(errno, folder);
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    int result;
    do {
      result = fcntl(lock_.get(), F_OFD_SETLKW, &range);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? ERROR_SUCCESS : errorFromErrno(errno, folder);
  }
  int sections() const { return sections_.get(); }

 private:
  Descriptor sections_;
  Descriptor lock_;
};

struct flock holdRange(short type) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_len = 1;
  return range;
}

bool takeHold(int file) {
  struct flock range = holdRange(F_RDLCK);
  return fcntl(file, F_OFD_SETLK, &range) == 0;
}

// Whether another open file description of the file holds byte 0.
bool heldByOthers(int file) {
  struct flock range = holdRange(F_WRLCK);
  if (fcntl(file, F_OFD_GETLK, &range) != 0) return true;  // cannot tell: keep the name
  return range.l_type != F_UNLCK;
}

// The folders of `path` but its last component, outermost first, made where
// missing when `make`.
DWORD openFolders(int sections, const std::vector<std::string> &path, bool make, std::vector<Descriptor> *folders) {
  int at = sections;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int folder = openat(at, path[i].c_str(), flags);
    if (folder < 0 && errno == ENOENT && make && (mkdirat(at, path[i].c_str(), 0700) == 0 || errno == EEXIST))
      folder = openat(at, path[i].c_str(), flags);
    if (folder < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : errorFromErrno(errno, {});
    folders->emplace_back(folder);
    at = folder;
  }
  return ERROR_SUCCESS;
}

int parentOf(int sections, const std::vector<Descriptor> &folders) {
  return folders.empty() ? sections : folders.back().get();
}

// With the store locked: removes the section's file and the folders of a
// long name that it leaves empty; the namespace folders stay.
void removeName(int sections, const std::vector<std::string> &path, const std::vector<Descriptor> &folders) {
  unlinkat(parentOf(sections, folders), path.back().c_str(), 0);
  for (size_t i = folders.size(); i-- > 1;)
    if (unlinkat(folders[i - 1].get(), path[i].c_str(), AT_REMOVEDIR) != 0) break;
}

// With the store locked: the held section at `path` with its header, held now
// by `file` too. A file nobody holds is removed and not found.
DWORD openHeld(int sections, const std::vector<std::string> &path, std::vector<Descriptor> *folders, Descriptor *file,
               Header *header) {
  if (DWORD error = openFolders(sections, path, false, folders)) return error;
  file->reset(openat(parentOf(sections, *folders), path.back().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (file->get() < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : errorFromErrno(errno, {});
  if (!heldByOthers(file->get())) {
    removeName(sections, path, *folders);
    return ERROR_FILE_NOT_FOUND;
  }
  // A name that is no section is taken by an object of another kind; a
  // section whose file was cut short under its header or its bytes (which
  // anyone who may write the file can do) is corrupt.
  struct stat status;
  if (fstat(file->get(), &status) != 0) return errorFromErrno(errno, {});
  if (static_cast<uint64_t>(status.st_size) < sizeof *header) return ERROR_FILE_CORRUPT;
  if (pread(file->get(), header, sizeof *header, 0) != static_cast<ssize_t>(sizeof *header) ||
      std::memcmp(header->magic, Magic, sizeof Magic) != 0 || !fitsInAFile(header->size))
    return ERROR_INVALID_HANDLE;
  if (static_cast<uint64_t>(status.st_size) < pageSize() + roundUp(header->size, pageSize())) return ERROR_FILE_CORRUPT;
  return takeHold(file->get()) ? ERROR_SUCCESS : errorFromErrno(errno, {});
}

}  // namespace

DWORD SectionStorage::makeUnnamed(uint64_t size, DWORD protection, std::shared_ptr<SectionStorage> *storage) {
  if (!fitsInAFile(size)) return ERROR_NOT_ENOUGH_MEMORY;
  Descriptor memory(memfd_create("section", MFD_CLOEXEC));
  if (memory.get() < 0) return errorFromErrno(errno, {});
  if (ftruncate(memory.get(), static_cast<off_t>(roundUp(size, pageSize()))) != 0) return sizingError(errno);
  storage->reset(new SectionStorage(memory.release(), -1, size, protection, 0, {}));
  return ERROR_SUCCESS;
}

DWORD SectionStorage::holding(int hold, uint64_t size, DWORD protection, std::vector<std::string> path,
                              std::shared_ptr<SectionStorage> *storage) {
  Descriptor held(hold);
  const std::string self = "/proc/self/fd/" + std::to_string(hold);
  Descriptor views(::open(self.c_str(), O_RDWR | O_CLOEXEC));
  if (views.get() < 0) return errorFromErrno(errno, {});
  // The storage takes its hold only once it is owned: a storage that cannot
  // be owned (no memory for the owner) is destroyed at once, and one that held
  // the name would then take the store lock, which its maker holds.
  storage->reset(
      new SectionStorage(views.release(), -1, size, protection, static_cast<off_t>(pageSize()), std::move(path)));
  (*storage)->hold_ = held.release();
  return ERROR_SUCCESS;
}

DWORD SectionStorage::open(SectionNamespace space, const std::basic_string<WCHAR> &name,
                           std::shared_ptr<SectionStorage> *storage) {
  StoreLock lock;
  if (DWORD error = lock.acquire()) return error;
  const std::vector<std::string> path = pathOf(space, name);
  std::vector<Descriptor> folders;
  Descriptor file;
  Header header;
  if (DWORD error = openHeld(lock.sections(), path, &folders, &file, &header)) return error;
  return holding(file.release(), header.size, header.protection, path, storage);
}

DWORD SectionStorage::create(SectionNamespace space, const std::basic_string<WCHAR> &name, uint64_t size,
                             DWORD protection, std::shared_ptr<SectionStorage> *storage, bool *existed) {
  if (!fitsInAFile(size)) return ERROR_NOT_ENOUGH_MEMORY;
  StoreLock lock;
  if (DWORD error = lock.acquire()) return error;
  const std::vector<std::string> path = pathOf(space, name);
  std::vector<Descriptor> folders;
  Descriptor file;
  Header header;
  DWORD error = openHeld(lock.sections(), path, &folders, &file, &header);
  *existed = error == ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) {
    if (error != ERROR_FILE_NOT_FOUND) return error;
    folders.clear();
    if ((error = openFolders(lock.sections(), path, true, &folders))) return error;
    const int parent = parentOf(lock.sections(), folders);
    file.reset(openat(parent, path.back().c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) return errorFromErrno(errno, {});
    header = Header{};
    std::memcpy(header.magic, Magic, sizeof Magic);
    header.size = size;
    header.protection = protection;
    const off_t length = static_cast<off_t>(pageSize() + roundUp(size, pageSize()));
    if (ftruncate(file.get(), length) != 0) {
      error = sizingError(errno);
    } else if (pwrite(file.get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
               !takeHold(file.get())) {
      error = errorFromErrno(errno, {});
    }
    if (error != ERROR_SUCCESS) {
      removeName(lock.sections(), path, folders);
      return error;
    }
  }
  return holding(file.release(), header.size, header.protection, path, storage);
}

SectionStorage::~SectionStorage() {
  close(descriptor_);
  if (hold_ < 0) return;
  // Without memory to take the lock the name stays behind; nobody holds it
  // any more, so the next open of that name removes it.
  try {
    StoreLock lock;
    if (lock.acquire() == ERROR_SUCCESS && !heldByOthers(hold_)) {
      std::vector<Descriptor> folders;
      struct stat named, held;
      // Only the file this holder holds goes: the name cannot have been made
      // afresh while it was held, but a file put there by hand is left alone.
      if (openFolders(lock.sections(), path_, false, &folders) == ERROR_SUCCESS &&
          fstatat(parentOf(lock.sections(), folders), path_.back().c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          fstat(hold_, &held) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
        removeName(lock.sections(), path_, folders);
    }
  } catch (const std::bad_alloc &) {
  }
  close(hold_);
}

}  // namespace platform::kernel
