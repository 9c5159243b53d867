// The MSXML DOM document as the component reads its definition files: load,
// parse errors, element and attribute access, XPath selection. The same
// expectations hold natively over the platform layer and under Wine against
// msxml3, except where a test says otherwise.
#include "DomTestSupport.h"

namespace {

constexpr HRESULT kObjectNotFound = static_cast<HRESULT>(0x800C0006);

const char kDefinitions[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<Counters>\r\n"
    "  <Object Name=\"A\">\r\n"
    "    <Counter Name=\"c\" Type=\"PERF_COUNTER_RAWCOUNT\"/>\r\n"
    "    <Counter Name=\"d\" Type=\"PERF_COUNTER_COUNTER\"/>\r\n"
    "  </Object>\r\n"
    "  <Object Name=\"B\"/>\r\n"
    "</Counters>\r\n";

class DomDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { folder_ = new DataFolder; }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.result()));
    createDocument(document_);
  }

  void loadDefinitions() {
    LoadResult load = loadFile(document_.get(), folder_->write("counters.xml", kDefinitions));
    ASSERT_EQ(S_OK, load.result);
    ASSERT_EQ(VARIANT_TRUE, load.loaded);
  }

  void root(Com<IXMLDOMElement> &element) { ASSERT_EQ(S_OK, document_->get_documentElement(element.out())); }

  void selectOne(IXMLDOMNode *from, const OLECHAR *query, Com<IXMLDOMNode> &node) {
    Bstr text(query);
    ASSERT_EQ(S_OK, from->selectSingleNode(text.get(), node.out())) << narrow(query);
    ASSERT_TRUE(node);
  }

  LONG countOf(IXMLDOMNode *from, const OLECHAR *query) {
    Bstr text(query);
    Com<IXMLDOMNodeList> list;
    EXPECT_EQ(S_OK, from->selectNodes(text.get(), list.out())) << narrow(query);
    LONG length = -1;
    if (list) {
      EXPECT_EQ(S_OK, list->get_length(&length));
    }
    return length;
  }

  static DataFolder *folder_;
  ComScope com_;
  Com<IXMLDOMDocument> document_;
};

DataFolder *DomDocumentTest::folder_ = nullptr;

TEST_F(DomDocumentTest, DefinitionFileLoadsAndNodeListsHaveBounds) {
  loadDefinitions();
  ParseErrorView error = parseErrorOf(document_.get());
  EXPECT_EQ(0, error.code);

  Com<IXMLDOMElement> element;
  root(element);
  EXPECT_EQ(OleString(OLESTR("Counters")), nameOf(element.get()));

  Bstr objects(OLESTR("//Object"));
  Com<IXMLDOMNodeList> list;
  ASSERT_EQ(S_OK, document_->selectNodes(objects.get(), list.out()));
  LONG length = 0;
  ASSERT_EQ(S_OK, list->get_length(&length));
  ASSERT_EQ(2, length);

  // nextNode walks the list once; reset starts it again.
  Com<IXMLDOMNode> item;
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(OleString(OLESTR("A")), attributeOf(item.get(), OLESTR("Name")));
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(OleString(OLESTR("B")), attributeOf(item.get(), OLESTR("Name")));
  EXPECT_EQ(S_FALSE, list->nextNode(item.out()));
  EXPECT_FALSE(item);
  ASSERT_EQ(S_OK, list->reset());

  // Items by position; reading one moves nextNode to the one after it, and
  // positions outside the list give nothing and move nothing.
  ASSERT_EQ(S_OK, list->get_item(1, item.out()));
  EXPECT_EQ(OleString(OLESTR("B")), attributeOf(item.get(), OLESTR("Name")));
  ASSERT_EQ(S_OK, list->get_item(0, item.out()));
  EXPECT_EQ(OleString(OLESTR("A")), attributeOf(item.get(), OLESTR("Name")));
  for (LONG outside : {2L, -1L, 1000L}) {
    IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
    EXPECT_EQ(S_FALSE, list->get_item(outside, &none)) << outside;
    EXPECT_EQ(nullptr, none) << outside;
  }
  EXPECT_EQ(E_INVALIDARG, list->get_item(0, nullptr));
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(OleString(OLESTR("B")), attributeOf(item.get(), OLESTR("Name")));
}

