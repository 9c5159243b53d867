#include "XmlResourceHelper.h"

#include "log/Err.h"
#include "log/Frames.h"
#include "log/OutsideComponents.h"
#include "DomAccess.h"
#include "server/Text.h"

RV_SOURCE_UNIT("References\\Common\\XmlResourceHelper")

namespace rv {

namespace {

// The parse error code of a file the document could not find.
constexpr HRESULT ObjectNotFound = static_cast<HRESULT>(0x800C0006);

bool hasDriveLetter(const OLECHAR *name) { return name[0] != 0 && name[1] == ':'; }

}  // namespace

XmlResourceHelper::XmlResourceHelper(const OLECHAR *fileName) { Load(fileName); }

void XmlResourceHelper::Load(const OLECHAR *fileName) {
  RV_OPERATION("Load");
  passThrough(RV_HERE, [&] {
    if (document_) raiseFailedResult(RV_HERE, E_FAIL, "Resource file has already been loaded.");
    const WideString name(fileName != nullptr ? fileName : OLESTR(""));

    const HRESULT created = createOutside(CLSID_XmlDocument, IID_IXMLDOMDocument, document_);
    if (FAILED(created)) raiseFailedResult(RV_HERE, created, "Failed to create MSXML::DOMDocument");
    checked(document_->put_async(VARIANT_FALSE));

    // Whether the document read `path`; a failure of the call itself is raised.
    const auto loadFile = [&](const WideString &path) {
      Variant source;
      V_VT(source.get()) = VT_BSTR;
      V_BSTR(source.get()) = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
      if (V_BSTR(source.get()) == nullptr) throw ComError(E_OUTOFMEMORY);
      VARIANT_BOOL loaded = VARIANT_FALSE;
      const HRESULT hr = document_->load(*source.get(), &loaded);
      if (FAILED(hr)) raiseFailedResult(RV_HERE, hr, "MSXML::DOMDocument::loadXML failed");
      return loaded == VARIANT_TRUE;
    };
    const auto parseError = [&] {
      ComPtr<IXMLDOMParseError> error;
      checked(document_->get_parseError(error.put()));
      return error;
    };

    if (loadFile(name)) return;

    LONG code = 0;
    checked(present(parseError())->get_errorCode(&code));
    if (code == ObjectNotFound && !hasDriveLetter(name.c_str())) {
      ComPtr<IFolderBranding> branding;
      const HRESULT hr = createOutside(CLSID_FolderBranding, IID_IFolderBranding, branding);
      if (FAILED(hr)) raiseFailedResult(RV_HERE, hr, "Failed to create deDaravodi::FolderBranding component");
      Bstr folder;
      checked(branding->GetFolder(folder.put()));
      const bool found = loadFile(textOf(folder.get()) + OLECHAR('\\') + name);
      branding.reset();
      if (found) return;
    }

    const ComPtr<IXMLDOMParseError> error = parseError();
    Bstr reason;
    checked(present(error)->get_errorCode(&code));
    checked(error->get_reason(reason.put()));
    if (code < 0) {
      const WideString text = OLESTR("Invalid xml resource file: ") + name + OLESTR(". ") + textOf(reason.get());
      raiseFailedResult(RV_HERE, code, toAnsi(text.c_str(), text.size()));
    }
  });
}

Bstr XmlResourceHelper::GetAttributeString(const OLECHAR *xpath, const OLECHAR *attribute) {
  RV_OPERATION("GetAttributeString");
  return passThrough(RV_HERE, [&] {
    if (!document_) raiseNullPointer(RV_HERE);
    ComPtr<IXMLDOMElement> root;
    checked(document_->get_documentElement(root.put()));

    const Bstr expression(xpath);
    ComPtr<IXMLDOMNode> node;
    const HRESULT hr = present(root)->selectSingleNode(expression.get(), node.put());
    if (FAILED(hr)) raiseWithErrorInfo(RV_HERE, hr);

    return requiredAttributeOf(present(node), attribute);
  });
}

}  // namespace rv
