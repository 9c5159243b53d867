// Where sections keep their bytes, and how a section's name lives exactly as
// long as some process holds a handle to it.
//
// A named section is a file in <root>/sections/global or .../local: a header
// page that records the section's size and protection, then its bytes, which
// every view maps. A process with a handle keeps the file open with a shared
// open-file-description lock on byte 0. A file whose byte 0 nobody holds is
// the remains of holders that are all gone (the kernel drops the locks of a
// process however it ends): whoever meets it removes it and treats the name
// as free. Views need no lock: a mapping keeps its memory after the file is
// removed, as a view on Windows keeps its section's memory after the last
// handle took the name away. Since a mapping keeps the open file description
// it was made from, and with it that description's locks, views are made from
// a second description of the file that holds no lock.
//
// Finding, making and removing a name happen under an exclusive lock on
// <root>/sections/lock, so that whether a file is held cannot change while a
// process acts on it. Releasing a hold needs that lock only to remove the
// name when it was the last.
//
// A name becomes a file name as its UTF-16 units: letters, digits and
// punctuation other than '/' and '%' as they are, every other unit as %XXXX.
// Names whose file name would pass the system's length limit are cut into
// folders, so that every name Windows takes has a place.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::kernel {

enum class SectionNamespace { Global, Local };

// The bytes of one section and, for a named one, this holder's hold on its
// name. Destroying the last holder of a name removes the name.
class SectionStorage {
 public:
  ~SectionStorage();
  SectionStorage(const SectionStorage &) = delete;
  SectionStorage &operator=(const SectionStorage &) = delete;

  // A section without a name, of `size` bytes (zero-filled).
  static DWORD makeUnnamed(uint64_t size, DWORD protection, std::shared_ptr<SectionStorage> *storage);

  // The section called `name` if some process holds it: ERROR_FILE_NOT_FOUND
  // otherwise.
  static DWORD open(SectionNamespace space, const std::basic_string<WCHAR> &name,
                    std::shared_ptr<SectionStorage> *storage);

  // A new zero-filled section called `name`, or the one that exists, which
  // `*existed` tells.
  static DWORD create(SectionNamespace space, const std::basic_string<WCHAR> &name, uint64_t size, DWORD protection,
                      std::shared_ptr<SectionStorage> *storage, bool *existed);

  // The descriptor views map; it holds no lock.
  int descriptor() const { return descriptor_; }
  uint64_t size() const { return size_; }
  DWORD protection() const { return protection_; }
  // Where the section's first byte is in the file.
  off_t dataOffset() const { return dataOffset_; }

 private:
  SectionStorage(int descriptor, int hold, uint64_t size, DWORD protection, off_t dataOffset,
                 std::vector<std::string> path)
      : descriptor_(descriptor),
        hold_(hold),
        size_(size),
        protection_(protection),
        dataOffset_(dataOffset),
        path_(std::move(path)) {}
  // Takes `hold`, the held description of a named section, and opens the
  // descriptor for its views.
  static DWORD holding(int hold, uint64_t size, DWORD protection, std::vector<std::string> path,
                       std::shared_ptr<SectionStorage> *storage);

  int descriptor_;
  int hold_;  // the description with the hold on the name; -1 for an unnamed section
  uint64_t size_;
  DWORD protection_;
  off_t dataOffset_;
  std::vector<std::string> path_;  // below <root>/sections; empty for an unnamed section
};

}  // namespace platform::kernel
