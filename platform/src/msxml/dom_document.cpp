#include "msxml/dom_document.h"

#include <libxml/tree.h>

#include <new>

#include "kernel/paths.h"
#include "msxml/document_object.h"

namespace platform::msxml {

namespace {

// A snapshot of the outcome of the last load, as MSXML hands it out.
class ParseError final : public DispatchObject<IXMLDOMParseError> {
 public:
  explicit ParseError(ParseErrorInfo info) : info_(std::move(info)) {}

  HRESULT STDMETHODCALLTYPE get_errorCode(LONG *code) override {
    if (code == nullptr) return E_INVALIDARG;
    *code = info_.code;
    return info_.code != 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_url(BSTR *url) override { return optionalText(info_.url, url); }
  HRESULT STDMETHODCALLTYPE get_reason(BSTR *reason) override { return optionalText(info_.reason, reason); }
  HRESULT STDMETHODCALLTYPE get_srcText(BSTR *source) override { return optionalText(info_.sourceText, source); }
  HRESULT STDMETHODCALLTYPE get_line(LONG *line) override { return number(info_.line, line); }
  HRESULT STDMETHODCALLTYPE get_linepos(LONG *position) override { return number(info_.linePosition, position); }
  HRESULT STDMETHODCALLTYPE get_filepos(LONG *position) override { return number(info_.filePosition, position); }

 protected:
  bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IXMLDOMParseError); }

 private:
  // An empty text is reported as a null string with S_FALSE.
  static HRESULT optionalText(const WideString &text, BSTR *out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    return returnText(out, SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  }
  static HRESULT number(LONG value, LONG *out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = value;
    return S_OK;
  }

  ParseErrorInfo info_;
};

// Null when there is no memory for it; the document is not left behind then.
TreeRef emptyTree() {
  xmlDocPtr document = xmlNewDoc(BAD_CAST "1.0");
  if (document == nullptr) return nullptr;
  try {
    return std::make_shared<const XmlTree>(document);
  } catch (const std::bad_alloc &) {
    xmlFreeDoc(document);
    return nullptr;
  }
}

// The URL a loaded file reports: file:/// and its Windows path with forward
// slashes, as the URL moniker of a local file reads.
WideString fileUrl(const std::string &posixPath) {
  std::string windowsPath = kernel::toWindowsPath(posixPath);
  for (char &c : windowsPath)
    if (c == '\\') c = '/';
  const std::string url = "file:///" + windowsPath;
  return wideFromUtf8(url.data(), url.size());
}

bool equalsIgnoringCase(BSTR text, const char *ascii) {
  UINT length = SysStringLen(text);
  if (length != strlen(ascii)) return false;
  for (UINT i = 0; i < length; ++i) {
    WCHAR c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<WCHAR>(c - u'A' + u'a');
    char a = ascii[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (c != static_cast<WCHAR>(a)) return false;
  }
  return true;
}

bool equals(BSTR text, const char *ascii) {
  UINT length = SysStringLen(text);
  if (length != strlen(ascii)) return false;
  for (UINT i = 0; i < length; ++i)
    if (text[i] != static_cast<WCHAR>(ascii[i])) return false;
  return true;
}

// Reads SelectionNamespaces: white-space separated declarations
// xmlns:prefix='uri' (or "uri"). Anything else in the text is an error.
bool parseSelectionNamespaces(const std::string &text, SelectionNamespaces &out) {
  SelectionNamespaces parsed;
  size_t at = 0;
  auto skipSpace = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) ++at;
  };
  for (skipSpace(); at < text.size(); skipSpace()) {
    if (text.compare(at, 6, "xmlns:") != 0) return false;
    at += 6;
    size_t equalsAt = text.find('=', at);
    if (equalsAt == std::string::npos || equalsAt == at) return false;
    std::string prefix = text.substr(at, equalsAt - at);
    at = equalsAt + 1;
    if (at >= text.size() || (text[at] != '\'' && text[at] != '"')) return false;
    size_t close = text.find(text[at], at + 1);
    if (close == std::string::npos) return false;
    parsed.emplace_back(prefix, text.substr(at + 1, close - at - 1));
    at = close + 1;
  }
  out = std::move(parsed);
  return true;
}

}  // namespace

