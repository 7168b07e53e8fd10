// Placeholder until the run-time error report lands: a stop ends the
// process with its code modulo 256.
#include "runtime/run.h"

#include "textio/text_stream.h"

std::uint16_t stopCode;
std::uintptr_t stopLocation;
void* stopFrame;
std::uint32_t exitStatus;

void StartRun(void (*mainBody)()) {
  mainBody();
  EndRun();
}

void StopWithRuntimeError(std::uint16_t code, void* location, void* frame) {
  stopCode = code;
  stopLocation = reinterpret_cast<std::uintptr_t>(location);
  stopFrame = frame;
  exitStatus = code & 0xFFu;
  EndRun();
}

void EndRun() {
  TextStream* streams[] = {&ConsoleOutput, &DiagnosticOutput, &StandardOutput,
                           &StandardError};
  for (TextStream* stream : streams) {
    if (stream->state == StreamState::writing) FlushStream(*stream);
  }
  platform::ExitProcess(exitStatus);
}

std::int32_t ProcessorFaultFilter(platform::ExceptionPointers*) {
  return platform::EXCEPTION_CONTINUE_SEARCH;
}
