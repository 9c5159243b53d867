#include "Gzip.h"

#include <zlib.h>

#include <climits>

namespace exporter {

bool gzip(const std::string &text, std::string &packed) {
  packed.clear();
  if (text.size() > UINT_MAX / 2) return false;
  z_stream stream{};
  // 15 window bits plus 16: a gzip header and trailer around the deflate data.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  packed.resize(deflateBound(&stream, static_cast<uLong>(text.size())) + 32);
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef *>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  int result = deflate(&stream, Z_FINISH);
  size_t written = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    packed.clear();
    return false;
  }
  packed.resize(written);
  return true;
}

}  // namespace exporter
