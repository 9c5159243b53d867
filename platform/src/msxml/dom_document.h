// The MSXML DOM document class ("Msxml2.DOMDocument", CLSID_DOMDocument) of
// the platform, over libxml2.
#pragma once

#include <objbase.h>

namespace platform::msxml {

// Makes a new, empty DOM document and asks it for riid. The class does not
// aggregate: an outer object gives CLASS_E_NOAGGREGATION.
HRESULT CreateDomDocument(IUnknown *outer, REFIID riid, void **object);

}  // namespace platform::msxml
