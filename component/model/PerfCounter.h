// A counter: a live value with the description Windows needs to publish it,
// held by a counter collection.
#pragma once
#include "TRVPObjectImpl.h"
#include "TextField.h"

namespace rv {

class PerfCounter : public TRVPObjectImpl<PerfCounter, IPerfCounter> {
 public:
  static constexpr LONG TypeCode = 5;
  static constexpr const char *rvSourceUnit = "PerfCounter";
  // The Windows type PERF_COUNTER_RAWCOUNT.
  static constexpr LONG DefaultCounterType = 0x00010000;

  HRESULT STDMETHODCALLTYPE get_Value(VARIANT *value) override;
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT value) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override { return name_.read(name); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override { return name_.put(name); }
  // The name as stored, null when absent; for the collection's lookups.
  BSTR nameText() const { return name_.get(); }
  HRESULT STDMETHODCALLTYPE get_Help(BSTR *help) override { return help_.read(help); }
  HRESULT STDMETHODCALLTYPE put_Help(BSTR help) override { return help_.put(help); }
  HRESULT STDMETHODCALLTYPE get_DefaultScale(LONG *scale) override { return read(defaultScale_, scale); }
  HRESULT STDMETHODCALLTYPE put_DefaultScale(LONG scale) override { return store(defaultScale_, scale); }
  HRESULT STDMETHODCALLTYPE get_CounterType(LONG *type) override { return read(counterType_, type); }
  HRESULT STDMETHODCALLTYPE put_CounterType(LONG type) override { return store(counterType_, type); }
  HRESULT STDMETHODCALLTYPE get_CounterSize(LONG *size) override { return read(counterSize_, size); }
  HRESULT STDMETHODCALLTYPE put_CounterSize(LONG size) override { return store(counterSize_, size); }
  HRESULT STDMETHODCALLTYPE ResetCounter() override;
  HRESULT STDMETHODCALLTYPE get_AutoCalcInstanceTotal(BSTR *keyword) override { return keyword_.read(keyword); }
  HRESULT STDMETHODCALLTYPE put_AutoCalcInstanceTotal(BSTR keyword) override { return keyword_.put(keyword); }

  // What the total of an object reads of each counter, as stored.
  LONG idValue() const { return id_; }
  const VARIANT &valueRef() const { return *value_.get(); }
  BSTR keywordText() const { return keyword_.get(); }

  // Takes everything a copy through the blob would take from `source` (ID,
  // texts, value, numbers), sharing its texts: where its value is empty or a
  // number, which copies as it stands. false, with nothing taken, for any
  // other value.
  bool cloneOf(const PerfCounter &source) {
    const VARTYPE type = V_VT(source.value_.get());
    if (type != VT_EMPTY && type != VT_I4 && type != VT_R8 && type != VT_ERROR) return false;
    if (!name_.share(source.name_) || !help_.share(source.help_) || !keyword_.share(source.keyword_))
      throw std::bad_alloc();
    VariantClear(value_.get());
    *value_.get() = *source.value_.get();
    id_ = source.id_;
    defaultScale_ = source.defaultScale_;
    counterType_ = source.counterType_;
    counterSize_ = source.counterSize_;
    return true;
  }

  // The counter's record after its ID: name, help, value, scale, type, size, keyword.
  auto recordFields() { return std::tie(name_, help_, value_, defaultScale_, counterType_, counterSize_, keyword_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  static HRESULT read(LONG field, LONG *out) {
    if (out == nullptr) return E_POINTER;
    *out = field;
    return S_OK;
  }
  static HRESULT store(LONG &field, LONG value) {
    field = value;
    return S_OK;
  }

  // The numbers first: one of them fits in the padding the template leaves.
  LONG defaultScale_ = 0;
  LONG counterType_ = 0;
  LONG counterSize_ = 0;
  Variant value_;
  TextField name_;
  TextField help_;
  TextField keyword_;
};

}  // namespace rv
