// The transfer buffer and the variant encoding: the bytes of every record,
// the cursor kept in the blob, the checks that refuse a damaged or hostile
// blob, and the locks a transfer holds.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "doubles/DoublesHarness.h"
#include "log/Err.h"
#include "server/ComPtr.h"
#include "transfer/CTran.h"

using namespace rv;

namespace {

using Bytes = std::vector<BYTE>;

const std::string InternalCondition = "Invalid internal condition";
const std::string RefusedPrefix = "Failed HRESULT [0x80004005]: ";

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes le32(LONG value) { return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}; }

// The tag and the bounds that begin an array record.
Bytes arrayHeader(VARTYPE tag, LONG lower, LONG upper) {
  return Bytes{BYTE(tag), BYTE(tag >> 8)} + le32(lower) + le32(upper);
}

// `depth` nested arrays of variants, one element each, around a VT_I4.
Bytes nestedRecord(int depth) {
  Bytes record;
  for (int i = 0; i < depth; ++i) record = record + arrayHeader(VT_ARRAY | VT_VARIANT, 0, 0);
  return record + Bytes{0x03, 0x00, 0x2A, 0, 0, 0};
}

// A string's bytes and its terminator; "<null>" for a null string.
std::string raw(BSTR text) {
  return text ? std::string(reinterpret_cast<const char *>(text), SysStringByteLen(text) + 2) : "<null>";
}

// Puts a new one-dimensional array of `type` into `v`; gives its elements.
template <typename T = VARIANT> T *makeArray(VARIANT *v, VARTYPE type, LONG lower, ULONG count) {
  V_VT(v) = VT_ARRAY | type;
  V_ARRAY(v) = SafeArrayCreateVector(type, lower, count);
  return static_cast<T *>(V_ARRAY(v)->pvData);
}

void makeBytes(VARIANT *v, LONG lower, const Bytes &bytes) {
  std::memcpy(makeArray<BYTE>(v, VT_UI1, lower, ULONG(bytes.size())), bytes.data(), bytes.size());
}

// A blob as a caller holds it: the header (token, cursor), then `payload`.
class Blob {
 public:
  explicit Blob(const Bytes &payload, LONG cursor = 0, LONG token = 4) {
    makeBytes(v_.get(), 0, le32(token) + le32(cursor) + payload);
  }
  VARIANT *get() { return v_.get(); }
  SAFEARRAY *array() { return V_ARRAY(v_.get()); }
  ULONG locks() { return array()->cLocks; }
  Bytes payload() {
    const BYTE *data = static_cast<const BYTE *>(array()->pvData);
    return Bytes(data + 8, data + array()->rgsabound[0].cElements);
  }
  LONG cursorField() { return static_cast<const LONG *>(array()->pvData)[1]; }

 private:
  Variant v_;
};

// A blob of `payload` open for a transfer.
struct Open {
  explicit Open(const Bytes &payload, LONG cursor = 0) : blob(payload, cursor), tran(blob.get()) {}
  Blob blob;
  CTran tran;
};

// The error an operation raised; a failure of the test when none was.
Err raised(const std::function<void()> &operation) {
  try {
    operation();
  } catch (const Err &e) {
    return e;
  }
  ADD_FAILURE() << "nothing was raised";
  return Err();
}

void expectRefusal(const Err &e) {
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ(0u, e.description.rfind(RefusedPrefix, 0)) << e.description;
  EXPECT_GT(e.description.size(), RefusedPrefix.size());
}

// The bytes WriteVariant writes for `value`; also checks that they are
// exactly the count VariantSize announced.
Bytes recordOf(const VARIANT *value) {
  const ULONG size = CTran::VariantSize(value);
  Open open(Bytes(size + 16));
  open.tran.WriteVariant(value);
  EXPECT_EQ(LONG(8 + size), open.tran.cursor());
  const Bytes payload = open.blob.payload();
  return Bytes(payload.begin(), payload.begin() + size);
}

