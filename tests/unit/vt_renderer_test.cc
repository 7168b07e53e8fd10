// The renderer's bytes, replayed into libvterm: the emulated terminal must
// show every cell the buffer knows and the cursor where the buffer has it,
// with few bytes and no control sequence but the renderer's own.
#include "platform/posix/vt_renderer.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <random>
#include <string>

#include "platform/posix/glyphs.h"

namespace {

using platform::Coord;
using platform::SmallRect;
using platform::posix::ScreenBuffer;
using platform::posix::TerminalImage;

// A libvterm terminal that counts what it does not recognise.
class Emulator {
 public:
  Emulator(int rows, int columns) : rows_(rows), columns_(columns) {
    vterm_ = vterm_new(rows, columns);
    vterm_set_utf8(vterm_, 1);
    screen_ = vterm_obtain_screen(vterm_);
    static const VTermParserCallbacks fallbacks = {
        nullptr, &Emulator::Control, nullptr, &Emulator::Csi,
        &Emulator::String, &Emulator::String, nullptr};
    vterm_screen_set_unrecognised_fallbacks(screen_, &fallbacks, this);
    vterm_screen_reset(screen_, 1);
  }
  ~Emulator() { vterm_free(vterm_); }

  void Feed(const std::string& bytes) {
    vterm_input_write(vterm_, bytes.data(), bytes.size());
    vterm_screen_flush_damage(screen_);
  }

  std::string Text(int row, int column) const {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
    std::string text;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
      std::uint32_t c = cell.chars[i];
      if (c < 0x80) {
        text += static_cast<char>(c);
      } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return text.empty() ? " " : text;
  }

  // -1 for the default colour, else the palette index.
  int Color(int row, int column, bool foreground) const {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
    const VTermColor& color = foreground ? cell.fg : cell.bg;
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&color)
                   : VTERM_COLOR_IS_DEFAULT_BG(&color)) {
      return -1;
    }
    return VTERM_COLOR_IS_INDEXED(&color) ? color.indexed.idx : 999;
  }

  VTermPos Cursor() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &pos);
    return pos;
  }

  int unrecognised = 0;

 private:
  static int Control(unsigned char, void* user) {
    ++static_cast<Emulator*>(user)->unrecognised;
    return 1;
  }
  static int Csi(const char*, const long[], int, const char*, char, void* user) {
    ++static_cast<Emulator*>(user)->unrecognised;
    return 1;
  }
  static int String(const char*, std::size_t, void* user) {
    ++static_cast<Emulator*>(user)->unrecognised;
    return 1;
  }

  int rows_;
  int columns_;
  VTerm* vterm_;
  VTermScreen* screen_;
};

std::string GlyphText(std::uint8_t byte) {
  const platform::posix::Glyph& glyph = platform::posix::GlyphOfCell(byte);
  return std::string(glyph.bytes, glyph.length);
}

// The terminal colour index of a Windows colour (blue 1, green 2, red 4,
// bright 8).
int PaletteIndex(int windowsColor) {
  int rgb = ((windowsColor & 1) << 2) | (windowsColor & 2) | ((windowsColor & 4) >> 2);
  return rgb + (windowsColor & 8);
}

// A buffer and an emulator side by side, the renderer between them.
struct Bench {
  Bench(int columns, int rows) : emulator(rows, columns) {
    platform::posix::ResetScreen(screen, columns, rows);
    platform::posix::ResetImage(image, screen, columns, rows);
    image.lineFeedReturns = false;
  }

  // Paints, feeds the bytes to the emulator, and returns them.
  std::string PaintAndShow() {
    std::string out;
    platform::posix::Paint(screen, image, out);
    emulator.Feed(out);
    return out;
  }

  void Write(int column, int row, const std::string& text,
             std::uint16_t attribute = 7) {
    std::uint32_t written = 0;
    std::uint32_t error = 0;
    Coord at{static_cast<std::int16_t>(column), static_cast<std::int16_t>(row)};
    platform::posix::WriteCharacters(screen, text.data(),
                                     static_cast<std::uint32_t>(text.size()),
                                     at, &written, &error);
    platform::posix::FillAttributes(screen, attribute,
                                    static_cast<std::uint32_t>(text.size()), at,
                                    &written, &error);
  }

  void Clear() {
    std::uint32_t written = 0;
    std::uint32_t error = 0;
    std::uint32_t cells = static_cast<std::uint32_t>(screen.columns * screen.rows);
    platform::posix::FillCharacters(screen, ' ', cells, Coord{0, 0}, &written, &error);
    platform::posix::FillAttributes(screen, 7, cells, Coord{0, 0}, &written, &error);
  }

