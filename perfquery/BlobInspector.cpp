#include "BlobInspector.h"

#include <objbase.h>
#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "FileContents.h"
#include "rvZedaZuvivurAzodav.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

namespace perfquery {
namespace {

// ---- owners -----------------------------------------------------------------

struct Releasing {
  void operator()(IUnknown *object) const { object->Release(); }
};
template <typename I> using Owned = std::unique_ptr<I, Releasing>;

template <typename I> Owned<I> query(IUnknown *object, REFIID iid) {
  I *found = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(iid, reinterpret_cast<void **>(&found)))) found = nullptr;
  return Owned<I>(found);
}

struct OwnedVariant {
  VARIANT value;
  OwnedVariant() { VariantInit(&value); }
  OwnedVariant(const OwnedVariant &) = delete;
  OwnedVariant &operator=(const OwnedVariant &) = delete;
  ~OwnedVariant() { VariantClear(&value); }
};

// ---- the record classes, as data ------------------------------------------

enum Row { Manager, Objects, Object, Counters, Counter, Instances, Instance, NoRow };

struct Child {
  const OLECHAR *property;
  Row row;
};

// Each record class: the class whose node reads it, the properties that show
// what it read (in record order), and what follows its own fields: child
// collections, or a collection's members.
struct RecordClass {
  const char *record;
  const CLSID *clsid;
  std::vector<const OLECHAR *> fields;
  std::vector<Child> children;
  Row members;
};

const RecordClass &recordClass(Row row) {
  static const RecordClass classes[] = {
      {"PerfMgr",
       &CLSID_PerfMgr,
       {OLESTR("ID"), OLESTR("DeviceName"), OLESTR("InstanceCleannupPolling")},
       {{OLESTR("PerfObjects"), Objects}},
       NoRow},
      {"PerfObjects", &CLSID_PerfObjects, {OLESTR("Count")}, {}, Object},
      {"PerfObject",
       &CLSID_PerfObject,
       {OLESTR("ID"), OLESTR("Name"), OLESTR("Help"), OLESTR("InstanceTimeout"), OLESTR("HasInstances"),
        OLESTR("AutoCreateInstanceTotal")},
       {{OLESTR("PerfCounters"), Counters}, {OLESTR("PerfInstances"), Instances}},
       NoRow},
      {"PerfCounters", &CLSID_PerfCounters, {OLESTR("Count")}, {}, Counter},
      {"PerfCounter",
       &CLSID_PerfCounter,
       {OLESTR("ID"), OLESTR("Name"), OLESTR("Help"), OLESTR("Value"), OLESTR("DefaultScale"), OLESTR("CounterType"),
        OLESTR("CounterSize"), OLESTR("AutoCalcInstanceTotal")},
       {},
       NoRow},
      {"PerfInstances", &CLSID_PerfInstances, {OLESTR("Count")}, {}, Instance},
      {"PerfInstance",
       &CLSID_PerfInstance,
       {OLESTR("ID"), OLESTR("Name"), OLESTR("TimeStamp")},
       {{OLESTR("PerfCounters"), Counters}},
       NoRow},
  };
  return classes[row];
}

const struct {
  BlobClass blobClass;
  const char *name;
  Row row;
} BlobClasses[] = {{BlobClass::Manager, "manager", Manager},
                   {BlobClass::Object, "object", Object},
                   {BlobClass::Instance, "instance", Instance},
                   {BlobClass::Counter, "counter", Counter}};

Row rowOf(BlobClass blobClass) {
  for (const auto &entry : BlobClasses)
    if (entry.blobClass == blobClass) return entry.row;
  return Manager;
}

// ---- values as text ---------------------------------------------------------

std::string utf8(BSTR text) {
  return text == nullptr ? std::string() : commandline::toUtf8({text, SysStringLen(text)});
}

