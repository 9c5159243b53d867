#include "msxml/dom_node.h"

#include <libxml/entities.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "kernel/paths.h"
#include "msxml/document_object.h"

namespace platform::msxml {

namespace {

// ---- reading libxml2 nodes -------------------------------------------------

std::string qualifiedName(xmlNodePtr node) {
  std::string name = node->name != nullptr ? reinterpret_cast<const char *>(node->name) : "";
  if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && node->ns != nullptr &&
      node->ns->prefix != nullptr)
    name = std::string(reinterpret_cast<const char *>(node->ns->prefix)) + ":" + name;
  return name;
}

// Whether a terminated UTF-8 name is `name`, given in UTF-8 or in plain
// ASCII UTF-16; most names differ at their first character.
template <typename Unit> bool spells(const xmlChar *text, std::basic_string_view<Unit> name) {
  size_t at = 0;
  for (; at < name.size(); ++at)
    if (text[at] == 0 || text[at] != static_cast<std::make_unsigned_t<Unit>>(name[at])) return false;
  return text[at] == 0;
}

// Whether the qualified name of an element or attribute is `name`, compared
// in place.
template <typename Unit> bool isNamed(xmlNodePtr node, std::basic_string_view<Unit> name) {
  const xmlChar *local = node->name != nullptr ? node->name : BAD_CAST "";
  if (node->ns != nullptr && node->ns->prefix != nullptr) {
    const size_t colon = name.find(Unit(':'));
    if (colon == name.npos || !spells(node->ns->prefix, name.substr(0, colon))) return false;
    name.remove_prefix(colon + 1);
  }
  return spells(local, name);
}

bool hasValue(xmlNodePtr node) {
  switch (node->type) {
    case XML_ATTRIBUTE_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: return true;
    default: return false;
  }
}

// The DOM's children of a node. An entity reference shows the replacement
// text of its entity; a document type shows no declarations.
xmlNodePtr firstChildOf(xmlNodePtr node) {
  switch (node->type) {
    case XML_ENTITY_REF_NODE: {
      auto *entity = reinterpret_cast<xmlEntityPtr>(node->children);
      return entity != nullptr ? entity->children : nullptr;
    }
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE: return node->children;
    default: return nullptr;
  }
}

xmlNodePtr lastChildOf(xmlNodePtr node) {
  xmlNodePtr child = firstChildOf(node);
  while (child != nullptr && child->next != nullptr) child = child->next;
  return child;
}

bool isWhiteSpace(xmlChar c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// An element's text, and a text node's, is trimmed unless white space is kept
// (the document's preserveWhiteSpace, or xml:space="preserve" in scope).
bool trimsText(const NodeContext &context) {
  xmlNodePtr node = context.node;
  if (node->type != XML_ELEMENT_NODE && node->type != XML_DOCUMENT_NODE && node->type != XML_TEXT_NODE) return false;
  if (context.owner != nullptr && context.owner->preservesWhiteSpace()) return false;
  xmlNodePtr scope = node->type == XML_TEXT_NODE ? node->parent : node;
  return scope == nullptr || scope->type != XML_ELEMENT_NODE || xmlNodeGetSpacePreserve(scope) != 1;
}

struct XmlString {
  xmlChar *text;
  explicit XmlString(xmlChar *owned) : text(owned) {}
  XmlString(const XmlString &) = delete;
  XmlString &operator=(const XmlString &) = delete;
  ~XmlString() { xmlFree(text); }
};

// A node's text content. An attribute whose value is one piece of text, as
// nearly every attribute's is, lends it; for any other node libxml2 makes a
// copy, kept for the life of this object.
class NodeContent {
 public:
  explicit NodeContent(xmlNodePtr node) {
    const xmlNode *only = node->type == XML_ATTRIBUTE_NODE ? node->children : nullptr;
    if (only != nullptr && only->next == nullptr &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
      text_ = only->content;
    else
      text_ = copy_ = xmlNodeGetContent(node);
  }
  NodeContent(const NodeContent &) = delete;
  NodeContent &operator=(const NodeContent &) = delete;
  ~NodeContent() { xmlFree(copy_); }
  // Null for a node without content.
  const xmlChar *text() const { return text_; }

 private:
  const xmlChar *text_ = nullptr;
  xmlChar *copy_ = nullptr;
};

struct XmlBuffer {
  xmlBufferPtr buffer = xmlBufferCreate();
  XmlBuffer() = default;
  XmlBuffer(const XmlBuffer &) = delete;
  XmlBuffer &operator=(const XmlBuffer &) = delete;
  ~XmlBuffer() {
    if (buffer != nullptr) xmlBufferFree(buffer);
  }
};

HRESULT returnNode(DomDocument *owner, const TreeRef &tree, xmlNodePtr node, IXMLDOMNode **out) {
  if (out == nullptr) return E_INVALIDARG;
  return wrapNode(owner, tree, node, out);
}

// ---- node objects ------------------------------------------------------------

template <class Interface> class WrappedNode : public NodeObject<Interface>, public ReusedStorage {
 public:
  WrappedNode(DomDocument *owner, TreeRef tree, xmlNodePtr node)
      : owner_(Ref<DomDocument>::share(owner)), tree_(std::move(tree)), node_(node) {}

 protected:
  NodeContext context() override { return {owner_.get(), tree_, node_}; }

  Ref<DomDocument> owner_;
  TreeRef tree_;
  xmlNodePtr node_;
};

class PlainNode final : public WrappedNode<IXMLDOMNode> {
 public:
  using WrappedNode::WrappedNode;

 protected:
  bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IXMLDOMNode); }
};

template <typename Unit> xmlAttrPtr findAttribute(xmlNodePtr element, std::basic_string_view<Unit> name) {
  for (xmlAttrPtr attribute = element->properties; attribute != nullptr; attribute = attribute->next)
    if (isNamed(reinterpret_cast<xmlNodePtr>(attribute), name)) return attribute;
  return nullptr;
}

// A name in plain ASCII, as nearly every one is, is compared as it stands;
// any other in UTF-8, as libxml2 keeps names.
xmlAttrPtr findAttribute(xmlNodePtr element, BSTR name) {
  const std::basic_string_view<WCHAR> asked(name != nullptr ? name : OLESTR(""), SysStringLen(name));
  if (kernel::isAscii(asked.data(), asked.size())) return findAttribute(element, asked);
  const std::string utf8 = utf8FromBstr(name);
  return findAttribute(element, std::string_view(utf8));
}

HRESULT returnAttributeValue(xmlAttrPtr attribute, VARIANT *value) {
  const NodeContent text(reinterpret_cast<xmlNodePtr>(attribute));
  V_VT(value) = VT_BSTR;
  V_BSTR(value) = bstrFromUtf8(text.text());
  if (V_BSTR(value) != nullptr) return S_OK;
  V_VT(value) = VT_EMPTY;
  return E_OUTOFMEMORY;
}

class ElementNode final : public WrappedNode<IXMLDOMElement> {
 public:
  using WrappedNode::WrappedNode;

