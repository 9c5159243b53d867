// How many bytes a blob gives a variant's value: the payload of each scalar
// record, and the element of each array whose memory is copied raw. The
// component writes and reads blobs by these widths and the collector reads
// them, so both take them from here.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace rv {

// Payload bytes of the scalar types a variant record carries (strings aside);
// -1 for a type that is refused.
constexpr int scalarPayloadWidth(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: return 0;
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    default: return -1;
  }
}

// Element bytes of the arrays of fixed-width numbers, whose memory is copied
// raw; 0 for every other element type. 64-bit integers are carried in arrays
// although a scalar one is refused.
constexpr ULONG arrayElementWidth(VARTYPE elementType) {
  if (elementType == VT_I8 || elementType == VT_UI8) return 8;
  const int width = scalarPayloadWidth(elementType);
  return width > 0 ? static_cast<ULONG>(width) : 0;
}

}  // namespace rv
