// A console in memory behind the platform calls that the text I/O runtime
// makes, for the line editor's tests: a window of cells with a cursor and
// an output code page, and a queue of synthesised input events. The runtime
// under test is the real one, compiled into the test binary against this
// console instead of the operating system's.
//
// The editor waits for keys by polling and sleeping; a test supplies every
// key it means to type. A sleep with nothing queued and nothing due means
// the editor is waiting for a key the test never types: it fails the test
// with NeverComes instead of hanging.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct NeverComes : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Windows codes pages the tests tell apart.
constexpr std::uint32_t oemPage = 850;
constexpr std::uint32_t ansiPage = 1252;

struct Console {
  int columns = 20;
  int rows = 4;
  std::vector<std::string> cells;  // one string of `columns` bytes per row
  platform::Coord cursor{0, 0};
  std::uint32_t outputPage = oemPage;

  std::deque<platform::InputRecord> events;
  // Events that arrive after the editor has slept `arrivalSleeps` times.
  std::deque<platform::InputRecord> laterEvents;
  int arrivalSleeps = 0;
  // When not negative: the console's input stops answering after this many
  // event counts (a terminal that has gone away).
  int countsBeforeLoss = -1;
  int sleepsAfterLoss = 0;

  int sleeps = 0;
  std::vector<std::uint32_t> sleepLengths;
  std::vector<platform::Coord> cursorsWhileSleeping;
  // The output code page at each wait for keys and at each cell written.
  std::vector<std::uint32_t> pagesWhileSleeping;
  std::vector<std::uint32_t> pagesWhileWriting;
};

extern Console console;

// A fresh console of the given size, cursor at the top-left cell.
void Reset(int columns, int rows);
// The text of a row with trailing blanks dropped.
std::string Row(int row);

// ---------------------------------------------------------------------------
// Synthesised events
// ---------------------------------------------------------------------------

platform::InputRecord KeyRecord(bool down, std::uint16_t virtualKey,
                                std::uint16_t scan, std::uint8_t character,
                                std::uint32_t state);

// A key-down and its key-up.
void Press(std::uint16_t virtualKey, std::uint16_t scan,
           std::uint8_t character, std::uint32_t state = 0);
// Each byte as a key of a US keyboard (letters, digits, space, ".", ",").
void Type(const std::string& text);
void Enter();
// Alt held while typing keypad digits, then released.
void AltCode(const std::string& keypadDigits);
void QueueRaw(const platform::InputRecord& record);

}  // namespace fake
