#include <gtest/gtest.h>

#include "OleautTestSupport.h"

namespace {

TEST(SafeArray, BoundsAreKeptPerDimensionWithNonZeroLowerBounds) {
  // Dimension 1: 2 elements from 1; dimension 2: 3 elements from 5.
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 5}};
  SAFEARRAY *array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(array), 4u);
  LONG low = 0, high = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 2);
  EXPECT_EQ(SafeArrayGetLBound(array, 2, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &high), S_OK);
  EXPECT_EQ(low, 5);
  EXPECT_EQ(high, 7);
  // The descriptor stores the bounds with the last dimension first.
  EXPECT_EQ(array->rgsabound[0].lLbound, 5);
  EXPECT_EQ(array->rgsabound[1].lLbound, 1);
  EXPECT_EQ(SafeArrayGetLBound(array, 0, &low), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(array, 3, &low), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &low), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, nullptr), E_INVALIDARG);

  // The first index varies fastest in memory.
  for (LONG j = 5; j <= 7; ++j)
    for (LONG i = 1; i <= 2; ++i) {
      LONG index[2] = {i, j};
      LONG value = i * 10 + j;
      ASSERT_EQ(SafeArrayPutElement(array, index, &value), S_OK);
    }
  LONG *data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void **>(&data)), S_OK);
  const LONG expected[6] = {15, 25, 16, 26, 17, 27};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(data[k], expected[k]) << k;
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);

  LONG value = 0;
  LONG inside[2] = {2, 7};
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

  SAFEARRAY *vector = SafeArrayCreateVector(VT_UI1, -3, 4);
  ASSERT_NE(vector, nullptr);
  EXPECT_EQ(SafeArrayGetLBound(vector, 1, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(vector, 1, &high), S_OK);
  EXPECT_EQ(low, -3);
  EXPECT_EQ(high, 0);
  LONG last = 0;
  BYTE byte = 0xAB;
  EXPECT_EQ(SafeArrayPutElement(vector, &last, &byte), S_OK);
  EXPECT_EQ(static_cast<BYTE *>(vector->pvData)[3], 0xAB);
  EXPECT_EQ(SafeArrayDestroy(vector), S_OK);

  SAFEARRAYBOUND none = {0, 0};
  SAFEARRAY *empty = SafeArrayCreate(VT_I4, 1, &none);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &high), S_OK);
  EXPECT_EQ(high, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &none), nullptr);
}

TEST(SafeArray, TypesAndFeatures) {
  struct Case {
    VARTYPE vt;
    ULONG size;
    USHORT features;
  } cases[] = {{VT_UI1, 1, FADF_HAVEVARTYPE},
               {VT_I4, 4, FADF_HAVEVARTYPE},
               {VT_R8, 8, FADF_HAVEVARTYPE},
               {VT_BOOL, 2, FADF_HAVEVARTYPE},
               {VT_DECIMAL, 16, FADF_HAVEVARTYPE},
               {VT_BSTR, sizeof(BSTR), FADF_HAVEVARTYPE | FADF_BSTR},
               {VT_VARIANT, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT},
               {VT_UNKNOWN, sizeof(IUnknown *), FADF_HAVEIID | FADF_UNKNOWN},
               {VT_DISPATCH, sizeof(IDispatch *), FADF_HAVEIID | FADF_DISPATCH}};
  for (const Case &c : cases) {
    SAFEARRAYBOUND bound = {3, -2};
    SAFEARRAY *array = SafeArrayCreate(c.vt, 1, &bound);
    ASSERT_NE(array, nullptr) << c.vt;
    EXPECT_EQ(array->cbElements, c.size) << c.vt;
    EXPECT_EQ(array->fFeatures, c.features) << c.vt;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);

    SAFEARRAY *vector = SafeArrayCreateVector(c.vt, 0, 2);
    ASSERT_NE(vector, nullptr) << c.vt;
    EXPECT_EQ(vector->fFeatures & ~FADF_RESERVED, c.features) << c.vt;
    EXPECT_EQ(SafeArrayDestroy(vector), S_OK);
  }
  SAFEARRAYBOUND bound = {1, 0};
  for (VARTYPE invalid : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL), VARTYPE(15), VARTYPE(VT_LPSTR)}) {
    EXPECT_EQ(SafeArrayCreate(invalid, 1, &bound), nullptr) << invalid;
    EXPECT_EQ(SafeArrayCreateVector(invalid, 0, 1), nullptr) << invalid;
  }
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
}