  void ScrollUp() {
    SmallRect source{0, 1, static_cast<std::int16_t>(screen.columns - 1),
                     static_cast<std::int16_t>(screen.rows - 1)};
    SmallRect clip{0, 0, static_cast<std::int16_t>(screen.columns - 1),
                   static_cast<std::int16_t>(screen.rows - 1)};
    std::uint32_t error = 0;
    platform::posix::ScrollScreen(screen, source, &clip, Coord{0, 0},
                                  platform::CharInfo{' ', 7}, &error);
  }

  void Cursor(int column, int row) {
    std::uint32_t error = 0;
    platform::posix::SetCursor(
        screen, Coord{static_cast<std::int16_t>(column), static_cast<std::int16_t>(row)},
        &error);
  }

  // Every defined cell shows its glyph in its colours, and the cursor
  // stands on the buffer's.
  void ExpectTerminalShowsBuffer(const std::string& context) {
    for (int row = 0; row < screen.rows; ++row) {
      const platform::posix::ScreenCell* cells =
          platform::posix::RowCells(screen, row);
      for (int column = 0; column < screen.columns; ++column) {
        const platform::posix::ScreenCell& cell = cells[column];
        if (!cell.defined) continue;
        ASSERT_EQ(emulator.Text(row, column), GlyphText(cell.character))
            << context << " at row " << row << " column " << column;
        int attribute = cell.attribute & 0xFF;
        int foreground = attribute == 7 ? -1 : PaletteIndex(attribute & 15);
        int background = attribute == 7 ? -1 : PaletteIndex(attribute >> 4);
        ASSERT_EQ(emulator.Color(row, column, true), foreground)
            << context << " at row " << row << " column " << column;
        ASSERT_EQ(emulator.Color(row, column, false), background)
            << context << " at row " << row << " column " << column;
      }
    }
    if (screen.cursorKnown) {
      VTermPos cursor = emulator.Cursor();
      ASSERT_EQ(cursor.row, screen.cursorRow) << context;
      ASSERT_EQ(cursor.col, screen.cursorColumn) << context;
    }
    ASSERT_EQ(emulator.unrecognised, 0) << context;
  }

  ScreenBuffer screen;
  TerminalImage image;
  Emulator emulator;
};

// The only bytes below 32 the renderer sends: its motion (BS, LF, CR) and
// the ESC of its sequences.
void ExpectOnlyOwnControls(const std::string& bytes, const std::string& context) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    bool allowed = byte >= 32 || byte == 8 || byte == 10 || byte == 13 || byte == 27;
    ASSERT_TRUE(allowed) << context << ": byte " << int(byte) << " at " << i;
    ASSERT_NE(byte, 0x7F) << context;
    if (byte == 27) {
      // ESC [ ... with a final among the renderer's, or ESC = / ESC >.
      ASSERT_LT(i + 1, bytes.size()) << context;
      char next = bytes[i + 1];
      ASSERT_TRUE(next == '[' || next == '=' || next == '>') << context;
      if (next == '[') {
        std::size_t end = i + 2;
        while (end < bytes.size() && ((bytes[end] >= '0' && bytes[end] <= '9') ||
                                      bytes[end] == ';')) {
          ++end;
        }
        ASSERT_LT(end, bytes.size()) << context;
        ASSERT_NE(std::string("HGABCDKJm").find(bytes[end]), std::string::npos)
            << context << ": final " << bytes[end];
      }
    }
  }
}

