// The MSXML DOM document as the component reads its definition files: load,
// parse errors, element and attribute access, XPath selection. The same
// expectations hold natively over the platform layer and under Wine against
// msxml3, except where a test says otherwise.
#include "DomTestSupport.h"

namespace {

const char kDefinitions[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<Counters>\r\n"
    "  <Object Name=\"A\">\r\n"
    "    <Counter Name=\"c\" Type=\"PERF_COUNTER_RAWCOUNT\"/>\r\n"
    "    <Counter Name=\"d\" Type=\"PERF_COUNTER_COUNTER\"/>\r\n"
    "  </Object>\r\n"
    "  <Object Name=\"B\"/>\r\n"
    "</Counters>\r\n";

OleString nameOf(IXMLDOMNode *node) {
  Bstr name;
  EXPECT_EQ(S_OK, node->get_nodeName(name.out()));
  return name.text();
}

class DomDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { folder_ = new DataFolder; }
  static void TearDownTestSuite() { delete folder_; }

  void SetUp() override {
    com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(com_));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                     document_.outVoid()));
    ASSERT_EQ(S_OK, document_->put_async(VARIANT_FALSE));
  }
  void TearDown() override {
    document_.reset();
    if (SUCCEEDED(com_)) CoUninitialize();
  }

  void loadDefinitions() {
    LoadResult load = loadFile(document_.get(), folder_->write("counters.xml", kDefinitions));
    ASSERT_EQ(S_OK, load.result);
    ASSERT_EQ(VARIANT_TRUE, load.loaded);
  }

  void selectOne(IXMLDOMNode *from, const OLECHAR *query, Com<IXMLDOMNode> &node) {
    ASSERT_EQ(S_OK, from->selectSingleNode(Bstr(query).get(), node.out())) << narrow(query);
    ASSERT_TRUE(node);
  }

  LONG countOf(IXMLDOMNode *from, const OLECHAR *query) {
    Com<IXMLDOMNodeList> list;
    LONG length = -1;
    EXPECT_EQ(S_OK, from->selectNodes(Bstr(query).get(), list.out())) << narrow(query);
    if (list) {
      EXPECT_EQ(S_OK, list->get_length(&length));
    }
    return length;
  }

  static DataFolder *folder_;
  HRESULT com_ = E_FAIL;
  Com<IXMLDOMDocument> document_;
};

DataFolder *DomDocumentTest::folder_ = nullptr;

TEST_F(DomDocumentTest, NodeListsHaveLengthAndBounds) {
  loadDefinitions();
  EXPECT_EQ(0, parseErrorOf(document_.get()).code);
  Com<IXMLDOMNodeList> list;
  ASSERT_EQ(S_OK, document_->selectNodes(Bstr(OLESTR("//Object")).get(), list.out()));
  LONG length = 0;
  ASSERT_EQ(S_OK, list->get_length(&length));
  ASSERT_EQ(2, length);

  // nextNode walks the list once; reset starts it again.
  Com<IXMLDOMNode> item;
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(OLESTR("A"), attributeOf(item.get(), OLESTR("Name")));
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(S_FALSE, list->nextNode(item.out()));
  EXPECT_FALSE(item);
  ASSERT_EQ(S_OK, list->reset());

  // Reading an item by position moves nextNode to the one after it;
  // positions outside the list give nothing and move nothing.
  ASSERT_EQ(S_OK, list->get_item(1, item.out()));
  EXPECT_EQ(OLESTR("B"), attributeOf(item.get(), OLESTR("Name")));
  ASSERT_EQ(S_OK, list->get_item(0, item.out()));
  for (LONG outside : {2L, -1L, 1000L}) {
    IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
    EXPECT_EQ(S_FALSE, list->get_item(outside, &none)) << outside;
    EXPECT_EQ(nullptr, none) << outside;
  }
  EXPECT_EQ(E_INVALIDARG, list->get_item(0, nullptr));
  ASSERT_EQ(S_OK, list->nextNode(item.out()));
  EXPECT_EQ(OLESTR("B"), attributeOf(item.get(), OLESTR("Name")));
}

