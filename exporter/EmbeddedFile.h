// Files built into the program (cmake/EmbedFiles.cmake writes their table),
// so that the pages it serves need nothing beside it.
#pragma once

#include <cstddef>

namespace exporter {

struct EmbeddedFile {
  const char *name;  // without its folder: "graph.js"
  const unsigned char *bytes;
  size_t size;
};

// The graph page's files (exporter/graph).
extern const EmbeddedFile graphFiles[];
extern const size_t graphFilesCount;

}  // namespace exporter