  HRESULT STDMETHODCALLTYPE get_tagName(BSTR *tagName) override { return get_nodeName(tagName); }
  HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT *value) override {
    if (value == nullptr) return E_INVALIDARG;
    VariantInit(value);
    xmlAttrPtr attribute = findAttribute(node_, name);
    if (attribute == nullptr) {
      V_VT(value) = VT_NULL;
      return S_FALSE;
    }
    return returnAttributeValue(attribute, value);
  }
  HRESULT STDMETHODCALLTYPE setAttribute(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE removeAttribute(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE getAttributeNode(BSTR name, IXMLDOMAttribute **attributeNode) override;
  HRESULT STDMETHODCALLTYPE setAttributeNode(IXMLDOMAttribute *, IXMLDOMAttribute **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE removeAttributeNode(IXMLDOMAttribute *, IXMLDOMAttribute **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList **result) override {
    return node_members::elementsByTagName(context(), tagName, result);
  }
  HRESULT STDMETHODCALLTYPE normalize() override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID riid) const override {
    return IsEqualIID(riid, IID_IXMLDOMNode) || IsEqualIID(riid, IID_IXMLDOMElement);
  }
};

class AttributeNode final : public WrappedNode<IXMLDOMAttribute> {
 public:
  using WrappedNode::WrappedNode;

  HRESULT STDMETHODCALLTYPE get_name(BSTR *name) override { return get_nodeName(name); }
  HRESULT STDMETHODCALLTYPE get_value(VARIANT *value) override {
    if (value == nullptr) return E_INVALIDARG;
    VariantInit(value);
    return returnAttributeValue(reinterpret_cast<xmlAttrPtr>(node_), value);
  }
  HRESULT STDMETHODCALLTYPE put_value(VARIANT) override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID riid) const override {
    return IsEqualIID(riid, IID_IXMLDOMNode) || IsEqualIID(riid, IID_IXMLDOMAttribute);
  }
};

HRESULT STDMETHODCALLTYPE ElementNode::getAttributeNode(BSTR name, IXMLDOMAttribute **attributeNode) {
  if (attributeNode == nullptr) return E_INVALIDARG;
  *attributeNode = nullptr;
  xmlAttrPtr attribute = findAttribute(node_, name);
  if (attribute == nullptr) return S_FALSE;
  auto *object = new (std::nothrow) AttributeNode(owner_.get(), tree_, reinterpret_cast<xmlNodePtr>(attribute));
  if (object == nullptr) return E_OUTOFMEMORY;
  *attributeNode = object;
  return S_OK;
}

// Text, CDATA sections and comments. Comments and CDATA sections have the
// layout of IXMLDOMCharacterData and IXMLDOMText, to which their own
// interfaces add nothing.
class CharacterDataNode final : public WrappedNode<IXMLDOMText> {
 public:
  using WrappedNode::WrappedNode;

