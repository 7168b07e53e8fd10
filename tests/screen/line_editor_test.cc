// The line editor in a real terminal. The program is
// tests/drivers/console_lines:
// prompt "> ", a line read from ConsoleInput, "[line]" on the standard
// output, and "end" at the end.
#include <gtest/gtest.h>
#include <string>

#include "tests/harness/terminal.h"

namespace {

const std::string consoleLines = std::string(TEST_DRIVER_DIR) + "/console_lines";

harness::Options Driver(int lines, int rows = 6, int columns = 30) {
  harness::Options options;
  options.argv = {consoleLines, std::to_string(lines)};
  options.rows = rows;
  options.columns = columns;
  return options;
}

// ---------------------------------------------------------------------------
// Typing in a terminal
// ---------------------------------------------------------------------------

// Keys as the user types them, each step shown on the screen before the
// next: the echo comes from the editor, not from the terminal.
TEST(LineEditorScreen, EchoesAndEditsTheTypedLine) {
  harness::Terminal terminal(Driver(1));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();

  struct Step {
    const char* name;
    std::string keys;
    std::string row;  // row 0 afterwards
    int column;       // the cursor's
  };
  const Step steps[] = {
      {"typing", "abcd", "> abcd", 6},
      {"Backspace (DEL)", "\x7f", "> abc", 5},
      {"Left, Left", "\x1b[D\x1bOD", "> abc", 3},
      {"a letter overwrites", "X", "> aXc", 4},
      {"Backspace inside the line does nothing", "\x08", "> aXc", 4},
      {"Home", "\x1b[H", "> aXc", 2},
      {"End", "\x1b[4~", "> aXc", 5},
      {"Ctrl+Left does nothing", "\x1b[1;5D", "> aXc", 5},
      {"Alt+b (ESC b) does nothing", "\x1b" "b", "> aXc", 5},
      {"Esc clears", "\x1b", ">", 2},
      {"typing again", "n\xc3\xb1o/", "> n\xc3\xb1o/", 6},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    terminal.Type(step.keys);
    EXPECT_TRUE(terminal.WaitFor([&] {
      return terminal.Row(0) == step.row &&
             terminal.Cursor() == (harness::Position{0, step.column});
    })) << terminal.Describe();
  }
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.ExitCode(), 0);
  EXPECT_EQ(terminal.Row(1), "[n<241>o/]");
  EXPECT_EQ(terminal.Row(2), "end");
}

// Keypad keys in application keypad mode, as the emulator encodes them.
TEST(LineEditorScreen, KeypadEnterAndSlash) {
  harness::Terminal terminal(Driver(2));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  ASSERT_TRUE(terminal.WaitFor([&] { return terminal.KeypadApplicationMode(); }))
      << terminal.Describe();
  terminal.TypeCharacter('a');
  terminal.PressKey(VTERM_KEY_KP_DIVIDE);
  terminal.PressKey(VTERM_KEY_KP_5);
  terminal.PressKey(VTERM_KEY_KP_ENTER);
  terminal.TypeCharacter('b');
  terminal.PressKey(VTERM_KEY_KP_ENTER, VTERM_MOD_CTRL);
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Row(1), "[a/5]");
  EXPECT_EQ(terminal.Row(3), "[b]");
}

// Keys typed before the program asks for them are kept for the line.
TEST(LineEditorScreen, KeepsKeysTypedAhead) {
  harness::Terminal terminal(Driver(2));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  terminal.Type("first\rsecond\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("[first]"), std::string::npos)
      << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("[second]"), std::string::npos)
      << terminal.Describe();
}

TEST(LineEditorScreen, TakesAtMost254Bytes) {
  harness::Terminal terminal(Driver(1, 12, 40));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type(std::string(250, 'x'));
  terminal.Type("abcdefgh");
  ASSERT_TRUE(terminal.WaitForText("abcd")) << terminal.Describe();
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("xabcd]"), std::string::npos)
      << terminal.Describe();
  EXPECT_EQ(terminal.Screen().find("abcde"), std::string::npos)
      << terminal.Describe();
}

// ---------------------------------------------------------------------------
// The terminal's mode after the run
// ---------------------------------------------------------------------------

// A shell saves the terminal's mode, runs the driver, and tells whether
// the mode is the same afterwards; on Ctrl+C its trap tells.
harness::Options ModeCheck(const std::string& run) {
  const std::string compare =
      "if [ \"$saved\" = \"$(stty -g)\" ]; then echo MODE KEPT; "
      "else echo MODE CHANGED; fi";
  harness::Options options;
  options.argv = {"/bin/bash", "-c",
                  "saved=$(stty -g); trap '" + compare + "; exit' INT; " +
                      run + "; echo \"status $?\"; " + compare};
  options.rows = 8;
  options.columns = 40;
  return options;
}

TEST(LineEditorScreen, LeavesTheTerminalAsFoundAfterANormalEnd) {
  harness::Terminal terminal(ModeCheck(consoleLines + " 1"));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type("ok\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("status 0"), std::string::npos)
      << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("MODE KEPT"), std::string::npos)
      << terminal.Describe();
}

TEST(LineEditorScreen, LeavesTheTerminalAsFoundAfterAStop) {
  harness::Terminal terminal(ModeCheck(consoleLines + " 3"));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type("stop\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("Runtime error 2"), std::string::npos)
      << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("status 2"), std::string::npos)
      << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("MODE KEPT"), std::string::npos)
      << terminal.Describe();
}

TEST(LineEditorScreen, CtrlCEndsTheRunAtOnceAndLeavesTheTerminalAsFound) {
  harness::Terminal terminal(ModeCheck(consoleLines + " 3"));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
  terminal.Type("half a li");
  ASSERT_TRUE(terminal.WaitForText("half a li")) << terminal.Describe();
  terminal.Type("\x03");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Screen().find("[half"), std::string::npos)
      << terminal.Describe();
  EXPECT_NE(terminal.Screen().find("MODE KEPT"), std::string::npos)
      << terminal.Describe();
}

}  // namespace
