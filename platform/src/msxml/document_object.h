// The DOM document object itself: the document node of its current tree,
// the load operations and the document's properties.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <utility>
#include <vector>

#include "msxml/dom_node.h"
#include "msxml/xml_parser.h"

namespace platform::msxml {

// Prefix and namespace URI pairs that XPath expressions may use.
using SelectionNamespaces = std::vector<std::pair<std::string, std::string>>;

class DomDocument final : public NodeObject<IXMLDOMDocument2> {
 public:
  DomDocument();
  // A document object for a tree that `settings` showed before it loaded
  // another, with the same properties.
  DomDocument(TreeRef tree, const DomDocument &settings);

  // The tree the document shows now; a node of it that is the document node
  // is this object.
  const TreeRef &tree() const { return tree_; }
  // The document object of a tree: this one for its current tree, a new one
  // for a tree it held before.
  HRESULT documentOf(const TreeRef &tree, IXMLDOMDocument **document);
  const SelectionNamespaces &selectionNamespaces() const { return selectionNamespaces_; }
  bool preservesWhiteSpace() const { return preserveWhiteSpace_; }

  HRESULT STDMETHODCALLTYPE get_doctype(IXMLDOMDocumentType **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_implementation(IXMLDOMImplementation **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement **element) override;
  HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createElement(BSTR, IXMLDOMElement **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createDocumentFragment(IXMLDOMDocumentFragment **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createTextNode(BSTR, IXMLDOMText **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createComment(BSTR, IXMLDOMComment **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createCDATASection(BSTR, IXMLDOMCDATASection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createProcessingInstruction(BSTR, BSTR, IXMLDOMProcessingInstruction **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE createAttribute(BSTR, IXMLDOMAttribute **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE createEntityReference(BSTR, IXMLDOMEntityReference **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList **result) override {
    return node_members::elementsByTagName(context(), tagName, result);
  }
  HRESULT STDMETHODCALLTYPE createNode(VARIANT, BSTR, BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE nodeFromID(BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE load(VARIANT source, VARIANT_BOOL *isSuccessful) override;
  HRESULT STDMETHODCALLTYPE get_readyState(LONG *value) override;
  HRESULT STDMETHODCALLTYPE get_parseError(IXMLDOMParseError **errorObject) override;
  HRESULT STDMETHODCALLTYPE get_url(BSTR *url) override;
  HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL *isAsync) override { return getFlag(async_, isAsync); }
  HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL isAsync) override { return putFlag(async_, isAsync); }
  HRESULT STDMETHODCALLTYPE abort() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE loadXML(BSTR text, VARIANT_BOOL *isSuccessful) override;
  HRESULT STDMETHODCALLTYPE save(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL *value) override {
    return getFlag(validateOnParse_, value);
  }
  HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL value) override {
    return putFlag(validateOnParse_, value);
  }
  HRESULT STDMETHODCALLTYPE get_resolveExternals(VARIANT_BOOL *value) override {
    return getFlag(resolveExternals_, value);
  }
  HRESULT STDMETHODCALLTYPE put_resolveExternals(VARIANT_BOOL value) override {
    return putFlag(resolveExternals_, value);
  }
  HRESULT STDMETHODCALLTYPE get_preserveWhiteSpace(VARIANT_BOOL *value) override {
    return getFlag(preserveWhiteSpace_, value);
  }
  HRESULT STDMETHODCALLTYPE put_preserveWhiteSpace(VARIANT_BOOL value) override {
    return putFlag(preserveWhiteSpace_, value);
  }
  HRESULT STDMETHODCALLTYPE put_onreadystatechange(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ondataavailable(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ontransformnode(VARIANT) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE get_namespaces(IXMLDOMSchemaCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_schemas(VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_schemas(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE validate(IXMLDOMParseError **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE setProperty(BSTR name, VARIANT value) override;
  HRESULT STDMETHODCALLTYPE getProperty(BSTR name, VARIANT *value) override;

 protected:
  NodeContext context() override { return {this, tree_, tree_->root()}; }
  bool answers(REFIID riid) const override;

 private:
  static HRESULT getFlag(bool flag, VARIANT_BOOL *out);
  static HRESULT putFlag(bool &flag, VARIANT_BOOL value);
  // Takes the outcome of a load: the new tree on success, an empty one with
  // the parse error otherwise.
  HRESULT finishLoad(ParseOutcome outcome, const WideString &url, VARIANT_BOOL *isSuccessful);
  ParseOptions parseOptions() const;

  TreeRef tree_;
  ParseErrorInfo parseError_;
  WideString url_;
  // MSXML 3.0's defaults. Documents are never validated and external
  // resources never fetched, whatever validateOnParse and resolveExternals say.
  bool async_ = true;
  bool validateOnParse_ = true;
  bool resolveExternals_ = true;
  bool preserveWhiteSpace_ = false;
  bool xpathSelection_ = false;
  std::string selectionNamespacesText_;
  SelectionNamespaces selectionNamespaces_;
};

}  // namespace platform::msxml
