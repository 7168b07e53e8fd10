// Start and end of the process, and processor faults as Windows reports
// them to an unhandled-exception filter.
//
// SIGSEGV, SIGBUS, SIGILL and SIGFPE are caught on an alternate stack (so
// that a stack overflow can be caught at all). The handler describes the
// fault as an exception record and a context, with the Windows exception
// code for its kind (fault_kinds.h), and calls the registered filter. When
// the filter answers EXCEPTION_CONTINUE_EXECUTION, the stack pointer, frame
// register and instruction pointer it left in the context are written back
// into the signal's context, and the thread goes on there when the handler
// returns, as a Windows thread goes on from the changed context. Any other
// answer, no filter, or a signal that another process sent: the terminal
// mode is restored and the signal's default action ends the process.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/fault_kinds.h"
#include "platform/posix/handles.h"
#include "platform/posix/terminal.h"

// The linker's symbol for the ELF header at the start of the executable's
// own image: its load address.
extern "C" const unsigned char __ehdr_start[];

namespace platform {

namespace {

constexpr int faultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;

TopLevelExceptionFilter installedFilter;
bool handlersInstalled;

// The thread's stack, learnt once before any fault can come: the signal
// handler must not ask the C library (which reads /proc for it). Both 0
// when the library could not tell.
bool stackLimitsKnown;
std::uintptr_t stackLow;
std::uintptr_t stackHigh;

alignas(64) unsigned char alternateStack[64 * 1024];

void LearnStackLimits() {
  stackLimitsKnown = true;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* address = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
    stackLow = reinterpret_cast<std::uintptr_t>(address);
    stackHigh = stackLow + size;
  }
  pthread_attr_destroy(&attributes);
}

posix::GeneralRegisters RegistersOf(const mcontext_t& m) {
  posix::GeneralRegisters regs{};
  const greg_t* g = m.gregs;
  const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                         REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                         REG_R12, REG_R13, REG_R14, REG_R15};
  for (int i = 0; i < 16; ++i) {
    regs.r[i] = static_cast<std::uint64_t>(g[order[i]]);
  }
  regs.rip = static_cast<std::uint64_t>(g[REG_RIP]);
  return regs;
}

// The signal is blocked while its handler runs: raised now, it arrives with
// its default action as soon as the handler returns.
void DieBySignal(int signal) {
  posix::RestoreTerminalMode();
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(signal, &defaultAction, nullptr);
  raise(signal);
}

// The thread resumes at the start of a routine: clear the direction flag
// the calling conventions expect clear, and the floating-point exception
// flags that would otherwise fault again at the next floating-point step.
void PrepareResume(ucontext_t* context) {
  constexpr greg_t directionFlag = 0x400;
  context->uc_mcontext.gregs[REG_EFL] &= ~directionFlag;
  if (context->uc_mcontext.fpregs != nullptr) {
    context->uc_mcontext.fpregs->swd &= static_cast<std::uint16_t>(~0x80FFu);
    context->uc_mcontext.fpregs->mxcsr &= ~0x3Fu;
  }
}

void OnFault(int signal, siginfo_t* info, void* rawContext) {
  int savedErrno = errno;
  auto* context = static_cast<ucontext_t*>(rawContext);
  TopLevelExceptionFilter filter = installedFilter;
  if (filter == nullptr || info->si_code <= 0) {
    DieBySignal(signal);
    errno = savedErrno;
    return;
  }

  greg_t* g = context->uc_mcontext.gregs;
  posix::GeneralRegisters regs = RegistersOf(context->uc_mcontext);
  posix::FaultFacts facts{signal,
                          info->si_code,
                          reinterpret_cast<std::uintptr_t>(info->si_addr),
                          reinterpret_cast<const std::uint8_t*>(regs.rip),
                          &regs,
                          stackLow};
  ExceptionRecord record{posix::ExceptionCodeForFault(facts), 0,
                         reinterpret_cast<void*>(regs.rip)};
  Context registers{static_cast<std::uint64_t>(g[REG_RSP]),
                    static_cast<std::uint64_t>(g[REG_RBP]),
                    static_cast<std::uint64_t>(g[REG_RIP])};
  ExceptionPointers pointers{&record, &registers};

  if (filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION) {
    g[REG_RSP] = static_cast<greg_t>(registers.Rsp);
    g[REG_RBP] = static_cast<greg_t>(registers.Rbp);
    g[REG_RIP] = static_cast<greg_t>(registers.Rip);
    PrepareResume(context);
  } else {
    DieBySignal(signal);
  }
  errno = savedErrno;
}

void InstallHandlers() {
  if (!stackLimitsKnown) LearnStackLimits();
  stack_t alternate{};
  alternate.ss_sp = alternateStack;
  alternate.ss_size = sizeof alternateStack;
  sigaltstack(&alternate, nullptr);

  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process at once.
  for (int signal : faultSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : faultSignals) sigaction(signal, &action, nullptr);
  handlersInstalled = true;
}

}  // namespace

// The handlers stay installed once the filter is unregistered: without a
// filter they only restore the terminal before the default action.
TopLevelExceptionFilter SetUnhandledExceptionFilter(
    TopLevelExceptionFilter filter) {
  TopLevelExceptionFilter previous = installedFilter;
  if (filter != nullptr && !handlersInstalled) InstallHandlers();
  installedFilter = filter;
  return previous;
}

void ExitProcess(std::uint32_t exitCode) {
  posix::PaintConsole();
  posix::RestoreTerminalMode();
  _exit(static_cast<int>(exitCode & 0xFF));
}

void* GetModuleHandleA(const char* moduleName) {
  if (moduleName != nullptr) {
    posix::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return const_cast<unsigned char*>(__ehdr_start);
}

void GetCurrentThreadStackLimits(std::uintptr_t* lowLimit,
                                 std::uintptr_t* highLimit) {
  if (!stackLimitsKnown) LearnStackLimits();
  *lowLimit = stackLow;
  *highLimit = stackHigh;
}

}  // namespace platform
