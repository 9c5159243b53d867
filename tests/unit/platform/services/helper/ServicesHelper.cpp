// A program that the kernel service tests start with WinExec and
// CreateProcess. It reports what it saw into a file named on its command
// line, or through its exit code, using the Windows API only, so that it
// behaves alike on both targets:
//   platform_services_helper argv <out> <args...>   writes each argument on a line
//   platform_services_helper open <file> <out>      tries to open <file> for writing, then
//                                                   for reading, both sharing read and write,
//                                                   and writes "write=<error> read=<error>"
//   platform_services_helper exit <code> [<gate>]   exits with <code>; with a gate, once the
//                                                   file <gate> exists (after a minute it
//                                                   gives up and exits with 4)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool writeFile(const char *path, const std::string &text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

DWORD tryOpen(const char *path, DWORD access) {
  HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

bool waitForGate(const char *path) {
  for (int attempt = 0; attempt < 6000; ++attempt, Sleep(10)) {
    HANDLE gate = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (gate != INVALID_HANDLE_VALUE) {
      CloseHandle(gate);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "argv") == 0) {
    std::string lines;
    for (int i = 3; i < argc; ++i) lines += std::string(argv[i]) + "\n";
    return writeFile(argv[2], lines) ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "open") == 0) {
    DWORD write = tryOpen(argv[2], GENERIC_WRITE);
    DWORD read = tryOpen(argv[2], GENERIC_READ);
    return writeFile(argv[3], "write=" + std::to_string(write) + " read=" + std::to_string(read)) ? 0 : 1;
  }
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "exit") == 0) {
    if (argc == 4 && !waitForGate(argv[3])) return 4;
    return std::atoi(argv[2]);
  }
  return 2;
}
