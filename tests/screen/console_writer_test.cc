// The console writer in a real terminal: ConsoleOutput through the POSIX
// console layer, seen through libvterm, on a small window so that wrapping
// and scrolling are cheap to show.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness/terminal.h"

namespace {

const char* const driver = TEST_DRIVER_DIR "/console_writer_driver";

harness::Options Writer(const std::vector<std::string>& steps, int rows = 6,
                        int columns = 20) {
  harness::Options options;
  options.argv = {driver};
  options.argv.insert(options.argv.end(), steps.begin(), steps.end());
  options.rows = rows;
  options.columns = columns;
  return options;
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "console_writer_" + std::to_string(getpid()) +
         "_" + name;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs the driver to its end; the screen and cursor are then final.
void RunToEnd(harness::Terminal& terminal) {
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  ASSERT_EQ(terminal.ExitCode(), 0) << terminal.Describe();
}

bool WaitingForKeys(harness::Terminal& terminal) {
  return terminal.WaitFor([&] { return terminal.KeypadApplicationMode(); });
}

struct ScreenCase {
  const char* name;
  std::vector<std::string> steps;
  std::vector<std::string> rows;  // from the top; the others are empty
  harness::Position cursor;
};

void ExpectScreen(const ScreenCase& c) {
  harness::Terminal terminal(Writer(c.steps));
  RunToEnd(terminal);
  for (int row = 0; row < terminal.Rows(); ++row) {
    std::string expected =
        row < static_cast<int>(c.rows.size()) ? c.rows[row] : "";
    EXPECT_EQ(terminal.Row(row), expected)
        << c.name << ", row " << row << "\n" << terminal.Describe();
  }
  EXPECT_EQ(terminal.Cursor(), c.cursor) << c.name << "\n" << terminal.Describe();
}

TEST(ConsoleWriter, WrapsAtTheRightEdgeAndScrollsAtTheBottom) {
  const ScreenCase cases[] = {
      {"text past the right edge goes on at the left edge one row down",
       {"text:abcdefghijklmnopqrstuvwxy", "push"},
       {"abcdefghijklmnopqrst", "uvwxy"},
       {1, 5}},
      {"text that fills the row leaves the cursor on the next row",
       {"text:abcdefghijklmnopqrst", "push"},
       {"abcdefghijklmnopqrst"},
       {1, 0}},
      {"a line end on the bottom row scrolls the window up one row",
       {"line:1", "line:2", "line:3", "line:4", "line:5", "line:6", "line:7"},
       {"3", "4", "5", "6", "7", ""},
       {5, 0}},
      {"wrapping past the bottom-right cell scrolls",
       {"line:1", "line:2", "line:3", "line:4", "line:5",
        "text:abcdefghijklmnopqrstXY", "push"},
       {"2", "3", "4", "5", "abcdefghijklmnopqrst", "XY"},
       {5, 2}},
  };
  for (const ScreenCase& c : cases) ExpectScreen(c);
}

TEST(ConsoleWriter, ControlBytesActAsTheWriterSays) {
  const ScreenCase cases[] = {
      {"7 shows nothing", {"text:ab\\x07c", "push"}, {"abc"}, {0, 3}},
      {"8 moves one cell left, erasing nothing",
       {"text:abc\\x08\\x08X", "push"}, {"aXc"}, {0, 2}},
      {"8 never moves past the left edge", {"text:\\x08\\x08ab", "push"},
       {"ab"}, {0, 2}},
      {"8 never moves back to the row above",
       {"text:abcdefghijklmnopqrstu\\x08\\x08\\x08X", "push"},
       {"abcdefghijklmnopqrst", "X"}, {1, 1}},
      {"10 moves one row down in the same column", {"text:ab\\ncd", "push"},
       {"ab", "  cd"}, {1, 4}},
      {"13 goes to the left edge", {"text:abc\\rX", "push"}, {"Xbc"}, {0, 1}},
      {"13 10 begins the next row", {"text:ab\\r\\ncd", "push"}, {"ab", "cd"},
       {1, 2}},
  };
  for (const ScreenCase& c : cases) ExpectScreen(c);
}

TEST(ConsoleWriter, WriteTextShowsAtThePushAndWriteLineAtOnce) {
  harness::Terminal terminal(
      Writer({"text:held back", "wait", "push", "wait", "line:at once", "wait"}));
  ASSERT_TRUE(WaitingForKeys(terminal)) << terminal.Describe();
  EXPECT_EQ(terminal.Screen().find("held"), std::string::npos)
      << terminal.Describe();
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForText("held back")) << terminal.Describe();
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForText("at once")) << terminal.Describe();
  terminal.Type("\r");
  RunToEnd(terminal);
}

