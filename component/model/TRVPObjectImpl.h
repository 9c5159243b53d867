// The one template behind all seven classes: identity and type code, the two
// internal interfaces through which nodes talk to each other, the list of
// child collections, error-information support, and everything a COM object
// of this component is (ObjectRoot). A class states its interfaces once:
//
//   class PerfCounter : public TRVPObjectImpl<PerfCounter, IPerfCounter>
//   class PerfCounters : public TRVPObjectImpl<PerfCounters, IPerfCounters, IPerfCollection>
//
// Its interface table is IDispatch (served by the main interface), the main
// interface, the extra interfaces, IPerfCommon, IPerfTransfer and
// ISupportErrorInfo. IPerfCommon and ISupportErrorInfo are tear-offs: a node
// carries no table for them and makes one when asked.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <array>
#include <new>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

#include "log/DirectReport.h"
#include "log/Err.h"
#include "log/Frames.h"
#include "TextField.h"
#include "transfer/CTran.h"
#include "rvZedaZuvivurAzodav.h"
#include "server/ComPtr.h"
#include "server/DispatchFromTypeLibrary.h"
#include "server/InterfaceIds.h"
#include "server/ObjectRoot.h"
#include "server/TearOff.h"

namespace rv {

// The main interface as the class implements it. A collection's interface
// has no ID: its table gains the two ID members after the interface's own,
// where no caller of the interface looks, so that every class implements them
// in one place (TRVPObjectImpl) for IPerfCommon.
template <typename Main, bool Collection> class MainInterface : public DispatchFromTypeLibrary<Main> {};
template <typename Main> class MainInterface<Main, true> : public DispatchFromTypeLibrary<Main> {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_ID(LONG *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ID(LONG value) = 0;
};

template <typename Derived, typename Main, typename... Extra>
class TRVPObjectImpl : public ObjectRoot,
                       public MainInterface<Main, (sizeof...(Extra) > 0)>,
                       public DispatchFromTypeLibrary<Extra>...,
                       public DispatchFromTypeLibrary<IPerfTransfer> {
 public:
  // Collections carry IPerfCollection and no ID of their own.
  static constexpr bool IsCollection = sizeof...(Extra) > 0;

  // IUnknown of every interface: the controlling unknown decides.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return controllingUnknown()->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controllingUnknown()->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controllingUnknown()->Release(); }

  // ID: read and written without validation on objects; collections have none.
  HRESULT STDMETHODCALLTYPE get_ID(LONG *value) override {
    if constexpr (IsCollection) {
      return E_NOTIMPL;
    } else {
      if (value == nullptr) return E_POINTER;
      *value = id_;
      return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE put_ID(LONG value) override {
    if constexpr (IsCollection) {
      return E_NOTIMPL;
    } else {
      id_ = value;
      return S_OK;
    }
  }

  HRESULT get_ItemType(LONG *value) {
    if (value == nullptr) return E_POINTER;
    *value = Derived::TypeCode;
    return S_OK;
  }

  // The node and everything below it as a blob: a byte array, or a string
  // whose storage holds exactly the blob's bytes.
  HRESULT STDMETHODCALLTYPE get_MyBlob(RVBlobTypeEnum type, VARIANT *value) override {
    RV_OPERATION("get_MyBlob");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (value == nullptr) raiseNullPointer(RV_SITE(TemplateUnit));
      raiseIfFailed(RV_SITE(TemplateUnit), VariantClear(value));
      Variant blob;
      const HRESULT plain = plainBlob(*this, blob.get());
      if (plain == E_OUTOFMEMORY) raiseResult(RV_SITE(TemplateUnit), plain);
      if (plain != S_OK) {
        raiseIfFailed(RV_SITE(TemplateUnit), CreateArray(blob.get()));
        raiseIfFailedFrom(RV_SITE(TemplateUnit), transferKey(), TransferOut(blob.get()));
      }
      Variant result;
      if (type == btAsString)
        raiseIfFailed(RV_SITE(TemplateUnit), VariantChangeType(result.get(), blob.get(), 0, VT_BSTR));
      else
        blob.detachTo(result.get());
      raiseIfFailed(RV_SITE(TemplateUnit), VariantClear(value));
      result.detachTo(value);
      return S_OK;
    });
  }

  // Rebuilds the node from a blob given as a string or a byte array; the
  // variant's own type decides, not `type`.
  HRESULT STDMETHODCALLTYPE put_MyBlob(RVBlobTypeEnum, VARIANT value) override {
    RV_OPERATION("put_MyBlob");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      if (V_VT(&value) == VT_BSTR) {
        Variant bytes;
        raiseIfFailed(RV_SITE(TemplateUnit), VariantChangeType(bytes.get(), &value, 0, VT_ARRAY | VT_UI1));
        readBlob(*bytes.get(), RV_SITE(TemplateUnit));
        return S_OK;
      }
      if (V_VT(&value) != (VT_ARRAY | VT_UI1)) return reportDirect(iidOf<Main>(), 615, iidOf<Main>(), E_INVALIDARG);
      readBlob(value, RV_SITE(TemplateUnit));
      return S_OK;
    });
  }

