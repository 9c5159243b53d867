#include "DirectReport.h"

#include "Module.h"
#include "server/Text.h"

namespace rv {

namespace {

// The source is the ProgID registered for `clsid`; it stays unset when there
// is none, as when an interface identifier is passed in its place.
void setDirectErrorInfo(REFCLSID clsid, const Text &description, REFIID iid) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetGUID(iid);
  LPOLESTR progId = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId != nullptr) {
    create->SetSource(progId);
    CoTaskMemFree(progId);
  }
  Bstr text = Bstr::attach(SysAllocStringLen(description.data(), static_cast<UINT>(description.size())));
  create->SetDescription(text.get());
  create->SetHelpFile(nullptr);
  create->SetHelpContext(0);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT reportDirect(REFCLSID clsid, UINT stringId, REFIID iid, HRESULT hr) {
  OLECHAR buffer[1024];
  const int length = LoadStringW(Module::instance(), stringId, buffer, 1024);
  setDirectErrorInfo(clsid, length > 0 ? Text(buffer, static_cast<size_t>(length)) : toWide("Unknown Error"), iid);
  return hr == 0 ? static_cast<HRESULT>(0x80040000u + stringId) : hr;
}

HRESULT reportDirect(REFCLSID clsid, const std::string &description, REFIID iid, HRESULT hr) {
  setDirectErrorInfo(clsid, toWide(description), iid);
  return hr;
}

}  // namespace rv
