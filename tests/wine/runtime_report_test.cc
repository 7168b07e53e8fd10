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

class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/catalogo-wine-report-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (!path_.empty()) fs::remove_all(path_);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string Missing() {
  std::string missing = winebed::Missing(Build::windows);
  if (!missing.empty()) return missing;
  if (!fs::exists(faultsProgram)) return "no " + faultsProgram + " (build the Windows tree)";
  if (access(addr2line, X_OK) != 0) {
    return std::string(addr2line) + " is missing (binutils-mingw-w64-x86-64)";
  }
  return "";
}

// The whole environment of `windowsProgram` run by Wine with no terminal:
// no wget.exe on its search path.
runtime_test::ProcessOptions UnderWine(std::vector<std::string> argv,
                                       const fs::path& directory,
                                       const fs::path& output) {
  runtime_test::ProcessOptions options;
  options.argv = {"/usr/bin/wine"};
  options.argv.insert(options.argv.end(), argv.begin(), argv.end());
  options.environment = winebed::WineEnvironment(false);
  options.environment.push_back("PATH=/usr/bin:/bin");
  options.environment.push_back("HOME=" + directory.string());
  options.workingDirectory = directory.string();
  options.output = runtime_test::OutputTo::file;
  options.outputFile = output.string();
  options.timeoutMs = 60000;
  return options;
}

// The routine that addr2line names at `offset` in `image` (the outermost
// of those inlined there), without its parameters; "" if none.
std::string RoutineAt(const std::string& image, std::uint32_t offset) {
  pe::Image headers;
  if (!pe::LoadImage(image, &headers).empty()) return "";
  char address[32];
  snprintf(address, sizeof address, "0x%llx",
           static_cast<unsigned long long>(headers.imageBase + offset));
  runtime_test::ProcessOptions options;
  options.argv = {addr2line, "-f", "-i", "-C", "-e", image, address};
  runtime_test::ProcessResult run = runtime_test::RunProcess(options);
  if (!run.finished || run.exitCode != 0) return "";
  // Pairs of lines, innermost first: a function, then its file and line.
  std::vector<std::string> functions;
  std::size_t start = 0;
  for (int line = 0; start < run.output.size(); ++line) {
    std::size_t end = run.output.find('\n', start);
    if (end == std::string::npos) end = run.output.size();
    if (line % 2 == 0) functions.push_back(run.output.substr(start, end - start));
    start = end + 1;
  }
  if (functions.empty()) return "";
  std::string routine = functions.back();
  routine = routine.substr(0, routine.find('('));
  std::size_t scope = routine.rfind("::");
  return scope == std::string::npos ? routine : routine.substr(scope + 2);
}

// The rows of the screen from the one that starts the report, up to and
// including the first empty row after it.
std::vector<std::string> ReportRows(const harness::Terminal& terminal) {
  std::vector<std::string> shown;
  int row = 0;
  while (row < terminal.Rows() && terminal.Row(row).rfind("Runtime error ", 0) != 0) {
    ++row;
  }
  for (; row < terminal.Rows(); ++row) {
    shown.push_back(terminal.Row(row));
    if (shown.back().empty()) break;
  }
  return shown;
}

// The report's lines as the bytes hold them, without their CR LF.
std::vector<std::string> LinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(bytes.substr(start, end - start));
  }
  return lines;
}

// `argv` under Wine on the terminal, to its end.
struct TerminalRun {
  bool ended = false;
  int exitCode = -1;
  std::vector<std::string> report;
  std::string screen;
};

TerminalRun OnTerminal(std::vector<std::string> argv, const fs::path& directory) {
  harness::Options options = winebed::ProgramOptions(
      Build::windows, std::move(argv), directory.string(),
      {"HOME=" + directory.string()}, false);
  options.rows = rows;
  options.columns = columns;
  harness::Terminal terminal(options);
  TerminalRun run;
  run.ended = terminal.WaitForExit(60000);
  run.exitCode = terminal.ExitCode();
  run.report = ReportRows(terminal);
  run.screen = terminal.Describe();
  return run;
}

// ---------------------------------------------------------------------------
// The worked case: no wget.exe, no "1.zvd"
// ---------------------------------------------------------------------------

TEST(WineRuntimeReport, MissingCatalogueReportsTheLoaderCheck) {
  SKIP_UNLESS_PRESENT(Missing());
  const std::string program = winebed::ProgramPath(Build::windows);
  ScratchDirectory directory;
  fs::path output = directory.Path() / "report.out";

  runtime_test::ProcessResult run =
      runtime_test::RunProcess(UnderWine({program}, directory.Path(), output));
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
    EXPECT_FALSE(fs::exists(directory.Path() / name)) << name;
  }

  // On the terminal: the same lines, where the cleared console starts.
  TerminalRun shown = OnTerminal({program}, directory.Path());
  ASSERT_TRUE(shown.ended) << shown.screen;
  EXPECT_EQ(shown.exitCode, 2);
  std::vector<std::string> lines = LinesOf(bytes);
  EXPECT_EQ(shown.report, lines) << shown.screen;
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
      {"illegal-instruction", 216, "CauseIllegalInstruction", 2},
      {"stack-overflow", 202, "OverflowStack", 257},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ScratchDirectory directory;
    fs::path output = directory.Path() / "report.out";
    runtime_test::ProcessResult run = runtime_test::RunProcess(
        UnderWine({faultsProgram, c.fault}, directory.Path(), output));
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

    TerminalRun shown = OnTerminal({faultsProgram, c.fault}, directory.Path());
    ASSERT_TRUE(shown.ended) << shown.screen;
    EXPECT_EQ(shown.exitCode, c.code);
    std::vector<std::string> lines = LinesOf(bytes);
    std::size_t onTerminal = std::min<std::size_t>(lines.size() - 1, 2 + 9);
    std::vector<std::string> expected(lines.begin(), lines.begin() + onTerminal);
    expected.push_back("");
    EXPECT_EQ(shown.report, expected) << shown.screen;
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