TEST_F(DomDocumentTest, XPathSelection) {
  Com<IXMLDOMDocument2> document;
  ASSERT_EQ(S_OK, document_->QueryInterface(IID_IXMLDOMDocument2, document.outVoid()));
  Bstr language(OLESTR("SelectionLanguage"));
  Variant value;
  ASSERT_EQ(S_OK, document->getProperty(language.get(), value.get()));
  EXPECT_EQ(OLESTR("XSLPattern"), value.text());
  value.setText(OLESTR("Klingon"));
  EXPECT_EQ(E_FAIL, document->setProperty(language.get(), *value.get()));
  value.setText(OLESTR("XPath"));
  ASSERT_EQ(S_OK, document->setProperty(language.get(), *value.get()));

  // Paths are relative to the node they are asked of.
  loadDefinitions();
  Com<IXMLDOMElement> root;
  ASSERT_EQ(S_OK, document_->get_documentElement(root.out()));
  Com<IXMLDOMNode> counter, objectB, top, node;
  selectOne(root.get(), OLESTR("Object[@Name='A']/Counter"), counter);
  EXPECT_EQ(OLESTR("c"), attributeOf(counter.get(), OLESTR("Name")));
  EXPECT_EQ(2, countOf(root.get(), OLESTR("Object[@Name='A']/Counter")));
  selectOne(root.get(), OLESTR("Object[@Name='B']"), objectB);
  EXPECT_EQ(0, countOf(objectB.get(), OLESTR("Counter")));
  EXPECT_EQ(0, countOf(document_.get(), OLESTR("Object")));
  selectOne(counter.get(), OLESTR("/Counters"), top);
  EXPECT_EQ(OLESTR("Counters"), nameOf(top.get()));
  IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
  EXPECT_EQ(S_FALSE, root->selectSingleNode(Bstr(OLESTR("Object[@Name='Z']")).get(), &none));
  EXPECT_EQ(nullptr, none);

  EXPECT_EQ(4, countOf(document_.get(), OLESTR("//@Name")));
  // Expressions that are not node sets, or not expressions, fail.
  for (const OLECHAR *query : {OLESTR("count(//Object)"), OLESTR("//Object[["), OLESTR("")}) {
    IXMLDOMNodeList *list = reinterpret_cast<IXMLDOMNodeList *>(1);
    EXPECT_EQ(E_FAIL, document_->selectNodes(Bstr(query).get(), &list)) << narrow(query);
    EXPECT_EQ(nullptr, list) << narrow(query);
  }

  // Prefixes of the query are bound by SelectionNamespaces, not by the document's own.
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<a xmlns:q='urn:p'><q:b/></a>")).result);
  value.setText(OLESTR("xmlns:p='urn:p'"));
  ASSERT_EQ(S_OK, document->setProperty(Bstr(OLESTR("SelectionNamespaces")).get(), *value.get()));
  selectOne(document_.get(), OLESTR("//p:b"), node);
  EXPECT_EQ(OLESTR("q:b"), nameOf(node.get()));
  Bstr uri;
  ASSERT_EQ(S_OK, node->get_namespaceURI(uri.out()));
  EXPECT_EQ(OLESTR("urn:p"), uri.text());
}

TEST_F(DomDocumentTest, AttributesThroughTheMapAndTheElement) {
  loadDefinitions();
  Com<IXMLDOMNode> counter, type, first;
  selectOne(document_.get(), OLESTR("//Counter"), counter);
  Com<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(S_OK, counter->get_attributes(map.out()));
  LONG length = 0;
  ASSERT_EQ(S_OK, map->get_length(&length));
  EXPECT_EQ(2, length);
  ASSERT_EQ(S_OK, map->get_item(0, first.out()));
  EXPECT_EQ(OLESTR("Name"), nameOf(first.get()));
  IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
  EXPECT_EQ(S_FALSE, map->get_item(2, &none));
  EXPECT_EQ(nullptr, none);

  ASSERT_EQ(S_OK, map->getNamedItem(Bstr(OLESTR("Type")).get(), type.out()));
  DOMNodeType kind = NODE_INVALID;
  ASSERT_EQ(S_OK, type->get_nodeType(&kind));
  EXPECT_EQ(NODE_ATTRIBUTE, kind);
  Variant value;
  ASSERT_EQ(S_OK, type->get_nodeValue(value.get()));
  EXPECT_EQ(OLESTR("PERF_COUNTER_RAWCOUNT"), value.text());
  // Names match exactly, case included.
  for (const OLECHAR *missing : {OLESTR("missing"), OLESTR("type")}) {
    none = reinterpret_cast<IXMLDOMNode *>(1);
    EXPECT_EQ(S_FALSE, map->getNamedItem(Bstr(missing).get(), &none)) << narrow(missing);
    EXPECT_EQ(nullptr, none);
  }

  Com<IXMLDOMElement> element;
  ASSERT_EQ(S_OK, counter->QueryInterface(IID_IXMLDOMElement, element.outVoid()));
  Variant absent;
  EXPECT_EQ(S_FALSE, element->getAttribute(Bstr(OLESTR("missing")).get(), absent.get()));
  EXPECT_EQ(VT_NULL, V_VT(absent.get()));
  IXMLDOMNamedNodeMap *noMap = reinterpret_cast<IXMLDOMNamedNodeMap *>(1);
  EXPECT_EQ(S_FALSE, document_->get_attributes(&noMap));
  EXPECT_EQ(nullptr, noMap);
}

