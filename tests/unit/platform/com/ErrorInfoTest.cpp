// Error information objects and the per-thread error information slot.
#include "ComTestSupport.h"
#include "OleOwners.h"

namespace {

// A new error information object, as IErrorInfo.
IErrorInfo *newErrorInfo(const OLECHAR *description) {
  Com<ICreateErrorInfo> create;
  IErrorInfo *info = nullptr;
  EXPECT_EQ(CreateErrorInfo(create.out()), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)), S_OK);
  return info;
}

// The object's reference count, as AddRef and Release report it.
ULONG references(IUnknown *object) {
  object->AddRef();
  return object->Release();
}

// Texts never set read back as null strings, a null text clears a field and
// an empty one is kept; the object copies what it is given. (The GUID of a
// fresh object is not pinned: Wine 8 leaves it uninitialised.)
TEST(ErrorInfo, CreatedObjectCopiesItsTextsAndNamesItsInterface) {
  Com<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.out()), S_OK);
  Com<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, info.outVoid()), S_OK);
  Bstr source, description;
  EXPECT_EQ(info->GetSource(source.out()), S_OK);
  EXPECT_EQ(source.get(), nullptr);
  OLECHAR text[] = OLESTR("PlatformComTest.Source");
  EXPECT_EQ(create->SetSource(text), S_OK);
  EXPECT_EQ(create->SetGUID(kTestClass), S_OK);
  text[0] = 'X';
  EXPECT_EQ(info->GetSource(source.out()), S_OK);
  EXPECT_EQ(source.text(), OLESTR("PlatformComTest.Source"));
  EXPECT_EQ(create->SetSource(nullptr), S_OK);
  EXPECT_EQ(info->GetSource(source.out()), S_OK);
  EXPECT_EQ(source.get(), nullptr);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR(""))), S_OK);
  EXPECT_EQ(info->GetDescription(description.out()), S_OK);
  ASSERT_NE(description.get(), nullptr);
  EXPECT_EQ(SysStringLen(description.get()), 0u);
  EXPECT_EQ(info->GetSource(nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);

  // One object behind both interfaces; it tells which interface its errors belong to.
  Com<IUnknown> viaCreate, viaInfo;
  EXPECT_EQ(create->QueryInterface(IID_IUnknown, viaCreate.outVoid()), S_OK);
  EXPECT_EQ(info->QueryInterface(IID_IUnknown, viaInfo.outVoid()), S_OK);
  EXPECT_EQ(viaCreate.get(), viaInfo.get());
  Com<ISupportErrorInfo> support;
  ASSERT_EQ(info->QueryInterface(IID_ISupportErrorInfo, support.outVoid()), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kTestClass), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kOtherTestClass), S_FALSE);
}

// Reading the slot hands the reference over and empties it; every thread
// has its own, released when the thread ends.
TEST(ErrorInfo, ThreadSlotIsConsumedByReadingAndBelongsToItsThread) {
  onNewThread([] {
    Com<IErrorInfo> info(newErrorInfo(OLESTR("one"))), other(newErrorInfo(OLESTR("other")));
    IErrorInfo *out = reinterpret_cast<IErrorInfo *>(1);
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SetErrorInfo(0, info.get()), S_OK);
    EXPECT_EQ(references(info.get()), 2u);
    EXPECT_EQ(SetErrorInfo(1, info.get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(1, &out), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    onNewThread([] {
      IErrorInfo *none = reinterpret_cast<IErrorInfo *>(1);
      EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
      EXPECT_EQ(none, nullptr);
    });
    EXPECT_EQ(GetErrorInfo(0, &out), S_OK);
    EXPECT_EQ(out, info.get());
    EXPECT_EQ(references(info.get()), 2u);
    out->Release();
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);

    // Setting replaces and releases; null clears.
    EXPECT_EQ(SetErrorInfo(0, info.get()), S_OK);
    EXPECT_EQ(SetErrorInfo(0, other.get()), S_OK);
    EXPECT_EQ(references(info.get()), 1u);
    EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(references(other.get()), 1u);
  });
  Com<IErrorInfo> left(newErrorInfo(OLESTR("left behind")));
  onNewThread([&] { EXPECT_EQ(SetErrorInfo(0, left.get()), S_OK); });
  EXPECT_EQ(references(left.get()), 1u);
}

}  // namespace
