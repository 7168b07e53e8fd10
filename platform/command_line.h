// Windows command lines: one string that the started program splits into
// its arguments. Pure functions, the same in both builds: the program
// quotes with them what it hands to CreateProcessA, and the POSIX layer
// splits with them what it starts, so that both builds run a child with
// the same arguments.
//
// The splitting rules are those of the Microsoft C runtime:
// - Arguments are separated by spaces and tabs outside double quotes.
// - The first argument, the program name, ends at the first space or tab
//   outside quotes; its quotes are dropped and backslashes are plain bytes.
// - In the other arguments a double quote opens or closes a quoted part,
//   in which spaces and tabs are plain bytes; "" inside a quoted part is
//   one literal quote and the part goes on.
// - 2n backslashes before a quote give n backslashes, and the quote opens
//   or closes a quoted part; 2n + 1 backslashes before a quote give n
//   backslashes and a literal quote. Backslashes before any other byte are
//   plain bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments of `commandLine`, the program name first. Stops at the
// first zero byte, as the command line of CreateProcessA does.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The most bytes QuoteArgument writes for an argument of `length` bytes:
// every byte doubled (a quote after its escaping backslash, or a backslash
// before a quote) and the two enclosing quotes.
constexpr std::size_t QuotedRoom(std::size_t length) { return 2 * length + 2; }

// Writes `argument` to `out` (room for QuotedRoom(argument.size()) bytes)
// so that SplitCommandLine gives it back as exactly one argument after the
// program name. An argument holding no space, tab or double quote, and not
// empty, is written as it is. A zero byte would end the command line:
// `argument` must hold none. Returns the number of bytes written.
std::size_t QuoteArgument(std::string_view argument, char* out);

}  // namespace platform
