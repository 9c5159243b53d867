#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

TEST(Variant, ClearReleasesWhatTheVariantOwns) {
  CountingDispatch object;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = &object;
  object.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(object.references(), 1u);

  // A reference owns nothing.
  LONG target = 7;
  V_VT(&v) = VT_I4 | VT_BYREF;
  V_I4REF(&v) = &target;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(target, 7);

  V_VT(&v) = VT_ARRAY | VT_I4;
  V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 1);
  SAFEARRAY *array = V_ARRAY(&v);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
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
  Variant source, copy;
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocStringByteLen("abc", 3);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_BSTR);
  EXPECT_NE(V_BSTR(&copy), V_BSTR(&source));
  EXPECT_EQ(SysStringByteLen(V_BSTR(&copy)), 3u);
  EXPECT_EQ(memcmp(V_BSTR(&copy), "abc", 3), 0);

  // A copy onto itself changes nothing.
  BSTR before = V_BSTR(&source);
  EXPECT_EQ(VariantCopy(&source, &source), S_OK);
  EXPECT_EQ(V_BSTR(&source), before);

  CountingDispatch object;
  VARIANT dispatch;
  V_VT(&dispatch) = VT_DISPATCH;
  V_DISPATCH(&dispatch) = &object;
  ASSERT_EQ(VariantCopy(&copy, &dispatch), S_OK);
  EXPECT_EQ(object.references(), 2u);
  VariantClear(&copy);
  EXPECT_EQ(object.references(), 1u);

  Variant array;
  V_VT(&array) = VT_ARRAY | VT_UI1;
  V_ARRAY(&array) = SafeArrayCreateVector(VT_UI1, 0, 2);
  ASSERT_EQ(VariantCopy(&copy, &array), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_ARRAY | VT_UI1);
  EXPECT_NE(V_ARRAY(&copy), V_ARRAY(&array));

  VARIANT reference;
  V_VT(&reference) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&reference) = &V_BSTR(&source);
  ASSERT_EQ(VariantCopy(&copy, &reference), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_BSTR | VT_BYREF);
  EXPECT_EQ(V_BSTRREF(&copy), &V_BSTR(&source));

  // A bad source leaves the destination alone.
  VARIANT bad;
  V_VT(&bad) = 99;
  Variant::text(&copy, OLESTR("kept"));
  EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(V_VT(&copy), VT_BSTR);
  EXPECT_EQ(VariantCopy(&bad, &source), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyIndDereferences) {
  Variant text;
  Variant::text(&text, OLESTR("value"));
  VARIANT reference;
  V_VT(&reference) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&reference) = &V_BSTR(&text);
  Variant copy;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_BSTR);
  EXPECT_NE(V_BSTR(&copy), V_BSTR(&text));
  EXPECT_EQ(textOf(V_BSTR(&copy)), OLESTR("value"));

  VARIANT variantReference;
  V_VT(&variantReference) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&variantReference) = &text;
  ASSERT_EQ(VariantCopyInd(&copy, &variantReference), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_BSTR);
  EXPECT_EQ(textOf(V_BSTR(&copy)), OLESTR("value"));

  // A reference to a variant that is itself a variant reference is refused.
  VARIANT twice;
  V_VT(&twice) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&twice) = &variantReference;
  EXPECT_EQ(VariantCopyInd(&copy, &twice), E_INVALIDARG);

  SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, 2);
  VARIANT arrayReference;
  V_VT(&arrayReference) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&arrayReference) = &array;
  ASSERT_EQ(VariantCopyInd(&copy, &arrayReference), S_OK);
  EXPECT_EQ(V_VT(&copy), VT_ARRAY | VT_UI1);
  EXPECT_NE(V_ARRAY(&copy), array);
  SafeArrayDestroy(array);

  // In place: the reference becomes an owned copy.
  VARIANT inPlace;
  V_VT(&inPlace) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&inPlace) = &V_BSTR(&text);
  ASSERT_EQ(VariantCopyInd(&inPlace, &inPlace), S_OK);
  EXPECT_EQ(V_VT(&inPlace), VT_BSTR);
  EXPECT_NE(V_BSTR(&inPlace), V_BSTR(&text));
  VariantClear(&inPlace);
}

}  // namespace
