#include "CTran.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#include "log/Frames.h"
#include "rvBlobWidths.h"
#include "server/ComPtr.h"

RV_SOURCE_UNIT("References\\Common\\CTran")

namespace rv {

// Values are copied into and out of the blob as the machine stores them; the
// blob is little-endian, so the machine must be too.
static_assert(std::endian::native == std::endian::little, "blobs are little-endian");

namespace {

constexpr VARTYPE VariantArrayTag = VT_ARRAY | VT_VARIANT;
constexpr ULONG LengthBytes = 4;
constexpr ULONG TagBytes = 2;
constexpr ULONG BoundBytes = 4;
// Tag, lower bound, upper bound.
constexpr ULONG ArrayHeaderBytes = TagBytes + 2 * BoundBytes;
// A string's block holds its 4-byte length, its bytes and a 2-byte
// terminator, and must be measurable in 32 bits: the longest string record
// whose string could ever be allocated (L counts the bytes and the
// terminator).
constexpr DWORD LargestStringRecord = 0xFFFFFFFFu - LengthBytes;
// The least a variant record can take: its tag.
constexpr LONGLONG LeastRecordBytes = TagBytes;

// An array of variants is the one kind whose elements are records of their
// own. Its elements are VARIANTs: 16 bytes on 32-bit Windows, 24 on 64-bit.
bool holdsVariants(VARTYPE elementType, UINT elementSize) {
  return elementType == VT_VARIANT && elementSize == sizeof(VARIANT);
}

// A by-reference variant points at a value elsewhere; none is encoded, so it
// takes the path of the refused scalars whatever else its tag says.
bool isArrayRecord(VARTYPE tag) { return (tag & VT_ARRAY) != 0 && (tag & VT_BYREF) == 0; }

// Keeps an array locked for a scope. Leaving the scope on an error path
// unlocks quietly; release() is the normal end and raises a failing unlock.
class HeldLock {
 public:
  HeldLock(SAFEARRAY *array, const Site &site) : array_(array) {
    const HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) {
      array_ = nullptr;
      raiseResult(site, hr);
    }
  }
  HeldLock(const HeldLock &) = delete;
  HeldLock &operator=(const HeldLock &) = delete;
  ~HeldLock() {
    if (array_ != nullptr) SafeArrayUnlock(array_);
  }

  void release(const Site &site) {
    const HRESULT hr = SafeArrayUnlock(std::exchange(array_, nullptr));
    if (FAILED(hr)) raiseResult(site, hr);
  }
  // The lock now belongs to someone else, who unlocks it.
  void handOver() { array_ = nullptr; }

 private:
  SAFEARRAY *array_;
};

[[noreturn]] void raiseRefusedType(const Site &site) { raiseResult(site, E_FAIL); }

// The bounds of a one-dimensional array and the number of its elements. Any
// other array is an invalid internal condition; a failing bound call is
// raised with its result.
struct VectorBounds {
  LONG lower;
  LONG upper;
  LONGLONG count;
};

VectorBounds vectorBounds(SAFEARRAY *array, const Site &site) {
  if (array == nullptr || SafeArrayGetDim(array) != 1) raiseInternalCondition(site);
  VectorBounds bounds{0, 0, 0};
  HRESULT hr = SafeArrayGetLBound(array, 1, &bounds.lower);
  if (FAILED(hr)) raiseResult(site, hr);
  hr = SafeArrayGetUBound(array, 1, &bounds.upper);
  if (FAILED(hr)) raiseResult(site, hr);
  bounds.count = LONGLONG(bounds.upper) - bounds.lower + 1;
  return bounds;
}

}  // namespace

// ---- blob and cursor ------------------------------------------------------

HRESULT CTran::CreateArray(VARIANT *blob, LONG payload) {
  RV_OPERATION("CreateArray");
  return passThrough(RV_HERE, [&]() -> HRESULT {
    if (blob == nullptr) raiseNullPointer(RV_HERE);
    VariantInit(blob);
    V_VT(blob) = VT_ARRAY | VT_UI1;
    V_ARRAY(blob) = nullptr;
    const LONGLONG length = LONGLONG(payload) + HeaderSize;
    if (payload < 0 || length > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, ULONG(length));
    if (array == nullptr) return E_OUTOFMEMORY;
    V_ARRAY(blob) = array;
    HeldLock lock(array, RV_HERE);
    BYTE *bytes = static_cast<BYTE *>(array->pvData);
    std::memset(bytes, 0, size_t(length));
    const LONG token = NewToken;
    std::memcpy(bytes, &token, sizeof token);
    lock.release(RV_HERE);
    return S_OK;
  });
}

