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
  std::string rows;
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
  run.rows = terminal.Screen();
  run.screen = terminal.Describe();
  std::filesystem::remove(inputFile);
  return run;
}

TEST(ProgramInput, BothBuildsRunFromTheirInputAlike) {
  WINEBED_REQUIRE(Build::native);
  WINEBED_REQUIRE(Build::windows);
  struct Case {
    const char* name;
    const char* input;  // null: closed
    int exitCode;
    const char* downloaded;  // null: nothing
  };
  const Case cases[] = {
      // "printf 'g\r\n\n' | catalogo": the choice and both pauses are
      // lines of the input.
      {"a run driven by a file", "g\r\n\n", 0, "guia.txt"},
      // When the input runs out the reads see the end of the data: the run
      // goes on to its end instead of waiting.
      {"input that ends after the choice", "1\n", 0, "uno.txt"},
      // No entry has the end-of-data byte as its key.
      {"closed input", nullptr, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winebed::Stage stage;
    stage.ServeCatalogue(catalogue);
    ASSERT_TRUE(stage.StartServer());
    InputRun runs[2];
    for (Build build : {Build::native, Build::windows}) {
      SCOPED_TRACE(winebed::BuildName(build));
      InputRun& run = runs[build == Build::native ? 0 : 1];
      run = RunWithInput(stage, build, c.input);
      ASSERT_TRUE(run.ended) << run.screen;
      EXPECT_EQ(run.exitCode, c.exitCode) << run.screen;
      for (const winebed::Entry& entry : catalogue) {
        bool chosen = c.downloaded != nullptr && entry.path == c.downloaded;
        EXPECT_EQ(e2e::ReadBytes(stage.Work(build) / entry.path),
                  chosen ? e2e::ReadBytes(stage.Served(entry.path)) : "")
            << entry.path;
      }
    }
    EXPECT_EQ(runs[1].rows, runs[0].rows) << runs[0].screen << runs[1].screen;
  }
}

}  // namespace