// The shortest text that reads back as the same double.
std::string realText(double value) {
  char text[40];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

// A time as days since 30 December 1899, local time: "2024-05-31 13:45:02.047".
// Days before that date count their fraction the other way, so they are
// left as the number they are. VariantTimeToSystemTime would drop the
// milliseconds, which a time stamp of a blob keeps.
bool timeText(double date, std::string &text) {
  if (!(date >= 0 && date < 2958466.0)) return false;
  const long long milliseconds = std::llround(date * 86400000.0);
  // Days since 1 March of year 0 in the proleptic Gregorian calendar.
  const long long days = milliseconds / 86400000 + 693899;
  const long long era = days / 146097, dayOfEra = days % 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long shifted = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const long long month = shifted < 10 ? shifted + 3 : shifted - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2);
  const long long ofDay = milliseconds % 86400000;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld", year, month, day,
                ofDay / 3600000, ofDay / 60000 % 60, ofDay / 1000 % 60, ofDay % 1000);
  text = buffer;
  return true;
}

std::string typeName(VARTYPE type) {
  static const struct {
    VARTYPE type;
    const char *name;
  } names[] = {{VT_EMPTY, "VT_EMPTY"}, {VT_I2, "VT_I2"},     {VT_I4, "VT_I4"},          {VT_R4, "VT_R4"},
               {VT_R8, "VT_R8"},       {VT_CY, "VT_CY"},     {VT_DATE, "VT_DATE"},      {VT_BSTR, "VT_BSTR"},
               {VT_ERROR, "VT_ERROR"}, {VT_BOOL, "VT_BOOL"}, {VT_I1, "VT_I1"},          {VT_UI1, "VT_UI1"},
               {VT_UI2, "VT_UI2"},     {VT_UI4, "VT_UI4"},   {VT_I8, "VT_I8"},          {VT_UI8, "VT_UI8"},
               {VT_INT, "VT_INT"},     {VT_UINT, "VT_UINT"}, {VT_VARIANT, "VT_VARIANT"}};
  const VARTYPE base = VARTYPE(type & VT_TYPEMASK);
  std::string name;
  for (const auto &entry : names)
    if (entry.type == base) name = entry.name;
  if (name.empty()) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", unsigned(base));
    name = number;
  }
  return (type & VT_ARRAY ? "VT_ARRAY|" : "") + name;
}

// An array as its element count and, for bytes, the bytes in hexadecimal.
std::string arrayText(SAFEARRAY *array, VARTYPE elementType) {
  LONG lower = 0, upper = -1;
  if (array == nullptr || FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return "no array";
  const LONGLONG count = LONGLONG(upper) - lower + 1;
  std::string text = "[" + std::to_string(lower) + ".." + std::to_string(upper) + "]";
  BYTE *bytes = nullptr;
  if (elementType != VT_UI1 || count <= 0 || FAILED(SafeArrayAccessData(array, reinterpret_cast<void **>(&bytes))))
    return text + " " + std::to_string(count < 0 ? 0 : count) + " elements";
  for (LONGLONG at = 0; at < count; ++at) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", bytes[at]);
    text += hex;
  }
  SafeArrayUnaccessData(array);
  return text;
}

BlobField fieldOf(const OLECHAR *property, const VARIANT &value) {
  BlobField field;
  field.name = commandline::toUtf8(property);
  const VARTYPE type = V_VT(&value);
  auto set = [&](BlobField::Kind kind, std::string text) {
    field.kind = kind;
    field.text = std::move(text);
  };
  switch (type) {
    case VT_EMPTY: set(BlobField::Kind::Empty, ""); break;
    case VT_BSTR: set(BlobField::Kind::Text, utf8(V_BSTR(&value))); break;
    case VT_I1: set(BlobField::Kind::Number, std::to_string(V_I1(&value))); break;
    case VT_UI1: set(BlobField::Kind::Number, std::to_string(V_UI1(&value))); break;
    case VT_I2: set(BlobField::Kind::Number, std::to_string(V_I2(&value))); break;
    case VT_UI2: set(BlobField::Kind::Number, std::to_string(V_UI2(&value))); break;
    case VT_I4: set(BlobField::Kind::Number, std::to_string(V_I4(&value))); break;
    case VT_UI4: set(BlobField::Kind::Number, std::to_string(V_UI4(&value))); break;
    case VT_INT: set(BlobField::Kind::Number, std::to_string(V_INT(&value))); break;
    case VT_UINT: set(BlobField::Kind::Number, std::to_string(V_UINT(&value))); break;
    case VT_ERROR: set(BlobField::Kind::Number, std::to_string(V_ERROR(&value))); break;
    case VT_BOOL: set(BlobField::Kind::Boolean, V_BOOL(&value) == VARIANT_TRUE ? "true" : "false"); break;
    case VT_R4:
    case VT_R8: {
      const double real = type == VT_R4 ? double(V_R4(&value)) : V_R8(&value);
      set(std::isfinite(real) ? BlobField::Kind::Number : BlobField::Kind::Other, realText(real));
      break;
    }
    case VT_CY: {
      const long long units = V_CY(&value).int64;
      const unsigned long long magnitude = units < 0 ? 0ull - (unsigned long long)(units) : (unsigned long long)(units);
      char text[32];
      std::snprintf(text, sizeof text, "%s%llu.%04llu", units < 0 ? "-" : "", magnitude / 10000, magnitude % 10000);
      set(BlobField::Kind::Number, text);
      break;
    }
    case VT_DATE: {
      std::string text;
      if (timeText(V_DATE(&value), text))
        set(BlobField::Kind::Time, text);
      else
        set(BlobField::Kind::Number, realText(V_DATE(&value)));
      break;
    }
    default:
      set(BlobField::Kind::Other, type & VT_ARRAY && !(type & VT_BYREF)
                                      ? arrayText(V_ARRAY(&value), VARTYPE(type & VT_TYPEMASK))
                                      : "(" + typeName(type) + ")");
      break;
  }
  return field;
}

