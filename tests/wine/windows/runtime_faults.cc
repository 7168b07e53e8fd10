// A small Windows program on the real runtime that ends its run with the
// processor fault its first argument names, for the Wine tests of the
// fault filter and the report:
//
//   null-write, division-by-zero, quotient-overflow, illegal-instruction,
//   privileged-instruction, stack-overflow
#include "runtime/run.h"
#include "tests/drivers/processor_faults.h"
#include "textio/text_stream.h"

namespace {

int argumentCount;
char** arguments;

__attribute__((noinline)) void DriverBody() {
  BindStandardStreams();
  if (argumentCount > 1) CauseFaultNamed(arguments[1]);
  EndRun();
}

}  // namespace

int main(int argc, char** argv) {
  argumentCount = argc;
  arguments = argv;
  StartRun(DriverBody);
}
