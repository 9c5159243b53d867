// Starting programs with WinExec, and the Windows rules for splitting a
// command line into arguments.
#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServicesTestSupport.h"

using namespace services_test;

using Args = std::vector<std::string>;

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

TEST(WinExec, ReportsMissingProgramsWithWindowsCodes) {
  std::string folder = tempFolder();
  folder.pop_back();
  // A missing folder, and a folder, are reported as a missing file, as Windows does.
  for (const std::string &command : {std::string("no_such_program_for_winexec arg"), std::string("\"no such program\""),
                                     std::string(), tempFolder() + "no_such_folder\\program.exe", folder}) {
    EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec(command.c_str(), SW_HIDE)) << command;
  }
  const std::string notAProgram = tempFile("not_a_program.exe");
  {
    File file(openFile(notAProgram, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(write(file.get(), "plain text, no program\r\n"));
  }
  EXPECT_EQ(static_cast<UINT>(ERROR_BAD_FORMAT), WinExec(notAProgram.c_str(), SW_HIDE));
  DeleteFileA(notAProgram.c_str());
}