// Failures are logged by every frame they cross; the doubles of the outside
// components take the records, so that no test writes the fallback log file.
class Transfer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    doubles = new DoublesHarness(DOUBLES_MODULE);
  }
  static void TearDownTestSuite() {
    delete doubles;
    CoUninitialize();
  }
  void SetUp() override {
    ASSERT_TRUE(doubles->loaded());
    clearLog();
  }
  static void clearLog() {
    DoublesSettings settings = {};
    settings.errorLogAvailable = settings.traceAvailable = TRUE;
    doubles->reset(settings);
  }
  // The operation that logged a failure first: the one that found it.
  static std::string firstLogged() {
    const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
    return calls.empty() ? "<none>" : DoublesHarness::text(calls[0].procedure);
  }

  static DoublesHarness *doubles;
};

DoublesHarness *Transfer::doubles = nullptr;

TEST_F(Transfer, CreateArrayAndWhatOpens) {
  Variant small, refused, empty, number, square;
  ASSERT_EQ(S_OK, CTran::CreateArray(small.get(), 1));
  ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(small.get()));
  const SAFEARRAY *array = V_ARRAY(small.get());
  ASSERT_EQ(9u, array->rgsabound[0].cElements);
  const BYTE *data = static_cast<const BYTE *>(array->pvData);
  EXPECT_EQ((Bytes{4, 0, 0, 0, 0, 0, 0, 0, 0}), Bytes(data, data + 9));
  EXPECT_EQ(E_OUTOFMEMORY, CTran::CreateArray(refused.get(), -1));
  EXPECT_EQ(nullptr, V_ARRAY(refused.get()));

  // A blob holds at least one byte after its header.
  ASSERT_EQ(S_OK, CTran::CreateArray(empty.get(), 0));
  const Err e = raised([&] { CTran tran(empty.get()); });
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ(InternalCondition, e.description);
  EXPECT_EQ("CTran", e.procedure);
  V_VT(number.get()) = VT_I4;
  EXPECT_EQ("Variant should be initialised with CTran::CreateArray before constructing CTran",
            raised([&] { CTran tran(number.get()); }).description);

  // Two dimensions, each long enough: neither a blob nor a value that can be written.
  SAFEARRAYBOUND bounds[2] = {{16, 0}, {16, 0}};
  V_VT(square.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(square.get()) = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(InternalCondition, raised([&] { CTran tran(square.get()); }).description);
  Open room(Bytes(80));
  EXPECT_EQ(InternalCondition, raised([&] { room.tran.WriteVariant(square.get()); }).description);
  EXPECT_EQ(8, room.tran.cursor());
}

TEST_F(Transfer, CursorPlacementTokensAndTheLastByte) {
  // In a blob of 40 bytes: below 8 or at 40 starts at 8, anything else stays.
  const std::pair<LONG, LONG> cursors[] = {{0, 8}, {7, 8}, {-5, 8}, {8, 8}, {12, 12}, {40, 8}, {41, 41}};
  for (const auto &c : cursors) EXPECT_EQ(c.second, Open(Bytes(32), c.first).tran.cursor()) << c.first;
  // Past the end not even nothing can be written.
  Open beyond(Bytes(32), 41);
  EXPECT_EQ(InternalCondition, raised([&] { beyond.tran.Write(nullptr, 0); }).description);

  for (LONG token : {999, -1}) {
    Blob blob(Bytes(4), 0, token);
    EXPECT_NO_THROW(CTran{blob.get()}) << token;
  }
  Blob token1000(Bytes(4), 0, 1000);
  EXPECT_EQ("Invalid CTran Array. 1st byte token validation failed.",
            raised([&] { CTran tran(token1000.get()); }).description);
  EXPECT_EQ(0u, token1000.locks());
  EXPECT_EQ(0, token1000.cursorField());

  // Writes end exactly at the last byte; one that would not fit writes nothing.
  Open open(Bytes(12), 16);
  const BYTE five[5] = {1, 2, 3, 4, 5};
  const Err tooLong = raised([&] { open.tran.Write(five, 5); });
  EXPECT_EQ(InternalCondition, tooLong.description);
  EXPECT_EQ("Write", tooLong.procedure);
  EXPECT_EQ(16, open.tran.cursor());
  EXPECT_EQ(Bytes(12), open.blob.payload());
  open.tran.Write(five, 4);
  EXPECT_EQ(20, open.tran.cursor());
  EXPECT_EQ(Bytes(8) + le32(0x04030201), open.blob.payload());
}