TEST_F(DomDocumentTest, SelectionIsRelativeToTheNode) {
  loadDefinitions();
  Com<IXMLDOMElement> element;
  root(element);

  Com<IXMLDOMNode> counter;
  selectOne(element.get(), OLESTR("Object[@Name='A']/Counter"), counter);
  EXPECT_EQ(OleString(OLESTR("c")), attributeOf(counter.get(), OLESTR("Name")));
  EXPECT_EQ(OleString(OLESTR("PERF_COUNTER_RAWCOUNT")), attributeOf(counter.get(), OLESTR("Type")));
  EXPECT_EQ(2, countOf(element.get(), OLESTR("Object[@Name='A']/Counter")));

  Com<IXMLDOMNode> objectB;
  selectOne(element.get(), OLESTR("Object[@Name='B']"), objectB);
  EXPECT_EQ(0, countOf(objectB.get(), OLESTR("Counter")));
  // From the document the same relative path finds nothing: Object is not a
  // child of the document node.
  EXPECT_EQ(0, countOf(document_.get(), OLESTR("Object")));

  Com<IXMLDOMNode> top;
  selectOne(counter.get(), OLESTR("/Counters"), top);
  EXPECT_EQ(OleString(OLESTR("Counters")), nameOf(top.get()));

  Bstr nothing(OLESTR("Object[@Name='Z']"));
  IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
  EXPECT_EQ(S_FALSE, element->selectSingleNode(nothing.get(), &none));
  EXPECT_EQ(nullptr, none);
}

TEST_F(DomDocumentTest, AttributesThroughTheMapAndTheElement) {
  loadDefinitions();
  Com<IXMLDOMNode> counter;
  selectOne(document_.get(), OLESTR("//Counter"), counter);

  Com<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(S_OK, counter->get_attributes(map.out()));
  LONG length = 0;
  ASSERT_EQ(S_OK, map->get_length(&length));
  EXPECT_EQ(2, length);

  Bstr typeName(OLESTR("Type"));
  Com<IXMLDOMNode> type;
  ASSERT_EQ(S_OK, map->getNamedItem(typeName.get(), type.out()));
  DOMNodeType kind = NODE_INVALID;
  ASSERT_EQ(S_OK, type->get_nodeType(&kind));
  EXPECT_EQ(NODE_ATTRIBUTE, kind);
  EXPECT_EQ(OleString(OLESTR("Type")), nameOf(type.get()));
  Variant value;
  ASSERT_EQ(S_OK, type->get_nodeValue(value.get()));
  ASSERT_EQ(VT_BSTR, value.type());
  EXPECT_EQ(OleString(OLESTR("PERF_COUNTER_RAWCOUNT")), value.text());
  EXPECT_EQ(OleString(OLESTR("PERF_COUNTER_RAWCOUNT")), textOf(type.get()));
  Bstr xml;
  ASSERT_EQ(S_OK, type->get_xml(xml.out()));
  EXPECT_EQ(OleString(OLESTR("Type=\"PERF_COUNTER_RAWCOUNT\"")), xml.text());
  IXMLDOMNode *parent = reinterpret_cast<IXMLDOMNode *>(1);
  EXPECT_EQ(S_FALSE, type->get_parentNode(&parent));
  EXPECT_EQ(nullptr, parent);

  Com<IXMLDOMNode> first;
  ASSERT_EQ(S_OK, map->get_item(0, first.out()));
  EXPECT_EQ(OleString(OLESTR("Name")), nameOf(first.get()));
  IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
  EXPECT_EQ(S_FALSE, map->get_item(2, &none));
  EXPECT_EQ(nullptr, none);
  // Names match exactly, case included.
  for (const OLECHAR *missing : {OLESTR("missing"), OLESTR("type")}) {
    Bstr name(missing);
    none = reinterpret_cast<IXMLDOMNode *>(1);
    EXPECT_EQ(S_FALSE, map->getNamedItem(name.get(), &none)) << narrow(missing);
    EXPECT_EQ(nullptr, none);
  }

  Com<IXMLDOMElement> element;
  ASSERT_EQ(S_OK, counter->QueryInterface(IID_IXMLDOMElement, element.outVoid()));
  Bstr missing(OLESTR("missing"));
  Variant absent;
  EXPECT_EQ(S_FALSE, element->getAttribute(missing.get(), absent.get()));
  EXPECT_EQ(VT_NULL, absent.type());
  Variant elementValue;
  EXPECT_EQ(S_FALSE, counter->get_nodeValue(elementValue.get()));
  EXPECT_EQ(VT_NULL, elementValue.type());
  ASSERT_EQ(S_OK, counter->get_xml(xml.out()));
  EXPECT_EQ(OleString(OLESTR("<Counter Name=\"c\" Type=\"PERF_COUNTER_RAWCOUNT\"/>")), xml.text());

  IXMLDOMNamedNodeMap *noMap = reinterpret_cast<IXMLDOMNamedNodeMap *>(1);
  EXPECT_EQ(S_FALSE, document_->get_attributes(&noMap));
  EXPECT_EQ(nullptr, noMap);
}

