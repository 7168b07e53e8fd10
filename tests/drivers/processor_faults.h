// Routines that cause a processor fault on purpose, for the programs that
// test how a run stops on one: tests/drivers/runtime_stops on POSIX and
// tests/wine/windows/runtime_faults in the Windows build.
#pragma once

#include <climits>
#include <cstring>

namespace {

volatile int sink;
volatile int zero = 0;
volatile int seven = 7;
volatile int minimum = INT_MIN;
volatile int minusOne = -1;
int* volatile nullPointer = nullptr;
volatile bool keepGoing = true;

// GCC gives a routine that needs no stack no frame, and schedules the
// frame's set-up and tear-down around the other instructions, even with
// frame pointers on: a fault there finds the caller's frame current, and
// the report starts one caller higher. The routines below keep their frame
// around the faulting instruction, so that the tests see every caller.
#define KEEP_FRAME() \
  asm volatile("" : : "r"(__builtin_frame_address(0)) : "memory")

__attribute__((noinline)) void CauseNullWrite() {
  KEEP_FRAME();
  *nullPointer = 1;
  KEEP_FRAME();
}

__attribute__((noinline)) void CauseDivisionByZero() {
  KEEP_FRAME();
  sink = seven / zero;
  KEEP_FRAME();
}

__attribute__((noinline)) void CauseQuotientOverflow() {
  KEEP_FRAME();
  sink = minimum / minusOne;
  KEEP_FRAME();
}

__attribute__((noinline)) void CauseIllegalInstruction() {
  KEEP_FRAME();
  asm volatile("ud2");
  KEEP_FRAME();
}

__attribute__((noinline)) void CausePrivilegedInstruction() {
  KEEP_FRAME();
  asm volatile("hlt");
  KEEP_FRAME();
}

__attribute__((noinline)) void OverflowStack(long depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (keepGoing) OverflowStack(depth + 1);
  sink = frame[0];
}

// Causes the fault that `name` names: null-write, division-by-zero,
// quotient-overflow, illegal-instruction, privileged-instruction or
// stack-overflow; returns for any other name. Inlined into its caller, so
// that the faulting routine's caller in a report is the caller's.
inline __attribute__((always_inline)) void CauseFaultNamed(const char* name) {
  if (std::strcmp(name, "null-write") == 0) CauseNullWrite();
  if (std::strcmp(name, "division-by-zero") == 0) CauseDivisionByZero();
  if (std::strcmp(name, "quotient-overflow") == 0) CauseQuotientOverflow();
  if (std::strcmp(name, "illegal-instruction") == 0) CauseIllegalInstruction();
  if (std::strcmp(name, "privileged-instruction") == 0) CausePrivilegedInstruction();
  if (std::strcmp(name, "stack-overflow") == 0) OverflowStack(0);
}

}  // namespace
