// The screen buffer against the Windows console calls' rules, on small
// buffers drawn as text: one character per cell, '.' for the fill.
#include "platform/posix/screen_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::Coord;
using platform::SmallRect;
using platform::posix::ScreenBuffer;

ScreenBuffer Drawn(const std::vector<std::string>& rows) {
  ScreenBuffer screen;
  platform::posix::ResetScreen(screen, static_cast<int>(rows[0].size()),
                               static_cast<int>(rows.size()));
  for (int row = 0; row < screen.rows; ++row) {
    std::uint32_t written = 0;
    std::uint32_t error = 0;
    platform::posix::WriteCharacters(screen, rows[row].data(),
                                     static_cast<std::uint32_t>(screen.columns),
                                     Coord{0, static_cast<std::int16_t>(row)},
                                     &written, &error);
  }
  screen.changed = false;
  return screen;
}

std::vector<std::string> Drawing(const ScreenBuffer& screen) {
  std::vector<std::string> rows;
  for (int row = 0; row < screen.rows; ++row) {
    const platform::posix::ScreenCell* cells =
        platform::posix::RowCells(screen, row);
    std::string text;
    for (int column = 0; column < screen.columns; ++column) {
      text += cells[column].defined ? static_cast<char>(cells[column].character)
                                    : '?';
    }
    rows.push_back(text);
  }
  return rows;
}

const std::vector<std::string> letters = {"abcde", "fghij", "klmno", "pqrst"};

TEST(ScreenBuffer, ScrollMovesCellsAsWindowsDoes) {
  struct Case {
    const char* name;
    SmallRect scroll;
    bool clipped;
    SmallRect clip;
    Coord destination;
    std::vector<std::string> after;
  };
  const Case cases[] = {
      {"the whole buffer up one row: the top row is lost",
       {0, 1, 4, 3}, true, {0, 0, 4, 3}, {0, 0},
       {"fghij", "klmno", "pqrst", "....."}},
      {"the whole buffer up two rows, no clip",
       {0, 2, 4, 3}, false, {}, {0, 0},
       {"klmno", "pqrst", ".....", "....."}},
      {"a block moved right and up: uncovered source cells fill",
       {1, 1, 2, 2}, false, {}, {2, 0},
       {"abghe", "f.lmj", "k..no", "pqrst"}},
      {"the clip keeps cells outside it as they were",
       {0, 1, 4, 3}, true, {1, 0, 3, 3}, {0, 0},
       {"aghie", "flmnj", "kqrso", "p...t"}},
      {"a destination past the edge is cut",
       {0, 0, 1, 1}, false, {}, {4, 3},
       {"..cde", "..hij", "klmno", "pqrsa"}},
      {"a scroll rectangle cut on the left moves the destination with it",
       {-1, 0, 1, 0}, false, {}, {2, 2},
       {"..cde", "fghij", "klmab", "pqrst"}},
      {"a scroll rectangle wholly outside changes nothing",
       {6, 0, 8, 2}, false, {}, {0, 0},
       letters},
      {"a clip wholly outside changes nothing",
       {0, 1, 4, 3}, true, {7, 7, 9, 9}, {0, 0},
       letters},
      {"down one row: the bottom row is lost",
       {0, 0, 4, 2}, false, {}, {0, 1},
       {".....", "abcde", "fghij", "klmno"}},
  };
  for (const Case& c : cases) {
    ScreenBuffer screen = Drawn(letters);
    std::uint32_t error = 0;
    platform::CharInfo fill{'.', 7};
    EXPECT_TRUE(platform::posix::ScrollScreen(screen, c.scroll,
                                              c.clipped ? &c.clip : nullptr,
                                              c.destination, fill, &error))
        << c.name;
    EXPECT_EQ(Drawing(screen), c.after) << c.name;
  }
}

TEST(ScreenBuffer, WholeScrollsAreCountedForTheRenderer) {
  ScreenBuffer screen = Drawn(letters);
  std::uint32_t error = 0;
  platform::CharInfo fill{' ', 7};
  SmallRect whole{0, 0, 4, 3};
  SmallRect up{0, 1, 4, 3};
  platform::posix::ScrollScreen(screen, up, &whole, Coord{0, 0}, fill, &error);
  platform::posix::ScrollScreen(screen, up, &whole, Coord{0, 0}, fill, &error);
  EXPECT_EQ(screen.scrolledRows, 2);
  EXPECT_TRUE(screen.changed);
  SmallRect part{1, 1, 3, 3};
  platform::posix::ScrollScreen(screen, part, &whole, Coord{1, 0}, fill, &error);
  EXPECT_EQ(screen.scrolledRows, 2);
}