TEST_F(DomDocumentTest, TreeTextAndWhiteSpace) {
  LoadResult load = loadText(document_.get(), OLESTR("<a>\n <b>x</b>\n <!--note-->\n <c> y <d> z </d> </c>\n</a>"));
  ASSERT_EQ(S_OK, load.result);
  ASSERT_EQ(VARIANT_TRUE, load.loaded);
  Com<IXMLDOMElement> element;
  root(element);

  // White space between elements is not kept; comments are nodes.
  Com<IXMLDOMNodeList> children;
  ASSERT_EQ(S_OK, element->get_childNodes(children.out()));
  LONG length = 0;
  ASSERT_EQ(S_OK, children->get_length(&length));
  ASSERT_EQ(3, length);
  const DOMNodeType expected[] = {NODE_ELEMENT, NODE_COMMENT, NODE_ELEMENT};
  for (LONG i = 0; i < length; ++i) {
    Com<IXMLDOMNode> child;
    ASSERT_EQ(S_OK, children->get_item(i, child.out()));
    DOMNodeType type = NODE_INVALID;
    ASSERT_EQ(S_OK, child->get_nodeType(&type));
    EXPECT_EQ(expected[i], type) << i;
  }
  Com<IXMLDOMNode> comment;
  ASSERT_EQ(S_OK, children->get_item(1, comment.out()));
  Variant note;
  ASSERT_EQ(S_OK, comment->get_nodeValue(note.get()));
  EXPECT_EQ(OleString(OLESTR("note")), note.text());

  // An element's text joins its descendants' text, trimmed at both ends.
  Com<IXMLDOMNode> c;
  selectOne(element.get(), OLESTR("c"), c);
  EXPECT_EQ(OleString(OLESTR("y  z")), textOf(c.get()));

  Com<IXMLDOMNode> b;
  selectOne(element.get(), OLESTR("b"), b);
  Com<IXMLDOMNode> text;
  ASSERT_EQ(S_OK, b->get_firstChild(text.out()));
  DOMNodeType type = NODE_INVALID;
  ASSERT_EQ(S_OK, text->get_nodeType(&type));
  EXPECT_EQ(NODE_TEXT, type);
  EXPECT_EQ(OleString(OLESTR("#text")), nameOf(text.get()));
  Variant value;
  ASSERT_EQ(S_OK, text->get_nodeValue(value.get()));
  EXPECT_EQ(OleString(OLESTR("x")), value.text());

  // Up the tree: the document element's parent is the document.
  Com<IXMLDOMNode> parent;
  ASSERT_EQ(S_OK, element->get_parentNode(parent.out()));
  ASSERT_EQ(S_OK, parent->get_nodeType(&type));
  EXPECT_EQ(NODE_DOCUMENT, type);
  EXPECT_EQ(OleString(OLESTR("#document")), nameOf(parent.get()));
}

