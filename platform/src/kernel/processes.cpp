// Started programs as kernel objects: CreateProcess hands out a handle to
// the process and one to its main thread; WaitForSingleObject and
// GetExitCodeProcess read the process's end.
#include <windows.h>

#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <string>

#include "codepage.h"
#include "handles.h"
#include "process_launch.h"

namespace platform::kernel {

namespace {

// A started program, followed to its end. The program is reaped by its own
// watcher, whether or not this object still lives.
class Process : public KernelObject {
 public:
  explicit Process(std::shared_future<DWORD> exitCode) : exitCode_(std::move(exitCode)) {}

  bool endsWithin(DWORD milliseconds) const {
    if (milliseconds == INFINITE) {
      exitCode_.wait();
      return true;
    }
    return exitCode_.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
  }
  DWORD exitCode() const { return endsWithin(0) ? exitCode_.get() : STILL_ACTIVE; }

 private:
  std::shared_future<DWORD> exitCode_;
};

// The main thread of a started program: a handle to close, nothing more.
class MainThread : public KernelObject {};

using WideText = std::optional<std::basic_string<WCHAR>>;

WideText wideOf(LPCSTR text) {
  if (text == nullptr) return std::nullopt;
  return AnsiToWide(text, std::strlen(text));
}

const WCHAR *textOf(const WideText &text) { return text ? text->c_str() : nullptr; }

BOOL failWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL createProcess(const WCHAR *application, const WCHAR *commandLine, LPVOID environment, const WCHAR *folder,
                   const void *startupInfo, LPPROCESS_INFORMATION information) {
  if (environment != nullptr || startupInfo == nullptr || information == nullptr)
    return failWith(ERROR_INVALID_PARAMETER);
  // The handles are taken before the program starts, so that no program runs
  // that its caller cannot follow.
  std::promise<DWORD> exitCode;
  HANDLE process = insertHandle(std::make_shared<Process>(exitCode.get_future().share()));
  if (process == nullptr) return FALSE;
  HANDLE thread = insertHandle(std::make_shared<MainThread>());
  if (thread == nullptr) {
    CloseHandle(process);
    return failWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  pid_t id = 0;
  if (DWORD error = startProgram(application, commandLine, folder, std::move(exitCode), &id)) {
    CloseHandle(thread);
    CloseHandle(process);
    return failWith(error);
  }
  information->hProcess = process;
  information->hThread = thread;
  information->dwProcessId = static_cast<DWORD>(id);
  information->dwThreadId = static_cast<DWORD>(id);
  return TRUE;
}

}  // namespace

}  // namespace platform::kernel

using namespace platform::kernel;

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  const WideText application = wideOf(lpApplicationName), commandLine = wideOf(lpCommandLine),
                 folder = wideOf(lpCurrentDirectory);
  return createProcess(textOf(application), textOf(commandLine), lpEnvironment, textOf(folder), lpStartupInfo,
                       lpProcessInformation);
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  return createProcess(lpApplicationName, lpCommandLine, lpEnvironment, lpCurrentDirectory, lpStartupInfo,
                       lpProcessInformation);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  const std::shared_ptr<Process> process = objectOf<Process>(hHandle);
  if (!process) return WAIT_FAILED;
  return process->endsWithin(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  const std::shared_ptr<Process> process = objectOf<Process>(hProcess);
  if (!process) return FALSE;
  // As Windows, a null place for the code is no error.
  if (lpExitCode != nullptr) *lpExitCode = process->exitCode();
  return TRUE;
}