TEST(ConsoleWriter, ClearScreenPutsTheNextWriteAtTheTopLeft) {
  const ScreenCase cases[] = {
      {"after the writer's own text",
       {"line:first", "line:second", "text:third", "push", "clear", "text:X",
        "push"},
       {"X"},
       {0, 1}},
      {"after what was written past the console",
       {"stdout:one\\r\\ntwo\\r\\nthree", "clear", "text:X", "push"},
       {"X"},
       {0, 1}},
  };
  for (const ScreenCase& c : cases) ExpectScreen(c);
}

TEST(ConsoleWriter, GoesOnWhereAnotherProgramLeftTheCursor) {
  const ScreenCase cases[] = {
      {"a child process",
       {"text:abc", "push", "child:printf \"[child]\\n\"", "text:after", "push"},
       {"abc[child]", "after"},
       {1, 5}},
      {"a child process whose output scrolls the terminal",
       {"text:abc", "push", "child:printf \"1\\n2\\n3\\n4\\n5\\n6\\n7\\n\"",
        "text:after", "push"},
       {"3", "4", "5", "6", "7", "after"},
       {5, 5}},
      {"a write through the standard output handle",
       {"text:abc", "push", "stdout:[out]\\r\\n", "text:after", "push"},
       {"abc[out]", "after"},
       {1, 5}},
      {"a write that leaves the cursor inside a row",
       {"line:first", "stdout:12345", "text:after", "push"},
       {"first", "12345after"},
       {1, 10}},
  };
  for (const ScreenCase& c : cases) ExpectScreen(c);
}

// The glyphs the cells must show, written out here independently of the
// layer's own table: the console glyphs for 0-31 (0 a blank), then ASCII,
// then ⌂ for 127, then Windows-1252 with U+FFFD for its five holes.
std::vector<std::string> ExpectedGlyphs() {
  const char* low[32] = {" ", "☺", "☻", "♥", "♦", "♣", "♠", "•",
                         "◘", "○", "◙", "♂", "♀", "♪", "♫", "☼",
                         "►", "◄", "↕", "‼", "¶", "§", "▬", "↨",
                         "↑", "↓", "→", "←", "∟", "↔", "▲", "▼"};
  const char* high[32] = {"€", "�", "‚", "ƒ", "„", "…", "†", "‡",
                          "ˆ", "‰", "Š", "‹", "Œ", "�", "Ž", "�",
                          "�", "‘", "’", "“", "”", "•", "–", "—",
                          "˜", "™", "š", "›", "œ", "�", "ž", "Ÿ"};
  std::vector<std::string> glyphs;
  for (int b = 0; b < 32; ++b) glyphs.push_back(low[b]);
  for (int b = 32; b < 127; ++b) glyphs.push_back(std::string(1, static_cast<char>(b)));
  glyphs.push_back("⌂");
  for (int b = 128; b < 160; ++b) glyphs.push_back(high[b - 128]);
  for (int b = 160; b < 256; ++b) {
    glyphs.push_back(std::string{static_cast<char>(0xC0 | (b >> 6)),
                                 static_cast<char>(0x80 | (b & 0x3F))});
  }
  return glyphs;
}

TEST(ConsoleWriter, EveryByteShowsAsOneCharacterAndChangesNoTerminalState) {
  struct Case {
    const char* name;
    const char* step;
    bool controlsAct;  // 7, 8, 10 and 13 act instead of showing
  };
  const Case cases[] = {
      {"bytes written into cells", "cells:0", false},
      {"bytes written through ConsoleOutput", "written", true},
  };
  std::vector<std::string> glyphs = ExpectedGlyphs();
  for (const Case& c : cases) {
    harness::Terminal terminal(Writer({c.step}, 10, 32));
    RunToEnd(terminal);
    int cell = 0;
    for (int b = 0; b < 256; ++b) {
      if (c.controlsAct && (b == 7 || b == 8 || b == 10 || b == 13)) continue;
      harness::Cell shown = terminal.CellAt(cell / 32, cell % 32);
      EXPECT_EQ(shown.text, glyphs[static_cast<std::size_t>(b)])
          << c.name << ", byte " << b;
      EXPECT_EQ(shown.width, 1) << c.name << ", byte " << b;
      EXPECT_EQ(shown.foreground, harness::defaultColor) << c.name << ", byte " << b;
      EXPECT_EQ(shown.background, harness::defaultColor) << c.name << ", byte " << b;
      ++cell;
    }
    EXPECT_EQ(terminal.Title(), "") << c.name;
    EXPECT_EQ(terminal.Bells(), 0) << c.name;
    EXPECT_EQ(terminal.UnrecognisedSequences(), 0) << c.name;
    EXPECT_TRUE(terminal.CursorVisible()) << c.name;
    EXPECT_FALSE(terminal.KeypadApplicationMode()) << c.name;
    EXPECT_FALSE(terminal.CursorKeysApplicationMode()) << c.name;
    EXPECT_EQ(terminal.LinesScrolledOff(), 0) << c.name;
  }
}