TEST_F(DomDocumentTest, NodesKeepTheirDocumentAlive) {
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<r><n v='1'/></r>")).result);
  Com<IXMLDOMNode> node;
  selectOne(document_.get(), OLESTR("//n"), node);

  // A new tree in the document leaves the node with the old one.
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<other/>")).result);
  EXPECT_EQ(OleString(OLESTR("n")), nameOf(node.get()));
  EXPECT_EQ(OleString(OLESTR("1")), attributeOf(node.get(), OLESTR("v")));

  // Its owner is the document it was read from.
  Com<IXMLDOMDocument> owner;
  ASSERT_EQ(S_OK, node->get_ownerDocument(owner.out()));
  Com<IXMLDOMElement> element;
  ASSERT_EQ(S_OK, owner->get_documentElement(element.out()));
  EXPECT_EQ(OleString(OLESTR("r")), nameOf(element.get()));
  owner.reset();

  // The last outside reference to the document goes; the node keeps what it
  // needs, and so does a node read from the document's current tree.
  Com<IXMLDOMElement> current;
  ASSERT_EQ(S_OK, document_->get_documentElement(current.out()));
  document_.reset();
  EXPECT_EQ(OleString(OLESTR("1")), attributeOf(node.get(), OLESTR("v")));
  EXPECT_EQ(OleString(OLESTR("other")), nameOf(current.get()));
  ASSERT_EQ(S_OK, current->get_ownerDocument(owner.out()));
  ASSERT_EQ(S_OK, owner->get_documentElement(element.out()));
  EXPECT_EQ(OleString(OLESTR("other")), nameOf(element.get()));
}

TEST_F(DomDocumentTest, MissingFileIsObjectNotFound) {
  for (const std::string &path : {folder_->pathOf("absent.xml"), folder_->pathOf("no-folder/absent.xml")}) {
    LoadResult load = loadFile(document_.get(), path);
    EXPECT_EQ(S_FALSE, load.result) << path;
    EXPECT_EQ(VARIANT_FALSE, load.loaded) << path;
    ParseErrorView error = parseErrorOf(document_.get());
    EXPECT_LT(error.code, 0) << path;
    EXPECT_FALSE(error.reason.empty()) << path;
    if (kPlatformLayer) {
      EXPECT_EQ(kObjectNotFound, error.code);
      EXPECT_EQ(OleString(OLESTR("The system cannot locate the object specified.\r\n")), error.reason);
    } else {
      // Wine 8's msxml3 reports every failed load as E_FAIL, reason "error".
      EXPECT_EQ(E_FAIL, error.code);
    }
    IXMLDOMElement *element = reinterpret_cast<IXMLDOMElement *>(1);
    EXPECT_EQ(S_FALSE, document_->get_documentElement(&element));
    EXPECT_EQ(nullptr, element);
  }
}

