// What a blob file holds, as the registered component reads it: every record
// with its offset, class and fields, up to the first record the component
// cannot read, and why.
//
// Nothing here decodes a byte. Each record is read by a fresh node of its
// class, through the node's own MyBlob put, with the blob's cursor placed at
// the record; the cursor the component leaves in the blob says where the
// record ended (or where the failing read stood), and the node's properties
// say what it read. A record's own fields end where its first child begins:
// the node's blob size less its children's. So the inspector shows what a
// host would get from the same bytes, and cannot disagree with the component.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace perfquery {

// The four classes whose blob a host takes: a blob does not record which.
enum class BlobClass { Manager, Object, Instance, Counter };

// "manager", "object", "instance", "counter".
const char *blobClassName(BlobClass blobClass);
bool parseBlobClass(const std::string &text, BlobClass &blobClass);

struct BlobField {
  // Text, a number, true or false, a local time, no value (VT_EMPTY), or
  // anything else as text.
  enum class Kind { Text, Number, Boolean, Time, Empty, Other };
  std::string name;
  Kind kind = Kind::Other;
  std::string text;
  // A variant's type (VT_I4, VT_ARRAY|VT_UI1, ...); empty for typed fields.
  std::string type;
};

// Why the component could not read a record.
struct BlobProblem {
  HRESULT result = S_OK;
  std::string description;
  // Where the component's reading stopped: the cursor it left in the blob.
  LONG readAt = 0;
};

struct BlobRecord {
  std::string record;  // "PerfMgr", "PerfCounters", ...
  LONG offset = 0;
  // Just after the record and everything below it; -1 when the record or
  // one below it cannot be read.
  LONG end = 0;
  std::vector<BlobField> fields;
  std::vector<BlobRecord> children;
  // Set on the first record that cannot be read, which is then the last
  // record of the tree.
  std::optional<BlobProblem> problem;
};

struct BlobInspection {
  LONG length = 0;
  // The header: the token, and the cursor a writer or a reading left there.
  // MyBlob put would start reading the blob as it stands at putStart; the
  // records are read from the first byte after the header.
  LONG token = 0, cursor = 0, putStart = 8;
  BlobClass blobClass = BlobClass::Manager;
  bool classGuessed = false;
  BlobRecord root;

  // The record that cannot be read; null for a blob read whole.
  const BlobRecord *damaged() const;
};

// The bytes of a blob file: the byte array as MyBlob gives it, or its string
// form written as UTF-16 text, which begins with the byte order mark FF FE
// (dropped here). False, with `problem` saying why, when the file cannot be
// read or is larger than a blob can be.
bool readBlobFile(const std::basic_string<WCHAR> &path, std::vector<BYTE> &bytes, std::string &problem);

// Reads `bytes` through the registered component as a blob of `blobClass`;
// without one, as the first of manager, object, instance and counter that
// reads the blob to exactly its end, failing that the first that reads it
// without error, failing that the one whose reading gets furthest. The
// calling thread's apartment must be initialised. False, with `problem`
// saying why, only when the component cannot be used; a damaged blob is an
// inspection whose damaged() says where.
bool inspectBlob(const std::vector<BYTE> &bytes, std::optional<BlobClass> blobClass, BlobInspection &inspection,
                 std::string &problem);

}  // namespace perfquery
