// The line editor and the key reader, fed with synthesised console events:
// every key a Windows console can deliver, Alt + keypad codes included.
#include "textio/line_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "tests/editor/fake_console.h"
#include "textio/console.h"
#include "textio/text_stream.h"

namespace {

using fake::console;
using fake::Press;
using fake::Type;

constexpr std::uint32_t enhanced = platform::ENHANCED_KEY;
constexpr std::uint32_t shift = platform::SHIFT_PRESSED;
constexpr std::uint32_t leftCtrl = platform::LEFT_CTRL_PRESSED;
constexpr std::uint32_t leftAlt = platform::LEFT_ALT_PRESSED;
constexpr std::uint32_t rightAlt = platform::RIGHT_ALT_PRESSED;

void Left(std::uint32_t state = 0) { Press(0x25, 75, 0, enhanced | state); }
void Right() { Press(0x27, 77, 0, enhanced); }
void Home(std::uint32_t state = 0) { Press(0x24, 71, 0, enhanced | state); }
void End() { Press(0x23, 79, 0, enhanced); }
void Backspace() { Press(8, 14, 8); }
void Esc() { Press(0x1B, 1, 27); }
void CtrlLetter(char letter, std::uint16_t scan) {
  Press(static_cast<std::uint16_t>(letter), scan,
        static_cast<std::uint8_t>(letter - 'A' + 1), leftCtrl);
}
void KeypadEnter(std::uint32_t state = 0) {
  Press(13, 28, (state & leftCtrl) ? 10 : 13, enhanced | state);
}

class LineEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset(20, 4);
    pendingKey = 0;
    pendingExtended = false;
    BindStandardStreams();
    StartConsole();
  }

  // One line edit, as the first read of ConsoleInput runs it: the line in
  // the buffer, with its CR LF.
  std::string EditOneLine() {
    EditLine(ConsoleInput);
    EXPECT_EQ(ConsoleInput.bufIndex, 0u);
    return std::string(reinterpret_cast<const char*>(ConsoleInput.buffer),
                       ConsoleInput.bufCount);
  }

  void ShowPrompt() {
    WriteText(ConsoleOutput, MakeText("> "), 0);
    PushStream(ConsoleOutput);
  }
};

// ---------------------------------------------------------------------------
// The key table
// ---------------------------------------------------------------------------

struct EditRow {
  const char* name;
  std::function<void()> keys;
  std::string line;    // without its CR LF
  std::string screen;  // row 0 afterwards
};