TEST(SafeArray, LockCountGuardsDestruction) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(array->cLocks, 1u);
  void *data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(data, array->pvData);
  EXPECT_EQ(array->cLocks, 2u);

  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyDescriptor(array), DISP_E_ARRAYISLOCKED);
  // Elements may still be replaced while locked.
  LONG index = 0;
  Bstr text(OLESTR("kept"));
  EXPECT_EQ(SafeArrayPutElement(array, &index, text.get()), S_OK);

  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);

  // The lock count is a 16-bit counter.
  ULONG locks = 0;
  while (SafeArrayLock(array) == S_OK && locks < 70000) ++locks;
  EXPECT_EQ(locks, 0xFFFFu);
  while (locks-- > 0) ASSERT_EQ(SafeArrayUnlock(array), S_OK);

  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnlock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, StringElementsAreCopiedInAndOut) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 1, 2);
  ASSERT_NE(array, nullptr);
  LONG first = 1, second = 2;
  Bstr odd(SysAllocStringByteLen("xyz", 3));
  ASSERT_EQ(SafeArrayPutElement(array, &first, odd.get()), S_OK);
  BSTR stored = static_cast<BSTR *>(array->pvData)[0];
  EXPECT_NE(stored, odd.get());
  EXPECT_EQ(SysStringByteLen(stored), 3u);

  Bstr out;
  ASSERT_EQ(SafeArrayGetElement(array, &first, out.out()), S_OK);
  EXPECT_NE(out.get(), stored);
  EXPECT_EQ(SysStringByteLen(out.get()), 3u);
  EXPECT_EQ(memcmp(out.get(), "xyz", 3), 0);

  // An element never set reads back as a null string.
  Bstr unset;
  EXPECT_EQ(SafeArrayGetElement(array, &second, unset.out()), S_OK);
  EXPECT_EQ(unset.get(), nullptr);

  // Replacing an element releases the old string (checked by leak tools).
  Bstr replacement(OLESTR("second"));
  EXPECT_EQ(SafeArrayPutElement(array, &first, replacement.get()), S_OK);
  EXPECT_EQ(textOf(static_cast<BSTR *>(array->pvData)[0]), OLESTR("second"));
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, CopyIsDeepForStringsVariantsAndInterfaces) {
  SAFEARRAYBOUND bound = {2, 3};
  SAFEARRAY *strings = SafeArrayCreate(VT_BSTR, 1, &bound);
  ASSERT_NE(strings, nullptr);
  LONG index = 4;
  Bstr text(OLESTR("copied"));
  ASSERT_EQ(SafeArrayPutElement(strings, &index, text.get()), S_OK);
  ASSERT_EQ(SafeArrayLock(strings), S_OK);
  SAFEARRAY *copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(strings, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cLocks, 0u);
  EXPECT_EQ(copy->fFeatures, strings->fFeatures);
  LONG low = 0;
  EXPECT_EQ(SafeArrayGetLBound(copy, 1, &low), S_OK);
  EXPECT_EQ(low, 3);
  BSTR original = static_cast<BSTR *>(strings->pvData)[1];
  BSTR duplicate = static_cast<BSTR *>(copy->pvData)[1];
  EXPECT_NE(original, duplicate);
  EXPECT_EQ(textOf(duplicate), OLESTR("copied"));
  EXPECT_EQ(static_cast<BSTR *>(copy->pvData)[0], nullptr);
  EXPECT_EQ(SafeArrayUnlock(strings), S_OK);
  EXPECT_EQ(SafeArrayDestroy(strings), S_OK);
  EXPECT_EQ(textOf(static_cast<BSTR *>(copy->pvData)[1]), OLESTR("copied"));
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

  CountingDispatch object;
  SAFEARRAY *variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(variants, nullptr);
  Variant element;
  Variant::text(&element, OLESTR("in a variant"));
  LONG zero = 0, one = 1;
  ASSERT_EQ(SafeArrayPutElement(variants, &zero, &element), S_OK);
  VariantClear(&element);
  V_VT(&element) = VT_DISPATCH;
  V_DISPATCH(&element) = &object;
  object.AddRef();
  ASSERT_EQ(SafeArrayPutElement(variants, &one, &element), S_OK);
  EXPECT_EQ(object.references(), 3u);
  SAFEARRAY *variantCopy = nullptr;
  ASSERT_EQ(SafeArrayCopy(variants, &variantCopy), S_OK);
  EXPECT_EQ(object.references(), 4u);
  VARIANT *copied = static_cast<VARIANT *>(variantCopy->pvData);
  EXPECT_EQ(V_VT(&copied[0]), VT_BSTR);
  EXPECT_NE(V_BSTR(&copied[0]), V_BSTR(&static_cast<VARIANT *>(variants->pvData)[0]));
  EXPECT_EQ(textOf(V_BSTR(&copied[0])), OLESTR("in a variant"));
  Variant out;
  ASSERT_EQ(SafeArrayGetElement(variantCopy, &one, &out), S_OK);
  EXPECT_EQ(V_VT(&out), VT_DISPATCH);
  EXPECT_EQ(object.references(), 5u);
  VariantClear(&out);
  EXPECT_EQ(SafeArrayDestroy(variantCopy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  VariantClear(&element);
  EXPECT_EQ(object.references(), 1u);

  SAFEARRAY *objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  ASSERT_NE(objects, nullptr);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, static_cast<IUnknown *>(&object)), S_OK);
  EXPECT_EQ(object.references(), 2u);
  EXPECT_EQ(SafeArrayPutElement(objects, &zero, nullptr), S_OK);
  EXPECT_EQ(object.references(), 1u);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, static_cast<IUnknown *>(&object)), S_OK);
  EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
  EXPECT_EQ(object.references(), 1u);

  SAFEARRAY *none = reinterpret_cast<SAFEARRAY *>(1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
}

