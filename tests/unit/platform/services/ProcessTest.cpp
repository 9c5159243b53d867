// Starting programs with WinExec, and the Windows rules for splitting a
// command line into arguments.
#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServicesTestSupport.h"

using namespace services_test;

namespace {

std::vector<std::string> split(const WCHAR *commandLine) {
  int count = -1;
  LPWSTR *arguments = CommandLineToArgvW(commandLine, &count);
  std::vector<std::string> out;
  if (arguments == nullptr) return {"<failed>"};
  for (int i = 0; i < count; ++i) out.push_back(narrow(WideString(arguments[i])));
  EXPECT_EQ(nullptr, arguments[count]);
  LocalFree(arguments);
  return out;
}

using Args = std::vector<std::string>;

}  // namespace

TEST(CommandLine, SplitsByTheWindowsRules) {
  EXPECT_EQ((Args{"prog", "a", "b"}), split(WIDE("prog a b")));
  EXPECT_EQ((Args{"prog", "a", "b"}), split(WIDE("prog  \t a\t b  ")));
  EXPECT_EQ((Args{"C:\\Program Files\\x.exe", "a b", "c"}), split(WIDE("\"C:\\Program Files\\x.exe\" \"a b\" c")));
  // Backslashes are literal unless they precede a quote: 2n and a quote give
  // n and a delimiter, 2n+1 and a quote give n and a literal quote.
  EXPECT_EQ((Args{"prog", "a\\\\b"}), split(WIDE("prog a\\\\b")));
  EXPECT_EQ((Args{"prog", "a\\\"b"}), split(WIDE("prog a\\\\\\\"b")));
  EXPECT_EQ((Args{"prog", "a\\", "b"}), split(WIDE("prog \"a\\\\\" b")));
  EXPECT_EQ((Args{"prog", "quote\"inside"}), split(WIDE("prog \"quote\\\"inside\"")));
  EXPECT_EQ((Args{"prog", "", "x"}), split(WIDE("prog \"\" x")));
  EXPECT_EQ((Args{"prog", "ab cd"}), split(WIDE("prog a\"b c\"d")));
  EXPECT_EQ((Args{"prog", "ab", "c"}), split(WIDE("prog a\"\"b c")));
  EXPECT_EQ((Args{"prog", "a b"}), split(WIDE("prog \"a b")));
  // A doubled quote inside quotes is a literal quote and ends the quoting.
  EXPECT_EQ((Args{"prog", "a\"b"}), split(WIDE("prog \"a\"\"b\"")));
  EXPECT_EQ((Args{"prog", "\"a b"}), split(WIDE("prog \"\"\"a\" b")));
  // Only blanks and tabs separate.
  EXPECT_EQ((Args{"prog", "a\nb"}), split(WIDE("prog a\nb")));
  // The program name knows no escapes: a quoted one ends at the next quote,
  // an unquoted one at the first blank, quotes and all.
  EXPECT_EQ((Args{"C:\\dir\\", "x"}), split(WIDE("\"C:\\dir\\\" x")));
  EXPECT_EQ((Args{"prog", "x", "y"}), split(WIDE("\"prog\"x y")));
  EXPECT_EQ((Args{"prog\"", "name x"}), split(WIDE("prog\" \"name x")));
  EXPECT_EQ((Args{"", "prog", "x"}), split(WIDE(" prog x")));
  EXPECT_EQ((Args{""}), split(WIDE("   ")));

  // An empty command line stands for the program itself.
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  EXPECT_EQ((Args{program}), split(WIDE("")));

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
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec("no_such_program_for_winexec arg", SW_HIDE));
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec("\"no such program\"", SW_HIDE));
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec("", SW_HIDE));
  // A missing folder is reported as a missing file, as Windows does.
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND),
            WinExec((tempFolder() + "no_such_folder\\program.exe").c_str(), SW_HIDE));
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec((tempFolder() + "program.exe").c_str(), SW_HIDE));
  std::string folder = tempFolder();
  folder.pop_back();
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec(folder.c_str(), SW_HIDE));

  // A file that is no program.
  const std::string notAProgram = tempFile("not_a_program.exe");
  {
    File file(openFile(notAProgram, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(write(file.get(), "plain text, no program\r\n"));
  }
  EXPECT_EQ(static_cast<UINT>(ERROR_BAD_FORMAT), WinExec(notAProgram.c_str(), SW_HIDE));
  DeleteFileA(notAProgram.c_str());
}
