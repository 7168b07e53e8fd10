// The end of a run on a real terminal: the report where the cursor stands,
// its walk cut after 9 lines, and Ctrl+C taking the default way out.
//
// The report on the terminal is compared with the same run's report in a
// file or a pipe (tests/unit/runtime_stop_test.cc resolves those addresses
// with addr2line): the addresses are offsets in the image, the same in
// every run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/harness/terminal.h"
#include "tests/unit/runtime_process.h"

namespace {

namespace fs = std::filesystem;

const std::string catalogo = CATALOGO_PATH;
const std::string driver = std::string(TEST_DRIVER_DIR) + "/runtime_stops";

constexpr int rows = 24;
constexpr int columns = 80;

class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/catalogo-screen-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDirectory() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

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

// The rows of the screen from the one that starts the report, up to and
// including the first empty row after it.
std::vector<std::string> ReportRows(const harness::Terminal& terminal) {
  std::vector<std::string> shown;
  int row = 0;
  while (row < terminal.Rows() &&
         terminal.Row(row).rfind("Runtime error ", 0) != 0) {
    ++row;
  }
  for (; row < terminal.Rows(); ++row) {
    shown.push_back(terminal.Row(row));
    if (shown.back().empty()) break;
  }
  return shown;
}

harness::Options OnTerminal(std::vector<std::string> argv,
                            const fs::path& directory) {
  harness::Options options;
  options.argv = std::move(argv);
  options.rows = rows;
  options.columns = columns;
  options.workingDirectory = directory.string();
  // No downloader: the catalogue files are what the directory holds.
  options.environment = {"PATH=/nonexistent"};
  return options;
}

// The same run with its standard output on a pipe.
std::vector<std::string> ReportInPipe(std::vector<std::string> argv,
                                      const fs::path& directory) {
  runtime_test::ProcessOptions options;
  options.argv = std::move(argv);
  options.environment = {"PATH=/nonexistent"};
  options.workingDirectory = directory.string();
  runtime_test::ProcessResult run = runtime_test::RunProcess(options);
  EXPECT_TRUE(run.finished) << run.startError;
  return LinesOf(run.output);
}

TEST(RuntimeReport, MissingCatalogueFileShowsTheReportOnTheTerminal) {
  ScratchDirectory directory;
  harness::Terminal terminal(OnTerminal({catalogo}, directory.Path()));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.ExitCode(), 2);

  std::vector<std::string> expected = ReportInPipe({catalogo}, directory.Path());
  ASSERT_EQ(expected.size(), 5u);
  EXPECT_EQ(ReportRows(terminal), expected) << terminal.Describe();
  // Nothing else reaches the terminal: no standard error, no other text.
  std::string screen;
  for (const std::string& line : expected) screen += line + "\n";
  screen += std::string(rows - expected.size(), '\n');
  EXPECT_EQ(terminal.Screen(), screen);
}

TEST(RuntimeReport, WalkStopsAfterNineLinesOnATerminal) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
  };
  const Case cases[] = {
      // Depth d gives d + 3 back-trace lines in all.
      {"whole chain of 9 lines", {"recursion", "6"}, 3},
      {"one frame too many", {"recursion", "7"}, 3},
      {"deep recursion", {"recursion", "500"}, 3},
      {"stack overflow", {"stack-overflow"}, 202},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDirectory directory;
    std::vector<std::string> argv = {driver};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    harness::Terminal terminal(OnTerminal(argv, directory.Path()));
    ASSERT_TRUE(terminal.Started()) << terminal.StartError();
    ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
    EXPECT_EQ(terminal.ExitCode(), c.exitCode);

    // The location line, its repetition, 9 back-trace lines, the empty
    // line: the first lines of the same report away from a terminal.
    std::vector<std::string> whole = ReportInPipe(argv, directory.Path());
    ASSERT_GE(whole.size(), 12u);
    std::vector<std::string> expected(whole.begin(), whole.begin() + 11);
    expected.push_back("");
    EXPECT_EQ(ReportRows(terminal), expected) << terminal.Describe();
  }
}

// ---------------------------------------------------------------------------
// Ctrl+C
// ---------------------------------------------------------------------------

void WriteCatalogue(const fs::path& directory) {
  std::ofstream(directory / "1.zvd", std::ios::binary) << "1\r\n";
  std::ofstream(directory / "2.zvd", std::ios::binary) << "uno\r\n";
  std::ofstream(directory / "3.zvd", std::ios::binary) << "uno.bin\r\n";
}

TEST(RuntimeReport, CtrlCAtThePromptEndsTheRunByTheSignal) {
  ScratchDirectory directory;
  WriteCatalogue(directory.Path());
  harness::Terminal terminal(OnTerminal({catalogo}, directory.Path()));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type("\x03");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.TermSignal(), SIGINT);
  EXPECT_EQ(terminal.Screen().find("Runtime error"), std::string::npos)
      << terminal.Describe();
}

TEST(RuntimeReport, CtrlCAtThePromptLeavesTheTerminalInItsMode) {
  // A shell that survives the Ctrl+C (its trap is not inherited) compares
  // the terminal's mode before and after the program.
  ScratchDirectory directory;
  WriteCatalogue(directory.Path());
  harness::Options options;
  options.argv = {"/bin/bash", "-c",
                  "trap : INT; before=$(stty -g); PATH=/nonexistent \"$0\";"
                  " status=$?; after=$(stty -g);"
                  " if [ \"$before\" = \"$after\" ]; then mode=same;"
                  " else mode=changed; fi; printf '\\r\\n%s %s\\r\\n'"
                  " \"$status\" \"$mode\"",
                  catalogo};
  options.rows = rows;
  options.columns = columns;
  options.workingDirectory = directory.Path().string();
  harness::Terminal terminal(options);
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type("\x03");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  // 130: ended by SIGINT.
  EXPECT_TRUE(terminal.WaitForText("130 same", 0)) << terminal.Describe();
  EXPECT_EQ(terminal.Screen().find("Runtime error"), std::string::npos);
}

}  // namespace
