// The console window writer.
//
// ConsoleOutput writes its bytes straight into the cells of the console's
// visible window, as taken at start-up, with a cursor of its own: it wraps
// from the right edge to the left edge one row down and scrolls the window
// up when it passes the bottom row. Between two writes the console cursor
// carries the position, so the writer goes on wherever the cursor stands.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

// 1-based screen-buffer cells of the console's window at start-up.
struct WindowRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

extern WindowRect ConsoleWindow;
extern std::uint8_t cellAttribute;
extern std::int32_t cursorColumn;  // 1-based, live during one write
extern std::int32_t cursorRow;

// cursorColumn and cursorRow from the console cursor, at the start of a
// write or a line edit, and back into it at their end.
void TakeConsoleCursor();
void PutConsoleCursor();

// The write-out and the push of ConsoleOutput.
void WriteWindow(TextStream& stream);
void PutByte(std::uint8_t byte);
void ScrollWindowUp();
void ClearScreen();

// Start-up, after BindStandardStreams: takes the window and attribute and
// binds ConsoleOutput (and ConsoleInput) to the console devices.
void StartConsole();