const EditRow editRows[] = {
    {"Enter alone", [] { fake::Enter(); }, "", ""},
    {"typed bytes, then Enter", [] { Type("ab"); fake::Enter(); }, "ab", "ab"},
    {"keypad Enter ends the line", [] { Type("ab"); KeypadEnter(); }, "ab", "ab"},
    {"Ctrl with keypad Enter ends the line",
     [] { Type("ab"); KeypadEnter(leftCtrl); }, "ab", "ab"},
    {"Backspace erases the last byte",
     [] { Type("abc"); Backspace(); fake::Enter(); }, "ab", "ab"},
    {"Ctrl-S erases like Backspace",
     [] { Type("abc"); CtrlLetter('S', 31); fake::Enter(); }, "ab", "ab"},
    {"Backspace on an empty line does nothing",
     [] { Backspace(); Type("a"); fake::Enter(); }, "a", "a"},
    {"Backspace after Left does nothing",
     [] { Type("abc"); Left(); Backspace(); fake::Enter(); }, "abc", "abc"},
    {"Backspace after Home does nothing",
     [] { Type("abc"); Home(); Backspace(); fake::Enter(); }, "abc", "abc"},
    {"Esc clears the line and the screen",
     [] { Type("abc"); Left(); Left(); Esc(); Type("x"); fake::Enter(); },
     "x", "x"},
    {"Ctrl-Y clears like Esc",
     [] { Type("abc"); Home(); CtrlLetter('Y', 21); fake::Enter(); }, "", ""},
    {"Ctrl-Z is neither stored nor echoed",
     [] { Type("a"); CtrlLetter('Z', 44); Type("b"); fake::Enter(); },
     "ab", "ab"},
    {"keypad / types a slash",
     [] { Type("a"); Press(0x6F, 53, '/', enhanced); Type("b"); fake::Enter(); },
     "a/b", "a/b"},
    {"Left then a letter overwrites, the length stays",
     [] { Type("abc"); Left(); Type("x"); fake::Enter(); }, "abx", "abx"},
    {"Home then a letter overwrites the first byte",
     [] { Type("abc"); Home(); Type("x"); fake::Enter(); }, "xbc", "xbc"},
    {"Right moves over one byte",
     [] { Type("abc"); Home(); Right(); Type("x"); fake::Enter(); },
     "axc", "axc"},
    {"Right at the end does nothing",
     [] { Type("ab"); Right(); Type("c"); fake::Enter(); }, "abc", "abc"},
    {"End goes back to the end, where Backspace works",
     [] { Type("abc"); Home(); End(); Backspace(); fake::Enter(); },
     "ab", "ab"},
    {"Enter inside the line keeps the whole line",
     [] { Type("abc"); Home(); fake::Enter(); }, "abc", "abc"},
    {"Shift with Home acts as Home",
     [] { Type("abc"); Home(shift); Type("x"); fake::Enter(); }, "xbc", "xbc"},
    {"Ctrl+Left does nothing",
     [] { Type("abc"); Left(leftCtrl); Type("x"); fake::Enter(); },
     "abcx", "abcx"},
    {"Alt+Left does nothing",
     [] { Type("abc"); Left(leftAlt); Type("x"); fake::Enter(); },
     "abcx", "abcx"},
    {"Shift+Tab does nothing",
     [] { Type("a"); Press(9, 15, 9, shift); Type("b"); fake::Enter(); },
     "ab", "ab"},
    {"F1, F11 and F12 do nothing",
     [] {
       Type("a");
       Press(0x70, 59, 0);
       Press(0x7A, 87, 0);
       Press(0x7B, 88, 0);
       Type("b");
       fake::Enter();
     },
     "ab", "ab"},
    {"Delete does nothing",
     [] { Type("ab"); Left(); Press(0x2E, 83, 0, enhanced); fake::Enter(); },
     "ab", "ab"},
    {"left Alt with a letter does nothing",
     [] { Type("a"); Press('B', 48, 'b', leftAlt); Type("c"); fake::Enter(); },
     "ac", "ac"},
    {"right Alt (AltGr) with a key types its character",
     [] { Press('2', 3, '@', rightAlt | leftCtrl); fake::Enter(); }, "@", "@"},
    {"Alt with keypad 6 and 5 types A", [] { fake::AltCode("65"); fake::Enter(); },
     "A", "A"},
    {"Alt with keypad 3, 0, 0 types byte 44",
     [] { fake::AltCode("300"); fake::Enter(); }, ",", ","},
    {"Alt with keypad 0 alone types nothing",
     [] { fake::AltCode("0"); Type("b"); fake::Enter(); }, "b", "b"},
    {"an Alt code types over the byte at the edit position",
     [] { Type("xyz"); Left(); fake::AltCode("97"); fake::Enter(); },
     "xya", "xya"},
    {"Tab and other control bytes are stored",
     [] { Press(9, 15, 9); CtrlLetter('A', 30); fake::Enter(); },
     "\t\x01", "\t\x01"},
    {"a held key gives one key per key-down",
     [] {
       fake::QueueRaw(fake::KeyRecord(true, 'A', 30, 'a', 0));
       platform::InputRecord repeat = fake::KeyRecord(true, 'A', 30, 'a', 0);
       repeat.KeyEvent.wRepeatCount = 5;
       fake::QueueRaw(repeat);
       fake::QueueRaw(fake::KeyRecord(true, 'A', 30, 'a', 0));
       fake::QueueRaw(fake::KeyRecord(false, 'A', 30, 'a', 0));
       fake::Enter();
     },
     "aaa", "aaa"},
    {"modifier and lock keys, mouse, focus, size and menu events give no key",
     [] {
       for (std::uint16_t key : {16, 17, 18, 20, 144, 145}) {
         fake::QueueRaw(fake::KeyRecord(true, key, 0, 0, 0));
       }
       for (std::uint16_t type :
            {platform::MOUSE_EVENT, platform::FOCUS_EVENT,
             platform::WINDOW_BUFFER_SIZE_EVENT, platform::MENU_EVENT}) {
         platform::InputRecord record{};
         record.EventType = type;
         fake::QueueRaw(record);
       }
       fake::QueueRaw(fake::KeyRecord(false, 'Q', 16, 'q', 0));
       Type("a");
       fake::Enter();
     },
     "a", "a"},
    {"an extended key with no scan code is dropped whole",
     [] { Press(0, 0, 241, leftAlt); Type("k"); fake::Enter(); }, "k", "k"},
};

TEST_F(LineEditor, ActsOnEachKeyByTheTable) {
  for (const EditRow& row : editRows) {
    SCOPED_TRACE(row.name);
    SetUp();
    row.keys();
    EXPECT_EQ(EditOneLine(), row.line + "\r\n");
    EXPECT_EQ(fake::Row(0), row.screen);
    // After Enter the cursor stands at the start of the next row.
    EXPECT_EQ(console.cursor.X, 0);
    EXPECT_EQ(console.cursor.Y, 1);
    // Only the key-up of Enter is left.
    for (const platform::InputRecord& record : console.events) {
      EXPECT_FALSE(record.KeyEvent.bKeyDown) << "a key-down left unread";
    }
  }
}

