#include "platform/posix/fault_kinds.h"

#include <signal.h>

#include <cstring>

#include "platform/platform.h"

namespace platform::posix {

namespace {

// ---------------------------------------------------------------------------
// Instruction prefixes
// ---------------------------------------------------------------------------

struct Decoded {
  bool operandSize16;  // 66
  bool addressSize32;  // 67
  bool segmentFsGs;    // 64, 65: an address we cannot compute
  std::uint8_t rex;    // 0 when none
  const std::uint8_t* opcode;
};

constexpr int maxInstructionLength = 15;

Decoded SkipPrefixes(const std::uint8_t* code) {
  Decoded d{};
  int i = 0;
  for (; i < maxInstructionLength - 1; ++i) {
    std::uint8_t b = code[i];
    if (b == 0x66) {
      d.operandSize16 = true;
    } else if (b == 0x67) {
      d.addressSize32 = true;
    } else if (b == 0x64 || b == 0x65) {
      d.segmentFsGs = true;
    } else if (b != 0xF0 && b != 0xF2 && b != 0xF3 && b != 0x2E &&
               b != 0x36 && b != 0x3E && b != 0x26) {
      break;
    }
  }
  if ((code[i] & 0xF0) == 0x40) d.rex = code[i++];
  d.opcode = code + i;
  return d;
}

std::uint8_t ModField(std::uint8_t modrm) { return modrm >> 6; }
std::uint8_t RegField(std::uint8_t modrm) { return (modrm >> 3) & 7; }
std::uint8_t RmField(std::uint8_t modrm) { return modrm & 7; }

bool RexW(const Decoded& d) { return (d.rex & 8) != 0; }
int RexX(const Decoded& d) { return (d.rex & 2) ? 8 : 0; }
int RexB(const Decoded& d) { return (d.rex & 1) ? 8 : 0; }

std::int64_t Displacement(const std::uint8_t*& p, int size) {
  if (size == 1) return static_cast<std::int8_t>(*p++);
  std::int32_t value;
  std::memcpy(&value, p, 4);
  p += 4;
  return value;
}

// The address a memory operand (ModRM and what follows it) names.
std::uint64_t OperandAddress(const Decoded& d, const std::uint8_t* modrmAt,
                             const std::uint8_t* code,
                             const GeneralRegisters& regs) {
  std::uint8_t modrm = *modrmAt;
  std::uint8_t mod = ModField(modrm);
  std::uint8_t rm = RmField(modrm);
  const std::uint8_t* p = modrmAt + 1;
  std::uint64_t address = 0;
  if (rm == 4) {
    std::uint8_t sib = *p++;
    int scale = sib >> 6;
    int index = ((sib >> 3) & 7) | RexX(d);
    int base = (sib & 7) | RexB(d);
    if (index != 4) address += regs.r[index] << scale;
    if ((sib & 7) == 5 && mod == 0) {
      address += Displacement(p, 4);
    } else {
      address += regs.r[base];
    }
  } else if (rm == 5 && mod == 0) {
    std::int64_t displacement = Displacement(p, 4);
    // Relative to the next instruction; DIV and IDIV end with the operand.
    address = regs.rip + static_cast<std::uint64_t>(p - code) + displacement;
  } else {
    address = regs.r[rm | RexB(d)];
  }
  if (mod == 1) address += Displacement(p, 1);
  if (mod == 2) address += Displacement(p, 4);
  if (d.addressSize32) address &= 0xFFFFFFFFu;
  return address;
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoders
// ---------------------------------------------------------------------------

bool IsPrivilegedInstruction(const std::uint8_t* code) {
  Decoded d = SkipPrefixes(code);
  const std::uint8_t* op = d.opcode;
  switch (op[0]) {
    case 0xF4:                                      // HLT
    case 0xFA: case 0xFB:                           // CLI, STI
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:     // IN, OUT imm8
    case 0xEC: case 0xED: case 0xEE: case 0xEF:     // IN, OUT dx
    case 0x6C: case 0x6D: case 0x6E: case 0x6F:     // INS, OUTS
      return true;
    case 0x0F:
      break;
    default:
      return false;
  }
  std::uint8_t modrm = op[2];
  switch (op[1]) {
    case 0x06:                                      // CLTS
    case 0x07:                                      // SYSRET
    case 0x08: case 0x09:                           // INVD, WBINVD
    case 0x20: case 0x21: case 0x22: case 0x23:     // MOV to/from CRn, DRn
    case 0x30: case 0x32: case 0x33:                // WRMSR, RDMSR, RDPMC
    case 0x35:                                      // SYSEXIT
      return true;
    case 0x00:                                      // LLDT, LTR
      return RegField(modrm) == 2 || RegField(modrm) == 3;
    case 0x01:
      if (modrm == 0xF8 || modrm == 0xD1) return true;  // SWAPGS, XSETBV
      if (RegField(modrm) == 6) return true;            // LMSW
      // LGDT, LIDT, INVLPG take a memory operand.
      return ModField(modrm) != 3 &&
             (RegField(modrm) == 2 || RegField(modrm) == 3 ||
              RegField(modrm) == 7);
    default:
      return false;
  }
}

bool DivisorIsNotZero(const std::uint8_t* code, const GeneralRegisters& regs) {
  Decoded d = SkipPrefixes(code);
  const std::uint8_t* op = d.opcode;
  if (op[0] != 0xF6 && op[0] != 0xF7) return false;
  std::uint8_t modrm = op[1];
  if (RegField(modrm) != 6 && RegField(modrm) != 7) return false;  // DIV, IDIV

  int size = op[0] == 0xF6 ? 1 : RexW(d) ? 8 : d.operandSize16 ? 2 : 4;
  std::uint64_t divisor = 0;
  if (ModField(modrm) == 3) {
    int rm = RmField(modrm);
    if (size == 1 && d.rex == 0 && rm >= 4) {
      divisor = regs.r[rm - 4] >> 8;  // AH, CH, DH, BH
    } else {
      divisor = regs.r[rm | RexB(d)];
    }
  } else {
    if (d.segmentFsGs) return false;
    std::uint64_t address = OperandAddress(d, op + 1, code, regs);
    // The faulting instruction has just read this operand.
    std::memcpy(&divisor, reinterpret_cast<const void*>(address),
                static_cast<std::size_t>(size));
  }
  if (size < 8) divisor &= (std::uint64_t{1} << (8 * size)) - 1;
  return divisor != 0;
}

// ---------------------------------------------------------------------------
// The kind of a fault
// ---------------------------------------------------------------------------

std::uint32_t ExceptionCodeForFault(const FaultFacts& facts) {
  switch (facts.signal) {
    case SIGSEGV: {
      // Only a general-protection fault comes without an address.
      if (facts.signalCode == SI_KERNEL &&
          IsPrivilegedInstruction(facts.instruction)) {
        return EXCEPTION_PRIV_INSTRUCTION;
      }
      std::uintptr_t a = facts.faultAddress;
      if (facts.signalCode != SI_KERNEL &&
          a + stackOverflowBelow >= facts.stackLow &&
          a < facts.stackLow + stackOverflowAbove) {
        return EXCEPTION_STACK_OVERFLOW;
      }
      return EXCEPTION_ACCESS_VIOLATION;
    }
    case SIGBUS:
      return EXCEPTION_ACCESS_VIOLATION;
    case SIGILL:
      if (facts.signalCode == ILL_PRVOPC || facts.signalCode == ILL_PRVREG) {
        return EXCEPTION_PRIV_INSTRUCTION;
      }
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
      switch (facts.signalCode) {
        case FPE_INTDIV:
          return DivisorIsNotZero(facts.instruction, *facts.registers)
                     ? EXCEPTION_INT_OVERFLOW
                     : EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF:
          return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV:
          return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF:
          return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND:  // Linux reports a denormal operand as this too
          return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES:
          return EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTSUB:
          return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        default:  // FPE_FLTINV, and x87 stack faults with it
          return EXCEPTION_FLT_INVALID_OPERATION;
      }
    default:
      return EXCEPTION_ACCESS_VIOLATION;
  }
}

}  // namespace platform::posix
