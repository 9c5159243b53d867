// The transfer buffer and the variant encoding: the bytes of every record,
// the cursor kept in the blob, the checks that refuse a damaged or hostile
// blob, and the locks a transfer holds.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <limits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "doubles/DoublesHarness.h"
#include "log/Err.h"
#include "server/ComPtr.h"
#include "transfer/CTran.h"

using namespace rv;

namespace {

using Bytes = std::vector<BYTE>;

const std::string InternalCondition = "Invalid internal condition";
const std::string NullPointer = "NULL pointer: QI failed? function failed? out of memory? out of resources?";
const std::string RefusedPrefix = "Failed HRESULT [0x80004005]: ";

// A blob as a caller holds it: a byte array in a variant.
class Blob {
 public:
  // The header (token, cursor) followed by `payload`, lower bound `lower`.
  explicit Blob(const Bytes &payload, LONG cursor = 0, LONG token = 4, LONG lower = 0) {
    Bytes all(8);
    std::memcpy(all.data(), &token, 4);
    std::memcpy(all.data() + 4, &cursor, 4);
    all.insert(all.end(), payload.begin(), payload.end());
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, lower, ULONG(all.size()));
    void *data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, all.data(), all.size());
    SafeArrayUnaccessData(array);
    V_VT(v_.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(v_.get()) = array;
  }
  Blob() = default;

  VARIANT *get() { return v_.get(); }
  SAFEARRAY *array() { return V_ARRAY(v_.get()); }
  ULONG locks() { return array()->cLocks; }
  Bytes bytes() {
    const BYTE *data = static_cast<const BYTE *>(array()->pvData);
    return Bytes(data, data + array()->rgsabound[0].cElements);
  }
  Bytes payload() {
    Bytes all = bytes();
    return Bytes(all.begin() + 8, all.end());
  }
  LONG field(size_t offset) {
    LONG value;
    std::memcpy(&value, bytes().data() + offset, 4);
    return value;
  }

 private:
  Variant v_;
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

// The bytes WriteVariant writes for `value` into a blob with room to spare;
// also checks that they are exactly the count VariantSize announced.
Bytes recordOf(const VARIANT *value) {
  const ULONG size = CTran::VariantSize(value);
  Blob blob(Bytes(size + 16));
  CTran tran(blob.get());
  tran.WriteVariant(value);
  EXPECT_EQ(LONG(8 + size), tran.cursor());
  tran.close();
  const Bytes payload = blob.payload();
  return Bytes(payload.begin(), payload.begin() + size);
}

SAFEARRAY *byteArray(LONG lower, const Bytes &bytes) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, lower, ULONG(bytes.size()));
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  return array;
}

// The variant array a record of `depth` nested arrays of variants, one
// element each, with a VT_I4 inside the innermost, is made of.
Bytes nestedRecord(int depth) {
  Bytes record;
  for (int i = 0; i < depth; ++i) record.insert(record.end(), {0x0C, 0x20, 0, 0, 0, 0, 0, 0, 0, 0});
  record.insert(record.end(), {0x03, 0x00, 0x2A, 0, 0, 0});
  return record;
}

// Failures are logged by every frame they cross. The doubles of the outside
// components take the records, so that no test writes the fallback log file,
// and the trace settings answer once instead of being asked again by every
// operation.
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
    DoublesSettings settings = {};
    settings.errorLogAvailable = TRUE;
    settings.traceAvailable = TRUE;
    doubles->reset(settings);
  }

  static DoublesHarness *doubles;
};

DoublesHarness *Transfer::doubles = nullptr;

