// The pure parts of the report: address digits, the back-trace walk over a
// made-up stack, the codes of faults and the exit status of a code.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "runtime/report.h"
#include "runtime/run.h"

namespace {

// ---------------------------------------------------------------------------
// Address digits
// ---------------------------------------------------------------------------

TEST(HexDigits, EightUpperCaseDigitsWithLeadingZeros) {
  struct Case {
    std::uint32_t value;
    const char* digits;
  };
  const Case cases[] = {
      {0, "00000000"},          {0x1A2B, "00001A2B"},
      {0xABCDEF01, "ABCDEF01"}, {0xFFFFFFFF, "FFFFFFFF"},
      {0x00F00000, "00F00000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToString(HexDigits(c.value)), c.digits);
  }
}

// ---------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------

// A made-up stack of words. Frames are placed at word indices; each holds
// the link to its caller's frame and a return address.
class MadeUpStack {
 public:
  explicit MadeUpStack(std::size_t words) : words_(words, 0) {}

  std::uintptr_t Address(std::size_t index) const {
    return reinterpret_cast<std::uintptr_t>(words_.data() + index);
  }
  void Frame(std::size_t index, std::uintptr_t link,
             std::uintptr_t returnAddress) {
    words_[index] = link;
    words_[index + 1] = returnAddress;
  }
  // Frames at `first`, first + 4, ...: each links to the next, the last to
  // `lastLink`; return addresses 0x1000, 0x1001, ...
  void Chain(std::size_t first, std::size_t count, std::uintptr_t lastLink) {
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t at = first + 4 * i;
      Frame(at, i + 1 < count ? Address(at + 4) : lastLink, 0x1000 + i);
    }
  }
  StackBounds Bounds() const {
    return {Address(0), Address(words_.size())};
  }

 private:
  std::vector<std::uintptr_t> words_;
};

std::vector<std::uintptr_t> Walk(const MadeUpStack& stack, std::uintptr_t frame,
                                 std::uint32_t maxLines = 257,
                                 std::uintptr_t chainEnd = 1) {
  std::vector<std::uintptr_t> lines;
  WalkStart start{0x4000, frame, 0};
  std::uint32_t count = WalkFrames(
      start, stack.Bounds(), chainEnd, maxLines,
      [](std::uintptr_t address, void* context) {
        static_cast<std::vector<std::uintptr_t>*>(context)->push_back(address);
      },
      &lines);
  EXPECT_EQ(count, lines.size());
  return lines;
}

using Lines = std::vector<std::uintptr_t>;

TEST(WalkFrames, EndsAtAZeroLinkOrTheChainEnd) {
  MadeUpStack stack(64);
  stack.Chain(4, 3, 0);
  EXPECT_EQ(Walk(stack, stack.Address(4)), (Lines{0x1000, 0x1001, 0x1002}));

  MadeUpStack ended(64);
  ended.Chain(4, 3, ended.Address(40));
  ended.Frame(40, ended.Address(48), 0x2000);  // never read
  EXPECT_EQ(Walk(ended, ended.Address(4), 257, ended.Address(40)),
            (Lines{0x1000, 0x1001, 0x1002}));
}

TEST(WalkFrames, EndsWithoutALineAtBadFrames) {
  struct Case {
    const char* name;
    std::size_t badLinkFrom;  // index of the frame whose link is bad
    int badLink;              // word index it points to; -1: above the stack
    Lines lines;
  };
  // Frames at 4, 8, 12, 16 (return addresses 0x1000 .. 0x1003).
  const Case cases[] = {
      {"link back down", 8, 4, {0x1000, 0x1001}},
      {"link to itself", 8, 8, {0x1000, 0x1001}},
      {"link above the stack", 8, -1, {0x1000, 0x1001}},
      {"link to a frame straddling the stack's end", 8, 31, {0x1000, 0x1001}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MadeUpStack stack(32);
    stack.Chain(4, 4, 0);
    std::uintptr_t link = c.badLink < 0 ? stack.Address(40)
                                        : stack.Address(c.badLink);
    stack.Frame(c.badLinkFrom, link, 0x1000 + (c.badLinkFrom - 4) / 4);
    EXPECT_EQ(Walk(stack, stack.Address(4)), c.lines);
  }
}

TEST(WalkFrames, ZeroReturnAddressEndsBeforeItsLine) {
  MadeUpStack stack(64);
  stack.Chain(4, 3, 0);
  stack.Frame(8, stack.Address(12), 0);
  EXPECT_EQ(Walk(stack, stack.Address(4)), (Lines{0x1000}));
}

TEST(WalkFrames, NoLinesForAFrameOutsideTheStack) {
  MadeUpStack stack(64);
  stack.Chain(4, 3, 0);
  EXPECT_EQ(Walk(stack, 0), Lines{});
  EXPECT_EQ(Walk(stack, stack.Address(64)), Lines{});
  EXPECT_EQ(Walk(stack, stack.Address(63)), Lines{});
}

TEST(WalkFrames, StopsAtItsLimit) {
  MadeUpStack stack(4 * 400);
  stack.Chain(0, 300, 0);
  EXPECT_EQ(Walk(stack, stack.Address(0), maxLinesOnCharacterDevice).size(),
            9u);
  Lines lines = Walk(stack, stack.Address(0), maxLinesElsewhere);
  ASSERT_EQ(lines.size(), 257u);
  EXPECT_EQ(lines.back(), 0x1000u + 256);
  // A chain that fits is walked whole.
  MadeUpStack shortChain(64);
  shortChain.Chain(0, 9, 0);
  EXPECT_EQ(Walk(shortChain, shortChain.Address(0), 9).back(), 0x1008u);
}

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

TEST(RuntimeErrorCodeForException, FollowsTheTable) {
  struct Case {
    std::uint32_t exception;
    std::uint16_t code;
  };
  const Case cases[] = {
      {platform::EXCEPTION_ACCESS_VIOLATION, 216},
      {platform::EXCEPTION_ILLEGAL_INSTRUCTION, 216},
      {platform::EXCEPTION_ARRAY_BOUNDS_EXCEEDED, 201},
      {platform::EXCEPTION_FLT_DENORMAL_OPERAND, 206},
      {platform::EXCEPTION_FLT_DIVIDE_BY_ZERO, 200},
      {platform::EXCEPTION_FLT_INEXACT_RESULT, 207},
      {platform::EXCEPTION_FLT_INVALID_OPERATION, 207},
      {platform::EXCEPTION_FLT_OVERFLOW, 205},
      {platform::EXCEPTION_FLT_STACK_CHECK, 207},
      {platform::EXCEPTION_FLT_UNDERFLOW, 206},
      {platform::EXCEPTION_INT_DIVIDE_BY_ZERO, 200},
      {platform::EXCEPTION_INT_OVERFLOW, 215},
      {platform::EXCEPTION_PRIV_INSTRUCTION, 218},
      {platform::EXCEPTION_STACK_OVERFLOW, 202},
      {platform::CONTROL_C_EXIT, 217},
      {0xC0001234u, 217},  // another error-severity code
      {0xE06D7363u, 217},
      {0x80000003u, 255},  // a warning
      {0x40000015u, 255},
      {0, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RuntimeErrorCodeForException(c.exception), c.code)
        << std::hex << c.exception;
  }
}

TEST(ExitStatusForCode, LowEightBitsButNeverSuccess) {
  struct Case {
    std::uint16_t code;
    std::uint32_t status;
  };
  const Case cases[] = {
      {2, 2}, {216, 216}, {255, 255}, {267, 11}, {0xFFFF, 255},
      // Low 8 bits 0 would report a failed run as a success.
      {256, 255}, {512, 255}, {0, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExitStatusForCode(c.code), c.status) << c.code;
  }
}

}  // namespace
