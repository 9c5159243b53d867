// What the three collection classes share on top of TRVPObjectImpl: an
// ordered list of members reached by 1-based position, by ID and by name,
// the public collection interface for member interface E (members of class
// M), and the untyped IPerfCollection that forwards to it. Lookups walk
// from the front, except the lookup by name of a long collection whose class
// keeps a name index (see NameIndex.h).
#pragma once
#include <algorithm>
#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "EnumVariant.h"
#include "NameIndex.h"
#include "TRVPObjectImpl.h"
#include "log/DirectReport.h"
#include "log/Frames.h"
#include "server/Text.h"

namespace rv {

// The form in which member names are compared: the text up to its first
// zero, upper-cased in the system code page (characters the code page lacks
// become its default character). A null name stays null.
std::optional<Text> foldedName(BSTR name);

// A collection of members of class M keeps a name index where M counts the
// renames of its indexed members (see NameIndex.h).
template <typename M>
concept CountsRenames = requires(M &member) {
  { M::renames() } -> std::same_as<std::uint64_t>;
  member.noteNameIndexed();
};

template <typename Derived, typename Main, typename E, typename M>
class TRVPCollectionImpl : public TRVPObjectImpl<Derived, Main, IPerfCollection> {
  using Base = TRVPObjectImpl<Derived, Main, IPerfCollection>;

  // One member as the collection holds it: the collection's reference and
  // whether the collection made it. A member it made is known to be of
  // class M, and transfers call it directly as such instead of asking it for
  // its transfer interface; a member added from outside is reached through
  // its interfaces only. The flag rides in the lowest bit of the pointer,
  // which an interface pointer never uses (it points at a method table
  // pointer and is aligned like one), so a member costs the one word a bare
  // reference would: trees hold hundreds of thousands of them.
  class Member {
   public:
    Member(ComPtr<E> member, bool made)
        : bits_(reinterpret_cast<std::uintptr_t>(member.detach()) | (made ? MadeBit : 0)) {}
    Member(Member &&other) noexcept : bits_(std::exchange(other.bits_, 0)) {}
    // A swap: what this member held goes with `other`. Removing a member
    // from the front half of a long list moves every later one, so a move
    // is kept to two loads and two stores.
    Member &operator=(Member &&other) noexcept {
      std::swap(bits_, other.bits_);
      return *this;
    }
    Member(const Member &) = delete;
    Member &operator=(const Member &) = delete;
    ~Member() { reset(); }

    E *get() const { return reinterpret_cast<E *>(bits_ & ~MadeBit); }
    bool made() const { return (bits_ & MadeBit) != 0; }
    // The member as class M; only for a member the collection made.
    M *own() const { return static_cast<M *>(get()); }
    // Gives up the reference; the member is empty before it is released.
    void reset() {
      if (E *member = reinterpret_cast<E *>(std::exchange(bits_, 0) & ~MadeBit)) member->Release();
    }