TEST(SafeArray, DescriptorAndDataLifeCycle) {
  SAFEARRAY *array = nullptr;
  EXPECT_EQ(SafeArrayAllocDescriptor(0, &array), E_INVALIDARG);
  ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_R8, 1, &array), S_OK);
  EXPECT_EQ(array->cbElements, 8u);
  EXPECT_EQ(array->pvData, nullptr);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
  EXPECT_EQ(vt, VT_R8);
  array->rgsabound[0].cElements = 3;
  array->rgsabound[0].lLbound = 0;
  ASSERT_EQ(SafeArrayAllocData(array), S_OK);
  ASSERT_NE(array->pvData, nullptr);
  EXPECT_EQ(static_cast<double *>(array->pvData)[2], 0.0);
  EXPECT_EQ(SafeArrayDestroyData(array), S_OK);
  EXPECT_EQ(array->pvData, nullptr);
  EXPECT_EQ(SafeArrayDestroyDescriptor(array), S_OK);

  SAFEARRAY *plain = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &plain), S_OK);
  EXPECT_EQ(plain->fFeatures, 0);
  EXPECT_EQ(SafeArrayGetVartype(plain, &vt), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroyDescriptor(plain), S_OK);

  // A vector's data lives with its descriptor; both halves of its
  // destruction still work.
  SAFEARRAY *vector = SafeArrayCreateVector(VT_BSTR, 0, 3);
  ASSERT_NE(vector, nullptr);
  LONG index = 2;
  Bstr text(OLESTR("released"));
  ASSERT_EQ(SafeArrayPutElement(vector, &index, text.get()), S_OK);
  EXPECT_EQ(SafeArrayDestroyData(vector), S_OK);
  EXPECT_EQ(SafeArrayDestroyDescriptor(vector), S_OK);
}

TEST(SafeArray, RedimKeepsLeadingElements) {
  SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 1, 3);
  ASSERT_NE(array, nullptr);
  const OLECHAR *texts[] = {OLESTR("a"), OLESTR("b"), OLESTR("c")};
  for (LONG i = 1; i <= 3; ++i) {
    Bstr text(texts[i - 1]);
    ASSERT_EQ(SafeArrayPutElement(array, &i, text.get()), S_OK);
  }
  SAFEARRAYBOUND smaller = {2, 1};
  ASSERT_EQ(SafeArrayRedim(array, &smaller), S_OK);
  LONG high = 0;
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(high, 2);
  SAFEARRAYBOUND larger = {4, 1};
  ASSERT_EQ(SafeArrayRedim(array, &larger), S_OK);
  BSTR *data = static_cast<BSTR *>(array->pvData);
  EXPECT_EQ(textOf(data[0]), OLESTR("a"));
  EXPECT_EQ(textOf(data[1]), OLESTR("b"));
  EXPECT_EQ(data[2], nullptr);
  EXPECT_EQ(data[3], nullptr);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(SafeArrayRedim(array, &smaller), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace
