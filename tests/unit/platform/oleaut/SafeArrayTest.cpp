#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

TEST(SafeArray, BoundsAndIndexingWithNonZeroLowerBounds) {
  // Dimension 1: 2 elements from 1; dimension 2: 3 elements from 5.
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 5}};
  SAFEARRAY *array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  LONG low = 0, high = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 2, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &high), S_OK);
  EXPECT_EQ(low, 5);
  EXPECT_EQ(high, 7);
  // The descriptor stores the bounds with the last dimension first.
  EXPECT_EQ(array->rgsabound[0].lLbound, 5);
  EXPECT_EQ(array->rgsabound[1].lLbound, 1);
  EXPECT_EQ(SafeArrayGetLBound(array, 0, &low), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(array, 3, &high), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &low), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, nullptr), E_INVALIDARG);

  // The first index varies fastest in memory.
  for (LONG j = 5; j <= 7; ++j)
    for (LONG i = 1; i <= 2; ++i) {
      LONG index[2] = {i, j}, value = i * 10 + j;
      ASSERT_EQ(SafeArrayPutElement(array, index, &value), S_OK);
    }
  const LONG expected[6] = {15, 25, 16, 26, 17, 27};
  EXPECT_EQ(memcmp(array->pvData, expected, sizeof expected), 0);
  LONG value = 0, inside[2] = {2, 7};
  EXPECT_EQ(SafeArrayGetElement(array, inside, &value), S_OK);
  EXPECT_EQ(value, 27);
  LONG outside[][2] = {{0, 5}, {3, 5}, {1, 4}, {1, 8}};
  for (auto &index : outside) {
    EXPECT_EQ(SafeArrayGetElement(array, index, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(array, index, &value), DISP_E_BADINDEX);
  }
  EXPECT_EQ(SafeArrayGetElement(array, inside, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(nullptr, inside, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  SAFEARRAYBOUND none = {0, 0};
  SAFEARRAY *empty = SafeArrayCreate(VT_I4, 1, &none);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &high), S_OK);
  EXPECT_EQ(high, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &none), nullptr);
}

TEST(SafeArray, ElementSizesAndFeaturesByType) {
  struct Case {
    VARTYPE vt;
    ULONG size;
    USHORT features;
  } cases[] = {{VT_UI1, 1, FADF_HAVEVARTYPE},
               {VT_BOOL, 2, FADF_HAVEVARTYPE},
               {VT_DECIMAL, 16, FADF_HAVEVARTYPE},
               {VT_BSTR, 8, FADF_HAVEVARTYPE | FADF_BSTR},
               {VT_VARIANT, 24, FADF_HAVEVARTYPE | FADF_VARIANT},
               {VT_UNKNOWN, 8, FADF_HAVEIID | FADF_UNKNOWN},
               {VT_DISPATCH, 8, FADF_HAVEIID | FADF_DISPATCH}};
  SAFEARRAYBOUND bound = {3, -2};
  for (const Case &c : cases) {
    SAFEARRAY *array = SafeArrayCreate(c.vt, 1, &bound);
    ASSERT_NE(array, nullptr) << c.vt;
    EXPECT_EQ(SafeArrayGetElemsize(array), c.size) << c.vt;
    EXPECT_EQ(array->fFeatures, c.features) << c.vt;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  }
  for (VARTYPE invalid : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL), VARTYPE(15), VARTYPE(VT_LPSTR)}) {
    EXPECT_EQ(SafeArrayCreate(invalid, 1, &bound), nullptr) << invalid;
    EXPECT_EQ(SafeArrayCreateVector(invalid, 0, 1), nullptr) << invalid;
  }
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
  SAFEARRAY *plain = nullptr;
  EXPECT_EQ(SafeArrayAllocDescriptor(0, &plain), E_INVALIDARG);
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &plain), S_OK);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(plain, &vt), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroyDescriptor(plain), S_OK);
}

TEST(SafeArray, LockCountGuardsDestructionAndRedim) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayLock(array), S_OK);
  void *data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(data, array->pvData);
  EXPECT_EQ(array->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyDescriptor(array), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND smaller = {1, 0};
  EXPECT_EQ(SafeArrayRedim(array, &smaller), DISP_E_ARRAYISLOCKED);
  // Elements may still be replaced while locked.
  LONG index = 0;
  Bstr text(OLESTR("kept"));
  EXPECT_EQ(SafeArrayPutElement(array, &index, text.get()), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);

  // The lock count is a 16-bit counter.
  ULONG locks = 0;
  while (SafeArrayLock(array) == S_OK && locks < 70000) ++locks;
  EXPECT_EQ(locks, 0xFFFFu);
  while (locks-- > 0) ASSERT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  // A vector's data lives with its descriptor; both halves of its destruction still work.
  EXPECT_EQ(SafeArrayDestroyData(array), S_OK);
  EXPECT_EQ(SafeArrayDestroyDescriptor(array), S_OK);
}

TEST(SafeArray, ElementsOwnTheirStringsAndReferences) {
  SAFEARRAYBOUND bound = {2, 3};
  SAFEARRAY *strings = SafeArrayCreate(VT_BSTR, 1, &bound);
  ASSERT_NE(strings, nullptr);
  LONG index = 4;
  Bstr odd(SysAllocStringByteLen("xyz", 3)), out;
  ASSERT_EQ(SafeArrayPutElement(strings, &index, odd.get()), S_OK);
  EXPECT_NE(static_cast<BSTR *>(strings->pvData)[1], odd.get());
  ASSERT_EQ(SafeArrayGetElement(strings, &index, out.out()), S_OK);
  EXPECT_NE(out.get(), odd.get());
  EXPECT_EQ(SysStringByteLen(out.get()), 3u);
  EXPECT_EQ(memcmp(out.get(), "xyz", 3), 0);
  --index;
  ASSERT_EQ(SafeArrayGetElement(strings, &index, out.out()), S_OK);
  EXPECT_EQ(out.get(), nullptr);  // never set
  EXPECT_EQ(SafeArrayDestroy(strings), S_OK);

  CountingDispatch object;
  SAFEARRAY *variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  SAFEARRAY *objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  ASSERT_TRUE(variants != nullptr && objects != nullptr);
  VARIANT element;
  V_VT(&element) = VT_DISPATCH;
  V_DISPATCH(&element) = &object;
  LONG zero = 0;
  ASSERT_EQ(SafeArrayPutElement(variants, &zero, &element), S_OK);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, static_cast<IUnknown *>(&object)), S_OK);
  EXPECT_EQ(object.references(), 3u);
  EXPECT_EQ(SafeArrayPutElement(objects, &zero, nullptr), S_OK);
  EXPECT_EQ(object.references(), 2u);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, static_cast<IUnknown *>(&object)), S_OK);
  EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  EXPECT_EQ(object.references(), 1u);
}

}  // namespace
