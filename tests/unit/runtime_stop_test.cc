// The end of a run, seen from outside: real processes (the program and the
// runtime_stops driver), their standard output in a file or a pipe, the
// report read back and its addresses resolved with addr2line.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime_process.h"
#include "runtime_report.h"
#include "scratch_dir.h"
#include "tests/ci.h"

namespace {

using runtime_test::FunctionsAt;
using runtime_test::OutputTo;
using runtime_test::ParseReport;
using runtime_test::ParsedReport;
using runtime_test::ProcessOptions;
using runtime_test::ProcessResult;
using runtime_test::RunProcess;

const std::string catalogo = CATALOGO_PATH;
const std::string driver = std::string(TEST_DRIVER_DIR) + "/runtime_stops";

// The function addr2line names for `offset`, the outermost when some are
// inlined there: the routine whose frame holds the address.
std::string RoutineAt(const std::string& binary, std::uint32_t offset) {
  std::vector<std::string> functions = FunctionsAt(binary, offset);
  return functions.empty() ? "" : functions.back();
}

// addr2line names a routine "Routine", "Routine(...)" or
// "(anonymous namespace)::Routine(...)".
bool Names(const std::string& function, const std::string& routine) {
  std::size_t at = function.find(routine);
  if (at == std::string::npos) return false;
  std::size_t after = at + routine.size();
  bool startOk = at == 0 || (at >= 2 && function.compare(at - 2, 2, "::") == 0);
  bool endOk = after == function.size() || function[after] == '(';
  return startOk && endOk;
}

class RunEnd : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    SKIP_UNLESS_PRESENT(runtime_test::ToolPresent("/usr/bin/addr2line")
                            ? ""
                            : "addr2line");
  }

  std::string ReadFile(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }

  // The program in this empty directory with no downloader on its PATH:
  // the worked case of a missing "1.zvd".
  ProcessResult RunCatalogoWithoutFiles(OutputTo output) {
    ProcessOptions options;
    options.argv = {catalogo};
    options.environment = {"PATH=/nonexistent"};
    options.workingDirectory = dir_.string();
    options.output = output;
    options.outputFile = (dir_ / "report.out").string();
    return RunProcess(options);
  }

  ProcessResult RunDriver(std::vector<std::string> arguments,
                          OutputTo output = OutputTo::pipe) {
    ProcessOptions options;
    options.argv = {driver};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.workingDirectory = dir_.string();
    options.output = output;
    options.outputFile = (dir_ / "report.out").string();
    return RunProcess(options);
  }
};

// ---------------------------------------------------------------------------
// The worked case
// ---------------------------------------------------------------------------

TEST_F(RunEnd, MissingCatalogueFileReportsTheLoaderCheckIntoTheFile) {
  ProcessResult run = RunCatalogoWithoutFiles(OutputTo::file);
  ASSERT_TRUE(run.finished) << run.startError;
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.errorOutput, "");

  std::string bytes = ReadFile("report.out");
  ParsedReport report = ParseReport(bytes);
  ASSERT_EQ(report.problem, "") << bytes;
  EXPECT_EQ(report.code, 2);
  // The check in the loader, the loader's call in the main body, the main
  // body's call in the start-up code; nothing beyond.
  ASSERT_EQ(report.backTrace.size(), 2u) << bytes;
  EXPECT_PRED2(Names, RoutineAt(catalogo, report.location), "LoadCatalogue");
  EXPECT_PRED2(Names, RoutineAt(catalogo, report.backTrace[0]), "MainBody");
  EXPECT_PRED2(Names, RoutineAt(catalogo, report.backTrace[1]), "StartRun");
}

TEST_F(RunEnd, ReportThatCannotBeWrittenKeepsTheExitStatus) {
  for (OutputTo output : {OutputTo::closed, OutputTo::deviceFull}) {
    SCOPED_TRACE(output == OutputTo::closed ? "closed" : "/dev/full");
    ProcessResult run = RunCatalogoWithoutFiles(output);
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errorOutput, "");

    run = RunDriver({"recursion", "20"}, output);
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.errorOutput, "");
  }
}

// ---------------------------------------------------------------------------
// Ends without a report
// ---------------------------------------------------------------------------

TEST_F(RunEnd, EndsWithoutAReport) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
  };
  const Case cases[] = {
      {"normal end", {"normal"}, 0},
      {"normal end the program marked as failed", {"normal-failure"}, 1},
      {"stop before the standard streams exist", {"check-before-bind"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run = RunDriver(c.arguments);
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errorOutput, "");
  }
}

// ---------------------------------------------------------------------------
// Stops and processor faults
// ---------------------------------------------------------------------------

