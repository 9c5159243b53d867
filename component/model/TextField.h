// A text property of a node: stores take a private copy of the text up to its
// first NUL (a null text makes the field absent), reads hand out a new copy
// and read an absent field as an empty text. The blob carries the field
// itself, absent or not (see get()).
//
// Texts never change once stored: a store replaces the text. So a text
// copied from node to node (a template's counter into every instance of its
// object), or repeated by the records of one blob (see RecentTexts), is
// stored once and shared, counted, by every field that holds it; writing to
// one of them gives it a text of its own. The text is kept laid out as an
// automation string (its byte length just before it, a terminator after it)
// so that it reads as one everywhere, but it is freed only here.
//
// A text that nearly every node of a tree carries (a counter's keyword for
// its _Total: the initial "no_calc", or "avg" or "no_cacl" as definition
// files give them) is not copied into each of them: the field points at one
// read-only string of the module instead, and never frees it. Nobody outside
// can tell: reads hand out copies either way.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace rv {

class RecentTexts;

class TextField {
 public:
  TextField() = default;
  explicit TextField(const OLECHAR *initial) { put(const_cast<BSTR>(initial)); }
  TextField(const TextField &) = delete;
  TextField &operator=(const TextField &) = delete;
  ~TextField() { release(); }

  HRESULT read(BSTR *out) const {
    if (out == nullptr) return E_POINTER;
    const BSTR text = get();
    *out = text ? SysAllocStringLen(text, SysStringLen(text)) : SysAllocString(OLESTR(""));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT put(BSTR text) {
    if (text == nullptr) {
      release();
      return S_OK;
    }
    const UINT bytes = textLength(text) * UINT(sizeof(OLECHAR));
    BSTR copy = sharedEqualTo(reinterpret_cast<const BYTE *>(text), bytes);
    if (copy == nullptr && (copy = counted(reinterpret_cast<const BYTE *>(text), bytes)) == nullptr)
      return E_OUTOFMEMORY;
    release();
    value_ = copy;
    return S_OK;
  }

  // The stored string itself, null when absent. It reads as an automation
  // string; only this field frees it.
  BSTR get() const { return isCounted() ? reinterpret_cast<BSTR>(bits() & ~CountedBit) : value_; }

  // Holds the text `source` holds, sharing its storage where it can; false,
  // with the field unchanged, when a copy of its own could not be made.
  bool share(const TextField &source) {
    if (&source == this) return true;
    if (source.isCounted()) {
      holdCounted(source.value_);
      release();
      value_ = source.value_;
      return true;
    }
    if (source.value_ == nullptr || source.isShared()) {
      release();
      value_ = source.value_;
      return true;
    }
    // A string read by the framed transfer is the source's own, not counted.
    const BSTR copy = counted(reinterpret_cast<const BYTE *>(source.value_), SysStringByteLen(source.value_));
    if (copy == nullptr) return false;
    release();
    value_ = copy;
    return true;
  }

  // The field as a string the caller replaces: it may free what it finds
  // there (never a shared or counted text, which is let go first) and leaves
  // a string of its own, which adopt() then takes over.
  BSTR *slot() {
    if (isShared() || isCounted()) release();
    return &value_;
  }
  // Swaps the string that slot() left for the shared one when they read the
  // same, byte for byte.
  void adopt() {
    if (value_ == nullptr || isShared() || isCounted()) return;
    if (BSTR shared = sharedEqualTo(reinterpret_cast<const BYTE *>(value_), SysStringByteLen(value_))) {
      SysFreeString(value_);
      value_ = shared;
    }
  }

  // Takes the text of a string record in place: `stored` bytes at `bytes`,
  // the last two of them the terminator (0: the field becomes absent). A
  // string of the field's own of the same length is written over rather
  // than replaced, and a text the field holds already stays. A text the read
  // stored before (`recent`, when it keeps them) is shared rather than
  // copied again. false
  // when a new string cannot be allocated; the field is then absent, as
  // after a read that failed.
  bool assignStored(DWORD stored, const BYTE *bytes, RecentTexts *recent);

 private:
  friend class RecentTexts;
  // A module string in the automation string layout: 4 bytes of padding,
  // the byte length, the text and its terminator, 8-byte aligned.
  struct SharedText {
    alignas(8) DWORD padding;
    DWORD bytes;
    OLECHAR text[8];
  };
  static constexpr SharedText SharedTexts[] = {
      {0, 7 * sizeof(OLECHAR), {'n', 'o', '_', 'c', 'a', 'l', 'c', 0}},
      {0, 3 * sizeof(OLECHAR), {'a', 'v', 'g', 0}},
      {0, 7 * sizeof(OLECHAR), {'n', 'o', '_', 'c', 'a', 'c', 'l', 0}},
  };

  static UINT textLength(const OLECHAR *text) {
    UINT length = 0;
    while (text[length] != 0) ++length;
    return length;
  }
  // The shared string when the `bytes` bytes of `text` read the same, else null.
  static BSTR sharedEqualTo(const BYTE *text, UINT bytes) {
    for (const SharedText &shared : SharedTexts)
      if (bytes == shared.bytes && std::memcmp(text, shared.text, bytes) == 0) return const_cast<BSTR>(shared.text);
    return nullptr;
  }

  // A counted text: its count, then the automation string layout (padding,
  // byte length, text, terminator) so that the text is 8-byte aligned.
  struct Counted {
    std::atomic<ULONG> references;
    DWORD unused;
    DWORD padding;
    DWORD bytes;
  };
  static_assert(sizeof(Counted) == 16, "the text follows the byte length");
  // Marks a counted text in value_: strings are at least 2-byte aligned.
  static constexpr uintptr_t CountedBit = 1;

  uintptr_t bits() const { return reinterpret_cast<uintptr_t>(value_); }
  static Counted *block(BSTR tagged) {
    return reinterpret_cast<Counted *>((reinterpret_cast<uintptr_t>(tagged) & ~CountedBit) - sizeof(Counted));
  }
  // A counted copy of `bytes` bytes of text, counted once, marked; null
  // when there is no memory for it.
  static BSTR counted(const BYTE *text, UINT bytes) {
    // The text, one zero byte for an odd length, and the terminator.
    void *memory = std::malloc(sizeof(Counted) + size_t(bytes) + 1 + sizeof(OLECHAR));
    if (memory == nullptr) return nullptr;
    Counted *made = new (memory) Counted{{1}, 0, 0, bytes};
    BYTE *start = reinterpret_cast<BYTE *>(made + 1);
    std::memcpy(start, text, bytes);
    std::memset(start + bytes, 0, 1 + sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(reinterpret_cast<uintptr_t>(start) | CountedBit);
  }

  bool isCounted() const { return (bits() & CountedBit) != 0; }
  bool isShared() const {
    const std::less<const void *> before;
    return !before(value_, std::begin(SharedTexts)) && before(value_, std::end(SharedTexts));
  }
  static void holdCounted(BSTR tagged) { block(tagged)->references.fetch_add(1, std::memory_order_relaxed); }
  static void releaseCounted(BSTR tagged) {
    Counted *held = block(tagged);
    if (held->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      held->~Counted();
      std::free(held);
    }
  }
  // Whether the counted text `tagged` reads as the `length` bytes at `bytes`.
  static bool sameText(BSTR tagged, const BYTE *bytes, UINT length) {
    const Counted *held = block(tagged);
    return held->bytes == length && std::memcmp(held + 1, bytes, length) == 0;
  }
  void release() {
    if (isCounted()) {
      releaseCounted(value_);
    } else if (!isShared()) {
      SysFreeString(value_);
    }
    value_ = nullptr;
  }

  BSTR value_ = nullptr;
};

// The counted texts a read of a blob has stored so far, found by their
// content, so that each text a blob repeats is stored once: every instance's
// counters carry their template's names and help texts. Each one held here
// is held as a field holds it, so it stays as it is (nobody writes over a
// text held twice) until the read ends and lets it go.
//
// It remembers the last text of each of a few dozen slots picked by the
// text's length and ends: the texts of one instance's counters fit in it,
// while a text that appears once (an instance's name) only takes its slot
// until another comes.
class RecentTexts {
 public:
  RecentTexts() = default;
  RecentTexts(const RecentTexts &) = delete;
  RecentTexts &operator=(const RecentTexts &) = delete;
  ~RecentTexts() {
    for (BSTR held : slots_)
      if (held != nullptr) TextField::releaseCounted(held);
  }

  // The counted text that reads as the `length` bytes at `bytes`, held once
  // more for the caller; null when none is remembered.
  BSTR share(const BYTE *bytes, UINT length) const {
    const BSTR held = slots_[slotOf(bytes, length)];
    if (held == nullptr || !TextField::sameText(held, bytes, length)) return nullptr;
    TextField::holdCounted(held);
    return held;
  }
  // Remembers `counted`, a counted text that reads as those bytes, in place
  // of the one its slot held.
  void remember(BSTR counted, const BYTE *bytes, UINT length) {
    BSTR &slot = slots_[slotOf(bytes, length)];
    if (slot == counted) return;
    TextField::holdCounted(counted);
    if (slot != nullptr) TextField::releaseCounted(slot);
    slot = counted;
  }

 private:
  static constexpr unsigned SlotBits = 6;
  static size_t slotOf(const BYTE *bytes, UINT length) {
    std::uint64_t head = 0, tail = 0;
    std::memcpy(&head, bytes, std::min<UINT>(length, sizeof head));
    if (length > sizeof tail) std::memcpy(&tail, bytes + length - sizeof tail, sizeof tail);
    const std::uint64_t mixed = head * 0x9E3779B97F4A7C15ull ^ (tail + length) * 0xC2B2AE3D27D4EB4Full;
    return size_t(mixed >> (64 - SlotBits));
  }

  BSTR slots_[size_t(1) << SlotBits] = {};
};

inline bool TextField::assignStored(DWORD stored, const BYTE *bytes, RecentTexts *recent) {
  if (stored == 0) {
    release();
    return true;
  }
  const UINT length = stored - sizeof(OLECHAR);
  if (BSTR shared = sharedEqualTo(bytes, length)) {
    release();
    value_ = shared;
    return true;
  }
  if (isCounted()) {
    // The text the field holds already, its own or shared, stays.
    if (sameText(value_, bytes, length)) return true;
    // A text of the field's own, held by nobody else, is written over.
    Counted *held = block(value_);
    if (held->bytes == length && held->references.load(std::memory_order_acquire) == 1) {
      std::memcpy(get(), bytes, length);
      return true;
    }
  }
  if (recent != nullptr) {
    if (BSTR same = recent->share(bytes, length)) {
      release();
      value_ = same;
      return true;
    }
  }
  BSTR copy = counted(bytes, length);
  release();
  value_ = copy;
  if (copy == nullptr) return false;
  if (recent != nullptr) recent->remember(copy, bytes, length);
  return true;
}

}  // namespace rv