DomDocument::DomDocument() : tree_(emptyTree()) {}

DomDocument::DomDocument(TreeRef tree, const DomDocument &settings)
    : tree_(std::move(tree)),
      async_(settings.async_),
      validateOnParse_(settings.validateOnParse_),
      resolveExternals_(settings.resolveExternals_),
      preserveWhiteSpace_(settings.preserveWhiteSpace_),
      xpathSelection_(settings.xpathSelection_),
      selectionNamespacesText_(settings.selectionNamespacesText_),
      selectionNamespaces_(settings.selectionNamespaces_) {}

HRESULT DomDocument::documentOf(const TreeRef &tree, IXMLDOMDocument **document) {
  *document = nullptr;
  if (tree == tree_) {
    AddRef();
    *document = this;
    return S_OK;
  }
  auto *earlier = new (std::nothrow) DomDocument(tree, *this);
  if (earlier == nullptr) return E_OUTOFMEMORY;
  *document = earlier;
  return S_OK;
}

bool DomDocument::answers(REFIID riid) const {
  return IsEqualIID(riid, IID_IXMLDOMNode) || IsEqualIID(riid, IID_IXMLDOMDocument) ||
         IsEqualIID(riid, IID_IXMLDOMDocument2);
}

HRESULT DomDocument::getFlag(bool flag, VARIANT_BOOL *out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT DomDocument::putFlag(bool &flag, VARIANT_BOOL value) {
  flag = value != VARIANT_FALSE;
  return S_OK;
}

ParseOptions DomDocument::parseOptions() const {
  ParseOptions options;
  options.preserveWhiteSpace = preserveWhiteSpace_;
  return options;
}

HRESULT DomDocument::get_documentElement(IXMLDOMElement **element) {
  if (element == nullptr) return E_INVALIDARG;
  *element = nullptr;
  xmlNodePtr root = xmlDocGetRootElement(tree_->document());
  if (root == nullptr) return S_FALSE;
  IXMLDOMNode *node = nullptr;
  HRESULT hr = wrapNode(this, tree_, root, &node);
  if (hr != S_OK) return hr;
  hr = node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void **>(element));
  node->Release();
  return hr;
}

HRESULT DomDocument::finishLoad(ParseOutcome outcome, const WideString &url, VARIANT_BOOL *isSuccessful) {
  const bool loaded = outcome.tree != nullptr;
  if (loaded) {
    tree_ = std::move(outcome.tree);
    parseError_ = ParseErrorInfo();
    url_ = url;
  } else {
    TreeRef empty = emptyTree();
    if (empty == nullptr) return E_OUTOFMEMORY;
    tree_ = std::move(empty);
    parseError_ = std::move(outcome.error);
    url_.clear();
  }
  if (isSuccessful != nullptr) *isSuccessful = loaded ? VARIANT_TRUE : VARIANT_FALSE;
  return loaded ? S_OK : S_FALSE;
}

