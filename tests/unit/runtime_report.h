// Reading a run-time error report back from the bytes a run wrote.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace runtime_test {

struct ParsedReport {
  std::string problem;  // empty when the bytes are one well-formed report
  int code = -1;
  std::uint32_t location = 0;
  std::vector<std::uint32_t> backTrace;  // innermost first
};

// `bytes` must be exactly one report: "Runtime error <code> at $<8 hex>",
// "  $<the same>", lines "  $<8 hex>", an empty line, each ending in CR LF.
inline ParsedReport ParseReport(const std::string& bytes) {
  ParsedReport report;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      report.problem = "bytes after the last CR LF";
      return report;
    }
    std::string line = bytes.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) {
      report.problem = "a lone CR or LF in: " + line;
      return report;
    }
    lines.push_back(line);
    start = end + 2;
  }
  static const std::regex head("Runtime error (\\d+) at \\$([0-9A-F]{8})");
  static const std::regex step("  \\$([0-9A-F]{8})");
  std::smatch match;
  if (lines.size() < 3 || !std::regex_match(lines[0], match, head)) {
    report.problem = "no head line";
    return report;
  }
  report.code = std::stoi(match[1]);
  report.location = static_cast<std::uint32_t>(std::stoul(match[2], nullptr, 16));
  if (lines[1] != "  $" + std::string(match[2])) {
    report.problem = "second line is not the location: " + lines[1];
    return report;
  }
  if (!lines.back().empty()) {
    report.problem = "no empty line at the end";
    return report;
  }
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    if (!std::regex_match(lines[i], match, step)) {
      report.problem = "not a back-trace line: " + lines[i];
      return report;
    }
    report.backTrace.push_back(
        static_cast<std::uint32_t>(std::stoul(match[1], nullptr, 16)));
  }
  return report;
}

}  // namespace runtime_test
