#include "msxml/com_object.h"

#include <utility>

namespace platform::msxml {

namespace {

// Not under AddressSanitizer, so that a use after release is still caught.
// GCC names that build with a macro, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool Reusing = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Reusing = false;
#else
constexpr bool Reusing = true;
#endif
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

// The blocks a thread keeps: plain values, reached with one look-up of the
// thread's storage and usable until the thread's very end.
struct KeptBlocks {
  FreeBlock *first;
  std::size_t count;
};
thread_local KeptBlocks kept = {nullptr, 0};

// Returns the kept blocks when the thread ends and keeps none after that:
// objects let go later on go straight back to the heap.
struct KeptBlocksOwner {
  ~KeptBlocksOwner() {
    while (kept.first != nullptr) ::operator delete(std::exchange(kept.first, kept.first->next));
    kept.count = BlocksKept;
  }
};

// Made on the thread when it first keeps a block.
void ownKeptBlocks() {
  thread_local KeptBlocksOwner owner;
  (void)owner;
}

}  // namespace

void *ReusedStorage::operator new(std::size_t size, const std::nothrow_t &) noexcept {
  if (!Reusing || size > BlockSize) return ::operator new(size, std::nothrow);
  KeptBlocks &blocks = kept;
  if (blocks.first == nullptr) return ::operator new(BlockSize, std::nothrow);
  --blocks.count;
  return std::exchange(blocks.first, blocks.first->next);
}

void *ReusedStorage::operator new(std::size_t size) {
  if (void *block = operator new(size, std::nothrow)) return block;
  throw std::bad_alloc();
}

void ReusedStorage::operator delete(void *block, std::size_t size) noexcept {
  if (block == nullptr) return;
  KeptBlocks &blocks = kept;
  if (!Reusing || size > BlockSize || blocks.count >= BlocksKept) return ::operator delete(block);
  if (blocks.first == nullptr) ownKeptBlocks();
  blocks.first = new (block) FreeBlock{blocks.first};
  ++blocks.count;
}

void ReusedStorage::operator delete(void *block, const std::nothrow_t &) noexcept { ::operator delete(block); }

}  // namespace platform::msxml