TEST_F(Transfer, CreateArrayAndOpen) {
  Variant empty;
  ASSERT_EQ(S_OK, CTran::CreateArray(empty.get(), 0));
  Err e = raised([&] { CTran tran(empty.get()); });
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ(InternalCondition, e.description);
  EXPECT_EQ("CTran", e.procedure);
  EXPECT_EQ("CTran", e.file);
  EXPECT_EQ("default", e.module);
  EXPECT_EQ(0u, V_ARRAY(empty.get())->cLocks);

  Variant small;
  ASSERT_EQ(S_OK, CTran::CreateArray(small.get(), 1));
  ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(small.get()));
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(V_ARRAY(small.get()), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(small.get()), 1, &upper);
  EXPECT_EQ(0, lower);
  EXPECT_EQ(8, upper);
  EXPECT_EQ((Bytes{4, 0, 0, 0, 0, 0, 0, 0, 0}), Bytes(static_cast<BYTE *>(V_ARRAY(small.get())->pvData),
                                                       static_cast<BYTE *>(V_ARRAY(small.get())->pvData) + 9));
  {
    CTran tran(small.get());
    EXPECT_EQ(8, tran.cursor());
    EXPECT_EQ(9, tran.size());
    const BYTE one = 0x5A;
    tran.Write(&one, 1);
    EXPECT_EQ(9, tran.cursor());
  }

  Variant refused;
  EXPECT_EQ(E_OUTOFMEMORY, CTran::CreateArray(refused.get(), -1));
  EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(refused.get()));
  EXPECT_EQ(nullptr, V_ARRAY(refused.get()));
}

TEST_F(Transfer, CursorPlacementAndTokens) {
  Blob atEnd(Bytes(32), 40);
  EXPECT_EQ(8, CTran(atEnd.get()).cursor());
  Blob inside(Bytes(32), 12);
  EXPECT_EQ(12, CTran(inside.get()).cursor());
  Blob below(Bytes(32), 7);
  EXPECT_EQ(8, CTran(below.get()).cursor());
  Blob negative(Bytes(32), -5);
  EXPECT_EQ(8, CTran(negative.get()).cursor());
  // A cursor past the end stays, and nothing can be read or written there.
  Blob beyond(Bytes(32), 41);
  {
    CTran tran(beyond.get());
    EXPECT_EQ(41, tran.cursor());
    BYTE b = 0;
    EXPECT_EQ(InternalCondition, raised([&] { tran.Read(&b, 1); }).description);
    EXPECT_EQ(InternalCondition, raised([&] { tran.Write(&b, 0); }).description);
  }

  Blob token999(Bytes(4), 0, 999);
  EXPECT_NO_THROW(CTran{token999.get()});
  Blob tokenMinus(Bytes(4), 0, -1);
  EXPECT_NO_THROW(CTran{tokenMinus.get()});
  Blob token1000(Bytes(4), 0, 1000);
  const Err e = raised([&] { CTran tran(token1000.get()); });
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ("Invalid CTran Array. 1st byte token validation failed.", e.description);
  EXPECT_EQ(0u, token1000.locks());
  EXPECT_EQ(0, token1000.field(4));
}

