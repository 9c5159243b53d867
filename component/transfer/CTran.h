// The cursor over a blob: a one-dimensional byte array with an 8-byte header
// (token, cursor) followed by the values written back to back, little-endian.
//
// The cursor lives in the blob (bytes 4 to 7), not in the CTran, so that a
// child opening its own CTran over the same array continues where the
// parent stopped, and the parent continues after the child's bytes.
//
// Every operation raises an Err on failure; the only results returned are
// E_OUTOFMEMORY from CreateArray, ReadString and ReadVariant.
//
// A blob may come from another process: every length, count and bound read
// from it is checked against the bytes that remain before anything is
// allocated for it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "log/Frames.h"

namespace rv {

class CTran {
 public:
  // The first payload byte; bytes 0 to 3 hold the token, 4 to 7 the cursor.
  static constexpr LONG HeaderSize = 8;
  // The token a new blob carries; a blob whose token is this limit or more is
  // not one of ours.
  static constexpr LONG NewToken = 4;
  static constexpr LONG TokenLimit = 1000;
  // At most this many arrays, one inside the other, in one variant record.
  // A blob of nested arrays of variants would otherwise make the reader
  // recurse once per 10 bytes of blob until the stack runs out; an array
  // deeper than this is refused as an invalid internal condition. The writer
  // and the size pass keep to the same limit, so whatever is written can be
  // read back, and a variant whose array holds itself cannot make them
  // recurse for ever.
  static constexpr int MaxArrayNesting = 64;

  // Fills `blob` with a new byte array of payload + 8 zero bytes, token 4,
  // lower bound 0. What the variant held is not released. Returns
  // E_OUTOFMEMORY when the array cannot be created (also for a negative
  // payload); the variant then carries the byte array type with no array.
  [[nodiscard]] static HRESULT CreateArray(VARIANT *blob, LONG payload);

  // Opens the blob: checks that it is a one-dimensional byte array of at
  // least 9 bytes with a token below 1000, locks it (locks nest, so a parent
  // and its children may hold the same blob open at once) and places the
  // cursor: a cursor below 8 or equal to the blob's length starts at 8.
  // With `zeroOnClose` the cursor field is reset to 0 when the CTran closes.
  explicit CTran(VARIANT *blob, bool zeroOnClose = false);
  CTran(const CTran &) = delete;
  CTran &operator=(const CTran &) = delete;

  // Closes quietly: a CTran that goes out of scope still holding its array,
  // because an error is on its way up, unlocks it here. A failing unlock is
  // logged and goes no further, since nothing may be thrown out of a
  // destructor while another error unwinds the stack. Callers that finish a
  // transfer normally call close() instead, which raises.
  ~CTran();

  // Unlocks the array (after writing 0 into the cursor field when asked to)
  // and forgets it. A failing unlock is raised, as operation "~CTran". Closing
  // a closed CTran does nothing.
  void close();

  bool isOpen() const { return array_ != nullptr; }
  // Elements of the open array, the header included.
  LONG size() const { return size_; }
  // The cursor field of the open blob.
  LONG cursor() const;

  // A copy that fits, with no entry to trace, goes straight through; every
  // other one takes the framed path, which traces, checks and raises.
  void Write(const void *source, ULONG count) {
    if (!fits(source, count)) return writeFramed(source, count);
    std::memmove(data_ + cursorField(), source, count);
    moveCursor(count);
  }
  void Read(void *destination, ULONG count) {
    if (!fits(destination, count)) return readFramed(destination, count);
    std::memmove(destination, data_ + cursorField(), count);
    moveCursor(count);
  }

  // A string record: its byte length L (0 for a null string, else the
  // string's bytes plus 2) as 4 bytes, then L bytes: the code units and the
  // terminator. A record that does not fit whole is not written at all.
  void WriteString(BSTR text);
  // Releases the caller's string and reads one string record into it; a
  // record of length 0 leaves it null. Returns E_OUTOFMEMORY when the string
  // cannot be allocated (a stored length of 1 or above 0xFFFFFFFB never can).
  [[nodiscard]] HRESULT ReadString(BSTR *text);
  // The bytes WriteString takes for `text`.
  static ULONG StringSize(BSTR text);

  // A variant record: the 16-bit type tag, then the value. Refused types are
  // raised as E_FAIL after their tag was written.
  void WriteVariant(const VARIANT *value);
  // Clears `value` and reads one variant record into it. Returns
  // E_OUTOFMEMORY when an array in the record cannot be created. After a
  // failure the variant is safe to clear and to overwrite.
  [[nodiscard]] HRESULT ReadVariant(VARIANT *value);
  // The bytes WriteVariant writes for `value`; 2 for a type it refuses.
  // Fails only when the copy of a string value cannot be allocated
  // (E_OUTOFMEMORY). A size beyond 32 bits is given as 0xFFFFFFFF.
  static ULONG VariantSize(const VARIANT *value);