// The echo goes on where the cursor stood, and the console cursor follows
// the edit position while keys are awaited.
TEST_F(LineEditor, EchoesAfterThePromptAndMovesTheCursorWithTheEdit) {
  ShowPrompt();
  Type("abc");
  Left();
  Left();
  console.laterEvents.push_back(fake::KeyRecord(true, 13, 28, 13, 0));
  console.arrivalSleeps = 1;
  EXPECT_EQ(EditOneLine(), "abc\r\n");
  EXPECT_EQ(fake::Row(0), "> abc");
  ASSERT_EQ(console.cursorsWhileSleeping.size(), 1u);
  EXPECT_EQ(console.cursorsWhileSleeping[0].X, 3);  // under the "b"
  EXPECT_EQ(console.cursorsWhileSleeping[0].Y, 0);
  EXPECT_EQ(console.cursor.X, 0);
  EXPECT_EQ(console.cursor.Y, 1);
}

TEST_F(LineEditor, TakesAtMost254Bytes) {
  Type(std::string(260, 'x'));
  fake::Enter();
  std::string line = EditOneLine();
  EXPECT_EQ(line, std::string(254, 'x') + "\r\n");
  EXPECT_EQ(console.pagesWhileWriting.size(), 254u)
      << "bytes past the limit are echoed";

  SetUp();
  Type(std::string(254, 'x'));
  Left();
  Type("yz");
  fake::Enter();
  EXPECT_EQ(EditOneLine(), std::string(253, 'x') + "y\r\n");
}

// ---------------------------------------------------------------------------
// Reads from ConsoleInput
// ---------------------------------------------------------------------------

TEST_F(LineEditor, EnterAloneGivesCrLf) {
  fake::Enter();
  EXPECT_EQ(ReadChar(ConsoleInput), 13);
  SkipLine(ConsoleInput);  // takes the LF, waits for nothing
  EXPECT_EQ(ConsoleInput.bufIndex, ConsoleInput.bufCount);
}

TEST_F(LineEditor, SkipLineDiscardsTheRestOfTheTypedLine) {
  Type("ab");
  fake::Enter();
  Type("c");
  fake::Enter();
  EXPECT_EQ(ReadChar(ConsoleInput), 'a');
  SkipLine(ConsoleInput);
  // Enter's key-up, then the next line's keys.
  EXPECT_EQ(console.events.size(), 5u) << "the second line was read early";
  EXPECT_EQ(ReadChar(ConsoleInput), 'c');
}

TEST_F(LineEditor, SkipLineOnAnEmptyStreamWaitsForALineAndDiscardsIt) {
  Type("xy");
  fake::Enter();
  Type("z");
  fake::Enter();
  SkipLine(ConsoleInput);
  EXPECT_EQ(ReadChar(ConsoleInput), 'z');
}

// ---------------------------------------------------------------------------
// Waiting, the code page, a console that goes away
// ---------------------------------------------------------------------------

TEST_F(LineEditor, WaitsForKeysSleepingOneMillisecondBetweenPolls) {
  console.laterEvents.push_back(fake::KeyRecord(true, 'A', 30, 'a', 0));
  console.laterEvents.push_back(fake::KeyRecord(true, 13, 28, 13, 0));
  console.arrivalSleeps = 3;
  EXPECT_EQ(EditOneLine(), "a\r\n");
  EXPECT_EQ(console.sleeps, 3);
  for (std::uint32_t length : console.sleepLengths) EXPECT_EQ(length, 1u);
}

TEST_F(LineEditor, UsesTheAnsiPageForTheWholeEditAndRestoresThePageFound) {
  console.laterEvents.push_back(fake::KeyRecord(true, 0, 0, 241, 0));
  console.laterEvents.push_back(fake::KeyRecord(true, 13, 28, 13, 0));
  console.arrivalSleeps = 2;
  EXPECT_EQ(EditOneLine(), "\xf1\r\n");
  ASSERT_FALSE(console.pagesWhileSleeping.empty());
  ASSERT_FALSE(console.pagesWhileWriting.empty());
  for (std::uint32_t page : console.pagesWhileSleeping) {
    EXPECT_EQ(page, fake::ansiPage);
  }
  for (std::uint32_t page : console.pagesWhileWriting) {
    EXPECT_EQ(page, fake::ansiPage);
  }
  EXPECT_EQ(console.outputPage, fake::oemPage);
}