TEST(ConsoleWriter, EscapeSequencesInTextStayText) {
  // What a hostile catalogue name might hold: a title, colours, cursor-key
  // mode, keypad mode, a clear and a cursor move.
  harness::Terminal terminal(Writer(
      {"line:\\e]2;owned\\x07\\e[31;44m\\e[?1h\\e=\\e[2J\\e[HX"}, 6, 40));
  RunToEnd(terminal);
  // The bell (7) acts as the writer's control: it shows nothing.
  EXPECT_EQ(terminal.Row(0), "←]2;owned←[31;44m←[?1h←=←[2J←[HX");
  EXPECT_EQ(terminal.Cursor(), (harness::Position{1, 0}));
  EXPECT_EQ(terminal.Title(), "");
  for (int column = 0; column < 30; ++column) {
    EXPECT_EQ(terminal.CellAt(0, column).foreground, harness::defaultColor);
    EXPECT_EQ(terminal.CellAt(0, column).background, harness::defaultColor);
  }
  EXPECT_FALSE(terminal.CursorKeysApplicationMode());
  EXPECT_FALSE(terminal.KeypadApplicationMode());
  EXPECT_EQ(terminal.Bells(), 0);
}

// The menu lines as the driver writes them.
std::string MenuBytes(int count) {
  std::string bytes;
  for (int i = 1; i <= count; ++i) {
    bytes += std::string(1, static_cast<char>('a' + i % 26)) +
             " para descargar entry number " + std::to_string(i) + "\r\n";
  }
  return bytes + "\r\n> ";
}

TEST(ConsoleWriter, ALongMenuLeavesTheScreenOfWritingItLineByLine) {
  struct Case {
    int entries;
    int rows;
    int columns;
  };
  const Case cases[] = {{50, 6, 20}, {999, 25, 80}};
  for (const Case& c : cases) {
    std::string script = TempPath("menu.txt");
    {
      std::ofstream file(script, std::ios::binary);
      file << MenuBytes(c.entries);
    }
    harness::Options plain;
    plain.argv = {"cat", script};
    plain.rows = c.rows;
    plain.columns = c.columns;
    harness::Terminal lineByLine(plain);
    RunToEnd(lineByLine);

    harness::Terminal writer(Writer({"menu:" + std::to_string(c.entries)},
                                    c.rows, c.columns));
    RunToEnd(writer);
    EXPECT_EQ(writer.Screen(), lineByLine.Screen())
        << c.entries << " entries\n" << writer.Describe();
    EXPECT_EQ(writer.Cursor(), lineByLine.Cursor()) << c.entries << " entries";

    // About one screenful: the cells of the window and some motion, however
    // long the menu.
    std::uint64_t screenful = static_cast<std::uint64_t>(c.rows * c.columns);
    EXPECT_LT(writer.BytesReceived(), screenful + 20 * c.rows)
        << c.entries << " entries: " << writer.BytesReceived()
        << " bytes, line by line " << lineByLine.BytesReceived();
    ::testing::Test::RecordProperty(
        "menu_" + std::to_string(c.entries) + "_bytes",
        std::to_string(writer.BytesReceived()));
    unlink(script.c_str());
  }
}

TEST(ConsoleWriter, NothingReachesARedirectedStandardOutput) {
  std::string out = TempPath("out.txt");
  harness::Options options =
      Writer({"line:console text", "clear", "menu:3", "text:more", "push",
              "stdout:through the handle"});
  options.standardOutputFile = out;
  harness::Terminal terminal(options);
  RunToEnd(terminal);
  EXPECT_EQ(ReadWhole(out), "through the handle");
  EXPECT_EQ(terminal.Screen(), "\n\n\n\n\n\n") << terminal.Describe();
  EXPECT_EQ(terminal.BytesReceived(), 0u);
  unlink(out.c_str());
}