 private:
  static constexpr LONG CursorOffset = 4;

  LONG cursorField() const {
    LONG value;
    std::memcpy(&value, data_ + CursorOffset, sizeof value);
    return value;
  }
  void moveCursor(ULONG count) {
    const LONG value = cursorField() + LONG(count);
    std::memcpy(data_ + CursorOffset, &value, sizeof value);
  }
  bool fits(const void *buffer, ULONG count) const {
    if (!entryTraceQuiet.load(std::memory_order_acquire) || data_ == nullptr || buffer == nullptr || count == 0)
      return false;
    const LONG at = cursorField();
    return at >= 0 && LONGLONG(at) + count <= size_;
  }
  void writeFramed(const void *source, ULONG count);
  void readFramed(void *destination, ULONG count);
  // The bytes of a record that one operation reads or writes in several
  // pieces (a string, a variant): checked as Write and Read check them, and
  // failing as the operation that asked, since to its caller it is one
  // operation.
  void put(const void *source, ULONG count, const Site &site);
  BYTE *claim(const void *buffer, ULONG count, const Site &site);
  void take(void *destination, ULONG count, const Site &site);

  void writeVariant(const VARIANT *value, int nesting);
  HRESULT readVariant(VARIANT *value, int nesting, LONGLONG reserved);
  HRESULT readArray(VARIANT *value, VARTYPE tag, int nesting, LONGLONG reserved);
  static ULONGLONG variantSize(const VARIANT *value, int nesting);

  // Bytes from the cursor to the end of the blob (negative when a cursor
  // field was moved past the end).
  LONGLONG remaining() const;
  void setCursor(LONG value);

  SAFEARRAY *array_ = nullptr;
  BYTE *data_ = nullptr;
  LONG size_ = 0;
  bool zeroOnClose_ = false;
};

// Writes records into memory already sized for them, for the plain walk of
// the tree: the walk that runs without frames, raises nothing and logs
// nothing. Whatever it does not encode itself (arrays, by-reference and
// refused values, a string value of an odd byte length, a record that does
// not fit) it answers with false, and the caller leaves the whole blob to
// CTran, whose framed path reports what it finds. The records are byte for
// byte CTran's.
class PlainWriter {
 public:
  PlainWriter(BYTE *at, BYTE *end) : at_(at), end_(end) {}

  [[nodiscard]] bool write(const void *source, size_t count) {
    if (count > size_t(end_ - at_)) return false;
    std::memcpy(at_, source, count);
    at_ += count;
    return true;
  }
  [[nodiscard]] bool writeString(BSTR text);
  [[nodiscard]] bool writeVariant(const VARIANT *value);

  BYTE *at() const { return at_; }

  // What SysStringByteLen answers for a string that is not null, read from
  // the length prefix of the automation string layout in place: a tree walk
  // asks it of every text.
  static UINT byteLength(BSTR text) {
    UINT bytes;
    std::memcpy(&bytes, reinterpret_cast<const BYTE *>(text) - sizeof bytes, sizeof bytes);
    return bytes;
  }

  // A new blob of `payload` bytes as CTran::CreateArray makes it, written
  // whole by `fill(PlainWriter &)`, its cursor field at its end as the framed
  // transfer leaves it: S_OK. E_OUTOFMEMORY when the array cannot be made;
  // S_FALSE, with the variant untouched, when `fill` does not write exactly
  // `payload` bytes.
  template <class Fill> static HRESULT makeBlob(VARIANT *blob, LONG payload, Fill &&fill) {
    const LONG length = payload + CTran::HeaderSize;
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, ULONG(length));
    if (array == nullptr) return E_OUTOFMEMORY;
    bool whole = SUCCEEDED(SafeArrayLock(array));
    if (whole) {
      BYTE *bytes = static_cast<BYTE *>(array->pvData);
      PlainWriter writer(bytes + CTran::HeaderSize, bytes + length);
      whole = bytes != nullptr && fill(writer) && writer.at() == bytes + length;
      if (whole) {
        const LONG header[2] = {CTran::NewToken, length};
        std::memcpy(bytes, header, sizeof header);
      }
      whole = SUCCEEDED(SafeArrayUnlock(array)) && whole;
    }
    if (!whole) {
      SafeArrayDestroy(array);
      return S_FALSE;
    }
    VariantInit(blob);
    V_VT(blob) = VT_ARRAY | VT_UI1;
    V_ARRAY(blob) = array;
    return S_OK;
  }

