// Reading a document of the XML DOM the way the component does everywhere: a
// node or attribute that is not there is a null pointer, and using it fails
// with E_POINTER, as it would through a smart pointer of the DOM's type
// library. Failed calls are raised with the thread's error information.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include "log/ComError.h"
#include "log/Err.h"
#include "server/ComPtr.h"
#include "server/Text.h"

namespace rv {

// The MSXML DOM document class. mingw-w64's libraries lack it under this
// name, so the component carries its own copy of the identifier.
inline constexpr CLSID CLSID_XmlDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

template <typename T> T *present(const ComPtr<T> &object) {
  if (!object) throw ComError(E_POINTER);
  return object.get();
}

// The attributes of one element, each read by name from the element itself,
// which hands out its value without an attribute node to release. A node
// that is no element (nor has attributes) fails each lookup with E_POINTER,
// at the lookup.
class AttributesOf {
 public:
  explicit AttributesOf(IXMLDOMNode *node) {
    if (FAILED(node->QueryInterface(IID_IXMLDOMElement, element_.putVoid()))) element_.reset();
  }

  // The text of attribute `name`; null when the element has no such
  // attribute.
  Bstr optional(const Bstr &name) const {
    Variant value;
    checked(present(element_)->getAttribute(name.get(), value.get()));
    if (V_VT(value.get()) != VT_BSTR) return Bstr();
    Bstr text = Bstr::attach(V_BSTR(value.get()));
    V_VT(value.get()) = VT_EMPTY;
    return text.get() != nullptr ? std::move(text) : Bstr(OLESTR(""));
  }

  // The same for an attribute that must be there.
  Bstr required(const Bstr &name) const {
    Bstr value = optional(name);
    if (value.get() == nullptr) throw ComError(E_POINTER);
    return value;
  }

 private:
  ComPtr<IXMLDOMElement> element_;
};

// Calls `visit` with every node that `path` selects below `node`, in
// document order.
template <typename Visit> void forEachSelected(IXMLDOMNode *node, const OLECHAR *path, Visit &&visit) {
  const Bstr query(path);
  ComPtr<IXMLDOMNodeList> nodes;
  checked(node->selectNodes(query.get(), nodes.put()));
  LONG count = 0;
  checked(present(nodes)->get_length(&count));
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> item;
    checked(nodes->get_item(i, item.put()));
    visit(present(item));
  }
}

// Loads the file `path` into the document; false when the document could not
// read it (its parse error says why). A failure of the call itself is raised.
inline bool loadDocument(IXMLDOMDocument *document, const Text &path, const Site &site) {
  Variant source;
  V_VT(source.get()) = VT_BSTR;
  V_BSTR(source.get()) = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  if (V_BSTR(source.get()) == nullptr) raiseResult(site, E_OUTOFMEMORY);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = document->load(*source.get(), &loaded);
  if (FAILED(hr)) raiseFailedResult(site, hr, "MSXML::DOMDocument::loadXML failed");
  return loaded == VARIANT_TRUE;
}

// The code of the document's last parse error.
inline LONG parseErrorCode(IXMLDOMDocument *document) {
  ComPtr<IXMLDOMParseError> error;
  checked(document->get_parseError(error.put()));
  LONG code = 0;
  checked(present(error)->get_errorCode(&code));
  return code;
}

// Raises the document's last parse error with its code and `text`, ". " and
// the parser's reason, when the code is a failure; a code that is none
// raises nothing.
inline void raiseParseError(IXMLDOMDocument *document, const Text &text, const Site &site) {
  ComPtr<IXMLDOMParseError> error;
  checked(document->get_parseError(error.put()));
  LONG code = 0;
  Bstr reason;
  checked(present(error)->get_errorCode(&code));
  checked(error->get_reason(reason.put()));
  if (code >= 0) return;
  const Text whole = text + OLESTR(". ") + textOf(reason.get());
  raiseFailedResult(site, code, toAnsi(whole.c_str(), whole.size()));
}

}  // namespace rv
