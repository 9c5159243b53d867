// Microsoft XML DOM: the document class and the node interfaces that the
// platform's DOM document offers. Every interface lists all members of the
// SDK's declaration in the SDK's order, so that the vtables have the Windows
// layout; members the platform does not implement answer E_NOTIMPL.
//
// The interfaces are dual, as in the SDK. The platform has no type library for
// MSXML, so late binding through their IDispatch members is not offered: the
// objects report no type information and GetIDsOfNames and Invoke answer
// E_NOTIMPL. Callers bind early, through the vtable.
#pragma once

#include <rpc.h>
#include <rpcndr.h>
#include <unknwn.h>
#include <objidl.h>
#include <oaidl.h>

typedef interface IXMLDOMImplementation IXMLDOMImplementation;
typedef interface IXMLDOMNode IXMLDOMNode;
typedef interface IXMLDOMDocumentFragment IXMLDOMDocumentFragment;
typedef interface IXMLDOMDocument IXMLDOMDocument;
typedef interface IXMLDOMDocument2 IXMLDOMDocument2;
typedef interface IXMLDOMNodeList IXMLDOMNodeList;
typedef interface IXMLDOMNamedNodeMap IXMLDOMNamedNodeMap;
typedef interface IXMLDOMCharacterData IXMLDOMCharacterData;
typedef interface IXMLDOMAttribute IXMLDOMAttribute;
typedef interface IXMLDOMElement IXMLDOMElement;
typedef interface IXMLDOMText IXMLDOMText;
typedef interface IXMLDOMComment IXMLDOMComment;
typedef interface IXMLDOMProcessingInstruction IXMLDOMProcessingInstruction;
typedef interface IXMLDOMCDATASection IXMLDOMCDATASection;
typedef interface IXMLDOMDocumentType IXMLDOMDocumentType;
typedef interface IXMLDOMEntityReference IXMLDOMEntityReference;
typedef interface IXMLDOMParseError IXMLDOMParseError;
typedef interface IXMLDOMSchemaCollection IXMLDOMSchemaCollection;

typedef enum tagDOMNodeType {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_ENTITY = 6,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
  NODE_DOCUMENT_FRAGMENT = 11,
  NODE_NOTATION = 12
} DOMNodeType;

// Document classes: "Msxml2.DOMDocument" (version-independent, 3.0) and the
// version-specific ones.
EXTERN_C const CLSID CLSID_DOMDocument;
EXTERN_C const CLSID CLSID_DOMDocument26;
EXTERN_C const CLSID CLSID_DOMDocument30;
EXTERN_C const CLSID CLSID_DOMDocument40;

EXTERN_C const IID IID_IXMLDOMImplementation;
EXTERN_C const IID IID_IXMLDOMNode;
EXTERN_C const IID IID_IXMLDOMDocumentFragment;
EXTERN_C const IID IID_IXMLDOMDocument;
EXTERN_C const IID IID_IXMLDOMDocument2;
EXTERN_C const IID IID_IXMLDOMNodeList;
EXTERN_C const IID IID_IXMLDOMNamedNodeMap;
EXTERN_C const IID IID_IXMLDOMCharacterData;
EXTERN_C const IID IID_IXMLDOMAttribute;
EXTERN_C const IID IID_IXMLDOMElement;
EXTERN_C const IID IID_IXMLDOMText;
EXTERN_C const IID IID_IXMLDOMComment;
EXTERN_C const IID IID_IXMLDOMProcessingInstruction;
EXTERN_C const IID IID_IXMLDOMCDATASection;
EXTERN_C const IID IID_IXMLDOMDocumentType;
EXTERN_C const IID IID_IXMLDOMEntityReference;
EXTERN_C const IID IID_IXMLDOMParseError;

