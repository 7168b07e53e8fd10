// The terminal key decoder: bytes as terminals send them, the key events a
// Windows console gives for the same keys on a US keyboard.
#include "platform/posix/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::ENHANCED_KEY;
using platform::InputRecord;
using platform::LEFT_ALT_PRESSED;
using platform::LEFT_CTRL_PRESSED;
using platform::SHIFT_PRESSED;
using platform::posix::DecodedInput;
using platform::posix::DecodeTerminalInput;

constexpr std::uint32_t ctrl = LEFT_CTRL_PRESSED;
constexpr std::uint32_t alt = LEFT_ALT_PRESSED;
constexpr std::uint32_t shift = SHIFT_PRESSED;
constexpr std::uint32_t enhanced = ENHANCED_KEY;

struct KeyRow {
  const char* name;
  std::string bytes;
  std::uint16_t virtualKey;
  std::uint16_t scan;
  std::uint8_t character;
  std::uint32_t state;
};

DecodedInput Decode(const std::string& bytes, bool complete = true) {
  return DecodeTerminalInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             static_cast<int>(bytes.size()), complete);
}

bool IsModifier(std::uint16_t virtualKey) {
  return virtualKey == 16 || virtualKey == 17 || virtualKey == 18;
}

// The key-down of the key itself, between its modifiers' events.
const InputRecord* MainKeyDown(const DecodedInput& decoded) {
  for (int i = 0; i < decoded.eventCount; ++i) {
    const InputRecord& record = decoded.events[i];
    if (record.EventType == platform::KEY_EVENT && record.KeyEvent.bKeyDown &&
        !IsModifier(record.KeyEvent.wVirtualKeyCode)) {
      return &record;
    }
  }
  return nullptr;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == 27) {
      out += "ESC ";
    } else if (c < 32 || c >= 127) {
      out += "\\x" + std::to_string(c) + " ";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const KeyRow keyRows[] = {
    // Printable characters, with Shift where a US keyboard needs it.
    {"letter", "a", 'A', 30, 'a', 0},
    {"capital letter", "A", 'A', 30, 'A', shift},
    {"digit", "5", '5', 6, '5', 0},
    {"shifted digit", "%", '5', 6, '%', shift},
    {"space", " ", 0x20, 57, ' ', 0},
    {"slash", "/", 0xBF, 53, '/', 0},
    {"question mark", "?", 0xBF, 53, '?', shift},
    {"tilde", "~", 0xC0, 41, '~', shift},
    {"backslash", "\\", 0xDC, 43, '\\', 0},
    // Enter, Backspace, Tab, Esc.
    {"Enter as CR", "\r", 13, 28, 13, 0},
    {"Enter as LF", "\n", 13, 28, 13, 0},
    {"Backspace as DEL", "\x7f", 8, 14, 8, 0},
    {"Backspace as Ctrl-H", "\x08", 8, 14, 8, 0},
    {"Tab", "\t", 9, 15, 9, 0},
    {"Shift+Tab", "\x1b[Z", 9, 15, 9, shift},
    {"Esc alone", "\x1b", 0x1B, 1, 27, 0},
    // Cursor keys: CSI, SS3 (application cursor mode), the VT220 numbers
    // and rxvt's 7 and 8.
    {"Up CSI", "\x1b[A", 0x26, 72, 0, enhanced},
    {"Down CSI", "\x1b[B", 0x28, 80, 0, enhanced},
    {"Right CSI", "\x1b[C", 0x27, 77, 0, enhanced},
    {"Left CSI", "\x1b[D", 0x25, 75, 0, enhanced},
    {"Home CSI", "\x1b[H", 0x24, 71, 0, enhanced},
    {"End CSI", "\x1b[F", 0x23, 79, 0, enhanced},
    {"Up SS3", "\x1bOA", 0x26, 72, 0, enhanced},
    {"Down SS3", "\x1bOB", 0x28, 80, 0, enhanced},
    {"Right SS3", "\x1bOC", 0x27, 77, 0, enhanced},
    {"Left SS3", "\x1bOD", 0x25, 75, 0, enhanced},
    {"Home SS3", "\x1bOH", 0x24, 71, 0, enhanced},
    {"End SS3", "\x1bOF", 0x23, 79, 0, enhanced},
    {"Home 1~", "\x1b[1~", 0x24, 71, 0, enhanced},
    {"End 4~", "\x1b[4~", 0x23, 79, 0, enhanced},
    {"Home 7~", "\x1b[7~", 0x24, 71, 0, enhanced},
    {"End 8~", "\x1b[8~", 0x23, 79, 0, enhanced},
    {"Insert", "\x1b[2~", 0x2D, 82, 0, enhanced},
    {"Delete", "\x1b[3~", 0x2E, 83, 0, enhanced},
    {"Page Up", "\x1b[5~", 0x21, 73, 0, enhanced},
    {"Page Down", "\x1b[6~", 0x22, 81, 0, enhanced},
    {"keypad 5, Num Lock off", "\x1b[E", 0x0C, 76, 0, 0},
    // Function keys.
    {"F1 SS3", "\x1bOP", 0x70, 59, 0, 0},
    {"F2 SS3", "\x1bOQ", 0x71, 60, 0, 0},
    {"F3 SS3", "\x1bOR", 0x72, 61, 0, 0},
    {"F4 SS3", "\x1bOS", 0x73, 62, 0, 0},
    {"F1 11~", "\x1b[11~", 0x70, 59, 0, 0},
    {"F4 14~", "\x1b[14~", 0x73, 62, 0, 0},
    {"F5", "\x1b[15~", 0x74, 63, 0, 0},
    {"F6", "\x1b[17~", 0x75, 64, 0, 0},
    {"F7", "\x1b[18~", 0x76, 65, 0, 0},
    {"F8", "\x1b[19~", 0x77, 66, 0, 0},
    {"F9", "\x1b[20~", 0x78, 67, 0, 0},
    {"F10", "\x1b[21~", 0x79, 68, 0, 0},
    {"F11", "\x1b[23~", 0x7A, 87, 0, 0},
    {"F12", "\x1b[24~", 0x7B, 88, 0, 0},
    {"F1 Linux console", "\x1b[[A", 0x70, 59, 0, 0},
    {"F5 Linux console", "\x1b[[E", 0x74, 63, 0, 0},
    // Modifiers from CSI parameters (1 + Shift 1, Alt 2, Ctrl 4, Meta 8).
    {"Shift+Home", "\x1b[1;2H", 0x24, 71, 0, enhanced | shift},
    {"Alt+Right", "\x1b[1;3C", 0x27, 77, 0, enhanced | alt},
    {"Ctrl+Left", "\x1b[1;5D", 0x25, 75, 0, enhanced | ctrl},
    {"Ctrl+Shift+Up", "\x1b[1;6A", 0x26, 72, 0, enhanced | ctrl | shift},
    {"Ctrl+Alt+End", "\x1b[1;7F", 0x23, 79, 0, enhanced | ctrl | alt},
    {"Meta+Left as Alt", "\x1b[1;9D", 0x25, 75, 0, enhanced | alt},
    {"Shift+F1", "\x1b[1;2P", 0x70, 59, 0, shift},
    {"Ctrl+Delete", "\x1b[3;5~", 0x2E, 83, 0, enhanced | ctrl},
    {"Ctrl+F5", "\x1b[15;5~", 0x74, 63, 0, ctrl},
    {"Alt+F12", "\x1b[24;3~", 0x7B, 88, 0, alt},
    {"Ctrl+Left, old xterm SS3", "\x1bO5D", 0x25, 75, 0, enhanced | ctrl},
    {"Ctrl+Left, rxvt", "\x1bOd", 0x25, 75, 0, enhanced | ctrl},
    {"Shift+Left, rxvt", "\x1b[d", 0x25, 75, 0, enhanced | shift},
    {"Ctrl+Home, rxvt", "\x1b[7^", 0x24, 71, 0, enhanced | ctrl},
    {"Shift+End, rxvt", "\x1b[8$", 0x23, 79, 0, enhanced | shift},
    {"Ctrl+Shift+Delete, rxvt", "\x1b[3@", 0x2E, 83, 0,
     enhanced | ctrl | shift},
    // Alt sent as ESC before the key.
    {"Alt+letter", "\x1b" "a", 'A', 30, 'a', alt},
    {"Alt+capital letter", "\x1b" "A", 'A', 30, 'A', alt | shift},
    {"Alt+digit", "\x1b" "6", '6', 7, '6', alt},
    {"Alt+Backspace", "\x1b\x7f", 8, 14, 8, alt},
    {"Alt+Enter", "\x1b\r", 13, 28, 13, alt},
    {"Alt+Ctrl+letter", "\x1b\x01", 'A', 30, 1, alt | ctrl},
    {"Alt+Up", "\x1b\x1b[A", 0x26, 72, 0, enhanced | alt},
    {"Alt+F1", "\x1b\x1bOP", 0x70, 59, 0, alt},
    {"Alt+Esc", "\x1b\x1b", 0x1B, 1, 27, alt},
    {"Alt+O, no more bytes", "\x1bO", 'O', 24, 'O', alt | shift},
    {"Alt+[, no more bytes", "\x1b[", 0xDB, 26, '[', alt},
    {"Alt+UTF-8 character", "\x1b\xc3\xb1", 0, 0, 241, alt},
    // The keypad in application keypad mode.
    {"keypad Enter", "\x1bOM", 13, 28, 13, enhanced},
    {"Ctrl+keypad Enter", "\x1bO5M", 13, 28, 10, enhanced | ctrl},
    {"Ctrl+keypad Enter, CSI form", "\x1b[1;5M", 13, 28, 10, enhanced | ctrl},
    {"Shift+keypad /, CSI form", "\x1b[1;2o", 0x6F, 53, '/', enhanced | shift},
    {"keypad /", "\x1bOo", 0x6F, 53, '/', enhanced},
    {"keypad *", "\x1bOj", 0x6A, 55, '*', 0},
    {"keypad -", "\x1bOm", 0x6D, 74, '-', 0},
    {"keypad +", "\x1bOk", 0x6B, 78, '+', 0},
    {"keypad .", "\x1bOn", 0x6E, 83, '.', 0},
    {"keypad 0", "\x1bOp", 0x60, 82, '0', 0},
    {"keypad 1", "\x1bOq", 0x61, 79, '1', 0},
    {"keypad 5", "\x1bOu", 0x65, 76, '5', 0},
    {"keypad 7", "\x1bOw", 0x67, 71, '7', 0},
    {"keypad 9", "\x1bOy", 0x69, 73, '9', 0},
    // Ctrl with letters and the other control bytes.
    {"Ctrl+A", "\x01", 'A', 30, 1, ctrl},
    {"Ctrl+C", "\x03", 'C', 46, 3, ctrl},
    {"Ctrl+S", "\x13", 'S', 31, 19, ctrl},
    {"Ctrl+Y", "\x19", 'Y', 21, 25, ctrl},
    {"Ctrl+Z", "\x1a", 'Z', 44, 26, ctrl},
    {"Ctrl+Space", std::string("\0", 1), 0x20, 57, 0, ctrl},
    {"Ctrl+backslash", "\x1c", 0xDC, 43, 28, ctrl},
    {"Ctrl+]", "\x1d", 0xDD, 27, 29, ctrl},
    {"Ctrl+^", "\x1e", '6', 7, 30, ctrl | shift},
    {"Ctrl+_", "\x1f", 0xBD, 12, 31, ctrl | shift},
    // UTF-8 to Windows-1252; "?" where it has no byte.
    {"n with tilde", "\xc3\xb1", 0, 0, 241, 0},
    {"e with acute", "\xc3\xa9", 0, 0, 233, 0},
    {"inverted question mark", "\xc2\xbf", 0, 0, 191, 0},
    {"euro sign", "\xe2\x82\xac", 0, 0, 0x80, 0},
    {"left double quote", "\xe2\x80\x9c", 0, 0, 0x93, 0},
    {"check mark, none", "\xe2\x9c\x93", 0, 0, '?', 0},
    {"emoji, none", "\xf0\x9f\x98\x80", 0, 0, '?', 0},
    {"C1 control, none", "\xc2\x85", 0, 0, '?', 0},
    {"stray continuation byte", "\x80", 0, 0, '?', 0},
    {"overlong slash", "\xe0\x80\xaf", 0, 0, '?', 0},
    {"encoded surrogate", "\xed\xa0\x80", 0, 0, '?', 0},
    {"cut-off character, no more bytes", "\xc3", 0, 0, '?', 0},
};

TEST(KeyDecoder, GivesTheKeyEventsAWindowsConsoleGives) {
  for (const KeyRow& row : keyRows) {
    SCOPED_TRACE(std::string(row.name) + ": " + Printable(row.bytes));
    DecodedInput decoded = Decode(row.bytes);
    EXPECT_EQ(decoded.consumed, static_cast<int>(row.bytes.size()));
    const InputRecord* down = MainKeyDown(decoded);
    if (row.virtualKey == 0 && row.scan == 0 && row.character == 0) {
      EXPECT_EQ(down, nullptr) << "no key expected";
      continue;
    }
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->KeyEvent.wVirtualKeyCode, row.virtualKey);
    EXPECT_EQ(down->KeyEvent.wVirtualScanCode, row.scan);
    EXPECT_EQ(static_cast<std::uint8_t>(down->KeyEvent.AsciiChar),
              row.character);
    EXPECT_EQ(down->KeyEvent.dwControlKeyState, row.state);
    EXPECT_EQ(down->KeyEvent.wRepeatCount, 1);
  }
}

