// The published tree as the collector needs it: objects with their counter
// definitions and, per instance, one value per counter. It is read straight
// from the manager's blob, without the component: a collector lives in
// whatever process reads performance data and must not create COM objects
// there.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "rvText.h"

namespace rv::collector {

struct CounterDefinition {
  LONG id = 0;
  LONG defaultScale = 0;
  LONG counterType = 0;
};

// Where a value came from in the blob: the offset of its payload and its
// type, for a scalar of fixed width. Anything else (no counter, a text, an
// array) has no source: its value follows from the blob's other bytes.
struct ValueSource {
  size_t offset = 0;
  VARTYPE type = VT_EMPTY;
  size_t width = 0;  // 0 for no source
};

struct InstanceValues {
  Text name;
  // One value per counter definition of the object, in the same order.
  std::vector<LONGLONG> values;
  std::vector<ValueSource> sources;
};

struct ObjectSnapshot {
  LONG id = 0;
  bool hasInstances = false;
  std::vector<CounterDefinition> counters;
  // The counter template's own values: what an object without instances shows.
  std::vector<LONGLONG> values;
  std::vector<ValueSource> sources;
  std::vector<InstanceValues> instances;
};

// Bytes of the blob that a host rewrites without changing the tree's shape:
// the payload of every scalar value and every instance's time stamp.
struct BlobRange {
  size_t offset = 0;
  size_t length = 0;
};

struct TreeSnapshot {
  Text device;
  std::vector<ObjectSnapshot> objects;
  // In blob order; a blob whose other bytes are those of this one has the
  // same snapshot but for the values read from these ranges.
  std::vector<BlobRange> changing;
};

// Reads a manager's blob (header included, as MyBlob gives it). Every read is
// bounds-checked; on failure `problem` tells which field did not fit and the
// snapshot is left empty.
//
// How a counter's value becomes the integer a reader sees: integers as they
// are, booleans as 1 or 0, floating point rounded to the nearest integer (halves away from zero)
// (saturated; NaN is 0), currency in whole units, empty values, texts and
// error codes as 0, a byte array as its first eight bytes (little-endian) and
// any other array as its first element.
bool readTreeSnapshot(const BYTE *blob, size_t size, TreeSnapshot &out, std::string &problem);

// The value of a scalar of fixed width from its payload, by the rules above.
LONGLONG scalarValue(VARTYPE type, const BYTE *payload);

}  // namespace rv::collector