   private:
    static constexpr std::uintptr_t MadeBit = 1;
    static_assert(alignof(E) > MadeBit, "an interface pointer leaves its lowest bit clear");
    std::uintptr_t bits_;
  };

 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG *count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<LONG>(members_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Item(LONG index, E **member) override {
    RV_OPERATION("get_Item");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (member == nullptr) return E_POINTER;
      *member = index >= 1 && index <= static_cast<LONG>(members_.size())
                    ? ComPtr<E>(members_[static_cast<size_t>(index - 1)].get()).detach()
                    : nullptr;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE get_ItemByID(LONG id, E **member) override {
    RV_OPERATION("get_ItemByID");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (member == nullptr) return E_POINTER;
      *member = nullptr;
      const size_t at = findById(id);
      if (at < members_.size()) *member = ComPtr<E>(members_[at].get()).detach();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Remove(LONG index) override {
    RV_OPERATION("Remove");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (index <= 0 || index > static_cast<LONG>(members_.size()))
        return reportDirect(iidOf<Main>(), 603, iidOf<Main>(), E_INVALIDARG);
      unindex(static_cast<size_t>(index - 1));
      Member removed = std::move(members_[static_cast<size_t>(index - 1)]);
      members_.erase(members_.begin() + (index - 1));
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE RemoveAll() override {
    RV_OPERATION("RemoveAll");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      // Members lose the collection's reference in list order.
      dropNameIndex();
      std::vector<Member> removed = std::move(members_);
      members_.clear();
      for (Member &member : removed) member.reset();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE RemoveByID(LONG id) override {
    RV_OPERATION("RemoveByID");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      // A failure while asking the members is logged, then ends as not found.
      Err frame;
      size_t at = members_.size();
      swallowingFrame(RV_SITE(TemplateUnit), frame, [&] { at = findById(id); });
      if (at >= members_.size()) return reportDirect(iidOf<Main>(), 603, iidOf<Main>(), E_INVALIDARG);
      unindex(at);
      Member removed = std::move(members_[at]);
      members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(at));
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Add(E *member) override { return add(member, false); }

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **enumerator) override {
    std::vector<ComPtr<IDispatch>> snapshot;
    snapshot.reserve(members_.size());
    for (const Member &member : members_) snapshot.emplace_back(member.get());
    return EnumVariant::Create(std::move(snapshot), enumerator);
  }

  HRESULT STDMETHODCALLTYPE AddNew(LONG id, E **member) override {
    RV_OPERATION("AddNew");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (member != nullptr) *member = nullptr;
      ComPtr<E> created = createMember();
      raiseIfFailed(RV_SITE(TemplateUnit), created->put_ID(id));
      // Where each operation records its entry, the new member goes through
      // Add as documented; elsewhere straight into the list.
      const HRESULT hr =
          entryRecordsWanted() ? add(created.get(), true) : append(created.get(), RV_SITE(TemplateUnit), true);
      if (FAILED(hr)) return hr;
      if (member != nullptr) *member = created.detach();
      return S_OK;
    });
  }

  // The name lookup and the reset run in the collection class's own source
  // unit; the lookup reports itself as get_ItemByID.
  HRESULT STDMETHODCALLTYPE get_ItemByName(BSTR name, E **member) override {
    RV_OPERATION("get_ItemByID");
    return memberFrame(RV_SITE(Derived::rvSourceUnit), [&] {
      findByName(name, member, RV_SITE(Derived::rvSourceUnit));
      return S_OK;
    });
  }

  // The first failing member stops the walk; the ones before it stay reset.
  HRESULT STDMETHODCALLTYPE ResetCounters() override {
    RV_OPERATION("ResetCounters");
    return memberFrame(RV_SITE(Derived::rvSourceUnit), [&] {
      for (const Member &member : members_) {
        if constexpr (std::is_same_v<E, IPerfCounter>)
          raiseIfFailed(RV_SITE(Derived::rvSourceUnit), member.get()->ResetCounter());
        else
          raiseIfFailed(RV_SITE(Derived::rvSourceUnit), member.get()->ResetCounters());
      }
      return S_OK;
    });
  }

  // The collection record: the count, then every member's record.
  LONGLONG recordSize() {
    RV_OPERATION("GetSize");
    LONGLONG total = 4;
    for (size_t at = 0; at < members_.size(); ++at) {
      const Member &member = members_[at];
      LONG size = 0;
      raiseIfFailed(RV_SITE(TemplateUnit),
                    member.made() ? member.own()->M::GetSize(&size) : Base::transferOf(member.get())->GetSize(&size));
      total += size;
    }
    return total;
  }

  void writeRecord(CTran &tran, VARIANT *blob) {
    RV_OPERATION("TransferOut");
    const LONG count = static_cast<LONG>(members_.size());
    tran.Write(&count, sizeof count);
    for (size_t at = 0; at < members_.size(); ++at) {
      const Member &member = members_[at];
      if (member.made()) {
        raiseIfFailedFrom(RV_SITE(TemplateUnit), member.own()->transferKey(), member.own()->M::TransferOut(blob));
      } else {
        const ComPtr<IPerfTransfer> transfer = Base::transferOf(member.get());
        raiseIfFailedFrom(RV_SITE(TemplateUnit), transfer.get(), transfer->TransferOut(blob));
      }
    }
  }

  template <class Out> bool plainRecord(Out &out) {
    const LONG count = static_cast<LONG>(members_.size());
    if (!out.write(&count, sizeof count)) return false;
    for (size_t at = 0; at < members_.size(); ++at) {
      const Member &member = members_[at];
      if (member.made()) {
        if (!member.own()->M::plainRecord(out)) return false;
      } else if (ObjectRoot *node = ObjectRoot::ownNode(member.get()); node == nullptr || !node->plainWalk(out)) {
        return false;
      }
    }
    return true;
  }

  // The same record read by the plain walk. A member that only this
  // collection holds (see heldByParentOnly) is written over in place rather
  // than replaced, since nobody could tell the two apart; every other one is
  // replaced by a new member, and those beyond the count leave in list
  // order. It stops where readRecord would raise.
  bool plainReadRecord(PlainReader &in) {
    dropNameIndex();
    LONG count = 0;
    if (!in.read(&count, sizeof count)) return false;
    const size_t wanted = count > 0 ? static_cast<size_t>(count) : 0;
    if (wanted > members_.size()) members_.reserve(std::min(wanted, in.remaining() / sizeof(LONG)));
    for (size_t at = 0; at < wanted; ++at) {
      if (!in.more()) return false;
      if (at < members_.size() && members_[at].made() && members_[at].own()->heldByParentOnly()) {
        if (!members_[at].own()->M::plainReadRecord(in)) return false;
        continue;
      }
      ComPtr<E> created;
      const HRESULT hr = ObjectRoot::create<M>(nullptr, iidOf<E>(), created.putVoid());
      if (FAILED(hr)) return hr == E_OUTOFMEMORY && in.stopForMemory();
      if (!static_cast<M *>(created.get())->M::plainReadRecord(in)) return false;
      if (at < members_.size())
        members_[at] = Member(std::move(created), true);
      else
        members_.emplace_back(std::move(created), true);
    }
    if (members_.size() > wanted) {
      const auto kept = members_.begin() + static_cast<std::ptrdiff_t>(wanted);
      std::vector<Member> leaving(std::make_move_iterator(kept), std::make_move_iterator(members_.end()));
      members_.erase(kept, members_.end());
      for (Member &member : leaving) member.reset();
    }
    return true;
  }

  // Replaces every member with new ones read from the blob; nothing is
  // merged, and duplicate IDs come in as they are.
  void readRecord(CTran &tran, VARIANT *blob) {
    RV_OPERATION("TransferIn");
    raiseIfFailed(RV_SITE(TemplateUnit), RemoveAll());
    LONG count = 0;
    tran.Read(&count, sizeof count);
    // Room for the members at once, as far as the bytes left can hold their
    // records (each takes at least its 4-byte ID): a tree read from a blob
    // keeps no spare slots, and a made-up count reserves no more than the
    // blob could fill.
    if (count > 0) {
      const size_t fit = static_cast<size_t>(std::max<LONG>(tran.size() - tran.cursor(), 0)) / sizeof(LONG);
      members_.reserve(std::min(static_cast<size_t>(count), fit));
    }
    for (LONG i = 0; i < count; ++i) {
      ComPtr<E> member;
      Base::readChild(tran, blob, [&]() -> M * {
        raiseIfFailed(RV_SITE(TemplateUnit), AddNew(0, member.put()));
        return members_.back().own();
      });
    }
  }

  // IPerfCollection: the same collection with plain dispatch references.
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IDispatch **member) override {
    return untyped(member, [&](E **typed) { return get_Item(index, typed); });
  }
  HRESULT STDMETHODCALLTYPE get_ItemByID(LONG id, IDispatch **member) override {
    return untyped(member, [&](E **typed) { return get_ItemByID(id, typed); });
  }
  HRESULT STDMETHODCALLTYPE AddNew(LONG id, IDispatch **member) override {
    return untyped(member, [&](E **typed) { return AddNew(id, typed); });
  }
  HRESULT STDMETHODCALLTYPE Add(IDispatch *member) override {
    ComPtr<E> typed;
    if (member == nullptr || FAILED(member->QueryInterface(iidOf<E>(), typed.putVoid())) || !typed)
      return reportDirect(iidOf<Main>(), 601, iidOf<Main>(), E_INVALIDARG);
    return Add(typed.get());
  }

 public:
  // The first member whose folded name equals the folded `name`, as
  // ItemByName finds it, with a reference for the caller; null when none
  // does. A member this collection made lends its name without a copy.
  void findByName(BSTR name, E **member, const Site &site) {
    if (member == nullptr) raiseNullPointer(site);
    *member = nullptr;
    if (name == nullptr) return;
    std::optional<Text> wanted;
    if (findIndexed(name, member, wanted)) return;
    for (size_t at = 0; at < members_.size(); ++at) {
      const Member &candidate = members_[at];
      Bstr copy;
      BSTR candidateName;
      if (candidate.made()) {
        candidateName = candidate.own()->nameText();
      } else {
        raiseIfFailed(site, candidate.get()->get_Name(copy.put()));
        candidateName = copy.get();
      }
      if (sameFoldedName(name, candidateName, wanted)) {
        *member = ComPtr<E>(members_[at].get()).detach();
        return;
      }
    }
  }

  // Removes in one pass the members `leaves` picks, as a Remove of each in
  // turn from the front would, the others keeping their order, letting each
  // removed one go as the pass reaches it. Only where the collection made
  // every member, so that `leaves` reads them as M without calling out and
  // letting one go calls back into nothing (a node it made holds nothing
  // above itself): false, with nothing removed, where it did not.
  //
  // The pass allocates nothing, so nothing can fail half-way, and frees no
  // large block after the members' many small ones: that makes the C
  // library gather every small block just given back (malloc_consolidate),
  // a cost that grows with the tree.
  template <typename Leaves> bool removeMadeWhere(Leaves &&leaves) {
    if (!madeAll()) return false;
    size_t kept = 0;
    for (size_t at = 0; at < members_.size(); ++at) {
      if (leaves(*members_[at].own())) {
        // Where it stands once the members removed before it have gone.
        unindex(kept, members_[at]);
        members_[at].reset();
      } else {
        if (kept != at) members_[kept] = std::move(members_[at]);
        ++kept;
      }
    }
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(kept), members_.end());
    return true;
  }

