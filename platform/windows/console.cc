// Console output and input, and user32's SetActiveWindow: kernel32 and
// user32 as they are, but for the character of a key event, which comes in
// the ANSI code page (see AnsiCharacter).
#include "platform/platform.h"

#include <windows.h>

namespace platform {

namespace {
::COORD ToWindows(Coord c) { return ::COORD{c.X, c.Y}; }
::SMALL_RECT ToWindows(const SmallRect& r) {
  return ::SMALL_RECT{r.Left, r.Top, r.Right, r.Bottom};
}
}  // namespace

bool GetConsoleScreenBufferInfo(Handle console, ConsoleScreenBufferInfo* info) {
  ::CONSOLE_SCREEN_BUFFER_INFO theirs{};
  BOOL ok = ::GetConsoleScreenBufferInfo(console, &theirs);
  info->dwSize = {theirs.dwSize.X, theirs.dwSize.Y};
  info->dwCursorPosition = {theirs.dwCursorPosition.X,
                            theirs.dwCursorPosition.Y};
  info->wAttributes = theirs.wAttributes;
  info->srWindow = {theirs.srWindow.Left, theirs.srWindow.Top,
                    theirs.srWindow.Right, theirs.srWindow.Bottom};
  info->dwMaximumWindowSize = {theirs.dwMaximumWindowSize.X,
                               theirs.dwMaximumWindowSize.Y};
  return ok != FALSE;
}

bool SetConsoleCursorPosition(Handle console, Coord position) {
  return ::SetConsoleCursorPosition(console, ToWindows(position)) != FALSE;
}

bool FillConsoleOutputCharacterA(Handle console, char character,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = ::FillConsoleOutputCharacterA(console, character, length,
                                          ToWindows(first), &count);
  *written = count;
  return ok != FALSE;
}

bool FillConsoleOutputAttribute(Handle console, std::uint16_t attribute,
                                std::uint32_t length, Coord first,
                                std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = ::FillConsoleOutputAttribute(console, attribute, length,
                                         ToWindows(first), &count);
  *written = count;
  return ok != FALSE;
}

bool WriteConsoleOutputCharacterA(Handle console, const char* characters,
                                  std::uint32_t length, Coord first,
                                  std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = ::WriteConsoleOutputCharacterA(console, characters, length,
                                           ToWindows(first), &count);
  *written = count;
  return ok != FALSE;
}

bool WriteConsoleOutputAttribute(Handle console,
                                 const std::uint16_t* attributes,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = ::WriteConsoleOutputAttribute(console, attributes, length,
                                          ToWindows(first), &count);
  *written = count;
  return ok != FALSE;
}

bool ScrollConsoleScreenBufferA(Handle console, const SmallRect* scroll,
                                const SmallRect* clip, Coord destination,
                                const CharInfo* fill) {
  ::SMALL_RECT scrollRect = ToWindows(*scroll);
  ::SMALL_RECT clipRect;
  if (clip != nullptr) clipRect = ToWindows(*clip);
  ::CHAR_INFO fillCell{};
  fillCell.Char.AsciiChar = fill->AsciiChar;
  fillCell.Attributes = fill->Attributes;
  return ::ScrollConsoleScreenBufferA(console, &scrollRect,
                                      clip != nullptr ? &clipRect : nullptr,
                                      ToWindows(destination),
                                      &fillCell) != FALSE;
}

std::uint32_t GetConsoleOutputCP() { return ::GetConsoleOutputCP(); }
bool SetConsoleOutputCP(std::uint32_t codePage) {
  return ::SetConsoleOutputCP(codePage) != FALSE;
}
std::uint32_t GetACP() { return ::GetACP(); }

WindowHandle SetActiveWindow(WindowHandle window) {
  return ::SetActiveWindow(static_cast<HWND>(window));
}

// A zero-time wait on the console input first: a real console answers it at
// once and it changes nothing there, but some console hosts take the
// terminal's pending bytes into events only while a read or wait is under
// way, and would otherwise never report a key to a caller that only counts.
bool GetNumberOfConsoleInputEvents(Handle console, std::uint32_t* count) {
  ::WaitForSingleObject(console, 0);
  DWORD events = 0;
  BOOL ok = ::GetNumberOfConsoleInputEvents(console, &events);
  *count = events;
  return ok != FALSE;
}

namespace {

// The character of a key event as a byte of the ANSI code page, the page
// the line editor echoes in and the catalogue is written in; '?' for a
// character that the page has no byte for. ReadConsoleInputA would give it
// in the console's input code page, an OEM page on Windows: there "ñ"
// comes as 0xA4, which echoes as "¤" and matches no key written as 0xF1.
char AnsiCharacter(WCHAR character) {
  if (character == 0) return 0;
  char byte = 0;
  BOOL defaulted = FALSE;
  int count = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &character,
                                    1, &byte, 1, nullptr, &defaulted);
  return count == 1 && !defaulted ? byte : '?';
}

}  // namespace

bool ReadConsoleInputA(Handle console, InputRecord* records,
                       std::uint32_t length, std::uint32_t* read) {
  *read = 0;
  for (std::uint32_t i = 0; i < length; ++i) {
    ::INPUT_RECORD theirs{};
    DWORD count = 0;
    if (!::ReadConsoleInputW(console, &theirs, 1, &count)) return i != 0;
    if (count == 0) break;
    InputRecord& ours = records[i];
    ours = InputRecord{};
    ours.EventType = theirs.EventType;
    if (theirs.EventType == KEY_EVENT) {
      const ::KEY_EVENT_RECORD& key = theirs.Event.KeyEvent;
      ours.KeyEvent.bKeyDown = key.bKeyDown != FALSE;
      ours.KeyEvent.wRepeatCount = key.wRepeatCount;
      ours.KeyEvent.wVirtualKeyCode = key.wVirtualKeyCode;
      ours.KeyEvent.wVirtualScanCode = key.wVirtualScanCode;
      ours.KeyEvent.AsciiChar = AnsiCharacter(key.uChar.UnicodeChar);
      // Esc carries character 27 on a console; a host that decodes a lone
      // ESC from a terminal may leave it 0 (Wine does), which would make
      // it an extended key that does nothing.
      if (key.wVirtualKeyCode == VK_ESCAPE && ours.KeyEvent.AsciiChar == 0) {
        ours.KeyEvent.AsciiChar = 27;
      }
      ours.KeyEvent.dwControlKeyState = key.dwControlKeyState;
    }
    *read = i + 1;
  }
  return true;
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
