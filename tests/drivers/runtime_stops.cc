// A small program on the real runtime that ends its run in the way its
// first argument names, for the tests of the stop, the report and the exit:
//
//   normal                 ends normally
//   normal-failure         ends normally with exitStatus 1 set beforehand
//   check CODE             a failed check with CODE pending
//   check-before-bind      a failed check before the standard streams exist
//   recursion DEPTH        DEPTH nested calls, then an open of a missing file
//   null-write, division-by-zero, quotient-overflow, illegal-instruction,
//   privileged-instruction, stack-overflow
//                          the processor fault of that name
//   unforeseen-stack-overflow
//                          a stack overflow at a limit lowered after the
//                          run started: it looks like any access violation,
//                          and the stop cannot start on the stack left
//   walk-fault             a stop whose frame chain runs into an unreadable
//                          page of the stack
//   fault-while-ending     a stop whose report faults (the code that writes
//                          the number is made unreadable)
//
// The routines whose frames the tests look for are kept out of line.
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/terminal.h"
#include "runtime/exit_sequence.h"
#include "runtime/run.h"
#include "tests/drivers/processor_faults.h"
#include "textio/text_stream.h"

namespace {

int argumentCount;
char** arguments;

bool Is(const char* name) {
  return argumentCount > 1 && std::strcmp(arguments[1], name) == 0;
}

long Argument() { return argumentCount > 2 ? std::atol(arguments[2]) : 0; }

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------

__attribute__((noinline)) void OpenMissingFile() {
  TextStream stream;
  BindStream(stream, MakeText("/nonexistent-directory/missing.zvd"));
  OpenForReading(stream);
  CheckIo();
}

__attribute__((noinline)) void Recurse(long depth) {
  if (depth > 0) {
    Recurse(depth - 1);
  } else {
    OpenMissingFile();
  }
  sink = sink + 1;  // keeps the call a real call, not a jump
}

// ---------------------------------------------------------------------------
// Faults in the exit sequence
// ---------------------------------------------------------------------------

const std::uintptr_t pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));

std::uintptr_t PageOf(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address) & ~(pageSize - 1);
}

[[noreturn]] void SetUpFailed(const char* what) {
  // Not a run-time error report: the test tells this from one by its code.
  write(2, what, std::strlen(what));
  _exit(99);
}

// Builds a chain of frames over several pages, makes the page of a frame
// in its middle unreadable and stops: the walk faults on that page.
void* middleFrame;

__attribute__((noinline)) void StopAcrossUnreadablePage(long depth,
                                                       long middle) {
  volatile char frame[256];
  frame[0] = 0;
  if (depth == middle) middleFrame = __builtin_frame_address(0);
  if (depth > 0) {
    StopAcrossUnreadablePage(depth - 1, middle);
  } else {
    if (mprotect(reinterpret_cast<void*>(PageOf(middleFrame)), pageSize,
                 PROT_NONE) != 0) {
      SetUpFailed("mprotect failed\n");
    }
    pendingIoCode = 2;
    CheckIo();
  }
  sink = frame[0];
}

// Makes the page of WriteNumber's code unreadable, so that the report
// faults while it is written. The routines the ending takes after such a
// fault must lie elsewhere.
__attribute__((noinline)) void StopWithFaultingReport() {
  std::uintptr_t page = PageOf(reinterpret_cast<const void*>(&WriteNumber));
  const void* wayOut[] = {
      reinterpret_cast<const void*>(&ProcessorFaultFilter),
      reinterpret_cast<const void*>(&RuntimeErrorCodeForException),
      reinterpret_cast<const void*>(&ExitAfterFailureWhileEnding),
      reinterpret_cast<const void*>(&platform::SetUnhandledExceptionFilter),
      reinterpret_cast<const void*>(&platform::ExitProcess),
      reinterpret_cast<const void*>(&platform::GetCurrentThreadStackLimits),
      reinterpret_cast<const void*>(&platform::posix::PaintConsole),
      reinterpret_cast<const void*>(&platform::posix::RestoreTerminalMode),
      reinterpret_cast<const void*>(&StopWithFaultingReport),
  };
  for (const void* routine : wayOut) {
    if (PageOf(routine) == page) SetUpFailed("a way out shares the page\n");
  }
  if (mprotect(reinterpret_cast<void*>(page), pageSize, PROT_NONE) != 0) {
    SetUpFailed("mprotect failed\n");
  }
  // Not through CheckIo, whose code may share the page.
  StopWithRuntimeError(3, reinterpret_cast<void*>(&StopWithFaultingReport),
                       __builtin_frame_address(0));
}

// ---------------------------------------------------------------------------
// The main body
// ---------------------------------------------------------------------------

__attribute__((noinline)) void DriverBody() {
  if (Is("check-before-bind")) {
    pendingIoCode = 5;
    CheckIo();
  }
  BindStandardStreams();
  if (Is("normal-failure")) exitStatus = 1;
  if (Is("check")) {
    pendingIoCode = static_cast<std::uint16_t>(Argument());
    CheckIo();
  }
  if (Is("recursion")) Recurse(Argument());
  if (argumentCount > 1) CauseFaultNamed(arguments[1]);
  if (Is("unforeseen-stack-overflow")) {
    rlimit limit{};
    getrlimit(RLIMIT_STACK, &limit);
    limit.rlim_cur = 1024 * 1024;
    if (setrlimit(RLIMIT_STACK, &limit) != 0) SetUpFailed("setrlimit failed\n");
    OverflowStack(0);
  }
  if (Is("walk-fault")) StopAcrossUnreadablePage(Argument(), Argument() / 2);
  if (Is("fault-while-ending")) StopWithFaultingReport();
  EndRun();
}

// A stack without a limit grows until memory runs out instead of
// overflowing: give it the usual 8 MiB.
void LimitStack() {
  constexpr rlim_t usual = 8 * 1024 * 1024;
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0) SetUpFailed("getrlimit failed\n");
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > usual) {
    limit.rlim_cur = usual;
    if (setrlimit(RLIMIT_STACK, &limit) != 0) SetUpFailed("setrlimit failed\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  argumentCount = argc;
  arguments = argv;
  if (Is("stack-overflow") || Is("unforeseen-stack-overflow")) LimitStack();
  StartRun(DriverBody);
}