TEST(VtRenderer, SequencesCountFromOneAndLeaveOutDefaults) {
  struct Case {
    const char* name;
    void (*append)(std::string&);
    const char* bytes;
  };
  const Case cases[] = {
      {"home", [](std::string& o) { platform::posix::AppendCursorPosition(o, 0, 0); }, "\x1b[H"},
      {"row 5, column 0", [](std::string& o) { platform::posix::AppendCursorPosition(o, 4, 0); }, "\x1b[5H"},
      {"row 3, column 4", [](std::string& o) { platform::posix::AppendCursorPosition(o, 2, 3); }, "\x1b[3;4H"},
      {"row 0, column 12", [](std::string& o) { platform::posix::AppendCursorPosition(o, 0, 11); }, "\x1b[1;12H"},
      {"column 0", [](std::string& o) { platform::posix::AppendCursorColumn(o, 0); }, "\x1b[G"},
      {"column 10", [](std::string& o) { platform::posix::AppendCursorColumn(o, 9); }, "\x1b[10G"},
      {"one forward", [](std::string& o) { platform::posix::AppendCursorForward(o, 1); }, "\x1b[C"},
      {"twelve back", [](std::string& o) { platform::posix::AppendCursorBack(o, 12); }, "\x1b[12D"},
      {"default colours", [](std::string& o) { platform::posix::AppendGraphicRendition(o, 7); }, "\x1b[m"},
      {"bright yellow on blue", [](std::string& o) { platform::posix::AppendGraphicRendition(o, 0x1E); }, "\x1b[0;93;44m"},
      {"black on grey", [](std::string& o) { platform::posix::AppendGraphicRendition(o, 0x70); }, "\x1b[0;30;47m"},
      {"attribute bits above the colours do not show", [](std::string& o) { platform::posix::AppendGraphicRendition(o, 0x107); }, "\x1b[m"},
  };
  for (const Case& c : cases) {
    std::string out;
    c.append(out);
    EXPECT_EQ(out, c.bytes) << c.name;
  }
}

TEST(VtRenderer, PaintsOnlyWhatChangedWithFewBytes) {
  struct Case {
    const char* name;
    void (*change)(Bench&);
    std::size_t maxBytes;
  };
  const Case cases[] = {
      {"nothing changed", [](Bench&) {}, 0},
      // Each moves there, writes, and puts the cursor back home.
      {"one cell", [](Bench& b) { b.Write(7, 3, "x"); }, 10},
      {"a word in the middle of a row", [](Bench& b) { b.Write(5, 2, "hello"); }, 14},
      {"the cursor alone", [](Bench& b) { b.Cursor(10, 4); }, 7},
      {"a scroll of the whole window by one row",
       [](Bench& b) {
         b.ScrollUp();
         b.Write(0, 7, "new line");
         b.Cursor(8, 7);
       },
       24},
      {"a clear of the whole window",
       [](Bench& b) {
         b.Clear();
         b.Cursor(0, 0);
       },
       8},
  };
  for (const Case& c : cases) {
    Bench bench(20, 8);
    for (int row = 0; row < 8; ++row) {
      bench.Write(0, row, "row " + std::to_string(row) + " of the window");
    }
    bench.Cursor(0, 0);
    bench.PaintAndShow();
    c.change(bench);
    std::string bytes = bench.PaintAndShow();
    EXPECT_LE(bytes.size(), c.maxBytes) << c.name << ": " << testing::PrintToString(bytes);
    bench.ExpectTerminalShowsBuffer(c.name);
  }
}

TEST(VtRenderer, ColoursMapToTheSixteenAndEndAtTheDefault) {
  Bench bench(20, 4);
  bench.Write(0, 0, "plain");
  bench.Write(0, 1, "yellow on blue", 0x1E);
  bench.Write(0, 2, "black on grey", 0x70);
  bench.Write(0, 3, "red", 0x04);
  bench.Cursor(0, 3);
  std::string bytes = bench.PaintAndShow();
  bench.ExpectTerminalShowsBuffer("colours");
  EXPECT_EQ(bytes.substr(bytes.size() - 3), "\x1b[m") << testing::PrintToString(bytes);
  EXPECT_EQ(bench.emulator.Color(1, 0, true), 11);
  EXPECT_EQ(bench.emulator.Color(1, 0, false), 4);
  EXPECT_EQ(bench.emulator.Color(3, 0, true), 1);
}

TEST(VtRenderer, LeavesWhatAnotherWriterShowedUntilTheLayerWritesThere) {
  Bench bench(20, 6);
  bench.emulator.Feed("\x1b[3;1Hforeign text");
  // The layer knows nothing; it writes two cells and learns the cursor.
  bench.Write(2, 4, "ab");
  bench.Cursor(4, 4);
  bench.PaintAndShow();
  EXPECT_EQ(bench.emulator.Text(2, 0), "f");
  EXPECT_EQ(bench.emulator.Text(2, 11), "t");
  bench.ExpectTerminalShowsBuffer("after foreign output");
  // A scroll of the whole window moves what the other writer left with it.
  bench.ScrollUp();
  bench.PaintAndShow();
  EXPECT_EQ(bench.emulator.Text(1, 0), "f");
  EXPECT_EQ(bench.emulator.Text(3, 2), "a");
  bench.ExpectTerminalShowsBuffer("after the scroll");
}

