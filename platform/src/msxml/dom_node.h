// The node half of the DOM document: what every IXMLDOMNode answers, written
// once over a libxml2 node, and the factories for node objects, node lists
// and attribute maps.
//
// The tree is read-only through these interfaces: members that would change
// it (appendChild, put_text, setAttribute, ...) answer E_NOTIMPL, as do
// schemas, typed values and transformations.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <vector>

#include "msxml/com_object.h"
#include "msxml/xml_support.h"

namespace platform::msxml {

class DomDocument;

// What a node object stands for: a libxml2 node of a tree, owned by a
// document object. The document object is the one whose ownerDocument the
// node reports; the tree is the one the node lives in.
struct NodeContext {
  DomDocument *owner;
  const TreeRef &tree;
  xmlNodePtr node;
};

// Node objects for libxml2 nodes. A null node gives S_FALSE and a null object.
HRESULT wrapNode(DomDocument *owner, const TreeRef &tree, xmlNodePtr node, IXMLDOMNode **out);
HRESULT createNodeList(DomDocument *owner, const TreeRef &tree, std::vector<xmlNodePtr> nodes, IXMLDOMNodeList **out);

namespace node_members {
HRESULT nodeName(const NodeContext &node, BSTR *name);
HRESULT nodeValue(const NodeContext &node, VARIANT *value);
HRESULT nodeType(const NodeContext &node, DOMNodeType *type);
HRESULT parentNode(const NodeContext &node, IXMLDOMNode **parent);
HRESULT childNodes(const NodeContext &node, IXMLDOMNodeList **children);
HRESULT firstChild(const NodeContext &node, IXMLDOMNode **child);
HRESULT lastChild(const NodeContext &node, IXMLDOMNode **child);
HRESULT previousSibling(const NodeContext &node, IXMLDOMNode **sibling);
HRESULT nextSibling(const NodeContext &node, IXMLDOMNode **sibling);
HRESULT attributes(const NodeContext &node, IXMLDOMNamedNodeMap **map);
HRESULT hasChildNodes(const NodeContext &node, VARIANT_BOOL *hasChild);
HRESULT ownerDocument(const NodeContext &node, IXMLDOMDocument **document);
HRESULT nodeTypeString(const NodeContext &node, BSTR *typeName);
HRESULT text(const NodeContext &node, BSTR *text);
HRESULT dataType(const NodeContext &node, VARIANT *dataTypeName);
HRESULT xml(const NodeContext &node, BSTR *xmlText);
HRESULT selectNodes(const NodeContext &node, BSTR query, IXMLDOMNodeList **result);
HRESULT selectSingleNode(const NodeContext &node, BSTR query, IXMLDOMNode **result);
HRESULT namespaceURI(const NodeContext &node, BSTR *uri);
HRESULT prefix(const NodeContext &node, BSTR *prefixText);
HRESULT baseName(const NodeContext &node, BSTR *name);
HRESULT elementsByTagName(const NodeContext &node, BSTR tagName, IXMLDOMNodeList **result);
}  // namespace node_members

// IXMLDOMNode over context(), for any interface that derives from it.
template <class Interface> class NodeObject : public DispatchObject<Interface> {
 public:
  HRESULT STDMETHODCALLTYPE get_nodeName(BSTR *name) override { return node_members::nodeName(context(), name); }
  HRESULT STDMETHODCALLTYPE get_nodeValue(VARIANT *value) override { return node_members::nodeValue(context(), value); }
  HRESULT STDMETHODCALLTYPE put_nodeValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType *type) override { return node_members::nodeType(context(), type); }
  HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode **parent) override {
    return node_members::parentNode(context(), parent);
  }
  HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList **children) override {
    return node_members::childNodes(context(), children);
  }
  HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode **child) override {
    return node_members::firstChild(context(), child);
  }
  HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode **child) override {
    return node_members::lastChild(context(), child);
  }
  HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode **sibling) override {
    return node_members::previousSibling(context(), sibling);
  }
  HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode **sibling) override {
    return node_members::nextSibling(context(), sibling);
  }
  HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap **map) override {
    return node_members::attributes(context(), map);
  }
  HRESULT STDMETHODCALLTYPE insertBefore(IXMLDOMNode *, VARIANT, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE replaceChild(IXMLDOMNode *, IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL *hasChild) override {
    return node_members::hasChildNodes(context(), hasChild);
  }
  HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument **document) override {
    return node_members::ownerDocument(context(), document);
  }
  HRESULT STDMETHODCALLTYPE cloneNode(VARIANT_BOOL, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_nodeTypeString(BSTR *typeName) override {
    return node_members::nodeTypeString(context(), typeName);
  }
  HRESULT STDMETHODCALLTYPE get_text(BSTR *text) override { return node_members::text(context(), text); }
  HRESULT STDMETHODCALLTYPE put_text(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_specified(VARIANT_BOOL *isSpecified) override {
    if (isSpecified == nullptr) return E_INVALIDARG;
    *isSpecified = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_definition(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_nodeTypedValue(VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_nodeTypedValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_dataType(VARIANT *dataTypeName) override {
    return node_members::dataType(context(), dataTypeName);
  }
  HRESULT STDMETHODCALLTYPE put_dataType(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_xml(BSTR *xmlText) override { return node_members::xml(context(), xmlText); }
  HRESULT STDMETHODCALLTYPE transformNode(IXMLDOMNode *, BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE selectNodes(BSTR query, IXMLDOMNodeList **result) override {
    return node_members::selectNodes(context(), query, result);
  }
  HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR query, IXMLDOMNode **result) override {
    return node_members::selectSingleNode(context(), query, result);
  }
  HRESULT STDMETHODCALLTYPE get_parsed(VARIANT_BOOL *isParsed) override {
    if (isParsed == nullptr) return E_INVALIDARG;
    *isParsed = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_namespaceURI(BSTR *uri) override { return node_members::namespaceURI(context(), uri); }
  HRESULT STDMETHODCALLTYPE get_prefix(BSTR *prefixText) override {
    return node_members::prefix(context(), prefixText);
  }
  HRESULT STDMETHODCALLTYPE get_baseName(BSTR *name) override { return node_members::baseName(context(), name); }
  HRESULT STDMETHODCALLTYPE transformNodeToObject(IXMLDOMNode *, VARIANT) override { return E_NOTIMPL; }

 protected:
  virtual NodeContext context() = 0;
};

}  // namespace platform::msxml
