// The console's screen buffer: cells in memory, changed by the console
// calls exactly as the Windows calls change a console's cells. Pure: no
// I/O; the renderer brings the terminal up to date with it.
//
// The buffer is the terminal's screen: columns x rows cells from the
// terminal's size, the window (0,0)-(columns-1, rows-1).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// The attribute a console starts with: the terminal's default colours.
constexpr std::uint16_t defaultAttribute = 7;

struct ScreenCell {
  std::uint8_t character;  // a byte of the ANSI code page
  // False while the terminal shows, in this cell, whatever another writer
  // (a child process, a write to a standard handle) left there: the layer
  // does not know it, and the renderer leaves the cell alone until a call
  // writes it.
  bool defined;
  std::uint16_t attribute;

  bool operator==(const ScreenCell&) const = default;
};

constexpr ScreenCell blankCell{' ', true, defaultAttribute};
constexpr ScreenCell undefinedCell{' ', false, defaultAttribute};

struct ScreenBuffer {
  int columns = 0;
  int rows = 0;
  // Row r of the screen is physical row (r + firstRow) % rows, so that a
  // scroll of the whole buffer moves no cells.
  std::vector<ScreenCell> cells;
  int firstRow = 0;

  bool cursorKnown = false;
  int cursorColumn = 0;
  int cursorRow = 0;

  // For the renderer, since it last painted: whether anything changed,
  // and by how many rows the whole buffer scrolled up (which it can let
  // the terminal do, instead of painting every moved cell).
  bool changed = false;
  int scrolledRows = 0;
};

// A buffer of the given size, every cell undefined, the cursor unknown.
void ResetScreen(ScreenBuffer& screen, int columns, int rows);

// Something else wrote to the terminal: no cell and not the cursor are
// known any more.
void ForgetScreen(ScreenBuffer& screen);

inline ScreenCell* RowCells(ScreenBuffer& screen, int row) {
  int physical = row + screen.firstRow;
  if (physical >= screen.rows) physical -= screen.rows;
  return &screen.cells[static_cast<std::size_t>(physical * screen.columns)];
}

inline const ScreenCell* RowCells(const ScreenBuffer& screen, int row) {
  return RowCells(const_cast<ScreenBuffer&>(screen), row);
}

inline bool InScreen(const ScreenBuffer& screen, Coord cell) {
  return cell.X >= 0 && cell.Y >= 0 && cell.X < screen.columns &&
         cell.Y < screen.rows;
}

// The console calls on the buffer. Each returns false, with the Windows
// error code in *error, where Windows fails; *written counts the cells
// changed, which stop at the end of the buffer as on Windows.
bool FillCharacters(ScreenBuffer& screen, std::uint8_t character,
                    std::uint32_t length, Coord first, std::uint32_t* written,
                    std::uint32_t* error);
bool FillAttributes(ScreenBuffer& screen, std::uint16_t attribute,
                    std::uint32_t length, Coord first, std::uint32_t* written,
                    std::uint32_t* error);
bool WriteCharacters(ScreenBuffer& screen, const char* characters,
                     std::uint32_t length, Coord first, std::uint32_t* written,
                     std::uint32_t* error);
bool WriteAttributes(ScreenBuffer& screen, const std::uint16_t* attributes,
                     std::uint32_t length, Coord first, std::uint32_t* written,
                     std::uint32_t* error);
bool ScrollScreen(ScreenBuffer& screen, const SmallRect& scroll,
                  const SmallRect* clip, Coord destination,
                  const CharInfo& fill, std::uint32_t* error);
bool SetCursor(ScreenBuffer& screen, Coord position, std::uint32_t* error);

}  // namespace platform::posix
