#include "platform/posix/screen_buffer.h"

#include <algorithm>

namespace platform::posix {
namespace {

// Inclusive rectangle of cells.
struct Rect {
  int left;
  int top;
  int right;
  int bottom;
};

bool Intersect(const Rect& a, const Rect& b, Rect* result) {
  *result = Rect{std::max(a.left, b.left), std::max(a.top, b.top),
                 std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return result->left <= result->right && result->top <= result->bottom;
}

bool Contains(const Rect& r, int column, int row) {
  return column >= r.left && column <= r.right && row >= r.top &&
         row <= r.bottom;
}

Rect FromSmallRect(const SmallRect& r) {
  return Rect{r.Left, r.Top, r.Right, r.Bottom};
}

// Applies `change` to up to `length` cells from `first` on, row after row,
// stopping at the end of the buffer. Fails like Windows for a first cell
// outside the buffer.
template <typename Change>
bool ChangeRun(ScreenBuffer& screen, std::uint32_t length, Coord first,
               std::uint32_t* written, std::uint32_t* error, Change change) {
  *written = 0;
  if (!InScreen(screen, first)) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::uint32_t done = 0;
  int column = first.X;
  for (int row = first.Y; row < screen.rows && done < length; ++row) {
    ScreenCell* cells = RowCells(screen, row);
    for (; column < screen.columns && done < length; ++column) {
      change(cells[column], done);
      ++done;
    }
    column = 0;
  }
  *written = done;
  if (done > 0) screen.changed = true;
  return true;
}

}  // namespace

void ResetScreen(ScreenBuffer& screen, int columns, int rows) {
  screen.columns = columns;
  screen.rows = rows;
  screen.cells.assign(static_cast<std::size_t>(columns * rows), undefinedCell);
  screen.firstRow = 0;
  screen.cursorKnown = false;
  screen.cursorColumn = 0;
  screen.cursorRow = 0;
  screen.changed = false;
  screen.scrolledRows = 0;
}

void ForgetScreen(ScreenBuffer& screen) {
  std::fill(screen.cells.begin(), screen.cells.end(), undefinedCell);
  screen.cursorKnown = false;
  screen.scrolledRows = 0;
}

bool FillCharacters(ScreenBuffer& screen, std::uint8_t character,
                    std::uint32_t length, Coord first, std::uint32_t* written,
                    std::uint32_t* error) {
  return ChangeRun(screen, length, first, written, error,
                   [&](ScreenCell& cell, std::uint32_t) {
                     cell.character = character;
                     cell.defined = true;
                   });
}

bool FillAttributes(ScreenBuffer& screen, std::uint16_t attribute,
                    std::uint32_t length, Coord first, std::uint32_t* written,
                    std::uint32_t* error) {
  return ChangeRun(screen, length, first, written, error,
                   [&](ScreenCell& cell, std::uint32_t) {
                     cell.attribute = attribute;
                     cell.defined = true;
                   });
}

bool WriteCharacters(ScreenBuffer& screen, const char* characters,
                     std::uint32_t length, Coord first, std::uint32_t* written,
                     std::uint32_t* error) {
  return ChangeRun(screen, length, first, written, error,
                   [&](ScreenCell& cell, std::uint32_t i) {
                     cell.character = static_cast<std::uint8_t>(characters[i]);
                     cell.defined = true;
                   });
}

bool WriteAttributes(ScreenBuffer& screen, const std::uint16_t* attributes,
                     std::uint32_t length, Coord first, std::uint32_t* written,
                     std::uint32_t* error) {
  return ChangeRun(screen, length, first, written, error,
                   [&](ScreenCell& cell, std::uint32_t i) {
                     cell.attribute = attributes[i];
                     cell.defined = true;
                   });
}

// Moves the cells of `scroll` so that its top-left cell lands on
// `destination`, as if through a copy; the cells of `scroll` that the move
// leaves behind take `fill`. Only cells inside `clip` (the whole buffer
// when null) change. Both rectangles are first cut to the buffer; a
// scroll rectangle cut on its left or top moves the destination with it.
//
//        scroll                     destination
//   +--------------+           +--------------+
//   | A            |    -->    | A            |   clip: the cells that
//   |   B          |           |   B          |   may change at all
//   +--------------+           +--------------+
//   cells of scroll not covered by the destination: fill
//
// A scroll of the whole buffer up by n rows (the console writer's scroll)
// turns the ring of rows instead of moving cells, and is counted for the
// renderer, which lets the terminal scroll too.
bool ScrollScreen(ScreenBuffer& screen, const SmallRect& scroll,
                  const SmallRect* clip, Coord destination,
                  const CharInfo& fill, std::uint32_t* error) {
  (void)error;
  const Rect whole{0, 0, screen.columns - 1, screen.rows - 1};
  Rect source;
  if (!Intersect(FromSmallRect(scroll), whole, &source)) return true;
  int toColumn = destination.X + (source.left - scroll.Left);
  int toRow = destination.Y + (source.top - scroll.Top);
  Rect bounds = whole;
  if (clip != nullptr && !Intersect(FromSmallRect(*clip), whole, &bounds)) {
    return true;
  }
  const ScreenCell fillCell{static_cast<std::uint8_t>(fill.AsciiChar), true,
                            fill.Attributes};

  bool wholeWidth = source.left == 0 && source.right == whole.right;
  if (wholeWidth && source.bottom == whole.bottom && source.top > 0 &&
      toColumn == 0 && toRow == 0 && bounds.left == 0 && bounds.top == 0 &&
      bounds.right == whole.right && bounds.bottom == whole.bottom) {
    int n = source.top;
    screen.firstRow = (screen.firstRow + n) % screen.rows;
    for (int row = screen.rows - n; row < screen.rows; ++row) {
      std::fill_n(RowCells(screen, row), screen.columns, fillCell);
    }
    screen.scrolledRows += n;
    screen.changed = true;
    return true;
  }

  int width = source.right - source.left + 1;
  int height = source.bottom - source.top + 1;
  std::vector<ScreenCell> moved(static_cast<std::size_t>(width * height));
  for (int row = 0; row < height; ++row) {
    const ScreenCell* from = RowCells(screen, source.top + row) + source.left;
    std::copy_n(from, width, &moved[static_cast<std::size_t>(row * width)]);
  }
  for (int row = source.top; row <= source.bottom; ++row) {
    ScreenCell* cells = RowCells(screen, row);
    for (int column = source.left; column <= source.right; ++column) {
      if (Contains(bounds, column, row)) cells[column] = fillCell;
    }
  }
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      int r = toRow + row;
      int c = toColumn + column;
      if (!Contains(bounds, c, r)) continue;
      ScreenCell cell = moved[static_cast<std::size_t>(row * width + column)];
      // What another writer left can only move with the terminal's own
      // scroll; moved elsewhere it becomes a blank that the layer knows.
      if (!cell.defined) cell = blankCell;
      RowCells(screen, r)[c] = cell;
    }
  }
  screen.changed = true;
  return true;
}

bool SetCursor(ScreenBuffer& screen, Coord position, std::uint32_t* error) {
  if (!InScreen(screen, position)) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!screen.cursorKnown || screen.cursorColumn != position.X ||
      screen.cursorRow != position.Y) {
    screen.changed = true;
  }
  screen.cursorKnown = true;
  screen.cursorColumn = position.X;
  screen.cursorRow = position.Y;
  return true;
}

}  // namespace platform::posix