MIDL_INTERFACE("2933BF80-7B36-11D2-B20E-00C04F983E60")
IXMLDOMNode : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_nodeName(BSTR *name) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_nodeValue(VARIANT *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_nodeValue(VARIANT value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType *type) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode **parent) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList **childList) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode **firstChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode **lastChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode **previousSibling) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode **nextSibling) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap **attributeMap) = 0;
  virtual HRESULT STDMETHODCALLTYPE insertBefore(IXMLDOMNode *newChild, VARIANT refChild,
                                                 IXMLDOMNode **outNewChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE replaceChild(IXMLDOMNode *newChild, IXMLDOMNode *oldChild,
                                                 IXMLDOMNode **outOldChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode *childNode, IXMLDOMNode **oldChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode *newChild, IXMLDOMNode **outNewChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL *hasChild) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument **DOMDocument) = 0;
  virtual HRESULT STDMETHODCALLTYPE cloneNode(VARIANT_BOOL deep, IXMLDOMNode **cloneRoot) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_nodeTypeString(BSTR *nodeType) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_text(BSTR *text) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_text(BSTR text) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_specified(VARIANT_BOOL *isSpecified) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_definition(IXMLDOMNode **definitionNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_nodeTypedValue(VARIANT *typedValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_nodeTypedValue(VARIANT typedValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_dataType(VARIANT *dataTypeName) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_dataType(BSTR dataTypeName) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_xml(BSTR *xmlString) = 0;
  virtual HRESULT STDMETHODCALLTYPE transformNode(IXMLDOMNode *stylesheet, BSTR *xmlString) = 0;
  virtual HRESULT STDMETHODCALLTYPE selectNodes(BSTR queryString, IXMLDOMNodeList **resultList) = 0;
  virtual HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR queryString, IXMLDOMNode **resultNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_parsed(VARIANT_BOOL *isParsed) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_namespaceURI(BSTR *namespaceURI) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_prefix(BSTR *prefixString) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_baseName(BSTR *nameString) = 0;
  virtual HRESULT STDMETHODCALLTYPE transformNodeToObject(IXMLDOMNode *stylesheet, VARIANT outputObject) = 0;
};

MIDL_INTERFACE("2933BF81-7B36-11D2-B20E-00C04F983E60")
IXMLDOMDocument : public IXMLDOMNode {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_doctype(IXMLDOMDocumentType **documentType) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_implementation(IXMLDOMImplementation **impl) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement **DOMElement) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement *DOMElement) = 0;
  virtual HRESULT STDMETHODCALLTYPE createElement(BSTR tagName, IXMLDOMElement **element) = 0;
  virtual HRESULT STDMETHODCALLTYPE createDocumentFragment(IXMLDOMDocumentFragment **docFrag) = 0;
  virtual HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText **text) = 0;
  virtual HRESULT STDMETHODCALLTYPE createComment(BSTR data, IXMLDOMComment **comment) = 0;
  virtual HRESULT STDMETHODCALLTYPE createCDATASection(BSTR data, IXMLDOMCDATASection **cdata) = 0;
  virtual HRESULT STDMETHODCALLTYPE createProcessingInstruction(BSTR target, BSTR data,
                                                                IXMLDOMProcessingInstruction **pi) = 0;
  virtual HRESULT STDMETHODCALLTYPE createAttribute(BSTR name, IXMLDOMAttribute **attribute) = 0;
  virtual HRESULT STDMETHODCALLTYPE createEntityReference(BSTR name, IXMLDOMEntityReference **entityRef) = 0;
  virtual HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList **resultList) = 0;
  virtual HRESULT STDMETHODCALLTYPE createNode(VARIANT Type, BSTR name, BSTR namespaceURI, IXMLDOMNode **node) = 0;
  virtual HRESULT STDMETHODCALLTYPE nodeFromID(BSTR idString, IXMLDOMNode **node) = 0;
  virtual HRESULT STDMETHODCALLTYPE load(VARIANT xmlSource, VARIANT_BOOL *isSuccessful) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_readyState(LONG *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_parseError(IXMLDOMParseError **errorObj) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_url(BSTR *urlString) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL *isAsync) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL isAsync) = 0;
  virtual HRESULT STDMETHODCALLTYPE abort() = 0;
  virtual HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL *isSuccessful) = 0;
  virtual HRESULT STDMETHODCALLTYPE save(VARIANT destination) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL *isValidating) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL isValidating) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_resolveExternals(VARIANT_BOOL *isResolving) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_resolveExternals(VARIANT_BOOL isResolving) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_preserveWhiteSpace(VARIANT_BOOL *isPreserving) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_preserveWhiteSpace(VARIANT_BOOL isPreserving) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_onreadystatechange(VARIANT readystatechangeSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ondataavailable(VARIANT ondataavailableSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ontransformnode(VARIANT ontransformnodeSink) = 0;
};

MIDL_INTERFACE("2933BF95-7B36-11D2-B20E-00C04F983E60")
IXMLDOMDocument2 : public IXMLDOMDocument {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_namespaces(IXMLDOMSchemaCollection **namespaceCollection) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_schemas(VARIANT *otherCollection) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_schemas(VARIANT otherCollection) = 0;
  virtual HRESULT STDMETHODCALLTYPE validate(IXMLDOMParseError **errorObj) = 0;
  virtual HRESULT STDMETHODCALLTYPE setProperty(BSTR name, VARIANT value) = 0;
  virtual HRESULT STDMETHODCALLTYPE getProperty(BSTR name, VARIANT *value) = 0;
};

MIDL_INTERFACE("2933BF82-7B36-11D2-B20E-00C04F983E60")
IXMLDOMNodeList : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode **listItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_length(LONG *listLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode **nextItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown **ppUnk) = 0;
};

