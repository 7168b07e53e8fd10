// The harness itself, driven by small shell programs whose effect on a
// terminal is known.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/harness/terminal.h"

namespace {

harness::Options Shell(const std::string& script, int rows = 6,
                       int columns = 20) {
  harness::Options options;
  options.argv = {"/bin/bash", "-c", script};
  options.rows = rows;
  options.columns = columns;
  return options;
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "harness_" + std::to_string(getpid()) + "_" +
         name;
}

TEST(Harness, ShowsRowsAndCursor) {
  harness::Terminal terminal(Shell("printf 'one\\r\\ntwo\\r\\n  three'"));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Row(0), "one");
  EXPECT_EQ(terminal.Row(1), "two");
  EXPECT_EQ(terminal.Row(2), "  three");
  EXPECT_EQ(terminal.Row(3), "");
  EXPECT_EQ(terminal.Cursor(), (harness::Position{2, 7}));
  EXPECT_EQ(terminal.Screen(), "one\ntwo\n  three\n\n\n\n");
  // The terminal turns each LF into CR LF (ONLCR): 17 bytes become 19.
  EXPECT_EQ(terminal.BytesReceived(), 19u);
  EXPECT_GE(terminal.ReadChunks(), 1u);
}

TEST(Harness, WrapsAndScrollsLikeATerminal) {
  // 25 letters on a 20-column terminal, then enough lines to scroll twice.
  harness::Terminal terminal(
      Shell("printf 'abcdefghijklmnopqrstuvwxy\\r\\n1\\r\\n2\\r\\n3\\r\\n4\\r\\n5'"));
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Row(0), "uvwxy");
  EXPECT_EQ(terminal.Row(5), "5");
  EXPECT_EQ(terminal.LinesScrolledOff(), 1);
}

TEST(Harness, ReportsExitCodeAndSignal) {
  struct Case {
    const char* name;
    const char* script;
    int exitCode;
    int signal;
  };
  const Case cases[] = {
      {"normal end", "exit 0", 0, 0},
      {"exit code", "exit 3", 3, 0},
      {"killed by SIGTERM", "kill -TERM $$", -1, SIGTERM},
      {"killed by SIGINT", "kill -INT $$", -1, SIGINT},
  };
  for (const Case& c : cases) {
    harness::Terminal terminal(Shell(c.script));
    ASSERT_TRUE(terminal.WaitForExit()) << c.name << "\n" << terminal.Describe();
    EXPECT_EQ(terminal.ExitCode(), c.exitCode) << c.name;
    EXPECT_EQ(terminal.TermSignal(), c.signal) << c.name;
  }
}

TEST(Harness, AnswersCursorPositionQuery) {
  // The program moves the cursor, asks where it is and prints the answer.
  harness::Terminal terminal(Shell(
      "stty raw -echo; printf '\\033[3;5H\\033[6n';"
      " IFS= read -r -d R reply; stty sane;"
      " printf '\\r\\ngot %s\\r\\n' \"${reply#?}\""));
  ASSERT_TRUE(terminal.WaitForText("got [3;5")) << terminal.Describe();
  EXPECT_GT(terminal.AnswerBytes(), 0u);
  ASSERT_TRUE(terminal.WaitForExit());
  EXPECT_EQ(terminal.ExitCode(), 0);
}

TEST(Harness, CanPlayATerminalThatDoesNotAnswer) {
  harness::Options options = Shell(
      "stty raw -echo; printf '\\033[6n';"
      " if IFS= read -r -t 0.3 -d R reply; then echo answered;"
      " else echo silent; fi; stty sane");
  options.answerQueries = false;
  harness::Terminal terminal(options);
  ASSERT_TRUE(terminal.WaitForText("silent")) << terminal.Describe();
  EXPECT_EQ(terminal.AnswerBytes(), 0u);
}

