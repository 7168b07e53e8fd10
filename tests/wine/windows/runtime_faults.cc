// A small Windows program on the real runtime that ends its run with the
// processor fault its first argument names, for the Wine tests of the
// fault filter and the report:
//
//   null-write, division-by-zero, illegal-instruction, stack-overflow
#include <cstring>

#include "runtime/run.h"
#include "textio/text_stream.h"

namespace {

int argumentCount;
char** arguments;

volatile int sink;
volatile int zero = 0;
volatile int seven = 7;
int* volatile nullPointer = nullptr;
volatile bool keepGoing = true;

bool Is(const char* name) {
  return argumentCount > 1 && std::strcmp(arguments[1], name) == 0;
}

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

__attribute__((noinline)) void CauseIllegalInstruction() {
  KEEP_FRAME();
  asm volatile("ud2");
  KEEP_FRAME();
}

__attribute__((noinline)) void OverflowStack(long depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (keepGoing) OverflowStack(depth + 1);
  sink = frame[0];
}

__attribute__((noinline)) void DriverBody() {
  BindStandardStreams();
  if (Is("null-write")) CauseNullWrite();
  if (Is("division-by-zero")) CauseDivisionByZero();
  if (Is("illegal-instruction")) CauseIllegalInstruction();
  if (Is("stack-overflow")) OverflowStack(0);
  EndRun();
}

}  // namespace

int main(int argc, char** argv) {
  argumentCount = argc;
  arguments = argv;
  StartRun(DriverBody);
}
