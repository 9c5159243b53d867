// Error information objects and the per-thread error information slot.
#include "ComTestSupport.h"

namespace {

OleString textOf(BSTR text) { return text == nullptr ? OleString() : OleString(text, SysStringLen(text)); }

// Reads every field through IErrorInfo.
struct Fields {
  explicit Fields(IErrorInfo *info) {
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_EQ(info->GetSource(&source), S_OK);
    EXPECT_EQ(info->GetDescription(&description), S_OK);
    EXPECT_EQ(info->GetHelpFile(&helpFile), S_OK);
    EXPECT_EQ(info->GetHelpContext(&helpContext), S_OK);
  }
  ~Fields() {
    SysFreeString(source);
    SysFreeString(description);
    SysFreeString(helpFile);
  }
  GUID guid = kUnknownClass;
  BSTR source = reinterpret_cast<BSTR>(1);
  BSTR description = reinterpret_cast<BSTR>(1);
  BSTR helpFile = reinterpret_cast<BSTR>(1);
  DWORD helpContext = 99;
};

// A new error information object, as IErrorInfo.
IErrorInfo *newErrorInfo(const OLECHAR *description) {
  ICreateErrorInfo *create = nullptr;
  IErrorInfo *info = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)), S_OK);
  create->Release();
  return info;
}

// The object's reference count, as AddRef and Release report it.
ULONG references(IUnknown *object) {
  object->AddRef();
  return object->Release();
}

TEST(ErrorInfo, CreatedObjectKeepsEveryField) {
  Ref<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(reinterpret_cast<ICreateErrorInfo **>(create.out())), S_OK);
  Ref<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, info.out()), S_OK);
  {
    // Texts never set read back as null strings. (The GUID and help context
    // of a fresh object are not pinned: Wine 8 leaves its GUID uninitialised.)
    Fields fields(info.get());
    EXPECT_EQ(fields.source, nullptr);
    EXPECT_EQ(fields.description, nullptr);
    EXPECT_EQ(fields.helpFile, nullptr);
  }
  OLECHAR source[] = OLESTR("PlatformComTest.Source");
  EXPECT_EQ(create->SetGUID(kTestClass), S_OK);
  EXPECT_EQ(create->SetSource(source), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR("Something \u00e9 failed."))), S_OK);
  EXPECT_EQ(create->SetHelpFile(const_cast<LPOLESTR>(OLESTR("C:\\help\\test.chm"))), S_OK);
  EXPECT_EQ(create->SetHelpContext(0xFFFFFFFE), S_OK);
  // The object keeps its own copy of every text.
  source[0] = 'X';
  {
    Fields fields(info.get());
    EXPECT_TRUE(IsEqualGUID(fields.guid, kTestClass));
    EXPECT_EQ(textOf(fields.source), OLESTR("PlatformComTest.Source"));
    EXPECT_EQ(textOf(fields.description), OLESTR("Something \u00e9 failed."));
    EXPECT_EQ(textOf(fields.helpFile), OLESTR("C:\\help\\test.chm"));
    EXPECT_EQ(fields.helpContext, 0xFFFFFFFEu);
  }
  // A null text clears a field; an empty one is kept as empty.
  EXPECT_EQ(create->SetSource(nullptr), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR(""))), S_OK);
  {
    Fields fields(info.get());
    EXPECT_EQ(fields.source, nullptr);
    ASSERT_NE(fields.description, nullptr);
    EXPECT_EQ(SysStringLen(fields.description), 0u);
  }
  EXPECT_EQ(info->GetSource(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetGUID(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetHelpContext(nullptr), E_INVALIDARG);

  // One object: both interfaces lead to the same identity; it also tells
  // which interface its errors belong to.
  Ref<IUnknown> viaCreate, viaInfo;
  EXPECT_EQ(create->QueryInterface(IID_IUnknown, viaCreate.out()), S_OK);
  EXPECT_EQ(info->QueryInterface(IID_IUnknown, viaInfo.out()), S_OK);
  EXPECT_EQ(viaCreate.get(), viaInfo.get());
  Ref<ISupportErrorInfo> support;
  ASSERT_EQ(info->QueryInterface(IID_ISupportErrorInfo, support.out()), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kTestClass), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kOtherTestClass), S_FALSE);
  Ref<IUnknown> none;
  EXPECT_EQ(info->QueryInterface(IID_IDispatch, none.out()), E_NOINTERFACE);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, ThreadSlotIsConsumedByReading) {
  onNewThread([] {
    Ref<IErrorInfo> info(newErrorInfo(OLESTR("one"))), other(newErrorInfo(OLESTR("other")));
    IErrorInfo *out = reinterpret_cast<IErrorInfo *>(1);
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
    EXPECT_EQ(out, nullptr);

    EXPECT_EQ(SetErrorInfo(0, info.get()), S_OK);
    EXPECT_EQ(references(info.get()), 2u);
    EXPECT_EQ(SetErrorInfo(1, info.get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(1, &out), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    // Reading hands the reference over and empties the slot.
    EXPECT_EQ(GetErrorInfo(0, &out), S_OK);
    EXPECT_EQ(out, info.get());
    EXPECT_EQ(references(info.get()), 2u);
    out->Release();
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
    EXPECT_EQ(out, nullptr);

    // Setting replaces and releases; null clears.
    EXPECT_EQ(SetErrorInfo(0, info.get()), S_OK);
    EXPECT_EQ(SetErrorInfo(0, other.get()), S_OK);
    EXPECT_EQ(references(info.get()), 1u);
    EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(references(other.get()), 1u);
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
  });
}

// Every thread has its own slot, released when the thread ends.
TEST(ErrorInfo, EachThreadHasItsOwn) {
  Ref<IErrorInfo> left(newErrorInfo(OLESTR("left behind")));
  onNewThread([&] { EXPECT_EQ(SetErrorInfo(0, left.get()), S_OK); });
  EXPECT_EQ(references(left.get()), 1u);

  onNewThread([] {
    Ref<IErrorInfo> info(newErrorInfo(OLESTR("first thread")));
    ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
    onNewThread([] {
      IErrorInfo *out = reinterpret_cast<IErrorInfo *>(1);
      EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
      EXPECT_EQ(out, nullptr);
    });
    Ref<IErrorInfo> read;
    ASSERT_EQ(GetErrorInfo(0, reinterpret_cast<IErrorInfo **>(read.out())), S_OK);
    EXPECT_EQ(read.get(), info.get());
  });
}

}  // namespace
