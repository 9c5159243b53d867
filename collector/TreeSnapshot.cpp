#include "TreeSnapshot.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "rvBlobWidths.h"

namespace rv::collector {

namespace {

constexpr size_t BlobHeaderSize = 8;
// Arrays of variants may nest; a blob cannot make the reader recurse deeper
// than this.
constexpr int MaxNesting = 16;

constexpr WORD TagArray = 0x2000;
// An instance gets one value per counter of its object even when its own
// record lists none, so a small hostile blob could ask for instances times
// counters values; no real tree comes near this many.
constexpr size_t MaxValues = 16 * 1024 * 1024;

struct Malformed {
  std::string problem;
};

LONGLONG fromDouble(double value) {
  if (std::isnan(value)) return 0;
  double rounded = std::round(value);
  if (rounded >= 9.2233720368547758e18) return std::numeric_limits<LONGLONG>::max();
  if (rounded <= -9.2233720368547758e18) return std::numeric_limits<LONGLONG>::min();
  return static_cast<LONGLONG>(rounded);
}

// Reads the fields of the blob in order; a read past the end throws.
class BlobReader {
 public:
  // `base` is where `bytes` lie in the blob, for the positions of values.
  BlobReader(const BYTE *bytes, size_t size, size_t base = 0) : bytes_(bytes), size_(size), base_(base) {}

  size_t position() const { return base_ + at_; }

  const BYTE *take(size_t count, const char *what) {
    if (count > size_ - at_)
      throw Malformed{std::string(what) + " runs past the end of the blob at byte " + std::to_string(at_)};
    const BYTE *start = bytes_ + at_;
    at_ += count;
    return start;
  }
  template <typename T> T read(const char *what) {
    T value;
    std::memcpy(&value, take(sizeof value, what), sizeof value);
    return value;
  }
  LONG count(const char *what) {
    LONG n = read<LONG>(what);
    return n < 0 ? 0 : n;
  }
  Text string(const char *what) {
    DWORD length = read<DWORD>(what);
    const BYTE *units = take(length, what);
    Text text(length / 2, WCHAR());
    if (!text.empty()) std::memcpy(&text[0], units, text.size() * 2);
    // A name ends at its first zero, as readers of instance names take it.
    size_t end = text.find(WCHAR());
    if (end != Text::npos) text.resize(end);
    return text;
  }
  void skipString(const char *what) { take(read<DWORD>(what), what); }

  // A scalar of fixed width tells `source` where its payload lies.
  LONGLONG variant(ValueSource *source = nullptr, int depth = 0) {
    if (depth > MaxNesting) throw Malformed{"counter value nests arrays too deeply"};
    WORD tag = read<WORD>("counter value");
    if (tag & TagArray) return array(tag, depth);
    const int width = scalarPayloadWidth(tag);
    if (source != nullptr && width > 0) *source = {position(), tag, static_cast<size_t>(width)};
    return scalar(tag);
  }

  LONGLONG scalar(WORD tag) {
    switch (tag) {
      case VT_EMPTY: return 0;
      case VT_I1: return read<signed char>("counter value");
      case VT_UI1: return read<BYTE>("counter value");
      case VT_I2: return read<SHORT>("counter value");
      case VT_UI2: return read<USHORT>("counter value");
      case VT_I4:
      case VT_INT: return read<LONG>("counter value");
      case VT_UI4:
      case VT_UINT: return read<ULONG>("counter value");
      case VT_BOOL: return read<SHORT>("counter value") ? 1 : 0;
      case VT_ERROR: read<LONG>("counter value"); return 0;
      case VT_R4: return fromDouble(read<float>("counter value"));
      case VT_R8:
      case VT_DATE: return fromDouble(read<double>("counter value"));
      case VT_CY: return fromDouble(static_cast<double>(read<LONGLONG>("counter value")) / 10000.0);
      case VT_BSTR: skipString("counter value"); return 0;
      default: throw Malformed{"counter value of type " + std::to_string(tag) + " cannot be read"};
    }
  }

 private:
  LONGLONG array(WORD tag, int depth) {
    LONG lower = read<LONG>("array bounds"), upper = read<LONG>("array bounds");
    LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
    if (count < 0) count = 0;
    WORD type = tag & ~TagArray;
    if (type == VT_VARIANT) {
      LONGLONG first = 0;
      for (LONGLONG i = 0; i < count; ++i) {
        LONGLONG value = variant(nullptr, depth + 1);
        if (i == 0) first = value;
      }
      return first;
    }
    const size_t width = arrayElementWidth(type);
    if (width == 0) throw Malformed{"array of type " + std::to_string(tag) + " cannot be read"};
    if (static_cast<unsigned long long>(count) > (size_ - at_) / width)
      throw Malformed{"array runs past the end of the blob"};
    const BYTE *elements = take(static_cast<size_t>(count) * width, "array");
    if (count == 0) return 0;
    if (type == VT_UI1) {
      ULONGLONG value = 0;
      size_t n = count < 8 ? static_cast<size_t>(count) : 8;
      for (size_t i = 0; i < n; ++i) value |= static_cast<ULONGLONG>(elements[i]) << (8 * i);
      return static_cast<LONGLONG>(value);
    }
    if (type == VT_I8 || type == VT_UI8) {
      LONGLONG value;
      std::memcpy(&value, elements, 8);
      return value;
    }
    BlobReader element(elements, width);
    return element.scalar(type);
  }