TEST_F(Transfer, WhatIsNotABlobIsLeftUntouched) {
  Variant text;
  V_VT(text.get()) = VT_BSTR;
  V_BSTR(text.get()) = SysAllocString(OLESTR("blob"));
  Err e = raised([&] { CTran tran(text.get()); });
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ("Variant should be initialised with CTran::CreateArray before constructing CTran", e.description);
  EXPECT_EQ(0, lstrcmpW(OLESTR("blob"), V_BSTR(text.get())));

  Variant number;
  V_VT(number.get()) = VT_I4;
  V_I4(number.get()) = 12;
  EXPECT_EQ("Variant should be initialised with CTran::CreateArray before constructing CTran",
            raised([&] { CTran tran(number.get()); }).description);
  EXPECT_EQ(12, V_I4(number.get()));

  SAFEARRAYBOUND bounds[2] = {{4, 0}, {4, 0}};
  Variant square;
  V_VT(square.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(square.get()) = SafeArrayCreate(VT_UI1, 2, bounds);
  std::memset(V_ARRAY(square.get())->pvData, 0x33, 16);
  EXPECT_EQ(InternalCondition, raised([&] { CTran tran(square.get()); }).description);
  EXPECT_EQ(0u, V_ARRAY(square.get())->cLocks);
  EXPECT_EQ(Bytes(16, 0x33), Bytes(static_cast<BYTE *>(V_ARRAY(square.get())->pvData),
                                   static_cast<BYTE *>(V_ARRAY(square.get())->pvData) + 16));
}

TEST_F(Transfer, LocksNestAndCloseOnEveryPath) {
  Blob blob(Bytes(16));
  {
    CTran parent(blob.get());
    const LONG id = 7;
    parent.Write(&id, 4);
    EXPECT_EQ(1u, blob.locks());
    {
      // The child continues where the parent stopped.
      CTran child(blob.get());
      EXPECT_EQ(2u, blob.locks());
      EXPECT_EQ(12, child.cursor());
      const LONG childId = 9;
      child.Write(&childId, 4);
      child.close();
      EXPECT_EQ(1u, blob.locks());
      EXPECT_NO_THROW(child.close());
      EXPECT_EQ(NullPointer, raised([&] { child.Write(&childId, 4); }).description);
      EXPECT_EQ(NullPointer, raised([&] { child.WriteVariant(nullptr); }).description);
    }
    EXPECT_EQ(16, parent.cursor());
    // A failure on its way up leaves through the destructor, which unlocks.
    EXPECT_THROW(
        {
          CTran failing(blob.get());
          EXPECT_EQ(2u, blob.locks());
          Bytes tooMuch(9);
          failing.Write(tooMuch.data(), 9);
        },
        Err);
    EXPECT_EQ(1u, blob.locks());
  }
  EXPECT_EQ(0u, blob.locks());
  const Bytes written = blob.payload();
  EXPECT_EQ((Bytes{7, 0, 0, 0, 9, 0, 0, 0}), Bytes(written.begin(), written.begin() + 8));

  // Someone else took the lock away: close() raises it, the destructor only logs it.
  CTran robbed(blob.get());
  SafeArrayUnlock(blob.array());
  Err e = raised([&] { robbed.close(); });
  EXPECT_EQ(E_UNEXPECTED, e.hr);
  EXPECT_EQ("~CTran", e.procedure);
  EXPECT_FALSE(robbed.isOpen());
  EXPECT_NO_THROW({
    CTran quiet(blob.get());
    SafeArrayUnlock(blob.array());
  });

  Blob zeroing(Bytes(8), 12);
  { CTran tran(zeroing.get(), true); }
  EXPECT_EQ(0, zeroing.field(4));
}

TEST_F(Transfer, WritesAndReadsEndExactlyAtTheLastByte) {
  Blob blob(Bytes(12), 16);
  CTran tran(blob.get());
  const Bytes before = blob.bytes();
  const BYTE five[5] = {1, 2, 3, 4, 5};
  const Err e = raised([&] { tran.Write(five, 5); });
  EXPECT_EQ(InternalCondition, e.description);
  EXPECT_EQ("Write", e.procedure);
  EXPECT_EQ(before, blob.bytes());
  tran.Write(five, 4);
  EXPECT_EQ(20, tran.cursor());
  const Bytes after = blob.bytes();
  EXPECT_EQ((Bytes{1, 2, 3, 4}), Bytes(after.begin() + 16, after.end()));

  Blob source(Bytes{0, 0, 0, 0, 0x10, 0x3F}, 12);
  CTran reader(source.get());
  VARIANT_BOOL flag = 0;
  LONG tooWide = 0;
  EXPECT_EQ(InternalCondition, raised([&] { reader.Read(&tooWide, 4); }).description);
  EXPECT_EQ(12, reader.cursor());
  reader.Read(&flag, 2);
  EXPECT_EQ(0x3F10, flag);
  EXPECT_EQ(14, reader.cursor());
}

TEST_F(Transfer, Strings) {
  Bstr empty(OLESTR(""));
  Bstr ab(OLESTR("ab"));
  Bstr embedded = Bstr::attach(SysAllocStringLen(OLESTR("a\0b"), 3));
  EXPECT_EQ(4u, CTran::StringSize(nullptr));
  EXPECT_EQ(6u, CTran::StringSize(empty.get()));
  EXPECT_EQ(10u, CTran::StringSize(ab.get()));

  Blob blob(Bytes(34));
  {
    CTran tran(blob.get());
    tran.WriteString(nullptr);
    tran.WriteString(empty.get());
    tran.WriteString(ab.get());
    tran.WriteString(embedded.get());
    // Two bytes are left: the next record would not fit whole and is not begun.
    EXPECT_EQ(InternalCondition, raised([&] { tran.WriteString(empty.get()); }).description);
    EXPECT_EQ(40, tran.cursor());
  }
  EXPECT_EQ((Bytes{0, 0, 0, 0,                                  // null
                   2, 0, 0, 0, 0, 0,                            // empty
                   6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0,            // "ab"
                   8, 0, 0, 0, 'a', 0, 0, 0, 'b', 0, 0, 0,      // embedded zero, copied as it stands
                   0, 0}),
            blob.payload());

  Blob again(blob.payload());
  CTran tran(again.get());
  Bstr text(OLESTR("released by the read"));
  ASSERT_EQ(S_OK, tran.ReadString(text.put()));
  EXPECT_EQ(nullptr, text.get());
  ASSERT_EQ(S_OK, tran.ReadString(text.put()));
  ASSERT_NE(nullptr, text.get());
  EXPECT_EQ(0u, text.length());
  ASSERT_EQ(S_OK, tran.ReadString(text.put()));
  EXPECT_EQ(0, lstrcmpW(OLESTR("ab"), text.get()));
  ASSERT_EQ(S_OK, tran.ReadString(text.put()));
  EXPECT_EQ(3u, text.length());
  EXPECT_EQ(0, std::memcmp(OLESTR("a\0b"), text.get(), 6));
}

TEST_F(Transfer, StoredStringLengths) {
  // Length 1 cannot be allocated; the cursor has moved past the length.
  Blob one(Bytes{1, 0, 0, 0, 0, 0});
  CTran tranOne(one.get());
  Bstr text;
  EXPECT_EQ(E_OUTOFMEMORY, tranOne.ReadString(text.put()));
  EXPECT_EQ(nullptr, text.get());
  EXPECT_EQ(12, tranOne.cursor());

  // A length that runs past the end, up to the largest, is refused before
  // anything is allocated for it.
  for (DWORD length : {DWORD(7), DWORD(0x7FFFFFFF), DWORD(0xFFFFFFFF)}) {
    Bytes payload(10);
    std::memcpy(payload.data(), &length, 4);
    Blob blob(payload);
    CTran tran(blob.get());
    const Err e = raised([&] { (void)tran.ReadString(text.put()); });
    EXPECT_EQ(InternalCondition, e.description) << length;
    EXPECT_EQ("ReadString", e.procedure);
    EXPECT_EQ(nullptr, text.get());
  }

  // An odd length and a record whose terminator bytes are not zero still
  // give a terminated string.
  Blob odd(Bytes{5, 0, 0, 0, 'x', 'y', 'z', 0x41, 0x41});
  CTran tranOdd(odd.get());
  ASSERT_EQ(S_OK, tranOdd.ReadString(text.put()));
  EXPECT_EQ(3u, SysStringByteLen(text.get()));
  EXPECT_EQ(0, std::memcmp("xyz\0\0", text.get(), 5));
  EXPECT_EQ(17, tranOdd.cursor());
}

TEST_F(Transfer, ScalarRecords) {
  struct Case {
    VARTYPE type;
    LONGLONG bits;
    Bytes record;
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
  };
  for (const Case &c : cases) {
    Variant value;
    V_VT(value.get()) = c.type;
    const size_t width = c.record.size() - 2;
    if (width) std::memcpy(&V_UI1(value.get()), &c.bits, width);
    EXPECT_EQ(c.record, recordOf(value.get())) << "type " << c.type;

    Blob blob(c.record);
    CTran tran(blob.get());
    Variant back;
    V_VT(back.get()) = VT_BSTR;
    V_BSTR(back.get()) = SysAllocString(OLESTR("old value, released"));
    ASSERT_EQ(S_OK, tran.ReadVariant(back.get()));
    EXPECT_EQ(c.type, V_VT(back.get()));
    EXPECT_EQ(0, std::memcmp(&V_UI1(back.get()), &V_UI1(value.get()), width)) << "type " << c.type;
    // Every record ends exactly at the last byte of its blob.
    EXPECT_EQ(tran.size(), tran.cursor());
  }

  Variant text;
  V_VT(text.get()) = VT_BSTR;
  V_BSTR(text.get()) = SysAllocString(OLESTR("ab"));
  EXPECT_EQ((Bytes{8, 0, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}), recordOf(text.get()));
  SysFreeString(V_BSTR(text.get()));
  V_BSTR(text.get()) = nullptr;
  EXPECT_EQ((Bytes{8, 0, 0, 0, 0, 0}), recordOf(text.get()));
  V_BSTR(text.get()) = SysAllocStringLen(OLESTR("a\0b"), 3);
  EXPECT_EQ((Bytes{8, 0, 4, 0, 0, 0, 'a', 0, 0, 0}), recordOf(text.get()));

  Blob strings(Bytes{8, 0, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 8, 0, 0, 0, 0, 0});
  CTran tran(strings.get());
  ASSERT_EQ(S_OK, tran.ReadVariant(text.put()));
  EXPECT_EQ(0, lstrcmpW(OLESTR("ab"), V_BSTR(text.get())));
  ASSERT_EQ(S_OK, tran.ReadVariant(text.put()));
  EXPECT_EQ(VT_BSTR, V_VT(text.get()));
  EXPECT_EQ(nullptr, V_BSTR(text.get()));
}

TEST_F(Transfer, RefusedTypes) {
  const VARTYPE refusedTags[] = {VT_NULL, VT_DECIMAL, VT_I8, VT_UI8, VT_DISPATCH, 15, 24, VT_I4 | VT_BYREF,
                                 VT_ARRAY | VT_UI1 | VT_BYREF};
  for (VARTYPE tag : refusedTags) {
    VARIANT value;
    std::memset(&value, 0, sizeof value);
    value.vt = tag;
    EXPECT_EQ(2u, CTran::VariantSize(&value)) << tag;
    Blob blob(Bytes(40));
    CTran tran(blob.get());
    const Err e = raised([&] { tran.WriteVariant(&value); });
    expectRefusal(e);
    EXPECT_EQ("WriteVariant", e.procedure);
    // The tag stays in the blob.
    EXPECT_EQ(10, tran.cursor());
    EXPECT_EQ(tag, VARTYPE(blob.payload()[0] | blob.payload()[1] << 8));
  }

  // Read back, a refused tag fails and leaves a variant that is safe to clear.
  Blob blob(Bytes{9, 0, 0xEF, 0xBE, 0xAD, 0xDE, 0xEF, 0xBE, 0xAD, 0xDE});
  CTran tran(blob.get());
  Variant value;
  expectRefusal(raised([&] { (void)tran.ReadVariant(value.put()); }));
  EXPECT_EQ(VT_EMPTY, V_VT(value.get()));

  // Arrays: one of strings is refused, one of nothing too, and VariantSize
  // stays quiet about both.
  Variant strings;
  V_VT(strings.get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(strings.get()) = SafeArrayCreateVector(VT_BSTR, 0, 2);
  Blob room(Bytes(64));
  CTran writer(room.get());
  expectRefusal(raised([&] { writer.WriteVariant(strings.get()); }));
  EXPECT_EQ(8, writer.cursor());
  EXPECT_EQ(0u, V_ARRAY(strings.get())->cLocks);
  // A byte array under the tag of an array of integers would read back with
  // four times its length.
  Variant mislabelled;
  V_VT(mislabelled.get()) = VT_ARRAY | VT_I4;
  V_ARRAY(mislabelled.get()) = byteArray(0, {1, 2, 3, 4});
  expectRefusal(raised([&] { writer.WriteVariant(mislabelled.get()); }));
  EXPECT_EQ(8, writer.cursor());
  VARIANT nothing;
  V_VT(&nothing) = VT_ARRAY | VT_EMPTY;
  V_ARRAY(&nothing) = nullptr;
  EXPECT_EQ(10u, CTran::VariantSize(&nothing));

  Blob stringArray(Bytes{8, 0x20, 0, 0, 0, 0, 1, 0, 0, 0});
  CTran readsStrings(stringArray.get());
  expectRefusal(raised([&] { (void)readsStrings.ReadVariant(value.put()); }));
  Blob emptyArray(Bytes{0, 0x20, 0, 0, 0, 0, 1, 0, 0, 0});
  CTran readsNothing(emptyArray.get());
  EXPECT_EQ(E_OUTOFMEMORY, readsNothing.ReadVariant(value.put()));
}

TEST_F(Transfer, ArrayRecords) {
  Variant bytes;
  V_VT(bytes.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(bytes.get()) = byteArray(0, {1, 2, 3});
  EXPECT_EQ(13u, CTran::VariantSize(bytes.get()));
  EXPECT_EQ((Bytes{0x11, 0x20, 0, 0, 0, 0, 2, 0, 0, 0, 1, 2, 3}), recordOf(bytes.get()));
  EXPECT_EQ(0u, V_ARRAY(bytes.get())->cLocks);

  Variant pair;
  V_VT(pair.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(pair.get()) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT *elements = static_cast<VARIANT *>(V_ARRAY(pair.get())->pvData);
  V_VT(&elements[0]) = VT_I4;
  V_I4(&elements[0]) = 7;
  EXPECT_EQ((Bytes{0x0C, 0x20, 0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 7, 0, 0, 0, 0, 0}), recordOf(pair.get()));

  // Lower bound 5, a nested array of variants holding a byte array and a
  // string, and an array of 64-bit integers: all come back as they went.
  Variant outer;
  V_VT(outer.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(outer.get()) = SafeArrayCreateVector(VT_VARIANT, 5, 3);
  VARIANT *slots = static_cast<VARIANT *>(V_ARRAY(outer.get())->pvData);
  V_VT(&slots[0]) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&slots[0]) = SafeArrayCreateVector(VT_VARIANT, -2, 2);
  VARIANT *inner = static_cast<VARIANT *>(V_ARRAY(&slots[0])->pvData);
  V_VT(&inner[0]) = VT_ARRAY | VT_UI1;
  V_ARRAY(&inner[0]) = byteArray(5, {9, 8});
  V_VT(&inner[1]) = VT_BSTR;
  V_BSTR(&inner[1]) = SysAllocString(OLESTR("deep"));
  V_VT(&slots[2]) = VT_ARRAY | VT_I8;
  V_ARRAY(&slots[2]) = SafeArrayCreateVector(VT_I8, 0, 2);
  static_cast<LONGLONG *>(V_ARRAY(&slots[2])->pvData)[1] = -3;
  const Bytes record = recordOf(outer.get());
  EXPECT_EQ(CTran::VariantSize(outer.get()), record.size());

  Blob blob(record);
  CTran tran(blob.get());
  Variant back;
  ASSERT_EQ(S_OK, tran.ReadVariant(back.put()));
  EXPECT_EQ(tran.size(), tran.cursor());
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(back.get()));
  LONG lower = 0;
  SafeArrayGetLBound(V_ARRAY(back.get()), 1, &lower);
  EXPECT_EQ(5, lower);
  const VARIANT *got = static_cast<const VARIANT *>(V_ARRAY(back.get())->pvData);
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&got[0]));
  SafeArrayGetLBound(V_ARRAY(&got[0]), 1, &lower);
  EXPECT_EQ(-2, lower);
  const VARIANT *gotInner = static_cast<const VARIANT *>(V_ARRAY(&got[0])->pvData);
  ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(&gotInner[0]));
  SafeArrayGetLBound(V_ARRAY(&gotInner[0]), 1, &lower);
  EXPECT_EQ(5, lower);
  EXPECT_EQ(9, static_cast<BYTE *>(V_ARRAY(&gotInner[0])->pvData)[0]);
  EXPECT_EQ(0, lstrcmpW(OLESTR("deep"), V_BSTR(&gotInner[1])));
  EXPECT_EQ(VT_EMPTY, V_VT(&got[1]));
  ASSERT_EQ(VT_ARRAY | VT_I8, V_VT(&got[2]));
  EXPECT_EQ(-3, static_cast<LONGLONG *>(V_ARRAY(&got[2])->pvData)[1]);
  EXPECT_EQ(0u, V_ARRAY(back.get())->cLocks);

  // Two dimensions are not encoded.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  Variant square;
  V_VT(square.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(square.get()) = SafeArrayCreate(VT_UI1, 2, bounds);
  Blob room(Bytes(32));
  CTran writer(room.get());
  EXPECT_EQ(InternalCondition, raised([&] { writer.WriteVariant(square.get()); }).description);
  EXPECT_EQ(8, writer.cursor());
}

TEST_F(Transfer, ShortRecordsFail) {
  Blob cut(Bytes{5, 0, 0, 0, 0, 0, 0, 0, 0xF8});
  CTran tran(cut.get());
  Variant value;
  const Err e = raised([&] { (void)tran.ReadVariant(value.put()); });
  EXPECT_EQ(InternalCondition, e.description);
  EXPECT_EQ("ReadVariant", e.procedure);
  EXPECT_EQ(VT_EMPTY, V_VT(value.get()));

  Blob exact(Bytes{16, 0, 0x80});
  CTran exactTran(exact.get());
  ASSERT_EQ(S_OK, exactTran.ReadVariant(value.put()));
  EXPECT_EQ(VT_I1, V_VT(value.get()));
  EXPECT_EQ(-128, V_I1(value.get()));

  // A string record whose stored length runs past the end.
  Blob text(Bytes{8, 0, 10, 0, 0, 0, 'a', 0});
  CTran textTran(text.get());
  EXPECT_EQ(InternalCondition, raised([&] { (void)textTran.ReadVariant(value.put()); }).description);
  EXPECT_EQ(VT_EMPTY, V_VT(value.get()));

  // The writer checks room for every part of a record.
  Variant number;
  V_VT(number.get()) = VT_I4;
  Blob onlyTag(Bytes(3));
  CTran writer(onlyTag.get());
  EXPECT_EQ(InternalCondition, raised([&] { writer.WriteVariant(number.get()); }).description);
  EXPECT_EQ(10, writer.cursor());
}

TEST_F(Transfer, HostileCountsAllocateNothing) {
  struct Case {
    VARTYPE tag;
    LONG lower, upper;
    HRESULT hr;  // S_OK: raised as an invalid internal condition
  };
  const Case cases[] = {
      {VT_ARRAY | VT_UI1, 0, 0x7FFFFFFE, S_OK},       // two billion bytes in a 20-byte blob
      {VT_ARRAY | VT_VARIANT, 0, 0x7FFFFFFE, S_OK},   // two billion variants
      {VT_ARRAY | VT_R8, 1, 2, S_OK},                 // 16 bytes that are not there
      {VT_ARRAY | VT_UI1, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), S_OK},  // a count of 2^32, beyond every 32-bit count
      {VT_ARRAY | VT_UI1, std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::min(), E_OUTOFMEMORY},
      {VT_ARRAY | VT_UI1, 5, 3, E_OUTOFMEMORY},
  };
  for (const Case &c : cases) {
    Bytes payload(10 + 2);
    std::memcpy(payload.data(), &c.tag, 2);
    std::memcpy(payload.data() + 2, &c.lower, 4);
    std::memcpy(payload.data() + 6, &c.upper, 4);
    Blob blob(payload);
    CTran tran(blob.get());
    Variant value;
    if (c.hr == S_OK) {
      EXPECT_EQ(InternalCondition, raised([&] { (void)tran.ReadVariant(value.put()); }).description) << c.tag;
    } else {
      EXPECT_EQ(c.hr, tran.ReadVariant(value.put()));
    }
    EXPECT_EQ(VT_EMPTY, V_VT(value.get()));
  }

  // Elements of an array of variants keep their bytes: a nested array may not
  // claim what its siblings still need. Here the outer array's four other
  // elements still need 2 bytes each, so its first element cannot be an
  // array of five variants, although its own 10 bytes would be there.
  Bytes claimed = {0x0C, 0x20, 0, 0, 0, 0, 4, 0, 0, 0, 0x0C, 0x20, 0, 0, 0, 0, 4, 0, 0, 0};
  claimed.resize(claimed.size() + 10);
  Blob blob(claimed);
  CTran tran(blob.get());
  Variant value;
  EXPECT_EQ(InternalCondition, raised([&] { (void)tran.ReadVariant(value.put()); }).description);
}

