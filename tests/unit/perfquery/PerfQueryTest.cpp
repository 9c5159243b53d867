// The perfquery program as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "RunProgram.h"

namespace {

int runPerfQuery(const std::string &arguments, std::string &output) {
  return runProgram(std::string(PERFQUERY_PROGRAM) + " " + arguments, output);
}

}  // namespace

TEST(PerfQueryProgram, AnswersHelpUsageErrorsAndUnknownObjectsWithTheirExitCodes) {
  std::string output;
  EXPECT_EQ(0, runPerfQuery("--help", output));
  EXPECT_NE(std::string::npos, output.find("perfquery PATH... [options]")) << output;

  struct Misuse {
    const char *arguments;
    const char *message;
  };
  for (const Misuse &misuse : {Misuse{"-x", "unknown option '-x'"}, Misuse{"Obj -i soon", "-i needs a number"},
                               Misuse{"-l Obj -i 1", "-l takes none of -i, -n, -f and --raw"},
                               Misuse{"\\Obj\\Counter -f XML", "-f needs TABLE, CSV, TSV or JSON, not 'XML'"},
                               Misuse{"\\Obj(x\\Counter", "is not a counter path"}}) {
    output.clear();
    EXPECT_EQ(2, runPerfQuery(misuse.arguments, output)) << misuse.arguments;
    EXPECT_NE(std::string::npos, output.find(misuse.message)) << output;
  }

  for (const char *command : {"NoSuchPerformanceObject", "-l NoSuchPerformanceObject"}) {
    output.clear();
    EXPECT_EQ(1, runPerfQuery(command, output)) << command;
    EXPECT_NE(std::string::npos, output.find("no performance object named \"NoSuchPerformanceObject\"")) << output;
  }

  // Paths that match nothing, and a counter file that is not there, each say so.
  output.clear();
  EXPECT_EQ(1, runPerfQuery("\\NoSuchPerformanceObject(*)\\*", output));
  EXPECT_NE(std::string::npos, output.find("\"\\NoSuchPerformanceObject(*)\\*\" matches no counter")) << output;
  EXPECT_NE(std::string::npos, output.find("no counter to show")) << output;
  output.clear();
  EXPECT_EQ(1, runPerfQuery("-cf no-such-counter-file.txt", output));
  EXPECT_NE(std::string::npos, output.find("cannot read the counter file \"no-such-counter-file.txt\"")) << output;
}