CTran::CTran(VARIANT *blob, bool zeroOnClose) : zeroOnClose_(zeroOnClose) {
  RV_OPERATION("CTran");
  passThrough(RV_HERE, [&] {
    if (blob == nullptr) raiseNullPointer(RV_HERE);
    if (V_VT(blob) != (VT_ARRAY | VT_UI1))
      raiseMessage(RV_HERE, "Variant should be initialised with CTran::CreateArray before constructing CTran");
    SAFEARRAY *array = V_ARRAY(blob);
    const LONGLONG length = vectorBounds(array, RV_HERE).count;
    if (length < HeaderSize + 1 || length > std::numeric_limits<LONG>::max()) raiseInternalCondition(RV_HERE);

    HeldLock lock(array, RV_HERE);
    BYTE *bytes = static_cast<BYTE *>(array->pvData);
    if (bytes == nullptr) raiseInternalCondition(RV_HERE);
    LONG token = 0;
    std::memcpy(&token, bytes, sizeof token);
    if (token >= TokenLimit) raiseMessage(RV_HERE, "Invalid CTran Array. 1st byte token validation failed.");

    lock.handOver();
    array_ = array;
    data_ = bytes;
    size_ = LONG(length);
    const LONG at = cursor();
    if (at < HeaderSize || at == size_) setCursor(HeaderSize);
  });
}

CTran::~CTran() {
  // A CTran closed already has nothing left to close, and its close has been
  // recorded once.
  if (array_ == nullptr) return;
  try {
    close();
  } catch (...) {
    // close() has logged the failure on its way out.
  }
}

void CTran::close() {
  RV_OPERATION("~CTran");
  passThrough(RV_HERE, [&] {
    if (array_ == nullptr) return;
    if (zeroOnClose_) setCursor(0);
    SAFEARRAY *array = std::exchange(array_, nullptr);
    data_ = nullptr;
    size_ = 0;
    const HRESULT hr = SafeArrayUnlock(array);
    if (FAILED(hr)) raiseResult(RV_HERE, hr);
  });
}

LONG CTran::cursor() const {
  LONG value = 0;
  if (data_ != nullptr) std::memcpy(&value, data_ + CursorOffset, sizeof value);
  return value;
}

void CTran::setCursor(LONG value) { std::memcpy(data_ + CursorOffset, &value, sizeof value); }

LONGLONG CTran::remaining() const {
  const LONG at = cursor();
  if (at < 0) return 0;
  return std::max<LONGLONG>(LONGLONG(size_) - at, 0);
}

// The frame's line is not the raise's, so that a log tells the two records
// of a failed copy apart.
void CTran::writeFramed(const void *source, ULONG count) {
  RV_OPERATION("Write");
  const Site frame = RV_HERE;
  passThrough(frame, [&] { put(source, count, RV_HERE); });
}

void CTran::readFramed(void *destination, ULONG count) {
  RV_OPERATION("Read");
  const Site frame = RV_HERE;
  passThrough(frame, [&] { take(destination, count, RV_HERE); });
}

// Where `count` bytes go at the cursor, checked as every copy is: the blob
// open, the bytes within it, a buffer to copy with; null for no bytes.
BYTE *CTran::claim(const void *buffer, ULONG count, const Site &site) {
  if (fits(buffer, count)) return data_ + cursorField();
  if (array_ == nullptr) raiseNullPointer(site);
  const LONG at = cursor();
  if (at < 0 || LONGLONG(at) + count > size_) raiseInternalCondition(site);
  if (count == 0) return nullptr;
  if (buffer == nullptr) raiseNullPointer(site);
  return data_ + at;
}

void CTran::put(const void *source, ULONG count, const Site &site) {
  if (BYTE *at = claim(source, count, site)) {
    std::memmove(at, source, count);
    moveCursor(count);
  }
}

void CTran::take(void *destination, ULONG count, const Site &site) {
  if (const BYTE *at = claim(destination, count, site)) {
    std::memmove(destination, at, count);
    moveCursor(count);
  }
}

// ---- strings --------------------------------------------------------------

