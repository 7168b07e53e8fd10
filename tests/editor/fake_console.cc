#include "tests/editor/fake_console.h"

#include <cctype>
#include <cstring>

#include "runtime/run.h"

namespace fake {

Console console;

namespace {

platform::Handle const inputHandle = reinterpret_cast<platform::Handle>(0x10);
platform::Handle const outputHandle = reinterpret_cast<platform::Handle>(0x14);
platform::Handle const errorHandle = reinterpret_cast<platform::Handle>(0x18);

bool InWindow(platform::Coord cell) {
  return cell.X >= 0 && cell.Y >= 0 && cell.X < console.columns &&
         cell.Y < console.rows;
}

void SetCell(platform::Coord cell, char character) {
  if (InWindow(cell)) console.cells[cell.Y][cell.X] = character;
}

// US keyboard scan codes of the keys Type knows.
std::uint16_t ScanOf(char c) {
  static const char* const rows[] = {"1234567890", "qwertyuiop", "asdfghjkl",
                                     "zxcvbnm"};
  static const int firstScan[] = {2, 16, 30, 44};
  char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int r = 0; r < 4; ++r) {
    const char* at = std::strchr(rows[r], lower);
    if (lower != 0 && at != nullptr) {
      return static_cast<std::uint16_t>(firstScan[r] + (at - rows[r]));
    }
  }
  if (c == ' ') return 57;
  if (c == ',') return 51;
  if (c == '.') return 52;
  return 0;
}

}  // namespace

void Reset(int columns, int rows) {
  console = Console{};
  console.columns = columns;
  console.rows = rows;
  console.cells.assign(static_cast<std::size_t>(rows),
                       std::string(static_cast<std::size_t>(columns), ' '));
}