  // Whether the collection made every member it holds (true when it holds
  // none), so that a walk may read them as M without calling out.
  bool madeAll() const {
    for (const Member &member : members_)
      if (!member.made()) return false;
    return true;
  }
  bool empty() const { return members_.empty(); }

  // The members as M, without references of their own, where the
  // collection made them all; none where it did not. For a walk that calls
  // out to nobody while it holds them.
  std::vector<M *> madeMembers() const {
    std::vector<M *> made;
    made.reserve(members_.size());
    for (const Member &member : members_) {
      if (!member.made()) return {};
      made.push_back(member.own());
    }
    return made;
  }

  // Appends a member made here for each of `sources`, each filled from its
  // source by `fill`, which answers false where it cannot copy one: the list
  // is then left as it was. For a copy between this component's own nodes
  // that needs no blob. Making a member may raise.
  template <typename Source, typename Fill> bool appendMade(const std::vector<Source *> &sources, Fill &&fill) {
    std::vector<Member> made;
    made.reserve(sources.size());
    for (Source *source : sources) {
      ComPtr<E> created = createMember();
      if (!fill(*static_cast<M *>(created.get()), *source)) return false;
      made.emplace_back(std::move(created), true);
    }
    members_.reserve(members_.size() + made.size());
    for (Member &member : made) members_.push_back(std::move(member));
    return true;
  }

