#include "textio/console.h"

#include "textio/line_editor.h"

using platform::Coord;

WindowRect ConsoleWindow;
std::uint8_t cellAttribute;
std::int32_t cursorColumn;
std::int32_t cursorRow;

namespace {

// Every console call is given the standard output handle, asked anew.
platform::Handle ConsoleHandle() {
  return platform::GetStdHandle(platform::STD_OUTPUT_HANDLE);
}

// 1-based writer cells to the console's 0-based coordinates.
Coord CellAt(std::int32_t column, std::int32_t row) {
  return Coord{static_cast<std::int16_t>(column - 1),
               static_cast<std::int16_t>(row - 1)};
}

}  // namespace

void TakeConsoleCursor() {
  platform::ConsoleScreenBufferInfo info{};
  platform::GetConsoleScreenBufferInfo(ConsoleHandle(), &info);
  cursorColumn = info.dwCursorPosition.X + 1;
  cursorRow = info.dwCursorPosition.Y + 1;
}

void PutConsoleCursor() {
  platform::SetConsoleCursorPosition(ConsoleHandle(),
                                     CellAt(cursorColumn, cursorRow));
}

void WriteWindow(TextStream& stream) {
  std::uint32_t savedPage = platform::GetConsoleOutputCP();
  platform::SetConsoleOutputCP(platform::GetACP());
  TakeConsoleCursor();
  for (std::uint32_t i = 0; i < stream.bufIndex; ++i) {
    PutByte(stream.buffer[i]);
  }
  PutConsoleCursor();
  platform::SetConsoleOutputCP(savedPage);
  stream.bufIndex = 0;
}

void PutByte(std::uint8_t byte) {
  switch (byte) {
    case 7:
      break;
    case 8:
      if (cursorColumn > ConsoleWindow.left) --cursorColumn;
      break;
    case 10:
      ++cursorRow;
      break;
    case 13:
      cursorColumn = ConsoleWindow.left;
      break;
    default: {
      platform::Handle console = ConsoleHandle();
      Coord cell = CellAt(cursorColumn, cursorRow);
      char character = static_cast<char>(byte);
      std::uint16_t attribute = cellAttribute;
      std::uint32_t written = 0;
      platform::WriteConsoleOutputCharacterA(console, &character, 1, cell,
                                             &written);
      platform::WriteConsoleOutputAttribute(console, &attribute, 1, cell,
                                            &written);
      ++cursorColumn;
      break;
    }
  }
  if (cursorColumn > ConsoleWindow.right) {
    cursorColumn = ConsoleWindow.left;
    ++cursorRow;
  }
  while (cursorRow > ConsoleWindow.bottom) {
    ScrollWindowUp();
    --cursorRow;
  }
}

// Moves the window's rows up by one; 0-based cells, W = ConsoleWindow:
//
//   top-1    +-----------+        +-----------+
//            | row A     |  lost  | row B     |
//            | row B     |  --->  | row C     |
//   bottom-1 | row C     |        | (spaces)  |
//            +-----------+        +-----------+
//           left-1   right-1
//
// The source is the window without its top row, the destination its top
// left cell, the clip the whole window, so nothing outside it changes.
void ScrollWindowUp() {
  const WindowRect& w = ConsoleWindow;
  platform::SmallRect source{static_cast<std::int16_t>(w.left - 1),
                             static_cast<std::int16_t>(w.top),
                             static_cast<std::int16_t>(w.right - 1),
                             static_cast<std::int16_t>(w.bottom - 1)};
  platform::SmallRect clip{static_cast<std::int16_t>(w.left - 1),
                           static_cast<std::int16_t>(w.top - 1),
                           static_cast<std::int16_t>(w.right - 1),
                           static_cast<std::int16_t>(w.bottom - 1)};
  platform::CharInfo fill{' ', cellAttribute};
  platform::ScrollConsoleScreenBufferA(ConsoleHandle(), &source, &clip,
                                       CellAt(w.left, w.top), &fill);
}

void ClearScreen() {
  const WindowRect& w = ConsoleWindow;
  platform::Handle console = ConsoleHandle();
  std::uint32_t width = static_cast<std::uint32_t>(w.right - w.left + 1);
  std::uint32_t written = 0;
  for (std::int32_t row = w.top; row <= w.bottom; ++row) {
    platform::FillConsoleOutputAttribute(console, cellAttribute, width,
                                         CellAt(w.left, row), &written);
    platform::FillConsoleOutputCharacterA(console, ' ', width,
                                          CellAt(w.left, row), &written);
  }
  platform::SetConsoleCursorPosition(console, CellAt(w.left, w.top));
}

void StartConsole() {
  platform::SetActiveWindow(nullptr);

  platform::ConsoleScreenBufferInfo info{};
  platform::GetConsoleScreenBufferInfo(ConsoleHandle(), &info);
  cellAttribute = static_cast<std::uint8_t>(info.wAttributes & 0xFF);
  ConsoleWindow = WindowRect{info.srWindow.Left + 1, info.srWindow.Top + 1,
                             info.srWindow.Right + 1, info.srWindow.Bottom + 1};

  BindStream(ConsoleOutput, ShortText{});
  ConsoleOutput.device = Device::consoleOutput;
  ConsoleOutput.state = StreamState::writing;
  ConsoleOutput.bufIndex = 0;
  ConsoleOutput.bufCount = 0;
  CheckIo();
  ConsoleOutput.handle = ConsoleHandle();

  altCodeActive = false;
  altCode = 0;

  BindStream(ConsoleInput, ShortText{});
  ConsoleInput.device = Device::consoleInput;
  ConsoleInput.state = StreamState::reading;
  ConsoleInput.bufIndex = 0;
  ConsoleInput.bufCount = 0;
  CheckIo();
  ConsoleInput.handle = platform::GetStdHandle(platform::STD_INPUT_HANDLE);
}
