#include "QueryOutput.h"

#include <cstdio>

#include "SystemMessage.h"
#include "Utf8Text.h"

namespace perfquery {

QueryOutput::~QueryOutput() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool QueryOutput::open(const std::basic_string<WCHAR> &path, bool overwrite, std::string &problem) {
  if (path.empty()) return true;
  path_ = path;
  // CREATE_NEW makes "does it exist" and "create it" one step: a file that
  // appears in between is not overwritten either.
  file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, overwrite ? CREATE_ALWAYS : CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ != INVALID_HANDLE_VALUE) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    problem = "the file \"" + commandline::toUtf8(path) + "\" exists; give -y to replace it";
  } else {
    problem = "cannot create \"" + commandline::toUtf8(path) + "\": " + commandline::systemReason(error);
  }
  return false;
}

bool QueryOutput::write(const std::string &text, std::string &problem) {
  if (file_ == INVALID_HANDLE_VALUE) {
    fputs(text.c_str(), stdout);
    return true;
  }
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(text.size() - done > 1u << 20 ? 1u << 20 : text.size() - done);
    if (!WriteFile(file_, text.data() + done, chunk, &written, nullptr) || written == 0) {
      problem = "cannot write to \"" + commandline::toUtf8(path_) + "\": " + commandline::systemReason(GetLastError());
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace perfquery
