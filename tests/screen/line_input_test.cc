// The line input when the standard input is a file or closed: the whole
// run of a program, in a real terminal. The program is
// tests/drivers/console_lines:
// prompt "> ", a line read from ConsoleInput, "[line]" on the standard
// output, and "end" at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/harness/terminal.h"

namespace {

const std::string consoleLines = std::string(TEST_DRIVER_DIR) + "/console_lines";

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "line_input_" + std::to_string(getpid()) +
         "_" + name;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

harness::Options Driver(int lines, int rows = 6, int columns = 30) {
  harness::Options options;
  options.argv = {consoleLines, std::to_string(lines)};
  options.rows = rows;
  options.columns = columns;
  return options;
}

// ---------------------------------------------------------------------------
// Standard input that is no console
// ---------------------------------------------------------------------------

struct FileRun {
  bool ended;
  int exitCode;
  std::string output;
  std::string describe;
};

FileRun RunWithInput(harness::Options::Input input, const std::string& bytes) {
  harness::Options options = Driver(20);
  options.standardInput = input;
  options.standardInputFile = TempPath("input");
  options.standardOutputFile = TempPath("output");
  if (input == harness::Options::Input::file) {
    std::ofstream(options.standardInputFile, std::ios::binary) << bytes;
  }
  harness::Terminal terminal(options);
  FileRun run{false, -1, "", ""};
  if (!terminal.Started()) {
    run.describe = terminal.StartError();
    return run;
  }
  run.ended = terminal.WaitForExit();
  run.exitCode = terminal.ExitCode();
  run.output = ReadWhole(options.standardOutputFile);
  run.describe = terminal.Describe();
  std::remove(options.standardInputFile.c_str());
  std::remove(options.standardOutputFile.c_str());
  return run;
}

TEST(LineInput, ReadsLinesFromAFileAndEndsWithIt) {
  FileRun run = RunWithInput(harness::Options::Input::file,
                             "2\n\nthird line\r\n" + std::string(300, 'x') +
                                 "\nlast, no line end");
  ASSERT_TRUE(run.ended) << run.describe;
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "[2]\r\n[]\r\n[third line]\r\n[" +
                            std::string(254, 'x') +
                            "]\r\n[last, no line end]\r\nend\r\n");
}

TEST(LineInput, AClosedStandardInputEndsTheRun) {
  FileRun run = RunWithInput(harness::Options::Input::closed, "");
  ASSERT_TRUE(run.ended) << run.describe;
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "end\r\n");
}

// With the output on the terminal, the terminal is opened for its reports:
// it must not take the closed input's descriptor and become the input.
TEST(LineInput, AClosedStandardInputEndsTheRunInATerminal) {
  harness::Options options = Driver(20);
  options.standardInput = harness::Options::Input::closed;
  harness::Terminal terminal(options);
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.ExitCode(), 0);
  EXPECT_NE(terminal.Screen().find("end"), std::string::npos)
      << terminal.Describe();
}

TEST(LineInput, AnEmptyFileEndsTheRun) {
  FileRun run = RunWithInput(harness::Options::Input::file, "");
  ASSERT_TRUE(run.ended) << run.describe;
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "end\r\n");
}

}  // namespace
