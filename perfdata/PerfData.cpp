// The strict walk of a performance data block. Positions are 64-bit so that
// no sum of two 32-bit fields can wrap around and pass a bounds check.
#include "PerfData.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace perfdata {
namespace {

constexpr uint64_t alignment = 8;

// The first thing found wrong, as the text parseDataBlock hands out.
struct LayoutError {
  std::string text;
};

[[noreturn]] void fail(const char *format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  throw LayoutError{text};
}

// Which structure a problem text is about: "object 2 instance 3".
using Label = std::string;

Label objectLabel(DWORD object) { return "object " + std::to_string(object); }

Label partLabel(const Label &whole, const char *part, DWORD number) {
  return whole + " " + part + " " + std::to_string(number);
}

Label counterBlockLabel(const Label &owner) { return owner + " counter block"; }

unsigned long ul(uint64_t value) { return static_cast<unsigned long>(value); }

class Walker {
 public:
  Walker(const BYTE *bytes, size_t size) : bytes_(bytes), size_(size) {}

  void walk(DataBlock &block) {
    readHeader(block);
    uint64_t position = block.headerLength;
    // Each object takes at least its fixed header, so the count is believed
    // only as far as the bytes go.
    for (DWORD number = 1; number <= block.numObjectTypes; ++number) {
      block.objects.emplace_back();
      position += readObject(number, position, block.objects.back());
    }
    if (position != end_) {
      fail("PERF_DATA_BLOCK: its %lu objects end at offset %lu but TotalByteLength is %lu", ul(block.numObjectTypes),
           ul(position), ul(end_));
    }
  }

 private:
  template <typename T> T read(uint64_t at) const {
    T value;
    memcpy(&value, bytes_ + at, sizeof value);
    return value;
  }

  void readHeader(DataBlock &block) {
    if (size_ < sizeof(PERF_DATA_BLOCK)) {
      fail("PERF_DATA_BLOCK: only %lu bytes, shorter than the %lu-byte header", ul(size_), ul(sizeof(PERF_DATA_BLOCK)));
    }
    auto header = read<PERF_DATA_BLOCK>(0);
    static const WCHAR signature[4] = {'P', 'E', 'R', 'F'};
    if (memcmp(header.Signature, signature, sizeof signature) != 0) fail("PERF_DATA_BLOCK: Signature is not \"PERF\"");
    if (header.TotalByteLength > size_) {
      fail("PERF_DATA_BLOCK: TotalByteLength %lu past the %lu bytes read", ul(header.TotalByteLength), ul(size_));
    }
    if (header.HeaderLength < sizeof(PERF_DATA_BLOCK)) {
      fail("PERF_DATA_BLOCK: HeaderLength %lu shorter than the %lu-byte PERF_DATA_BLOCK", ul(header.HeaderLength),
           ul(sizeof(PERF_DATA_BLOCK)));
    }
    if (header.HeaderLength > header.TotalByteLength) {
      fail("PERF_DATA_BLOCK: HeaderLength %lu past TotalByteLength %lu", ul(header.HeaderLength),
           ul(header.TotalByteLength));
    }
    end_ = header.TotalByteLength;

    block.littleEndian = header.LittleEndian;
    block.version = header.Version;
    block.revision = header.Revision;
    block.totalByteLength = header.TotalByteLength;
    block.headerLength = header.HeaderLength;
    block.numObjectTypes = header.NumObjectTypes;
    block.defaultObject = header.DefaultObject;
    block.systemTime = header.SystemTime;
    block.perfTime = header.PerfTime.QuadPart;
    block.perfFreq = header.PerfFreq.QuadPart;
    block.perfTime100nSec = header.PerfTime100nSec.QuadPart;
    block.systemNameLength = header.SystemNameLength;
    block.systemNameOffset = header.SystemNameOffset;
    if (header.SystemNameLength == 0) return;
    uint64_t nameEnd = uint64_t{header.SystemNameOffset} + header.SystemNameLength;
    if (header.SystemNameOffset < sizeof(PERF_DATA_BLOCK) || nameEnd > header.HeaderLength) {
      fail("PERF_DATA_BLOCK: system name (SystemNameOffset %lu, SystemNameLength %lu) outside the header's %lu-%lu",
           ul(header.SystemNameOffset), ul(header.SystemNameLength), ul(sizeof(PERF_DATA_BLOCK)),
           ul(header.HeaderLength));
    }
    if (header.SystemNameOffset % sizeof(WCHAR) != 0 || header.SystemNameLength % sizeof(WCHAR) != 0) {
      fail("PERF_DATA_BLOCK: system name (SystemNameOffset %lu, SystemNameLength %lu) is not whole UTF-16 characters",
           ul(header.SystemNameOffset), ul(header.SystemNameLength));
    }
    // The length may or may not count a terminator; the name stops at the first.
    for (uint64_t at = header.SystemNameOffset; at < nameEnd; at += sizeof(WCHAR)) {
      auto unit = read<WCHAR>(at);
      if (unit == 0) break;
      block.systemName.push_back(unit);
    }
  }

