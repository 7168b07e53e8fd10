#include "platform/posix/vt_renderer.h"

#include <algorithm>

#include "platform/posix/glyphs.h"

namespace platform::posix {

// ---------------------------------------------------------------------------
// Control sequences
// ---------------------------------------------------------------------------

namespace {

void AppendNumber(std::string& out, int value) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (length > 0) out += digits[--length];
}

// CSI, an optional count, and the final byte; a count of 1 is left out, as
// the terminal takes it by default.
void AppendCountSequence(std::string& out, int count, char final) {
  out += "\x1b[";
  if (count != 1) AppendNumber(out, count);
  out += final;
}

// The terminal numbers rows and columns from 1.
int OneBased(int zeroBased) { return zeroBased + 1; }

// Windows colour bits are blue 1, green 2, red 4; the terminal's colour
// numbers are red 1, green 2, blue 4.
int TerminalColor(int windowsColor) {
  return ((windowsColor & 1) << 2) | (windowsColor & 2) |
         ((windowsColor & 4) >> 2);
}

}  // namespace

// CUP: stands in for SetConsoleCursorPosition.
void AppendCursorPosition(std::string& out, int row, int column) {
  out += "\x1b[";
  if (row != 0 || column != 0) {
    AppendNumber(out, OneBased(row));
    if (column != 0) {
      out += ';';
      AppendNumber(out, OneBased(column));
    }
  }
  out += 'H';
}

// CHA: to a column of the cursor's row.
void AppendCursorColumn(std::string& out, int column) {
  out += "\x1b[";
  if (column != 0) AppendNumber(out, OneBased(column));
  out += 'G';
}

void AppendCursorUp(std::string& out, int count) {
  AppendCountSequence(out, count, 'A');
}
void AppendCursorDown(std::string& out, int count) {
  AppendCountSequence(out, count, 'B');
}
void AppendCursorForward(std::string& out, int count) {
  AppendCountSequence(out, count, 'C');
}
void AppendCursorBack(std::string& out, int count) {
  AppendCountSequence(out, count, 'D');
}

// EL 0: blanks from the cursor to the end of its row; stands in for
// FillConsoleOutputCharacterA of spaces over a row's tail.
void AppendEraseToEndOfLine(std::string& out) { out += "\x1b[K"; }

// ED 0: blanks from the cursor to the end of the screen; stands in for the
// fills of ClearScreen.
void AppendEraseBelow(std::string& out) { out += "\x1b[J"; }

// SGR: stands in for the attribute of the cells written next. The
// start-up attribute 7 is the terminal's default colours; any other is
// reset and then its foreground and background among the 16 colours.
void AppendGraphicRendition(std::string& out, std::uint16_t attribute) {
  int foreground = attribute & 0x0F;
  int background = (attribute >> 4) & 0x0F;
  if ((attribute & 0xFF) == defaultAttribute) {
    out += "\x1b[m";
    return;
  }
  out += "\x1b[0;";
  AppendNumber(out, ((foreground & 8) != 0 ? 90 : 30) +
                        TerminalColor(foreground & 7));
  out += ';';
  AppendNumber(out, ((background & 8) != 0 ? 100 : 40) +
                        TerminalColor(background & 7));
  out += 'm';
}

// DSR 6: asks for the cursor-position report, the terminal's answer to
// what GetConsoleScreenBufferInfo reports as the cursor.
void AppendCursorPositionQuery(std::string& out) { out += "\x1b[6n"; }

// DECKPAM and DECKPNM: keypad keys send escape sequences (keypad Enter and
// "/" then differ from Enter and "/"), or their characters.
void AppendKeypadApplicationMode(std::string& out) { out += "\x1b="; }
void AppendKeypadNumericMode(std::string& out) { out += "\x1b>"; }

// ---------------------------------------------------------------------------
// Image
// ---------------------------------------------------------------------------

