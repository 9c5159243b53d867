// A host hands its live tree to readers in other processes: the manager's
// blob is copied into named shared memory that a reader copies out whole.
//
// Two kinds of section carry it. The directory, named after the device
// ("<scope>rvZedaZuvivurAzodav.Tree.<device>"), is small and fixed; it tells
// which data section ("<directory>#<n>") holds the tree, how many bytes it
// holds and when it was published, and carries a sequence number that is odd
// while the host writes.
// A reader copies the bytes and keeps them only when the sequence was even
// and unchanged around the copy, so it never keeps a torn tree. A tree that
// outgrows its data section goes into a new, larger one, and the old one is
// closed only after the directory names the new one.
//
// Who may open the sections, and whose sections readers believe, is
// SectionSecurity.h's business.
//
// Sections live as long as a process holds them: readers open them for one
// copy and close them again, so when the host stops or dies the names vanish
// and readers find no data instead of a tree that no longer changes.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "rvZedaZuvivurAzodav.h"
#include "rvText.h"

namespace rv::publishing {

// "Global\" is tried first so that readers in other sessions (a service
// reading performance data) see the tree; a host without the right to create
// global names falls back to "Local\", where readers look second.
Text directoryName(const WCHAR *scope, const WCHAR *device);

class TreePublisher {
 public:
  explicit TreePublisher(const WCHAR *device);
  TreePublisher(const TreePublisher &) = delete;
  TreePublisher &operator=(const TreePublisher &) = delete;
  ~TreePublisher();

  // Publishes a whole blob as MyBlob gives it (header included). S_OK, or the
  // code of the section call that failed: HRESULT_FROM_WIN32(
  // ERROR_ALREADY_EXISTS) while another host publishes the device, and
  // HRESULT_FROM_WIN32(ERROR_INVALID_OWNER) when accounts that readers do not
  // trust hold its name in both scopes. A failed publish leaves the last
  // tree readable. Running out of memory for a section's name throws
  // std::bad_alloc, and leaves the last tree readable too.
  HRESULT publish(const BYTE *blob, size_t size);
  // Publishes the manager's MyBlob.
  HRESULT publish(IPerfMgr *manager);
  // Takes the tree away: readers find no data from now on.
  void withdraw();

  // Trees published since construction or the last withdraw.
  ULONG generation() const;
  const Text &device() const { return device_; }

 private:
  struct Sections;
  Text device_;
  Sections *sections_;
  mutable CRITICAL_SECTION lock_;
};

// When a tree was published: the system's performance counter and its
// frequency, as QueryPerformanceCounter gives them in the host.
struct PublishedClock {
  LONGLONG time = 0;
  LONGLONG frequency = 0;
};

// A reader of one device that keeps the data section mapped from one read to
// the next, so that a reader that polls does not open, map and fault in the
// pages of the same section again at every read. The directory is opened anew
// at every read, so a host that stopped is noticed as soon as by
// readPublishedTree, and the data section is closed then; while it is held,
// its name stays, and a new host of the device passes that number over.
class PublishedTreeReader {
 public:
  explicit PublishedTreeReader(const WCHAR *device);
  PublishedTreeReader(const PublishedTreeReader &) = delete;
  PublishedTreeReader &operator=(const PublishedTreeReader &) = delete;
  ~PublishedTreeReader();

  // Hands `visit` the tree's bytes where they lie in the data section, and
  // again until one visit saw bytes that the host did not touch meanwhile: a
  // visit may see a torn tree, whose bytes it must read only within the size
  // it is given, and whatever it made of them counts only when the result is
  // S_OK. The results are readPublishedTree's.
  HRESULT read(const std::function<void(const BYTE *bytes, size_t size)> &visit, PublishedClock *clock = nullptr);

 private:
  struct Mapping;
  Text device_;
  Mapping *data_;
};

// Copies the tree last published for `device` into `blob`, and when it was
// published into `clock` if given. S_OK with the bytes; S_FALSE when no host
// publishes one (none running, withdrawn, or a host that died in the middle
// of a write); the section call's failure when a section cannot be opened
// (corrupt, not accessible); HRESULT_FROM_WIN32(ERROR_INVALID_OWNER) when the
// only section of that name belongs to an account this reader does not trust
// (see SectionSecurity.h); HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when the
// directory holds no tree of this layout, or a write that never ends.
HRESULT readPublishedTree(const WCHAR *device, std::vector<BYTE> &blob, PublishedClock *clock = nullptr);

}  // namespace rv::publishing
