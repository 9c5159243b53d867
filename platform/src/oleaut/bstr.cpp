// Automation strings. The block holds 4 bytes of padding, the 32-bit byte
// length, the text and a zero character, so the BSTR (which points at the
// text) is 8-byte aligned and ((DWORD *)bstr)[-1] is its byte length, as on
// Windows. Odd byte lengths are allowed: the byte after the text is zero too.
#include <oleauto.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "testing/allocation_faults.h"

namespace {

constexpr size_t kHeaderSize = 8;
// Largest byte length whose block size still fits the 32-bit length field
// with its header and terminator.
constexpr UINT kMaxByteLength = 0xFFFFFFFFu - kHeaderSize - 2 * sizeof(OLECHAR);

BYTE *blockOf(BSTR text) { return reinterpret_cast<BYTE *>(text) - kHeaderSize; }

DWORD byteLengthOf(BSTR text) {
  DWORD length;
  memcpy(&length, reinterpret_cast<BYTE *>(text) - sizeof(DWORD), sizeof length);
  return length;
}

// Sizes a block for `byteLength` bytes of text; `block` may be an existing
// block to resize (its text is kept as far as it fits). Returns the text.
BSTR sizeBlock(BYTE *block, UINT byteLength) {
  if (byteLength > kMaxByteLength || platform::allocationFails()) return nullptr;
  // Room for the text, one zero byte for an odd length and a zero character.
  size_t size = kHeaderSize + byteLength + 1 + sizeof(OLECHAR);
  BYTE *resized = static_cast<BYTE *>(realloc(block, size));
  if (resized == nullptr) return nullptr;
  DWORD length = byteLength;
  memcpy(resized + kHeaderSize - sizeof(DWORD), &length, sizeof length);
  BYTE *text = resized + kHeaderSize;
  text[byteLength] = 0;
  size_t terminator = (size_t(byteLength) + 1) / sizeof(OLECHAR) * sizeof(OLECHAR);
  text[terminator] = 0;
  text[terminator + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

UINT textLength(const OLECHAR *text) {
  UINT length = 0;
  while (text[length] != 0) ++length;
  return length;
}

bool characterCountFits(UINT count) { return count <= kMaxByteLength / sizeof(OLECHAR); }

}  // namespace

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  BSTR text = sizeBlock(nullptr, len);
  if (text == nullptr) return nullptr;
  if (psz != nullptr)
    memcpy(text, psz, len);
  else
    memset(text, 0, len);
  return text;
}

BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui) {
  if (!characterCountFits(ui)) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(strIn), ui * UINT(sizeof(OLECHAR)));
}

BSTR SysAllocString(const OLECHAR *psz) {
  if (psz == nullptr) return nullptr;
  return SysAllocStringLen(psz, textLength(psz));
}

// The new text may lie inside the old string, so it is copied before the old
// block is released; a null text keeps the old characters that still fit.
INT SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len) {
  if (pbstr == nullptr || !characterCountFits(len)) return FALSE;
  UINT byteLength = len * UINT(sizeof(OLECHAR));
  if (psz != nullptr) {
    BSTR copy = SysAllocStringLen(psz, len);
    if (copy == nullptr) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = copy;
    return TRUE;
  }
  if (*pbstr == nullptr) {
    *pbstr = SysAllocStringLen(nullptr, len);
    return *pbstr != nullptr;
  }
  UINT oldByteLength = SysStringByteLen(*pbstr);
  BSTR resized = sizeBlock(blockOf(*pbstr), byteLength);
  if (resized == nullptr) return FALSE;
  if (byteLength > oldByteLength)
    memset(reinterpret_cast<BYTE *>(resized) + oldByteLength, 0, byteLength - oldByteLength);
  *pbstr = resized;
  return TRUE;
}

// A null text leaves a null string behind.
INT SysReAllocString(BSTR *pbstr, const OLECHAR *psz) {
  if (pbstr == nullptr) return FALSE;
  if (psz == nullptr) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  return SysReAllocStringLen(pbstr, psz, textLength(psz));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) free(blockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : byteLengthOf(bstr); }

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / UINT(sizeof(OLECHAR)); }