void ResetImage(TerminalImage& image, const ScreenBuffer& screen,
                int terminalColumns, int terminalRows) {
  image.rows = terminalRows;
  image.columns = terminalColumns;
  image.viewTop = 0;
  image.cells.assign(static_cast<std::size_t>(screen.columns * screen.rows),
                     undefinedCell);
  ForgetImage(image);
}

void ForgetImage(TerminalImage& image) {
  std::fill(image.cells.begin(), image.cells.end(), undefinedCell);
  image.cursorKnown = false;
  image.pendingWrap = false;
  image.attributeKnown = false;
}

namespace {

int VisibleRows(const ScreenBuffer& screen, const TerminalImage& image) {
  return std::min(screen.rows, image.rows);
}

int VisibleColumns(const ScreenBuffer& screen, const TerminalImage& image) {
  return std::min(screen.columns, image.columns);
}

// The buffer row on the terminal's top row: 0 when the terminal is tall
// enough, else the bottom rows of the buffer, moved up if the cursor is
// above them just so far that the cursor is on the terminal's bottom row,
// with the text written before it in view above it.
int ViewTop(const ScreenBuffer& screen, const TerminalImage& image) {
  if (image.rows >= screen.rows) return 0;
  int top = screen.rows - image.rows;
  if (screen.cursorKnown && screen.cursorRow < top) {
    top = std::max(0, screen.cursorRow - image.rows + 1);
  }
  return top;
}

bool LooksSame(const ScreenCell& a, const ScreenCell& b) {
  return CodePointOfCell(a.character) == CodePointOfCell(b.character) &&
         (a.attribute & 0xFF) == (b.attribute & 0xFF);
}

bool IsBlank(const ScreenCell& cell) {
  return cell.defined && CodePointOfCell(cell.character) == ' ' &&
         (cell.attribute & 0xFF) == defaultAttribute;
}

// A cell to paint: the layer knows what it should show, and the terminal
// is not known to show it.
bool Needs(const ScreenCell& wanted, const ScreenCell& shown) {
  return wanted.defined && !(shown.defined && LooksSame(wanted, shown));
}

std::size_t GlyphLength(const ScreenCell& cell) {
  return GlyphOfCell(cell.character).length;
}

class Painter {
 public:
  Painter(ScreenBuffer& screen, TerminalImage& image, std::string& out)
      : screen_(screen),
        image_(image),
        out_(out),
        rows_(VisibleRows(screen, image)),
        columns_(VisibleColumns(screen, image)) {}

  void ScrollTerminal(int count);
  void EraseBlankBottom();
  void PaintRow(int row);
  void PlaceCursor();
  void EndWithDefaultRendition();

 private:
  ScreenCell* Shown(int row) {
    return &image_.cells[static_cast<std::size_t>(row * screen_.columns)];
  }
  std::string Motion(int row, int column) const;
  std::size_t RewriteCost(int row, int from, int to) const;
  void MoveTo(int row, int column);
  void SetAttribute(std::uint16_t attribute);
  void PutCell(int row, int column);