// ---- the component ----------------------------------------------------------

// The cursor field, bytes 4 to 7 of a blob, and the header it ends.
constexpr size_t CursorAt = 4;
constexpr LONG HeaderBytes = 8;

HRESULT getProperty(IDispatch *node, const OLECHAR *name, VARIANT *value) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = node->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return node->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

// The bytes the node's own blob carries after its header: its record.
LONG recordSize(IDispatch *node) {
  const Owned<IPerfCommon> common = query<IPerfCommon>(node, IID_IPerfCommon);
  OwnedVariant blob;
  LONG lower = 0, upper = -1;
  if (!common || FAILED(common->get_MyBlob(btAsBinaryArray, &blob.value)) || V_VT(&blob.value) != (VT_ARRAY | VT_UI1) ||
      FAILED(SafeArrayGetLBound(V_ARRAY(&blob.value), 1, &lower)) ||
      FAILED(SafeArrayGetUBound(V_ARRAY(&blob.value), 1, &upper)))
    return -1;
  return upper - lower + 1 - HeaderBytes;
}

// One record as a fresh node of its class reads it.
struct Reading {
  Owned<IDispatch> node;
  HRESULT result = S_OK;
  std::string description;
  LONG cursor = 0;  // where the reading ended, or where it stopped
};

// Reads records out of one copy of the blob, made once: a reading changes
// nothing in it but the cursor, which is placed at the record before each.
class Reader {
 public:
  explicit Reader(const std::vector<BYTE> &bytes)
      : length_(LONG(bytes.size())), copy_(SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes.size()))) {
    if (copy_ && !bytes.empty()) std::memcpy(copy_->pvData, bytes.data(), bytes.size());
  }

  // False when a node cannot be made (the component is not there) or the
  // blob could not be copied.
  bool read(Row row, LONG at, Reading &reading, std::string &problem) {
    if (!copy_) {
      problem = "no memory for a copy of the blob";
      return false;
    }
    IDispatch *node = nullptr;
    const HRESULT made = CoCreateInstance(*recordClass(row).clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                          reinterpret_cast<void **>(&node));
    if (FAILED(made)) {
      problem = "cannot create the component's " + std::string(recordClass(row).record) + " (" +
                commandline::systemReason(DWORD(made)) + "); is rvZedaZuvivurAzodav registered?";
      return false;
    }
    reading.node.reset(node);
    BYTE *data = static_cast<BYTE *>(copy_->pvData);
    if (length_ >= HeaderBytes) std::memcpy(data + CursorAt, &at, sizeof at);
    // The node reads the caller's array, which stays ours.
    VARIANT blob;
    V_VT(&blob) = VT_ARRAY | VT_UI1;
    V_ARRAY(&blob) = copy_.get();

    const Owned<IPerfCommon> common = query<IPerfCommon>(node, IID_IPerfCommon);
    SetErrorInfo(0, nullptr);
    reading.result = common ? common->put_MyBlob(btAsBinaryArray, blob) : E_NOINTERFACE;
    if (FAILED(reading.result)) reading.description = errorDescription(reading.result);
    reading.cursor = at;
    if (length_ >= HeaderBytes) std::memcpy(&reading.cursor, data + CursorAt, sizeof reading.cursor);
    return true;
  }

  LONG length() const { return length_; }

 private:
  static std::string errorDescription(HRESULT result) {
    IErrorInfo *info = nullptr;
    std::string text;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
      BSTR description = nullptr;
      if (SUCCEEDED(info->GetDescription(&description))) text = utf8(description);
      SysFreeString(description);
      info->Release();
    }
    return text.empty() ? commandline::systemText(DWORD(result)) : text;
  }

  struct Destroying {
    void operator()(SAFEARRAY *array) const { SafeArrayDestroy(array); }
  };
  const LONG length_;
  const std::unique_ptr<SAFEARRAY, Destroying> copy_;
};