TEST_F(RunEnd, EachStopReportsItsCodePlaceAndCallers) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int code;
    int exitCode;
    const char* placeIn;  // the routine of the location
    std::vector<const char*> callers;  // the back-trace, by routine
  };
  const Case cases[] = {
      {"code above 255", {"check", "267"}, 267, 11, "DriverBody", {"StartRun"}},
      {"code with low byte 0", {"check", "512"}, 512, 255, "DriverBody",
       {"StartRun"}},
      {"null write", {"null-write"}, 216, 216, "CauseNullWrite",
       {"DriverBody", "StartRun"}},
      {"integer division by zero", {"division-by-zero"}, 200, 200,
       "CauseDivisionByZero", {"DriverBody", "StartRun"}},
      {"quotient too large", {"quotient-overflow"}, 215, 215,
       "CauseQuotientOverflow", {"DriverBody", "StartRun"}},
      {"illegal instruction", {"illegal-instruction"}, 216, 216,
       "CauseIllegalInstruction", {"DriverBody", "StartRun"}},
      {"privileged instruction", {"privileged-instruction"}, 218, 218,
       "CausePrivilegedInstruction", {"DriverBody", "StartRun"}},
      {"nested calls", {"recursion", "2"}, 3, 3, "OpenMissingFile",
       {"Recurse", "Recurse", "Recurse", "DriverBody", "StartRun"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run = RunDriver(c.arguments);
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.errorOutput, "");
    ParsedReport report = ParseReport(run.output);
    ASSERT_EQ(report.problem, "") << run.output;
    EXPECT_EQ(report.code, c.code);
    EXPECT_PRED2(Names, RoutineAt(driver, report.location), c.placeIn);
    ASSERT_EQ(report.backTrace.size(), c.callers.size()) << run.output;
    for (std::size_t i = 0; i < c.callers.size(); ++i) {
      EXPECT_PRED2(Names, RoutineAt(driver, report.backTrace[i]), c.callers[i])
          << "line " << i;
    }
  }
}

TEST_F(RunEnd, StackOverflowStopsOnceWithAFullBackTrace) {
  struct Case {
    const char* name;
    const char* scenario;
    int code;
  };
  const Case cases[] = {
      {"at the stack's limit", "stack-overflow", 202},
      // Taken for an access violation; the stop itself then needs the
      // reserve stack.
      {"at a limit lowered during the run", "unforeseen-stack-overflow", 216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run = RunDriver({c.scenario}, OutputTo::file);
    ASSERT_TRUE(run.finished) << run.startError;
    ASSERT_NE(run.exitCode, 99) << run.errorOutput;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, c.code);
    EXPECT_EQ(run.errorOutput, "");
    std::string bytes = ReadFile("report.out");
    ParsedReport report = ParseReport(bytes);
    ASSERT_EQ(report.problem, "") << bytes.substr(0, 400);
    EXPECT_EQ(report.code, c.code);
    EXPECT_PRED2(Names, RoutineAt(driver, report.location), "OverflowStack");
    ASSERT_EQ(report.backTrace.size(), 257u);
    EXPECT_PRED2(Names, RoutineAt(driver, report.backTrace.back()),
                 "OverflowStack");
  }
}

// ---------------------------------------------------------------------------
// The walk's limit away from a character device
// ---------------------------------------------------------------------------

TEST_F(RunEnd, WalkStopsAfter257LinesInAFileOrPipe) {
  struct Case {
    const char* name;
    const char* depth;
    OutputTo output;
    bool reachesStartRun;
  };
  // Depth d gives d + 1 lines in Recurse, then DriverBody and StartRun.
  const Case cases[] = {
      {"whole chain of 257 lines, file", "254", OutputTo::file, true},
      {"one frame too many, file", "255", OutputTo::file, false},
      {"far deeper, pipe", "1000", OutputTo::pipe, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run = RunDriver({"recursion", c.depth}, c.output);
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.exitCode, 3);
    std::string bytes =
        c.output == OutputTo::file ? ReadFile("report.out") : run.output;
    ParsedReport report = ParseReport(bytes);
    ASSERT_EQ(report.problem, "");
    ASSERT_EQ(report.backTrace.size(), 257u);
    std::string last = RoutineAt(driver, report.backTrace.back());
    EXPECT_EQ(Names(last, "StartRun"), c.reachesStartRun) << last;
  }
}

// ---------------------------------------------------------------------------
// Faults while the run ends
// ---------------------------------------------------------------------------

TEST_F(RunEnd, FaultDuringTheWalkEndsTheWalkOnly) {
  ProcessResult run = RunDriver({"walk-fault", "40"});
  ASSERT_TRUE(run.finished) << run.startError;
  ASSERT_NE(run.exitCode, 99) << run.errorOutput;
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.errorOutput, "");
  // One report, its empty line included, with the frames below the
  // unreadable page and none above it.
  ParsedReport report = ParseReport(run.output);
  ASSERT_EQ(report.problem, "") << run.output;
  EXPECT_EQ(report.code, 2);
  ASSERT_GE(report.backTrace.size(), 1u);
  EXPECT_LT(report.backTrace.size(), 40u);
  for (std::uint32_t address : report.backTrace) {
    EXPECT_PRED2(Names, RoutineAt(driver, address), "StopAcrossUnreadablePage");
  }
}

TEST_F(RunEnd, FaultWhileWritingTheReportStillEndsOnceWithTheStopsStatus) {
  ProcessResult run = RunDriver({"fault-while-ending"});
  ASSERT_TRUE(run.finished) << run.startError;
  ASSERT_NE(run.exitCode, 99) << run.errorOutput;
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.errorOutput, "");
}

}  // namespace
