// Windows command-line quoting and splitting.
//
// Properties: every argument that QuoteArgument writes comes back from
// SplitCommandLine whole and alone, between any blanks, after a quoted
// program name; QuoteArgument stays within QuotedRoom; and any line, once
// split, quoted again and split again, gives the same arguments.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/command_line.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& line) {
  fprintf(stderr, "command_line_fuzz: %s\nline: [", what);
  fwrite(line.data(), 1, line.size(), stderr);
  fprintf(stderr, "]\n");
  abort();
}

// The quoted argument, written into a buffer of exactly QuotedRoom bytes so
// that the address sanitizer sees any write past it.
std::string Quoted(std::string_view argument, const std::string& context) {
  std::vector<char> room(platform::QuotedRoom(argument.size()));
  std::size_t length = platform::QuoteArgument(argument, room.data());
  if (length > room.size()) Fail("QuoteArgument wrote past its room", context);
  return std::string(room.data(), length);
}

std::string WithoutZeros(std::string text) {
  std::erase(text, '\0');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string raw(reinterpret_cast<const char*>(data), size);

  // Arbitrary lines: split, quote each argument again, split again.
  std::vector<std::string> split = platform::SplitCommandLine(raw);
  if (split.empty()) Fail("no program name", raw);
  // The program name holds no quote and no zero byte: the split dropped them.
  std::string rebuilt = "\"" + split[0] + "\"";
  for (std::size_t i = 1; i < split.size(); ++i) {
    rebuilt += " " + Quoted(split[i], raw);
  }
  if (platform::SplitCommandLine(rebuilt) != split) {
    Fail("split, quoted and split again differs", raw);
  }

  // Arguments made from the input, each quoted, between blanks.
  FuzzedDataProvider provider(data, size);
  std::string program = provider.ConsumeRandomLengthString(64);
  std::erase(program, '"');
  program = WithoutZeros(program);
  std::vector<std::string> arguments{program};
  std::string line = "\"" + program + "\"";
  while (provider.remaining_bytes() > 0) {
    std::uint8_t blanks = provider.ConsumeIntegral<std::uint8_t>();
    // One to four blanks, a space or a tab each by one bit.
    for (int i = 0; i <= (blanks & 3); ++i) line += (blanks >> (2 + i)) & 1 ? '\t' : ' ';
    std::string argument = WithoutZeros(provider.ConsumeRandomLengthString(300));
    arguments.push_back(argument);
    line += Quoted(argument, line);
  }
  if (platform::SplitCommandLine(line) != arguments) {
    Fail("a quoted argument did not come back whole and alone", line);
  }
  return 0;
}
