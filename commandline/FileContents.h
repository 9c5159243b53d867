// A whole file read into memory, for the programs' small input files (a
// blob, a list of counter paths, a web configuration), by a path in UTF-16
// so that any name the system takes opens.
#pragma once
#include <windows.h>

#include <string>

namespace commandline {

struct FileContents {
  DWORD error = ERROR_SUCCESS;  // why it could not be opened or read
  bool opened = false;          // whether `error` came while reading
  bool tooLarge = false;        // it holds more than the limit: nothing read
  std::string bytes;
};

// The file's bytes, unless it holds more than `limit` of them.
FileContents readFileContents(const std::basic_string<WCHAR> &path, size_t limit);

}  // namespace commandline
