// The command lines of the project's programs, through the parsers their
// main() hands to runProgram, and what the programs share: help flags, usage
// errors, exit statuses, system messages and text conversions. The system
// tools' stand-ins exist on POSIX only, and so do their cases.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "ExporterOptions.h"
#include "QueryOptions.h"
#include "SystemMessage.h"
#include "Utf8Text.h"
#ifndef _WIN32
#include "ToolOptions.h"
#endif

using commandline::Arguments;
using commandline::Parsed;

namespace {

// What a parser made of a line, as one word, for messages and comparisons.
template <typename Options> const char *outcomeOf(const Parsed<Options> &parsed) {
  switch (parsed.outcome) {
    case Parsed<Options>::Outcome::Run: return "run";
    case Parsed<Options>::Outcome::Help: return "help";
    default: return "usage error";
  }
}

std::string joined(const Arguments &arguments) {
  std::string text;
  for (const std::string &argument : arguments) text += (text.empty() ? "" : " ") + argument;
  return text;
}

// One program's parser with the lines that must ask for its usage.
struct HelpCase {
  const commandline::Program &program;
  const char *(*outcome)(const Arguments &);
  Arguments otherArguments;  // a line the help flag joins
};

template <typename Options, Parsed<Options> (*Parse)(const Arguments &)>
const char *parsedOutcome(const Arguments &arguments) {
  return outcomeOf(Parse(arguments));
}

}  // namespace

TEST(CommandLine, EveryProgramAnswersEachHelpFlagWithItsUsage) {
  const HelpCase programs[] = {
      {perfquery::Program, parsedOutcome<perfquery::Request, perfquery::parseRequest>, {"-l", "Memory"}},
      {exporter::Program, parsedOutcome<exporter::Options, exporter::parseOptions>, {"--listen", ":9100"}},
#ifndef _WIN32
      {tools::Regsvr32, parsedOutcome<tools::Regsvr32Options, tools::parseRegsvr32>, {"/u", "module.so"}},
      {tools::Reg, parsedOutcome<tools::RegQuery, tools::parseReg>, {"query", "HKLM"}},
      {tools::Lodctr, parsedOutcome<std::string, tools::parseLodctr>, {"counters.ini"}},
      {tools::Unlodctr, parsedOutcome<std::string, tools::parseUnlodctr>, {"MySvc"}},
#endif
  };
  for (const HelpCase &program : programs) {
    SCOPED_TRACE(program.program.name);
    // The line without a help flag runs; with one anywhere, or alone, it asks for the usage.
    EXPECT_STREQ("run", program.outcome(program.otherArguments)) << joined(program.otherArguments);
    for (const char *flag : {"--help", "-h", "/?", "-?"}) {
      Arguments after = program.otherArguments, before = program.otherArguments;
      after.push_back(flag);
      before.insert(before.begin(), flag);
      for (const Arguments &line : {Arguments{flag}, after, before})
        EXPECT_STREQ("help", program.outcome(line)) << joined(line);
    }
    const std::string usage = program.program.usage();
    EXPECT_NE(std::string::npos, usage.find("Usage")) << usage;
    EXPECT_NE(std::string::npos, usage.find(program.program.name)) << usage;
    EXPECT_EQ('\n', usage.back()) << usage;
  }
  // Flags that only look like help ask for nothing of the kind.
  for (const char *notHelp : {"--HELP", "-help", "/h", "?", "--help=yes", ""})
    EXPECT_FALSE(commandline::isHelpFlag(notHelp)) << notHelp;
}