// Attributes are found by their whole qualified name, in any script and of
// any length, and give their value whole, references replaced.
TEST_F(DomDocumentTest, AttributeNamesAndValuesOfEveryKind) {
  const OleString longName(70, OLESTR('n'));
  const OleString text = OLESTR("<!DOCTYPE a [<!ENTITY e 'ee'>]><a xmlns:p='urn:p' p:n='prefixed' n='plain' ") +
                         OleString(OLESTR("names='longer' na\u00EFve='caf\u00E9 \u00FC' ")) + longName +
                         OLESTR("='long' refs='x&amp;y&#233;' entity='a&e;b'/>");
  ASSERT_EQ(S_OK, loadText(document_.get(), text).result);
  Com<IXMLDOMElement> root;
  ASSERT_EQ(S_OK, document_->get_documentElement(root.out()));
  Com<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(S_OK, root->get_attributes(map.out()));
  const struct {
    OleString name;
    OleString value;
  } found[] = {{OLESTR("p:n"), OLESTR("prefixed")}, {OLESTR("n"), OLESTR("plain")},
               {OLESTR("names"), OLESTR("longer")}, {OLESTR("na\u00EFve"), OLESTR("caf\u00E9 \u00FC")},
               {longName, OLESTR("long")},          {OLESTR("refs"), OLESTR("x&y\u00E9")},
               {OLESTR("entity"), OLESTR("aeeb")}};
  for (const auto &attribute : found) {
    SCOPED_TRACE(narrow(attribute.name.c_str()));
    Com<IXMLDOMNode> item;
    ASSERT_EQ(S_OK, map->getNamedItem(Bstr(attribute.name.c_str()).get(), item.out()));
    EXPECT_EQ(attribute.value, textOf(item.get()));
    Variant value;
    ASSERT_EQ(S_OK, item->get_nodeValue(value.get()));
    EXPECT_EQ(attribute.value, value.text());
    EXPECT_EQ(attribute.value, attributeOf(root.get(), attribute.name.c_str()));
  }
  for (const OleString &missing : {OleString(OLESTR("p")), OleString(OLESTR("name")), OleString(OLESTR("q:n")),
                                   OleString(OLESTR("naive")), longName + OLESTR("n")}) {
    IXMLDOMNode *none = reinterpret_cast<IXMLDOMNode *>(1);
    EXPECT_EQ(S_FALSE, map->getNamedItem(Bstr(missing.c_str()).get(), &none)) << narrow(missing.c_str());
    EXPECT_EQ(nullptr, none);
  }
}

// Each selection starts afresh: from its own node and document, with the
// namespaces of its own document only, and whatever the selection before it
// did or failed to do.
TEST_F(DomDocumentTest, SelectionsDoNotInheritFromOneAnother) {
  loadDefinitions();
  Com<IXMLDOMDocument> other;
  ASSERT_EQ(S_OK,
            CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, other.outVoid()));
  ASSERT_EQ(S_OK, other->put_async(VARIANT_FALSE));
  ASSERT_EQ(S_OK, loadText(other.get(), OLESTR("<a xmlns:q='urn:p'><q:b/><q:b/><c/></a>")).result);
  // Both documents select with XPath (msxml3's default language, XSL
  // patterns, neither fails on an unbound prefix nor survives a broken
  // expression).
  Com<IXMLDOMDocument2> bound, plain;
  ASSERT_EQ(S_OK, other->QueryInterface(IID_IXMLDOMDocument2, bound.outVoid()));
  ASSERT_EQ(S_OK, document_->QueryInterface(IID_IXMLDOMDocument2, plain.outVoid()));
  Variant value;
  value.setText(OLESTR("XPath"));
  for (IXMLDOMDocument2 *document : {bound.get(), plain.get()})
    ASSERT_EQ(S_OK, document->setProperty(Bstr(OLESTR("SelectionLanguage")).get(), *value.get()));
  value.setText(OLESTR("xmlns:p='urn:p'"));
  ASSERT_EQ(S_OK, bound->setProperty(Bstr(OLESTR("SelectionNamespaces")).get(), *value.get()));

  Com<IXMLDOMElement> root;
  ASSERT_EQ(S_OK, document_->get_documentElement(root.out()));
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(2, countOf(other.get(), OLESTR("//p:b")));
    // The prefix is bound in the other document only.
    Com<IXMLDOMNodeList> list;
    EXPECT_EQ(E_FAIL, document_->selectNodes(Bstr(OLESTR("//p:b")).get(), list.out()));
    EXPECT_EQ(E_FAIL, root->selectNodes(Bstr(OLESTR("Object[[")).get(), list.out()));
    // Positions count within this selection's own context.
    Com<IXMLDOMNode> second, last;
    selectOne(root.get(), OLESTR("Object[2]"), second);
    EXPECT_EQ(OLESTR("B"), attributeOf(second.get(), OLESTR("Name")));
    selectOne(second.get(), OLESTR("../Object[1]/Counter[last()]"), last);
    EXPECT_EQ(OLESTR("d"), attributeOf(last.get(), OLESTR("Name")));
    EXPECT_EQ(1, countOf(other.get(), OLESTR("/a/c")));
    EXPECT_EQ(0, countOf(root.get(), OLESTR("c")));
  }
}

