// The gzip form of a page, for clients that accept it (zlib).
#pragma once

#include <string>

namespace exporter {

// `text` as a gzip stream; false, leaving `packed` empty, when zlib fails.
bool gzip(const std::string &text, std::string &packed);

}  // namespace exporter
