#include "TreePublisherObject.h"

#include <new>
#include <utility>

#include "Boundary.h"
#include "TypeInformation.h"
#include "rvZedaZuvivurAzodav.h"

namespace rv::automation {

namespace {

const OLECHAR Source[] = OLESTR("rvTreePublisher.TreePublisher");
// The dispatch identifier of Publish in the type library.
constexpr DISPID DispatchIdOfPublish = 1;

// The descriptions of ITreePublisher, from the module's own type library, so
// that an object dispatches whether or not the library is registered.
HRESULT publisherTypeInfo(ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo) {
  return inproc::typeInfo(
      IID_ITreePublisher, 0, [](LCID, ITypeLib **library) { return inproc::loadModuleLibrary(library); }, dispatchInfo,
      vtableInfo);
}

// Hands the thread an error description for a failure of ITreePublisher, for
// the caller to read through GetErrorInfo (a script as e.description), and
// gives back the failure's code.
HRESULT fail(HRESULT hr, const Text &description) {
  ComPtr<ICreateErrorInfo> created;
  if (FAILED(CreateErrorInfo(created.put()))) return hr;
  created->SetGUID(IID_ITreePublisher);
  created->SetSource(const_cast<LPOLESTR>(Source));
  created->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(created.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
  return hr;
}

// The system's text for a code, without its line end; empty when it has none.
// A code of the Win32 facility is also looked up by its Win32 number, which
// is where the message tables keep most of them.
Text systemMessage(HRESULT hr) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  Text text;
  DWORD codes[] = {static_cast<DWORD>(hr), static_cast<DWORD>(HRESULT_CODE(hr))};
  const size_t tries = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? 2 : 1;
  for (size_t at = 0; at < tries && text.empty(); ++at) {
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(flags, nullptr, codes[at], 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Why a call failed: its code and the system's text for it.
Text reason(HRESULT hr) {
  OLECHAR code[16];
  wsprintfW(code, OLESTR("0x%08X"), static_cast<unsigned>(hr));
  const Text message = systemMessage(hr);
  return message.empty() ? Text(code) : code + (OLESTR(": ") + message);
}

// What a callee that failed (the manager, in MyBlob) described through error
// information, after a space; empty when it left none.
Text calleeDescription() {
  ComPtr<IErrorInfo> left;
  Bstr description;
  if (GetErrorInfo(0, left.put()) != S_OK || !left || FAILED(left->GetDescription(description.put())) ||
      description.length() == 0)
    return Text();
  return OLESTR(" ") + Text(description.get(), description.length());
}

// Arguments that cannot be bound to the member's parameters (a script's null,
// a text or a missing argument where Publish takes an object) fail inside
// DispInvoke, before the member runs; they are described here, so that a
// script reads a description for them as for every other failure.
HRESULT describeArgumentFailure(ITypeInfo *info, DISPID member, HRESULT hr, EXCEPINFO *exception) {
  if ((hr != DISP_E_TYPEMISMATCH && hr != DISP_E_PARAMNOTFOUND && hr != DISP_E_BADPARAMCOUNT) || exception == nullptr)
    return hr;
  Text text;
  if (member == DispatchIdOfPublish) {
    text = hr == DISP_E_TYPEMISMATCH
               ? OLESTR("Publish takes a PerfMgr object of rvZedaZuvivurAzodav; the argument given is not an object (")
               : OLESTR("Publish takes one argument, a PerfMgr object of rvZedaZuvivurAzodav (");
    text += reason(hr) + OLESTR(").");
  } else {
    Bstr name;
    info->GetDocumentation(member, name.put(), nullptr, nullptr, nullptr);
    text = (name.get() != nullptr ? Text(name.get()) : Text(OLESTR("The member"))) +
           OLESTR(" was given arguments it does not take: ") + reason(hr);
  }
  *exception = EXCEPINFO{};
  exception->scode = hr;
  exception->bstrSource = SysAllocString(Source);
  exception->bstrDescription = SysAllocString(text.c_str());
  return DISP_E_EXCEPTION;
}

}  // namespace

HRESULT TreePublisherObject::create(IUnknown *, REFIID riid, void **object) {
  auto made = new (std::nothrow) TreePublisherObject;
  if (made == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = made->QueryInterface(riid, object);
  made->Release();
  return hr;
}

HRESULT TreePublisherObject::QueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITreePublisher))
    *object = static_cast<ITreePublisher *>(this);
  else if (IsEqualIID(riid, IID_ISupportErrorInfo))
    *object = static_cast<ISupportErrorInfo *>(this);
  else
    return *object = nullptr, E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG TreePublisherObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG TreePublisherObject::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT TreePublisherObject::GetTypeInfoCount(UINT *count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TreePublisherObject::GetTypeInfo(UINT index, LCID, ITypeInfo **info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return inproc::boundary([&] { return publisherTypeInfo(info, nullptr); });
}

HRESULT TreePublisherObject::GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID, DISPID *ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return inproc::boundary([&] {
    ComPtr<ITypeInfo> info;
    const HRESULT hr = publisherTypeInfo(nullptr, info.put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.get(), names, count, ids);
  });
}

HRESULT TreePublisherObject::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS *parameters,
                                    VARIANT *result, EXCEPINFO *exception, UINT *argumentError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return inproc::boundary([&] {
    ComPtr<ITypeInfo> info;
    const HRESULT hr = publisherTypeInfo(nullptr, info.put());
    if (FAILED(hr)) return hr;
    const HRESULT invoked = DispInvoke(static_cast<ITreePublisher *>(this), info.get(), member, flags, parameters,
                                       result, exception, argumentError);
    return describeArgumentFailure(info.get(), member, invoked, exception);
  });
}

// A failure that comes as an exception leaves no error information of the
// manager's behind it: a script reads the failure's own.
HRESULT TreePublisherObject::Publish(IDispatch *manager) {
  return inproc::boundary([&] { return publish(manager); },
                          [](HRESULT hr) {
                            SetErrorInfo(0, nullptr);
                            return fail(hr, hr == E_OUTOFMEMORY ? OLESTR("There is no memory left to publish the tree.")
                                                                : OLESTR("Publishing the tree failed unexpectedly."));
                          });
}

HRESULT TreePublisherObject::publish(IDispatch *manager) {
  if (manager == nullptr) return fail(E_POINTER, OLESTR("Publish needs a PerfMgr object; none was given."));
  ComPtr<IPerfMgr> perfMgr;
  if (FAILED(manager->QueryInterface(IID_IPerfMgr, perfMgr.putVoid())))
    return fail(E_INVALIDARG,
                OLESTR("Publish takes a PerfMgr object of rvZedaZuvivurAzodav; the object given is not one."));
  Bstr deviceName;
  SetErrorInfo(0, nullptr);
  HRESULT hr = perfMgr->get_DeviceName(deviceName.put());
  if (FAILED(hr))
    return fail(hr, OLESTR("The DeviceName of the manager could not be read: ") + reason(hr) + calleeDescription());
  const Text device = deviceName.get() != nullptr ? Text(deviceName.get()) : Text();
  if (device.empty())
    return fail(E_INVALIDARG, OLESTR("The manager has no DeviceName; set it before publishing its tree."));

  Lock guard(lock_);
  if (publisher_ && publisher_->device() != device)
    return fail(E_INVALIDARG, OLESTR("This publisher publishes the tree of device '") + publisher_->device() +
                                  OLESTR("'; the tree of device '") + device +
                                  OLESTR("' needs a TreePublisher of its own."));
  // The device is fixed only once a tree of it has been published; a first
  // Publish that fails leaves the object as it was.
  std::unique_ptr<publishing::TreePublisher> made;
  if (!publisher_) {
    made.reset(new (std::nothrow) publishing::TreePublisher(device.c_str()));
    if (!made) return fail(E_OUTOFMEMORY, OLESTR("There is no memory left to publish the tree."));
  }
  // Cleared, so that error information found after a failure is the
  // manager's own, from MyBlob.
  SetErrorInfo(0, nullptr);
  hr = (made ? made : publisher_)->publish(perfMgr.get());
  if (FAILED(hr))
    return fail(hr, OLESTR("The tree of device '") + device + OLESTR("' could not be published: ") + reason(hr) +
                        calleeDescription());
  if (made) publisher_ = std::move(made);
  return S_OK;
}

HRESULT TreePublisherObject::Withdraw() {
  return inproc::boundary([&] {
    Lock guard(lock_);
    if (publisher_) publisher_->withdraw();
    return S_OK;
  });
}

HRESULT TreePublisherObject::get_Generation(LONG *value) {
  if (value == nullptr) return E_POINTER;
  return inproc::boundary([&] {
    Lock guard(lock_);
    *value = publisher_ ? static_cast<LONG>(publisher_->generation()) : 0;
    return S_OK;
  });
}

HRESULT TreePublisherObject::get_DeviceName(BSTR *value) {
  if (value == nullptr) return E_POINTER;
  return inproc::boundary([&] {
    Lock guard(lock_);
    *value = SysAllocString(publisher_ ? publisher_->device().c_str() : OLESTR(""));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT TreePublisherObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_ITreePublisher) ? S_OK : S_FALSE;
}

}  // namespace rv::automation
