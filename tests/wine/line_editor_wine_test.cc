// The line editor of the Windows build, over Wine's console input, against
// the native build's over the terminal key decoder: the same keys typed at
// the prompt and at both pauses must leave the same screen.
//
// Wine hands the terminal back in its original mode after a Unix child
// (wget, through the bridge) has run, echo included, and then reads keys
// with the terminal echoing them behind its console. So both builds run
// under a shell that turns the terminal's echo off first, as a Windows
// console never echoes on its own.
#include <gtest/gtest.h>

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

}  // namespace
