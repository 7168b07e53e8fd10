// The line editor of the Windows build, over Wine's console input, against
// the native build's over the terminal key decoder: the same keys typed at
// the prompt and at both pauses must leave the same screen. And whole runs
// of both builds with the standard input a file or closed.
//
// Wine hands the terminal back in its original mode after a Unix child
// (wget, through the bridge) has run, echo included, and then reads keys
// with the terminal echoing them behind its console. So both builds run
// under a shell that turns the terminal's echo off first, as a Windows
// console never echoes on its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/harness/terminal.h"
#include "tests/wine/wine_bed.h"

namespace {

using winebed::Build;

const std::vector<winebed::Entry> catalogue = {
    {"1", "Uno", "uno.txt"},
    {"g", "Gu\xed" "a", "guia.txt"},
};

struct Keys {
  std::string waitFor;  // on the screen before the keys are typed
  std::string keys;
};

// At the prompt "abc", Home, "g": the line reads "gbc" and chooses "g".
// At the first pause: "x", Backspace, Enter: a plain Enter, so the final
// pause waits for a line of its own: Left on an empty line, "yz", Enter.
const std::vector<Keys> editing = {
    {"> ", "abc"},
    {"> abc", "\x1b[Hg"},
    {"> gbc", "\r"},
    {"Pulsa ENTER para continuar.", "x\x7f\r"},
    {"Listo.", "\x1b[Dyz\r"},
};

struct Screen {
  std::string failure;
  std::string rows;
  harness::Position cursor{0, 0};
  int exitCode = -1;
};

Screen TypeInto(winebed::Stage& stage, Build build) {
  std::string program = winebed::ProgramPath(build);
  std::vector<std::string> environment = stage.Environment();
  if (build == Build::windows) {
    program = "wine " + program;
    for (const std::string& entry : winebed::WineEnvironment()) {
      environment.push_back(entry);
    }
  }
  // The native build is started as a plain program from the shell.
  harness::Options options = winebed::ProgramOptions(
      Build::native, {"/bin/sh", "-c", "stty -echo && exec " + program},
      stage.Work(build).string(), environment);
  options.rows = 12;
  options.columns = 50;
  harness::Terminal terminal(options);
  Screen screen;
  for (const Keys& step : editing) {
    if (!terminal.WaitForText(step.waitFor)) {
      screen.failure = "\"" + step.waitFor + "\" never showed:\n" +
                       terminal.Describe();
      return screen;
    }
    terminal.Type(step.keys);
  }
  if (!terminal.WaitForExit()) {
    screen.failure = "the run did not end:\n" + terminal.Describe();
  }
  screen.rows = terminal.Screen();
  screen.cursor = terminal.Cursor();
  screen.exitCode = terminal.ExitCode();
  return screen;
}

TEST(WineLineEditor, BothBuildsEditAlike) {
  WINEBED_REQUIRE(Build::native);
  WINEBED_REQUIRE(Build::windows);
  winebed::Stage stage;
  stage.ServeCatalogue(catalogue);
  ASSERT_TRUE(stage.StartServer());

  Screen native = TypeInto(stage, Build::native);
  ASSERT_EQ(native.failure, "");
  Screen windows = TypeInto(stage, Build::windows);
  ASSERT_EQ(windows.failure, "");
  EXPECT_EQ(native.exitCode, 0);
  EXPECT_EQ(windows.exitCode, 0);
  EXPECT_NE(native.rows.find("Gu\xc3\xad" "a"), std::string::npos)
      << native.rows;
  EXPECT_EQ(windows.rows, native.rows);
  EXPECT_EQ(windows.cursor, native.cursor);
}

// ---------------------------------------------------------------------------
// Standard input that is no console
// ---------------------------------------------------------------------------

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

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
    std::ofstream(inputFile, std::ios::binary) << input;
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
    EXPECT_EQ(ReadFile(stage.Work(build) / "guia.txt"),
              ReadFile(stage.Served("guia.txt")));
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
    EXPECT_EQ(ReadFile(stage.Work(build) / "uno.txt"),
              ReadFile(stage.Served("uno.txt")));
  }
}

}  // namespace
