// OutputDebugString: silent unless a listener is attached or the environment
// variable WINPLATFORM_DEBUG_OUTPUT names "stderr" or a file, which then
// receives every text in UTF-8, as written.
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "codepage.h"
#include "file_system.h"
#include "paths.h"
#include "platform/debug_output.h"

extern char **environ;

namespace {

inline constexpr const char *OutputVariable = "WINPLATFORM_DEBUG_OUTPUT";

struct Listener {
  std::shared_mutex lock;  // shared while a text is delivered
  PlatformDebugOutputListener callback = nullptr;
  void *context = nullptr;
  // Whether a callback is set, read without the lock so that output nobody
  // listens to costs no locking.
  std::atomic<bool> set{false};
};

Listener &listener() {
  static Listener *attached = new Listener;  // outlives static destructors that still write
  return *attached;
}

// Set while this thread's listener runs, so that its own output does not
// come back to it.
thread_local bool delivering = false;

void writeAll(int file, const std::string &text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t count = write(file, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<size_t>(count);
  }
}

// The output switch's value as getenv gives it, without a walk of the whole
// environment for every text: each thread remembers where the variable
// stood, or, where it was missing, how the environment ended, and walks it
// again when that no longer holds, as after setenv, putenv or unsetenv.
const char *outputSwitch() {
  struct Seen {
    char **environment = nullptr;
    size_t at = 0;          // of the variable, or of the end
    char *entry = nullptr;  // the variable's, or the last one's
    bool found = false;
  };
  thread_local Seen seen;
  constexpr size_t NameLength = std::char_traits<char>::length(OutputVariable);
  const auto named = [](const char *entry) {
    return std::strncmp(entry, OutputVariable, NameLength) == 0 && entry[NameLength] == '=';
  };
  char **environment = environ;
  if (environment == nullptr) return nullptr;
  if (environment == seen.environment) {
    if (seen.found && environment[seen.at] == seen.entry && named(seen.entry)) return seen.entry + NameLength + 1;
    if (!seen.found && environment[seen.at] == nullptr && (seen.at == 0 || environment[seen.at - 1] == seen.entry))
      return nullptr;
  }
  seen = Seen{environment};
  for (; environment[seen.at] != nullptr; ++seen.at)
    if (named(environment[seen.at])) {
      seen.found = true;
      seen.entry = environment[seen.at];
      return seen.entry + NameLength + 1;
    }
  seen.entry = seen.at == 0 ? nullptr : environment[seen.at - 1];
  return nullptr;
}

// Copies a text to where the output switch names: `target`, its value.
void copyToSwitch(const char *target, const WCHAR *text, size_t length) {
  if (length == 0) return;
  const std::string utf8 = platform::kernel::utf8FromWide(text, length);
  if (std::strcmp(target, "stderr") == 0) {
    writeAll(STDERR_FILENO, utf8);
    return;
  }
  const std::string path = platform::kernel::toPosixPath(target);
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
  if (platform::kernel::inSharedFolder(path)) flags |= O_NOFOLLOW;
  const int file = open(path.c_str(), flags, 0600);
  if (file < 0) return;
  writeAll(file, utf8);
  close(file);
}

// Whether a listener may take this thread's texts: none while it runs.
bool listenerSet() { return !delivering && listener().set.load(std::memory_order_acquire); }

// Where a text written now goes: the file (or stderr) the switch names and
// the listener, found once per text, so that one nobody receives is not
// even measured.
struct Receivers {
  const char *target = outputSwitch();
  bool filed = target != nullptr && *target != 0;
  bool listened = listenerSet();
  bool any() const { return filed || listened; }
};

void output(const Receivers &to, const WCHAR *text, size_t length) {
  if (to.filed) copyToSwitch(to.target, text, length);
  if (!to.listened) return;
  Listener &attached = listener();
  std::shared_lock<std::shared_mutex> guard(attached.lock);
  if (attached.callback == nullptr) return;
  const std::basic_string<WCHAR> terminated(text, length);
  delivering = true;
  attached.callback(attached.context, terminated.c_str());
  delivering = false;
}

}  // namespace

extern "C" void PlatformSetDebugOutputListener(PlatformDebugOutputListener callback, void *context) {
  Listener &attached = listener();
  std::unique_lock<std::shared_mutex> guard(attached.lock);
  attached.callback = callback;
  attached.context = context;
  attached.set.store(callback != nullptr, std::memory_order_release);
}

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  const Receivers to;
  if (lpOutputString == nullptr || !to.any()) return;
  output(to, lpOutputString, static_cast<size_t>(lstrlenW(lpOutputString)));
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  const Receivers to;
  if (lpOutputString == nullptr || !to.any()) return;
  const std::basic_string<WCHAR> text = platform::kernel::AnsiToWide(lpOutputString, std::strlen(lpOutputString));
  output(to, text.data(), text.size());
}
