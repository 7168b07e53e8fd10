// The POSIX console layer's output: console calls with arbitrary cell bytes,
// attributes, rectangles and cursor positions on the screen buffer, painted
// by the VT renderer, with terminal resizes and foreign output between.
//
// Properties, each checked on the bytes of every paint:
// - parsed by libvterm, they hold no control but BS, LF and CR, and no
//   sequence but the renderer's own CSI cursor motion (CUP, CHA, CUU, CUD,
//   CUF, CUB), erase (EL 0, ED 0) and colour (SGR among the 16 colours),
//   with every position inside the terminal; no other escape, no string
//   (OSC, DCS, ...), and text only of printable characters;
// - fed to a libvterm terminal of the same size (with the line-feed
//   post-processing of the terminal when the image says it has it), they
//   leave every known cell in view showing its glyph in its colours, and
//   the cursor where the buffer has it.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <vterm.h>

#include "platform/posix/glyphs.h"
#include "platform/posix/screen_buffer.h"
#include "platform/posix/vt_renderer.h"

namespace {

using platform::Coord;
using platform::SmallRect;
using platform::posix::ScreenBuffer;
using platform::posix::ScreenCell;
using platform::posix::TerminalImage;

// Terminals of at least two columns: on one column libvterm keeps a pending
// wrap across a carriage return that does not move the cursor, where VT
// terminals drop it, and the emulator would stop being a fair oracle.
constexpr int minColumns = 2;
constexpr int maxColumns = 100;
constexpr int maxRows = 40;

std::string lastPaint;  // for the report of a finding

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "console_output_fuzz: %s\nlast paint:", what);
  for (unsigned char byte : lastPaint) {
    if (byte >= 32 && byte < 127) {
      fputc(byte, stderr);
    } else {
      fprintf(stderr, "\\x%02x", byte);
    }
  }
  fputc('\n', stderr);
  abort();
}

// ---------------------------------------------------------------------------
// The bytes, parsed: only the renderer's own controls and sequences
// ---------------------------------------------------------------------------

struct SequenceCheck {
  int rows;
  int columns;
};

std::uint32_t DecodeUtf8(const unsigned char* bytes, std::size_t length,
                         std::size_t* at) {
  unsigned char lead = bytes[*at];
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (lead >= 0x80 && extra == 0) Fail("a stray UTF-8 continuation byte");
  std::uint32_t codePoint = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if (*at + i >= length || (bytes[*at + i] & 0xC0) != 0x80) {
      Fail("a broken UTF-8 character");
    }
    codePoint = (codePoint << 6) | (bytes[*at + i] & 0x3F);
  }
  *at += static_cast<std::size_t>(extra) + 1;
  return codePoint;
}

// libvterm hands over all the bytes left; the text is those before the
// next C0 control, and the callback says how many it took.
int OnText(const char* bytes, std::size_t length, void*) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t end = 0;
  while (end < length && data[end] >= 0x20) ++end;
  std::size_t at = 0;
  while (at < end) {
    std::uint32_t c = DecodeUtf8(data, end, &at);
    if (c == 0x7F || (c >= 0x80 && c < 0xA0)) Fail("a control character as text");
  }
  return static_cast<int>(end);
}

int OnControl(unsigned char control, void*) {
  if (control != 8 && control != 10 && control != 13) Fail("a foreign control byte");
  return 1;
}

int OnEscape(const char*, std::size_t, void*) { Fail("an escape sequence"); }

int OnString(const char*, std::size_t, void*) { Fail("a control string"); }

bool SgrColour(long value) {
  return value == 0 || (value >= 30 && value <= 37) || (value >= 40 && value <= 47) ||
         (value >= 90 && value <= 97) || (value >= 100 && value <= 107);
}

