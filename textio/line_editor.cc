#include "textio/line_editor.h"

#include "textio/console.h"

std::uint8_t pendingKey;
bool pendingExtended;
bool altCodeActive;
std::uint8_t altCode;

namespace {

// A line holds at most this many typed bytes; with its CR LF it fills the
// stream's buffer.
constexpr std::uint32_t maxLineBytes = streamBufferSize - 2;

// Extended codes the editor acts on.
constexpr std::uint8_t extendedKeypadEnter = 28;
constexpr std::uint8_t extendedKeypadDivide = 53;
constexpr std::uint8_t extendedHome = 71;
constexpr std::uint8_t extendedLeft = 75;
constexpr std::uint8_t extendedRight = 77;
constexpr std::uint8_t extendedEnd = 79;
constexpr std::uint8_t extendedBackTab = 15;

constexpr std::uint32_t anyAlt =
    platform::LEFT_ALT_PRESSED | platform::RIGHT_ALT_PRESSED;
constexpr std::uint32_t anyCtrl =
    platform::LEFT_CTRL_PRESSED | platform::RIGHT_CTRL_PRESSED;

constexpr std::uint16_t virtualKeyAlt = 18;

// Set when the console stops giving an event count while a key is awaited
// (a terminal that has gone away): the edit then ends with no line, as at
// the end of the data, instead of polling for ever.
bool consoleInputLost;

// Shift, Ctrl, Alt, Caps Lock, Num Lock, Scroll Lock: their key-downs give
// no key.
bool IsModifierKey(std::uint16_t virtualKey) {
  switch (virtualKey) {
    case 16:
    case 17:
    case 18:
    case 20:
    case 144:
    case 145:
      return true;
    default:
      return false;
  }
}

// The digit of a keypad key by its scan code, or -1.
int KeypadDigit(std::uint8_t scan) {
  switch (scan) {
    case 71: return 7;
    case 72: return 8;
    case 73: return 9;
    case 75: return 4;
    case 76: return 5;
    case 77: return 6;
    case 79: return 1;
    case 80: return 2;
    case 81: return 3;
    case 82: return 0;
    default: return -1;
  }
}

// Looks at one key-down event. True when it made a key ready.
bool TakeKeyDown(const platform::KeyEventRecord& key) {
  if (IsModifierKey(key.wVirtualKeyCode)) return false;
  std::uint32_t state = key.dwControlKeyState;
  std::uint8_t scan = static_cast<std::uint8_t>(key.wVirtualScanCode & 0xFF);
  std::uint8_t character = static_cast<std::uint8_t>(key.AsciiChar);
  if (character == 0 ||
      (state & (platform::ENHANCED_KEY | platform::LEFT_ALT_PRESSED))) {
    pendingExtended = true;
    pendingKey = ExtendedKeyCode(scan, static_cast<std::uint8_t>(state & 0xFF));
  } else if (character == 9 && (state & platform::SHIFT_PRESSED)) {
    pendingExtended = true;
    pendingKey = extendedBackTab;
  } else {
    pendingExtended = false;
    pendingKey = character;
  }
  int digit = KeypadDigit(scan);
  if ((state & anyAlt) && digit >= 0) {
    altCodeActive = true;
    altCode = static_cast<std::uint8_t>((altCode * 10 + digit) % 256);
    pendingKey = 0;
    pendingExtended = false;
    return false;
  }
  // An extended key whose code is 0 (a key with no scan code) cannot be
  // told from "no key": it is dropped rather than left half delivered.
  if (pendingKey == 0) {
    pendingExtended = false;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Editing keys
// ---------------------------------------------------------------------------

// Takes back the last byte of the line, only when the edit position is at
// its end.
void Erase(TextStream& stream) {
  if (stream.bufIndex > 0 && stream.bufIndex == stream.bufCount) {
    PutByte(8);
    PutByte(32);
    PutByte(8);
    --stream.bufIndex;
    --stream.bufCount;
  }
}

void EchoToEnd(TextStream& stream) {
  while (stream.bufIndex < stream.bufCount) {
    PutByte(stream.buffer[stream.bufIndex]);
    ++stream.bufIndex;
  }
}

// Writes over the byte at the edit position; nothing is ever inserted.
void Type(TextStream& stream, std::uint8_t byte) {
  if (stream.bufIndex >= maxLineBytes) return;
  stream.buffer[stream.bufIndex] = byte;
  ++stream.bufIndex;
  PutByte(byte);
}

void EndLine(TextStream& stream) {
  PutByte(13);
  PutByte(10);
  stream.buffer[stream.bufCount] = 13;
  stream.buffer[stream.bufCount + 1] = 10;
  stream.bufCount += 2;
}

// Acts on one key. True when it completed the line.
bool ActOnKey(TextStream& stream, std::uint8_t key, bool extended) {
  if (extended) {
    switch (key) {
      case extendedKeypadEnter:
        EndLine(stream);
        return true;
      case extendedKeypadDivide:
        Type(stream, '/');
        break;
      case extendedHome:
        while (stream.bufIndex > 0) {
          --stream.bufIndex;
          PutByte(8);
        }
        break;
      case extendedLeft:
        if (stream.bufIndex > 0) {
          --stream.bufIndex;
          PutByte(8);
        }
        break;
      case extendedRight:
        if (stream.bufIndex < stream.bufCount) {
          PutByte(stream.buffer[stream.bufIndex]);
          ++stream.bufIndex;
        }
        break;
      case extendedEnd:
        EchoToEnd(stream);
        break;
      default:
        break;
    }
    return false;
  }
  switch (key) {
    case 13:
      EndLine(stream);
      return true;
    case 8:   // Backspace
    case 19:  // Ctrl-S
      Erase(stream);
      break;
    case 27:  // Esc
    case 25:  // Ctrl-Y
      EchoToEnd(stream);
      while (stream.bufCount > 0) Erase(stream);
      break;
    case endOfDataByte:
      break;
    default:
      Type(stream, key);
      break;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Standard input that is no console
// ---------------------------------------------------------------------------

// The next line of the handle's bytes, without echo, in the form a typed
// line takes: at most maxLineBytes bytes, then CR LF. LF or CR LF ends a
// line; the bytes of a longer line beyond the limit are dropped with it;
// the last line may lack its end. Bytes are read one at a time, so nothing
// past the line's end is taken from the handle: the rest stays for the next
// line, or for a child process that shares the input. At the end of the
// input, or when a read fails, the refill brings nothing.
void ReadLineFromBytes(TextStream& stream) {
  std::uint32_t count = 0;
  bool readAny = false;
  bool lastKeptIsCr = false;  // the byte just read was a CR and was kept
  for (;;) {
    std::uint8_t byte = 0;
    std::uint32_t received = 0;
    if (!platform::ReadFile(stream.handle, &byte, 1, &received) ||
        received == 0) {
      break;
    }
    readAny = true;
    if (byte == 10) {
      if (lastKeptIsCr) --count;
      break;
    }
    lastKeptIsCr = false;
    if (count < maxLineBytes) {
      stream.buffer[count++] = byte;
      lastKeptIsCr = byte == 13;
    }
  }
  stream.bufIndex = 0;
  stream.bufCount = 0;
  if (!readAny) return;
  stream.buffer[count] = 13;
  stream.buffer[count + 1] = 10;
  stream.bufCount = count + 2;
}

}  // namespace

// ---------------------------------------------------------------------------
// Key reader
// ---------------------------------------------------------------------------

bool PollKey() {
  if (pendingKey != 0) return true;
  for (;;) {
    std::uint32_t count = 0;
    if (!platform::GetNumberOfConsoleInputEvents(ConsoleInput.handle, &count)) {
      consoleInputLost = true;
      return false;
    }
    if (count == 0) return false;
    platform::InputRecord record{};
    std::uint32_t read = 0;
    if (!platform::ReadConsoleInputA(ConsoleInput.handle, &record, 1, &read) ||
        read == 0) {
      return false;
    }
    if (record.EventType != platform::KEY_EVENT) continue;
    const platform::KeyEventRecord& key = record.KeyEvent;
    if (key.bKeyDown) {
      if (TakeKeyDown(key)) return true;
    } else if (key.wVirtualKeyCode == virtualKeyAlt && altCodeActive &&
               altCode != 0) {
      pendingKey = altCode;
      pendingExtended = false;
      altCodeActive = false;
      altCode = 0;
      return true;
    }
  }
}

std::uint8_t NextKey() {
  while (!PollKey()) {
    if (consoleInputLost) return endOfDataByte;
    platform::Sleep(1);
  }
  if (pendingExtended) {
    pendingExtended = false;
    return 0;
  }
  std::uint8_t key = pendingKey;
  pendingKey = 0;
  return key;
}

// The code of an extended key: its scan code, or with a modifier held the
// code the PC keyboard gives that key with it. The first of Alt, Ctrl and
// Shift that is held picks the column of the table; a 0 there leaves the
// scan code. No moved code is an editing key's code (28, 53, 71, 75, 77,
// 79), so a key that a modifier moves does nothing in the editor.
std::uint8_t ExtendedKeyCode(std::uint8_t scan, std::uint8_t keyState) {
  struct Moved {
    std::uint8_t scan;
    std::uint8_t alt;
    std::uint8_t ctrl;
    std::uint8_t shift;
  };
  static constexpr Moved moved[] = {
      {2, 120, 0, 0},     {3, 121, 0, 0},     {4, 122, 0, 0},  // 1 2 3
      {5, 123, 0, 0},     {6, 124, 0, 0},     {7, 125, 0, 0},  // 4 5 6
      {8, 126, 0, 0},     {9, 127, 0, 0},     {10, 128, 0, 0},  // 7 8 9
      {11, 129, 0, 0},    {12, 130, 0, 0},    {13, 131, 0, 0},  // 0 - =
      {15, 165, 148, 0},                                        // Tab
      {28, 166, 0, 0},                                          // Enter
      {53, 164, 149, 0},                                        // keypad /
      {55, 0, 150, 0},                                          // keypad *
      {59, 104, 94, 84},  {60, 105, 95, 85},  {61, 106, 96, 86},  // F1-F3
      {62, 107, 97, 87},  {63, 108, 98, 88},  {64, 109, 99, 89},  // F4-F6
      {65, 110, 100, 90}, {66, 111, 101, 91}, {67, 112, 102, 92},  // F7-F9
      {68, 113, 103, 93}, {87, 139, 137, 135}, {88, 140, 138, 136},  // F10-F12
      {71, 151, 119, 0},  {72, 152, 141, 0},  {73, 153, 132, 0},  // Home Up PgUp
      {75, 155, 115, 0},  {77, 157, 116, 0},                      // Left Right
      {79, 159, 117, 0},  {80, 160, 145, 0},  {81, 161, 118, 0},  // End Down PgDn
      {82, 162, 146, 0},  {83, 163, 147, 0},                      // Ins Del
  };
  int column = 0;  // none held
  if (keyState & anyAlt) {
    column = 1;
  } else if (keyState & anyCtrl) {
    column = 2;
  } else if (keyState & platform::SHIFT_PRESSED) {
    column = 3;
  }
  if (column == 0) {
    if (scan == 87) return 133;  // F11
    if (scan == 88) return 134;  // F12
    return scan;
  }
  for (const Moved& entry : moved) {
    if (entry.scan != scan) continue;
    std::uint8_t code = column == 1 ? entry.alt
                        : column == 2 ? entry.ctrl
                                      : entry.shift;
    return code != 0 ? code : scan;
  }
  return scan;
}

// ---------------------------------------------------------------------------
// Line editor
// ---------------------------------------------------------------------------

void EditLine(TextStream& stream) {
  std::uint32_t events = 0;
  if (!platform::GetNumberOfConsoleInputEvents(stream.handle, &events)) {
    ReadLineFromBytes(stream);
    return;
  }
  consoleInputLost = false;

  std::uint32_t savedPage = platform::GetConsoleOutputCP();
  platform::SetConsoleOutputCP(platform::GetACP());
  TakeConsoleCursor();
  stream.bufIndex = 0;
  stream.bufCount = 0;
  for (;;) {
    if (stream.bufIndex > stream.bufCount) stream.bufCount = stream.bufIndex;
    PutConsoleCursor();
    std::uint8_t key = NextKey();
    bool extended = key == 0;
    if (extended) key = NextKey();
    if (consoleInputLost) {
      stream.bufCount = 0;
      break;
    }
    if (ActOnKey(stream, key, extended)) break;
  }
  platform::SetConsoleOutputCP(savedPage);
  stream.bufIndex = 0;
  PutConsoleCursor();
}