  // Reads the object at `position` and returns its TotalByteLength.
  DWORD readObject(DWORD number, uint64_t position, Object &object) {
    Label label = objectLabel(number);
    checkAligned(label, "PERF_OBJECT_TYPE", position);
    checkRoom(label, "PERF_OBJECT_TYPE", position, sizeof(PERF_OBJECT_TYPE), end_, "the data block's TotalByteLength");
    auto header = read<PERF_OBJECT_TYPE>(position);
    if (header.HeaderLength < sizeof(PERF_OBJECT_TYPE)) {
      fail("%s: HeaderLength %lu shorter than the %lu-byte PERF_OBJECT_TYPE", label.c_str(), ul(header.HeaderLength),
           ul(sizeof(PERF_OBJECT_TYPE)));
    }
    if (header.DefinitionLength < header.HeaderLength) {
      fail("%s: DefinitionLength %lu shorter than HeaderLength %lu", label.c_str(), ul(header.DefinitionLength),
           ul(header.HeaderLength));
    }
    if (header.DefinitionLength > header.TotalByteLength) {
      fail("%s: DefinitionLength %lu past TotalByteLength %lu", label.c_str(), ul(header.DefinitionLength),
           ul(header.TotalByteLength));
    }
    uint64_t objectEnd = position + header.TotalByteLength;
    if (objectEnd > end_) {
      fail("%s: TotalByteLength %lu at offset %lu runs past the data block's TotalByteLength %lu", label.c_str(),
           ul(header.TotalByteLength), ul(position), ul(end_));
    }
    if (header.NumInstances < PERF_NO_INSTANCES) {
      fail("%s: NumInstances %ld is neither a count nor PERF_NO_INSTANCES", label.c_str(),
           static_cast<long>(header.NumInstances));
    }

    object.offset = static_cast<DWORD>(position);
    object.totalByteLength = header.TotalByteLength;
    object.definitionLength = header.DefinitionLength;
    object.headerLength = header.HeaderLength;
    object.nameIndex = header.ObjectNameTitleIndex;
    object.helpIndex = header.ObjectHelpTitleIndex;
    object.detailLevel = header.DetailLevel;
    object.numCounters = header.NumCounters;
    object.defaultCounter = header.DefaultCounter;
    object.numInstances = header.NumInstances;
    object.codePage = header.CodePage;
    object.perfTime = header.PerfTime.QuadPart;
    object.perfFreq = header.PerfFreq.QuadPart;

    uint64_t definitionsEnd = position + header.DefinitionLength;
    uint64_t at = position + header.HeaderLength;
    for (DWORD counter = 1; counter <= header.NumCounters; ++counter) {
      object.counters.emplace_back();
      at += readCounterDefinition(partLabel(label, "counter", counter), at, definitionsEnd, object.counters.back());
    }
    if (at != definitionsEnd) {
      fail("%s: its %lu counter definitions end at %lu from its start but DefinitionLength is %lu", label.c_str(),
           ul(header.NumCounters), ul(at - position), ul(header.DefinitionLength));
    }

    if (!object.hasInstances()) {
      at += readCounterBlock(counterBlockLabel(label), at, objectEnd, object.counters, object.counterBlock);
    }
    for (LONG instance = 1; instance <= header.NumInstances; ++instance) {
      object.instances.emplace_back();
      at += readInstance(partLabel(label, "instance", static_cast<DWORD>(instance)), at, objectEnd, object.counters,
                         object.instances.back());
    }
    if (at != objectEnd) {
      fail("%s: its data ends at %lu from its start but TotalByteLength is %lu", label.c_str(), ul(at - position),
           ul(header.TotalByteLength));
    }
    return header.TotalByteLength;
  }

