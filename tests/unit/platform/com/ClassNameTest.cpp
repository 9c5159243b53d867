// ProgIDs and class identifiers through the registry's class keys.
#include "ComTestSupport.h"

namespace {

const OLECHAR kProgId[] = OLESTR("PlatformComTest.Sample");

TEST(ClassName, ProgIdAndClassIdentifierThroughTheRegistry) {
  ClassesKey progIdKey(kProgId, OLESTR("Sample Class"));

  // A ProgID without a class, or with a class value that is not a braced
  // GUID, names nothing; the output is cleared.
  CLSID clsid = kOtherTestClass;
  EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
  ClassesKey clsidValue(WideString(kProgId) + OLESTR("\\CLSID"), OLESTR("not a class"));
  clsid = kOtherTestClass;
  EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
  // A value naming the ProgID itself is not followed round.
  ASSERT_TRUE(clsidValue.set(nullptr, kProgId));
  EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);

  ASSERT_TRUE(clsidValue.set(nullptr, guidText(kTestClass).c_str()));
  EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kTestClass));
  clsid = CLSID_NULL;
  EXPECT_EQ(CLSIDFromProgID(OLESTR("platformcomtest.SAMPLE"), &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kTestClass));
  // CLSIDFromString takes ProgIDs too.
  clsid = CLSID_NULL;
  EXPECT_EQ(CLSIDFromString(kProgId, &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kTestClass));

  // The class key names its ProgID; without that subkey it names none.
  LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(kTestClass, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
  ClassesKey classKeyOnly(classKeyPath(kTestClass), OLESTR("Sample Class"));
  EXPECT_EQ(ProgIDFromCLSID(kTestClass, &progId), REGDB_E_CLASSNOTREG);
  ClassesKey progIdSubkey(classKeyPath(kTestClass) + OLESTR("\\ProgID"), OLESTR("PlatformComTest.Sample.1"));
  ASSERT_EQ(ProgIDFromCLSID(kTestClass, &progId), S_OK);
  ASSERT_NE(progId, nullptr);
  EXPECT_EQ(WideString(progId), OLESTR("PlatformComTest.Sample.1"));
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(kTestClass, nullptr), E_INVALIDARG);
}

TEST(ClassName, UnknownNamesAndBadArguments) {
  CLSID clsid = kTestClass;
  EXPECT_EQ(CLSIDFromProgID(OLESTR("PlatformComTest.NoSuchName"), &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
  clsid = kTestClass;
  EXPECT_EQ(CLSIDFromString(OLESTR("PlatformComTest.NoSuchName"), &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
  EXPECT_EQ(CLSIDFromProgID(OLESTR(""), &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(OLESTR("PlatformComTest.NoSuchName"), nullptr), E_INVALIDARG);
  LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(kUnknownClass, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
}

// The XML DOM document is a class of the system: known by its ProgID both
// ways, without any key of ours, and on a thread without an apartment.
TEST(ClassName, DomDocumentIsKnownBothWays) {
  const CLSID domDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
  onNewThread([&] {
    CLSID clsid = CLSID_NULL;
    EXPECT_EQ(CLSIDFromProgID(OLESTR("Msxml2.DOMDocument"), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, domDocument));
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(domDocument, &progId), S_OK);
    EXPECT_EQ(WideString(progId), OLESTR("Msxml2.DOMDocument"));
    CoTaskMemFree(progId);
  });
}

}  // namespace