TEST_F(DomDocumentTest, NodesOutliveTheirTreeAndTheDocument) {
  // White space between elements is not kept: <b/> and <c/> are the only children.
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<a>\n <b v='1'/>\n <c/>\n</a>")).result);
  Com<IXMLDOMElement> root, current;
  Com<IXMLDOMNode> b;
  ASSERT_EQ(S_OK, document_->get_documentElement(root.out()));
  EXPECT_EQ(2, countOf(root.get(), OLESTR("node()")));
  selectOne(root.get(), OLESTR("b"), b);

  // A node keeps its own tree when the document loads another one, and
  // nodes of either tree outlive the last outside reference to the document.
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<other/>")).result);
  ASSERT_EQ(S_OK, document_->get_documentElement(current.out()));
  document_.reset();
  EXPECT_EQ(OLESTR("1"), attributeOf(b.get(), OLESTR("v")));
  Com<IXMLDOMDocument> owner;
  ASSERT_EQ(S_OK, b->get_ownerDocument(owner.out()));
  ASSERT_EQ(S_OK, owner->get_documentElement(root.out()));
  EXPECT_EQ(OLESTR("a"), nameOf(root.get()));
  ASSERT_EQ(S_OK, current->get_ownerDocument(owner.out()));
  ASSERT_EQ(S_OK, owner->get_documentElement(root.out()));
  EXPECT_EQ(OLESTR("other"), nameOf(root.get()));
}

TEST_F(DomDocumentTest, ParseErrorsSayWhatAndWhere) {
  // Wine 8's msxml3 reports every failed load as E_FAIL.
  LoadResult load = loadFile(document_.get(), folder_->pathOf("no-folder/absent.xml"));
  EXPECT_EQ(S_FALSE, load.result);
  EXPECT_EQ(VARIANT_FALSE, load.loaded);
  ParseErrorView error = parseErrorOf(document_.get());
  EXPECT_EQ(kPlatformLayer ? HRESULT(0x800C0006) : E_FAIL, error.code);
  EXPECT_FALSE(error.reason.empty());
  if (kPlatformLayer) {
    EXPECT_EQ(OLESTR("The system cannot locate the object specified.\r\n"), error.reason);
  }

  // A malformed file after a good one: no document is left, and the error
  // says where parsing stopped.
  loadDefinitions();
  load = loadFile(document_.get(), folder_->write("bad.xml",
                                                  "<Counters>\r\n  <Object Name=\"A\">\r\n"
                                                  "  </Counter>\r\n</Counters>\r\n"));
  EXPECT_EQ(S_FALSE, load.result);
  EXPECT_EQ(VARIANT_FALSE, load.loaded);
  IXMLDOMElement *element = reinterpret_cast<IXMLDOMElement *>(1);
  EXPECT_EQ(S_FALSE, document_->get_documentElement(&element));
  EXPECT_EQ(nullptr, element);
  error = parseErrorOf(document_.get());
  EXPECT_LT(error.code, 0);
  EXPECT_FALSE(error.reason.empty());
  if (kPlatformLayer) {
    EXPECT_EQ(HRESULT(0xC00CE56D), error.code);
    EXPECT_EQ(3, error.line);
    EXPECT_GT(error.linePosition, 0);
    EXPECT_EQ(OLESTR("  </Counter>"), error.sourceText);
    const std::string reason = narrow(error.reason);
    EXPECT_EQ(0u, reason.find("End tag 'Counter' does not match the start tag 'Object'.")) << reason;
    EXPECT_NE(std::string::npos, reason.find("Line 3, position ")) << reason;
  }

  // MSXML's codes for the kinds of text that are not well-formed. Wine 8's
  // msxml3 loads the unbound prefix.
  const struct {
    const OLECHAR *text;
    HRESULT code;
  } kinds[] = {{OLESTR(""), HRESULT(0xC00CE558)},
               {OLESTR("text"), HRESULT(0xC00CE556)},
               {OLESTR("<a/><b/>"), HRESULT(0xC00CE555)},
               {OLESTR("<a/></b>"), HRESULT(0xC00CE552)},
               {OLESTR("<a x='1' x='2'/>"), HRESULT(0xC00CE554)},
               {OLESTR("<a b=c/>"), HRESULT(0xC00CE502)},
               {OLESTR("<a>&undefined;</a>"), HRESULT(0xC00CE002)},
               {OLESTR("<p:a/>"), HRESULT(0xC00CE01D)},
               {OLESTR("<a><b>"), HRESULT(0xC00CE553)}};
  for (const auto &kind : kinds) {
    if (!kPlatformLayer && kind.code == HRESULT(0xC00CE01D)) continue;
    EXPECT_EQ(S_FALSE, loadText(document_.get(), kind.text).result) << narrow(kind.text);
    EXPECT_EQ(kPlatformLayer ? kind.code : E_FAIL, parseErrorOf(document_.get()).code) << narrow(kind.text);
  }
  if (kPlatformLayer) {
    const std::string reason = narrow(parseErrorOf(document_.get()).reason);
    EXPECT_EQ(0u, reason.find("The following tags were not closed: a, b.")) << reason;
  }
}

