// Shared pieces of the DOM document over libxml2: the owner of a parsed
// tree, text conversions between libxml2's UTF-8 and BSTR, and the guard that
// keeps libxml2 from printing its diagnostics.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <string>

namespace platform::msxml {

// One parsed libxml2 document. The DOM document holds the current tree and
// every node object holds the tree it came from, so a node stays valid when
// its document loads something else.
class XmlTree {
 public:
  explicit XmlTree(xmlDocPtr document) : document_(document) {}
  XmlTree(const XmlTree &) = delete;
  XmlTree &operator=(const XmlTree &) = delete;
  ~XmlTree() { xmlFreeDoc(document_); }
  xmlDocPtr document() const { return document_; }
  xmlNodePtr root() const { return reinterpret_cast<xmlNodePtr>(document_); }

 private:
  xmlDocPtr document_;
};
using TreeRef = std::shared_ptr<const XmlTree>;

// libxml2 is set up once per process; its parser is then safe on any thread.
void initializeLibxml();

// Diagnostics that libxml2 would print go nowhere while one of these lives on
// the calling thread; errors reach us through structured handlers instead.
class QuietLibxml {
 public:
  QuietLibxml();
  QuietLibxml(const QuietLibxml &) = delete;
  QuietLibxml &operator=(const QuietLibxml &) = delete;
  ~QuietLibxml();

 private:
  xmlGenericErrorFunc genericHandler_;
  void *genericContext_;
  xmlStructuredErrorFunc structuredHandler_;
  void *structuredContext_;
};

// A new BSTR with UTF-8 text (null text gives an empty string); null when
// memory runs out.
BSTR bstrFromUtf8(const char *text, size_t length);
BSTR bstrFromUtf8(const xmlChar *text);
std::basic_string<WCHAR> wideFromUtf8(const char *text, size_t length);
// The UTF-8 form of a BSTR; a null BSTR is the empty string.
std::string utf8FromBstr(BSTR text);

// Hands a new BSTR to an out parameter: S_OK, or E_OUTOFMEMORY.
HRESULT returnText(BSTR *out, BSTR text);
HRESULT returnUtf8(BSTR *out, const xmlChar *text);

}  // namespace platform::msxml
