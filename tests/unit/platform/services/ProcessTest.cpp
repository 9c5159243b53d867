// Starting programs with WinExec and CreateProcess, following one to its end,
// and the Windows rules for splitting a command line into arguments.
#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServicesTestSupport.h"

using Args = std::vector<std::string>;

namespace {

// A program started with its window hidden, as the component starts the
// performance tools; its handles are closed at the end.
class Program {
 public:
  explicit Program(std::string command, const char *application = nullptr, const char *folder = nullptr) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    started_ = CreateProcessA(application, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder,
                              &startup, &info_) != FALSE;
    error_ = started_ ? ERROR_SUCCESS : GetLastError();
  }
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;
  ~Program() { close(); }

  bool started() const { return started_; }
  DWORD error() const { return error_; }
  const PROCESS_INFORMATION &info() const { return info_; }
  DWORD exitCode() const {
    DWORD code = 0xDEAD;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }
  // True when both handles closed.
  bool close() {
    if (!started_) return false;
    started_ = false;
    const bool thread = CloseHandle(info_.hThread) != FALSE;
    return CloseHandle(info_.hProcess) != FALSE && thread;
  }

 private:
  PROCESS_INFORMATION info_ = {};
  bool started_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

TEST(CommandLine, SplitsByTheWindowsRules) {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const struct {
    const WCHAR *line;
    Args arguments;
  } cases[] = {
      {WIDE("prog  \t a\t b  "), {"prog", "a", "b"}},
      {WIDE("\"C:\\Program Files\\x.exe\" \"a b\" c"), {"C:\\Program Files\\x.exe", "a b", "c"}},
      // Backslashes are literal unless they precede a quote: 2n and a quote
      // give n and a delimiter, 2n+1 and a quote give n and a literal quote.
      {WIDE("prog a\\\\\\\"b"), {"prog", "a\\\"b"}},
      {WIDE("prog \"a\\\\\" b"), {"prog", "a\\", "b"}},
      {WIDE("prog a\"b c\"d"), {"prog", "ab cd"}},
      {WIDE("prog \"a\"\"b\""), {"prog", "a\"b"}},  // a doubled quote inside quotes is a literal one
      {WIDE("prog a\nb"), {"prog", "a\nb"}},        // only blanks and tabs separate
      // The program name knows no escapes: a quoted one ends at the next
      // quote, an unquoted one at the first blank, quotes and all.
      {WIDE("\"C:\\dir\\\" x"), {"C:\\dir\\", "x"}},
      {WIDE("prog\" \"name x"), {"prog\"", "name x"}},
      {WIDE(" prog x"), {"", "prog", "x"}},
      {WIDE(""), {program}},  // the program itself
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(narrow(c.line));
    int count = -1;
    LPWSTR *arguments = CommandLineToArgvW(c.line, &count);
    ASSERT_NE(nullptr, arguments);
    Args split;
    for (int i = 0; i < count; ++i) split.push_back(narrow(arguments[i]));
    EXPECT_EQ(c.arguments, split);
    EXPECT_EQ(nullptr, arguments[count]);
    LocalFree(arguments);
  }
  SetLastError(0);
  EXPECT_EQ(nullptr, CommandLineToArgvW(WIDE("x"), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(WinExec, StartsAProgramWithQuotedArguments) {
  const std::string out = tempFile("argv.txt");
  DeleteFileA(out.c_str());
  const std::string command = "platform_services_helper.exe argv \"" + out +
                              "\" plain \"two words\" \"quote\\\"inside\" back\\\\slash \"trailing\\\\\\\\\" \"\" last";
  ASSERT_GT(WinExec(command.c_str(), SW_HIDE), 31u);
  EXPECT_EQ("plain\ntwo words\nquote\"inside\nback\\\\slash\ntrailing\\\\\n\nlast\n", waitForFile(out));
  DeleteFileA(out.c_str());

  // The program named by its full path in Windows form, quoted.
  const std::string byPath =
      "\"" + programFolder() + "\\platform_services_helper.exe\" argv \"" + out + "\" \"by path\"";
  ASSERT_GT(WinExec(byPath.c_str(), SW_SHOWNORMAL), 31u);
  EXPECT_EQ("by path\n", waitForFile(out));
  DeleteFileA(out.c_str());
}

TEST(ChildProcess, RunsAProgramToItsEndWaitsAndGivesItsExitCode) {
  const std::string helper = programFolder() + "\\platform_services_helper.exe", temp = tempFolder();
  const std::string relative = "svc" + std::to_string(GetCurrentProcessId()) + "_relative.txt";
  DeleteFileA((temp + relative).c_str());
  const struct {
    const char *application;
    std::string command;
    const char *folder;
    DWORD exitCode;
  } cases[] = {
      {nullptr, "platform_services_helper.exe exit 7", nullptr, 7},
      // A named application runs, whatever the command line's first word says.
      {helper.c_str(), "not_the_helper exit 5", nullptr, 5},
      // The program is found from here, then runs in the folder asked for.
      {nullptr, "platform_services_helper argv " + relative + " here", temp.c_str(), 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command);
    Program program(c.command, c.application, c.folder);
    ASSERT_TRUE(program.started()) << program.error();
    EXPECT_NE(0u, program.info().dwProcessId);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program.info().hProcess, INFINITE));
    EXPECT_EQ(c.exitCode, program.exitCode());
    const HANDLE process = program.info().hProcess;
    EXPECT_TRUE(program.close());
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(process, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  }
  Handle written(openFile(temp + relative, GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ("here\n", readAll(written.get()));
  written.reset();
  DeleteFileA((temp + relative).c_str());

  // A wait times out while the program runs; the helper cannot end before
  // the gate opens. A timed wait ends with the program, and an ended
  // program stays so.
  const std::string gate = tempFile("gate");
  DeleteFileA(gate.c_str());
  Program gated("platform_services_helper exit 9 \"" + gate + "\"");
  ASSERT_TRUE(gated.started()) << gated.error();
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(gated.info().hProcess, 100));
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), gated.exitCode());
  { Handle opened(openFile(gate, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS)); }
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gated.info().hProcess, 60000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gated.info().hProcess, 0));
  EXPECT_EQ(9u, gated.exitCode());
  DeleteFileA(gate.c_str());
}

TEST(ProgramStart, FailuresCarryWindowsCodes) {
  const std::string notAProgram = tempFile("not_a_program.exe");
  {
    Handle file(openFile(notAProgram, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(write(file.get(), "plain text, no program\r\n"));
  }
  std::string folder = tempFolder();
  folder.pop_back();
  // WinExec answers with CreateProcess's error, but a code above 31 would
  // read as success there and becomes ERROR_BAD_FORMAT.
  const struct {
    std::string command;
    DWORD error;
    UINT winExec;
  } cases[] = {
      {"no_such_program_for_winexec arg", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"\"no such program\"", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      // A missing folder, and a folder, are a missing file, as Windows has it.
      {tempFolder() + "no_such_folder\\program.exe", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {folder, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {notAProgram, ERROR_BAD_EXE_FORMAT, ERROR_BAD_FORMAT},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.winExec, WinExec(c.command.c_str(), SW_HIDE)) << c.command;
    Program program(c.command);
    EXPECT_FALSE(program.started()) << c.command;
    EXPECT_EQ(c.error, program.error()) << c.command;
  }
  // A start folder that is none, once the program is found.
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY),
            Program("platform_services_helper exit 0", nullptr, notAProgram.c_str()).error());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            Program("no_such_program_for_winexec", nullptr, notAProgram.c_str()).error());
  DeleteFileA(notAProgram.c_str());
}
