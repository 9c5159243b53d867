#include "FileContents.h"

namespace commandline {

FileContents readFileContents(const std::basic_string<WCHAR> &path, size_t limit) {
  FileContents contents;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    contents.error = GetLastError();
    return contents;
  }
  contents.opened = true;
  // A file that grows while it is read is cut at the limit all the same.
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && static_cast<ULONGLONG>(size.QuadPart) > limit) {
    CloseHandle(file);
    contents.tooLarge = true;
    return contents;
  }
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      contents.error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (contents.bytes.size() + got > limit) {
      contents.bytes.clear();
      contents.tooLarge = true;
      break;
    }
    contents.bytes.append(buffer, got);
  }
  CloseHandle(file);
  return contents;
}

}  // namespace commandline
