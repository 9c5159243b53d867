// How perfquery shows an inspected blob: a table for people, one record a
// line, indented under the record it belongs to; or JSON, the same tree with
// each record's fields and children. Both end with what became of the blob:
// read whole, or the record that cannot be read and why.
#pragma once

#include <string>

#include "BlobInspector.h"
#include "SampleFormat.h"

namespace perfquery {

// TABLE or JSON; every other format is shown as TABLE.
std::string blobReport(Format format, const BlobInspection &inspection);

}  // namespace perfquery
