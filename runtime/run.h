// The frame of a run: start-up, the run-time error stop and the exit.
#pragma once

#include <cstdint>

#include "platform/platform.h"

extern std::uint16_t stopCode;
extern std::uintptr_t stopLocation;  // 0 until a stop
extern void* stopFrame;
extern std::uint32_t exitStatus;

// Prepares the process and calls the program's main body, which ends the
// run through EndRun.
[[noreturn]] void StartRun(void (*mainBody)());

// Records the stop and ends the run through EndRun. `location` is the place
// of the failing check or faulting instruction, `frame` the frame in which
// the back-trace walk starts.
[[noreturn]] void StopWithRuntimeError(std::uint16_t code, void* location,
                                       void* frame);

// The exit sequence: the report when a stop happened, the flushes, exit.
[[noreturn]] void EndRun();

std::int32_t ProcessorFaultFilter(platform::ExceptionPointers* info);