void CTran::WriteString(BSTR text) {
  RV_OPERATION("WriteString");
  passThrough(RV_HERE, [&] {
    if (array_ == nullptr) raiseNullPointer(RV_HERE);
    const ULONGLONG length = text == nullptr ? 0 : ULONGLONG(SysStringByteLen(text)) + sizeof(OLECHAR);
    // The whole record or nothing.
    if (LONGLONG(LengthBytes + length) > remaining()) raiseInternalCondition(RV_HERE);
    const DWORD stored = DWORD(length);
    put(&stored, LengthBytes, RV_HERE);
    put(text, stored, RV_HERE);
  });
}

namespace {

// Allocates the string of a stored length L (the bytes plus a terminator),
// after the caller made sure that L bytes remain; null when it cannot.
BSTR allocateStored(DWORD length) {
  if (length < sizeof(OLECHAR)) return nullptr;
  return SysAllocStringByteLen(nullptr, length - sizeof(OLECHAR));
}

// The terminator is the string's own, not the blob's: a record whose last two
// bytes are not zero must not leave a string behind that runs on past its end.
void terminate(BSTR text, DWORD length) {
  std::memset(reinterpret_cast<BYTE *>(text) + length - sizeof(OLECHAR), 0, sizeof(OLECHAR));
}

}  // namespace

HRESULT CTran::ReadString(BSTR *text) {
  RV_OPERATION("ReadString");
  return passThrough(RV_HERE, [&]() -> HRESULT {
    if (text == nullptr) raiseNullPointer(RV_HERE);
    SysFreeString(std::exchange(*text, nullptr));
    DWORD length = 0;
    take(&length, LengthBytes, RV_HERE);
    if (length == 0) return S_OK;
    // A length of 1 has no room for the terminator, and one above
    // LargestStringRecord no room in any string's block: no string can be
    // made of either, and the read fails as that allocation would.
    if (length < sizeof(OLECHAR) || length > LargestStringRecord) return E_OUTOFMEMORY;
    // Any other length must lie within the blob before a string is made for
    // it, so that a few bytes of a hostile blob cannot make the host commit
    // gigabytes first.
    if (length > remaining()) raiseInternalCondition(RV_HERE);
    Bstr string = Bstr::attach(allocateStored(length));
    if (string.get() == nullptr) return E_OUTOFMEMORY;
    take(string.get(), length, RV_HERE);
    terminate(string.get(), length);
    *text = string.detach();
    return S_OK;
  });
}

ULONG CTran::StringSize(BSTR text) {
  return text == nullptr ? LengthBytes : LengthBytes + SysStringByteLen(text) + ULONG(sizeof(OLECHAR));
}

// ---- variants -------------------------------------------------------------

void CTran::WriteVariant(const VARIANT *value) { writeVariant(value, 0); }

void CTran::writeVariant(const VARIANT *value, int nesting) {
  RV_OPERATION("WriteVariant");
  passThrough(RV_HERE, [&] {
    if (array_ == nullptr) raiseNullPointer(RV_HERE);
    if (value == nullptr) raiseNullPointer(RV_HERE);
    const VARTYPE tag = V_VT(value);

    if (!isArrayRecord(tag)) {
      put(&tag, TagBytes, RV_HERE);
      if (tag == VT_EMPTY) return;
      if (tag == VT_BSTR) {
        // The text up to its first zero code unit, as the platform copies it.
        Bstr copy(V_BSTR(value));
        WriteString(copy.get());
        return;
      }
      const int width = scalarPayloadWidth(tag);
      if (width < 0) raiseRefusedType(RV_HERE);
      put(&V_UI1(value), ULONG(width), RV_HERE);
      return;
    }

    if (nesting >= MaxArrayNesting) raiseInternalCondition(RV_HERE);
    SAFEARRAY *array = V_ARRAY(value);
    const auto [lower, upper, count] = vectorBounds(array, RV_HERE);
    const UINT elementSize = SafeArrayGetElemsize(array);
    if (count < 0) raiseInternalCondition(RV_HERE);
    const VARTYPE elementType = VARTYPE(tag & ~VT_ARRAY);

    HeldLock lock(array, RV_HERE);
    if (holdsVariants(elementType, elementSize)) {
      put(&VariantArrayTag, TagBytes, RV_HERE);
      put(&lower, BoundBytes, RV_HERE);
      put(&upper, BoundBytes, RV_HERE);
      const VARIANT *elements = static_cast<const VARIANT *>(array->pvData);
      for (LONGLONG i = 0; i < count; ++i) writeVariant(&elements[i], nesting + 1);
    } else if (arrayElementWidth(elementType) != 0 && arrayElementWidth(elementType) == elementSize) {
      // An array whose elements are not as wide as its tag says would be
      // read back with another length: it is refused like any other.
      put(&tag, TagBytes, RV_HERE);
      put(&lower, BoundBytes, RV_HERE);
      put(&upper, BoundBytes, RV_HERE);
      const ULONGLONG bytes = ULONGLONG(count) * elementSize;
      if (bytes > std::numeric_limits<ULONG>::max()) raiseInternalCondition(RV_HERE);
      put(array->pvData, ULONG(bytes), RV_HERE);
    } else {
      raiseRefusedType(RV_HERE);
    }
    lock.release(RV_HERE);
  });
}

