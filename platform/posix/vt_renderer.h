// The renderer: brings a VT terminal (xterm and its kin, the Linux
// console) up to date with the screen buffer. Pure: it appends the bytes
// to send to a string, and keeps what the terminal is known to show.
//
// It paints only the cells that differ from what the terminal shows, with
// the fewest bytes it finds: the terminal's own scroll for rows that the
// buffer scrolled, erase-below and erase-to-end-of-line for blank areas,
// runs of cells in one go, and the shortest cursor motion between runs.
// Every cell byte becomes its glyph (glyphs.h), so nothing written into a
// cell reaches the terminal as a control.
//
// The terminal may be smaller or larger than the buffer after a resize;
// then the part of the buffer that fits is shown, its rows chosen so that
// the cursor is visible.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/screen_buffer.h"

namespace platform::posix {

struct TerminalImage {
  int rows = 0;     // the terminal's size
  int columns = 0;
  // The buffer row shown on the terminal's top row.
  int viewTop = 0;
  // What the terminal shows for each buffer cell in view, in the buffer's
  // geometry; a cell that is not `defined` is unknown.
  std::vector<ScreenCell> cells;

  // The terminal's cursor, in terminal cells. pendingWrap: a glyph was
  // just written in the last column, where the terminal holds the cursor
  // until the next glyph; only absolute or carriage-return motion is sure
  // to work from there.
  bool cursorKnown = false;
  int cursorRow = 0;
  int cursorColumn = 0;
  bool pendingWrap = false;

  // The graphic rendition in force, as a console attribute.
  bool attributeKnown = false;
  std::uint16_t attribute = defaultAttribute;

  // The terminal turns LF into CR LF (its output post-processing).
  bool lineFeedReturns = false;
};

// Sizes the image for `screen` on a terminal of the given size and forgets
// what the terminal shows.
void ResetImage(TerminalImage& image, const ScreenBuffer& screen,
                int terminalColumns, int terminalRows);

// Nothing on the terminal is known any more (something else wrote to it).
void ForgetImage(TerminalImage& image);

// Appends to `out` what brings the terminal up to date with `screen`, and
// records it in `image`; clears the screen's change marks. Leaves the
// terminal's cursor on the screen's cursor (when that is known) and its
// graphic rendition at the default colours.
void Paint(ScreenBuffer& screen, TerminalImage& image, std::string& out);

// The terminal cell (row, column) that shows the screen's cursor, or
// false when it is out of view or unknown.
bool CursorOnTerminal(const ScreenBuffer& screen, const TerminalImage& image,
                      int* row, int* column);

// ---------------------------------------------------------------------------
// The control sequences, one function each. Rows and columns are 0-based
// here; these functions alone turn them into the terminal's 1-based ones.
// ---------------------------------------------------------------------------

void AppendCursorPosition(std::string& out, int row, int column);  // CUP
void AppendCursorColumn(std::string& out, int column);             // CHA
void AppendCursorUp(std::string& out, int count);                  // CUU
void AppendCursorDown(std::string& out, int count);                // CUD
void AppendCursorForward(std::string& out, int count);             // CUF
void AppendCursorBack(std::string& out, int count);                // CUB
void AppendEraseToEndOfLine(std::string& out);                     // EL 0
void AppendEraseBelow(std::string& out);                           // ED 0
void AppendGraphicRendition(std::string& out, std::uint16_t attribute);  // SGR
void AppendCursorPositionQuery(std::string& out);                  // DSR 6
void AppendKeypadApplicationMode(std::string& out);                // DECKPAM
void AppendKeypadNumericMode(std::string& out);                    // DECKPNM

// Separates a cursor-position report (ESC [ row ; column R) from the other
// bytes that arrive meanwhile: the keys that the user typed.
struct ReportScanner {
  std::uint8_t held[16];  // the start of what may be a report
  int heldLength = 0;
  int row = 0;            // the last complete report, 1-based as sent
  int column = 0;
};

// Feeds one byte. Returns true when it completes a report (then `row` and
// `column` hold it). Bytes that turn out to be keys are appended to
// `keys`, up to `capacity` in all (*keyLength counts them).
bool ScanReportByte(ReportScanner& scanner, std::uint8_t byte,
                    std::uint8_t* keys, int capacity, int* keyLength);

// The held bytes were keys after all (no report came).
void ReleaseHeldBytes(ReportScanner& scanner, std::uint8_t* keys,
                      int capacity, int* keyLength);

}  // namespace platform::posix
