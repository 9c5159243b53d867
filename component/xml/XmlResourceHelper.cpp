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
    const Text name(fileName != nullptr ? fileName : OLESTR(""));

    const HRESULT created = createOutside(CLSID_XmlDocument, IID_IXMLDOMDocument, document_);
    if (FAILED(created)) raiseFailedResult(RV_HERE, created, "Failed to create MSXML::DOMDocument");
    checked(document_->put_async(VARIANT_FALSE));

    if (loadDocument(document_.get(), name, RV_HERE)) return;
    if (parseErrorCode(document_.get()) == ObjectNotFound && !hasDriveLetter(name.c_str())) {
      ComPtr<IFolderBranding> branding;
      const HRESULT hr = createOutside(CLSID_FolderBranding, IID_IFolderBranding, branding);
      if (FAILED(hr)) raiseFailedResult(RV_HERE, hr, "Failed to create deDaravodi::FolderBranding component");
      Bstr folder;
      checked(branding->GetFolder(folder.put()));
      const bool found = loadDocument(document_.get(), textOf(folder.get()) + OLECHAR('\\') + name, RV_HERE);
      branding.reset();
      if (found) return;
    }
    // The name as it was given, not the branded path.
    raiseParseError(document_.get(), OLESTR("Invalid xml resource file: ") + name, RV_HERE);
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

    return AttributesOf(present(node)).required(Bstr(attribute));
  });
}

}  // namespace rv