HRESULT CTran::ReadVariant(VARIANT *value) { return readVariant(value, 0, 0); }

// `reserved` counts the bytes that records begun further up still need after
// this one: at least the tag of every element of the arrays of variants being
// read that has not been reached yet. An array read here may only claim what
// is left after them, so that however its arrays nest, a blob never makes the
// reader allocate more than a small multiple of its own size.
HRESULT CTran::readVariant(VARIANT *value, int nesting, LONGLONG reserved) {
  RV_OPERATION("ReadVariant");
  return passThrough(RV_HERE, [&]() -> HRESULT {
    if (array_ == nullptr) raiseNullPointer(RV_HERE);
    if (value == nullptr) raiseNullPointer(RV_HERE);
    const HRESULT cleared = VariantClear(value);
    if (FAILED(cleared)) raiseResult(RV_HERE, cleared);
    // The type is set only once the value it describes is complete, so a
    // failed read leaves a variant that is safe to clear.
    VARTYPE tag = VT_EMPTY;
    take(&tag, TagBytes, RV_HERE);
    if (isArrayRecord(tag)) return readArray(value, tag, nesting, reserved);

    if (tag == VT_EMPTY) return S_OK;
    if (tag == VT_BSTR) {
      DWORD length = 0;
      take(&length, LengthBytes, RV_HERE);
      Bstr string;
      if (length != 0) {
        if (length > remaining()) raiseInternalCondition(RV_HERE);
        string = Bstr::attach(allocateStored(length));
        if (string.get() == nullptr) raiseInternalCondition(RV_HERE);
        take(string.get(), length, RV_HERE);
        terminate(string.get(), length);
      }
      V_BSTR(value) = string.detach();
      V_VT(value) = VT_BSTR;
      return S_OK;
    }
    const int width = scalarPayloadWidth(tag);
    if (width < 0) raiseRefusedType(RV_HERE);
    take(&V_UI1(value), ULONG(width), RV_HERE);
    V_VT(value) = tag;
    return S_OK;
  });
}

