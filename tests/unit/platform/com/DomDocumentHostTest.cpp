// A host as the component's users write them: it creates the XML DOM document
// by class identifier on a thread that called CoInitializeEx, and is told
// CO_E_NOTINITIALIZED on a thread that did not.
#include "ComTestSupport.h"

namespace {

const CLSID kDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

HRESULT createDomDocument() {
  Ref<IUnknown> object;
  HRESULT hr = CoCreateInstance(kDomDocument, nullptr, CLSCTX_ALL, IID_IUnknown, object.out());
  if (FAILED(hr)) {
    EXPECT_EQ(object.get(), nullptr);
    return hr;
  }
  EXPECT_EQ(OleRun(object.get()), S_OK);
  Ref<IDispatch> dispatch;
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, dispatch.out()), S_OK);
  EXPECT_NE(dispatch.get(), nullptr);
  return hr;
}

TEST(DomDocumentHost, CreatedOnlyOnAnInitialisedThread) {
  for (DWORD mode : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    onNewThread([mode] {
      Apartment apartment(mode);
      ASSERT_EQ(apartment.result(), S_OK);
      EXPECT_EQ(createDomDocument(), S_OK) << "mode " << mode;
      // By its ProgID, as scripts name it.
      CLSID clsid = CLSID_NULL;
      EXPECT_EQ(CLSIDFromProgID(OLESTR("Msxml2.DOMDocument"), &clsid), S_OK);
      Ref<IDispatch> byProgId;
      EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, byProgId.out()), S_OK);
    });
  }
  onNewThread([] { EXPECT_EQ(createDomDocument(), CO_E_NOTINITIALIZED); });
}

}  // namespace
