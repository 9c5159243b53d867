// The component's error: one value per failure, thrown as an exception and
// turned into a result code plus error information at the automation
// boundary. Raise forms capture the site (source unit, operation, line).
#pragma once
#include <windows.h>

#include <string>

#include "ComError.h"

namespace rv {

// Every source unit of the component logs under this module name.
inline constexpr const char *ModuleName = "default";
// The component name that log records and frames carry.
inline constexpr const char *ComponentName = "rvZedaZuvivurAzodav";

// Where an operation runs: its source unit (the path as compiled in), the
// operation's name and a line.
struct Site {
  const char *unit;
  const char *operation;
  int line;
};

// Each source file names its unit once (a class of the object model names it
// as its static member rvSourceUnit instead), each operation its name once; a
// raise or a frame then takes its site from RV_HERE. Templates name the unit
// explicitly with RV_SITE.
#define RV_SOURCE_UNIT(path)                 \
  namespace {                                \
  constexpr const char *rvSourceUnit = path; \
  }
#define RV_OPERATION(name) static constexpr const char *rvOperation = name
#define RV_SITE(unit) (::rv::Site{unit, rvOperation, __LINE__})
#define RV_HERE RV_SITE(rvSourceUnit)

class Err final {
 public:
  HRESULT hr = 0;
  std::string source;
  std::string description;
  std::string module;
  std::string file;
  std::string procedure;
  LONG line = -1;
  LONG level = 0;

  Err() = default;
  Err(HRESULT hr, std::string source, std::string description, std::string module, const std::string &filePath,
      std::string procedure, LONG line, LONG level);

  // Logs the error, then discards whatever error information the thread holds.
  void logAndClear();
  // Logs the error and sets it as the calling thread's error information.
  // Any failure on the way leaves hr at E_FAIL.
  void report();
  // Sets the error as the calling thread's error information (GUID_NULL,
  // source, description) without logging it; false when that failed.
  bool setErrorInformation() const;
  // Replaces `text` with the XML error information of this error.
  void toXml(std::string &text) const;

  void assign(HRESULT hr, std::string source, std::string description, std::string module, const std::string &filePath,
              std::string procedure, LONG line, LONG level);
  void assignFrom(const ComError &error, std::string module, const std::string &filePath, std::string procedure,
                  LONG line, LONG level);

  // Writes the error log record and the trace record; never fails.
  void log(bool setErrorInfo, bool raised);

  void setDescription(std::string text);
  void setInternalCondition();
  void setNullPointer();
  void setResultText();
  void setFailedResultText(const std::string &text);
  void setLastSystemError();
  void setSystemError(DWORD code);

  // Builds an error of level 1 with an empty source at `site`.
  static Err at(HRESULT hr, const Site &site);
};

// The file name of a source unit path: the text after its last backslash.
std::string fileOfUnit(const std::string &path);

[[noreturn]] void raiseMessage(const Site &site, const std::string &text);
[[noreturn]] void raiseInternalCondition(const Site &site);
[[noreturn]] void raiseNullPointer(const Site &site);
[[noreturn]] void raiseResult(const Site &site, HRESULT hr);
[[noreturn]] void raiseFailedResult(const Site &site, HRESULT hr, const std::string &text);
[[noreturn]] void raiseWithErrorInfo(const Site &site, HRESULT hr);
[[noreturn]] void raiseLastSystemError(const Site &site);
[[noreturn]] void raiseSystemError(const Site &site, DWORD code);

// Raises the thread's error information for a failed result from another
// automation object; returns the result otherwise.
inline HRESULT raiseIfFailed(const Site &site, HRESULT hr) {
  if (FAILED(hr)) raiseWithErrorInfo(site, hr);
  return hr;
}

// Logs a formatted message at `level`; nothing is thrown.
void logMessage(const Site &site, LONG level, const char *pattern, ...) __attribute__((format(printf, 3, 4)));

}  // namespace rv
