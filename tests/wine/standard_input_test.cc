// Whole runs of both builds with the standard input a file or closed: the
// line editor then takes its lines from the input's bytes, and a run never
// waits for keys that cannot come.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/files.h"
#include "tests/harness/terminal.h"
#include "tests/wine/wine_bed.h"

namespace {

using winebed::Build;

const std::vector<winebed::Entry> catalogue = {
    {"1", "Uno", "uno.txt"},
    {"g", "Gu\xed" "a", "guia.txt"},
};

struct InputRun {
  bool ended = false;
  int exitCode = -1;
  std::string screen;
};

// A whole run of `build` with its standard input from `input` (a file with
// those bytes), or closed when `input` is null.
InputRun RunWithInput(winebed::Stage& stage, Build build, const char* input) {
  harness::Options options = winebed::ProgramOptions(
      build, {winebed::ProgramPath(build)}, stage.Work(build).string(),
      stage.Environment());
  options.rows = 12;
  options.columns = 50;
  std::filesystem::path inputFile = stage.Work(build) / "typed-input";
  if (input == nullptr) {
    options.standardInput = harness::Options::Input::closed;
  } else {
    e2e::WriteBytes(inputFile, input);
    options.standardInput = harness::Options::Input::file;
    options.standardInputFile = inputFile.string();
  }
  harness::Terminal terminal(options);
  InputRun run;
  run.ended = terminal.WaitForExit(30000);
  run.exitCode = terminal.ExitCode();
  run.screen = terminal.Describe();
  std::filesystem::remove(inputFile);
  return run;
}

// "printf 'g\n\n' | catalogo" downloads entry "g": the choice and both
// pauses are lines of the input.
TEST(ProgramInput, ARunDrivenByAFile) {
  for (Build build : {Build::native, Build::windows}) {
    SCOPED_TRACE(winebed::BuildName(build));
    WINEBED_REQUIRE(build);
    winebed::Stage stage;
    stage.ServeCatalogue(catalogue);
    ASSERT_TRUE(stage.StartServer());
    InputRun run = RunWithInput(stage, build, "g\r\n\n");
    ASSERT_TRUE(run.ended) << run.screen;
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_NE(run.screen.find("Listo."), std::string::npos) << run.screen;
    EXPECT_EQ(e2e::ReadBytes(stage.Work(build) / "guia.txt"),
              e2e::ReadBytes(stage.Served("guia.txt")));
  }
}

// When the input runs out the reads see the end of the data: the run goes
// on to its end instead of waiting. A closed input chooses nothing (no
// entry has the end-of-data byte as its key); an input that ends after the
// choice still downloads it.
TEST(ProgramInput, ARunEndsWhenItsInputRunsOut) {
  for (Build build : {Build::native, Build::windows}) {
    SCOPED_TRACE(winebed::BuildName(build));
    WINEBED_REQUIRE(build);
    winebed::Stage stage;
    stage.ServeCatalogue(catalogue);
    ASSERT_TRUE(stage.StartServer());

    InputRun closed = RunWithInput(stage, build, nullptr);
    ASSERT_TRUE(closed.ended) << closed.screen;
    EXPECT_EQ(closed.exitCode, 1) << closed.screen;

    InputRun choiceOnly = RunWithInput(stage, build, "1\n");
    ASSERT_TRUE(choiceOnly.ended) << choiceOnly.screen;
    EXPECT_EQ(choiceOnly.exitCode, 0) << choiceOnly.screen;
    EXPECT_EQ(e2e::ReadBytes(stage.Work(build) / "uno.txt"),
              e2e::ReadBytes(stage.Served("uno.txt")));
  }
}

}  // namespace