  HRESULT STDMETHODCALLTYPE get_data(BSTR *data) override {
    if (data == nullptr) return E_INVALIDARG;
    return returnText(data, bstrFromUtf8(node_->content));
  }
  HRESULT STDMETHODCALLTYPE put_data(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_length(LONG *dataLength) override {
    if (dataLength == nullptr) return E_INVALIDARG;
    const char *text = reinterpret_cast<const char *>(node_->content);
    *dataLength = static_cast<LONG>(wideFromUtf8(text, text != nullptr ? strlen(text) : 0).size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE substringData(LONG offset, LONG count, BSTR *data) override {
    if (data == nullptr) return E_INVALIDARG;
    *data = nullptr;
    const char *text = reinterpret_cast<const char *>(node_->content);
    WideString wide = wideFromUtf8(text, text != nullptr ? strlen(text) : 0);
    if (offset < 0 || count < 0 || static_cast<size_t>(offset) > wide.size()) return E_INVALIDARG;
    if (count == 0 || static_cast<size_t>(offset) == wide.size()) return S_FALSE;
    size_t take = std::min(wide.size() - static_cast<size_t>(offset), static_cast<size_t>(count));
    return returnText(data, SysAllocStringLen(wide.data() + offset, static_cast<UINT>(take)));
  }
  HRESULT STDMETHODCALLTYPE appendData(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE insertData(LONG, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE deleteData(LONG, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE replaceData(LONG, LONG, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE splitText(LONG, IXMLDOMText **) override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID riid) const override {
    if (IsEqualIID(riid, IID_IXMLDOMNode) || IsEqualIID(riid, IID_IXMLDOMCharacterData)) return true;
    switch (node_->type) {
      case XML_TEXT_NODE: return IsEqualIID(riid, IID_IXMLDOMText);
      case XML_CDATA_SECTION_NODE:
        return IsEqualIID(riid, IID_IXMLDOMText) || IsEqualIID(riid, IID_IXMLDOMCDATASection);
      case XML_COMMENT_NODE: return IsEqualIID(riid, IID_IXMLDOMComment);
      default: return false;
    }
  }
};

// ---- node lists and attribute maps -------------------------------------------

class NodeList final : public DispatchObject<IXMLDOMNodeList> {
 public:
  NodeList(DomDocument *owner, TreeRef tree, std::vector<xmlNodePtr> nodes)
      : owner_(Ref<DomDocument>::share(owner)), tree_(std::move(tree)), nodes_(std::move(nodes)) {}

  HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return S_FALSE;
    // As in MSXML, reading an item moves nextNode on to the item after it.
    cursor_ = static_cast<size_t>(index) + 1;
    return wrapNode(owner_.get(), tree_, nodes_[static_cast<size_t>(index)], item);
  }
  HRESULT STDMETHODCALLTYPE get_length(LONG *length) override {
    if (length == nullptr) return E_INVALIDARG;
    *length = static_cast<LONG>(nodes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    if (cursor_ >= nodes_.size()) return S_FALSE;
    return wrapNode(owner_.get(), tree_, nodes_[cursor_++], item);
  }
  HRESULT STDMETHODCALLTYPE reset() override {
    cursor_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown **) override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IXMLDOMNodeList); }

 private:
  Ref<DomDocument> owner_;
  TreeRef tree_;
  std::vector<xmlNodePtr> nodes_;
  size_t cursor_ = 0;
};

// The attributes of an element. Namespace declarations are not among them.
class AttributeMap final : public DispatchObject<IXMLDOMNamedNodeMap>, public ReusedStorage {
 public:
  AttributeMap(DomDocument *owner, TreeRef tree, xmlNodePtr element)
      : owner_(Ref<DomDocument>::share(owner)), tree_(std::move(tree)), element_(element) {}

  HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    return returnAttribute(findAttribute(element_, name), item);
  }
  HRESULT STDMETHODCALLTYPE setNamedItem(IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE removeNamedItem(BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    return index < 0 ? S_FALSE : returnAttribute(attributeAt(static_cast<size_t>(index)), item);
  }
  HRESULT STDMETHODCALLTYPE get_length(LONG *length) override {
    if (length == nullptr) return E_INVALIDARG;
    LONG count = 0;
    for (xmlAttrPtr attribute = element_->properties; attribute != nullptr; attribute = attribute->next) ++count;
    *length = count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE getQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    const std::string name = utf8FromBstr(baseName), uri = utf8FromBstr(namespaceURI);
    for (xmlAttrPtr attribute = element_->properties; attribute != nullptr; attribute = attribute->next) {
      const char *href = attribute->ns != nullptr ? reinterpret_cast<const char *>(attribute->ns->href) : "";
      if (name == reinterpret_cast<const char *>(attribute->name) && uri == href)
        return returnAttribute(attribute, item);
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE removeQualifiedItem(BSTR, BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode **item) override {
    if (item == nullptr) return E_INVALIDARG;
    *item = nullptr;
    HRESULT hr = returnAttribute(attributeAt(cursor_), item);
    if (hr == S_OK) ++cursor_;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE reset() override {
    cursor_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown **) override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IXMLDOMNamedNodeMap); }

 private:
  xmlAttrPtr attributeAt(size_t index) const {
    xmlAttrPtr attribute = element_->properties;
    for (; attribute != nullptr && index > 0; --index) attribute = attribute->next;
    return attribute;
  }
  HRESULT returnAttribute(xmlAttrPtr attribute, IXMLDOMNode **item) {
    return wrapNode(owner_.get(), tree_, reinterpret_cast<xmlNodePtr>(attribute), item);
  }

  Ref<DomDocument> owner_;
  TreeRef tree_;
  xmlNodePtr element_;
  size_t cursor_ = 0;
};

// ---- XPath -------------------------------------------------------------------

void discardXPathError(void *, xmlErrorPtr) {}

struct XPathObjectOwner {
  xmlXPathObjectPtr object;
  ~XPathObjectOwner() { xmlXPathFreeObject(object); }
};

// libxml2 makes an XPath context with every function of the language
// registered, which costs more than most selections do, so each thread keeps
// one and lends it to one selection at a time, set up for that selection's
// node and namespaces; it points at nothing between selections.
class XPathContextLease {
 public:
  explicit XPathContextLease(const NodeContext &node) : context_(kept().context) {
    if (context_ == nullptr) context_ = kept().context = xmlXPathNewContext(nullptr);
    if (context_ == nullptr) return;
    context_->doc = node.tree->document();
    context_->node = node.node;
    context_->namespaces = nullptr;
    context_->nsNr = 0;
    context_->contextSize = -1;
    context_->proximityPosition = -1;
    context_->opCount = 0;
    context_->depth = 0;
    context_->error = discardXPathError;
    context_->userData = nullptr;
  }
  XPathContextLease(const XPathContextLease &) = delete;
  XPathContextLease &operator=(const XPathContextLease &) = delete;
  ~XPathContextLease() {
    if (context_ == nullptr) return;
    xmlXPathRegisteredNsCleanup(context_);
    xmlResetError(&context_->lastError);
    context_->doc = nullptr;
    context_->node = nullptr;
  }
  // Null when memory ran out.
  xmlXPathContextPtr get() const { return context_; }

  // `expression` compiled, as the selection would compile it, or kept from
  // an earlier selection on this thread: a reader asks for the same few
  // expressions again and again. Null when it does not compile.
  xmlXPathCompExprPtr compiled(const std::string &expression) const {
    Kept &lists = kept();
    for (const auto &[text, compiledText] : lists.compiled)
      if (compiledText != nullptr && text == expression) return compiledText;
    xmlXPathCompExprPtr made = xmlXPathCtxtCompile(context_, BAD_CAST expression.c_str());
    if (made == nullptr) return nullptr;
    auto &[text, compiledText] = lists.compiled[lists.next++ % lists.compiled.size()];
    xmlXPathFreeCompExpr(std::exchange(compiledText, made));
    text = expression;
    return made;
  }

 private:
  struct Kept {
    xmlXPathContextPtr context = nullptr;
    std::array<std::pair<std::string, xmlXPathCompExprPtr>, 8> compiled{};
    size_t next = 0;
    ~Kept() {
      for (auto &[text, compiledText] : compiled) xmlXPathFreeCompExpr(compiledText);
      xmlXPathFreeContext(context);
    }
  };
  static Kept &kept() {
    thread_local Kept context;
    return context;
  }

  xmlXPathContextPtr context_;
};

// The nodes an XPath 1.0 expression selects from the node, in document order.
// An expression that does not parse, or whose value is not a node-set, fails
// with E_FAIL.
HRESULT selectXPath(const NodeContext &node, BSTR query, std::vector<xmlNodePtr> &nodes) {
  const std::string expression = utf8FromBstr(query);
  initializeLibxml();
  QuietLibxml quiet;
  const XPathContextLease xpath(node);
  if (xpath.get() == nullptr) return E_OUTOFMEMORY;
  if (node.owner != nullptr)
    for (const auto &[prefix, uri] : node.owner->selectionNamespaces())
      if (xmlXPathRegisterNs(xpath.get(), BAD_CAST prefix.c_str(), BAD_CAST uri.c_str()) != 0) return E_FAIL;
  const xmlXPathCompExprPtr compiled = xpath.compiled(expression);
  if (compiled == nullptr) return E_FAIL;
  XPathObjectOwner result{xmlXPathCompiledEval(compiled, xpath.get())};
  if (result.object == nullptr || result.object->type != XPATH_NODESET) return E_FAIL;
  xmlNodeSetPtr set = result.object->nodesetval;
  if (set == nullptr) return S_OK;
  nodes.reserve(static_cast<size_t>(set->nodeNr));
  for (int i = 0; i < set->nodeNr; ++i)
    if (set->nodeTab[i] != nullptr && set->nodeTab[i]->type != XML_NAMESPACE_DECL) nodes.push_back(set->nodeTab[i]);
  return S_OK;
}

DOMNodeType domType(xmlElementType type) {
  switch (type) {
    case XML_ELEMENT_NODE: return NODE_ELEMENT;
    case XML_ATTRIBUTE_NODE: return NODE_ATTRIBUTE;
    case XML_TEXT_NODE: return NODE_TEXT;
    case XML_CDATA_SECTION_NODE: return NODE_CDATA_SECTION;
    case XML_ENTITY_REF_NODE: return NODE_ENTITY_REFERENCE;
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL: return NODE_ENTITY;
    case XML_PI_NODE: return NODE_PROCESSING_INSTRUCTION;
    case XML_COMMENT_NODE: return NODE_COMMENT;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return NODE_DOCUMENT;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE: return NODE_DOCUMENT_TYPE;
    case XML_DOCUMENT_FRAG_NODE: return NODE_DOCUMENT_FRAGMENT;
    case XML_NOTATION_NODE: return NODE_NOTATION;
    default: return NODE_INVALID;
  }
}

}  // namespace

HRESULT wrapNode(DomDocument *owner, const TreeRef &tree, xmlNodePtr node, IXMLDOMNode **out) {
  *out = nullptr;
  if (node == nullptr) return S_FALSE;
  IXMLDOMNode *object = nullptr;
  switch (node->type) {
    case XML_DOCUMENT_NODE:
      if (owner != nullptr && node == tree->root()) {
        IXMLDOMDocument *document = nullptr;
        HRESULT hr = owner->documentOf(tree, &document);
        *out = document;
        return hr;
      }
      object = new (std::nothrow) PlainNode(owner, tree, node);
      break;
    case XML_ELEMENT_NODE: object = new (std::nothrow) ElementNode(owner, tree, node); break;
    case XML_ATTRIBUTE_NODE: object = new (std::nothrow) AttributeNode(owner, tree, node); break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE: object = new (std::nothrow) CharacterDataNode(owner, tree, node); break;
    case XML_ENTITY_DECL:
    case XML_NAMESPACE_DECL: return S_FALSE;
    default: object = new (std::nothrow) PlainNode(owner, tree, node); break;
  }
  if (object == nullptr) return E_OUTOFMEMORY;
  *out = object;
  return S_OK;
}

HRESULT createNodeList(DomDocument *owner, const TreeRef &tree, std::vector<xmlNodePtr> nodes, IXMLDOMNodeList **out) {
  *out = nullptr;
  auto *list = new (std::nothrow) NodeList(owner, tree, std::move(nodes));
  if (list == nullptr) return E_OUTOFMEMORY;
  *out = list;
  return S_OK;
}

namespace node_members {

HRESULT nodeName(const NodeContext &node, BSTR *name) {
  if (name == nullptr) return E_INVALIDARG;
  const char *fixed = nullptr;
  switch (node.node->type) {
    case XML_TEXT_NODE: fixed = "#text"; break;
    case XML_CDATA_SECTION_NODE: fixed = "#cdata-section"; break;
    case XML_COMMENT_NODE: fixed = "#comment"; break;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: fixed = "#document"; break;
    case XML_DOCUMENT_FRAG_NODE: fixed = "#document-fragment"; break;
    default: break;
  }
  if (fixed != nullptr) return returnText(name, bstrFromUtf8(fixed, strlen(fixed)));
  const std::string qualified = qualifiedName(node.node);
  return returnText(name, bstrFromUtf8(qualified.data(), qualified.size()));
}

HRESULT nodeValue(const NodeContext &node, VARIANT *value) {
  if (value == nullptr) return E_INVALIDARG;
  VariantInit(value);
  if (!hasValue(node.node)) {
    V_VT(value) = VT_NULL;
    return S_FALSE;
  }
  const NodeContent text(node.node);
  V_BSTR(value) = bstrFromUtf8(text.text());
  if (V_BSTR(value) == nullptr) return E_OUTOFMEMORY;
  V_VT(value) = VT_BSTR;
  return S_OK;
}

HRESULT nodeType(const NodeContext &node, DOMNodeType *type) {
  if (type == nullptr) return E_INVALIDARG;
  *type = domType(node.node->type);
  return S_OK;
}

HRESULT parentNode(const NodeContext &node, IXMLDOMNode **parent) {
  if (parent == nullptr) return E_INVALIDARG;
  *parent = nullptr;
  if (node.node->type == XML_ATTRIBUTE_NODE || node.node->parent == nullptr) return S_FALSE;
  return wrapNode(node.owner, node.tree, node.node->parent, parent);
}

HRESULT childNodes(const NodeContext &node, IXMLDOMNodeList **children) {
  if (children == nullptr) return E_INVALIDARG;
  std::vector<xmlNodePtr> nodes;
  for (xmlNodePtr child = firstChildOf(node.node); child != nullptr; child = child->next) nodes.push_back(child);
  return createNodeList(node.owner, node.tree, std::move(nodes), children);
}

HRESULT firstChild(const NodeContext &node, IXMLDOMNode **child) {
  return returnNode(node.owner, node.tree, firstChildOf(node.node), child);
}

HRESULT lastChild(const NodeContext &node, IXMLDOMNode **child) {
  return returnNode(node.owner, node.tree, lastChildOf(node.node), child);
}

HRESULT previousSibling(const NodeContext &node, IXMLDOMNode **sibling) {
  const bool attribute = node.node->type == XML_ATTRIBUTE_NODE;
  return returnNode(node.owner, node.tree, attribute ? nullptr : node.node->prev, sibling);
}

HRESULT nextSibling(const NodeContext &node, IXMLDOMNode **sibling) {
  const bool attribute = node.node->type == XML_ATTRIBUTE_NODE;
  return returnNode(node.owner, node.tree, attribute ? nullptr : node.node->next, sibling);
}

HRESULT attributes(const NodeContext &node, IXMLDOMNamedNodeMap **map) {
  if (map == nullptr) return E_INVALIDARG;
  *map = nullptr;
  if (node.node->type != XML_ELEMENT_NODE) return S_FALSE;
  auto *object = new (std::nothrow) AttributeMap(node.owner, node.tree, node.node);
  if (object == nullptr) return E_OUTOFMEMORY;
  *map = object;
  return S_OK;
}

HRESULT hasChildNodes(const NodeContext &node, VARIANT_BOOL *hasChild) {
  if (hasChild == nullptr) return E_INVALIDARG;
  const bool any = firstChildOf(node.node) != nullptr;
  *hasChild = any ? VARIANT_TRUE : VARIANT_FALSE;
  return any ? S_OK : S_FALSE;
}

HRESULT ownerDocument(const NodeContext &node, IXMLDOMDocument **document) {
  if (document == nullptr) return E_INVALIDARG;
  *document = nullptr;
  if (node.node->type == XML_DOCUMENT_NODE || node.owner == nullptr) return S_FALSE;
  return node.owner->documentOf(node.tree, document);
}

HRESULT nodeTypeString(const NodeContext &node, BSTR *typeName) {
  if (typeName == nullptr) return E_INVALIDARG;
  static const char *const kNames[] = {"",
                                       "element",
                                       "attribute",
                                       "text",
                                       "cdatasection",
                                       "entityreference",
                                       "entity",
                                       "processinginstruction",
                                       "comment",
                                       "document",
                                       "documenttype",
                                       "documentfragment",
                                       "notation"};
  const char *name = kNames[domType(node.node->type)];
  return returnText(typeName, bstrFromUtf8(name, strlen(name)));
}

HRESULT text(const NodeContext &node, BSTR *text) {
  if (text == nullptr) return E_INVALIDARG;
  const NodeContent content(node.node);
  const xmlChar *begin = content.text() != nullptr ? content.text() : BAD_CAST "";
  const xmlChar *end = begin + strlen(reinterpret_cast<const char *>(begin));
  if (trimsText(node)) {
    while (begin < end && isWhiteSpace(*begin)) ++begin;
    while (end > begin && isWhiteSpace(end[-1])) --end;
  }
  return returnText(text, bstrFromUtf8(reinterpret_cast<const char *>(begin), static_cast<size_t>(end - begin)));
}

HRESULT dataType(const NodeContext &, VARIANT *dataTypeName) {
  if (dataTypeName == nullptr) return E_INVALIDARG;
  VariantInit(dataTypeName);
  V_VT(dataTypeName) = VT_NULL;
  return S_FALSE;
}

HRESULT xml(const NodeContext &node, BSTR *xmlText) {
  if (xmlText == nullptr) return E_INVALIDARG;
  *xmlText = nullptr;
  XmlBuffer out;
  if (out.buffer == nullptr) return E_OUTOFMEMORY;
  xmlDocPtr document = node.tree->document();
  switch (node.node->type) {
    case XML_DOCUMENT_NODE:
      // Each node at the top level on a line of its own, as MSXML writes it.
      for (xmlNodePtr child = node.node->children; child != nullptr; child = child->next) {
        xmlNodeDump(out.buffer, document, child, 0, 0);
        xmlBufferWriteChar(out.buffer, "\r\n");
      }
      break;
    case XML_ATTRIBUTE_NODE: {
      const NodeContent value(node.node);
      XmlString escaped(xmlEncodeSpecialChars(document, value.text() != nullptr ? value.text() : BAD_CAST ""));
      const std::string name = qualifiedName(node.node);
      xmlBufferWriteChar(out.buffer, name.c_str());
      xmlBufferWriteChar(out.buffer, "=\"");
      if (escaped.text != nullptr) xmlBufferCat(out.buffer, escaped.text);
      xmlBufferWriteChar(out.buffer, "\"");
      break;
    }
    default: xmlNodeDump(out.buffer, document, node.node, 0, 0); break;
  }
  return returnText(xmlText, bstrFromUtf8(reinterpret_cast<const char *>(xmlBufferContent(out.buffer)),
                                          static_cast<size_t>(xmlBufferLength(out.buffer))));
}

HRESULT selectNodes(const NodeContext &node, BSTR query, IXMLDOMNodeList **result) {
  if (result == nullptr) return E_INVALIDARG;
  *result = nullptr;
  std::vector<xmlNodePtr> nodes;
  HRESULT hr = selectXPath(node, query, nodes);
  if (FAILED(hr)) return hr;
  return createNodeList(node.owner, node.tree, std::move(nodes), result);
}

HRESULT selectSingleNode(const NodeContext &node, BSTR query, IXMLDOMNode **result) {
  if (result == nullptr) return E_INVALIDARG;
  *result = nullptr;
  std::vector<xmlNodePtr> nodes;
  HRESULT hr = selectXPath(node, query, nodes);
  if (FAILED(hr)) return hr;
  return wrapNode(node.owner, node.tree, nodes.empty() ? nullptr : nodes.front(), result);
}

HRESULT namespaceURI(const NodeContext &node, BSTR *uri) {
  if (uri == nullptr) return E_INVALIDARG;
  const bool named = node.node->type == XML_ELEMENT_NODE || node.node->type == XML_ATTRIBUTE_NODE;
  return returnUtf8(uri, named && node.node->ns != nullptr ? node.node->ns->href : nullptr);
}

HRESULT prefix(const NodeContext &node, BSTR *prefixText) {
  if (prefixText == nullptr) return E_INVALIDARG;
  const bool named = node.node->type == XML_ELEMENT_NODE || node.node->type == XML_ATTRIBUTE_NODE;
  return returnUtf8(prefixText, named && node.node->ns != nullptr ? node.node->ns->prefix : nullptr);
}

HRESULT baseName(const NodeContext &node, BSTR *name) {
  if (name == nullptr) return E_INVALIDARG;
  switch (node.node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE: return returnUtf8(name, node.node->name);
    default: return returnUtf8(name, nullptr);
  }
}

HRESULT elementsByTagName(const NodeContext &node, BSTR tagName, IXMLDOMNodeList **result) {
  if (result == nullptr) return E_INVALIDARG;
  *result = nullptr;
  const std::string name = utf8FromBstr(tagName);
  const bool any = name == "*";
  std::vector<xmlNodePtr> nodes;
  // Document order without recursion: down to the first child, else along to
  // the next sibling of the nearest ancestor that has one.
  xmlNodePtr current = firstChildOf(node.node);
  while (current != nullptr) {
    if (current->type == XML_ELEMENT_NODE && (any || qualifiedName(current) == name)) nodes.push_back(current);
    if (current->type == XML_ELEMENT_NODE && current->children != nullptr) {
      current = current->children;
      continue;
    }
    while (current != nullptr && current != node.node && current->next == nullptr) current = current->parent;
    current = (current == nullptr || current == node.node) ? nullptr : current->next;
  }
  return createNodeList(node.owner, node.tree, std::move(nodes), result);
}

}  // namespace node_members

}  // namespace platform::msxml