HRESULT CTran::readArray(VARIANT *value, VARTYPE tag, int nesting, LONGLONG reserved) {
  RV_OPERATION("ReadVariant");
  if (nesting >= MaxArrayNesting) raiseInternalCondition(RV_HERE);
  LONG lower = 0, upper = 0;
  take(&lower, BoundBytes, RV_HERE);
  take(&upper, BoundBytes, RV_HERE);
  const VARTYPE elementType = VARTYPE(tag & ~VT_ARRAY);
  // Computed wide: the bounds may be anything, up to a count of 2^32.
  const LONGLONG count = LONGLONG(upper) - lower + 1;
  if (count < 0) return E_OUTOFMEMORY;

  // Nothing is allocated for elements that the bytes left cannot fill. A
  // reader that created the array first would let a 20-byte blob claiming
  // 2^31 variants make its host commit and zero tens of gigabytes before the
  // first element failed; so a count the rest of the blob cannot hold is
  // refused as a record cut short, before anything is created. An array
  // that cannot be created whatever the blob holds (a negative count, an
  // element type the platform has no arrays of) still answers
  // E_OUTOFMEMORY, as a failed creation does.
  const LONGLONG unclaimed = std::max<LONGLONG>(remaining() - reserved, 0);
  const ULONG width = arrayElementWidth(elementType);
  if (elementType == VT_VARIANT) {
    if (count * LeastRecordBytes > unclaimed) raiseInternalCondition(RV_HERE);
  } else if (width != 0) {
    if (count * width > unclaimed) raiseInternalCondition(RV_HERE);
  } else {
    // An element type without an encoding: the array would be created and
    // then refused. Whether the platform can create that kind of array at
    // all decides between the two results, asked without any elements.
    SAFEARRAY *probe = SafeArrayCreateVector(elementType, 0, 0);
    if (probe == nullptr) return E_OUTOFMEMORY;
    SafeArrayDestroy(probe);
    raiseRefusedType(RV_HERE);
  }

  SAFEARRAY *array = SafeArrayCreateVector(elementType, lower, ULONG(count));
  if (array == nullptr) return E_OUTOFMEMORY;
  // The variant owns the array from here, also when the elements fail.
  V_ARRAY(value) = array;
  V_VT(value) = tag;

  HeldLock lock(array, RV_HERE);
  const UINT elementSize = SafeArrayGetElemsize(array);
  if (holdsVariants(elementType, elementSize)) {
    VARIANT *elements = static_cast<VARIANT *>(array->pvData);
    for (LONGLONG i = 0; i < count; ++i) {
      const LONGLONG stillClaimed = reserved + (count - 1 - i) * LeastRecordBytes;
      const HRESULT hr = readVariant(&elements[i], nesting + 1, stillClaimed);
      if (hr != S_OK) {
        lock.release(RV_HERE);
        return hr;
      }
    }
  } else if (width != 0 && elementSize == width) {
    take(array->pvData, ULONG(count * elementSize), RV_HERE);
  } else {
    raiseRefusedType(RV_HERE);
  }
  lock.release(RV_HERE);
  return S_OK;
}

ULONG CTran::VariantSize(const VARIANT *value) {
  const ULONGLONG size = variantSize(value, 0);
  return size > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max() : ULONG(size);
}

// Sizes are counted wide and cut to 32 bits once, at the top.
ULONGLONG CTran::variantSize(const VARIANT *value, int nesting) {
  RV_OPERATION("VariantSize");
  return passThrough(RV_HERE, [&]() -> ULONGLONG {
    if (value == nullptr) return TagBytes;
    const VARTYPE tag = V_VT(value);
    if (!isArrayRecord(tag)) {
      if (tag == VT_BSTR) {
        Bstr copy(V_BSTR(value));
        return TagBytes + StringSize(copy.get());
      }
      return TagBytes + std::max(scalarPayloadWidth(tag), 0);
    }
    // Deeper than the writer goes: it refuses such a record.
    if (nesting >= MaxArrayNesting) return TagBytes;
    const VARTYPE elementType = VARTYPE(tag & ~VT_ARRAY);
    if ((elementType & 0x1F) == 0) return ArrayHeaderBytes;

    SAFEARRAY *array = V_ARRAY(value);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const LONGLONG count = std::max<LONGLONG>(LONGLONG(upper) - lower + 1, 0);
    const UINT elementSize = SafeArrayGetElemsize(array);
    if (holdsVariants(elementType, elementSize)) {
      ULONGLONG size = ArrayHeaderBytes;
      const VARIANT *elements = static_cast<const VARIANT *>(array->pvData);
      if (elements == nullptr) return size;
      for (LONGLONG i = 0; i < count; ++i) size += variantSize(&elements[i], nesting + 1);
      return size;
    }
    return ArrayHeaderBytes + ULONGLONG(count) * elementSize;
  });
}

// ---- the plain writer -----------------------------------------------------

namespace {

// The code units a string value's record carries: those up to its first
// zero, as the copy CTran writes from would hold them.
ULONG unitsToZero(BSTR text) {
  const ULONG length = SysStringLen(text);
  ULONG units = 0;
  while (units < length && text[units] != 0) ++units;
  return units;
}

// A value PlainWriter encodes itself: a scalar, or a string of whole code
// units (the copy of an odd byte length could read past its last unit).
bool isPlain(const VARIANT *value) {
  const VARTYPE tag = V_VT(value);
  if (tag == VT_BSTR) return V_BSTR(value) == nullptr || SysStringByteLen(V_BSTR(value)) % sizeof(OLECHAR) == 0;
  return scalarPayloadWidth(tag) >= 0;
}

}  // namespace