  ScreenBuffer& screen_;
  TerminalImage& image_;
  std::string& out_;
  int rows_;     // buffer rows in view, from image_.viewTop
  int columns_;  // buffer columns in view
};

// The shortest bytes that take the terminal's cursor to terminal cell
// (row, column): CUP, or motion relative to where the cursor is known to
// stand.
std::string Painter::Motion(int row, int column) const {
  std::string best;
  AppendCursorPosition(best, row, column);
  if (!image_.cursorKnown) return best;

  // A pending wrap is left by a carriage return first.
  std::string prefix = image_.pendingWrap ? "\r" : "";
  int fromColumn = image_.pendingWrap ? 0 : image_.cursorColumn;
  int down = row - image_.cursorRow;

  struct Vertical {
    std::string bytes;
    int column;
  };
  Vertical verticals[2];
  int verticalCount = 0;
  if (down == 0) {
    verticals[verticalCount++] = {"", fromColumn};
  } else if (down > 0) {
    // LF moves down without scrolling, as the target row is on screen.
    if (down <= 4) {
      verticals[verticalCount++] = {std::string(static_cast<std::size_t>(down), '\n'),
                                    image_.lineFeedReturns ? 0 : fromColumn};
    }
    std::string cud;
    AppendCursorDown(cud, down);
    verticals[verticalCount++] = {cud, fromColumn};
  } else {
    std::string cuu;
    AppendCursorUp(cuu, -down);
    verticals[verticalCount++] = {cuu, fromColumn};
  }

  for (int v = 0; v < verticalCount; ++v) {
    const Vertical& vertical = verticals[v];
    int from = vertical.column;
    std::string horizontal;
    if (column != from) {
      std::string option;
      auto consider = [&] {
        if (horizontal.empty() || option.size() < horizontal.size()) {
          horizontal.swap(option);
        }
        option.clear();
      };
      AppendCursorColumn(option, column);
      consider();
      if (column == 0) {
        option.push_back('\r');
        consider();
      }
      if (column > from) {
        AppendCursorForward(option, column - from);
        consider();
      } else {
        if (from - column <= 4) {
          option.append(static_cast<std::size_t>(from - column), '\b');
          consider();
        }
        AppendCursorBack(option, from - column);
        consider();
      }
    }
    std::size_t size =
        prefix.size() + vertical.bytes.size() + horizontal.size();
    if (size < best.size()) {
      best.assign(prefix);
      best.append(vertical.bytes);
      best.append(horizontal);
    }
  }
  return best;
}

// The bytes that write buffer cells [from, to) of `row` again, moving the
// cursor over them; more than any motion when one of them is not known to
// be on the terminal already, or not in the rendition in force.
std::size_t Painter::RewriteCost(int row, int from, int to) const {
  const ScreenCell* wanted = RowCells(screen_, row);
  const ScreenCell* shown =
      &image_.cells[static_cast<std::size_t>(row * screen_.columns)];
  std::size_t cost = 0;
  for (int c = from; c < to; ++c) {
    if (!wanted[c].defined || Needs(wanted[c], shown[c]) ||
        !image_.attributeKnown ||
        (wanted[c].attribute & 0xFF) != (image_.attribute & 0xFF)) {
      return static_cast<std::size_t>(-1);
    }
    cost += GlyphLength(wanted[c]);
  }
  return cost;
}

void Painter::MoveTo(int row, int column) {
  if (image_.cursorKnown && !image_.pendingWrap && image_.cursorRow == row &&
      image_.cursorColumn == column) {
    return;
  }
  std::string motion = Motion(row, column);
  if (image_.cursorKnown && !image_.pendingWrap && image_.cursorRow == row &&
      image_.cursorColumn < column &&
      RewriteCost(row + image_.viewTop, image_.cursorColumn, column) <
          motion.size()) {
    for (int c = image_.cursorColumn; c < column; ++c) {
      PutCell(row + image_.viewTop, c);
    }
    return;
  }
  out_ += motion;
  image_.cursorKnown = true;
  image_.pendingWrap = false;
  image_.cursorRow = row;
  image_.cursorColumn = column;
}

void Painter::SetAttribute(std::uint16_t attribute) {
  if (image_.attributeKnown &&
      (image_.attribute & 0xFF) == (attribute & 0xFF)) {
    return;
  }
  AppendGraphicRendition(out_, attribute);
  image_.attributeKnown = true;
  image_.attribute = attribute & 0xFF;
}

// Writes the glyph of buffer cell (row, column) where the cursor stands.
void Painter::PutCell(int row, int column) {
  const ScreenCell& cell = RowCells(screen_, row)[column];
  SetAttribute(cell.attribute);
  const Glyph& glyph = GlyphOfCell(cell.character);
  out_.append(glyph.bytes, glyph.length);
  Shown(row)[column] = cell;
  if (image_.cursorColumn + 1 >= image_.columns) {
    image_.pendingWrap = true;
  } else {
    ++image_.cursorColumn;
  }
}

// The buffer scrolled up by `count` rows: the terminal scrolls too, by line
// feeds on its bottom row, and what it showed moves up with the cells.
//
//   row 0        +--------+              +--------+
//                | A      |   count LF   | B      |
//                | B      |   ------->   | C      |
//   rows-1       | C      |  (cursor on  | blank  |  <- new rows are blank
//                +--------+   this row)  +--------+
void Painter::ScrollTerminal(int count) {
  int rows = image_.rows;
  count = std::min(count, rows);
  MoveTo(rows - 1, image_.cursorKnown && !image_.pendingWrap
                       ? image_.cursorColumn
                       : 0);
  // New rows take the background in force.
  SetAttribute(defaultAttribute);
  out_.append(static_cast<std::size_t>(count), '\n');
  if (image_.lineFeedReturns) image_.cursorColumn = 0;
  std::size_t width = static_cast<std::size_t>(screen_.columns);
  std::size_t kept = static_cast<std::size_t>(rows - count) * width;
  std::copy(image_.cells.begin() + static_cast<std::ptrdiff_t>(count * width),
            image_.cells.begin() + static_cast<std::ptrdiff_t>(count * width + kept),
            image_.cells.begin());
  std::fill(image_.cells.begin() + static_cast<std::ptrdiff_t>(kept),
            image_.cells.end(), blankCell);
}

// When the buffer ends in blank rows, one erase-below blanks them all, if
// the terminal ends where the view does.
void Painter::EraseBlankBottom() {
  if (columns_ != image_.columns || rows_ != image_.rows) return;
  int top = image_.viewTop;
  int first = top + rows_;
  while (first > top) {
    const ScreenCell* cells = RowCells(screen_, first - 1);
    bool blank = true;
    for (int c = 0; c < columns_ && blank; ++c) blank = IsBlank(cells[c]);
    if (!blank) break;
    --first;
  }
  int rowsToPaint = 0;
  for (int row = first; row < top + rows_; ++row) {
    const ScreenCell* wanted = RowCells(screen_, row);
    const ScreenCell* shown = Shown(row);
    for (int c = 0; c < columns_; ++c) {
      if (Needs(wanted[c], shown[c])) {
        ++rowsToPaint;
        break;
      }
    }
  }
  if (rowsToPaint < 2) return;
  MoveTo(first - top, 0);
  SetAttribute(defaultAttribute);
  AppendEraseBelow(out_);
  for (int row = first; row < top + rows_; ++row) {
    std::fill_n(Shown(row), columns_, blankCell);
  }
}

// Paints the cells of buffer row `row` that the terminal does not show:
// runs of cells, with the shortest motion between them (which may write a
// short stretch of right cells again), and a blank tail erased.
void Painter::PaintRow(int row) {
  const ScreenCell* wanted = RowCells(screen_, row);
  ScreenCell* shown = Shown(row);
  int line = row - image_.viewTop;
  int first = 0;
  while (first < columns_ && !Needs(wanted[first], shown[first])) ++first;
  if (first == columns_) return;

  int tail = columns_;
  while (tail > 0 && IsBlank(wanted[tail - 1])) --tail;
  int tailNeeds = 0;
  for (int c = tail; c < columns_; ++c) {
    if (Needs(wanted[c], shown[c])) ++tailNeeds;
  }
  // Erasing reaches the terminal's right edge, past the view.
  bool eraseTail = columns_ == image_.columns && tailNeeds >= 3;
  int end = eraseTail ? tail : columns_;

  for (int column = first; column < end; ++column) {
    if (!Needs(wanted[column], shown[column])) continue;
    MoveTo(line, column);
    PutCell(row, column);
  }
  if (eraseTail) {
    MoveTo(line, tail);
    SetAttribute(defaultAttribute);
    AppendEraseToEndOfLine(out_);
    std::fill(shown + tail, shown + columns_, blankCell);
  }
}

void Painter::PlaceCursor() {
  int row;
  int column;
  if (CursorOnTerminal(screen_, image_, &row, &column)) MoveTo(row, column);
}

void Painter::EndWithDefaultRendition() {
  if (image_.attributeKnown &&
      (image_.attribute & 0xFF) != defaultAttribute) {
    SetAttribute(defaultAttribute);
  }
}

}  // namespace

