// The kind of a processor fault from what a POSIX signal tells, and the
// instruction decoding that tells what the signal does not.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/fault_kinds.h"

namespace {

using platform::posix::DivisorIsNotZero;
using platform::posix::ExceptionCodeForFault;
using platform::posix::FaultFacts;
using platform::posix::GeneralRegisters;
using platform::posix::IsPrivilegedInstruction;
using Bytes = std::vector<std::uint8_t>;

// Instruction bytes padded so that a decoder reading a little beyond a
// short instruction stays inside the buffer.
Bytes Padded(Bytes code) {
  code.resize(16, 0x90);
  return code;
}

enum Reg { rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi, r8 };

// ---------------------------------------------------------------------------
// Privileged instructions
// ---------------------------------------------------------------------------

TEST(IsPrivilegedInstruction, KnowsTheSystemInstructions) {
  struct Case {
    const char* name;
    Bytes code;
    bool privileged;
  };
  const Case cases[] = {
      {"hlt", {0xF4}, true},
      {"cli", {0xFA}, true},
      {"sti", {0xFB}, true},
      {"in al, imm8", {0xE4, 0x60}, true},
      {"out dx, al", {0xEE}, true},
      {"in ax, dx (operand-size prefix)", {0x66, 0xED}, true},
      {"rep insb", {0xF3, 0x6C}, true},
      {"mov rax, cr0", {0x0F, 0x20, 0xC0}, true},
      {"mov cr3, rax", {0x0F, 0x22, 0xD8}, true},
      {"mov rax, dr7", {0x0F, 0x21, 0xF8}, true},
      {"wrmsr", {0x0F, 0x30}, true},
      {"rdmsr", {0x0F, 0x32}, true},
      {"clts", {0x0F, 0x06}, true},
      {"wbinvd", {0x0F, 0x09}, true},
      {"lgdt [rax]", {0x0F, 0x01, 0x10}, true},
      {"invlpg [rax]", {0x0F, 0x01, 0x38}, true},
      {"swapgs", {0x0F, 0x01, 0xF8}, true},
      {"lldt ax", {0x0F, 0x00, 0xD0}, true},
      {"ud2", {0x0F, 0x0B}, false},
      {"rdtsc", {0x0F, 0x31}, false},
      {"rdtscp", {0x0F, 0x01, 0xF9}, false},
      {"xgetbv", {0x0F, 0x01, 0xD0}, false},
      {"sgdt [rax]", {0x0F, 0x01, 0x00}, false},
      {"mov rbx, rax", {0x48, 0x89, 0xC3}, false},
      {"mov eax, [rax] (non-canonical address)", {0x8B, 0x00}, false},
      {"ret", {0xC3}, false},
  };
  for (const Case& c : cases) {
    Bytes code = Padded(c.code);
    EXPECT_EQ(IsPrivilegedInstruction(code.data()), c.privileged) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Division: divisor zero or quotient too large
// ---------------------------------------------------------------------------

TEST(DivisorIsNotZero, ReadsRegisterOperandsOfEachSize) {
  struct Case {
    const char* name;
    Bytes code;
    Reg reg;
    std::uint64_t value;
    bool notZero;
  };
  const Case cases[] = {
      {"idiv ecx, 0", {0xF7, 0xF9}, rcx, 0, false},
      {"idiv ecx, -1", {0xF7, 0xF9}, rcx, 0xFFFFFFFF, true},
      {"idiv ecx ignores the upper half", {0xF7, 0xF9}, rcx, 0x100000000, false},
      {"idiv rcx sees the upper half", {0x48, 0xF7, 0xF9}, rcx, 0x100000000,
       true},
      {"div cx ignores bit 16", {0x66, 0xF7, 0xF1}, rcx, 0x10000, false},
      {"div cx", {0x66, 0xF7, 0xF1}, rcx, 0x2, true},
      {"div ah (no REX)", {0xF6, 0xF4}, rax, 0x0500, true},
      {"div ah, 0", {0xF6, 0xF4}, rax, 0x00FF, false},
      {"div spl (REX)", {0x40, 0xF6, 0xF4}, rsp, 0x0003, true},
      {"div spl, 0 (REX)", {0x40, 0xF6, 0xF4}, rsp, 0x0300, false},
      {"idiv r8d", {0x41, 0xF7, 0xF8}, r8, 3, true},
      {"idiv r8d, 0", {0x41, 0xF7, 0xF8}, r8, 0, false},
  };
  for (const Case& c : cases) {
    GeneralRegisters regs{};
    regs.r[c.reg] = c.value;
    Bytes code = Padded(c.code);
    EXPECT_EQ(DivisorIsNotZero(code.data(), regs), c.notZero) << c.name;
  }
}

TEST(DivisorIsNotZero, ReadsMemoryOperands) {
  alignas(8) std::int32_t values[4] = {0, 7, 0, 9};
  auto at = [&](int i) { return reinterpret_cast<std::uint64_t>(&values[i]); };
  struct Case {
    const char* name;
    Bytes code;
    std::uint64_t rax, rcx;
    bool notZero;
  };
  const Case cases[] = {
      {"idiv dword [rax], 0", {0xF7, 0x38}, at(0), 0, false},
      {"idiv dword [rax], 7", {0xF7, 0x38}, at(1), 0, true},
      {"idiv dword [rax+4]", {0xF7, 0x78, 0x04}, at(0), 0, true},
      {"idiv dword [rax+disp32]", {0xF7, 0xB8, 0x0C, 0, 0, 0}, at(0), 0, true},
      {"idiv dword [rax+rcx*4]", {0xF7, 0x3C, 0x88}, at(0), 3, true},
      {"idiv dword [rax+rcx*4], 0", {0xF7, 0x3C, 0x88}, at(0), 2, false},
      {"div byte [rax+rcx]", {0xF6, 0x34, 0x08}, at(0), 4, true},
      {"fs-relative: not followed", {0x64, 0xF7, 0x38}, at(1), 0, false},
      {"not a division (test)", {0xF7, 0xC0, 1, 0, 0, 0}, 0, 0, false},
  };
  for (const Case& c : cases) {
    GeneralRegisters regs{};
    regs.r[rax] = c.rax;
    regs.r[rcx] = c.rcx;
    Bytes code = Padded(c.code);
    EXPECT_EQ(DivisorIsNotZero(code.data(), regs), c.notZero) << c.name;
  }
}

TEST(DivisorIsNotZero, ReadsOperandsRelativeToTheNextInstruction) {
  // idiv dword [rip+10]: six bytes long, so the operand is at 16.
  alignas(8) std::uint8_t text[24] = {0xF7, 0x3D, 10, 0, 0, 0};
  GeneralRegisters regs{};
  regs.rip = reinterpret_cast<std::uint64_t>(text);
  std::int32_t divisor = 5;
  std::memcpy(text + 16, &divisor, 4);
  EXPECT_TRUE(DivisorIsNotZero(text, regs));
  divisor = 0;
  std::memcpy(text + 16, &divisor, 4);
  EXPECT_FALSE(DivisorIsNotZero(text, regs));
}

// ---------------------------------------------------------------------------
// The kind of a fault
// ---------------------------------------------------------------------------

TEST(ExceptionCodeForFault, MapsEachKindOfSignal) {
  const std::uintptr_t stackLow = 0x7FFF00000000;
  Bytes hlt = Padded({0xF4});
  Bytes load = Padded({0x8B, 0x00});
  Bytes idivEcx = Padded({0xF7, 0xF9});
  GeneralRegisters zeroDivisor{};
  GeneralRegisters minusOne{};
  minusOne.r[rcx] = 0xFFFFFFFF;

  struct Case {
    const char* name;
    int signal;
    int signalCode;
    std::uintptr_t address;
    const Bytes* code;
    const GeneralRegisters* regs;
    std::uint32_t exception;
  };
  const Case cases[] = {
      {"null write", SIGSEGV, SEGV_MAPERR, 0, &load, &zeroDivisor,
       platform::EXCEPTION_ACCESS_VIOLATION},
      {"write to read-only", SIGSEGV, SEGV_ACCERR, 0x601000, &load,
       &zeroDivisor, platform::EXCEPTION_ACCESS_VIOLATION},
      {"just below the stack", SIGSEGV, SEGV_MAPERR, stackLow - 8, &load,
       &zeroDivisor, platform::EXCEPTION_STACK_OVERFLOW},
      {"in the guard gap", SIGSEGV, SEGV_MAPERR, stackLow - 900 * 1024, &load,
       &zeroDivisor, platform::EXCEPTION_STACK_OVERFLOW},
      {"at the stack's lowest page", SIGSEGV, SEGV_ACCERR, stackLow + 100,
       &load, &zeroDivisor, platform::EXCEPTION_STACK_OVERFLOW},
      {"far below the stack", SIGSEGV, SEGV_MAPERR, stackLow - 8 * 1024 * 1024,
       &load, &zeroDivisor, platform::EXCEPTION_ACCESS_VIOLATION},
      {"well inside the stack", SIGSEGV, SEGV_ACCERR, stackLow + 1024 * 1024,
       &load, &zeroDivisor, platform::EXCEPTION_ACCESS_VIOLATION},
      {"protection fault on hlt", SIGSEGV, SI_KERNEL, 0, &hlt, &zeroDivisor,
       platform::EXCEPTION_PRIV_INSTRUCTION},
      {"protection fault on a load", SIGSEGV, SI_KERNEL, 0, &load,
       &zeroDivisor, platform::EXCEPTION_ACCESS_VIOLATION},
      {"bus error", SIGBUS, BUS_ADRERR, 0x7000, &load, &zeroDivisor,
       platform::EXCEPTION_ACCESS_VIOLATION},
      {"illegal opcode", SIGILL, ILL_ILLOPN, 0, &load, &zeroDivisor,
       platform::EXCEPTION_ILLEGAL_INSTRUCTION},
      {"privileged opcode", SIGILL, ILL_PRVOPC, 0, &load, &zeroDivisor,
       platform::EXCEPTION_PRIV_INSTRUCTION},
      {"integer division by zero", SIGFPE, FPE_INTDIV, 0, &idivEcx,
       &zeroDivisor, platform::EXCEPTION_INT_DIVIDE_BY_ZERO},
      {"quotient too large", SIGFPE, FPE_INTDIV, 0, &idivEcx, &minusOne,
       platform::EXCEPTION_INT_OVERFLOW},
      {"integer overflow", SIGFPE, FPE_INTOVF, 0, &load, &zeroDivisor,
       platform::EXCEPTION_INT_OVERFLOW},
      {"float division by zero", SIGFPE, FPE_FLTDIV, 0, &load, &zeroDivisor,
       platform::EXCEPTION_FLT_DIVIDE_BY_ZERO},
      {"float overflow", SIGFPE, FPE_FLTOVF, 0, &load, &zeroDivisor,
       platform::EXCEPTION_FLT_OVERFLOW},
      {"float underflow or denormal", SIGFPE, FPE_FLTUND, 0, &load,
       &zeroDivisor, platform::EXCEPTION_FLT_UNDERFLOW},
      {"float inexact", SIGFPE, FPE_FLTRES, 0, &load, &zeroDivisor,
       platform::EXCEPTION_FLT_INEXACT_RESULT},
      {"float invalid", SIGFPE, FPE_FLTINV, 0, &load, &zeroDivisor,
       platform::EXCEPTION_FLT_INVALID_OPERATION},
      {"subscript out of range", SIGFPE, FPE_FLTSUB, 0, &load, &zeroDivisor,
       platform::EXCEPTION_ARRAY_BOUNDS_EXCEEDED},
  };
  for (const Case& c : cases) {
    FaultFacts facts{c.signal,     c.signalCode, c.address,
                     c.code->data(), c.regs,     stackLow};
    EXPECT_EQ(ExceptionCodeForFault(facts), c.exception) << c.name;
  }
}

}  // namespace
