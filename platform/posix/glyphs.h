// What a console cell shows on a UTF-8 terminal.
//
// A cell holds one byte of the ANSI code page (Windows-1252). It shows as
// exactly one single-width character, and never as a control byte, so that
// no text written into cells can reach the terminal as part of an escape
// sequence:
//   0            a blank, as a console shows it;
//   1-31, 127    the classic console glyphs (1 ☺, 2 ☻, ... 24 ↑, 25 ↓,
//                26 →, 27 ←, ... 127 ⌂);
//   32-126       themselves;
//   128-255      their Windows-1252 characters, and U+FFFD for the five
//                bytes that Windows-1252 leaves unassigned (129, 141, 143,
//                144, 157).
#pragma once

#include <cstdint>

namespace platform::posix {

struct Glyph {
  std::uint8_t length;  // 1 to 3 bytes of UTF-8
  char bytes[3];
};

std::uint32_t CodePointOfCell(std::uint8_t byte);
const Glyph& GlyphOfCell(std::uint8_t byte);

}  // namespace platform::posix