TEST_F(Transfer, NestingIsCapped) {
  for (int depth : {CTran::MaxArrayNesting, CTran::MaxArrayNesting + 1, 5000}) {
    Blob blob(nestedRecord(depth));
    CTran tran(blob.get());
    Variant value;
    if (depth <= CTran::MaxArrayNesting) {
      ASSERT_EQ(S_OK, tran.ReadVariant(value.put()));
      EXPECT_EQ(tran.size(), tran.cursor());
      // The writer goes as deep and gives back the same bytes.
      EXPECT_EQ(nestedRecord(depth), recordOf(value.get()));
    } else {
      EXPECT_EQ(InternalCondition, raised([&] { (void)tran.ReadVariant(value.put()); }).description) << depth;
      // Whatever was built is unlocked and can go.
      EXPECT_EQ(S_OK, VariantClear(value.get()));
    }
  }

  // An array that holds itself cannot make the writer or the size pass run away.
  Variant loop;
  V_VT(loop.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(loop.get()) = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT *self = static_cast<VARIANT *>(V_ARRAY(loop.get())->pvData);
  V_VT(self) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(self) = V_ARRAY(loop.get());
  EXPECT_EQ(ULONG(10 * CTran::MaxArrayNesting + 2), CTran::VariantSize(loop.get()));
  Blob room(Bytes(1024));
  CTran writer(room.get());
  EXPECT_EQ(InternalCondition, raised([&] { writer.WriteVariant(loop.get()); }).description);
  EXPECT_EQ(0u, V_ARRAY(loop.get())->cLocks);
  V_VT(self) = VT_EMPTY;
}

// Each frame an error crosses logs it once, with the location it arrived
// with, and then puts its own name on it.
TEST_F(Transfer, FailuresAreLoggedByEveryOperationTheyCross) {
  // An array of one variant whose VT_I4 payload does not fit.
  Variant outer;
  V_VT(outer.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(outer.get()) = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  V_VT(static_cast<VARIANT *>(V_ARRAY(outer.get())->pvData)) = VT_I4;
  Blob blob(Bytes(13));
  CTran tran(blob.get());
  const Err e = raised([&] { tran.WriteVariant(outer.get()); });
  EXPECT_EQ("WriteVariant", e.procedure);
  EXPECT_EQ(20, tran.cursor());

  const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ("Write", DoublesHarness::text(calls[0].procedure));
  EXPECT_EQ("Write", DoublesHarness::text(calls[1].procedure));
  EXPECT_EQ("WriteVariant", DoublesHarness::text(calls[2].procedure));
  EXPECT_NE(calls[0].line, calls[1].line);
  for (const LogErrorCall &call : calls) {
    EXPECT_EQ("CTran", DoublesHarness::text(call.file));
    EXPECT_EQ(InternalCondition, DoublesHarness::text(call.description));
    EXPECT_EQ(E_FAIL, call.hr);
  }
}

}  // namespace
