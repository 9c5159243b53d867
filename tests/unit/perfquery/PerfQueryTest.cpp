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
  EXPECT_NE(std::string::npos, output.find("perfquery OBJECT [-i SECONDS] [-n COUNT]")) << output;

  struct Misuse {
    const char *arguments;
    const char *message;
  };
  for (const Misuse &misuse : {Misuse{"-x", "unknown option '-x'"}, Misuse{"Obj -i soon", "-i needs a number"},
                               Misuse{"-l Obj -i 1", "-l takes neither -i nor -n"}}) {
    output.clear();
    EXPECT_EQ(2, runPerfQuery(misuse.arguments, output)) << misuse.arguments;
    EXPECT_NE(std::string::npos, output.find(misuse.message)) << output;
  }

  for (const char *command : {"NoSuchPerformanceObject", "-l NoSuchPerformanceObject"}) {
    output.clear();
    EXPECT_EQ(1, runPerfQuery(command, output)) << command;
    EXPECT_NE(std::string::npos, output.find("no performance object named \"NoSuchPerformanceObject\"")) << output;
  }
}
