#include "runtime/report.h"

#include "platform/platform.h"
#include "runtime/run.h"
#include "textio/text_stream.h"

ShortText HexDigits(std::uint32_t value) {
  static const char digitSet[] = "0123456789ABCDEF";
  ShortText text{};
  text.length = 8;
  for (int i = 7; i >= 0; --i) {
    text.bytes[i] = digitSet[value & 0xF];
    value >>= 4;
  }
  return text;
}

namespace {

constexpr std::uintptr_t frameSize = 2 * sizeof(std::uintptr_t);

// [address, address + size) lies inside the stack.
bool Inside(std::uintptr_t address, std::uintptr_t size, StackBounds stack) {
  return address >= stack.low && address <= stack.high &&
         stack.high - address >= size;
}

// "  $" and an image offset, as one line of the report.
void WriteOffsetLine(std::uint32_t offset) {
  WriteText(StandardOutput, MakeText("  $"), 0);
  WriteText(StandardOutput, HexDigits(offset), 0);
  WriteLine(StandardOutput);
}

void WriteBackTraceLine(std::uintptr_t returnAddress, void*) {
  WriteOffsetLine(ImageOffset(returnAddress));
}

}  // namespace

std::uint32_t WalkFrames(const WalkStart& start, StackBounds stack,
                         std::uintptr_t chainEnd, std::uint32_t maxLines,
                         void (*line)(std::uintptr_t returnAddress,
                                      void* context),
                         void* context) {
  platform::Context registers{start.stackPointer, start.frame, start.address};
  bool atFault = start.stackPointer != 0;
  std::uintptr_t previous = registers.Rbp - 1;  // so that the first step runs
  std::uint32_t count = 0;
  while (count < maxLines) {
    // A return address is looked up one byte back, inside its call: after
    // the call of a routine that never returns, the next byte may already
    // belong to another routine.
    std::uint64_t controlPc = atFault ? registers.Rip : registers.Rip - 1;
    std::uint64_t imageBase = 0;
    platform::RuntimeFunction* routine =
        platform::RtlLookupFunctionEntry(controlPc, &imageBase, nullptr);
    if (routine == nullptr) {
      // A routine without unwind data keeps no frame: its return address
      // is at the stack pointer, known only at a fault.
      if (!atFault || !Inside(registers.Rsp, sizeof(std::uintptr_t), stack)) {
        break;
      }
      registers.Rip = *reinterpret_cast<const std::uint64_t*>(registers.Rsp);
      registers.Rsp += sizeof(std::uintptr_t);
    } else {
      if (registers.Rbp <= previous ||
          !Inside(registers.Rbp, frameSize, stack)) {
        break;
      }
      std::uintptr_t frame = registers.Rbp;
      std::uintptr_t stackPointer = registers.Rsp;
      void* handlerData = nullptr;
      std::uint64_t establisherFrame = 0;
      platform::RtlVirtualUnwind(platform::UNW_FLAG_NHANDLER, imageBase,
                                 controlPc, routine, &registers, &handlerData,
                                 &establisherFrame, nullptr);
      // Every step moves up the stack. A routine that keeps no frame of its
      // own (MinGW gives leaf routines unwind data too) passes the frame
      // register through unchanged; then the stack pointer alone moved.
      if (stackPointer != 0 && registers.Rsp <= stackPointer) break;
      if (!Inside(registers.Rsp, 0, stack)) break;
      if (registers.Rbp != frame) previous = frame;
    }
    atFault = false;
    if (registers.Rip == 0) break;
    line(registers.Rip, context);
    ++count;
    if (registers.Rbp == 0 || registers.Rbp == chainEnd) break;
  }
  return count;
}

void WriteReportHead() {
  WriteText(StandardOutput, MakeText("Runtime error "), 0);
  WriteNumber(StandardOutput, stopCode, 0);
  WriteText(StandardOutput, MakeText(" at $"), 0);
  WriteText(StandardOutput, HexDigits(stopLocation), 0);
  WriteLine(StandardOutput);
  WriteOffsetLine(stopLocation);
}

void WriteBackTrace() {
  bool characterDevice =
      platform::GetFileType(StandardOutput.handle) == platform::FILE_TYPE_CHAR;
  StackBounds stack{};
  platform::GetCurrentThreadStackLimits(&stack.low, &stack.high);
  WalkStart start{stopAddress, reinterpret_cast<std::uintptr_t>(stopFrame),
                  stopStackPointer};
  WalkFrames(start, stack, reinterpret_cast<std::uintptr_t>(runFrame),
             characterDevice ? maxLinesOnCharacterDevice : maxLinesElsewhere,
             WriteBackTraceLine, nullptr);
}
