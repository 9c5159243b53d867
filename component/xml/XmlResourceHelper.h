// One small XML resource file of the product, opened once and asked for
// attribute values. A file named without a drive letter that is not where it
// was given is looked for again in the folder the branding component names.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include "server/ComPtr.h"

namespace rv {

class XmlResourceHelper {
 public:
  // Loads `fileName`; a failure to load is raised to the caller.
  explicit XmlResourceHelper(const OLECHAR *fileName);
  XmlResourceHelper(const XmlResourceHelper &) = delete;
  XmlResourceHelper &operator=(const XmlResourceHelper &) = delete;

  // Opens the file. A helper loads one file in its life; a second Load is
  // refused. A file the document reports as missing or not well-formed is
  // raised with the document's parse error code, except for a code that is
  // not negative: then the helper keeps a document without content, and
  // every lookup fails.
  void Load(const OLECHAR *fileName);

  // The value of attribute `attribute` of the first node that `xpath`
  // selects below the document element. A missing node or attribute is
  // raised as E_POINTER, never answered with an empty text.
  Bstr GetAttributeString(const OLECHAR *xpath, const OLECHAR *attribute);

 private:
  // Held from the moment it is created, so that a failed Load is not
  // retried on the same helper either.
  ComPtr<IXMLDOMDocument> document_;
};

}  // namespace rv