  const BYTE *bytes_;
  size_t size_;
  size_t base_;
  size_t at_ = 0;
};

struct Counter {
  LONG id;
  LONG scale;
  LONG type;
  LONGLONG value;
  ValueSource source;
};

Counter readCounter(BlobReader &blob, std::vector<BlobRange> &changing) {
  Counter counter{};
  counter.id = blob.read<LONG>("counter ID");
  blob.skipString("counter name");
  blob.skipString("counter help");
  counter.value = blob.variant(&counter.source);
  if (counter.source.width) changing.push_back({counter.source.offset, counter.source.width});
  counter.scale = blob.read<LONG>("counter scale");
  counter.type = blob.read<LONG>("counter type");
  blob.read<LONG>("counter size");
  blob.skipString("counter total keyword");
  return counter;
}

std::vector<Counter> readCounters(BlobReader &blob, std::vector<BlobRange> &changing) {
  std::vector<Counter> counters;
  for (LONG n = blob.count("counter count"); n > 0; --n) counters.push_back(readCounter(blob, changing));
  return counters;
}

// An instance's counters are copies of the object's template; they are
// matched by ID, so that a counter missing from an instance shows 0.
void valuesFor(const std::vector<CounterDefinition> &definitions, const std::vector<Counter> &own,
               InstanceValues &instance) {
  instance.values.assign(definitions.size(), 0);
  instance.sources.assign(definitions.size(), ValueSource());
  for (size_t i = 0; i < definitions.size(); ++i) {
    const Counter *match = nullptr;
    if (i < own.size() && own[i].id == definitions[i].id) {
      match = &own[i];
    } else {
      for (const Counter &counter : own) {
        if (counter.id == definitions[i].id) {
          match = &counter;
          break;
        }
      }
    }
    if (match != nullptr) {
      instance.values[i] = match->value;
      instance.sources[i] = match->source;
    }
  }
}

ObjectSnapshot readObject(BlobReader &blob, size_t &valueBudget, std::vector<BlobRange> &changing) {
  ObjectSnapshot object;
  object.id = blob.read<LONG>("object ID");
  blob.skipString("object name");
  blob.skipString("object help");
  blob.read<LONG>("object time-out");
  object.hasInstances = blob.read<SHORT>("object flags") != 0;
  blob.read<SHORT>("object flags");
  std::vector<Counter> counters = readCounters(blob, changing);
  for (const Counter &counter : counters) {
    object.counters.push_back({counter.id, counter.scale, counter.type});
    object.values.push_back(counter.value);
    object.sources.push_back(counter.source);
  }
  for (LONG n = blob.count("instance count"); n > 0; --n) {
    InstanceValues instance;
    blob.read<LONG>("instance ID");
    instance.name = blob.string("instance name");
    changing.push_back({blob.position(), sizeof(double)});
    blob.read<double>("instance time stamp");
    std::vector<Counter> own = readCounters(blob, changing);
    if (object.counters.size() > valueBudget) throw Malformed{"tree holds more counter values than a reader can take"};
    valueBudget -= object.counters.size();
    valuesFor(object.counters, own, instance);
    object.instances.push_back(std::move(instance));
  }
  return object;
}

}  // namespace

LONGLONG scalarValue(VARTYPE type, const BYTE *payload) {
  const int width = scalarPayloadWidth(type);
  BlobReader reader(payload, width > 0 ? static_cast<size_t>(width) : 0);
  try {
    return reader.scalar(type);
  } catch (const Malformed &) {
    return 0;
  }
}

bool readTreeSnapshot(const BYTE *blob, size_t size, TreeSnapshot &out, std::string &problem) {
  out = TreeSnapshot();
  if (size < BlobHeaderSize || !blob) {
    problem = "blob shorter than its header";
    return false;
  }
  try {
    BlobReader reader(blob + BlobHeaderSize, size - BlobHeaderSize, BlobHeaderSize);
    TreeSnapshot tree;
    reader.read<LONG>("manager ID");
    tree.device = reader.string("device name");
    reader.read<LONG>("polling interval");
    size_t valueBudget = MaxValues;
    for (LONG n = reader.count("object count"); n > 0; --n)
      tree.objects.push_back(readObject(reader, valueBudget, tree.changing));
    out = std::move(tree);
    return true;
  } catch (const Malformed &malformed) {
    problem = malformed.problem;
    return false;
  }
}

}  // namespace rv::collector
