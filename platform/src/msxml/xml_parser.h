// Reading a document with libxml2, with the outcome described as the MSXML
// parse error object describes it: an MSXML error code (0xC00CE5xx for a
// document that is not well-formed, 0x800C0006 for a file that is not there),
// the reason text, and where the parser stopped.
//
// External resources are never fetched: no network, no external DTD subset,
// no external entities; entity expansion stays within libxml2's limits.
#pragma once

#include <windows.h>

#include <string>

#include "msxml/xml_support.h"

namespace platform::msxml {

using WideString = std::basic_string<WCHAR>;

struct ParseErrorInfo {
  LONG code = 0;
  WideString reason;
  WideString sourceText;
  WideString url;
  LONG line = 0;
  LONG linePosition = 0;
  LONG filePosition = 0;
};

struct ParseOutcome {
  TreeRef tree;  // null when the document was not read
  ParseErrorInfo error;
};

struct ParseOptions {
  // Whitespace-only text between markup is kept; otherwise it is dropped,
  // except below xml:space="preserve", as MSXML does.
  bool preserveWhiteSpace = false;
};

// A file named by a Windows or POSIX path; `url` is what the parse error
// reports as the document's URL.
ParseOutcome parseFile(const std::string &posixPath, const WideString &url, const ParseOptions &options);
// Text that is already Unicode: any encoding declaration in it is ignored.
ParseOutcome parseText(const WCHAR *text, size_t length, const ParseOptions &options);
// Bytes in any encoding the parser recognises (byte order mark, declaration).
ParseOutcome parseBytes(const void *bytes, size_t length, const ParseOptions &options);

// The outcome of a load that failed before any parsing, with its code and the
// system message for that code.
ParseErrorInfo systemError(HRESULT code, const WideString &url);

}  // namespace platform::msxml
