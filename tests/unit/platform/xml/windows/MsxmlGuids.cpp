// mingw-w64's msxml2.h spells CLSID_DOMDocument as CLSID_DOMDocument2, and
// neither that class identifier nor IID_IXMLDOMDocument2 is in its uuid
// library: the Windows build of the tests defines them, with the SDK values.
#include <windows.h>
#include <msxml2.h>

EXTERN_C const CLSID CLSID_DOMDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
EXTERN_C const IID IID_IXMLDOMDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
