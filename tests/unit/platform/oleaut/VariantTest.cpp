#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

TEST(Variant, ClearReleasesOnlyWhatTheVariantOwns) {
  // A reference owns nothing: the string it points at stays alive.
  Bstr text(OLESTR("kept"));
  BSTR referenced = text.get();
  VARIANT v;
  V_VT(&v) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&v) = &referenced;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(textOf(text.get()), OLESTR("kept"));

  V_VT(&v) = VT_ARRAY | VT_I4;
  V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 1);
  SAFEARRAY *array = V_ARRAY(&v);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  // The variant lets go of the array all the same; its holder destroys it.
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  ASSERT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  for (VARTYPE bad : {VARTYPE(15), VARTYPE(99), VARTYPE(VT_EMPTY | VT_BYREF), VARTYPE(VT_NULL | VT_ARRAY),
                      VARTYPE(VT_I4 | VT_VECTOR)}) {
    V_VT(&v) = bad;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
    EXPECT_EQ(V_VT(&v), bad);
  }
}

TEST(Variant, CopyDuplicatesOwnedValuesAndKeepsReferences) {
  Variant source, copy, array;
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocStringByteLen("abc", 3);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(V_BSTR(&copy), V_BSTR(&source));
  EXPECT_EQ(SysStringByteLen(V_BSTR(&copy)), 3u);
  EXPECT_EQ(memcmp(V_BSTR(&copy), "abc", 3), 0);
  // A copy onto itself changes nothing.
  BSTR before = V_BSTR(&source);
  EXPECT_EQ(VariantCopy(&source, &source), S_OK);
  EXPECT_EQ(V_BSTR(&source), before);

  V_VT(&array) = VT_ARRAY | VT_UI1;
  V_ARRAY(&array) = SafeArrayCreateVector(VT_UI1, 0, 2);
  ASSERT_EQ(VariantCopy(&copy, &array), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_ARRAY | VT_UI1);
  EXPECT_NE(V_ARRAY(&copy), V_ARRAY(&array));

  VARIANT reference;
  V_VT(&reference) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&reference) = &V_BSTR(&source);
  ASSERT_EQ(VariantCopy(&copy, &reference), S_OK);
  EXPECT_EQ(V_BSTRREF(&copy), &V_BSTR(&source));

  // A bad source leaves the destination alone.
  VARIANT bad;
  V_VT(&bad) = 99;
  putText(&copy, OLESTR("kept"));
  EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(textOf(V_BSTR(&copy)), OLESTR("kept"));
  EXPECT_EQ(VariantCopy(&bad, &source), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyIndReplacesAReferenceWithAnOwnedCopy) {
  Variant text, copy;
  putText(&text, OLESTR("value"));
  VARIANT reference, twice;
  V_VT(&reference) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&reference) = &text;
  // A reference to a variant that is itself a variant reference is refused.
  V_VT(&twice) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&twice) = &reference;
  EXPECT_EQ(VariantCopyInd(&copy, &twice), E_INVALIDARG);

  // In place, with the string's own reference.
  V_VT(&reference) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&reference) = &V_BSTR(&text);
  ASSERT_EQ(VariantCopyInd(&reference, &reference), S_OK);
  EXPECT_EQ(V_VT(&reference), VT_BSTR);
  EXPECT_NE(V_BSTR(&reference), V_BSTR(&text));
  EXPECT_EQ(textOf(V_BSTR(&reference)), OLESTR("value"));
  VariantClear(&reference);
}

}  // namespace