// Builds the record at `at` and, when it can be read, the records below it.
// `enclosing` is the failed reading of the record it belongs to, which
// explains a record that would have to begin at the blob's end.
class Walk {
 public:
  explicit Walk(Reader &reader) : reader_(reader) {}

  bool record(Row row, LONG at, const Reading *enclosing, BlobRecord &out, std::string &problem) {
    const RecordClass &kind = recordClass(row);
    out.record = kind.record;
    out.offset = at;
    out.end = -1;
    if (at >= reader_.length() && enclosing != nullptr) {
      // The component stops before it makes a node whose record would begin
      // where the blob ends; the reason is its parent's.
      out.problem = BlobProblem{enclosing->result, enclosing->description, enclosing->cursor};
      return true;
    }
    Reading reading;
    if (!reader_.read(row, at, reading, problem)) return false;
    const bool whole = SUCCEEDED(reading.result);
    const LONG own = ownSize(row, reading.node.get());
    // A record whose reading stopped inside its own fields is the bad one:
    // fields not read leave at least their width in its size, so the
    // reading stopped before the end of what its size claims for them.
    if (!whole && (own < 0 || reading.cursor < at + own || (kind.children.empty() && kind.members == NoRow))) {
      out.problem = BlobProblem{reading.result, reading.description, reading.cursor};
      return true;
    }
    fields(kind, reading.node.get(), out.fields);
    // A record that cannot be read whole has no end: one below it is bad.
    out.end = whole ? reading.cursor : -1;
    LONG next = at + own;
    const Reading *failed = whole ? nullptr : &reading;
    auto follow = [&](Row childRow) {
      out.children.emplace_back();
      if (!record(childRow, next, failed, out.children.back(), problem)) return false;
      next = out.children.back().end;
      return true;
    };
    if (kind.members != NoRow) {
      // Members follow until the count the component read, or, in a
      // collection it could not read whole, until the member that fails.
      const LONG count = whole ? memberCount(reading.node.get()) : MAXLONG;
      for (LONG member = 0; member < count && next >= 0; ++member)
        if (!follow(kind.members)) return false;
    } else {
      for (size_t child = 0; child < kind.children.size() && next >= 0; ++child)
        if (!follow(kind.children[child].row)) return false;
    }
    if (!whole && next >= 0) {
      // Every part read alone, yet the whole did not: shown as it stands.
      out.problem = BlobProblem{reading.result, reading.description, reading.cursor};
    }
    return true;
  }

 private:
  // The bytes of the node's own fields: its record less its children's. A
  // collection's own field is its count.
  static LONG ownSize(Row row, IDispatch *node) {
    const RecordClass &kind = recordClass(row);
    if (kind.members != NoRow) return LONG(sizeof(LONG));
    LONG own = recordSize(node);
    if (own < 0) return -1;
    for (const Child &child : kind.children) {
      OwnedVariant value;
      if (FAILED(getProperty(node, child.property, &value.value)) || V_VT(&value.value) != VT_DISPATCH) return -1;
      const LONG size = recordSize(V_DISPATCH(&value.value));
      if (size < 0) return -1;
      own -= size;
    }
    return own;
  }