 private:
  BYTE *at_;
  BYTE *end_;
};

// Counts the bytes PlainWriter writes for the same calls, and refuses the
// same values, so that one walk of the tree gives the size and the records.
class PlainSizer {
 public:
  bool write(const void *, size_t count) {
    total_ += count;
    return true;
  }
  bool writeString(BSTR text) {
    total_ += text == nullptr ? 4 : 4 + ULONGLONG(PlainWriter::byteLength(text)) + sizeof(OLECHAR);
    return true;
  }
  [[nodiscard]] bool writeVariant(const VARIANT *value);

  ULONGLONG total() const { return total_; }

 private:
  ULONGLONG total_ = 0;
};

class RecentTexts;

// Reads records for the plain walk of the tree, the counterpart of
// PlainWriter: it raises nothing and logs nothing. It stops (false) wherever
// CTran's framed read would stop, and also at whatever it does not decode
// itself (arrays of variants, refused values); outOfMemory() then tells
// whether the stop was an allocation that failed. Every other stop leaves
// the whole read to CTran, which reports what it finds.
class PlainReader {
 public:
  PlainReader(const BYTE *at, const BYTE *end) : at_(at), end_(end) {}

  [[nodiscard]] bool read(void *destination, size_t count) {
    if (count > size_t(end_ - at_)) return false;
    std::memcpy(destination, at_, count);
    at_ += count;
    return true;
  }
  // A string record in place: its stored length (0 for a null string, else
  // at least 2: the bytes and a terminator) and where those bytes lie.
  [[nodiscard]] bool stringRecord(DWORD &length, const BYTE *&bytes);
  // Clears `value` and reads a variant record into it: a scalar, a string
  // or an array of fixed-width numbers.
  [[nodiscard]] bool readVariant(VARIANT *value);

  // Whether a record can begin here: a child's record never starts at the
  // blob's end, where the framed read would start over after the header.
  bool more() const { return at_ < end_; }
  size_t remaining() const { return size_t(end_ - at_); }
  const BYTE *at() const { return at_; }

  // The stop was an allocation that failed.
  bool stopForMemory() {
    outOfMemory_ = true;
    return false;
  }
  bool outOfMemory() const { return outOfMemory_; }

  // The texts stored so far by the read, which later fields share (see
  // TextField::assignStored); null when it shares none.
  RecentTexts *recentTexts() const { return recent_; }
  void shareTextsThrough(RecentTexts *recent) { recent_ = recent; }

  // Opens `blob` as CTran does (a one-dimensional byte array of at least 9
  // bytes with a token below 1000; a cursor below 8 or at the end starts
  // after the header), has `fill(PlainReader &)` read from the cursor and,
  // when it read, moves the blob's cursor field past what it read: S_OK.
  // E_OUTOFMEMORY when an allocation stopped it; S_FALSE for every other
  // stop, with the blob as it was.
  template <class Fill> static HRESULT readBlob(VARIANT &blob, Fill &&fill) {
    if (V_VT(&blob) != (VT_ARRAY | VT_UI1)) return S_FALSE;
    SAFEARRAY *array = V_ARRAY(&blob);
    LONG lower = 0, upper = -1;
    if (array == nullptr || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
      return S_FALSE;
    const LONGLONG length = LONGLONG(upper) - lower + 1;
    if (length < CTran::HeaderSize + 1 || length > MAXLONG || FAILED(SafeArrayLock(array))) return S_FALSE;
    HRESULT hr = S_FALSE;
    if (BYTE *bytes = static_cast<BYTE *>(array->pvData)) {
      LONG header[2];
      std::memcpy(header, bytes, sizeof header);
      const LONG start = header[1] < CTran::HeaderSize || header[1] == length ? CTran::HeaderSize : header[1];
      if (header[0] < CTran::TokenLimit && start <= length) {
        PlainReader reader(bytes + start, bytes + length);
        if (fill(reader)) {
          header[1] = LONG(reader.at() - bytes);
          std::memcpy(bytes + sizeof header[0], &header[1], sizeof header[1]);
          hr = S_OK;
        } else if (reader.outOfMemory()) {
          hr = E_OUTOFMEMORY;
        }
      }
    }
    // A lock this reader took is given back however the read ended.
    SafeArrayUnlock(array);
    return hr;
  }

 private:
  bool readArray(VARIANT *value, VARTYPE tag);

  const BYTE *at_;
  const BYTE *end_;
  bool outOfMemory_ = false;
  RecentTexts *recent_ = nullptr;
};

}  // namespace rv