bool CursorOnTerminal(const ScreenBuffer& screen, const TerminalImage& image,
                      int* row, int* column) {
  if (!screen.cursorKnown) return false;
  int line = screen.cursorRow - image.viewTop;
  if (line < 0 || line >= VisibleRows(screen, image)) return false;
  *row = line;
  *column = std::min(screen.cursorColumn, image.columns - 1);
  return true;
}

void Paint(ScreenBuffer& screen, TerminalImage& image, std::string& out) {
  if (screen.rows == 0 || image.rows == 0 || image.columns == 0) return;
  int top = ViewTop(screen, image);
  if (top != image.viewTop) {
    std::fill(image.cells.begin(), image.cells.end(), undefinedCell);
    image.viewTop = top;
  }
  Painter painter(screen, image, out);
  bool sameSize = image.rows == screen.rows && image.columns == screen.columns;
  if (screen.scrolledRows > 0 && sameSize) {
    painter.ScrollTerminal(screen.scrolledRows);
  }
  screen.scrolledRows = 0;
  painter.EraseBlankBottom();
  int rows = VisibleRows(screen, image);
  for (int row = top; row < top + rows; ++row) painter.PaintRow(row);
  painter.PlaceCursor();
  painter.EndWithDefaultRendition();
  screen.changed = false;
}

