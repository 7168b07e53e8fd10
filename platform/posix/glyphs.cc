#include "platform/posix/glyphs.h"

namespace platform::posix {
namespace {

constexpr std::uint32_t unassigned = 0xFFFD;

// 0-31: the glyphs of the console font for the control bytes.
constexpr std::uint32_t lowGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

// 128-159 of Windows-1252; 160-255 are Latin-1 and so their own code
// points.
constexpr std::uint32_t windows1252High[32] = {
    0x20AC, unassigned, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030,     0x0160, 0x2039, 0x0152, unassigned, 0x017D, unassigned,
    unassigned, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122,     0x0161, 0x203A, 0x0153, unassigned, 0x017E, 0x0178,
};

constexpr std::uint32_t CodePoint(std::uint8_t byte) {
  if (byte < 32) return lowGlyphs[byte];
  if (byte == 127) return 0x2302;
  if (byte < 128) return byte;
  if (byte < 160) return windows1252High[byte - 128];
  return byte;
}

constexpr Glyph Encode(std::uint32_t c) {
  if (c < 0x80) return Glyph{1, {static_cast<char>(c), 0, 0}};
  if (c < 0x800) {
    return Glyph{2,
                 {static_cast<char>(0xC0 | (c >> 6)),
                  static_cast<char>(0x80 | (c & 0x3F)), 0}};
  }
  return Glyph{3,
               {static_cast<char>(0xE0 | (c >> 12)),
                static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))}};
}

struct GlyphTable {
  Glyph glyphs[256];
  constexpr GlyphTable() : glyphs() {
    for (int byte = 0; byte < 256; ++byte) {
      glyphs[byte] = Encode(CodePoint(static_cast<std::uint8_t>(byte)));
    }
  }
};

constexpr GlyphTable table;

}  // namespace

std::uint32_t CodePointOfCell(std::uint8_t byte) { return CodePoint(byte); }

const Glyph& GlyphOfCell(std::uint8_t byte) { return table.glyphs[byte]; }

}  // namespace platform::posix