  static LONG memberCount(IDispatch *collection) {
    OwnedVariant count;
    if (FAILED(getProperty(collection, OLESTR("Count"), &count.value)) || V_VT(&count.value) != VT_I4) return 0;
    return V_I4(&count.value);
  }

  static void fields(const RecordClass &kind, IDispatch *node, std::vector<BlobField> &out) {
    for (const OLECHAR *property : kind.fields) {
      OwnedVariant value;
      const HRESULT hr = getProperty(node, property, &value.value);
      BlobField field = fieldOf(property, value.value);
      if (FAILED(hr)) {
        field.kind = BlobField::Kind::Other;
        field.text = "(" + commandline::systemReason(DWORD(hr)) + ")";
      } else if (lstrcmpW(property, OLESTR("Value")) == 0) {
        field.type = typeName(V_VT(&value.value));
      }
      out.push_back(std::move(field));
    }
  }

  Reader &reader_;
};

// Where MyBlob put starts reading the blob as it stands: after the header,
// unless the cursor it carries points elsewhere.
LONG putStartOf(LONG cursor, LONG length) { return cursor < HeaderBytes || cursor == length ? HeaderBytes : cursor; }

}  // namespace

const char *blobClassName(BlobClass blobClass) {
  for (const auto &entry : BlobClasses)
    if (entry.blobClass == blobClass) return entry.name;
  return "manager";
}

bool parseBlobClass(const std::string &text, BlobClass &blobClass) {
  for (const auto &entry : BlobClasses) {
    if (text == entry.name) {
      blobClass = entry.blobClass;
      return true;
    }
  }
  return false;
}

const BlobRecord *BlobInspection::damaged() const {
  const BlobRecord *at = &root;
  while (!at->problem && !at->children.empty()) at = &at->children.back();
  return at->problem ? at : nullptr;
}

bool readBlobFile(const std::basic_string<WCHAR> &path, std::vector<BYTE> &bytes, std::string &problem) {
  const std::string name = commandline::toUtf8(path);
  const commandline::FileContents contents = commandline::readFileContents(path, size_t(MAXLONG));
  if (contents.error != ERROR_SUCCESS) {
    problem = std::string(contents.opened ? "cannot read \"" : "cannot open \"") + name +
              "\": " + commandline::systemReason(contents.error);
    return false;
  }
  if (contents.tooLarge) {
    problem = "\"" + name + "\" is larger than a blob can be";
    return false;
  }
  bytes.assign(contents.bytes.begin(), contents.bytes.end());
  // The string form, written as UTF-16 text: its code units are the blob's
  // bytes. No blob begins so: its token would be 1000 or more.
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) bytes.erase(bytes.begin(), bytes.begin() + 2);
  return true;
}

bool inspectBlob(const std::vector<BYTE> &bytes, std::optional<BlobClass> blobClass, BlobInspection &inspection,
                 std::string &problem) {
  Reader reader(bytes);
  inspection.length = reader.length();
  if (bytes.size() >= HeaderBytes) {
    std::memcpy(&inspection.token, bytes.data(), sizeof inspection.token);
    std::memcpy(&inspection.cursor, bytes.data() + CursorAt, sizeof inspection.cursor);
  }
  inspection.putStart = putStartOf(inspection.cursor, inspection.length);
  // The records begin after the header, wherever a reading left the cursor.
  const LONG start = HeaderBytes;
  inspection.classGuessed = !blobClass;
  if (!blobClass) {
    // Whole and to the end, then whole, then furthest.
    int best = -1, bestRank = -1;
    LONG bestCursor = -1;
    for (const auto &entry : BlobClasses) {
      Reading reading;
      if (!reader.read(entry.row, start, reading, problem)) return false;
      const bool whole = SUCCEEDED(reading.result);
      const int rank = whole && reading.cursor == reader.length() ? 2 : whole ? 1 : 0;
      if (rank > bestRank || (rank == bestRank && rank == 0 && reading.cursor > bestCursor)) {
        best = int(&entry - BlobClasses);
        bestRank = rank;
        bestCursor = reading.cursor;
      }
    }
    blobClass = BlobClasses[best].blobClass;
  }
  inspection.blobClass = *blobClass;
  inspection.root = {};
  Walk walk(reader);
  return walk.record(rowOf(*blobClass), start, nullptr, inspection.root, problem);
}

}  // namespace perfquery