TEST(VtRenderer, ALineFeedThatReturnsIsUsedAsOne) {
  Bench bench(20, 6);
  bench.image.lineFeedReturns = true;
  bench.Write(0, 0, "x");
  bench.Cursor(1, 0);
  bench.PaintAndShow();
  bench.Write(0, 1, "y");
  bench.Cursor(1, 1);
  std::string bytes = bench.PaintAndShow();
  // Bytes only: libvterm does no output post-processing.
  EXPECT_EQ(bytes, "\ny") << testing::PrintToString(bytes);
}

// Random writes, scrolls, clears and cursor moves, each followed by a
// paint: the emulator always shows the buffer.
TEST(VtRenderer, RandomChangesAlwaysShowAsTheBuffer) {
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    int columns = 3 + static_cast<int>(random() % 30);
    int rows = 2 + static_cast<int>(random() % 12);
    Bench bench(columns, rows);
    bench.Clear();
    for (int step = 0; step < 30; ++step) {
      int changes = 1 + static_cast<int>(random() % 6);
      for (int i = 0; i < changes; ++i) {
        switch (random() % 6) {
          case 0:
          case 1: {
            std::string text;
            int length = 1 + static_cast<int>(random() % (2 * columns));
            for (int k = 0; k < length; ++k) text += static_cast<char>(random() % 256);
            std::uint16_t attribute =
                random() % 3 == 0 ? static_cast<std::uint16_t>(random() % 256) : 7;
            bench.Write(static_cast<int>(random() % columns),
                        static_cast<int>(random() % rows), text, attribute);
            break;
          }
          case 2:
            for (int k = static_cast<int>(random() % 3); k >= 0; --k) bench.ScrollUp();
            break;
          case 3:
            if (random() % 4 == 0) bench.Clear();
            break;
          case 4: {
            int width = static_cast<int>(random() % columns);
            std::uint32_t written = 0;
            std::uint32_t error = 0;
            platform::posix::FillCharacters(
                bench.screen, ' ', static_cast<std::uint32_t>(width),
                Coord{static_cast<std::int16_t>(columns - width),
                      static_cast<std::int16_t>(random() % rows)},
                &written, &error);
            break;
          }
          default:
            bench.Cursor(static_cast<int>(random() % columns),
                         static_cast<int>(random() % rows));
            break;
        }
      }
      std::string bytes = bench.PaintAndShow();
      std::string context = "round " + std::to_string(round) + " step " +
                            std::to_string(step) + " (" + std::to_string(columns) +
                            "x" + std::to_string(rows) + ")";
      ExpectOnlyOwnControls(bytes, context);
      bench.ExpectTerminalShowsBuffer(context);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(VtRenderer, CursorReportsAreToldFromTypedKeys) {
  struct Case {
    const char* name;
    std::string input;
    bool release;  // no more bytes come: what is held is keys
    bool reported;
    int row;
    int column;
    std::string keys;
  };
  const Case cases[] = {
      {"a report alone", "\x1b[12;5R", false, true, 12, 5, ""},
      {"keys around a report", "ab\x1b[3;40Rcd", false, true, 3, 40, "abcd"},
      {"an arrow key is a key", "\x1b[A", true, false, 0, 0, "\x1b[A"},
      {"Esc, then a report", "\x1b\x1b[1;2R", false, true, 1, 2, "\x1b"},
      {"a report without a column is a key", "\x1b[12R", true, false, 0, 0, "\x1b[12R"},
      {"an unfinished report is keys once nothing more comes", "\x1b[1;2", true,
       false, 0, 0, "\x1b[1;2"},
      {"Alt+[ then digits", "\x1b[9x", true, false, 0, 0, "\x1b[9x"},
  };
  for (const Case& c : cases) {
    platform::posix::ReportScanner scanner;
    std::uint8_t keys[64];
    int keyLength = 0;
    bool reported = false;
    for (char byte : c.input) {
      reported |= platform::posix::ScanReportByte(
          scanner, static_cast<std::uint8_t>(byte), keys, sizeof keys, &keyLength);
    }
    if (c.release) platform::posix::ReleaseHeldBytes(scanner, keys, sizeof keys, &keyLength);
    EXPECT_EQ(reported, c.reported) << c.name;
    if (c.reported) {
      EXPECT_EQ(scanner.row, c.row) << c.name;
      EXPECT_EQ(scanner.column, c.column) << c.name;
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(keys), static_cast<std::size_t>(keyLength)),
              c.keys)
        << c.name;
  }
}

}  // namespace