// A console whose input stops answering mid-line (its terminal has gone)
// ends the edit with no data instead of polling for ever.
TEST_F(LineEditor, AConsoleThatGoesAwayEndsTheInput) {
  Type("ab");
  console.countsBeforeLoss = 6;
  EXPECT_EQ(ReadChar(ConsoleInput), endOfDataByte);
  EXPECT_TRUE(AtEnd(ConsoleInput));
  EXPECT_EQ(console.outputPage, fake::oemPage);
  EXPECT_EQ(pendingIoCode, 0);
}

// ---------------------------------------------------------------------------
// Key reader
// ---------------------------------------------------------------------------

TEST_F(LineEditor, AnExtendedKeyIsAZeroThenItsCode) {
  Left();
  Type("k");
  EXPECT_TRUE(PollKey());
  EXPECT_EQ(NextKey(), 0);
  EXPECT_TRUE(PollKey()) << "the code waits in pendingKey";
  EXPECT_EQ(NextKey(), 75);
  EXPECT_EQ(NextKey(), 'k');
  EXPECT_FALSE(PollKey());
}

TEST_F(LineEditor, AnAltCodeIsDeliveredWhenAltIsReleased) {
  fake::QueueRaw(fake::KeyRecord(true, 18, 56, 0, leftAlt));
  Press(0x66, 77, 0, leftAlt);  // keypad 6
  EXPECT_FALSE(PollKey());
  EXPECT_TRUE(altCodeActive);
  EXPECT_EQ(altCode, 6);
  fake::QueueRaw(fake::KeyRecord(false, 18, 56, 0, 0));
  EXPECT_TRUE(PollKey());
  EXPECT_EQ(NextKey(), 6);
  EXPECT_FALSE(altCodeActive);
  EXPECT_EQ(altCode, 0);
}

// The codes of the six keys the editor acts on, with each modifier.
TEST(ExtendedKeyCode, MovesKeysByTheFirstModifierHeld) {
  constexpr std::uint8_t alt = platform::LEFT_ALT_PRESSED;
  constexpr std::uint8_t altRight = platform::RIGHT_ALT_PRESSED;
  constexpr std::uint8_t ctrl = platform::LEFT_CTRL_PRESSED;
  constexpr std::uint8_t ctrlRight = platform::RIGHT_CTRL_PRESSED;
  constexpr std::uint8_t shiftKey = platform::SHIFT_PRESSED;
  const std::uint8_t editingCodes[] = {28, 53, 71, 75, 77, 79};
  struct Row {
    const char* name;
    std::uint8_t state;
    std::vector<std::uint8_t> unmoved;  // of the six
  };
  const Row rows[] = {
      {"none", 0, {28, 53, 71, 75, 77, 79}},
      {"Shift", shiftKey, {28, 53, 71, 75, 77, 79}},
      {"left Ctrl", ctrl, {28}},
      {"right Ctrl", ctrlRight, {28}},
      {"Ctrl and Shift", ctrl | shiftKey, {28}},
      {"left Alt", alt, {}},
      {"right Alt", altRight, {}},
      {"Alt and Ctrl", alt | ctrl, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (std::uint8_t scan : editingCodes) {
      bool unmoved = std::find(row.unmoved.begin(), row.unmoved.end(), scan) !=
                     row.unmoved.end();
      EXPECT_EQ(ExtendedKeyCode(scan, row.state) == scan, unmoved)
          << "scan " << int(scan);
    }
    // A moved code is never one of the six.
    for (int scan = 0; scan < 256; ++scan) {
      std::uint8_t code =
          ExtendedKeyCode(static_cast<std::uint8_t>(scan), row.state);
      if (code == scan) continue;
      for (std::uint8_t editing : editingCodes) {
        EXPECT_NE(code, editing) << "scan " << scan;
      }
    }
  }
  // F11 and F12 have codes of their own even with nothing held; the
  // function keys move with every modifier.
  EXPECT_EQ(ExtendedKeyCode(87, 0), 133);
  EXPECT_EQ(ExtendedKeyCode(88, 0), 134);
  EXPECT_EQ(ExtendedKeyCode(59, 0), 59);
  for (std::uint8_t state : {alt, ctrl, shiftKey}) {
    for (int scan : {59, 68, 87, 88}) {
      EXPECT_NE(ExtendedKeyCode(static_cast<std::uint8_t>(scan), state), scan);
    }
  }
  // Alt moves the digit row and Enter; Ctrl moves Tab and keypad "*".
  EXPECT_NE(ExtendedKeyCode(2, alt), 2);
  EXPECT_NE(ExtendedKeyCode(15, ctrl), 15);
  EXPECT_NE(ExtendedKeyCode(55, ctrl), 55);
  // Letters stay with Alt.
  EXPECT_EQ(ExtendedKeyCode(30, alt), 30);
}

}  // namespace