HRESULT DomDocument::load(VARIANT source, VARIANT_BOOL *isSuccessful) {
  if (isSuccessful != nullptr) *isSuccessful = VARIANT_FALSE;
  VARIANT *value = &source;
  while (V_VT(value) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(value) != nullptr) value = V_VARIANTREF(value);

  BSTR path = nullptr;
  if (V_VT(value) == VT_BSTR)
    path = V_BSTR(value);
  else if (V_VT(value) == (VT_BSTR | VT_BYREF) && V_BSTRREF(value) != nullptr)
    path = *V_BSTRREF(value);
  else if ((V_VT(value) & ~VT_BYREF) == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY *array =
        (V_VT(value) & VT_BYREF) != 0 ? (V_ARRAYREF(value) ? *V_ARRAYREF(value) : nullptr) : V_ARRAY(value);
    if (array == nullptr || SafeArrayGetDim(array) != 1) return finishLoad({}, {}, isSuccessful);
    void *bytes = nullptr;
    HRESULT hr = SafeArrayAccessData(array, &bytes);
    if (FAILED(hr)) return hr;
    ParseOutcome outcome = parseBytes(bytes, array->rgsabound[0].cElements, parseOptions());
    SafeArrayUnaccessData(array);
    return finishLoad(std::move(outcome), {}, isSuccessful);
  } else {
    // Other sources (streams, other documents) are not read; as with an
    // empty source, the load fails without a parse error code.
    return finishLoad({}, {}, isSuccessful);
  }

  const std::string posixPath = kernel::toPosixPath(utf8FromBstr(path));
  const WideString given(path != nullptr ? path : OLESTR(""), SysStringLen(path));
  ParseOutcome outcome = parseFile(posixPath, given, parseOptions());
  return finishLoad(std::move(outcome), posixPath.empty() ? WideString() : fileUrl(posixPath), isSuccessful);
}

HRESULT DomDocument::loadXML(BSTR text, VARIANT_BOOL *isSuccessful) {
  if (isSuccessful != nullptr) *isSuccessful = VARIANT_FALSE;
  return finishLoad(parseText(text, SysStringLen(text), parseOptions()), {}, isSuccessful);
}

HRESULT DomDocument::get_readyState(LONG *value) {
  if (value == nullptr) return E_INVALIDARG;
  // Loads complete before they return: the document is always complete.
  *value = 4;
  return S_OK;
}

HRESULT DomDocument::get_parseError(IXMLDOMParseError **errorObject) {
  if (errorObject == nullptr) return E_INVALIDARG;
  *errorObject = new (std::nothrow) ParseError(parseError_);
  return *errorObject != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT DomDocument::get_url(BSTR *url) {
  if (url == nullptr) return E_INVALIDARG;
  *url = nullptr;
  if (url_.empty()) return S_FALSE;
  return returnText(url, SysAllocStringLen(url_.data(), static_cast<UINT>(url_.size())));
}

HRESULT DomDocument::setProperty(BSTR name, VARIANT value) {
  if (V_VT(&value) != VT_BSTR) return E_FAIL;
  if (equals(name, "SelectionLanguage")) {
    // XSL Patterns are read as XPath: the two agree on the location paths
    // that callers of this platform use.
    if (equalsIgnoringCase(V_BSTR(&value), "XPath"))
      xpathSelection_ = true;
    else if (equalsIgnoringCase(V_BSTR(&value), "XSLPattern"))
      xpathSelection_ = false;
    else
      return E_FAIL;
    return S_OK;
  }
  if (equals(name, "SelectionNamespaces")) {
    const std::string text = utf8FromBstr(V_BSTR(&value));
    if (!parseSelectionNamespaces(text, selectionNamespaces_)) return E_FAIL;
    selectionNamespacesText_ = text;
    return S_OK;
  }
  return E_FAIL;
}

HRESULT DomDocument::getProperty(BSTR name, VARIANT *value) {
  if (value == nullptr) return E_INVALIDARG;
  VariantInit(value);
  std::string text;
  if (equals(name, "SelectionLanguage"))
    text = xpathSelection_ ? "XPath" : "XSLPattern";
  else if (equals(name, "SelectionNamespaces"))
    text = selectionNamespacesText_;
  else
    return E_FAIL;
  V_BSTR(value) = bstrFromUtf8(text.data(), text.size());
  if (V_BSTR(value) == nullptr) return E_OUTOFMEMORY;
  V_VT(value) = VT_BSTR;
  return S_OK;
}

HRESULT CreateDomDocument(IUnknown *outer, REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  initializeLibxml();
  auto *document = new (std::nothrow) DomDocument();
  if (document == nullptr) return E_OUTOFMEMORY;
  if (!document->tree()) {
    document->Release();
    return E_OUTOFMEMORY;
  }
  HRESULT hr = document->QueryInterface(riid, object);
  document->Release();
  return hr;
}

}  // namespace platform::msxml