  // Hands every member to `step` as M, in list order, where the collection
  // made them all; false, with none handed, where it did not. `step` must
  // not change the list.
  template <typename Step> bool visitMade(Step &&step) {
    if (!madeAll()) return false;
    for (const Member &member : members_) step(*member.own());
    return true;
  }

  // Asks for the memory of the member list, then (once it has come) for
  // that of the members, ahead of a visit: a walk over thousands of
  // collections would otherwise wait for each of them in turn.
  void prefetchList() const {
    const char *list = reinterpret_cast<const char *>(members_.data());
    for (size_t offset = 0; offset < members_.size() * sizeof(Member); offset += 64) __builtin_prefetch(list + offset);
  }
  void prefetchMembers() const {
    for (const Member &member : members_)
      for (size_t offset = 0; offset < sizeof(M); offset += 64)
        __builtin_prefetch(reinterpret_cast<const char *>(member.get()) + offset);
  }

 protected:
  // The members as they stand, each with a reference of its own, for a walk
  // that calls out while the list may change under it.
  std::vector<ComPtr<E>> members() const {
    std::vector<ComPtr<E>> snapshot;
    snapshot.reserve(members_.size());
    for (const Member &member : members_) snapshot.emplace_back(member.get());
    return snapshot;
  }

 private:
  static constexpr const char *TemplateUnit = Base::TemplateUnit;

