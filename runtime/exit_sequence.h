// The stages of a run that the fault filter must tell apart, and the
// places the filter resumes into when a fault comes while the run ends.
// Internal to runtime/.
#pragma once

#include <cstdint>

enum class RunPhase : std::uint8_t {
  running,           // from StartRun until EndRun is entered
  ending,            // the exit sequence, outside the back-trace walk
  walking,           // the back-trace walk
  endingAfterFault,  // a fault came while ending: the process only exits
};

extern RunPhase runPhase;

// The exit sequence from the empty line that closes the report on: the
// flushes, the filter unregistered, ExitProcess.
[[noreturn]] void FinishExitSequence();

// Ends the process after a fault or a stop that came while the run was
// already ending: nothing more is printed or flushed. A normal end turns
// into a failure with `code`; a stop keeps its exit status.
[[noreturn]] void ExitAfterFailureWhileEnding(std::uint16_t code);