MIDL_INTERFACE("2933BF83-7B36-11D2-B20E-00C04F983E60")
IXMLDOMNamedNodeMap : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode **namedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE setNamedItem(IXMLDOMNode *newItem, IXMLDOMNode **nameItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE removeNamedItem(BSTR name, IXMLDOMNode **namedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode **listItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_length(LONG *listLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE getQualifiedItem(BSTR baseName, BSTR namespaceURI,
                                                     IXMLDOMNode **qualifiedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE removeQualifiedItem(BSTR baseName, BSTR namespaceURI,
                                                        IXMLDOMNode **qualifiedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode **nextItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown **ppUnk) = 0;
};

MIDL_INTERFACE("2933BF84-7B36-11D2-B20E-00C04F983E60")
IXMLDOMCharacterData : public IXMLDOMNode {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_data(BSTR *data) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_data(BSTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_length(LONG *dataLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE substringData(LONG offset, LONG count, BSTR *data) = 0;
  virtual HRESULT STDMETHODCALLTYPE appendData(BSTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE insertData(LONG offset, BSTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE deleteData(LONG offset, LONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE replaceData(LONG offset, LONG count, BSTR data) = 0;
};

MIDL_INTERFACE("2933BF85-7B36-11D2-B20E-00C04F983E60")
IXMLDOMAttribute : public IXMLDOMNode {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_name(BSTR *attributeName) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_value(VARIANT *attributeValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_value(VARIANT attributeValue) = 0;
};

MIDL_INTERFACE("2933BF86-7B36-11D2-B20E-00C04F983E60")
IXMLDOMElement : public IXMLDOMNode {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_tagName(BSTR *tagName) = 0;
  virtual HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE setAttribute(BSTR name, VARIANT value) = 0;
  virtual HRESULT STDMETHODCALLTYPE removeAttribute(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE getAttributeNode(BSTR name, IXMLDOMAttribute **attributeNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE setAttributeNode(IXMLDOMAttribute *DOMAttribute,
                                                     IXMLDOMAttribute **attributeNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE removeAttributeNode(IXMLDOMAttribute *DOMAttribute,
                                                        IXMLDOMAttribute **attributeNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList **resultList) = 0;
  virtual HRESULT STDMETHODCALLTYPE normalize() = 0;
};

MIDL_INTERFACE("2933BF87-7B36-11D2-B20E-00C04F983E60")
IXMLDOMText : public IXMLDOMCharacterData {
 public:
  virtual HRESULT STDMETHODCALLTYPE splitText(LONG offset, IXMLDOMText **rightHandTextNode) = 0;
};

MIDL_INTERFACE("3EFAA426-272F-11D2-836F-0000F87A7782")
IXMLDOMParseError : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_errorCode(LONG *errorCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_url(BSTR *urlString) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_reason(BSTR *reasonString) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_srcText(BSTR *sourceString) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_line(LONG *lineNumber) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_linepos(LONG *linePosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_filepos(LONG *filePosition) = 0;
};