TEST(ConsoleWriter, AChangeShowsWithinMillisecondsWithoutAPaintPoint) {
  // The driver shows a line, then only makes console calls until a key
  // comes: no key wait, no child, no end paints it meanwhile.
  harness::Terminal terminal(Writer({"line:early", "spin"}));
  ASSERT_TRUE(terminal.WaitForText("early")) << terminal.Describe();
  EXPECT_TRUE(terminal.Running());
  terminal.Type("x");
  RunToEnd(terminal);
}

TEST(ConsoleWriter, WorksWhenTheStandardInputIsNotTheTerminal) {
  harness::Options options =
      Writer({"stdout:one\r\ntwo", "text:X", "push", "line:", "line:Y"});
  options.standardInput = harness::Options::Input::closed;
  harness::Terminal terminal(options);
  RunToEnd(terminal);
  EXPECT_EQ(terminal.Row(0), "one");
  EXPECT_EQ(terminal.Row(1), "twoX");
  EXPECT_EQ(terminal.Row(2), "Y");
  EXPECT_EQ(terminal.Cursor(), (harness::Position{3, 0}));
}

TEST(ConsoleWriter, ATerminalThatDoesNotAnswerGetsTheBottomRow) {
  harness::Options options =
      Writer({"text:abc", "push", "stdout:\\r\\nout\\r\\n", "text:def", "push"});
  options.answerQueries = false;
  harness::Terminal terminal(options);
  RunToEnd(terminal);
  // The writer starts on the bottom row; the write through the handle
  // scrolls it up and ends on the bottom row again, where the writer goes
  // on.
  EXPECT_EQ(terminal.Row(3), "abc") << terminal.Describe();
  EXPECT_EQ(terminal.Row(4), "out") << terminal.Describe();
  EXPECT_EQ(terminal.Row(5), "def") << terminal.Describe();
}

TEST(ConsoleWriter, KeysTypedBeforeTheCursorReportAreKept) {
  harness::Terminal terminal(Writer({"read"}));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  // Typed before the harness reads the program's first bytes, so before
  // the report that answers its query.
  terminal.Type("abc\r");
  ASSERT_TRUE(terminal.WaitForText("[abc]")) << terminal.Describe();
  RunToEnd(terminal);
}

TEST(ConsoleWriter, TerminalModesWhileWaitingAndAfterEveryEnd) {
  struct Case {
    const char* name;
    int signal;        // sent while the program waits; 0: Enter typed
    const char* keys;  // typed instead of a signal
  };
  const Case cases[] = {
      {"normal end", 0, "\r"},
      {"Ctrl+C", 0, "\x03"},
      {"SIGTERM", SIGTERM, nullptr},
      {"SIGHUP", SIGHUP, nullptr},
  };
  for (const Case& c : cases) {
    harness::Terminal terminal(Writer({"line:waiting", "wait"}));
    ASSERT_TRUE(WaitingForKeys(terminal)) << c.name << "\n" << terminal.Describe();
    EXPECT_FALSE(terminal.EchoOn()) << c.name;
    EXPECT_FALSE(terminal.CanonicalOn()) << c.name;
    if (c.keys != nullptr) {
      terminal.Type(c.keys);
    } else {
      kill(terminal.Pid(), c.signal);
    }
    ASSERT_TRUE(terminal.WaitForExit()) << c.name << "\n" << terminal.Describe();
    if (std::string(c.name) == "normal end") {
      EXPECT_EQ(terminal.ExitCode(), 0) << c.name;
    } else if (std::string(c.name) == "Ctrl+C") {
      EXPECT_EQ(terminal.TermSignal(), SIGINT) << c.name;
    } else {
      EXPECT_EQ(terminal.TermSignal(), c.signal) << c.name;
    }
    EXPECT_TRUE(terminal.EchoOn()) << c.name;
    EXPECT_TRUE(terminal.CanonicalOn()) << c.name;
    EXPECT_FALSE(terminal.KeypadApplicationMode()) << c.name;
  }
}

TEST(ConsoleWriter, AResizedTerminalShowsTheRowsAroundTheCursor) {
  harness::Terminal terminal(Writer({"menu:8", "wait"}, 6, 40));
  ASSERT_TRUE(WaitingForKeys(terminal)) << terminal.Describe();
  ASSERT_EQ(terminal.Row(5), ">");
  terminal.Resize(4, 40);
  ASSERT_TRUE(terminal.WaitFor([&] {
    return terminal.Row(3) == ">" && terminal.Row(2).empty() &&
           terminal.Row(1) == "i para descargar entry number 8";
  })) << terminal.Describe();
  EXPECT_EQ(terminal.Cursor(), (harness::Position{3, 2}));
  terminal.Type("\r");
  RunToEnd(terminal);
}

}  // namespace
