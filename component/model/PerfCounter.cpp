#include "PerfCounter.h"

#include "log/DirectReport.h"
#include "log/Frames.h"

namespace rv {

HRESULT PerfCounter::FinalConstruct() {
  counterType_ = DefaultCounterType;
  counterSize_ = 4;
  return keyword_.put(const_cast<BSTR>(OLESTR("no_calc")));
}

HRESULT PerfCounter::get_Value(VARIANT *value) {
  if (value == nullptr) return E_POINTER;
  VariantInit(value);
  return VariantCopy(value, value_.get());
}

// Only a long, a double or a byte array is a counter value; the type tag
// alone decides, and the value is stored as it comes.
HRESULT PerfCounter::put_Value(VARIANT value) {
  const VARTYPE type = V_VT(&value);
  if (type != VT_I4 && type != VT_R8 && type != (VT_ARRAY | VT_UI1))
    return reportDirect(CLSID_PerfCounter,
                        "Invalid counter type. Type must be a Variant Long, Double, or an Array of Bytes.", GUID_NULL,
                        E_INVALIDARG);
  VARIANT *stored = value_.put();
  const HRESULT hr = VariantCopy(stored, &value);
  if (FAILED(hr)) {
    VariantInit(stored);
    V_VT(stored) = VT_ERROR;
    V_ERROR(stored) = hr;
  }
  return S_OK;
}

HRESULT PerfCounter::ResetCounter() {
  RV_OPERATION("ResetCounter");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, VariantClear(value_.get()));
    return S_OK;
  });
}

}  // namespace rv