TEST_F(DomDocumentTest, MalformedFileReportsWhereParsingStopped) {
  loadDefinitions();
  const std::string path = folder_->write(
      "bad.xml", "<Counters>\r\n  <Object Name=\"A\">\r\n  </Counter>\r\n</Counters>\r\n");
  LoadResult load = loadFile(document_.get(), path);
  EXPECT_EQ(S_FALSE, load.result);
  EXPECT_EQ(VARIANT_FALSE, load.loaded);
  // The failed load leaves no document behind, not the one loaded before.
  IXMLDOMElement *element = reinterpret_cast<IXMLDOMElement *>(1);
  EXPECT_EQ(S_FALSE, document_->get_documentElement(&element));
  EXPECT_EQ(nullptr, element);

  ParseErrorView error = parseErrorOf(document_.get());
  EXPECT_LT(error.code, 0);
  EXPECT_FALSE(error.reason.empty());
  if (kPlatformLayer) {
    EXPECT_EQ(static_cast<HRESULT>(0xC00CE56D), error.code);
    EXPECT_EQ(3, error.line);
    EXPECT_GT(error.linePosition, 0);
    const std::string reason = narrow(error.reason);
    EXPECT_EQ(0u, reason.find("End tag 'Counter' does not match the start tag 'Object'.")) << reason;
    EXPECT_NE(std::string::npos, reason.find("Line 3, position ")) << reason;
    EXPECT_EQ(OleString(OLESTR("  </Counter>")), error.sourceText);
  }
}

// MSXML's codes for kinds of documents that are not well-formed.
TEST_F(DomDocumentTest, ParseErrorKinds) {
  struct Case {
    const OLECHAR *text;
    HRESULT code;
  };
  const Case cases[] = {
      {OLESTR(""), static_cast<HRESULT>(0xC00CE558)},
      {OLESTR("text"), static_cast<HRESULT>(0xC00CE556)},
      {OLESTR("<a/><b/>"), static_cast<HRESULT>(0xC00CE555)},
      {OLESTR("<a/></b>"), static_cast<HRESULT>(0xC00CE552)},
      {OLESTR("<a x='1' x='2'/>"), static_cast<HRESULT>(0xC00CE554)},
      {OLESTR("<a><b>"), static_cast<HRESULT>(0xC00CE553)},
      {OLESTR("<a b=c/>"), static_cast<HRESULT>(0xC00CE502)},
      {OLESTR("<a>&undefined;</a>"), static_cast<HRESULT>(0xC00CE002)},
  };
  for (const Case &test : cases) {
    LoadResult load = loadText(document_.get(), test.text);
    EXPECT_EQ(S_FALSE, load.result) << narrow(test.text);
    EXPECT_EQ(VARIANT_FALSE, load.loaded) << narrow(test.text);
    ParseErrorView error = parseErrorOf(document_.get());
    EXPECT_LT(error.code, 0) << narrow(test.text);
    if (kPlatformLayer) {
      EXPECT_EQ(test.code, error.code) << narrow(test.text);
    }
  }
  if (kPlatformLayer) {
    // MSXML refuses a prefix that no namespace declaration binds; Wine 8's
    // msxml3 loads the document.
    EXPECT_EQ(S_FALSE, loadText(document_.get(), OLESTR("<p:a/>")).result);
    EXPECT_EQ(static_cast<HRESULT>(0xC00CE01D), parseErrorOf(document_.get()).code);

    loadText(document_.get(), OLESTR("<a><b>"));
    const std::string reason = narrow(parseErrorOf(document_.get()).reason);
    EXPECT_EQ(0u, reason.find("The following tags were not closed: a, b.")) << reason;
  }
}

