// Reading a document of the XML DOM the way the component does everywhere: a
// node or attribute that is not there is a null pointer, and using it fails
// with E_POINTER, as it would through a smart pointer of the DOM's type
// library. Failed calls are raised with the thread's error information.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include "log/ComError.h"
#include "server/ComPtr.h"

namespace rv {

// The MSXML DOM document class. mingw-w64's libraries lack it under this
// name, so the component carries its own copy of the identifier.
inline constexpr CLSID CLSID_XmlDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

template <typename T> T *present(const ComPtr<T> &object) {
  if (!object) throw ComError(E_POINTER);
  return object.get();
}

// The text of attribute `name` of `node`; null when the node has no such
// attribute.
inline Bstr attributeOf(IXMLDOMNode *node, const OLECHAR *name) {
  ComPtr<IXMLDOMNamedNodeMap> attributes;
  checked(node->get_attributes(attributes.put()));
  const Bstr key(name);
  ComPtr<IXMLDOMNode> found;
  checked(present(attributes)->getNamedItem(key.get(), found.put()));
  Bstr value;
  if (found) checked(found->get_text(value.put()));
  if (found && value.get() == nullptr) value = Bstr(OLESTR(""));
  return value;
}

// The same for an attribute that must be there.
inline Bstr requiredAttributeOf(IXMLDOMNode *node, const OLECHAR *name) {
  Bstr value = attributeOf(node, name);
  if (value.get() == nullptr) throw ComError(E_POINTER);
  return value;
}

}  // namespace rv