// One key-down and its key-up, wrapped in the presses and releases of its
// modifiers, each event with the modifiers held at that moment.
TEST(KeyDecoder, EveryKeyDownIsFollowedByItsKeyUp) {
  struct Expected {
    std::uint16_t virtualKey;
    bool down;
    std::uint32_t state;
  };
  struct Row {
    const char* name;
    std::string bytes;
    std::vector<Expected> events;
  };
  const Row rows[] = {
      {"plain letter", "x", {{'X', true, 0}, {'X', false, 0}}},
      {"capital letter",
       "X",
       {{16, true, shift}, {'X', true, shift}, {'X', false, shift},
        {16, false, 0}}},
      {"Ctrl+Alt+Shift+Up",
       "\x1b[1;8A",
       {{17, true, ctrl},
        {18, true, ctrl | alt},
        {16, true, ctrl | alt | shift},
        {0x26, true, enhanced | ctrl | alt | shift},
        {0x26, false, enhanced | ctrl | alt | shift},
        {16, false, ctrl | alt},
        {18, false, ctrl},
        {17, false, 0}}},
      {"Alt+letter",
       "\x1bq",
       {{18, true, alt}, {'Q', true, alt}, {'Q', false, alt}, {18, false, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DecodedInput decoded = Decode(row.bytes);
    ASSERT_EQ(decoded.eventCount, static_cast<int>(row.events.size()));
    for (int i = 0; i < decoded.eventCount; ++i) {
      SCOPED_TRACE(i);
      const platform::KeyEventRecord& key = decoded.events[i].KeyEvent;
      EXPECT_EQ(decoded.events[i].EventType, platform::KEY_EVENT);
      EXPECT_EQ(key.wVirtualKeyCode, row.events[i].virtualKey);
      EXPECT_EQ(key.bKeyDown, row.events[i].down);
      EXPECT_EQ(key.dwControlKeyState, row.events[i].state);
    }
  }
}

// Sequences that stand for no key are taken whole and give nothing, so
// that their bytes never reach the line as typed characters.
TEST(KeyDecoder, SequencesOfNoKeyAreDroppedWhole) {
  struct Row {
    const char* name;
    std::string bytes;
  };
  const Row rows[] = {
      {"unknown tilde number", "\x1b[99~"},
      {"bracketed paste start", "\x1b[200~"},
      {"stray cursor position report", "\x1b[24;80R"},
      {"SGR mouse report", "\x1b[<0;3;4M"},
      {"unknown SS3 final", "\x1bOz"},
      {"unknown final", "\x1b[1;5z"},
      {"sequence cut short, no more bytes", "\x1b[1;5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DecodedInput decoded = Decode(row.bytes);
    EXPECT_EQ(decoded.consumed, static_cast<int>(row.bytes.size()));
    EXPECT_EQ(decoded.eventCount, 0);
  }
  DecodedInput focus = Decode("\x1b[I");
  EXPECT_EQ(focus.consumed, 3);
  ASSERT_EQ(focus.eventCount, 1);
  EXPECT_EQ(focus.events[0].EventType, platform::FOCUS_EVENT);
}

// With more bytes possibly on their way, the start of a sequence or of a
// character consumes nothing; the reader waits and decodes again.
TEST(KeyDecoder, AnUnfinishedSequenceWaitsForMoreBytes) {
  const char* prefixes[] = {"\x1b",     "\x1b[",   "\x1bO",    "\x1b[1",
                            "\x1b[1;",  "\x1b[1;5", "\x1b[[",   "\x1b\x1b",
                            "\x1b\x1b[", "\xc3",   "\xe2\x82", "\xf0\x9f\x98"};
  for (const char* prefix : prefixes) {
    SCOPED_TRACE(Printable(prefix));
    DecodedInput decoded = Decode(prefix, false);
    EXPECT_EQ(decoded.consumed, 0);
    EXPECT_EQ(decoded.eventCount, 0);
  }
}

// A key followed by more input takes only its own bytes.
TEST(KeyDecoder, TakesOnlyTheFirstKey) {
  struct Row {
    std::string bytes;
    int consumed;
  };
  const Row rows[] = {
      {"ab", 1},           {"\x1b[Ab", 3},    {"\x1b[1;5Dx", 6},
      {"\xc3\xb1z", 2},    {"\x1bOMq", 3},    {"\x1b\x1b\x1b", 2},
      {"\xc3" "A", 1},     {"\x1b[1\x1b[A", 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Printable(row.bytes));
    EXPECT_EQ(Decode(row.bytes, false).consumed, row.consumed);
  }
}

// The events of a stream do not depend on how its bytes were split by the
// reads that brought them: decoding as bytes trickle in one at a time
// gives what decoding them all at once gives.
TEST(KeyDecoder, SplitReadsGiveTheSameKeys) {
  std::string input;
  for (const KeyRow& row : keyRows) {
    // A lone ESC or a cut-off character only decodes alone.
    if (row.bytes == "\x1b" || row.bytes == "\x1b\x1b" ||
        row.bytes == "\x1bO" || row.bytes == "\x1b[" || row.bytes == "\xc3") {
      continue;
    }
    input += row.bytes;
  }
  auto decodeAll = [](const std::string& bytes, bool trickle) {
    std::vector<std::string> keys;
    std::string pending;
    std::size_t next = 0;
    for (;;) {
      bool complete = !trickle || next == bytes.size();
      if (!trickle) {
        pending = bytes;
        next = bytes.size();
        trickle = true;  // from here on, drain
      }
      DecodedInput decoded = DecodeTerminalInput(
          reinterpret_cast<const std::uint8_t*>(pending.data()),
          static_cast<int>(pending.size()), complete);
      if (decoded.consumed == 0) {
        if (next == bytes.size()) break;
        pending += bytes[next++];
        continue;
      }
      for (int i = 0; i < decoded.eventCount; ++i) {
        const platform::KeyEventRecord& key = decoded.events[i].KeyEvent;
        keys.push_back(std::to_string(key.wVirtualKeyCode) + "/" +
                       std::to_string(key.bKeyDown) + "/" +
                       std::to_string(static_cast<unsigned char>(key.AsciiChar)) +
                       "/" + std::to_string(key.dwControlKeyState));
      }
      pending.erase(0, static_cast<std::size_t>(decoded.consumed));
    }
    return keys;
  };
  std::vector<std::string> whole = decodeAll(input, false);
  std::vector<std::string> trickled = decodeAll(input, true);
  EXPECT_GT(whole.size(), 200u);
  EXPECT_EQ(trickled, whole);
}

TEST(KeyDecoder, Windows1252Bytes) {
  struct Row {
    std::uint32_t codePoint;
    std::uint8_t byte;
  };
  const Row rows[] = {
      {'A', 'A'},      {0xA0, 0xA0},  {0xF1, 0xF1},  {0xFF, 0xFF},
      {0x20AC, 0x80},  {0x0178, 0x9F}, {0x2014, 0x97}, {0x81, '?'},
      {0x9F, '?'},     {0x100, '?'},  {0x263A, '?'}, {0x1F600, '?'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.codePoint);
    EXPECT_EQ(platform::posix::Windows1252FromCodePoint(row.codePoint),
              row.byte);
  }
}

}  // namespace