TEST(ScreenBuffer, UndefinedCellsMoveOnlyWithAWholeScroll) {
  ScreenBuffer screen = Drawn(letters);
  platform::posix::ForgetScreen(screen);
  std::uint32_t written = 0;
  std::uint32_t error = 0;
  platform::posix::WriteCharacters(screen, "XY", 2, Coord{0, 3}, &written,
                                   &error);
  platform::CharInfo fill{'.', 7};
  SmallRect whole{0, 0, 4, 3};
  platform::posix::ScrollScreen(screen, SmallRect{0, 1, 4, 3}, &whole,
                                Coord{0, 0}, fill, &error);
  EXPECT_EQ(Drawing(screen),
            (std::vector<std::string>{"?????", "?????", "XY???", "....."}));
  // Moved by a partial scroll, what another writer left becomes blank.
  platform::posix::ScrollScreen(screen, SmallRect{0, 0, 1, 0}, &whole,
                                Coord{3, 0}, fill, &error);
  EXPECT_EQ(Drawing(screen)[0], "..?  ");
}

TEST(ScreenBuffer, RunsOfCellsWrapAndStopAtTheEndOfTheBuffer) {
  struct Case {
    const char* name;
    Coord first;
    std::uint32_t length;
    bool ok;
    std::uint32_t written;
    std::vector<std::string> after;
  };
  const Case cases[] = {
      {"within a row", {1, 0}, 3, true, 3, {"a***e", "fghij", "klmno", "pqrst"}},
      {"over the end of a row", {3, 1}, 4, true, 4,
       {"abcde", "fgh**", "**mno", "pqrst"}},
      {"cut at the end of the buffer", {3, 3}, 10, true, 2,
       {"abcde", "fghij", "klmno", "pqr**"}},
      {"a first cell past the right edge fails", {5, 0}, 1, false, 0, letters},
      {"a first cell below the buffer fails", {0, 4}, 1, false, 0, letters},
      {"a negative first cell fails", {-1, 0}, 1, false, 0, letters},
  };
  for (const Case& c : cases) {
    ScreenBuffer screen = Drawn(letters);
    std::uint32_t written = 99;
    std::uint32_t error = 0;
    bool ok = platform::posix::FillCharacters(screen, '*', c.length, c.first,
                                              &written, &error);
    EXPECT_EQ(ok, c.ok) << c.name;
    EXPECT_EQ(written, c.written) << c.name;
    if (!c.ok) {
      EXPECT_EQ(error, platform::ERROR_INVALID_PARAMETER) << c.name;
    }
    EXPECT_EQ(Drawing(screen), c.after) << c.name;
  }
}

TEST(ScreenBuffer, AttributesAndCharactersAreSeparate) {
  ScreenBuffer screen = Drawn(letters);
  std::uint32_t written = 0;
  std::uint32_t error = 0;
  const std::uint16_t attributes[] = {0x1E, 0x70};
  ASSERT_TRUE(platform::posix::WriteAttributes(screen, attributes, 2,
                                               Coord{4, 0}, &written, &error));
  EXPECT_EQ(written, 2u);
  ASSERT_TRUE(platform::posix::FillAttributes(screen, 0x4F, 3, Coord{0, 2},
                                              &written, &error));
  EXPECT_EQ(Drawing(screen), letters);
  EXPECT_EQ(platform::posix::RowCells(screen, 0)[4].attribute, 0x1E);
  EXPECT_EQ(platform::posix::RowCells(screen, 1)[0].attribute, 0x70);
  EXPECT_EQ(platform::posix::RowCells(screen, 1)[1].attribute, 7);
  EXPECT_EQ(platform::posix::RowCells(screen, 2)[2].attribute, 0x4F);
  EXPECT_EQ(platform::posix::RowCells(screen, 2)[3].attribute, 7);
}

TEST(ScreenBuffer, CursorStaysInsideTheBuffer) {
  ScreenBuffer screen = Drawn(letters);
  std::uint32_t error = 0;
  EXPECT_TRUE(platform::posix::SetCursor(screen, Coord{4, 3}, &error));
  EXPECT_EQ(screen.cursorColumn, 4);
  EXPECT_EQ(screen.cursorRow, 3);
  EXPECT_TRUE(screen.cursorKnown);
  for (Coord outside : {Coord{5, 0}, Coord{0, 4}, Coord{-1, 0}, Coord{0, -1}}) {
    EXPECT_FALSE(platform::posix::SetCursor(screen, outside, &error));
    EXPECT_EQ(error, platform::ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(screen.cursorColumn, 4);
  EXPECT_EQ(screen.cursorRow, 3);
}

}  // namespace
