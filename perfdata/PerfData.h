// The performance data block as a reader sees it: every structure of the
// block with all of its fields, read by a strict walk that trusts no length,
// offset or count until it has checked it against the bytes.
//
// The walk is also the yardstick for a collector's layout, so it refuses what
// Windows documents as wrong even where a lenient reader could go on: a
// length that does not add up, a structure off its 8-byte boundary, a counter
// outside its counter block, an instance name without its terminator.
#pragma once

#include <windows.h>
#include <winperf.h>

#include <cstddef>
#include <string>
#include <vector>

#include "rvText.h"

namespace perfdata {

using rv::Text;

// A PERF_COUNTER_BLOCK with the raw counter data after it; `bytes` starts with
// the block's own ByteLength, so a CounterOffset indexes it directly.
struct CounterBlock {
  DWORD offset = 0;  // from the start of the data block
  std::vector<BYTE> bytes;
};

// A PERF_COUNTER_DEFINITION.
struct CounterDefinition {
  DWORD offset = 0;  // from the start of the data block
  DWORD byteLength = 0;
  DWORD nameIndex = 0;
  DWORD helpIndex = 0;
  LONG defaultScale = 0;
  DWORD detailLevel = 0;
  DWORD type = 0;
  DWORD size = 0;           // CounterSize
  DWORD counterOffset = 0;  // inside the counter block
};

// A PERF_INSTANCE_DEFINITION, its name and its counter block.
struct Instance {
  DWORD offset = 0;  // from the start of the data block
  DWORD byteLength = 0;
  DWORD parentObjectIndex = 0;     // ParentObjectTitleIndex
  DWORD parentObjectInstance = 0;  // ParentObjectInstance
  LONG uniqueId = PERF_NO_UNIQUE_ID;
  DWORD nameOffset = 0;  // inside the instance definition
  DWORD nameLength = 0;  // in bytes, terminator included; 0 for no name
  Text name;             // without its terminator
  CounterBlock counters;
};

// A PERF_OBJECT_TYPE with its counter definitions and data.
struct Object {
  DWORD offset = 0;  // from the start of the data block
  DWORD totalByteLength = 0;
  DWORD definitionLength = 0;
  DWORD headerLength = 0;
  DWORD nameIndex = 0;
  DWORD helpIndex = 0;
  DWORD detailLevel = 0;
  DWORD numCounters = 0;
  LONG defaultCounter = 0;
  LONG numInstances = PERF_NO_INSTANCES;
  DWORD codePage = 0;
  LONGLONG perfTime = 0;
  LONGLONG perfFreq = 0;
  std::vector<CounterDefinition> counters;
  std::vector<Instance> instances;  // empty for an object without instances
  CounterBlock counterBlock;        // the one block of an object without instances

  bool hasInstances() const { return numInstances != PERF_NO_INSTANCES; }
};

// The PERF_DATA_BLOCK and every object in it.
struct DataBlock {
  DWORD littleEndian = 0;
  DWORD version = 0;
  DWORD revision = 0;
  DWORD totalByteLength = 0;
  DWORD headerLength = 0;
  DWORD numObjectTypes = 0;
  LONG defaultObject = 0;
  SYSTEMTIME systemTime{};
  LONGLONG perfTime = 0;
  LONGLONG perfFreq = 0;
  LONGLONG perfTime100nSec = 0;
  DWORD systemNameLength = 0;  // in bytes, as the header gives it
  DWORD systemNameOffset = 0;
  Text systemName;  // up to its terminator, if any
  std::vector<Object> objects;

  // The object with this name index, or null.
  const Object *findObject(DWORD nameIndex) const;
};

// Reads `size` bytes as a data block. On success fills `block` and returns
// true; otherwise returns false and `problem` names the structure and the
// field that is wrong, with the numbers that disagree, for example
// "object 2: DefinitionLength 120 past TotalByteLength 100". Objects,
// counters and instances are counted from 1 in these texts; offsets in them
// are from the start of the data block.
//
// Nothing is read outside [bytes, bytes + size), and nothing is allocated
// that the bytes cannot fill: a count is believed only as far as its
// structures are actually there.
bool parseDataBlock(const BYTE *bytes, size_t size, DataBlock &block, std::string &problem);

// How many bytes of data a counter of this type has, from the size bits of
// its type: 4, 8 or 0; for variable-length counters the definition's own
// CounterSize.
DWORD counterDataSize(DWORD type, DWORD definedSize);

}  // namespace perfdata