  // Copies a node of the same class, as deep as its blob goes.
  HRESULT STDMETHODCALLTYPE CopyFrom(IDispatch *source) override {
    RV_OPERATION("CopyFrom");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      ComPtr<Main> same;
      if (source == nullptr || FAILED(source->QueryInterface(iidOf<Main>(), same.putVoid())) || !same)
        return reportDirect(iidOf<Main>(), 601, iidOf<Main>(), E_INVALIDARG);
      ComPtr<IPerfTransfer> transfer;
      raiseIfFailed(RV_SITE(TemplateUnit), same.query(IID_IPerfTransfer, transfer));
      Variant blob;
      ObjectRoot *node = ObjectRoot::ownNode(same.get());
      const HRESULT plain = node != nullptr ? plainBlob(*node, blob.get()) : S_FALSE;
      if (plain == E_OUTOFMEMORY) raiseResult(RV_SITE(TemplateUnit), plain);
      if (plain != S_OK) {
        raiseIfFailed(RV_SITE(TemplateUnit), transfer->CreateArray(blob.get()));
        raiseIfFailedFrom(RV_SITE(TemplateUnit), transfer.get(), transfer->TransferOut(blob.get()));
      }
      readBlob(*blob.get(), RV_SITE(TemplateUnit));
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetSize(LONG *size) override {
    RV_OPERATION("GetSize");
    return memberFrame(RV_SITE(transferUnit()), [&] {
      if (size == nullptr) raiseNullPointer(RV_SITE(transferUnit()));
      LONGLONG total = static_cast<Derived *>(this)->recordSize();
      if (total > MAXLONG - CTran::HeaderSize) raiseInternalCondition(RV_SITE(transferUnit()));
      *size = static_cast<LONG>(total);
      return S_OK;
    });
  }

  // A blob exactly large enough for the node.
  HRESULT STDMETHODCALLTYPE CreateArray(VARIANT *blob) override {
    RV_OPERATION("CreateArray");
    return memberFrame(RV_SITE(TemplateUnit), [&] {
      LONG size = 0;
      raiseIfFailed(RV_SITE(TemplateUnit), GetSize(&size));
      const HRESULT hr = CTran::CreateArray(blob, size);
      if (FAILED(hr)) raiseResult(RV_SITE(TemplateUnit), hr);
      return S_OK;
    });
  }

  // Writes the node's record at the blob's cursor: its own fields, then each
  // child (members, for a collection) into the same blob. An internal
  // operation, not a member: a failure is logged once here and handed back
  // to the node that called (see handBack).
  HRESULT STDMETHODCALLTYPE TransferOut(VARIANT *blob) override {
    RV_OPERATION("TransferOut");
    return handingBack(RV_SITE(transferUnit()), transferKey(), [&] {
      CTran tran(blob);
      static_cast<Derived *>(this)->writeRecord(tran, blob);
      tran.close();
    });
  }

  // Rebuilds the node from its record at the blob's cursor; the blob is the
  // caller's array, whose cursor moves. Framed as TransferOut is.
  HRESULT STDMETHODCALLTYPE TransferIn(VARIANT blob) override {
    RV_OPERATION("TransferIn");
    return handingBack(RV_SITE(transferUnit()), transferKey(), [&] {
      CTran tran(&blob);
      static_cast<Derived *>(this)->readRecord(tran, &blob);
      tran.close();
    });
  }

  // Who hands a transfer's failure back: the node's IPerfTransfer, the
  // pointer its callers hold when they call it.
  const void *transferKey() { return static_cast<IPerfTransfer *>(this); }

  // The record of an object: the common data (its ID), the class's own
  // fields, then the children. Collections replace these three.
  //
  // A class lists its own fields once, in record order, as a tuple of
  // references (recordFields()); the size, write and read passes all walk
  // that one list. A text field travels as a string record, a variant as a
  // variant record, a number as its raw bytes.
  LONGLONG recordSize() {
    const LONGLONG own = std::apply([](auto &...field) { return (LONGLONG{0} + ... + fieldSize(field)); },
                                    static_cast<Derived *>(this)->recordFields());
    return 4 + own + GetChildrenSize();
  }

  void writeRecord(CTran &tran, VARIANT *blob) {
    WriteCmnData(tran);
    std::apply([&](auto &...field) { (writeField(tran, field), ...); }, static_cast<Derived *>(this)->recordFields());
    RV_OPERATION("TransferOut");
    for (IDispatch *child : children()) {
      const ComPtr<IPerfTransfer> transfer = transferOf(child);
      raiseIfFailedFrom(RV_SITE(transferUnit()), transfer.get(), transfer->TransferOut(blob));
    }
  }

  // The same record for the plain walk, counted or written: the
  // common data, the fields, then each child, which must be one of this
  // component's own.
  template <class Out> bool plainRecord(Out &out) {
    if (!out.write(&id_, sizeof id_) || !std::apply([&](auto &...field) { return (... && plainField(out, field)); },
                                                    static_cast<Derived *>(this)->recordFields()))
      return false;
    return eachChildNode([&](ObjectRoot &node) { return node.plainWalk(out); });
  }

  bool plainWalk(PlainSizer &out) override { return static_cast<Derived *>(this)->plainRecord(out); }
  bool plainWalk(PlainWriter &out) override { return static_cast<Derived *>(this)->plainRecord(out); }

  // The same record read by the plain walk, in place: the common data, the
  // fields, then each child's record. It stops where readRecord would raise.
  bool plainReadRecord(PlainReader &in) {
    if (!in.read(&id_, sizeof id_) || !std::apply([&](auto &...field) { return (... && plainReadField(in, field)); },
                                                  static_cast<Derived *>(this)->recordFields()))
      return false;
    return eachChildNode([&](ObjectRoot &node) { return in.more() && node.plainRead(in); });
  }

  bool plainRead(PlainReader &in) override { return static_cast<Derived *>(this)->plainReadRecord(in); }

  // Whether nobody but its parent holds this node or its child collections,
  // so that a read can write over it in place without anyone seeing it
  // happen, instead of replacing it with a new node.
  bool heldByParentOnly() {
    return soleReference() && eachChildNode([](ObjectRoot &node) { return node.soleReference(); });
  }

  void readRecord(CTran &tran, VARIANT *blob) {
    ReadCmnData(tran);
    std::apply([&](auto &...field) { (readField(tran, field), ...); }, static_cast<Derived *>(this)->recordFields());
    for (IDispatch *child : children()) readChild(tran, blob, [child] { return child; });
  }

  // Hands the blob, still open in `tran`, to a child (or a new member, which
  // `child` makes) to read its record. A child opening its CTran over a blob
  // read to its end would start again after the header, so a record that ends
  // before its children do, or a count larger than the records that follow,
  // is cut short here, before the child is made: a few bytes can never make
  // a node build children without end.
  template <class MakeChild> void readChild(CTran &tran, VARIANT *blob, MakeChild &&child) {
    RV_OPERATION("TransferIn");
    if (tran.cursor() >= tran.size()) raiseInternalCondition(RV_SITE(transferUnit()));
    auto *node = child();
    if constexpr (std::is_same_v<decltype(node), IDispatch *>) {
      const ComPtr<IPerfTransfer> transfer = transferOf(node);
      raiseIfFailedFrom(RV_SITE(transferUnit()), transfer.get(), transfer->TransferIn(*blob));
    } else {
      raiseIfFailedFrom(RV_SITE(transferUnit()), node->transferKey(), node->TransferIn(*blob));
    }
  }

 protected:
  // The template's own operations report this unit; the class's own ones
  // report Derived::rvSourceUnit.
  static constexpr const char *TemplateUnit = "CommonComponents\\PerfMon\\rvZedaZuvivurAzodav\\TRVPObjectImpl";

  HRESULT findInterface(REFIID riid, void **object) override {
    IUnknown *found = nullptr;
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, iidOf<Main>())) found = static_cast<Main *>(this);
    ((found = found != nullptr ? found : (IsEqualIID(riid, iidOf<Extra>()) ? static_cast<Extra *>(this) : nullptr)),
     ...);
    if (IsEqualIID(riid, IID_IPerfTransfer)) found = static_cast<IPerfTransfer *>(this);
    if (found != nullptr) {
      found->AddRef();
      *object = found;
      return S_OK;
    }
    // Seldom asked for, and never by the component itself: made when asked.
    if (IsEqualIID(riid, IID_IPerfCommon))
      return TearOff<DispatchFromTypeLibrary<IPerfCommon>>::answer<CommonTearOff>(object, controllingUnknown(), *this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
      return TearOff<ISupportErrorInfo>::answer<ErrorInfoSupport>(object, controllingUnknown());
    return E_NOINTERFACE;
  }

