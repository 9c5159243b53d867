// The lookup by name of a long collection, in one step instead of a walk: a
// host that creates its instances by name one after the other would
// otherwise pay a walk over all those before for each.
//
// The index maps the hash of each folded name (see foldedName) to the first
// member, in list order, whose name has that hash. A hit is confirmed by
// comparing the names themselves, so two names that share a hash cost a
// walk, never a wrong answer; a miss means that no member has the name.
//
// It holds only members the collection made, and reads their names without
// asking them. The collection is not told when a member is renamed (the host
// holds the member and renames it through its own interface), so the members
// are indexed lazily and the index checks, before it answers, that no
// indexed member was renamed since: a member of the indexing class counts
// every rename of a member that is indexed somewhere (see PerfInstance), and
// any change of that count drops the index. A member that was not made by
// the collection could be renamed without any such count: a collection that
// holds one is walked.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace rv {

class NameIndex {
 public:
  // The hash of the folded form of `name` (a null name hashes as an empty
  // one). ASCII folds to its capitals in every system code page, so a name
  // of ASCII characters is hashed as it stands; any other goes through the
  // fold.
  static std::uint64_t hashOf(const OLECHAR *name);

  // Whether the index still describes the names as they are: nothing it
  // holds was renamed since it was built.
  bool current(std::uint64_t renames) const { return renames == renames_; }

  // Empties the index, to be built again from the first member.
  void clear(std::uint64_t renames) {
    first_.clear();
    covered_ = 0;
    renames_ = renames;
    foreign_ = false;
  }

  // The members from the front that are indexed.
  std::size_t covered() const { return covered_; }
  // Indexes the member that follows the covered ones.
  void add(const void *member, std::uint64_t hash) {
    const auto [at, added] = first_.try_emplace(hash, reinterpret_cast<std::uintptr_t>(member));
    if (!added) at->second |= Shared;
    ++covered_;
  }
  // The member that follows the covered ones was not made by the
  // collection: the index does not answer until it is cleared.
  void stopAtForeign() { foreign_ = true; }
  bool stopped() const { return foreign_; }

  // The first member whose name has `hash`, or null.
  const void *first(std::uint64_t hash) const {
    const auto at = first_.find(hash);
    return at == first_.end() ? nullptr : reinterpret_cast<const void *>(at->second & ~Shared);
  }

  // Takes out one covered member with `hash`, about to leave the collection.
  // When others share its hash, the next of them would have to take its
  // place, and only a walk finds it: the index is cleared instead.
  void remove(const void *member, std::uint64_t hash) {
    --covered_;
    const auto at = first_.find(hash);
    if (at == first_.end() || (at->second & ~Shared) != reinterpret_cast<std::uintptr_t>(member)) return;
    if ((at->second & Shared) != 0)
      clear(renames_);
    else
      first_.erase(at);
  }

 private:
  // Marks an entry whose hash more than one member has; members are aligned
  // like pointers, so the lowest bit of their address is free.
  static constexpr std::uintptr_t Shared = 1;

  std::unordered_map<std::uint64_t, std::uintptr_t> first_;
  std::size_t covered_ = 0;
  std::uint64_t renames_ = 0;
  bool foreign_ = false;
};

}  // namespace rv