// ---------------------------------------------------------------------------
// Cursor-position report
// ---------------------------------------------------------------------------

namespace {

void PassKey(std::uint8_t byte, std::uint8_t* keys, int capacity,
             int* keyLength) {
  if (*keyLength < capacity) keys[(*keyLength)++] = byte;
}

// Where the held bytes stand: after ESC, after "[", in the row digits, in
// the column digits.
bool FitsReport(const std::uint8_t* held, int length) {
  if (length >= 1 && held[0] != 0x1B) return false;
  if (length >= 2 && held[1] != '[') return false;
  bool semicolon = false;
  int digits = 0;
  for (int i = 2; i < length; ++i) {
    if (held[i] >= '0' && held[i] <= '9') {
      if (++digits > 5) return false;
    } else if (held[i] == ';' && !semicolon && digits > 0) {
      semicolon = true;
      digits = 0;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void ReleaseHeldBytes(ReportScanner& scanner, std::uint8_t* keys, int capacity,
                      int* keyLength) {
  for (int i = 0; i < scanner.heldLength; ++i) {
    PassKey(scanner.held[i], keys, capacity, keyLength);
  }
  scanner.heldLength = 0;
}

bool ScanReportByte(ReportScanner& scanner, std::uint8_t byte,
                    std::uint8_t* keys, int capacity, int* keyLength) {
  if (scanner.heldLength == 0) {
    if (byte == 0x1B) {
      scanner.held[scanner.heldLength++] = byte;
    } else {
      PassKey(byte, keys, capacity, keyLength);
    }
    return false;
  }
  if (byte == 'R' && scanner.heldLength >= 5) {
    // ESC [ digits ; digits R
    int row = 0;
    int column = 0;
    int* value = &row;
    bool hasColumnDigits = false;
    for (int i = 2; i < scanner.heldLength; ++i) {
      if (scanner.held[i] == ';') {
        value = &column;
      } else {
        *value = *value * 10 + (scanner.held[i] - '0');
        if (value == &column) hasColumnDigits = true;
      }
    }
    if (value == &column && hasColumnDigits) {
      scanner.row = row;
      scanner.column = column;
      scanner.heldLength = 0;
      return true;
    }
  }
  if (scanner.heldLength < static_cast<int>(sizeof scanner.held)) {
    scanner.held[scanner.heldLength] = byte;
    if (FitsReport(scanner.held, scanner.heldLength + 1)) {
      ++scanner.heldLength;
      return false;
    }
  }
  // Not a report: what was held is keys, and this byte starts afresh.
  ReleaseHeldBytes(scanner, keys, capacity, keyLength);
  return ScanReportByte(scanner, byte, keys, capacity, keyLength);
}

}  // namespace platform::posix