  // IPerfCommon: the common members, answered by the node.
  class CommonTearOff final : public TearOff<DispatchFromTypeLibrary<IPerfCommon>> {
   public:
    CommonTearOff(IUnknown *owner, TRVPObjectImpl &node) : TearOff(owner), node_(node) {}
    HRESULT STDMETHODCALLTYPE get_ID(LONG *value) override { return node_.get_ID(value); }
    HRESULT STDMETHODCALLTYPE put_ID(LONG value) override { return node_.put_ID(value); }
    HRESULT STDMETHODCALLTYPE get_ItemType(LONG *value) override { return node_.get_ItemType(value); }
    HRESULT STDMETHODCALLTYPE get_MyBlob(RVBlobTypeEnum type, VARIANT *value) override {
      return node_.get_MyBlob(type, value);
    }
    HRESULT STDMETHODCALLTYPE put_MyBlob(RVBlobTypeEnum type, VARIANT value) override {
      return node_.put_MyBlob(type, value);
    }
    HRESULT STDMETHODCALLTYPE CopyFrom(IDispatch *source) override { return node_.CopyFrom(source); }

   private:
    TRVPObjectImpl &node_;
  };

  // Only the class's own main interface reports its failures through error
  // information.
  class ErrorInfoSupport final : public TearOff<ISupportErrorInfo> {
   public:
    explicit ErrorInfoSupport(IUnknown *owner) : TearOff(owner) {}
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
      return IsEqualIID(riid, iidOf<Main>()) ? S_OK : S_FALSE;
    }
  };

  // Transfers report the class's own unit; a collection's is the template's.
  static const char *transferUnit() { return IsCollection ? TemplateUnit : Derived::rvSourceUnit; }

  void WriteCmnData(CTran &tran) {
    RV_OPERATION("WriteCmnData");
    passThrough(RV_SITE(Derived::rvSourceUnit), [&] { tran.Write(&id_, sizeof id_); });
  }

  void ReadCmnData(CTran &tran) {
    RV_OPERATION("ReadCmnData");
    passThrough(RV_SITE(Derived::rvSourceUnit), [&] { tran.Read(&id_, sizeof id_); });
  }

  // The sizes of the children, each asked through IPerfTransfer; a failing
  // child is logged and fails the sum.
  LONGLONG GetChildrenSize() {
    RV_OPERATION("GetChildrenSize");
    LONGLONG total = 0;
    Err frame;
    const bool summed = swallowingFrame(RV_SITE(Derived::rvSourceUnit), frame, [&] {
      for (IDispatch *child : children()) {
        LONG size = 0;
        raiseIfFailed(RV_SITE(Derived::rvSourceUnit), transferOf(child)->GetSize(&size));
        total += size;
      }
    });
    if (!summed) throw frame;
    return total;
  }

  static LONGLONG fieldSize(const TextField &field) { return CTran::StringSize(field.get()); }
  static LONGLONG fieldSize(const Variant &field) { return CTran::VariantSize(field.get()); }
  template <typename Number> static LONGLONG fieldSize(const Number &) {
    static_assert(std::is_arithmetic_v<Number>, "a record field is a text, a variant or a number");
    return sizeof(Number);
  }

  template <class Out> static bool plainField(Out &out, const TextField &field) { return out.writeString(field.get()); }
  template <class Out> static bool plainField(Out &out, const Variant &field) { return out.writeVariant(field.get()); }
  template <class Out, typename Number> static bool plainField(Out &out, const Number &field) {
    return out.write(&field, sizeof field);
  }

  // The blob of a tree made only of this component's nodes and simple values
  // is counted, then written, by one plain walk, since nothing in them can
  // fail and there is nothing to report: no interface calls, no cursor
  // reopened per node. S_OK with the blob; E_OUTOFMEMORY when its array cannot be
  // made; S_FALSE leaves the whole blob to the framed transfer, which also
  // reports whatever stopped this one. So does a trace level that records the
  // entries of the transfer's operations (without the trace settings there
  // is nothing to record: the member's own frame has just tried them).
  //
  // A host takes the blob of the same tree again and again, and a tree that
  // kept its shape and its texts keeps its size: the size of the last blob
  // this thread made, when it was of the same node, is tried first, and the
  // count is walked only when the records do not fill exactly that much.
  // (A node made at the address of one gone since only costs that try.)
  static HRESULT plainBlob(ObjectRoot &node, VARIANT *blob) {
    if (entryRecordsWanted()) return S_FALSE;
    thread_local struct {
      const ObjectRoot *node;
      LONG payload;
    } last{nullptr, 0};
    const auto write = [&](PlainWriter &writer) { return node.plainWalk(writer); };
    if (last.node == &node) {
      const HRESULT hr = PlainWriter::makeBlob(blob, last.payload, write);
      if (hr != S_FALSE) return hr;
    }
    PlainSizer size;
    if (!node.plainWalk(size) || size.total() > ULONGLONG(MAXLONG - CTran::HeaderSize)) return S_FALSE;
    const HRESULT hr = PlainWriter::makeBlob(blob, static_cast<LONG>(size.total()), write);
    if (hr == S_OK) last = {&node, static_cast<LONG>(size.total())};
    return hr;
  }

  // Reads a blob into `node` by one plain walk, which writes over
  // the node and, in place, over the members nobody else holds (see
  // heldByParentOnly): S_OK; E_OUTOFMEMORY when an allocation failed, the
  // tree then holding what was read. S_FALSE leaves the whole read to the
  // framed transfer, from the start: it writes over everything the walk
  // changed (every member it reaches is replaced) and reports what stopped
  // the walk. So does a trace level that records entries.
  static HRESULT plainLoad(ObjectRoot &node, VARIANT &blob) {
    if (entryRecordsWanted()) return S_FALSE;
    RecentTexts recent;
    return PlainReader::readBlob(blob, [&](PlainReader &in) {
      in.shareTextsThrough(&recent);
      try {
        return node.plainRead(in);
      } catch (const std::bad_alloc &) {
        return in.stopForMemory();
      }
    });
  }

  // Reads `blob` into this node, by the plain walk where it can.
  void readBlob(VARIANT &blob, const Site &site) {
    const HRESULT plain = plainLoad(*this, blob);
    if (plain == E_OUTOFMEMORY) raiseResult(site, plain);
    if (plain != S_OK) raiseIfFailedFrom(site, transferKey(), TransferIn(blob));
  }

  static bool plainReadField(PlainReader &in, TextField &field) {
    DWORD stored = 0;
    const BYTE *bytes = nullptr;
    if (!in.stringRecord(stored, bytes)) return false;
    return field.assignStored(stored, bytes, in.recentTexts()) || in.stopForMemory();
  }
  static bool plainReadField(PlainReader &in, Variant &field) { return in.readVariant(field.get()); }
  template <typename Number> static bool plainReadField(PlainReader &in, Number &field) {
    return in.read(&field, sizeof field);
  }

  static void writeField(CTran &tran, const TextField &field) { tran.WriteString(field.get()); }
  static void writeField(CTran &tran, const Variant &field) { tran.WriteVariant(field.get()); }
  template <typename Number> static void writeField(CTran &tran, const Number &field) {
    tran.Write(&field, sizeof field);
  }

  // Running out of memory for a text or an array ends the read.
  static void readField(CTran &tran, TextField &field) {
    RV_OPERATION("TransferIn");
    const HRESULT hr = tran.ReadString(field.slot());
    if (FAILED(hr)) raiseResult(RV_SITE(Derived::rvSourceUnit), hr);
    field.adopt();
  }
  static void readField(CTran &tran, Variant &field) {
    RV_OPERATION("TransferIn");
    const HRESULT hr = tran.ReadVariant(field.get());
    if (FAILED(hr)) raiseResult(RV_SITE(Derived::rvSourceUnit), hr);
  }
  template <typename Number> static void readField(CTran &tran, Number &field) { tran.Read(&field, sizeof field); }

  static ComPtr<IPerfTransfer> transferOf(IDispatch *node) {
    RV_OPERATION("QueryInterface");
    ComPtr<IPerfTransfer> transfer;
    if (FAILED(node->QueryInterface(IID_IPerfTransfer, transfer.putVoid())) || !transfer)
      raiseNullPointer(RV_SITE(TemplateUnit));
    return transfer;
  }

  // Creates a child collection through class activation and keeps the
  // counted reference in `field`, one of the fields the class lists as its
  // children (childFields()).
  template <typename I> void CreateChild(REFCLSID clsid, ComPtr<I> &field) {
    RV_OPERATION("CreateChild");
    ComPtr<IDispatch> child;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, child.putVoid());
    if (FAILED(hr)) raiseResult(RV_SITE(Derived::rvSourceUnit), hr);
    hr = child.query(iidOf<I>(), field);
    if (FAILED(hr)) raiseResult(RV_SITE(Derived::rvSourceUnit), hr);
  }

  // Hands each child's node to `step`, in order, while it answers true;
  // false at the first child that `step` refuses or that is not one of this
  // component's own nodes.
  template <class Step> bool eachChildNode(Step &&step) {
    for (IDispatch *child : children()) {
      ObjectRoot *node = ObjectRoot::ownNode(child);
      if (node == nullptr || !step(*node)) return false;
    }
    return true;
  }

  // The child collections made so far, in record order: the fields the class
  // lists in childFields() that hold one. A node keeps no list of its own:
  // counters, the most numerous nodes, have no children at all.
  class ChildList {
   public:
    void add(IDispatch *child) {
      if (child != nullptr) slots_[count_++] = child;
    }
    IDispatch *const *begin() const { return slots_.data(); }
    IDispatch *const *end() const { return slots_.data() + count_; }

   private:
    std::array<IDispatch *, 2> slots_{};
    size_t count_ = 0;
  };
  ChildList children() {
    using Fields = decltype(static_cast<Derived *>(this)->childFields());
    static_assert(std::tuple_size_v<Fields> <= 2, "a node owns at most two child collections");
    ChildList list;
    std::apply([&](const auto &...field) { (list.add(field.get()), ...); },
               static_cast<Derived *>(this)->childFields());
    return list;
  }
  // A class without child collections lists none.
  std::tuple<> childFields() { return {}; }

  // Last, so that a class's first small field can share its padding.
  LONG id_ = 0;
};

}  // namespace rv