int OnCsi(const char* leader, const long args[], int count, const char* intermediates,
          char command, void* user) {
  const auto& check = *static_cast<const SequenceCheck*>(user);
  if ((leader != nullptr && leader[0] != 0) ||
      (intermediates != nullptr && intermediates[0] != 0)) {
    Fail("a private or intermediate CSI");
  }
  auto arg = [&](int i, long missing) {
    return i < count && !CSI_ARG_IS_MISSING(args[i]) ? CSI_ARG(args[i]) : missing;
  };
  switch (command) {
    case 'H':
      if (count > 2 || arg(0, 1) < 1 || arg(0, 1) > check.rows || arg(1, 1) < 1 ||
          arg(1, 1) > check.columns) {
        Fail("CUP outside the terminal");
      }
      break;
    case 'G':
      if (count > 1 || arg(0, 1) < 1 || arg(0, 1) > check.columns) {
        Fail("CHA outside the terminal");
      }
      break;
    case 'A':
    case 'B':
      if (count > 1 || arg(0, 1) < 1 || arg(0, 1) >= check.rows) Fail("a vertical motion too far");
      break;
    case 'C':
    case 'D':
      if (count > 1 || arg(0, 1) < 1 || arg(0, 1) >= check.columns) {
        Fail("a horizontal motion too far");
      }
      break;
    case 'J':
    case 'K':
      if (count > 1 || arg(0, 0) != 0) Fail("an erase other than to the end");
      break;
    case 'm':
      for (int i = 0; i < count; ++i) {
        if (!SgrColour(arg(i, 0))) Fail("an SGR beyond the 16 colours");
      }
      break;
    default:
      Fail("a foreign CSI");
  }
  return 1;
}

void CheckSequences(const std::string& bytes, int rows, int columns) {
  static const VTermParserCallbacks callbacks = {
      OnText, OnControl, OnEscape, OnCsi, OnString, OnString, nullptr};
  VTerm* parser = vterm_new(rows, columns);
  vterm_set_utf8(parser, 1);
  SequenceCheck check{rows, columns};
  vterm_parser_set_callbacks(parser, &callbacks, &check);
  vterm_input_write(parser, bytes.data(), bytes.size());
  vterm_free(parser);
}

// ---------------------------------------------------------------------------
// The bytes, shown: the terminal shows the buffer
// ---------------------------------------------------------------------------

struct Emulator {
  VTerm* terminal = nullptr;
  VTermScreen* screen = nullptr;

  void Open(int rows, int columns) {
    terminal = vterm_new(rows, columns);
    vterm_set_utf8(terminal, 1);
    screen = vterm_obtain_screen(terminal);
    vterm_screen_reset(screen, 1);
  }
  void Close() { vterm_free(terminal); }

  // What the terminal device hands on: LF becomes CR LF when it
  // post-processes output.
  void Feed(const std::string& bytes, bool lineFeedReturns) {
    std::string shown;
    for (char byte : bytes) {
      if (byte == '\n' && lineFeedReturns) shown += '\r';
      shown += byte;
    }
    vterm_input_write(terminal, shown.data(), shown.size());
  }
};

// The palette index of a Windows colour (blue 1, green 2, red 4, bright 8).
int PaletteIndex(int windowsColor) {
  return (((windowsColor & 1) << 2) | (windowsColor & 2) | ((windowsColor & 4) >> 2)) +
         (windowsColor & 8);
}

bool ShowsColour(const VTermColor& colour, bool foreground, int windowsColor,
                 bool defaultColours) {
  bool isDefault = foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour)
                              : VTERM_COLOR_IS_DEFAULT_BG(&colour);
  if (defaultColours) return isDefault;
  return !isDefault && VTERM_COLOR_IS_INDEXED(&colour) &&
         colour.indexed.idx == PaletteIndex(windowsColor);
}

