// Runs one disabled test of this very program in a second process, for the
// tests that need another process to act at the same time or in between. The
// child's instructions come through one environment variable.
//
// A child still running when its owner goes out of scope is killed: a test
// that fails returns early, and its child (a host that publishes until it is
// stopped, say) must not keep the test waiting forever. A test that wants the
// child's verdict asks for it with finish().
#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess() {
    kill();
    finish();
  }

  // Starts `test` (Suite.DISABLED_Name) with `variable` set to `setting`.
  bool start(const std::string &test, const char *variable, const std::string &setting) {
    std::string program = ownProgram();
    std::string filter = "--gtest_filter=" + test;
    std::string disabled = "--gtest_also_run_disabled_tests";
#ifdef _WIN32
    SetEnvironmentVariableA(variable, setting.c_str());
    std::string commandLine = "\"" + program + "\" " + filter + " " + disabled;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != FALSE;
    SetEnvironmentVariableA(variable, nullptr);
#else
    setenv(variable, setting.c_str(), 1);
    char *argv[] = {program.data(), filter.data(), disabled.data(), nullptr};
    started_ = posix_spawn(&process_, program.c_str(), nullptr, nullptr, argv, environ) == 0;
    unsetenv(variable);
#endif
    return started_;
  }

  // Waits for the child and gives its exit status: 0 when its test passed,
  // -1 when it did not start or did not exit normally.
  int finish() {
    if (!started_) return -1;
    started_ = false;
#ifdef _WIN32
    WaitForSingleObject(process_.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process_.hProcess, &code);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    return static_cast<int>(code);
#else
    int status = 0;
    if (waitpid(process_, &status, 0) != process_) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  }

  // Ends the child at once, as a crash would, without letting it clean up.
  void kill() {
    if (!started_) return;
#ifdef _WIN32
    TerminateProcess(process_.hProcess, 1);
#else
    ::kill(process_, SIGKILL);
#endif
  }

  // Starts `test` and waits for it.
  static int run(const std::string &test, const char *variable, const std::string &setting) {
    ChildProcess child;
    return child.start(test, variable, setting) ? child.finish() : -1;
  }

 private:
  static std::string ownProgram() {
#ifdef _WIN32
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
#else
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
#endif
  }

  bool started_ = false;
#ifdef _WIN32
  PROCESS_INFORMATION process_{};
#else
  pid_t process_ = -1;
#endif
};
