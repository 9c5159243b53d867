// Runs a program as a user would and collects what it prints, for the tests
// of command-line programs.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

// Runs a command line (program and blank-separated arguments, no quoting)
// and gives its exit code, its standard output and error together in
// `output`; -1 when it did not start or did not exit normally.
inline int runProgram(const std::string &commandLine, std::string &output) {
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reading = nullptr, writing = nullptr;
  if (!CreatePipe(&reading, &writing, &inherit, 0)) return -1;
  SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writing;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string command = commandLine;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(writing);
  // The output ends when the program does, not when the pipe closes: under
  // Wine the desktop process that a program may start takes the program's
  // standard error along and keeps it for as long as it lives.
  char buffer[4096];
  for (bool ended = !started; !ended;) {
    ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
    DWORD waiting = 0, got = 0;
    while (PeekNamedPipe(reading, nullptr, 0, nullptr, &waiting, nullptr) && waiting != 0 &&
           ReadFile(reading, buffer, sizeof buffer, &got, nullptr) && got != 0)
      output.append(buffer, got);
  }
  CloseHandle(reading);
  if (!started) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
#else
  int ends[2];
  if (pipe(ends) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  const std::string &command = commandLine;
  std::vector<std::string> words;
  for (size_t at = 0; at < command.size();) {
    size_t blank = command.find(' ', at);
    if (blank == std::string::npos) blank = command.size();
    if (blank > at) words.push_back(command.substr(at, blank - at));
    at = blank + 1;
  }
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  char buffer[4096];
  ssize_t got = 0;
  while (spawned == 0 && (got = read(ends[0], buffer, sizeof buffer)) > 0)
    output.append(buffer, static_cast<size_t>(got));
  close(ends[0]);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}
