// Where perfquery writes: standard output, or the file of -o. A file that
// exists is replaced only when asked to (-y); without it the file is kept
// and the program fails with that reason, so that no earlier log is lost.
#pragma once

#include <windows.h>

#include <string>

namespace perfquery {

class QueryOutput {
 public:
  QueryOutput() = default;
  QueryOutput(const QueryOutput &) = delete;
  QueryOutput &operator=(const QueryOutput &) = delete;
  ~QueryOutput();

  // Sends what follows to `path` (an empty path: standard output). False,
  // with `problem` saying why, when the file exists and `overwrite` is false,
  // or cannot be created.
  bool open(const std::basic_string<WCHAR> &path, bool overwrite, std::string &problem);

  // Writes `text`: to a file at once, so that its reader sees every sample as
  // it is taken; to standard output through its buffer, which the caller
  // flushes. False, with `problem` saying why, when it could not be written;
  // standard output's failures are told at the program's end.
  bool write(const std::string &text, std::string &problem);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::basic_string<WCHAR> path_;
};

}  // namespace perfquery