  // Whether `candidate` (null reads as empty) folds to the same text as
  // `name`. ASCII folds to its ASCII capitals, one to one, in every system
  // code page, and CharUpperBuffA maps "i" to "I" whatever the language; so
  // the names are compared as they stand while both are ASCII, and the first
  // ASCII pair that differs decides, whatever follows. From the first other
  // character on, the pair goes through the fold, `name`'s kept in `folded`
  // for the next candidate.
  static bool sameFoldedName(BSTR name, BSTR candidate, std::optional<Text> &folded) {
    const OLECHAR *a = name, *b = candidate != nullptr ? candidate : OLESTR("");
    for (;; ++a, ++b) {
      if (*a >= 0x80 || *b >= 0x80) break;
      const OLECHAR upperA = *a >= 'a' && *a <= 'z' ? OLECHAR(*a - 'a' + 'A') : *a;
      const OLECHAR upperB = *b >= 'a' && *b <= 'z' ? OLECHAR(*b - 'a' + 'A') : *b;
      if (upperA != upperB) return false;
      if (*a == 0) return true;
    }
    return slowFoldCompare(name, candidate, folded);
  }
  static bool slowFoldCompare(BSTR name, BSTR candidate, std::optional<Text> &folded) {
    if (!folded) folded = foldedName(name);
    std::optional<Text> other = foldedName(candidate);
    if (!other) other = Text();
    return *other == *folded;
  }

  // Below this many members a walk costs less than keeping an index.
  static constexpr size_t IndexFrom = 16;

  // The lookup of `name` (not null) through the name index, where the
  // collection keeps one and the trace does not record the steps: true when
  // the index answered (`*member` found, or left null when no member has the
  // name); false leaves the lookup to the walk, which then finds the same.
  // An index that cannot be allocated is given up for the walk.
  bool findIndexed(BSTR name, E **member, std::optional<Text> &wanted) {
    if constexpr (!CountsRenames<M>) {
      return false;
    } else {
      if (members_.size() < IndexFrom || entryRecordsWanted()) return false;
      try {
        if (!nameIndex_) nameIndex_ = std::make_unique<NameIndex>();
        NameIndex &index = *nameIndex_;
        if (!index.current(M::renames())) index.clear(M::renames());
        while (!index.stopped() && index.covered() < members_.size()) {
          const Member &next = members_[index.covered()];
          if (!next.made()) {
            index.stopAtForeign();
            break;
          }
          next.own()->noteNameIndexed();
          index.add(next.get(), NameIndex::hashOf(next.own()->nameText()));
        }
        if (index.stopped()) return false;
        E *first = static_cast<E *>(const_cast<void *>(index.first(NameIndex::hashOf(name))));
        if (first == nullptr) return true;
        // Another name with the same hash: the walk decides.
        if (!sameFoldedName(name, static_cast<M *>(first)->nameText(), wanted)) return false;
        *member = ComPtr<E>(first).detach();
        return true;
      } catch (const std::bad_alloc &) {
        dropNameIndex();
        return false;
      }
    }
  }

