// ProcessorFaultFilter: a processor fault becomes a stop.
//
// The system calls the filter on the faulting thread with the fault's
// record and registers. The filter does not stop the run itself (on POSIX
// it runs inside a signal handler, on Windows inside the exception
// dispatcher): it notes the stop in faultStop and changes the registers so
// that, once the system lets the thread go on, the thread enters one of
// the routines below as if it had been called there. Those call into the
// exit sequence in the thread's own context.
//
// Where the resumed routine runs:
//   - normally just below the faulting routine's stack pointer, past the
//     System V red zone;
//   - on reserveStack after a stack overflow, when the fault came with
//     less than reserveMargin of the thread's stack left, or when the
//     routine faulted again before it reached the stop: the exit sequence
//     needs a stack, and the thread's own has none to give. The walk still
//     reads the thread's stack, whose frames are all intact.
#include "runtime/exit_sequence.h"
#include "runtime/run.h"

namespace {

// The stop a fault asks for, kept until the resumed routine takes it.
struct FaultStop {
  std::uint16_t code;
  void* location;  // the faulting instruction
  void* frame;     // the frame register at the fault
  std::uintptr_t stackPointer;
};

FaultStop faultStop;

// Faults taken while running. The second can only come from the routine
// resumed into after the first, before it reached the stop: its stack was
// unusable, so it starts again on the reserve stack. A third gives up.
std::uint32_t faultsWhileRunning;

constexpr std::uintptr_t redZoneSize = 128;
constexpr std::uintptr_t reserveMargin = 64 * 1024;
constexpr std::uintptr_t reserveStackSize = 256 * 1024;

alignas(64) unsigned char reserveStack[reserveStackSize];

// ---------------------------------------------------------------------------
// The routines the filter resumes into
// ---------------------------------------------------------------------------

// Entered with a stack pointer as after a call, and no return address
// that anything reads: none of them returns.

[[noreturn]] __attribute__((noinline)) void StopForProcessorFault() {
  stopStackPointer = faultStop.stackPointer;
  StopWithRuntimeError(faultStop.code, faultStop.location, faultStop.frame);
}

// A fault during the walk ends the walk without a line; the report goes on
// with its empty line.
[[noreturn]] __attribute__((noinline)) void EndWalkAfterFault() {
  FinishExitSequence();
}

[[noreturn]] __attribute__((noinline)) void EndAfterFaultWhileEnding() {
  ExitAfterFailureWhileEnding(faultStop.code);
}

// The stack pointer a routine is entered with when it starts just below
// `top`: 16-aligned before the (imagined) call, then the return address,
// with the Win64 shadow space above it inside the area.
std::uint64_t EntryStackPointer(std::uintptr_t top) {
  return ((top - 64) & ~static_cast<std::uintptr_t>(15)) - 8;
}

std::uint64_t ResumeStackPointer(std::uint32_t exceptionCode,
                                 std::uintptr_t faultStackPointer,
                                 bool onReserve) {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  platform::GetCurrentThreadStackLimits(&low, &high);
  bool onThreadStack = faultStackPointer > low && faultStackPointer <= high;
  if (onReserve || exceptionCode == platform::EXCEPTION_STACK_OVERFLOW ||
      !onThreadStack ||
      faultStackPointer - low < reserveMargin) {
    return EntryStackPointer(reinterpret_cast<std::uintptr_t>(reserveStack) +
                             reserveStackSize);
  }
  return EntryStackPointer(faultStackPointer - redZoneSize);
}

}  // namespace

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

std::uint16_t RuntimeErrorCodeForException(std::uint32_t exceptionCode) {
  switch (exceptionCode) {
    case platform::EXCEPTION_ACCESS_VIOLATION:
    case platform::EXCEPTION_ILLEGAL_INSTRUCTION:
      return 216;
    case platform::EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return 201;
    case platform::EXCEPTION_FLT_DENORMAL_OPERAND:
    case platform::EXCEPTION_FLT_UNDERFLOW:
      return 206;
    case platform::EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case platform::EXCEPTION_INT_DIVIDE_BY_ZERO:
      return 200;
    case platform::EXCEPTION_FLT_INEXACT_RESULT:
    case platform::EXCEPTION_FLT_INVALID_OPERATION:
    case platform::EXCEPTION_FLT_STACK_CHECK:
      return 207;
    case platform::EXCEPTION_FLT_OVERFLOW:
      return 205;
    case platform::EXCEPTION_INT_OVERFLOW:
      return 215;
    case platform::EXCEPTION_PRIV_INSTRUCTION:
      return 218;
    case platform::EXCEPTION_STACK_OVERFLOW:
      return 202;
    case platform::CONTROL_C_EXIT:
      return 217;
  }
  // Both top bits set: error severity.
  return (exceptionCode & 0xC0000000u) == 0xC0000000u ? 217 : 255;
}

// ---------------------------------------------------------------------------
// The filter
// ---------------------------------------------------------------------------

std::int32_t ProcessorFaultFilter(platform::ExceptionPointers* info) {
  platform::ExceptionRecord* record = info->ExceptionRecord;
  platform::Context* context = info->ContextRecord;
  std::uint16_t code = RuntimeErrorCodeForException(record->ExceptionCode);

  // Each resumed routine runs in a later phase than the fault it follows,
  // so that a fault inside it cannot send the thread back into it.
  void (*resume)();
  bool onReserve = false;
  switch (runPhase) {
    case RunPhase::running:
      ++faultsWhileRunning;
      if (faultsWhileRunning > 2) return platform::EXCEPTION_CONTINUE_SEARCH;
      if (faultsWhileRunning == 1) {
        faultStop = FaultStop{code, record->ExceptionAddress,
                              reinterpret_cast<void*>(context->Rbp),
                              context->Rsp};
      }
      onReserve = faultsWhileRunning == 2;
      resume = StopForProcessorFault;
      break;
    case RunPhase::walking:
      runPhase = RunPhase::ending;
      resume = EndWalkAfterFault;
      break;
    case RunPhase::ending:
      runPhase = RunPhase::endingAfterFault;
      faultStop.code = code;
      resume = EndAfterFaultWhileEnding;
      break;
    case RunPhase::endingAfterFault:
    default:
      // The last way out has itself faulted: the system's own end of a
      // faulting process is all that is left.
      return platform::EXCEPTION_CONTINUE_SEARCH;
  }

  context->Rsp =
      ResumeStackPointer(record->ExceptionCode, context->Rsp, onReserve);
  context->Rip = reinterpret_cast<std::uintptr_t>(resume);
  record->ExceptionCode = 0;
  return platform::EXCEPTION_CONTINUE_EXECUTION;
}
