#include "msxml/xml_parser.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace platform::msxml {

namespace {

constexpr int kParseOptions = XML_PARSE_NONET;

// MSXML's codes for documents that are not well-formed.
constexpr HRESULT kUndefinedEntity = static_cast<HRESULT>(0xC00CE002);
constexpr HRESULT kEntityLoop = static_cast<HRESULT>(0xC00CE003);
constexpr HRESULT kUndeclaredPrefix = static_cast<HRESULT>(0xC00CE01D);
constexpr HRESULT kMissingEquals = static_cast<HRESULT>(0xC00CE501);
constexpr HRESULT kMissingQuote = static_cast<HRESULT>(0xC00CE502);
constexpr HRESULT kCommentSyntax = static_cast<HRESULT>(0xC00CE503);
constexpr HRESULT kBadStartNameChar = static_cast<HRESULT>(0xC00CE504);
constexpr HRESULT kBadCharInString = static_cast<HRESULT>(0xC00CE506);
constexpr HRESULT kXmlDeclSyntax = static_cast<HRESULT>(0xC00CE507);
constexpr HRESULT kBadCharData = static_cast<HRESULT>(0xC00CE508);
constexpr HRESULT kMissingWhitespace = static_cast<HRESULT>(0xC00CE509);
constexpr HRESULT kMissingSemicolon = static_cast<HRESULT>(0xC00CE50D);
constexpr HRESULT kInternalError = static_cast<HRESULT>(0xC00CE512);
constexpr HRESULT kInvalidDecimal = static_cast<HRESULT>(0xC00CE51D);
constexpr HRESULT kInvalidHexadecimal = static_cast<HRESULT>(0xC00CE51E);
constexpr HRESULT kInvalidUnicode = static_cast<HRESULT>(0xC00CE51F);
constexpr HRESULT kUnexpectedEndTag = static_cast<HRESULT>(0xC00CE552);
constexpr HRESULT kUnclosedTag = static_cast<HRESULT>(0xC00CE553);
constexpr HRESULT kDuplicateAttribute = static_cast<HRESULT>(0xC00CE554);
constexpr HRESULT kMultipleRoots = static_cast<HRESULT>(0xC00CE555);
constexpr HRESULT kInvalidAtRootLevel = static_cast<HRESULT>(0xC00CE556);
constexpr HRESULT kBadXmlDecl = static_cast<HRESULT>(0xC00CE557);
constexpr HRESULT kMissingRoot = static_cast<HRESULT>(0xC00CE558);
constexpr HRESULT kUnexpectedEof = static_cast<HRESULT>(0xC00CE559);
constexpr HRESULT kCdataClosingTag = static_cast<HRESULT>(0xC00CE55C);
constexpr HRESULT kUnclosedPi = static_cast<HRESULT>(0xC00CE55D);
constexpr HRESULT kUnclosedStartTag = static_cast<HRESULT>(0xC00CE55E);
constexpr HRESULT kUnclosedEndTag = static_cast<HRESULT>(0xC00CE55F);
constexpr HRESULT kUnclosedString = static_cast<HRESULT>(0xC00CE560);
constexpr HRESULT kUnclosedComment = static_cast<HRESULT>(0xC00CE561);
constexpr HRESULT kUnclosedDecl = static_cast<HRESULT>(0xC00CE562);
constexpr HRESULT kUnclosedCdata = static_cast<HRESULT>(0xC00CE564);
constexpr HRESULT kEndTagMismatch = static_cast<HRESULT>(0xC00CE56D);
constexpr HRESULT kInvalidEncoding = static_cast<HRESULT>(0xC00CE56E);

// How a libxml2 error reads as an MSXML one. %1 and %2 in the text stand for
// the names libxml2 reports with the error.
enum class Refine {
  None,
  OpenTags,    // "%1" becomes the list of elements still open
  TopLevel,    // what follows the document element decides the kind
  StartOrEnd,  // a missing '>' of a start tag or of an end tag
  NoRoot,      // no element at all, or something else where it should start
};

struct ErrorKind {
  int libxmlCode;
  HRESULT code;
  const char *text;
  Refine refine;
};

constexpr ErrorKind kErrorKinds[] = {
    {XML_ERR_DOCUMENT_EMPTY, kMissingRoot, "XML document must have a top level element.", Refine::NoRoot},
    {XML_ERR_DOCUMENT_START, kInvalidAtRootLevel, "Invalid at the top level of the document.", Refine::None},
    {XML_ERR_DOCUMENT_END, kInvalidAtRootLevel, "Invalid at the top level of the document.", Refine::TopLevel},
    {XML_ERR_TAG_NAME_MISMATCH, kEndTagMismatch, "End tag '%2' does not match the start tag '%1'.", Refine::None},
    {XML_ERR_TAG_NOT_FINISHED, kUnclosedTag, "The following tags were not closed: %1.", Refine::OpenTags},
    {XML_ERR_GT_REQUIRED, kUnclosedEndTag, "End element was missing the character '>'.", Refine::StartOrEnd},
    {XML_ERR_LTSLASH_REQUIRED, kUnclosedEndTag, "End element was missing the character '>'.", Refine::None},
    {XML_ERR_ATTRIBUTE_REDEFINED, kDuplicateAttribute, "Duplicate attribute.", Refine::None},
    {XML_ERR_ATTRIBUTE_NOT_STARTED, kMissingQuote,
     "A string literal was expected, but no opening quote character was found.", Refine::None},
    {XML_ERR_STRING_NOT_STARTED, kMissingQuote,
     "A string literal was expected, but no opening quote character was found.", Refine::None},
    {XML_ERR_ATTRIBUTE_NOT_FINISHED, kUnclosedString, "A string literal was not closed.", Refine::None},
    {XML_ERR_STRING_NOT_CLOSED, kUnclosedString, "A string literal was not closed.", Refine::None},
    {XML_ERR_LITERAL_NOT_FINISHED, kUnclosedString, "A string literal was not closed.", Refine::None},
    {XML_ERR_ATTRIBUTE_WITHOUT_VALUE, kMissingEquals, "Missing equals sign between attribute and attribute value.",
     Refine::None},
    {XML_ERR_EQUAL_REQUIRED, kMissingEquals, "Missing equals sign between attribute and attribute value.",
     Refine::None},
    {XML_ERR_LT_IN_ATTRIBUTE, kBadCharInString, "A string literal contained an invalid character.", Refine::None},
    {XML_ERR_INVALID_CHAR, kBadCharData, "An invalid character was found in text content.", Refine::None},
    {XML_ERR_INVALID_ENCODING, kBadCharData, "An invalid character was found in text content.", Refine::None},
    {XML_ERR_UNDECLARED_ENTITY, kUndefinedEntity, "Reference to undefined entity '%1'.", Refine::None},
    {XML_ERR_ENTITY_LOOP, kEntityLoop, "Entity '%1' contains an infinite entity reference loop.", Refine::None},
    {XML_ERR_ENTITYREF_SEMICOL_MISSING, kMissingSemicolon, "A semi colon character was expected.", Refine::None},
    {XML_ERR_INVALID_DEC_CHARREF, kInvalidDecimal, "Invalid character for decimal digit.", Refine::None},
    {XML_ERR_INVALID_HEX_CHARREF, kInvalidHexadecimal, "Invalid character for hexadecimal digit.", Refine::None},
    {XML_ERR_INVALID_CHARREF, kInvalidUnicode, "Invalid unicode character value for this platform.", Refine::None},
    {XML_ERR_NAME_REQUIRED, kBadStartNameChar, "A name was started with an invalid character.", Refine::None},
    {XML_ERR_SPACE_REQUIRED, kMissingWhitespace, "Required white space was missing.", Refine::None},
    {XML_ERR_HYPHEN_IN_COMMENT, kCommentSyntax, "Incorrect syntax was used in a comment.", Refine::None},
    {XML_ERR_COMMENT_NOT_FINISHED, kUnclosedComment, "A comment was not closed.", Refine::None},
    {XML_ERR_CDATA_NOT_FINISHED, kUnclosedCdata, "A CDATA section was not closed.", Refine::None},
    {XML_ERR_MISPLACED_CDATA_END, kCdataClosingTag, "The literal string ']]>' is not allowed in element content.",
     Refine::None},
    {XML_ERR_PI_NOT_FINISHED, kUnclosedPi, "A processing instruction was not closed.", Refine::None},
    {XML_ERR_RESERVED_XML_NAME, kBadXmlDecl, "Invalid xml declaration.", Refine::None},
    {XML_ERR_XMLDECL_NOT_STARTED, kXmlDeclSyntax, "Invalid syntax for an xml declaration.", Refine::None},
    {XML_ERR_XMLDECL_NOT_FINISHED, kXmlDeclSyntax, "Invalid syntax for an xml declaration.", Refine::None},
    {XML_ERR_VERSION_MISSING, kXmlDeclSyntax, "Invalid syntax for an xml declaration.", Refine::None},
    {XML_ERR_DOCTYPE_NOT_FINISHED, kUnclosedDecl, "A declaration was not closed.", Refine::None},
    {XML_ERR_UNSUPPORTED_ENCODING, kInvalidEncoding, "System does not support the specified encoding.", Refine::None},
    {XML_ERR_UNKNOWN_ENCODING, kInvalidEncoding, "System does not support the specified encoding.", Refine::None},
    {XML_NS_ERR_UNDEFINED_NAMESPACE, kUndeclaredPrefix, "Reference to undeclared namespace prefix: '%1'.",
     Refine::None},
};

const ErrorKind *findKind(int libxmlCode) {
  for (const ErrorKind &kind : kErrorKinds)
    if (kind.libxmlCode == libxmlCode) return &kind;
  return nullptr;
}

// The longest stretch of a source line that srcText reports.
constexpr ptrdiff_t kSourceTextLimit = 2048;

std::string replaceAll(std::string text, const std::string &mark, const std::string &value) {
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
    text.replace(at, mark.size(), value);
  return text;
}

bool isNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

// The elements still open, outermost first.
std::string openTags(xmlParserCtxtPtr parser) {
  std::string list;
  for (int i = 0; parser != nullptr && i < parser->nameNr; ++i) {
    if (parser->nameTab[i] == nullptr) continue;
    if (!list.empty()) list += ", ";
    list += reinterpret_cast<const char *>(parser->nameTab[i]);
  }
  return list;
}

// What libxml2 says, as one sentence, for kinds MSXML has no text of its own for.
std::string libxmlSentence(const xmlError &error) {
  std::string text = error.message != nullptr ? error.message : "Unknown parser error";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

// Collects the first error of a parse; libxml2 calls it with the parser
// context as its data.
struct ParseState {
  bool failed = false;
  ParseErrorInfo error;
};
thread_local ParseState *currentParse = nullptr;

void describe(ParseState &state, xmlParserCtxtPtr parser, const xmlError &error) {
  const xmlParserInputPtr input = parser != nullptr ? parser->input : nullptr;
  const xmlChar *cursor = input != nullptr ? input->cur : nullptr;
  const bool atEnd = cursor == nullptr || cursor >= input->end || *cursor == 0;

  HRESULT code = atEnd ? kUnexpectedEof : kInternalError;
  std::string text;
  if (const ErrorKind *kind = findKind(error.code)) {
    code = kind->code;
    text = kind->text;
    switch (kind->refine) {
      case Refine::None: break;
      case Refine::OpenTags: text = replaceAll(text, "%1", openTags(parser)); break;
      case Refine::TopLevel:
        if (!atEnd && cursor[0] == '<') {
          if (cursor[1] == '/') {
            code = kUnexpectedEndTag;
            text = "End tag was not expected at this location.";
          } else if (isNameStart(cursor[1])) {
            code = kMultipleRoots;
            text = "Only one top level element is allowed in an XML document.";
          } else if (cursor[1] == 0) {
            code = kUnclosedDecl;
            text = "A declaration was not closed.";
          }
        }
        break;
      case Refine::NoRoot:
        if (!atEnd) {
          code = kInvalidAtRootLevel;
          text = "Invalid at the top level of the document.";
        }
        break;
      case Refine::StartOrEnd:
        if (error.str1 != nullptr) {
          code = kUnclosedStartTag;
          text = "Element was not closed.";
        }
        break;
    }
    text = replaceAll(text, "%1", error.str1 != nullptr ? error.str1 : "");
    text = replaceAll(text, "%2", error.str2 != nullptr ? error.str2 : "");
  } else {
    text = libxmlSentence(error);
  }

  ParseErrorInfo &info = state.error;
  info.code = code;
  info.line = error.line;
  info.linePosition = error.int2;
  text += " Line " + std::to_string(error.line) + ", position " + std::to_string(error.int2) + ".\r\n";
  info.reason = wideFromUtf8(text.data(), text.size());

  if (input != nullptr && cursor != nullptr && input->base != nullptr) {
    const xmlChar *begin = cursor, *end = cursor;
    while (begin > input->base && begin[-1] != '\n' && cursor - begin < kSourceTextLimit) --begin;
    while (end < input->end && *end != '\n' && *end != '\r' && *end != 0 && end - begin < kSourceTextLimit) ++end;
    info.sourceText = wideFromUtf8(reinterpret_cast<const char *>(begin), static_cast<size_t>(end - begin));
    // Characters before the error: those already consumed count as bytes,
    // which is exact for ASCII text.
    LONG characters = 0;
    for (const xmlChar *p = input->base; p < cursor; ++p)
      if ((*p & 0xC0) != 0x80) ++characters;
    unsigned long consumed = input->consumed;
    info.filePosition = static_cast<LONG>(std::min<unsigned long>(consumed + characters, LONG_MAX));
  }
}

void onParserError(void *, xmlErrorPtr error) {
  ParseState *state = currentParse;
  if (state == nullptr || error == nullptr || state->failed) return;
  if (error->level < XML_ERR_ERROR) return;
  state->failed = true;
  describe(*state, static_cast<xmlParserCtxtPtr>(error->ctxt), *error);
}

bool isBlank(const xmlChar *text) {
  for (; text != nullptr && *text != 0; ++text)
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  return true;
}

// Drops whitespace-only text nodes outside xml:space="preserve", in one walk.
void dropBlankText(xmlDocPtr document) {
  struct Pending {
    xmlNodePtr node;
    bool preserve;
  };
  std::vector<Pending> pending;
  for (xmlNodePtr child = document->children; child != nullptr; child = child->next)
    if (child->type == XML_ELEMENT_NODE) pending.push_back({child, false});
  while (!pending.empty()) {
    Pending element = pending.back();
    pending.pop_back();
    bool preserve = element.preserve;
    xmlChar *space = xmlGetNsProp(element.node, BAD_CAST "space", XML_XML_NAMESPACE);
    if (space != nullptr) {
      if (xmlStrEqual(space, BAD_CAST "preserve"))
        preserve = true;
      else if (xmlStrEqual(space, BAD_CAST "default"))
        preserve = false;
      xmlFree(space);
    }
    xmlNodePtr child = element.node->children;
    while (child != nullptr) {
      xmlNodePtr next = child->next;
      if (child->type == XML_ELEMENT_NODE) {
        pending.push_back({child, preserve});
      } else if (child->type == XML_TEXT_NODE && !preserve && isBlank(child->content)) {
        xmlUnlinkNode(child);
        xmlFreeNode(child);
      }
      child = next;
    }
  }
}

struct ParserDeleter {
  void operator()(xmlParserCtxtPtr parser) const { xmlFreeParserCtxt(parser); }
};
using ParserOwner = std::unique_ptr<xmlParserCtxt, ParserDeleter>;

ParserOwner newParser() {
  ParserOwner parser(xmlNewParserCtxt());
  if (parser && parser->sax != nullptr) parser->sax->serror = onParserError;
  return parser;
}

// Runs one parse through `read`, which gets the parser and returns the tree
// libxml2 built (or null).
template <class Read> ParseOutcome runParse(const ParseOptions &options, Read read) {
  initializeLibxml();
  QuietLibxml quiet;
  ParseOutcome outcome;
  ParserOwner parser = newParser();
  if (!parser) {
    outcome.error = systemError(E_OUTOFMEMORY, {});
    return outcome;
  }
  ParseState state;
  currentParse = &state;
  xmlDocPtr document = read(parser.get());
  currentParse = nullptr;
  const bool wellFormed = parser->wellFormed != 0 && parser->nsWellFormed != 0;
  parser.reset();

  if (document != nullptr && wellFormed && !state.failed) {
    try {
      if (!options.preserveWhiteSpace) dropBlankText(document);
      outcome.tree = std::make_shared<const XmlTree>(document);
    } catch (const std::bad_alloc &) {
      xmlFreeDoc(document);
      throw;
    }
    return outcome;
  }
  if (document != nullptr) xmlFreeDoc(document);
  outcome.error = state.failed ? state.error : systemError(E_FAIL, {});
  return outcome;
}

struct FileSource {
  int descriptor = -1;
};

int readFile(void *context, char *buffer, int length) {
  auto *file = static_cast<FileSource *>(context);
  for (;;) {
    ssize_t got = ::read(file->descriptor, buffer, static_cast<size_t>(length));
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

int closeFile(void *context) {
  auto *file = static_cast<FileSource *>(context);
  if (file->descriptor >= 0) ::close(file->descriptor);
  file->descriptor = -1;
  return 0;
}

HRESULT openError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return INET_E_OBJECT_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return E_ACCESSDENIED;
    case ENOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
  }
}

// System message texts for the codes a load reports without parsing.
struct SystemText {
  HRESULT code;
  const char *text;
};
constexpr SystemText kSystemTexts[] = {
    {INET_E_OBJECT_NOT_FOUND, "The system cannot locate the object specified.\r\n"},
    {E_ACCESSDENIED, "Access is denied.\r\n"},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {E_INVALIDARG, "The parameter is incorrect.\r\n"},
    {E_FAIL, "Unspecified error\r\n"},
};

}  // namespace

ParseErrorInfo systemError(HRESULT code, const WideString &url) {
  ParseErrorInfo info;
  info.code = code;
  info.url = url;
  for (const SystemText &entry : kSystemTexts)
    if (entry.code == code) info.reason = wideFromUtf8(entry.text, strlen(entry.text));
  return info;
}

ParseOutcome parseFile(const std::string &posixPath, const WideString &url, const ParseOptions &options) {
  FileSource file;
  file.descriptor = posixPath.empty() ? -1 : ::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC);
  int openErrno = posixPath.empty() ? ENOENT : errno;
  struct stat status;
  if (file.descriptor >= 0 && fstat(file.descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
    closeFile(&file);
    openErrno = EISDIR;
  }
  if (file.descriptor < 0) {
    ParseOutcome outcome;
    outcome.error = systemError(openError(openErrno), url);
    return outcome;
  }
  // The parser owns the file from here and closes it when it is freed; the
  // source outlives the parser.
  ParseOutcome outcome = runParse(options, [&](xmlParserCtxtPtr parser) {
    return xmlCtxtReadIO(parser, readFile, closeFile, &file, posixPath.c_str(), nullptr, kParseOptions);
  });
  closeFile(&file);
  outcome.error.url = url;
  return outcome;
}

ParseOutcome parseText(const WCHAR *text, size_t length, const ParseOptions &options) {
  std::string utf8;
  if (length > 0) {
    if (length > INT_MAX) {
      ParseOutcome outcome;
      outcome.error = systemError(E_OUTOFMEMORY, {});
      return outcome;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    utf8.resize(size > 0 ? size : 0);
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr, nullptr);
  }
  if (utf8.size() > INT_MAX) {
    ParseOutcome outcome;
    outcome.error = systemError(E_OUTOFMEMORY, {});
    return outcome;
  }
  return runParse(options, [&](xmlParserCtxtPtr parser) {
    return xmlCtxtReadMemory(parser, utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                             kParseOptions | XML_PARSE_IGNORE_ENC);
  });
}

ParseOutcome parseBytes(const void *bytes, size_t length, const ParseOptions &options) {
  if (length > INT_MAX) {
    ParseOutcome outcome;
    outcome.error = systemError(E_OUTOFMEMORY, {});
    return outcome;
  }
  return runParse(options, [&](xmlParserCtxtPtr parser) {
    return xmlCtxtReadMemory(parser, static_cast<const char *>(bytes), static_cast<int>(length), nullptr, nullptr,
                             kParseOptions);
  });
}

}  // namespace platform::msxml
