// The run-time error report and the back-trace walk. Internal to runtime/.
#pragma once

#include <cstdint>

#include "textio/short_text.h"

// `value` as exactly 8 upper-case hexadecimal digits, leading zeros kept.
ShortText HexDigits(std::uint32_t value);

// The thread's stack, [low, high): the only memory the walk reads.
struct StackBounds {
  std::uintptr_t low;
  std::uintptr_t high;
};

// The registers a walk starts from.
struct WalkStart {
  std::uintptr_t address;       // the place of the stop
  std::uintptr_t frame;         // the frame register there
  std::uintptr_t stackPointer;  // at a fault; 0 when the place is a return
                                // address (a failed check)
};

// Walks the chain of frames from `start`, one step per routine, through the
// platform's unwind calls. Calls `line` with each return address, innermost
// first, and returns the number of lines. The walk ends
//   - at a zero return address (no line for it),
//   - after the line of a step whose caller link is 0 or `chainEnd`,
//   - after `maxLines` lines,
//   - at a frame link that is not above the one before it, or whose frame
//     is not wholly inside `stack` (no line for it).
std::uint32_t WalkFrames(const WalkStart& start, StackBounds stack,
                         std::uintptr_t chainEnd, std::uint32_t maxLines,
                         void (*line)(std::uintptr_t returnAddress,
                                      void* context),
                         void* context);

// The most back-trace lines after the location line, on a character device
// and elsewhere.
constexpr std::uint32_t maxLinesOnCharacterDevice = 9;
constexpr std::uint32_t maxLinesElsewhere = 257;

// The report's first two lines: "Runtime error <code> at $<location>" and
// "  $<location>", on StandardOutput.
void WriteReportHead();
// One line per step of the walk from stopFrame, on StandardOutput. The
// report's empty line is written by the exit sequence after it, so that it
// is written also when a fault ends the walk.
void WriteBackTrace();
