// Owners and helpers for the tests of the MSXML DOM document. They are
// written against the Windows API, so that the same tests run over the
// platform layer and, under Wine, against Wine's msxml3.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../PlatformTestSupport.h"
#include "OleOwners.h"

// A folder of the temporary folder for this process's data files, removed
// with all it holds when the owner goes.
class DataFolder {
 public:
  DataFolder() {
    path_ = std::filesystem::temp_directory_path() / ("dom-tests-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(path_);
  }
  DataFolder(const DataFolder &) = delete;
  DataFolder &operator=(const DataFolder &) = delete;
  ~DataFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string pathOf(const std::string &name) const { return (path_ / name).string(); }
  // Writes the bytes to a file of the folder and returns its full path.
  std::string write(const std::string &name, const std::string &bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return pathOf(name);
  }

 private:
  std::filesystem::path path_;
};

// The result of load or loadXML, and the success flag.
struct LoadResult {
  HRESULT result;
  VARIANT_BOOL loaded;
};
inline LoadResult loadFile(IXMLDOMDocument *document, const std::string &path) {
  Variant source;
  source.setText(widen(path));
  LoadResult outcome{E_UNEXPECTED, 1};
  outcome.result = document->load(*source.get(), &outcome.loaded);
  return outcome;
}
inline LoadResult loadText(IXMLDOMDocument *document, const OleString &text) {
  Bstr source(text);
  LoadResult outcome{E_UNEXPECTED, 1};
  outcome.result = document->loadXML(source.get(), &outcome.loaded);
  return outcome;
}

struct ParseErrorView {
  LONG code = 0;
  OleString reason;
  LONG line = -1;
  LONG linePosition = -1;
  OleString sourceText;
};
inline ParseErrorView parseErrorOf(IXMLDOMDocument *document) {
  ParseErrorView view;
  Com<IXMLDOMParseError> error;
  EXPECT_EQ(S_OK, document->get_parseError(error.out()));
  if (!error) return view;
  Bstr reason, source;
  error->get_errorCode(&view.code);
  error->get_reason(reason.out());
  error->get_line(&view.line);
  error->get_linepos(&view.linePosition);
  error->get_srcText(source.out());
  view.reason = reason.text();
  view.sourceText = source.text();
  return view;
}

inline OleString textOf(IXMLDOMNode *node) {
  Bstr text;
  EXPECT_EQ(S_OK, node->get_text(text.out()));
  return text.text();
}

// The value of an element's attribute, read through getAttribute.
inline OleString attributeOf(IXMLDOMNode *node, const OLECHAR *name) {
  Com<IXMLDOMElement> element;
  EXPECT_EQ(S_OK, node->QueryInterface(IID_IXMLDOMElement, element.outVoid()));
  if (!element) return {};
  Variant value;
  Bstr attributeName(name);
  EXPECT_EQ(S_OK, element->getAttribute(attributeName.get(), value.get()));
  EXPECT_EQ(VT_BSTR, V_VT(value.get()));
  return value.text();
}