  // Takes `member`, standing at `at` and about to leave the list, out of the
  // name index.
  void unindex(size_t at, const Member &member) {
    if constexpr (CountsRenames<M>) {
      if (!nameIndex_ || at >= nameIndex_->covered()) return;
      if (!nameIndex_->current(M::renames())) {
        dropNameIndex();
        return;
      }
      try {
        nameIndex_->remove(member.get(), NameIndex::hashOf(member.own()->nameText()));
      } catch (const std::bad_alloc &) {
        dropNameIndex();
      }
    }
  }
  void unindex(size_t at) { unindex(at, members_[at]); }

  void dropNameIndex() {
    if constexpr (CountsRenames<M>) nameIndex_.reset();
  }

  size_t findById(LONG id) {
    RV_OPERATION("get_ItemByID");
    for (size_t at = 0; at < members_.size(); ++at) {
      LONG memberId = 0;
      raiseIfFailed(RV_SITE(TemplateUnit), members_[at].get()->get_ID(&memberId));
      if (memberId == id) return at;
    }
    return members_.size();
  }

  // Appends `given`, which this collection made or not (see Member).
  // Add, framed; `made` marks a member this collection created.
  HRESULT add(E *member, bool made) {
    RV_OPERATION("Add");
    return memberFrame(RV_SITE(TemplateUnit), [&] { return append(member, RV_SITE(TemplateUnit), made); });
  }

  // Whether a member has `id`: through ItemByID where each operation records
  // its entry, so that the trace shows the lookup; by a direct walk elsewhere.
  bool holdsId(LONG id, const Site &site) {
    if (!entryRecordsWanted()) return findById(id) < members_.size();
    ComPtr<E> found;
    raiseIfFailed(site, get_ItemByID(id, found.put()));
    return static_cast<bool>(found);
  }

  HRESULT append(E *given, const Site &site, bool made = false) {
    // A late-bound caller can hand any object where a member belongs, and the
    // dispatcher passes it on as it is: the member is taken through its own
    // answer for the member interface, so a foreign object is refused
    // instead of being called through a table it does not have.
    ComPtr<E> member;
    if (given == nullptr || FAILED(given->QueryInterface(iidOf<E>(), member.putVoid())) || !member)
      return reportDirect(iidOf<Main>(), 601, iidOf<Main>(), E_INVALIDARG);
    LONG id = 0;
    raiseIfFailed(site, member->get_ID(&id));
    // ID 0 may occur any number of times.
    if (id != 0 && holdsId(id, site)) return reportDirect(iidOf<Main>(), 602, iidOf<Main>(), E_FAIL);
    members_.emplace_back(std::move(member), made);
    return S_OK;
  }

  // A new member of class M, made directly with its final construction.
  ComPtr<E> createMember() {
    RV_OPERATION("AddNew");
    ComPtr<E> created;
    const HRESULT hr = ObjectRoot::create<M>(nullptr, iidOf<E>(), created.putVoid());
    if (FAILED(hr)) raiseWithErrorInfo(RV_SITE(TemplateUnit), hr);
    return created;
  }

  // The public operation answers for the untyped one, a missing place for
  // the result included.
  template <typename Call> static HRESULT untyped(IDispatch **member, Call &&call) {
    E *typed = nullptr;
    const HRESULT hr = call(member != nullptr ? &typed : nullptr);
    if (member != nullptr) *member = typed;
    return hr;
  }

  std::vector<Member> members_;
  struct NoNameIndex {};
  [[no_unique_address]] std::conditional_t<CountsRenames<M>, std::unique_ptr<NameIndex>, NoNameIndex> nameIndex_;
};

}  // namespace rv
