// What the system tools share besides their command lines (ToolOptions):
// registry keys closed on every path, the performance name tables that
// lodctr and unlodctr edit, and how those two report their work.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tools {

using Wide = std::basic_string<WCHAR>;

// An open registry key, closed on every path.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { reset(); }
  RegKey(const RegKey &) = delete;
  RegKey &operator=(const RegKey &) = delete;
  HKEY get() const { return key_; }
  HKEY *out() {
    reset();
    return &key_;
  }
  void reset() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

LONG openKey(HKEY root, const Wide &path, REGSAM access, RegKey &key);
LONG createKey(HKEY root, const Wide &path, RegKey &key);
// ERROR_FILE_NOT_FOUND when the value is missing, ERROR_INVALID_DATA when it
// is not a REG_DWORD.
LONG readDword(HKEY key, const Wide &name, DWORD &value);
LONG writeDword(HKEY key, const Wide &name, DWORD value);

// Where Windows keeps the names and help texts of performance counters, and
// where a service keeps the range of indexes it was given.
inline constexpr const char *PerflibPath = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
inline constexpr const char *ServicesPath = "SYSTEM\\CurrentControlSet\\Services\\";
// The last indexes of the system's own counters and help texts, for a
// registry that has no Perflib values yet.
inline constexpr DWORD BaseLastCounter = 1846;
inline constexpr DWORD BaseLastHelp = 1847;

// One index and its text in a language's Counter or Help value: a
// REG_MULTI_SZ of index, text, index, text, ...
struct NameEntry {
  DWORD index;
  Wide text;
};
using NameTable = std::vector<NameEntry>;

// A missing value reads as an empty table; a value that is not a well-formed
// list of pairs gives ERROR_INVALID_DATA.
LONG readNameTable(HKEY language, const Wide &valueName, NameTable &table);
LONG writeNameTable(HKEY language, const Wide &valueName, const NameTable &table);

// A failure of a tool: its message and the Win32 code the exit status comes
// from.
struct Failure {
  LONG code;
  std::string message;
};

// Throws a Failure for a status other than ERROR_SUCCESS: `what`, then the
// system's text for the status.
void check(LONG status, const std::string &what);

// Opens a service's key under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services
// for every access; a missing key or any other failure is thrown.
void openServiceKey(const std::string &driver, RegKey &service);

// Runs a tool's work and reports it as lodctr and unlodctr do: "Info: " and
// what `work` returns on standard output, exit status 0; for a Failure,
// "Error: " and its message on standard error, and its code as the exit
// status.
int reportWork(const std::function<std::string()> &work);

}  // namespace tools
