// The system's interface identifiers and the text form of GUIDs.
#include <objbase.h>
#include <oaidl.h>

EXTERN_C const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

#define SYSTEM_IID(name, l, w1, w2) \
  EXTERN_C const IID name = {l, w1, w2, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}
#define ERRORINFO_IID(name, l, w1) \
  EXTERN_C const IID name = {l, w1, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}}

SYSTEM_IID(IID_IUnknown, 0x00000000, 0x0000, 0x0000);
SYSTEM_IID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000);
SYSTEM_IID(IID_IRecordInfo, 0x0000002F, 0x0000, 0x0000);
SYSTEM_IID(IID_IDispatch, 0x00020400, 0x0000, 0x0000);
SYSTEM_IID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000);
SYSTEM_IID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000);
SYSTEM_IID(IID_ITypeComp, 0x00020403, 0x0000, 0x0000);
SYSTEM_IID(IID_IEnumVARIANT, 0x00020404, 0x0000, 0x0000);
ERRORINFO_IID(IID_IErrorInfo, 0x1CF2B120, 0x547D);
ERRORINFO_IID(IID_ICreateErrorInfo, 0x22F03340, 0x547D);
ERRORINFO_IID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F);

namespace {

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters.
constexpr int kGuidTextLength = 38;

// Where each of the 16 bytes of a GUID sits in its text, in the order
// Data1 (most significant first), Data2, Data3, Data4.
constexpr int kByteOffsets[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
constexpr int kDashOffsets[4] = {9, 14, 19, 24};

int hexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void guidBytes(const GUID &guid, BYTE (&bytes)[16]) {
  for (int i = 0; i < 4; ++i) bytes[i] = BYTE(guid.Data1 >> (24 - 8 * i));
  bytes[4] = BYTE(guid.Data2 >> 8);
  bytes[5] = BYTE(guid.Data2);
  bytes[6] = BYTE(guid.Data3 >> 8);
  bytes[7] = BYTE(guid.Data3);
  for (int i = 0; i < 8; ++i) bytes[8 + i] = guid.Data4[i];
}

// Reads exactly the braced form; anything else is not a GUID text.
bool parseGuid(LPCOLESTR text, GUID *guid) {
  for (int i = 0; i < kGuidTextLength; ++i)
    if (text[i] == 0) return false;
  if (text[0] != u'{' || text[kGuidTextLength - 1] != u'}' || text[kGuidTextLength] != 0) return false;
  for (int dash : kDashOffsets)
    if (text[dash] != u'-') return false;
  BYTE bytes[16];
  for (int i = 0; i < 16; ++i) {
    int high = hexValue(text[kByteOffsets[i]]), low = hexValue(text[kByteOffsets[i] + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = BYTE(high << 4 | low);
  }
  guid->Data1 = ULONG(bytes[0]) << 24 | ULONG(bytes[1]) << 16 | ULONG(bytes[2]) << 8 | bytes[3];
  guid->Data2 = USHORT(bytes[4] << 8 | bytes[5]);
  guid->Data3 = USHORT(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

int textLength(LPCOLESTR text) {
  int length = 0;
  while (text[length] != 0) ++length;
  return length;
}

HRESULT guidToTaskString(REFGUID guid, LPOLESTR *text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidTextLength + 1) * sizeof(OLECHAR)));
  if (*text == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(guid, *text, kGuidTextLength + 1);
  return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < kGuidTextLength + 1) return 0;
  static const char digits[] = "0123456789ABCDEF";
  BYTE bytes[16];
  guidBytes(rguid, bytes);
  lpsz[0] = u'{';
  for (int dash : kDashOffsets) lpsz[dash] = u'-';
  for (int i = 0; i < 16; ++i) {
    lpsz[kByteOffsets[i]] = OLECHAR(digits[bytes[i] >> 4]);
    lpsz[kByteOffsets[i] + 1] = OLECHAR(digits[bytes[i] & 15]);
  }
  lpsz[kGuidTextLength - 1] = u'}';
  lpsz[kGuidTextLength] = 0;
  return kGuidTextLength + 1;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz) { return guidToTaskString(rclsid, lplpsz); }

HRESULT StringFromIID(REFIID rclsid, LPOLESTR *lplpsz) { return guidToTaskString(rclsid, lplpsz); }

// A null text stands for the null GUID. A text that does not begin with a
// brace is a ProgID; a braced text that is not a GUID is an invalid class
// string, and leaves the output alone.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *pclsid = GUID_NULL;
    return S_OK;
  }
  if (lpsz[0] != u'{') return CLSIDFromProgID(lpsz, pclsid);
  GUID parsed;
  if (!parseGuid(lpsz, &parsed)) return CO_E_CLASSSTRING;
  *pclsid = parsed;
  return S_OK;
}

// An interface identifier is only ever the 38-character braced form: text of
// another length is an invalid argument, a malformed GUID of that length an
// invalid interface string.
HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *lpiid = GUID_NULL;
    return S_OK;
  }
  if (textLength(lpsz) != kGuidTextLength) return E_INVALIDARG;
  GUID parsed;
  if (!parseGuid(lpsz, &parsed)) return CO_E_IIDSTRING;
  *lpiid = parsed;
  return S_OK;
}
