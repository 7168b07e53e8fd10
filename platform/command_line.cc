#include "platform/command_line.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::string_view line = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> arguments;
  std::size_t at = 0;

  // The program name: quotes group, nothing escapes.
  std::string program;
  bool quoted = false;
  while (at < line.size() && (quoted || !IsBlank(line[at]))) {
    if (line[at] == '"') {
      quoted = !quoted;
    } else {
      program += line[at];
    }
    ++at;
  }
  arguments.push_back(program);

  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) break;
    std::string argument;
    quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
      std::size_t backslashes = 0;
      while (at < line.size() && line[at] == '\\') {
        ++backslashes;
        ++at;
      }
      if (at < line.size() && line[at] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
        } else if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
          argument += '"';
          ++at;
        } else {
          quoted = !quoted;
        }
        ++at;
      } else {
        argument.append(backslashes, '\\');
        if (at < line.size() && (quoted || !IsBlank(line[at]))) {
          argument += line[at];
          ++at;
        }
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::size_t QuoteArgument(std::string_view argument, char* out) {
  std::size_t length = 0;
  if (!argument.empty() && argument.find_first_of(" \t\"") == argument.npos) {
    for (char c : argument) out[length++] = c;
    return length;
  }
  out[length++] = '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else {
      // Backslashes before a quote are doubled, and the quote escaped.
      if (c == '"') backslashes = 2 * backslashes + 1;
      for (; backslashes > 0; --backslashes) out[length++] = '\\';
      out[length++] = c;
    }
  }
  // ... and so are those before the closing quote.
  for (backslashes *= 2; backslashes > 0; --backslashes) out[length++] = '\\';
  out[length++] = '"';
  return length;
}

}  // namespace platform
