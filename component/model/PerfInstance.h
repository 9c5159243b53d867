// One named occurrence of a performance object, with its own live counters
// and the time its values were last set.
#pragma once
#include <atomic>
#include <cstdint>

#include "TRVPObjectImpl.h"
#include "TextField.h"

namespace rv {

class PerfInstance : public TRVPObjectImpl<PerfInstance, IPerfInstance> {
  using Base = TRVPObjectImpl<PerfInstance, IPerfInstance>;

 public:
  static constexpr LONG TypeCode = 7;
  static constexpr const char *rvSourceUnit = "PerfInstance";

  HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override { return name_.read(name); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    noteRename();
    return name_.put(name);
  }
  // The name as stored, null when absent; for the collection's lookups.
  BSTR nameText() const { return name_.get(); }
  DATE timeStampValue() const { return timeStamp_; }
  IPerfCounters *counterCollection() const { return counters_.get(); }

  // The instances' name index (see NameIndex.h) learns of renames from this
  // count: it grows whenever an instance that some index holds may have
  // changed its name, by put_Name or by reading a record.
  static std::uint64_t renames() { return renames_.load(std::memory_order_relaxed); }
  void noteNameIndexed() { nameIndexed_ = true; }
  void readRecord(CTran &tran, VARIANT *blob) {
    noteRename();
    Base::readRecord(tran, blob);
  }
  bool plainReadRecord(PlainReader &in) {
    noteRename();
    return Base::plainReadRecord(in);
  }
  HRESULT STDMETHODCALLTYPE get_PerfCounters(IPerfCounters **counters) override;
  HRESULT STDMETHODCALLTYPE put_TimeStamp(DATE stamp) override {
    timeStamp_ = stamp;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TimeStamp(DATE *stamp) override {
    if (stamp == nullptr) return E_POINTER;
    *stamp = timeStamp_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResetCounters() override;

  // The instance's record after its ID: name and time stamp, then its counters.
  auto recordFields() { return std::tie(name_, timeStamp_); }
  auto childFields() { return std::tie(counters_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  void noteRename() {
    if (nameIndexed_) renames_.fetch_add(1, std::memory_order_relaxed);
  }

  // Every instance of the module counts into one number: an instance does
  // not know the collection that indexes it, and a pointer back would cost
  // a word in each.
  static inline std::atomic<std::uint64_t> renames_{0};

  // First, where it takes padding that the template leaves after the ID.
  bool nameIndexed_ = false;
  TextField name_;
  ComPtr<IPerfCounters> counters_;
  DATE timeStamp_ = 0.0;
};

}  // namespace rv