TEST_F(Transfer, LocksNestAndCloseOnEveryPath) {
  Blob blob(Bytes(16));
  const LONG ids[] = {7, 9};
  {
    CTran parent(blob.get());
    parent.Write(&ids[0], 4);
    {
      // The child continues where the parent stopped, and the parent after it.
      CTran child(blob.get());
      EXPECT_EQ(2u, blob.locks());
      EXPECT_EQ(12, child.cursor());
      child.Write(&ids[1], 4);
      child.close();
      EXPECT_EQ(1u, blob.locks());
      EXPECT_NO_THROW(child.close());
      EXPECT_EQ("NULL pointer: QI failed? function failed? out of memory? out of resources?",
                raised([&] { child.Write(&ids[1], 4); }).description);
    }
    EXPECT_EQ(16, parent.cursor());
    // A failure on its way up leaves through the destructor, which unlocks.
    const Bytes tooMuch(9);
    EXPECT_THROW(
        {
          CTran failing(blob.get());
          failing.Write(tooMuch.data(), 9);
        },
        Err);
    EXPECT_EQ(1u, blob.locks());
  }
  EXPECT_EQ(0u, blob.locks());

  // Someone else took the lock away: close() raises it, the destructor only logs it.
  CTran robbed(blob.get());
  SafeArrayUnlock(blob.array());
  const Err e = raised([&] { robbed.close(); });
  EXPECT_EQ(E_UNEXPECTED, e.hr);
  EXPECT_EQ("~CTran", e.procedure);
  EXPECT_FALSE(robbed.isOpen());
  clearLog();
  EXPECT_NO_THROW({
    CTran quiet(blob.get());
    SafeArrayUnlock(blob.array());
  });
  EXPECT_EQ("~CTran", firstLogged());

  Blob zeroing(Bytes(8), 12);
  { CTran tran(zeroing.get(), true); }
  EXPECT_EQ(0, zeroing.cursorField());
}

TEST_F(Transfer, Strings) {
  Bstr null, empty(OLESTR("")), ab(OLESTR("ab"));
  Bstr embedded = Bstr::attach(SysAllocStringLen(OLESTR("a\0b"), 3));
  Open open(Bytes(41));
  for (const Bstr *text : {&null, &empty, &ab, &embedded}) open.tran.WriteString(text->get());
  // Nine bytes are left: "ab" would not fit whole and is not begun.
  EXPECT_EQ(InternalCondition, raised([&] { open.tran.WriteString(ab.get()); }).description);
  EXPECT_EQ(40, open.tran.cursor());
  const Bytes written = open.blob.payload();
  EXPECT_EQ((Bytes{0, 0, 0, 0,                                // null
                   2, 0, 0, 0, 0,   0,                        // empty
                   6, 0, 0, 0, 'a', 0, 'b', 0, 0,   0,        // "ab"
                   8, 0, 0, 0, 'a', 0, 0,   0, 'b', 0, 0, 0,  // embedded zero, copied as it stands
                   0, 0, 0, 0, 0,   0, 0,   0, 0}),
            written);

  Open again(written);
  Bstr text(OLESTR("released by the read"));
  for (const Bstr *expected : {&null, &empty, &ab, &embedded}) {
    ASSERT_EQ(S_OK, again.tran.ReadString(text.put()));
    EXPECT_EQ(raw(expected->get()), raw(text.get()));
  }

  // An odd length, and terminator bytes that are not zero, still give a
  // terminated string.
  Open odd(Bytes{5, 0, 0, 0, 'x', 'y', 'z', 0x41, 0x41});
  ASSERT_EQ(S_OK, odd.tran.ReadString(text.put()));
  EXPECT_EQ(std::string("xyz\0\0", 5), raw(text.get()));
  EXPECT_EQ(17, odd.tran.cursor());
}

