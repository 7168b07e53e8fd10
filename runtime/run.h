// The frame of a run: start-up, the run-time error stop and the exit.
//
// A run starts in StartRun and ends in EndRun, always, and the exit
// sequence runs once. A stop (a failed check or a processor fault) prints
// the run-time error report on StandardOutput first:
//
//   Runtime error <code> at $<location>
//     $<location>
//     $<return address>        one line per frame, innermost first
//     ...
//   <empty line>
//
// Every address of the report is an offset from the load address of the
// program's own image (see ImageOffset), so that it stays the same from run
// to run and resolves with addr2line on the shipped binary.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// The stop record
// ---------------------------------------------------------------------------

extern std::uint16_t stopCode;
// The place of the failing check or faulting instruction, as an image
// offset. Meaningful once stopRecorded is set.
extern std::uint32_t stopLocation;
extern void* stopFrame;  // where the back-trace walk starts
// The place of the stop as an address, and after a processor fault the
// stack pointer at the fault (0 after a failed check): with stopFrame, the
// registers the walk starts from.
extern std::uintptr_t stopAddress;
extern std::uintptr_t stopStackPointer;
// A stop happened: the report is printed. Kept apart from stopLocation so
// that a stop whose place is offset 0 (a jump to the image's first byte, or
// to address 0 on an image whose base has zero low bits) still reports.
extern bool stopRecorded;
// Handed to ExitProcess. 0 at start; a stop sets it from its code. The
// program flow may set it for a normal end that must not count as success.
extern std::uint32_t exitStatus;

// StartRun's own frame: the caller link the main body keeps. A walk that
// reaches it ends there, as at a zero link, so that every back-trace ends
// with the place in StartRun where the main body was called.
extern void* runFrame;

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

// Registers ProcessorFaultFilter and calls the program's main body, whose
// caller link (runFrame) ends every back-trace chain. The main body ends
// the run through EndRun.
[[noreturn]] void StartRun(void (*mainBody)());

// Records the stop and ends the run through EndRun. `location` is the
// address of the place of the failing check or faulting instruction,
// `frame` the frame in which the back-trace walk starts.
[[noreturn]] void StopWithRuntimeError(std::uint16_t code, void* location,
                                       void* frame);

// The exit sequence: the report when a stop happened, the flushes of the
// output streams, the filter unregistered, ExitProcess with exitStatus.
[[noreturn]] void EndRun();

// The process's unhandled-exception filter: turns a processor fault into a
// stop. See runtime/fault_filter.cc.
std::int32_t ProcessorFaultFilter(platform::ExceptionPointers* info);

// The run-time error code of a Windows exception code: 216 access
// violation and illegal instruction, 200 division by zero, 202 stack
// overflow, and so on; 217 for any other error-severity code, else 255.
std::uint16_t RuntimeErrorCodeForException(std::uint32_t exceptionCode);

// The exit status of a stop with `code`: its low 8 bits, except that a
// code whose low 8 bits are 0 gives 255, so that no stop ends as success.
std::uint32_t ExitStatusForCode(std::uint16_t code);

// `address` as an offset from the load address of the program's image,
// cut to the 32 bits the report shows.
std::uint32_t ImageOffset(std::uintptr_t address);