std::string Row(int row) {
  std::string text = console.cells[static_cast<std::size_t>(row)];
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

platform::InputRecord KeyRecord(bool down, std::uint16_t virtualKey,
                                std::uint16_t scan, std::uint8_t character,
                                std::uint32_t state) {
  platform::InputRecord record{};
  record.EventType = platform::KEY_EVENT;
  record.KeyEvent.bKeyDown = down;
  record.KeyEvent.wRepeatCount = 1;
  record.KeyEvent.wVirtualKeyCode = virtualKey;
  record.KeyEvent.wVirtualScanCode = scan;
  record.KeyEvent.AsciiChar = static_cast<char>(character);
  record.KeyEvent.dwControlKeyState = state;
  return record;
}

void QueueRaw(const platform::InputRecord& record) {
  console.events.push_back(record);
}

void Press(std::uint16_t virtualKey, std::uint16_t scan,
           std::uint8_t character, std::uint32_t state) {
  QueueRaw(KeyRecord(true, virtualKey, scan, character, state));
  QueueRaw(KeyRecord(false, virtualKey, scan, character, state));
}

void Type(const std::string& text) {
  for (char c : text) {
    auto virtualKey = static_cast<std::uint16_t>(
        std::toupper(static_cast<unsigned char>(c)));
    std::uint32_t state =
        std::isupper(static_cast<unsigned char>(c)) ? platform::SHIFT_PRESSED : 0;
    Press(virtualKey, ScanOf(c), static_cast<std::uint8_t>(c), state);
  }
}

void Enter() { Press(13, 28, 13); }

void AltCode(const std::string& keypadDigits) {
  static const std::uint16_t scans[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  constexpr std::uint32_t alt = platform::LEFT_ALT_PRESSED;
  QueueRaw(KeyRecord(true, 18, 56, 0, alt));
  for (char digit : keypadDigits) {
    int d = digit - '0';
    // Num Lock on: VK_NUMPAD0 + d; Windows gives no character with Alt.
    Press(static_cast<std::uint16_t>(0x60 + d), scans[d], 0, alt);
  }
  QueueRaw(KeyRecord(false, 18, 56, 0, 0));
}

}  // namespace fake

// ---------------------------------------------------------------------------
// The platform calls, over the fake console
// ---------------------------------------------------------------------------

namespace platform {

using fake::console;

Handle GetStdHandle(std::uint32_t which) {
  if (which == STD_INPUT_HANDLE) return fake::inputHandle;
  if (which == STD_OUTPUT_HANDLE) return fake::outputHandle;
  return fake::errorHandle;
}

Handle CreateFileA(const char*, std::uint32_t, std::uint32_t,
                   SecurityAttributes*, std::uint32_t, std::uint32_t, Handle) {
  return INVALID_HANDLE_VALUE;
}

// The standard input of these tests is the console: its bytes are never
// read as a file's, unless it has gone away, and then reads fail.
bool ReadFile(Handle, void*, std::uint32_t, std::uint32_t* bytesRead) {
  *bytesRead = 0;
  if (console.countsBeforeLoss == 0) return false;
  throw std::logic_error("the console input was read as a file");
}

bool WriteFile(Handle, const void*, std::uint32_t bytesToWrite,
               std::uint32_t* bytesWritten) {
  *bytesWritten = bytesToWrite;
  return true;
}

bool CloseHandle(Handle) { return true; }
std::uint32_t GetFileType(Handle) { return FILE_TYPE_CHAR; }
std::uint32_t GetLastError() { return ERROR_INVALID_HANDLE; }

bool GetConsoleScreenBufferInfo(Handle, ConsoleScreenBufferInfo* info) {
  auto right = static_cast<std::int16_t>(console.columns - 1);
  auto bottom = static_cast<std::int16_t>(console.rows - 1);
  info->dwSize = Coord{static_cast<std::int16_t>(console.columns),
                       static_cast<std::int16_t>(console.rows)};
  info->dwCursorPosition = console.cursor;
  info->wAttributes = 7;
  info->srWindow = SmallRect{0, 0, right, bottom};
  info->dwMaximumWindowSize = info->dwSize;
  return true;
}

bool SetConsoleCursorPosition(Handle, Coord position) {
  console.cursor = position;
  return true;
}

bool FillConsoleOutputCharacterA(Handle, char character, std::uint32_t length,
                                 Coord first, std::uint32_t* written) {
  for (std::uint32_t i = 0; i < length; ++i) {
    fake::SetCell(Coord{static_cast<std::int16_t>(first.X + i), first.Y},
                  character);
  }
  *written = length;
  return true;
}

bool FillConsoleOutputAttribute(Handle, std::uint16_t, std::uint32_t length,
                                Coord, std::uint32_t* written) {
  *written = length;
  return true;
}

bool WriteConsoleOutputCharacterA(Handle, const char* characters,
                                  std::uint32_t length, Coord first,
                                  std::uint32_t* written) {
  for (std::uint32_t i = 0; i < length; ++i) {
    fake::SetCell(Coord{static_cast<std::int16_t>(first.X + i), first.Y},
                  characters[i]);
  }
  console.pagesWhileWriting.push_back(console.outputPage);
  *written = length;
  return true;
}

bool WriteConsoleOutputAttribute(Handle, const std::uint16_t*,
                                 std::uint32_t length, Coord,
                                 std::uint32_t* written) {
  *written = length;
  return true;
}

// The writer only ever scrolls the whole window up by one row.
bool ScrollConsoleScreenBufferA(Handle, const SmallRect*, const SmallRect*,
                                Coord, const CharInfo* fill) {
  console.cells.erase(console.cells.begin());
  console.cells.push_back(
      std::string(static_cast<std::size_t>(console.columns), fill->AsciiChar));
  return true;
}

std::uint32_t GetConsoleOutputCP() { return console.outputPage; }
bool SetConsoleOutputCP(std::uint32_t codePage) {
  console.outputPage = codePage;
  return true;
}
std::uint32_t GetACP() { return fake::ansiPage; }
WindowHandle SetActiveWindow(WindowHandle) { return nullptr; }

bool GetNumberOfConsoleInputEvents(Handle handle, std::uint32_t* count) {
  *count = 0;
  if (handle != fake::inputHandle) return false;
  if (console.countsBeforeLoss == 0) return false;
  if (console.countsBeforeLoss > 0) --console.countsBeforeLoss;
  *count = static_cast<std::uint32_t>(console.events.size());
  return true;
}

bool ReadConsoleInputA(Handle handle, InputRecord* records,
                       std::uint32_t length, std::uint32_t* read) {
  *read = 0;
  if (handle != fake::inputHandle) return false;
  if (console.events.empty()) {
    throw std::logic_error("ReadConsoleInputA would block");
  }
  while (*read < length && !console.events.empty()) {
    records[(*read)++] = console.events.front();
    console.events.pop_front();
  }
  return true;
}

void Sleep(std::uint32_t milliseconds) {
  ++console.sleeps;
  console.sleepLengths.push_back(milliseconds);
  console.cursorsWhileSleeping.push_back(console.cursor);
  console.pagesWhileSleeping.push_back(console.outputPage);
  if (console.countsBeforeLoss == 0) {
    if (++console.sleepsAfterLoss > 10) {
      throw fake::NeverComes("the editor polls a console that has gone away");
    }
    return;
  }
  if (!console.laterEvents.empty()) {
    if (console.sleeps >= console.arrivalSleeps) {
      for (const InputRecord& record : console.laterEvents) {
        console.events.push_back(record);
      }
      console.laterEvents.clear();
    }
    return;
  }
  if (console.events.empty()) {
    throw fake::NeverComes("the editor waits for a key the test never types");
  }
}

}  // namespace platform

void StopWithRuntimeError(std::uint16_t code, void*, void*) {
  throw std::logic_error("run stopped with code " + std::to_string(code));
}