TEST(CommandLine, UsageErrorsAndFailuresAreSaidAsEachProgramSaysThem) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(commandline::UsageError, commandline::reportUsageError(perfquery::Program, "unknown option '-x'"));
  EXPECT_EQ("perfquery: unknown option '-x'\nTry 'perfquery --help'.\n", testing::internal::GetCapturedStderr());

  const commandline::Program verbatim{"tool", [] { return std::string("Usage: tool\n"); },
                                      commandline::UsageStyle::Verbatim, 87};
  testing::internal::CaptureStderr();
  EXPECT_EQ(87, commandline::reportUsageError(verbatim, "ERROR: Invalid syntax.\nType \"TOOL /?\" for usage.\n"));
  EXPECT_EQ(87, commandline::reportUsageError(verbatim, ""));  // a silent tool says nothing
  EXPECT_EQ("ERROR: Invalid syntax.\nType \"TOOL /?\" for usage.\n", testing::internal::GetCapturedStderr());

  // A Win32 code is its own exit status where POSIX keeps it whole.
  EXPECT_EQ(87, commandline::exitStatusOf(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(183, commandline::exitStatusOf(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(1, commandline::exitStatusOf(256));
  EXPECT_EQ(1, commandline::exitStatusOf(static_cast<LONG>(E_FAIL)));
  EXPECT_EQ(1, commandline::exitStatusOf(ERROR_SUCCESS)) << "a failure never exits as success";

  // The system's text without its line end, alone or with its code.
  const std::string notFound = commandline::systemText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(notFound.empty());
  EXPECT_NE('\n', notFound.back());
  EXPECT_EQ("error 2: " + notFound, commandline::systemReason(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(0u, commandline::systemReason(0x80070005u).rfind("error 0x80070005: ", 0))
      << commandline::systemReason(0x80070005u);
  // A code the system has no text for is still named.
  EXPECT_EQ("error 0xE0001234: no text for this code", commandline::systemReason(0xE0001234u));
  EXPECT_EQ("error 0xE0001234: no text for this code", commandline::systemText(0xE0001234u));
}

TEST(CommandLine, TextCrossesBetweenUtf8AndUtf16Whole) {
  const std::string utf8 = "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x88";  // é, €, and a character past the BMP
  const std::basic_string<WCHAR> wide = commandline::fromUtf8(utf8);
  const WCHAR expected[] = {'C', 'a', 'f', 0xE9, ' ', 0x20AC, ' ', 0xD83D, 0xDCC8};
  EXPECT_EQ(std::basic_string<WCHAR>(expected, 9), wide);
  EXPECT_EQ(utf8, commandline::toUtf8(wide));
  EXPECT_EQ(std::basic_string<WCHAR>(1, 0x20AC), commandline::fromCodePage(1252, "\x80"));
  EXPECT_EQ("", commandline::toUtf8(std::basic_string<WCHAR>()));
  EXPECT_TRUE(commandline::fromUtf8("").empty());
}

TEST(PerfQueryOptions, ReadRequestsAndRefuseWrongLinesWithTheirReason) {
  using Action = perfquery::Request::Action;
  struct Line {
    Arguments arguments;
    const char *error;  // null for a line that runs
    Action action = Action::ListObjects;
    const char *object = "";
    DWORD interval = 1000;
    ULONGLONG count = 1;
  };
  const Line lines[] = {
      {{}, nullptr},
      {{"-l", "Memory"}, nullptr, Action::ListCounters, "Memory"},
      {{"#230"}, nullptr, Action::ShowValues, "#230"},
      {{"Caf\xc3\xa9", "-n", "3"}, nullptr, Action::ShowValues, "Caf\xc3\xa9", 1000, 3},
      {{"-i", "0.25", "Memory", "-n", "999999999"}, nullptr, Action::ShowValues, "Memory", 250, 999999999},
      {{"Memory", "-i", "2"}, nullptr, Action::ShowValues, "Memory", 2000, ~0ull},  // until stopped
      {{"-x"}, "unknown option '-x'"},
      {{"Memory", "-i"}, "option -i needs a value"},
      {{"Memory", "-i", "soon"}, "-i needs a number of seconds from 0.001 to 86400, not 'soon'"},
      {{"Memory", "-i", "0"}, "-i needs a number of seconds"},
      {{"Memory", "-i", "86401"}, "-i needs a number of seconds"},
      {{"Memory", "-i", "1", "-si", "2"}, "the interval (-i, -si) is given twice"},
      {{"Memory", "-n", "0"}, "-n needs a count from 1 to 999999999, not '0'"},
      {{"Memory", "-n", "1000000000"}, "-n needs a count"},
      {{"Memory", "-n", "-1"}, "-n needs a count"},
      {{"Memory", "-sc", "2", "-n", "2"}, "the count (-n, -sc) is given twice"},
      {{"Memory", "Processor"}, "only one object can be named"},
      {{"-l", "Memory", "Processor"}, "only one object can be named"},
      {{"-l", "Memory", "-n", "2"}, "-l takes none of -i, -n, -f and --raw"},
      {{"-n", "2"}, "-i, -n, -f and --raw need an object or counter paths"},
      // Counter paths, their file, the reader's synonyms and the output.
      {{"\\Memory\\Heap", "\\Sessions(*)\\*", "-si", "01:30", "-sc", "5"}, nullptr, Action::ShowValues, "", 90000, 5},
      {{"-cf", "paths.txt", "-si", "1:00:00"}, nullptr, Action::ShowValues, "", 3600000, ~0ull},
      {{"Memory", "-f", "json", "-o", "out.json", "-y", "--raw"}, nullptr, Action::ShowValues, "Memory"},
      {{"-q"}, nullptr, Action::ListPaths},
      {{"-qx", "Memory", "-o", "paths.txt"}, nullptr, Action::ListPaths, "Memory"},
      {{"-q", "-o", "paths.txt"}, nullptr, Action::ListPaths},
      {{"-si", "1:2:3:4", "\\M\\C"}, "-si needs a number of seconds"},
      {{"-si", "1.5:00", "\\M\\C"}, "-si needs a number of seconds"},
      {{"Memory", "\\M\\C"}, "name either an object or counter paths, not both"},
      {{"\\M(x)"}, "'\\M(x)' is not a counter path: the instance has no closing parenthesis"},
      {{"\\M\\"}, "'\\M\\' is not a counter path: the counter's name is empty"},
      {{"M\\C", "\\M\\C"}, "name either an object"},
      {{"\\M\\C", "-f", "xml"}, "-f needs TABLE, CSV, TSV or JSON, not 'xml'"},
      {{"\\M\\C", "-y"}, "-y goes with -o FILE"},
      {{"\\M\\C", "-o", ""}, "-o needs a file name"},
      {{"-q", "-f", "csv"}, "-q takes none of -i, -n, -f and --raw"},
      {{"-q", "M", "\\M\\C"}, "-q takes no counter paths"},
      {{"-f", "csv"}, "-i, -n, -f and --raw need an object or counter paths"},
  };
  for (const Line &line : lines) {
    SCOPED_TRACE(joined(line.arguments));
    const Parsed<perfquery::Request> parsed = perfquery::parseRequest(line.arguments);
    if (line.error != nullptr) {
      ASSERT_STREQ("usage error", outcomeOf(parsed));
      EXPECT_EQ(0u, parsed.error.rfind(line.error, 0)) << parsed.error;
      continue;
    }
    ASSERT_STREQ("run", outcomeOf(parsed)) << parsed.error;
    EXPECT_EQ(line.action, parsed.options.action);
    EXPECT_EQ(commandline::fromUtf8(line.object), parsed.options.object);
    EXPECT_EQ(line.interval, parsed.options.intervalMilliseconds);
    EXPECT_EQ(line.count, parsed.options.count);
  }

  // What a line of paths and output options carries to the run.
  const Parsed<perfquery::Request> full =
      perfquery::parseRequest({"\\A(*)\\B", "-cf", "f.txt", "-f", "Tsv", "-o", "o.tsv", "-y", "--raw"});
  ASSERT_STREQ("run", outcomeOf(full)) << full.error;
  ASSERT_EQ(1u, full.options.paths.size());
  EXPECT_EQ(commandline::fromUtf8("\\A(*)\\B"), full.options.paths[0]);
  EXPECT_EQ(commandline::fromUtf8("f.txt"), full.options.counterFile);
  EXPECT_EQ(perfquery::Format::Tsv, full.options.format);
  EXPECT_EQ(commandline::fromUtf8("o.tsv"), full.options.outputFile);
  EXPECT_TRUE(full.options.overwrite);
  EXPECT_TRUE(full.options.raw);
  EXPECT_FALSE(full.options.everyInstance);
  EXPECT_TRUE(perfquery::parseRequest({"-qx"}).options.everyInstance);
}

#ifndef _WIN32
TEST(ToolOptions, ReadTheLinesOfTheToolsTheyStandFor) {
  struct Registration {
    Arguments arguments;
    bool runs;
    bool unregister = false, silent = false;
    const char *module = "";
  };
  const std::string usage = tools::Regsvr32.usage();
  const Registration registrations[] = {
      {{"/tmp/x.so"}, true, false, false, "/tmp/x.so"},
      {{"/u", "-S", "Z:\\opt\\x.dll"}, true, true, true, "Z:\\opt\\x.dll"},
      {{"x.so", "-U"}, true, true, false, "x.so"},
      {{}, false},
      {{"/x", "x.so"}, false},
      {{"x.so", "y.so"}, false},
      {{"/u"}, false},
      {{"/x", "/s", "x.so"}, false, false, true},  // silent wherever /s stands
      {{"/s", ""}, false, false, true},
  };
  for (const Registration &line : registrations) {
    SCOPED_TRACE(joined(line.arguments));
    const auto parsed = tools::parseRegsvr32(line.arguments);
    if (!line.runs) {
      ASSERT_STREQ("usage error", outcomeOf(parsed));
      EXPECT_EQ(line.silent ? "" : usage, parsed.error);
      continue;
    }
    ASSERT_STREQ("run", outcomeOf(parsed));
    EXPECT_EQ(line.unregister, parsed.options.unregister);
    EXPECT_EQ(line.silent, parsed.options.silent);
    EXPECT_EQ(line.module, parsed.options.module);
  }

  struct Query {
    Arguments arguments;
    const char *error;  // null for a line that runs
    HKEY root = nullptr;
    const char *below = "", *shown = "", *value = nullptr;
    bool recurse = false;
  };
  const char syntax[] = "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n";
  const Query queries[] = {
      {{"query", "HKLM\\Software\\Test"},
       nullptr,
       HKEY_LOCAL_MACHINE,
       "Software\\Test",
       "HKEY_LOCAL_MACHINE\\Software\\Test"},
      {{"QUERY", "hkey_current_user\\\\"}, nullptr, HKEY_CURRENT_USER, "", "HKEY_CURRENT_USER"},
      {{"query", "HKCR\\.txt", "/V", "Content Type", "/s"},
       nullptr,
       HKEY_CLASSES_ROOT,
       ".txt",
       "HKEY_CLASSES_ROOT\\.txt",
       "Content Type",
       true},
      {{"query", "HKLM", "/ve"}, nullptr, HKEY_LOCAL_MACHINE, "", "HKEY_LOCAL_MACHINE", ""},
      {{"add", "HKLM"}, syntax},
      {{"query"}, syntax},
      {{"query", "HKLM", "/v"}, syntax},
      {{"query", "HKLM", "/v", "a", "/ve"}, syntax},
      {{"query", "HKLM", "/x"}, syntax},
      {{"query", "HKXX\\Software"}, "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n"},
  };
  for (const Query &line : queries) {
    SCOPED_TRACE(joined(line.arguments));
    const auto parsed = tools::parseReg(line.arguments);
    if (line.error != nullptr) {
      ASSERT_STREQ("usage error", outcomeOf(parsed));
      EXPECT_EQ(line.error, parsed.error);
      continue;
    }
    ASSERT_STREQ("run", outcomeOf(parsed)) << parsed.error;
    EXPECT_EQ(line.root, parsed.options.root);
    EXPECT_EQ(line.below, parsed.options.below);
    EXPECT_EQ(line.shown, parsed.options.shown);
    EXPECT_EQ(line.value != nullptr, parsed.options.value.has_value());
    if (line.value != nullptr && parsed.options.value) {
      EXPECT_EQ(line.value, *parsed.options.value);
    }
    EXPECT_EQ(line.recurse, parsed.options.recurse);
  }

  // lodctr and unlodctr take exactly one argument, and answer anything else
  // with their usage line and ERROR_INVALID_PARAMETER.
  for (auto [program, parse] :
       {std::pair{&tools::Lodctr, &tools::parseLodctr}, std::pair{&tools::Unlodctr, &tools::parseUnlodctr}}) {
    SCOPED_TRACE(program->name);
    const auto parsed = parse({"C:\\perf\\MySvc.ini"});
    ASSERT_STREQ("run", outcomeOf(parsed));
    EXPECT_EQ("C:\\perf\\MySvc.ini", parsed.options);
    for (const Arguments &line : {Arguments{}, Arguments{""}, Arguments{"a", "b"}}) {
      const auto wrong = parse(line);
      ASSERT_STREQ("usage error", outcomeOf(wrong)) << joined(line);
      EXPECT_EQ(program->usage(), wrong.error);
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER, program->usageStatus);
    EXPECT_EQ(commandline::UsageStyle::Verbatim, program->style);
  }
}
#endif