void CheckTerminalShowsBuffer(const ScreenBuffer& screen, const TerminalImage& image,
                              const Emulator& emulator) {
  int rows = std::min(screen.rows, image.rows);
  int columns = std::min(screen.columns, image.columns);
  for (int line = 0; line < rows; ++line) {
    const ScreenCell* cells = platform::posix::RowCells(screen, line + image.viewTop);
    for (int column = 0; column < columns; ++column) {
      const ScreenCell& cell = cells[column];
      if (!cell.defined) continue;
      VTermScreenCell shown{};
      vterm_screen_get_cell(emulator.screen, VTermPos{line, column}, &shown);
      std::uint32_t character = shown.chars[0] == 0 ? ' ' : shown.chars[0];
      if (character != platform::posix::CodePointOfCell(cell.character)) {
        Fail("a known cell shows another character");
      }
      int attribute = cell.attribute & 0xFF;
      bool defaultColours = attribute == platform::posix::defaultAttribute;
      if (!ShowsColour(shown.fg, true, attribute & 15, defaultColours) ||
          !ShowsColour(shown.bg, false, attribute >> 4, defaultColours)) {
        fprintf(stderr, "cell %d,%d attribute %02x: shows fg %d bg %d\n", line, column,
                attribute, VTERM_COLOR_IS_INDEXED(&shown.fg) ? shown.fg.indexed.idx : -1,
                VTERM_COLOR_IS_INDEXED(&shown.bg) ? shown.bg.indexed.idx : -1);
        Fail("a known cell shows other colours");
      }
    }
  }
  int row;
  int column;
  if (platform::posix::CursorOnTerminal(screen, image, &row, &column)) {
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(emulator.terminal), &cursor);
    if (cursor.row != row || cursor.col != column) Fail("the cursor is elsewhere");
  }
}

// ---------------------------------------------------------------------------
// Console calls from the input
// ---------------------------------------------------------------------------

enum Step : std::uint8_t {
  writeCharacters,
  writeAttributes,
  fillCharacters,
  fillAttributes,
  scroll,
  setCursor,
  paint,
  foreignOutput,
  resize,
  lastStep = resize,
};

Coord AnyCell(FuzzedDataProvider& in, const ScreenBuffer& screen) {
  // Mostly inside the buffer, sometimes just outside, where calls fail.
  return Coord{in.ConsumeIntegralInRange<std::int16_t>(-1, static_cast<std::int16_t>(screen.columns)),
               in.ConsumeIntegralInRange<std::int16_t>(-1, static_cast<std::int16_t>(screen.rows))};
}

SmallRect AnyRect(FuzzedDataProvider& in, const ScreenBuffer& screen) {
  auto column = [&] {
    return in.ConsumeIntegralInRange<std::int16_t>(-3, static_cast<std::int16_t>(screen.columns + 2));
  };
  auto row = [&] {
    return in.ConsumeIntegralInRange<std::int16_t>(-3, static_cast<std::int16_t>(screen.rows + 2));
  };
  SmallRect rect;
  rect.Left = column();
  rect.Top = row();
  rect.Right = column();
  rect.Bottom = row();
  return rect;
}

// CONSOLE_FUZZ_TRACE=1 in the environment lists the steps of an input.
const bool tracing = getenv("CONSOLE_FUZZ_TRACE") != nullptr;

void Trace(const char* step, int a = 0, int b = 0, int c = 0, int d = 0) {
  if (tracing) fprintf(stderr, "%s %d %d %d %d\n", step, a, b, c, d);
}

