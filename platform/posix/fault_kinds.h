// What kind of processor fault a signal reports, as the Windows exception
// code a Windows process would get for the same fault. Pure: it reads only
// the facts it is given (and, for a division, the divisor the faulting
// instruction names). Internal to platform/posix/.
#pragma once

#include <cstdint>

namespace platform::posix {

// The general registers in the order of the x86 encoding: rax rcx rdx rbx
// rsp rbp rsi rdi r8 .. r15.
struct GeneralRegisters {
  std::uint64_t r[16];
  std::uint64_t rip;
};

struct FaultFacts {
  int signal;                      // SIGSEGV, SIGBUS, SIGILL or SIGFPE
  int signalCode;                  // si_code
  std::uintptr_t faultAddress;     // si_addr
  const std::uint8_t* instruction; // the faulting instruction's bytes
  const GeneralRegisters* registers;
  std::uintptr_t stackLow;         // the lowest address of the thread's stack
};

// How far around the stack's lowest address a segmentation fault counts as
// a stack overflow: the kernel keeps a gap of 256 pages below a stack.
constexpr std::uintptr_t stackOverflowBelow = 1024 * 1024 + 64 * 1024;
constexpr std::uintptr_t stackOverflowAbove = 64 * 1024;

std::uint32_t ExceptionCodeForFault(const FaultFacts& facts);

// Instruction decoding for the two cases where the signal alone does not
// tell the kind, as Windows does tell it:
//   - a general-protection fault (SIGSEGV from the kernel with no address)
//     on a privileged instruction;
//   - a divide error (always FPE_INTDIV on Linux) whose divisor is not 0,
//     which is a quotient too large: Windows calls that integer overflow.
// `code` points at the instruction, readable for at least its length.
bool IsPrivilegedInstruction(const std::uint8_t* code);
// True when `code` is DIV or IDIV and its divisor is not 0. False when the
// divisor is 0 or cannot be found (a segment-relative operand).
bool DivisorIsNotZero(const std::uint8_t* code, const GeneralRegisters& regs);

}  // namespace platform::posix
