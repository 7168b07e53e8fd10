// The end of a run of the Windows build under Wine: the run-time error
// report of the worked case in a file and on the terminal, its addresses
// resolved with MinGW's addr2line, the processor faults that the fault
// filter turns into stops (a stack overflow included), and Ctrl+C.
//
// Report addresses are offsets from the image's load address, relative
// virtual addresses: addr2line wants the image base of the PE header
// added back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/files.h"
#include "tests/harness/terminal.h"
#include "tests/unit/runtime_process.h"
#include "tests/unit/runtime_report.h"
#include "tests/wine/pe_image.h"
#include "tests/wine/wine_bed.h"

namespace {

namespace fs = std::filesystem;
using runtime_test::ParsedReport;
using runtime_test::ParseReport;
using winebed::Build;

const std::string faultsProgram = CATALOGO_WINDOWS_FAULTS_EXE;
const char* const addr2line = "/usr/bin/x86_64-w64-mingw32-addr2line";

constexpr int rows = 24;
constexpr int columns = 80;

std::string Missing() {
  std::string missing = winebed::Missing(Build::windows);
  if (!missing.empty()) return missing;
  if (!fs::exists(faultsProgram)) return "no " + faultsProgram + " (build the Windows tree)";
  if (access(addr2line, X_OK) != 0) {
    return std::string(addr2line) + " is missing (binutils-mingw-w64-x86-64)";
  }
  return "";
}

// `argv` (a Windows program and its arguments) run by Wine in the stage's
// working directory for the Windows build, with no terminal, its standard
// output into `output` and no wget.exe on its search path.
runtime_test::ProcessOptions UnderWine(std::vector<std::string> argv,
                                       const winebed::Stage& stage,
                                       const fs::path& output) {
  runtime_test::ProcessOptions options;
  options.argv = {"/usr/bin/wine"};
  options.argv.insert(options.argv.end(), argv.begin(), argv.end());
  options.environment = stage.Environment();
  for (const std::string& entry : winebed::WineEnvironment(false)) {
    options.environment.push_back(entry);
  }
  options.environment.push_back("PATH=/usr/bin:/bin");
  options.workingDirectory = stage.Work(Build::windows).string();
  options.output = runtime_test::OutputTo::file;
  options.outputFile = output.string();
  options.timeoutMs = 60000;
  return options;
}

// The routine that MinGW's addr2line names at `offset` in `image` (the
// outermost of those inlined there), without its scope or parameters; ""
// if none.
std::string RoutineAt(const std::string& image, std::uint32_t offset) {
  pe::Image headers;
  if (!pe::LoadImage(image, &headers).empty()) return "";
  std::vector<std::string> functions =
      runtime_test::FunctionsAt(image, headers.imageBase + offset, addr2line);
  if (functions.empty()) return "";
  std::string routine = functions.back();
  routine = routine.substr(0, routine.find('('));
  std::size_t scope = routine.rfind("::");
  return scope == std::string::npos ? routine : routine.substr(scope + 2);
}

// `argv` under Wine on the terminal, to its end.
struct TerminalRun {
  bool ended = false;
  int exitCode = -1;
  // Every row, each as a line of the report would be: its text and CR LF.
  std::string rows;
  std::string screen;
};

TerminalRun OnTerminal(std::vector<std::string> argv, const winebed::Stage& stage) {
  harness::Options options = winebed::ProgramOptions(
      Build::windows, std::move(argv), stage.Work(Build::windows).string(),
      stage.Environment(), false);
  options.rows = rows;
  options.columns = columns;
  harness::Terminal terminal(options);
  TerminalRun run;
  run.ended = terminal.WaitForExit(60000);
  run.exitCode = terminal.ExitCode();
  for (int row = 0; row < rows; ++row) run.rows += terminal.Row(row) + "\r\n";
  run.screen = terminal.Describe();
  return run;
}

// What a terminal shows of `report`, a report in a file, from its top
// row: the location lines and at most 9 back-trace lines (the walk's limit
// on a character device), the empty line, and blank rows below.
std::string ShownOnTerminal(const std::string& bytes,
                            const ParsedReport& report) {
  std::size_t count = std::min<std::size_t>(report.backTrace.size(), 9) + 2;
  std::size_t end = 0;
  for (std::size_t line = 0; line < count; ++line) end = bytes.find("\r\n", end) + 2;
  std::string shown = bytes.substr(0, end);
  for (std::size_t row = count; row < static_cast<std::size_t>(rows); ++row) {
    shown += "\r\n";
  }
  return shown;
}

// ---------------------------------------------------------------------------
// The worked case: no wget.exe, no "1.zvd"
// ---------------------------------------------------------------------------

TEST(WineRuntimeReport, MissingCatalogueReportsTheLoaderCheck) {
  SKIP_UNLESS_PRESENT(Missing());
  const std::string program = winebed::ProgramPath(Build::windows);
  winebed::Stage stage;
  fs::path output = stage.Work(Build::windows) / "report.out";

  runtime_test::ProcessResult run =
      runtime_test::RunProcess(UnderWine({program}, stage, output));
  ASSERT_TRUE(run.finished) << run.startError;
  EXPECT_EQ(run.exitCode, 2);
  // The standard output is a file: the report lands in it, CR LF lines.
  std::string bytes = e2e::ReadBytes(output);
  ParsedReport report = ParseReport(bytes);
  ASSERT_EQ(report.problem, "") << bytes;
  EXPECT_EQ(report.code, 2);
  // The check in the loader, the loader's call in the main body, the main
  // body's call in the start-up code; nothing beyond.
  ASSERT_EQ(report.backTrace.size(), 2u) << bytes;
  EXPECT_EQ(RoutineAt(program, report.location), "LoadCatalogue");
  EXPECT_EQ(RoutineAt(program, report.backTrace[0]), "MainBody");
  EXPECT_EQ(RoutineAt(program, report.backTrace[1]), "StartRun");
  // No catalogue file was fetched.
  for (const char* name : {"1.zvd", "2.zvd", "3.zvd"}) {
    EXPECT_FALSE(fs::exists(stage.Work(Build::windows) / name)) << name;
  }

  // On the terminal: the same lines, where the cleared console starts.
  TerminalRun shown = OnTerminal({program}, stage);
  ASSERT_TRUE(shown.ended) << shown.screen;
  EXPECT_EQ(shown.exitCode, 2);
  EXPECT_EQ(shown.rows, ShownOnTerminal(bytes, report))
      << shown.screen;
}

// ---------------------------------------------------------------------------
// Processor faults
// ---------------------------------------------------------------------------

// Each fault stops the run once, with its code, its report and its exit
// status; the report's place is the faulting routine. A stack overflow
// too: the stop runs on a stack of its own, and its walk finds the whole
// chain of frames, cut at 257 lines in a file and at 9 on a terminal.
TEST(WineRuntimeReport, ProcessorFaultsStopWithTheirCodes) {
  SKIP_UNLESS_PRESENT(Missing());
  struct Case {
    const char* fault;
    int code;
    const char* routine;
    std::size_t backTraceLines;  // in a file
  };
  const Case cases[] = {
      {"null-write", 216, "CauseNullWrite", 2},
      {"division-by-zero", 200, "CauseDivisionByZero", 2},
      // Windows raises an integer overflow (215) for a quotient too large;
      // Wine, told only of a divide error, raises a division by zero.
      {"quotient-overflow", 200, "CauseQuotientOverflow", 2},
      {"illegal-instruction", 216, "CauseIllegalInstruction", 2},
      {"privileged-instruction", 218, "CausePrivilegedInstruction", 2},
      {"stack-overflow", 202, "OverflowStack", 257},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    winebed::Stage stage;
    fs::path output = stage.Work(Build::windows) / "report.out";
    runtime_test::ProcessResult run = runtime_test::RunProcess(
        UnderWine({faultsProgram, c.fault}, stage, output));
    ASSERT_TRUE(run.finished) << run.startError;
    EXPECT_EQ(run.exitCode, c.code);
    std::string bytes = e2e::ReadBytes(output);
    ParsedReport report = ParseReport(bytes);
    ASSERT_EQ(report.problem, "") << bytes;
    EXPECT_EQ(report.code, c.code);
    EXPECT_EQ(RoutineAt(faultsProgram, report.location), c.routine);
    ASSERT_EQ(report.backTrace.size(), c.backTraceLines) << bytes;
    EXPECT_EQ(RoutineAt(faultsProgram, report.backTrace.back()),
              c.backTraceLines == 2 ? "StartRun" : c.routine);

    TerminalRun shown = OnTerminal({faultsProgram, c.fault}, stage);
    ASSERT_TRUE(shown.ended) << shown.screen;
    EXPECT_EQ(shown.exitCode, c.code);
    EXPECT_EQ(shown.rows, ShownOnTerminal(bytes, report)) << shown.screen;
  }
}

// ---------------------------------------------------------------------------
// Ctrl+C
// ---------------------------------------------------------------------------

// Ctrl+C at the prompt takes the system's default way out at once: no
// report, no exit sequence. The exit status is the platform's own: natively
// the process dies by SIGINT; on Windows it ends with STATUS_CONTROL_C_EXIT;
// Wine 8's default handler ends it with 0.
TEST(WineRuntimeReport, CtrlCAtThePromptEndsTheRunWithoutAReport) {
  SKIP_UNLESS_PRESENT(Missing());
  winebed::Stage stage;
  stage.LeaveCatalogue({{"1", "uno", "uno.txt"}});
  harness::Options options = winebed::ProgramOptions(
      Build::windows, {winebed::ProgramPath(Build::windows)},
      stage.Work(Build::windows).string(), stage.Environment(), false);
  options.rows = 8;
  options.columns = 40;
  harness::Terminal terminal(options);
  ASSERT_TRUE(winebed::WaitLooking(terminal, [&] {
    return terminal.Row(2) == ">" && !terminal.EchoOn();
  })) << terminal.Describe();
  terminal.Type("\x03");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.TermSignal(), 0);
  EXPECT_EQ(terminal.Screen(), "1 para descargar uno\n\n>\n" + std::string(5, '\n'))
      << terminal.Describe();
}

}  // namespace
