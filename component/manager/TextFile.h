// An 8-bit text file written the way the C runtime's text mode writes one in
// its default locale: each UTF-16 unit up to U+00FF becomes the byte of the
// same value (any other becomes '?'), every line feed becomes CR LF, and
// there is no byte-order mark. The text is kept until close(), and what was
// written so far also reaches the file when the writer goes without it, as
// after a failure part-way.
#pragma once
#include <windows.h>

#include <string>

namespace rv {

class TextFile {
 public:
  // Creates the file, or empties an existing one. False, with the thread's
  // last error set, when it cannot be opened for writing.
  bool open(const OLECHAR *path) {
    file_ = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  TextFile &operator<<(const std::basic_string<OLECHAR> &text) {
    for (OLECHAR unit : text) {
      if (unit == '\n') bytes_.push_back('\r');
      bytes_.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    return *this;
  }

  // Writes the text and closes the file; false, with the last error set,
  // when the text could not be written.
  bool close() {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    DWORD written = 0;
    const bool complete =
        bytes_.empty() || (WriteFile(file_, bytes_.data(), static_cast<DWORD>(bytes_.size()), &written, nullptr) &&
                           written == bytes_.size());
    const DWORD error = GetLastError();
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    bytes_.clear();
    if (!complete) SetLastError(error);
    return complete;
  }

  TextFile() = default;
  TextFile(const TextFile &) = delete;
  TextFile &operator=(const TextFile &) = delete;
  ~TextFile() { close(); }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string bytes_;
};

}  // namespace rv
