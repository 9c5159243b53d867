// The platform's own DOM document beyond what Wine can be compared with:
// Windows paths, sources that are not files, external
// resources that must never be fetched, and input that must not crash.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../DomTestSupport.h"
#include "kernel/paths.h"
#include "msxml/dom_document.h"

namespace {

class PlatformDomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, platform::msxml::CreateDomDocument(nullptr, IID_IXMLDOMDocument, document_.outVoid()));
  }

  Com<IXMLDOMDocument> document_;
  DataFolder folder_;
};

OleString nameOf(IXMLDOMNode *node) {
  Bstr name;
  EXPECT_EQ(S_OK, node->get_nodeName(name.out()));
  return name.text();
}

// Every call hands out a node object of its own with a count of its own,
// also where it takes the storage of one let go of before; and threads that
// read documents at the same time, and let go of node objects that other
// threads made, each get their own answers.
TEST_F(PlatformDomTest, NodeObjectsAreMadeForEveryCallOnEveryThread) {
  ASSERT_EQ(S_OK, loadText(document_.get(), OLESTR("<a x='1' y='2'/>")).result);
  Com<IXMLDOMElement> root;
  ASSERT_EQ(S_OK, document_->get_documentElement(root.out()));
  Com<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(S_OK, root->get_attributes(map.out()));
  Com<IXMLDOMNode> first, second, next;
  ASSERT_EQ(S_OK, map->getNamedItem(Bstr(OLESTR("x")).get(), first.out()));
  ASSERT_EQ(S_OK, map->getNamedItem(Bstr(OLESTR("x")).get(), second.out()));
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(2u, first->AddRef());
  EXPECT_EQ(1u, first->Release());
  first.reset();
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(S_OK, map->getNamedItem(Bstr(OLESTR("y")).get(), next.out()));
    EXPECT_NE(second.get(), next.get());
    EXPECT_EQ(2u, next->AddRef());
    EXPECT_EQ(1u, next->Release());
    EXPECT_EQ(OLESTR("y"), nameOf(next.get()));
    EXPECT_EQ(OLESTR("2"), textOf(next.get()));
  }
  EXPECT_EQ(OLESTR("x"), nameOf(second.get()));
  EXPECT_EQ(OLESTR("1"), textOf(second.get()));

  constexpr int Threads = 4, Rounds = 100, Items = 5;
  std::vector<std::vector<IXMLDOMNode *>> kept(Threads);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < Threads; ++t)
    readers.emplace_back([&, t] {
      const OleString mark = widen(std::to_string(t));
      OleString text = OLESTR("<a xmlns:p='urn:p'>");
      for (int i = 0; i < Items; ++i) text += OLESTR("<p:b v='") + mark + widen(std::to_string(i)) + OLESTR("'/>");
      text += OLESTR("</a>");
      Com<IXMLDOMDocument2> document;
      if (FAILED(platform::msxml::CreateDomDocument(nullptr, IID_IXMLDOMDocument2, document.outVoid())) ||
          loadText(document.get(), text).result != S_OK) {
        ++wrong;
        return;
      }
      Variant value;
      value.setText(OLESTR("XPath"));
      document->setProperty(Bstr(OLESTR("SelectionLanguage")).get(), *value.get());
      value.setText(OLESTR("xmlns:q='urn:p'"));
      document->setProperty(Bstr(OLESTR("SelectionNamespaces")).get(), *value.get());
      for (int round = 0; round < Rounds; ++round) {
        Com<IXMLDOMNodeList> items;
        LONG length = 0;
        if (document->selectNodes(Bstr(OLESTR("/a/q:b")).get(), items.out()) != S_OK ||
            items->get_length(&length) != S_OK || length != Items)
          ++wrong;
        for (LONG i = 0; i < length; ++i) {
          Com<IXMLDOMNode> item, attribute;
          Com<IXMLDOMNamedNodeMap> attributes;
          if (items->get_item(i, item.out()) != S_OK || item->get_attributes(attributes.out()) != S_OK ||
              attributes->getNamedItem(Bstr(OLESTR("v")).get(), attribute.out()) != S_OK ||
              textOf(attribute.get()) != mark + widen(std::to_string(i)))
            ++wrong;
          else if (round % 25 == 0 && attribute->AddRef() == 2)
            kept[t].push_back(attribute.get());
        }
      }
    });
  for (std::thread &reader : readers) reader.join();
  EXPECT_EQ(0, wrong.load());
  // The node objects the readers kept outlive their threads, and are let go
  // of on another.
  std::thread([&] {
    for (int t = 0; t < Threads; ++t)
      for (size_t at = 0; at < kept[t].size(); ++at) {
        EXPECT_EQ(widen(std::to_string(t)) + widen(std::to_string(at % Items)), textOf(kept[t][at]));
        EXPECT_EQ(0u, kept[t][at]->Release());
      }
  }).join();
}