TEST_F(Transfer, ScalarAndStringRecords) {
  Bstr ab(OLESTR("ab")), embedded = Bstr::attach(SysAllocStringLen(OLESTR("a\0b"), 3));
  struct Case {
    VARTYPE type;
    LONGLONG bits;
    Bytes record;
    BSTR text = nullptr;
  };
  const Case cases[] = {
      {VT_EMPTY, 0, {0, 0}},
      {VT_I2, -2, {2, 0, 0xFE, 0xFF}},
      {VT_I4, 1000, {3, 0, 0xE8, 3, 0, 0}},
      {VT_R4, 0x3FC00000, {4, 0, 0, 0, 0xC0, 0x3F}},
      {VT_R8, 0x3FF8000000000000, {5, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
      {VT_CY, 15000, {6, 0, 0x98, 0x3A, 0, 0, 0, 0, 0, 0}},
      {VT_DATE, 0x40E5F54000000000, {7, 0, 0, 0, 0, 0, 0x40, 0xF5, 0xE5, 0x40}},
      {VT_ERROR, LONG(0x80020004), {10, 0, 4, 0, 2, 0x80}},
      {VT_BOOL, VARIANT_TRUE, {11, 0, 0xFF, 0xFF}},
      {VT_I1, 0x80, {16, 0, 0x80}},
      {VT_UI1, 0xAB, {17, 0, 0xAB}},
      {VT_UI2, 0xBEEF, {18, 0, 0xEF, 0xBE}},
      {VT_UI4, 0xDEADBEEF, {19, 0, 0xEF, 0xBE, 0xAD, 0xDE}},
      {VT_INT, -1, {22, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {VT_UINT, 5, {23, 0, 5, 0, 0, 0}},
      // Strings: "ab", null, and the text up to an embedded zero.
      {VT_BSTR, 0, {8, 0, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}, ab.get()},
      {VT_BSTR, 0, {8, 0, 0, 0, 0, 0}},
      {VT_BSTR, 0, {8, 0, 4, 0, 0, 0, 'a', 0, 0, 0}, embedded.get()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    VARIANT value = {};
    V_VT(&value) = c.type;
    if (c.type == VT_BSTR)
      V_BSTR(&value) = c.text;
    else
      std::memcpy(&V_UI1(&value), &c.bits, c.record.size() - 2);
    EXPECT_EQ(c.record, recordOf(&value));

    // Read back, a record ends exactly at the last byte of its blob and
    // gives a value that writes the same bytes again.
    Open open(c.record);
    Variant back;
    ASSERT_EQ(S_OK, open.tran.ReadVariant(back.put()));
    EXPECT_EQ(open.tran.size(), open.tran.cursor());
    EXPECT_EQ(c.record, recordOf(back.get()));
  }
}

TEST_F(Transfer, RefusedTypes) {
  const VARTYPE refusedTags[] = {
      VT_NULL, VT_DECIMAL, VT_I8, VT_UI8, VT_DISPATCH, 15, 24, VT_I4 | VT_BYREF, VT_ARRAY | VT_UI1 | VT_BYREF};
  for (VARTYPE tag : refusedTags) {
    VARIANT value = {};
    value.vt = tag;
    EXPECT_EQ(2u, CTran::VariantSize(&value)) << tag;
    Open open(Bytes(40));
    const Err e = raised([&] { open.tran.WriteVariant(&value); });
    expectRefusal(e);
    EXPECT_EQ("WriteVariant", e.procedure);
    // The tag stays in the blob.
    EXPECT_EQ(10, open.tran.cursor());
    EXPECT_EQ(tag, VARTYPE(open.blob.payload()[0] | open.blob.payload()[1] << 8));
  }

  // Arrays of strings, and byte arrays under the tag of an array of integers
  // (they would read back four times as long), are refused before any byte.
  Variant strings, mislabelled;
  makeArray(strings.get(), VT_BSTR, 0, 2);
  makeBytes(mislabelled.get(), 0, {1, 2, 3, 4});
  V_VT(mislabelled.get()) = VT_ARRAY | VT_I4;
  Open room(Bytes(64));
  for (Variant *refused : {&strings, &mislabelled}) {
    expectRefusal(raised([&] { room.tran.WriteVariant(refused->get()); }));
    EXPECT_EQ(8, room.tran.cursor());
    EXPECT_EQ(0u, V_ARRAY(refused->get())->cLocks);
  }
}

TEST_F(Transfer, ArrayRecords) {
  Variant outer, back;
  // Lower bound 5, holding an array of variants (a byte array and a string),
  // an empty variant and an array of 64-bit integers.
  VARIANT *slots = makeArray(outer.get(), VT_VARIANT, 5, 3);
  VARIANT *inner = makeArray(&slots[0], VT_VARIANT, -2, 2);
  makeBytes(&inner[0], 5, {9, 8});
  V_VT(&inner[1]) = VT_BSTR;
  V_BSTR(&inner[1]) = SysAllocString(OLESTR("ab"));
  makeArray<LONGLONG>(&slots[2], VT_I8, 0, 2)[1] = -3;
  const Bytes record = Bytes{0x0C, 0x20, 5,    0,    0,    0,    7,    0,    0,    0,           // 5 to 7
                             0x0C, 0x20, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,        // -2 to -1
                             0x11, 0x20, 5,    0,    0,    0,    6,    0,    0,    0,    9, 8,  // 5 to 6
                             8,    0,    6,    0,    0,    0,    'a',  0,    'b',  0,    0, 0,
                             0,    0,    0x14, 0x20, 0,    0,    0,    0,    1,    0,    0, 0} +
                       Bytes(8) + Bytes{0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(record, recordOf(outer.get()));
  EXPECT_EQ(0u, V_ARRAY(outer.get())->cLocks);

  // Read back, down to the deepest nesting allowed, it writes the same bytes again.
  for (const Bytes &encoded : {record, nestedRecord(CTran::MaxArrayNesting)}) {
    Open open(encoded);
    ASSERT_EQ(S_OK, open.tran.ReadVariant(back.put()));
    EXPECT_EQ(open.tran.size(), open.tran.cursor());
    EXPECT_EQ(0u, V_ARRAY(back.get())->cLocks);
    EXPECT_EQ(encoded, recordOf(back.get()));
  }

  // An array that holds itself cannot make the writer or the size pass run away.
  Variant loop;
  VARIANT *self = makeArray(loop.get(), VT_VARIANT, 0, 1);
  V_VT(self) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(self) = V_ARRAY(loop.get());
  EXPECT_EQ(ULONG(10 * CTran::MaxArrayNesting + 2), CTran::VariantSize(loop.get()));
  Open room(Bytes(1024));
  EXPECT_EQ(InternalCondition, raised([&] { room.tran.WriteVariant(loop.get()); }).description);
  EXPECT_EQ(8 + 10 * CTran::MaxArrayNesting, room.tran.cursor());
  EXPECT_EQ(0u, V_ARRAY(loop.get())->cLocks);
  V_VT(self) = VT_EMPTY;
}

// A damaged or hostile record is refused by the check that finds it (the
// first to log it) before anything is allocated for it; it leaves a string
// null and a variant that is safe to clear.
TEST_F(Transfer, DamagedRecordsAreRefused) {
  const LONG min = std::numeric_limits<LONG>::min(), max = std::numeric_limits<LONG>::max();
  const std::string str = "ReadString", var = "ReadVariant", refused = "refused", outOfMemory = "";
  struct Case {
    std::string operation;
    Bytes record;
    std::string outcome;  // the description raised, `refused`, or `outOfMemory` returned
    std::string by = "";  // the operation that logged it first
    VARTYPE left = VT_EMPTY;
  };
  const Case cases[] = {
      {str, le32(1), outOfMemory},                        // no room for the terminator, whatever follows
      {str, le32(7) + Bytes(6), InternalCondition, str},  // one byte past the end
      {str, le32(0x7FFFFFFF) + Bytes(6), InternalCondition, str},
      // The longest length whose string could be made at all is checked
      // against the blob; a longer one fails as its allocation would.
      {str, le32(0xFFFFFFFB) + Bytes(6), InternalCondition, str},
      {str, le32(0xFFFFFFFC) + Bytes(6), outOfMemory},
      {str, le32(-1) + Bytes(6), outOfMemory},
      {var, {5, 0, 0, 0, 0, 0, 0, 0, 0xF8}, InternalCondition, var},                // a VT_R8 cut short
      {var, {8, 0, 10, 0, 0, 0, 'a', 0}, InternalCondition, var},                   // a string longer than the rest
      {var, {9, 0, 0xEF, 0xBE, 0xAD, 0xDE, 0xEF, 0xBE, 0xAD, 0xDE}, refused, var},  // VT_DISPATCH
      {var, arrayHeader(VT_ARRAY | VT_BSTR, 0, 0), refused, var},
      {var, arrayHeader(VT_ARRAY | VT_EMPTY, 0, 0), outOfMemory},  // an array the platform cannot create
      {var, arrayHeader(VT_ARRAY | VT_UI1, 0, 0x7FFFFFFE) + Bytes(2), InternalCondition, var},
      {var, arrayHeader(VT_ARRAY | VT_VARIANT, 0, 0x7FFFFFFE) + Bytes(2), InternalCondition, var},
      {var, arrayHeader(VT_ARRAY | VT_R8, 1, 2) + Bytes(2), InternalCondition, var},
      {var, arrayHeader(VT_ARRAY | VT_UI1, min, max) + Bytes(2), InternalCondition, var},  // 2^32 elements
      {var, arrayHeader(VT_ARRAY | VT_UI1, max, min) + Bytes(2), outOfMemory},
      {var, arrayHeader(VT_ARRAY | VT_UI1, 5, 3) + Bytes(2), outOfMemory},
      // The outer array's four other elements need 2 bytes each: its first
      // cannot be an array of five variants, although its own 10 bytes are there.
      {var, arrayHeader(VT_ARRAY | VT_VARIANT, 0, 4) + arrayHeader(VT_ARRAY | VT_VARIANT, 0, 4) + Bytes(10),
       InternalCondition, var, VT_ARRAY | VT_VARIANT},
      {var, nestedRecord(CTran::MaxArrayNesting + 1), InternalCondition, var, VT_ARRAY | VT_VARIANT},
      {var, nestedRecord(5000), InternalCondition, var, VT_ARRAY | VT_VARIANT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(&c - cases);
    Open open(c.record);
    Bstr text(c.operation == str ? OLESTR("released") : nullptr);
    Variant value;
    const auto read = [&] {
      return c.operation == str ? open.tran.ReadString(text.put()) : open.tran.ReadVariant(value.put());
    };
    clearLog();
    if (c.outcome == outOfMemory) {
      EXPECT_EQ(E_OUTOFMEMORY, read());
    } else {
      const Err e = raised([&] { (void)read(); });
      if (c.outcome == refused)
        expectRefusal(e);
      else
        EXPECT_EQ(c.outcome, e.description);
      EXPECT_EQ(c.operation, e.procedure);
      EXPECT_EQ(c.by, firstLogged());
    }
    EXPECT_EQ(nullptr, text.get());
    EXPECT_EQ(c.left, V_VT(value.get()));
    EXPECT_EQ(S_OK, VariantClear(value.get()));
  }
}

// Each frame an error crosses logs it once, with the location it arrived
// with, and then puts its own name on it. The pieces of one record are not
// operations of their own: an element's variant record is (the inner
// WriteVariant), its tag and payload are not.
TEST_F(Transfer, FailuresAreLoggedByEveryOperationTheyCross) {
  // An array of one variant whose VT_I4 payload does not fit after its tag.
  Variant outer;
  V_VT(makeArray(outer.get(), VT_VARIANT, 0, 1)) = VT_I4;
  Open open(Bytes(13));
  EXPECT_EQ("WriteVariant", raised([&] { open.tran.WriteVariant(outer.get()); }).procedure);
  EXPECT_EQ(20, open.tran.cursor());

  const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
  ASSERT_EQ(2u, calls.size());
  std::string procedures;
  for (const LogErrorCall &call : calls) procedures += DoublesHarness::text(call.procedure) + " ";
  EXPECT_EQ("WriteVariant WriteVariant ", procedures);
  EXPECT_NE(calls[0].line, calls[1].line);
  for (const LogErrorCall &call : calls) {
    EXPECT_EQ("CTran", DoublesHarness::text(call.file));
    EXPECT_EQ(InternalCondition, DoublesHarness::text(call.description));
    EXPECT_EQ(E_FAIL, call.hr);
  }
}

}  // namespace