std::string utf16(const OleString &text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (OLECHAR c : text) {
    char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST_F(DomDocumentTest, FilesInEveryEncodingLoad) {
  const OleString accented(OLESTR("\u00e9\u20ac"));
  const OleString utf16Document =
      OleString(OLESTR("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<r v=\"")) + accented + OLESTR("\"/>");
  struct Case {
    const char *name;
    std::string bytes;
    const OLECHAR *value;
  };
  const Case cases[] = {
      {"utf8.xml", "<r v=\"\xC3\xA9\xE2\x82\xAC\"/>", OLESTR("\u00e9\u20ac")},
      {"utf8-bom.xml", "\xEF\xBB\xBF<r v=\"\xC3\xA9\xE2\x82\xAC\"/>", OLESTR("\u00e9\u20ac")},
      {"utf16le.xml", utf16(utf16Document, false), OLESTR("\u00e9\u20ac")},
      {"utf16be.xml", utf16(utf16Document, true), OLESTR("\u00e9\u20ac")},
      {"cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r v=\"\xE9\x80\"/>", OLESTR("\u00e9\u20ac")},
      {"latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r v=\"\xE9\"/>", OLESTR("\u00e9")},
  };
  for (const Case &test : cases) {
    LoadResult load = loadFile(document_.get(), folder_->write(test.name, test.bytes));
    ASSERT_EQ(S_OK, load.result) << test.name << ": " << narrow(parseErrorOf(document_.get()).reason);
    ASSERT_EQ(VARIANT_TRUE, load.loaded) << test.name;
    Com<IXMLDOMElement> element;
    root(element);
    EXPECT_EQ(OleString(test.value), attributeOf(element.get(), OLESTR("v"))) << test.name;
  }

  // Bytes that are not UTF-8, in a file that names no encoding, do not load.
  LoadResult load = loadFile(document_.get(), folder_->write("undeclared.xml", "<r v=\"\xE9\"/>"));
  EXPECT_EQ(S_FALSE, load.result);
  EXPECT_EQ(VARIANT_FALSE, load.loaded);
  ParseErrorView error = parseErrorOf(document_.get());
  EXPECT_LT(error.code, 0);
  if (kPlatformLayer) {
    EXPECT_EQ(static_cast<HRESULT>(0xC00CE508), error.code);
  }
}

TEST_F(DomDocumentTest, LoadXmlTakesUnicodeTextWhateverItDeclares) {
  for (const OLECHAR *text : {OLESTR("<?xml version='1.0' encoding='UTF-16'?><r v='\u00e9\u20ac'/>"),
                              OLESTR("<?xml version='1.0' encoding='windows-1252'?><r v='\u00e9\u20ac'/>"),
                              OLESTR("<r v='\u00e9\u20ac'/>")}) {
    LoadResult load = loadText(document_.get(), text);
    ASSERT_EQ(S_OK, load.result) << narrow(text);
    ASSERT_EQ(VARIANT_TRUE, load.loaded) << narrow(text);
    Com<IXMLDOMElement> element;
    root(element);
    EXPECT_EQ(OleString(OLESTR("\u00e9\u20ac")), attributeOf(element.get(), OLESTR("v"))) << narrow(text);
  }
}

TEST_F(DomDocumentTest, XPathSelectionLanguageAndNamespaces) {
  Com<IXMLDOMDocument2> document;
  ASSERT_EQ(S_OK, document_->QueryInterface(IID_IXMLDOMDocument2, document.outVoid()));
  Bstr language(OLESTR("SelectionLanguage"));
  Variant value;
  ASSERT_EQ(S_OK, document->getProperty(language.get(), value.get()));
  EXPECT_EQ(OleString(OLESTR("XSLPattern")), value.text());
  value.setText(OLESTR("XPath"));
  ASSERT_EQ(S_OK, document->setProperty(language.get(), *value.get()));
  Variant current;
  ASSERT_EQ(S_OK, document->getProperty(language.get(), current.get()));
  EXPECT_EQ(OleString(OLESTR("XPath")), current.text());
  value.setText(OLESTR("Klingon"));
  EXPECT_EQ(E_FAIL, document->setProperty(language.get(), *value.get()));
  Bstr unknown(OLESTR("NoSuchProperty"));
  EXPECT_EQ(E_FAIL, document->setProperty(unknown.get(), *value.get()));
  Variant none;
  EXPECT_EQ(E_FAIL, document->getProperty(unknown.get(), none.get()));

  loadDefinitions();
  EXPECT_EQ(4, countOf(document_.get(), OLESTR("//@Name")));
  Com<IXMLDOMNode> second;
  selectOne(document_.get(), OLESTR("//Counter[position()=2]"), second);
  EXPECT_EQ(OleString(OLESTR("d")), attributeOf(second.get(), OLESTR("Name")));
  Com<IXMLDOMNode> empty;
  selectOne(document_.get(), OLESTR("//Object[count(Counter)=0]"), empty);
  EXPECT_EQ(OleString(OLESTR("B")), attributeOf(empty.get(), OLESTR("Name")));

  // Expressions that are not node sets, or not expressions, fail.
  for (const OLECHAR *query : {OLESTR("count(//Object)"), OLESTR("//Object[["), OLESTR("")}) {
    Bstr text(query);
    IXMLDOMNodeList *list = reinterpret_cast<IXMLDOMNodeList *>(1);
    EXPECT_EQ(E_FAIL, document_->selectNodes(text.get(), &list)) << narrow(query);
    EXPECT_EQ(nullptr, list) << narrow(query);
  }

  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<a xmlns:q='urn:p'><q:b/></a>")).result);
  Bstr namespaces(OLESTR("SelectionNamespaces"));
  value.setText(OLESTR("xmlns:p='urn:p'"));
  ASSERT_EQ(S_OK, document->setProperty(namespaces.get(), *value.get()));
  Com<IXMLDOMNode> b;
  selectOne(document_.get(), OLESTR("//p:b"), b);
  EXPECT_EQ(OleString(OLESTR("q:b")), nameOf(b.get()));
  Bstr uri, prefix, baseName;
  ASSERT_EQ(S_OK, b->get_namespaceURI(uri.out()));
  EXPECT_EQ(OleString(OLESTR("urn:p")), uri.text());
  ASSERT_EQ(S_OK, b->get_prefix(prefix.out()));
  EXPECT_EQ(OleString(OLESTR("q")), prefix.text());
  ASSERT_EQ(S_OK, b->get_baseName(baseName.out()));
  EXPECT_EQ(OleString(OLESTR("b")), baseName.text());
}

TEST_F(DomDocumentTest, EachNodeAnswersToItsOwnInterfaces) {
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<r a='1'>text</r>")).result);
  Com<IXMLDOMDocument2> document2;
  EXPECT_EQ(S_OK, document_->QueryInterface(IID_IXMLDOMDocument2, document2.outVoid()));
  Com<IDispatch> dispatch;
  EXPECT_EQ(S_OK, document_->QueryInterface(IID_IDispatch, dispatch.outVoid()));

  Com<IXMLDOMElement> element;
  root(element);
  Com<IUnknown> other;
  EXPECT_EQ(E_NOINTERFACE, element->QueryInterface(IID_IXMLDOMAttribute, other.outVoid()));
  EXPECT_EQ(E_NOINTERFACE, element->QueryInterface(IID_IXMLDOMText, other.outVoid()));
  EXPECT_EQ(E_NOINTERFACE, element->QueryInterface(IID_IXMLDOMDocument, other.outVoid()));

  Bstr name(OLESTR("a"));
  Com<IXMLDOMAttribute> attribute;
  ASSERT_EQ(S_OK, element->getAttributeNode(name.get(), attribute.out()));
  Variant value;
  ASSERT_EQ(S_OK, attribute->get_value(value.get()));
  EXPECT_EQ(OleString(OLESTR("1")), value.text());
  EXPECT_EQ(E_NOINTERFACE, attribute->QueryInterface(IID_IXMLDOMElement, other.outVoid()));

  Com<IXMLDOMNode> child;
  ASSERT_EQ(S_OK, element->get_firstChild(child.out()));
  Com<IXMLDOMText> text;
  ASSERT_EQ(S_OK, child->QueryInterface(IID_IXMLDOMText, text.outVoid()));
  LONG length = 0;
  ASSERT_EQ(S_OK, text->get_length(&length));
  EXPECT_EQ(4, length);
  Bstr data;
  ASSERT_EQ(S_OK, text->get_data(data.out()));
  EXPECT_EQ(OleString(OLESTR("text")), data.text());
  EXPECT_EQ(E_NOINTERFACE, child->QueryInterface(IID_IXMLDOMElement, other.outVoid()));
}

}  // namespace