bool PlainSizer::writeVariant(const VARIANT *value) {
  if (value == nullptr || !isPlain(value)) return false;
  if (V_VT(value) != VT_BSTR) {
    total_ += TagBytes + ULONG(scalarPayloadWidth(V_VT(value)));
    return true;
  }
  const BSTR text = V_BSTR(value);
  total_ += TagBytes + LengthBytes + (text == nullptr ? 0 : (ULONGLONG(unitsToZero(text)) + 1) * sizeof(OLECHAR));
  return true;
}

bool PlainWriter::writeString(BSTR text) {
  const DWORD stored = text == nullptr ? 0 : byteLength(text) + DWORD(sizeof(OLECHAR));
  if (LengthBytes + ULONGLONG(stored) > ULONGLONG(end_ - at_)) return false;
  std::memcpy(at_, &stored, LengthBytes);
  if (stored != 0) std::memcpy(at_ + LengthBytes, text, stored);
  at_ += LengthBytes + stored;
  return true;
}

bool PlainWriter::writeVariant(const VARIANT *value) {
  if (value == nullptr || !isPlain(value)) return false;
  const VARTYPE tag = V_VT(value);
  if (!write(&tag, TagBytes)) return false;
  if (tag != VT_BSTR) return write(&V_UI1(value), ULONG(scalarPayloadWidth(tag)));
  const BSTR text = V_BSTR(value);
  if (text == nullptr) {
    const DWORD none = 0;
    return write(&none, LengthBytes);
  }
  const ULONG units = unitsToZero(text);
  const DWORD stored = (units + 1) * DWORD(sizeof(OLECHAR));
  const OLECHAR terminator = 0;
  return write(&stored, LengthBytes) && write(text, units * sizeof(OLECHAR)) && write(&terminator, sizeof terminator);
}

// ---- the plain reader -----------------------------------------------------

bool PlainReader::stringRecord(DWORD &length, const BYTE *&bytes) {
  if (!read(&length, LengthBytes)) return false;
  // A length of 1 has no room for the terminator: CTran reports it.
  if (length == 1 || length > remaining()) return false;
  bytes = at_;
  at_ += length;
  return true;
}

bool PlainReader::readVariant(VARIANT *value) {
  if (FAILED(VariantClear(value))) return false;
  VARTYPE tag = VT_EMPTY;
  if (!read(&tag, TagBytes)) return false;
  if (isArrayRecord(tag)) return readArray(value, tag);
  if (tag == VT_BSTR) {
    DWORD length = 0;
    const BYTE *bytes = nullptr;
    if (!read(&length, LengthBytes) || length > remaining()) return false;
    BSTR text = nullptr;
    if (length != 0) {
      bytes = at_;
      at_ += length;
      // CTran reports a string value it cannot allocate as a condition of
      // its own, not as memory: that is left to it.
      if ((text = allocateStored(length)) == nullptr) return false;
      std::memcpy(text, bytes, length);
      terminate(text, length);
    }
    V_BSTR(value) = text;
    V_VT(value) = VT_BSTR;
    return true;
  }
  const int width = scalarPayloadWidth(tag);
  if (width < 0 || !read(&V_UI1(value), ULONG(width))) return false;
  V_VT(value) = tag;
  return true;
}

// An array of fixed-width numbers; arrays of variants are left to CTran,
// and so is a count it would refuse.
bool PlainReader::readArray(VARIANT *value, VARTYPE tag) {
  const VARTYPE elementType = VARTYPE(tag & ~VT_ARRAY);
  const ULONG width = arrayElementWidth(elementType);
  LONG bounds[2];
  if (width == 0 || !read(bounds, sizeof bounds)) return false;
  const LONGLONG count = LONGLONG(bounds[1]) - bounds[0] + 1;
  if (count < 0 || ULONGLONG(count) * width > remaining()) return false;
  SAFEARRAY *array = SafeArrayCreateVector(elementType, bounds[0], ULONG(count));
  if (array == nullptr) return stopForMemory();
  V_ARRAY(value) = array;
  V_VT(value) = tag;
  if (SafeArrayGetElemsize(array) != width || FAILED(SafeArrayLock(array))) return false;
  std::memcpy(array->pvData, at_, size_t(count) * width);
  at_ += size_t(count) * width;
  return SUCCEEDED(SafeArrayUnlock(array));
}

}  // namespace rv