  DWORD readCounterDefinition(const Label &label, uint64_t at, uint64_t definitionsEnd, CounterDefinition &definition) {
    checkRoom(label, "PERF_COUNTER_DEFINITION", at, sizeof(PERF_COUNTER_DEFINITION), definitionsEnd,
              "the object's DefinitionLength");
    auto fields = read<PERF_COUNTER_DEFINITION>(at);
    if (fields.ByteLength < sizeof(PERF_COUNTER_DEFINITION)) {
      fail("%s: ByteLength %lu shorter than the %lu-byte PERF_COUNTER_DEFINITION", label.c_str(), ul(fields.ByteLength),
           ul(sizeof(PERF_COUNTER_DEFINITION)));
    }
    if (at + fields.ByteLength > definitionsEnd) {
      fail("%s: ByteLength %lu at offset %lu runs past the object's DefinitionLength", label.c_str(),
           ul(fields.ByteLength), ul(at));
    }
    DWORD typeSize = counterDataSize(fields.CounterType, fields.CounterSize);
    if (typeSize != fields.CounterSize) {
      fail("%s: CounterSize %lu but its type 0x%08lX holds %lu bytes", label.c_str(), ul(fields.CounterSize),
           ul(fields.CounterType), ul(typeSize));
    }
    if (fields.CounterOffset < sizeof(PERF_COUNTER_BLOCK)) {
      fail("%s: CounterOffset %lu overlaps the counter block's own ByteLength", label.c_str(),
           ul(fields.CounterOffset));
    }
    // A counter sits on a multiple of its own size, as readers that load it
    // with one instruction expect.
    if (fields.CounterSize != 0 && fields.CounterOffset % fields.CounterSize != 0) {
      fail("%s: CounterOffset %lu is not a multiple of its CounterSize %lu", label.c_str(), ul(fields.CounterOffset),
           ul(fields.CounterSize));
    }
    definition.offset = static_cast<DWORD>(at);
    definition.byteLength = fields.ByteLength;
    definition.nameIndex = fields.CounterNameTitleIndex;
    definition.helpIndex = fields.CounterHelpTitleIndex;
    definition.defaultScale = fields.DefaultScale;
    definition.detailLevel = fields.DetailLevel;
    definition.type = fields.CounterType;
    definition.size = fields.CounterSize;
    definition.counterOffset = fields.CounterOffset;
    return fields.ByteLength;
  }

  DWORD readInstance(const Label &label, uint64_t at, uint64_t objectEnd,
                     const std::vector<CounterDefinition> &counters, Instance &instance) {
    checkAligned(label, "PERF_INSTANCE_DEFINITION", at);
    checkRoom(label, "PERF_INSTANCE_DEFINITION", at, sizeof(PERF_INSTANCE_DEFINITION), objectEnd,
              "the object's TotalByteLength");
    auto fields = read<PERF_INSTANCE_DEFINITION>(at);
    if (fields.ByteLength < sizeof(PERF_INSTANCE_DEFINITION)) {
      fail("%s: ByteLength %lu shorter than the %lu-byte PERF_INSTANCE_DEFINITION", label.c_str(),
           ul(fields.ByteLength), ul(sizeof(PERF_INSTANCE_DEFINITION)));
    }
    if (at + fields.ByteLength > objectEnd) {
      fail("%s: ByteLength %lu at offset %lu runs past the object's TotalByteLength", label.c_str(),
           ul(fields.ByteLength), ul(at));
    }
    instance.offset = static_cast<DWORD>(at);
    instance.byteLength = fields.ByteLength;
    instance.parentObjectIndex = fields.ParentObjectTitleIndex;
    instance.parentObjectInstance = fields.ParentObjectInstance;
    instance.uniqueId = fields.UniqueID;
    instance.nameOffset = fields.NameOffset;
    instance.nameLength = fields.NameLength;
    if (fields.NameLength != 0) readInstanceName(label, at, fields, instance.name);

    return fields.ByteLength +
           readCounterBlock(counterBlockLabel(label), at + fields.ByteLength, objectEnd, counters, instance.counters);
  }

