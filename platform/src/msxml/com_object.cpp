#include "msxml/com_object.h"

#include <utility>

namespace platform::msxml {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Reusing = false;  // so that a use after release is still caught
#else
constexpr bool Reusing = true;
#endif

// Large enough for every node object and attribute map; node lists, which
// carry their nodes, are larger and rarer.
constexpr std::size_t BlockSize = 64;
// Enough for the objects a reader holds at once; blocks beyond it go back.
constexpr std::size_t BlocksKept = 64;

struct FreeBlock {
  FreeBlock *next;
};

// The blocks a thread keeps. Plain values, so that they stay usable while
// the thread's other objects are destroyed at its end: objects let go after
// the owner below has returned the blocks go straight back to the heap.
thread_local FreeBlock *kept = nullptr;
thread_local std::size_t keptCount = 0;
thread_local bool ending = false;

struct KeptBlocksOwner {
  ~KeptBlocksOwner() {
    ending = true;
    while (kept != nullptr) ::operator delete(std::exchange(kept, kept->next));
    keptCount = 0;
  }
};
thread_local KeptBlocksOwner keptBlocksOwner;

}  // namespace

void *ReusedStorage::operator new(std::size_t size, const std::nothrow_t &) noexcept {
  if (!Reusing || size > BlockSize) return ::operator new(size, std::nothrow);
  if (kept == nullptr) return ::operator new(BlockSize, std::nothrow);
  (void)&keptBlocksOwner;  // made on the thread's first reuse, ends with the thread
  --keptCount;
  return std::exchange(kept, kept->next);
}

void *ReusedStorage::operator new(std::size_t size) {
  if (void *block = operator new(size, std::nothrow)) return block;
  throw std::bad_alloc();
}

void ReusedStorage::operator delete(void *block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (!Reusing || size > BlockSize || ending || keptCount == BlocksKept) return ::operator delete(block);
  (void)&keptBlocksOwner;
  kept = new (block) FreeBlock{kept};
  ++keptCount;
}

void ReusedStorage::operator delete(void *block, const std::nothrow_t &) noexcept { ::operator delete(block); }

}  // namespace platform::msxml
