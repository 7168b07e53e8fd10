// Start-up, the stop and the exit sequence.
#include "runtime/run.h"

#include "runtime/exit_sequence.h"
#include "runtime/report.h"
#include "textio/text_stream.h"

std::uint16_t stopCode;
std::uint32_t stopLocation;
void* stopFrame;
std::uintptr_t stopAddress;
std::uintptr_t stopStackPointer;
bool stopRecorded;
std::uint32_t exitStatus;
void* runFrame;

RunPhase runPhase;

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

// The walk ends at runFrame rather than at a zero link: clearing the frame
// register around the call would leave this routine's own unwind data
// wrong on Windows, where the system unwinds through it to reach the
// unhandled-exception filter.
__attribute__((noinline)) void StartRun(void (*mainBody)()) {
  runFrame = __builtin_frame_address(0);
  platform::SetUnhandledExceptionFilter(ProcessorFaultFilter);
  mainBody();
  EndRun();
}

// ---------------------------------------------------------------------------
// The stop
// ---------------------------------------------------------------------------

std::uint32_t ExitStatusForCode(std::uint16_t code) {
  std::uint32_t status = code & 0xFFu;
  return status != 0 ? status : 255;
}

std::uint32_t ImageOffset(std::uintptr_t address) {
  // On POSIX the load address is that of the executable's ELF header, and
  // for a position-independent executable the offset is the address
  // addr2line takes. On Windows it is the image base and the offset a
  // relative virtual address: addr2line wants the image base added back.
  auto base = reinterpret_cast<std::uintptr_t>(
      platform::GetModuleHandleA(nullptr));
  return static_cast<std::uint32_t>(address - base);
}

void StopWithRuntimeError(std::uint16_t code, void* location, void* frame) {
  // A stop from inside the exit sequence (a check in a flush) must neither
  // overwrite the stop being reported nor start the sequence again.
  if (runPhase != RunPhase::running) ExitAfterFailureWhileEnding(code);
  stopCode = code;
  stopAddress = reinterpret_cast<std::uintptr_t>(location);
  stopLocation = ImageOffset(stopAddress);
  stopFrame = frame;
  stopRecorded = true;
  exitStatus = ExitStatusForCode(code);
  EndRun();
}

// ---------------------------------------------------------------------------
// The exit sequence
// ---------------------------------------------------------------------------

void EndRun() {
  if (runPhase != RunPhase::running) ExitAfterFailureWhileEnding(0);
  runPhase = RunPhase::ending;
  if (stopRecorded) {
    // No CheckIo between the writes: a failed write leaves its code
    // pending, which turns the rest of the report and the flushes into
    // nothing, and the exit status stays the stop's.
    WriteReportHead();
    runPhase = RunPhase::walking;
    WriteBackTrace();
    runPhase = RunPhase::ending;
  }
  FinishExitSequence();
}

void FinishExitSequence() {
  if (stopRecorded) WriteLine(StandardOutput);
  TextStream* streams[] = {&ConsoleOutput, &DiagnosticOutput, &StandardOutput,
                           &StandardError};
  for (TextStream* stream : streams) {
    if (stream->state == StreamState::writing) FlushStream(*stream);
  }
  platform::SetUnhandledExceptionFilter(nullptr);
  platform::ExitProcess(exitStatus);
}

void ExitAfterFailureWhileEnding(std::uint16_t code) {
  runPhase = RunPhase::endingAfterFault;
  if (exitStatus == 0) exitStatus = ExitStatusForCode(code);
  platform::SetUnhandledExceptionFilter(nullptr);
  platform::ExitProcess(exitStatus);
}