void PaintAndCheck(ScreenBuffer& screen, TerminalImage& image, Emulator& emulator) {
  std::string bytes;
  platform::posix::Paint(screen, image, bytes);
  lastPaint = bytes;
  if (tracing) {
    fprintf(stderr, "paint %dx%d on %dx%d view %d:", screen.columns, screen.rows,
            image.columns, image.rows, image.viewTop);
    for (unsigned char byte : bytes) fprintf(stderr, " %02x", byte);
    fputc('\n', stderr);
  }
  if (image.rows == 0 || image.columns == 0) return;
  CheckSequences(bytes, image.rows, image.columns);
  emulator.Feed(bytes, image.lineFeedReturns);
  CheckTerminalShowsBuffer(screen, image, emulator);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ScreenBuffer screen;
  TerminalImage image;
  int columns = in.ConsumeIntegralInRange(minColumns, maxColumns);
  int rows = in.ConsumeIntegralInRange(1, maxRows);
  platform::posix::ResetScreen(screen, columns, rows);
  platform::posix::ResetImage(image, screen, columns, rows);
  image.lineFeedReturns = in.ConsumeBool();
  Trace("start", columns, rows, image.lineFeedReturns);
  Emulator emulator;
  emulator.Open(rows, columns);
  lastPaint.clear();

  std::uint32_t written = 0;
  std::uint32_t error = 0;
  for (int steps = 0; in.remaining_bytes() > 0 && steps < 200; ++steps) {
    switch (in.ConsumeIntegralInRange<std::uint8_t>(0, lastStep)) {
      case writeCharacters: {
        Coord first = AnyCell(in, screen);
        std::string text = in.ConsumeRandomLengthString(2 * maxColumns);
        Trace("write characters", first.X, first.Y, static_cast<int>(text.size()),
              text.empty() ? 0 : static_cast<unsigned char>(text[0]));
        platform::posix::WriteCharacters(screen, text.data(),
                                         static_cast<std::uint32_t>(text.size()), first,
                                         &written, &error);
        break;
      }
      case writeAttributes: {
        Coord first = AnyCell(in, screen);
        std::vector<std::uint16_t> attributes(in.ConsumeIntegralInRange(0, 2 * maxColumns));
        for (std::uint16_t& attribute : attributes) attribute = in.ConsumeIntegral<std::uint16_t>();
        Trace("write attributes", first.X, first.Y, static_cast<int>(attributes.size()),
              attributes.empty() ? 0 : attributes[0]);
        platform::posix::WriteAttributes(screen, attributes.data(),
                                         static_cast<std::uint32_t>(attributes.size()),
                                         first, &written, &error);
        break;
      }
      case fillCharacters: {
        auto character = in.ConsumeIntegral<std::uint8_t>();
        auto length = in.ConsumeIntegralInRange<std::uint32_t>(0, maxColumns * maxRows + 1);
        Coord first = AnyCell(in, screen);
        Trace("fill characters", first.X, first.Y, static_cast<int>(length), character);
        platform::posix::FillCharacters(screen, character, length, first, &written, &error);
        break;
      }
      case fillAttributes: {
        auto attribute = in.ConsumeIntegral<std::uint16_t>();
        auto length = in.ConsumeIntegralInRange<std::uint32_t>(0, maxColumns * maxRows + 1);
        Coord first = AnyCell(in, screen);
        Trace("fill attributes", first.X, first.Y, static_cast<int>(length), attribute);
        platform::posix::FillAttributes(screen, attribute, length, first, &written, &error);
        break;
      }
      case scroll: {
        SmallRect source = AnyRect(in, screen);
        bool clipped = in.ConsumeBool();
        SmallRect clip = AnyRect(in, screen);
        Coord destination = AnyCell(in, screen);
        platform::CharInfo fill{static_cast<char>(in.ConsumeIntegral<std::uint8_t>()),
                                in.ConsumeIntegral<std::uint16_t>()};
        Trace("scroll", source.Left, source.Top, source.Right, source.Bottom);
        Trace("  clip", clipped, clip.Left, clip.Top, clip.Right * 1000 + clip.Bottom);
        Trace("  to", destination.X, destination.Y, fill.AsciiChar, fill.Attributes);
        platform::posix::ScrollScreen(screen, source, clipped ? &clip : nullptr,
                                      destination, fill, &error);
        break;
      }
      case setCursor: {
        Coord cell = AnyCell(in, screen);
        Trace("cursor", cell.X, cell.Y);
        platform::posix::SetCursor(screen, cell, &error);
        break;
      }
      case paint:
        PaintAndCheck(screen, image, emulator);
        break;
      case foreignOutput: {
        // Another program writes plain text: the layer forgets what it knew.
        std::string text = in.ConsumeRandomLengthString(40);
        for (char& c : text) c = static_cast<char>(' ' + static_cast<unsigned char>(c) % 95);
        Trace("foreign output", static_cast<int>(text.size()));
        emulator.Feed(text, false);
        platform::posix::ForgetScreen(screen);
        platform::posix::ForgetImage(image);
        break;
      }
      case resize: {
        // As the layer takes a SIGWINCH: the image gets the new size and
        // forgets what the terminal shows; the buffer keeps its size.
        image.columns = in.ConsumeIntegralInRange(minColumns, maxColumns);
        image.rows = in.ConsumeIntegralInRange(1, maxRows);
        Trace("resize", image.columns, image.rows);
        vterm_set_size(emulator.terminal, image.rows, image.columns);
        platform::posix::ForgetImage(image);
        screen.changed = true;
        break;
      }
    }
  }
  PaintAndCheck(screen, image, emulator);
  emulator.Close();
  return 0;
}