TEST(Harness, TypesIntoTheProgram) {
  harness::Terminal terminal(
      Shell("printf 'name? '; read line; echo \"<$line>\""));
  ASSERT_TRUE(terminal.WaitForText("name?")) << terminal.Describe();
  terminal.Type("abc");
  terminal.PressKey(VTERM_KEY_ENTER);
  ASSERT_TRUE(terminal.WaitForText("<abc>")) << terminal.Describe();
  ASSERT_TRUE(terminal.WaitForExit());
}

TEST(Harness, ReadsColoursTitleAndKeyModes) {
  harness::Terminal terminal(Shell(
      "printf '\\033]2;the title\\007\\033[31;44mX\\033[0mY\\033[93;100mZ"
      "\\033=\\033[?1h'; read"));
  ASSERT_TRUE(terminal.WaitForText("XYZ")) << terminal.Describe();
  harness::Cell x = terminal.CellAt(0, 0);
  EXPECT_EQ(x.text, "X");
  EXPECT_EQ(x.foreground, 1);
  EXPECT_EQ(x.background, 4);
  harness::Cell y = terminal.CellAt(0, 1);
  EXPECT_EQ(y.foreground, harness::defaultColor);
  EXPECT_EQ(y.background, harness::defaultColor);
  harness::Cell z = terminal.CellAt(0, 2);
  EXPECT_EQ(z.foreground, 11);
  EXPECT_EQ(z.background, 8);
  EXPECT_EQ(terminal.CellAt(0, 3).text, "");
  EXPECT_EQ(terminal.Title(), "the title");
  EXPECT_TRUE(terminal.KeypadApplicationMode());
  EXPECT_TRUE(terminal.CursorKeysApplicationMode());
  EXPECT_EQ(terminal.UnrecognisedSequences(), 0);
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForExit());
}

TEST(Harness, DefaultModesAndUnrecognisedSequences) {
  harness::Terminal terminal(Shell("printf 'a\\033[5;5zb'; read"));
  ASSERT_TRUE(terminal.WaitForText("ab")) << terminal.Describe();
  EXPECT_FALSE(terminal.KeypadApplicationMode());
  EXPECT_FALSE(terminal.CursorKeysApplicationMode());
  EXPECT_EQ(terminal.UnrecognisedSequences(), 1);
}

TEST(Harness, RedirectsStandardStreams) {
  std::string in = TempPath("in.txt");
  std::string out = TempPath("out.txt");
  {
    std::ofstream file(in);
    file << "from the file\n";
  }
  harness::Options options =
      Shell("read line; echo \"out:$line\"; echo err >&2; echo \"$EXTRA\"; pwd >&2");
  options.standardInput = harness::Options::Input::file;
  options.standardInputFile = in;
  options.standardOutputFile = out;
  options.environment = {"EXTRA=given"};
  options.workingDirectory = "/tmp";
  options.columns = 40;
  harness::Terminal terminal(options);
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Row(0), "err");
  EXPECT_EQ(terminal.Row(1), "/tmp");
  std::ifstream file(out);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "out:from the file\ngiven\n");
  unlink(in.c_str());
  unlink(out.c_str());
}

TEST(Harness, ClosedStandardInput) {
  harness::Options options =
      Shell("if read -r line 2>/dev/null; then echo read; else echo closed; fi");
  options.standardInput = harness::Options::Input::closed;
  harness::Terminal terminal(options);
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.Row(0), "closed");
}

TEST(Harness, ReportsAProgramThatCannotStart) {
  harness::Options options;
  options.argv = {"/nonexistent/program"};
  harness::Terminal terminal(options);
  EXPECT_FALSE(terminal.Started());
  EXPECT_NE(terminal.StartError().find("exec"), std::string::npos)
      << terminal.StartError();
}

TEST(Harness, ResizeReachesTheProgram) {
  harness::Terminal terminal(Shell(
      "trap 'echo \"size $(stty size)\"' WINCH; echo ready;"
      " while :; do read -t 0.05 && break; done"));
  ASSERT_TRUE(terminal.WaitForText("ready")) << terminal.Describe();
  terminal.Resize(8, 30);
  ASSERT_TRUE(terminal.WaitForText("size 8 30")) << terminal.Describe();
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForExit());
}

}  // namespace