std::string utf16(const OleString &text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (OLECHAR c : text) {
    const char high = char(c >> 8), low = char(c & 0xFF);
    bytes += {bigEndian ? high : low, bigEndian ? low : high};
  }
  return bytes;
}

// Files in the encoding they carry or declare; text given to loadXML is
// Unicode whatever it declares.
TEST_F(DomDocumentTest, EncodingsOfFilesAndText) {
  const OLECHAR *accented = OLESTR("\u00e9\u20ac");
  const OleString utf16Document = OLESTR("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r v=\"\u00e9\u20ac\"/>");
  const struct {
    const char *name;
    std::string bytes;
    const OLECHAR *text;
    const OLECHAR *value;
  } cases[] = {
      {"utf8.xml", "<r v=\"\xC3\xA9\xE2\x82\xAC\"/>", nullptr, accented},
      {"utf8-bom.xml", "\xEF\xBB\xBF<r v=\"\xC3\xA9\xE2\x82\xAC\"/>", nullptr, accented},
      {"utf16le.xml", utf16(utf16Document, false), nullptr, accented},
      {"utf16be.xml", utf16(utf16Document, true), nullptr, accented},
      {"cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r v=\"\xE9\x80\"/>", nullptr, accented},
      {"latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r v=\"\xE9\"/>", nullptr, OLESTR("\u00e9")},
      {"text", "", utf16Document.c_str(), accented},
      {"text", "", OLESTR("<?xml version='1.0' encoding='windows-1252'?><r v='\u00e9\u20ac'/>"), accented},
      {"text", "", OLESTR("<r v='\u00e9\u20ac'/>"), accented},
  };
  for (const auto &test : cases) {
    LoadResult load = test.text != nullptr ? loadText(document_.get(), test.text)
                                           : loadFile(document_.get(), folder_->write(test.name, test.bytes));
    ASSERT_EQ(S_OK, load.result) << test.name << ": " << narrow(parseErrorOf(document_.get()).reason);
    ASSERT_EQ(VARIANT_TRUE, load.loaded) << test.name;
    Com<IXMLDOMElement> element;
    ASSERT_EQ(S_OK, document_->get_documentElement(element.out()));
    EXPECT_EQ(OleString(test.value), attributeOf(element.get(), OLESTR("v"))) << test.name;
  }

  // Bytes that are not UTF-8, in a file that names no encoding, do not load.
  LoadResult load = loadFile(document_.get(), folder_->write("undeclared.xml", "<r v=\"\xE9\"/>"));
  EXPECT_EQ(S_FALSE, load.result);
  EXPECT_EQ(VARIANT_FALSE, load.loaded);
  EXPECT_EQ(kPlatformLayer ? HRESULT(0xC00CE508) : E_FAIL, parseErrorOf(document_.get()).code);
}

}  // namespace