  void readInstanceName(const Label &label, uint64_t at, const PERF_INSTANCE_DEFINITION &fields, Text &name) {
    if (fields.NameOffset < sizeof(PERF_INSTANCE_DEFINITION)) {
      fail("%s: NameOffset %lu inside the %lu-byte PERF_INSTANCE_DEFINITION", label.c_str(), ul(fields.NameOffset),
           ul(sizeof(PERF_INSTANCE_DEFINITION)));
    }
    if (uint64_t{fields.NameOffset} + fields.NameLength > fields.ByteLength) {
      fail("%s: name (NameOffset %lu, NameLength %lu) past ByteLength %lu", label.c_str(), ul(fields.NameOffset),
           ul(fields.NameLength), ul(fields.ByteLength));
    }
    if (fields.NameOffset % sizeof(WCHAR) != 0 || fields.NameLength % sizeof(WCHAR) != 0) {
      fail("%s: name (NameOffset %lu, NameLength %lu) is not whole UTF-16 characters", label.c_str(),
           ul(fields.NameOffset), ul(fields.NameLength));
    }
    uint64_t first = at + fields.NameOffset;
    uint64_t characters = fields.NameLength / sizeof(WCHAR);
    if (read<WCHAR>(first + (characters - 1) * sizeof(WCHAR)) != 0) {
      fail("%s: name has no terminator at the end of its NameLength %lu", label.c_str(), ul(fields.NameLength));
    }
    name.reserve(characters - 1);
    for (uint64_t index = 0; index + 1 < characters; ++index) {
      auto unit = read<WCHAR>(first + index * sizeof(WCHAR));
      if (unit == 0) {
        fail("%s: name ends at character %lu, before its NameLength %lu", label.c_str(), ul(index),
             ul(fields.NameLength));
      }
      name.push_back(unit);
    }
  }

  // Reads the counter block at `at` and returns its ByteLength; every counter
  // of the object must lie inside it.
  DWORD readCounterBlock(const Label &label, uint64_t at, uint64_t objectEnd,
                         const std::vector<CounterDefinition> &counters, CounterBlock &block) {
    checkAligned(label, "PERF_COUNTER_BLOCK", at);
    checkRoom(label, "PERF_COUNTER_BLOCK", at, sizeof(PERF_COUNTER_BLOCK), objectEnd, "the object's TotalByteLength");
    auto length = read<PERF_COUNTER_BLOCK>(at).ByteLength;
    if (length < sizeof(PERF_COUNTER_BLOCK)) {
      fail("%s: ByteLength %lu shorter than the PERF_COUNTER_BLOCK itself", label.c_str(), ul(length));
    }
    if (at + length > objectEnd) {
      fail("%s: ByteLength %lu at offset %lu runs past the object's TotalByteLength", label.c_str(), ul(length),
           ul(at));
    }
    if (length % alignment != 0) fail("%s: ByteLength %lu is not a multiple of 8", label.c_str(), ul(length));
    for (size_t index = 0; index < counters.size(); ++index) {
      const CounterDefinition &counter = counters[index];
      if (uint64_t{counter.counterOffset} + counter.size > length) {
        fail("%s: counter %lu (CounterOffset %lu, %lu bytes) past ByteLength %lu", label.c_str(), ul(index + 1),
             ul(counter.counterOffset), ul(counter.size), ul(length));
      }
    }
    block.offset = static_cast<DWORD>(at);
    block.bytes.assign(bytes_ + at, bytes_ + at + length);
    return length;
  }

  static void checkAligned(const Label &label, const char *structure, uint64_t at) {
    if (at % alignment != 0)
      fail("%s: %s at offset %lu is not on an 8-byte boundary", label.c_str(), structure, ul(at));
  }

  static void checkRoom(const Label &label, const char *structure, uint64_t at, uint64_t needed, uint64_t limit,
                        const char *limitName) {
    if (at + needed > limit) {
      fail("%s: %s at offset %lu needs %lu bytes, only %lu left before %s", label.c_str(), structure, ul(at),
           ul(needed), ul(limit > at ? limit - at : 0), limitName);
    }
  }

  const BYTE *bytes_;
  size_t size_;
  uint64_t end_ = 0;
};

}  // namespace

const Object *DataBlock::findObject(DWORD nameIndex) const {
  for (const Object &object : objects) {
    if (object.nameIndex == nameIndex) return &object;
  }
  return nullptr;
}

bool parseDataBlock(const BYTE *bytes, size_t size, DataBlock &block, std::string &problem) {
  block = DataBlock{};
  try {
    Walker(bytes, size).walk(block);
    problem.clear();
    return true;
  } catch (const LayoutError &error) {
    problem = error.text;
    block = DataBlock{};
    return false;
  }
}

DWORD counterDataSize(DWORD type, DWORD definedSize) {
  switch (type & PERF_SIZE_VARIABLE_LEN) {
    case PERF_SIZE_DWORD: return sizeof(DWORD);
    case PERF_SIZE_LARGE: return sizeof(ULONGLONG);
    case PERF_SIZE_ZERO: return 0;
    default: return definedSize;
  }
}

}  // namespace perfdata