TEST_F(PlatformDomTest, WindowsPathsLoadAndGiveTheFileUrl) {
  const std::filesystem::path folder = std::filesystem::path(platform::kernel::rootFolder()) / "c" / "defs";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "RVCounters.xml", std::ios::binary) << "<PerfData Enabled=\"1\"/>";
  const std::string windowsPath = "C:\\defs\\RVCounters.xml";
  for (const std::string &path :
       {windowsPath, std::string("c:/defs/RVCounters.xml"), platform::kernel::toPosixPath(windowsPath)}) {
    LoadResult load = loadFile(document_.get(), path);
    ASSERT_EQ(S_OK, load.result) << path;
    ASSERT_EQ(VARIANT_TRUE, load.loaded) << path;
    Bstr url;
    ASSERT_EQ(S_OK, document_->get_url(url.out()));
    EXPECT_EQ(OLESTR("file:///C:/defs/RVCounters.xml"), url.text()) << path;
  }
  // A drive letter that was never made is as missing as a missing file.
  EXPECT_EQ(S_FALSE, loadFile(document_.get(), "Q:\\nowhere\\RVCounters.xml").result);
  EXPECT_EQ(static_cast<HRESULT>(0x800C0006), parseErrorOf(document_.get()).code);
  Com<IXMLDOMParseError> error;
  Bstr url;
  ASSERT_EQ(S_OK, document_->get_parseError(error.out()));
  ASSERT_EQ(S_OK, error->get_url(url.out()));
  EXPECT_EQ(OLESTR("Q:\\nowhere\\RVCounters.xml"), url.text());
}

TEST_F(PlatformDomTest, SourcesThatAreNotFiles) {
  // A folder is not readable as a document.
  EXPECT_EQ(S_FALSE, loadFile(document_.get(), std::filesystem::temp_directory_path().string()).result);
  EXPECT_EQ(E_ACCESSDENIED, parseErrorOf(document_.get()).code);

  // No source at all: not loaded, no code.
  Variant source;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, document_->load(*source.get(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  EXPECT_EQ(0, parseErrorOf(document_.get()).code);

  // A byte array holds a document in any encoding.
  const char bytes[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r v=\"\x80\"/>";
  V_VT(source.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(source.get()) = SafeArrayCreateVector(VT_UI1, 0, sizeof bytes - 1);
  ASSERT_NE(nullptr, V_ARRAY(source.get()));
  memcpy(V_ARRAY(source.get())->pvData, bytes, sizeof bytes - 1);
  ASSERT_EQ(S_OK, document_->load(*source.get(), &loaded));
  Com<IXMLDOMElement> element;
  ASSERT_EQ(S_OK, document_->get_documentElement(element.out()));
  EXPECT_EQ(OLESTR("\u20ac"), attributeOf(element.get(), OLESTR("v")));
}

TEST_F(PlatformDomTest, ExternalResourcesAreNeverFetched) {
  const std::string secret = folder_.write("secret.txt", "SECRET");
  const std::string withEntity = "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + secret + "\">]><r>[&e;]</r>";
  ASSERT_EQ(S_OK, loadFile(document_.get(), folder_.write("entity.xml", withEntity)).result);
  Com<IXMLDOMElement> element;
  ASSERT_EQ(S_OK, document_->get_documentElement(element.out()));
  EXPECT_EQ(OLESTR("[]"), textOf(element.get()));
  Bstr xml;
  ASSERT_EQ(S_OK, document_->get_xml(xml.out()));
  EXPECT_EQ(std::string::npos, narrow(xml.text()).find("SECRET"));

  // An external DTD on the network is not asked for; the document loads.
  const std::string remote = "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>";
  EXPECT_EQ(S_OK, loadFile(document_.get(), folder_.write("remote.xml", remote)).result);
}

TEST_F(PlatformDomTest, HostileInputFailsWithoutCrashingOrPrinting) {
  // libxml2 must stay silent: its diagnostics would reach the host's stderr.
  const std::string captured = folder_.pathOf("stderr.txt");
  fflush(stderr);
  int saved = dup(2), file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  dup2(file, 2);
  close(file);

  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  LoadResult nested = loadFile(document_.get(), folder_.write("deep.xml", deep));
  LONG nestedCode = parseErrorOf(document_.get()).code;
  // Ten levels of entities, each ten of the one below.
  std::string bomb = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
  for (char level = 'b'; level <= 'k'; ++level) {
    bomb += std::string("<!ENTITY ") + level + " \"";
    for (int i = 0; i < 10; ++i) bomb += std::string("&") + char(level - 1) + ";";
    bomb += "\">";
  }
  LoadResult expanded = loadText(document_.get(), widen(bomb + "]><r>&k;</r>"));
  LONG expandedCode = parseErrorOf(document_.get()).code;
  Com<IXMLDOMNodeList> list;
  HRESULT selected = document_->selectNodes(Bstr(OLESTR("//a[[[")).get(), list.out());

  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(S_FALSE, nested.result);
  EXPECT_LT(nestedCode, 0);
  EXPECT_EQ(S_FALSE, expanded.result);
  EXPECT_LT(expandedCode, 0);
  EXPECT_EQ(E_FAIL, selected);
  EXPECT_EQ(0u, std::filesystem::file_size(captured));
}

}  // namespace
