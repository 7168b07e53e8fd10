// The cursor-position report scanner over arbitrary terminal input.
//
// The console layer asks the terminal where its cursor is and reads the
// answer (ESC [ row ; column R) from the same input as the typed keys.
// Properties, byte by byte: the keys come out in the order typed; every
// input byte is a key, held, or part of a report, and a report is exactly
// ESC [ digits ; digits R with the row and column the scanner took from
// it; once nothing more comes, every held byte is a key; and a full key
// buffer drops keys but never writes past its capacity.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/posix/vt_renderer.h"

namespace {

using platform::posix::ReportScanner;

[[noreturn]] void Fail(const char* what, std::size_t at) {
  fprintf(stderr, "cursor_report_fuzz: %s (at byte %zu)\n", what, at);
  abort();
}

std::string Held(const ReportScanner& scanner) {
  return std::string(reinterpret_cast<const char*>(scanner.held),
                     static_cast<std::size_t>(scanner.heldLength));
}

// ESC [ digits ; digits R, and its numbers.
bool IsReport(const std::string& bytes, int* row, int* column) {
  if (bytes.size() < 6 || bytes.compare(0, 2, "\x1b[") != 0 || bytes.back() != 'R') {
    return false;
  }
  std::size_t semicolon = bytes.find(';');
  if (semicolon == std::string::npos || semicolon < 3 || semicolon + 2 >= bytes.size()) {
    return false;
  }
  *row = 0;
  *column = 0;
  for (std::size_t i = 2; i + 1 < bytes.size(); ++i) {
    if (i == semicolon) continue;
    if (bytes[i] < '0' || bytes[i] > '9') return false;
    int& value = i < semicolon ? *row : *column;
    value = value * 10 + (bytes[i] - '0');
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // A small key buffer now and then: keys past it are dropped.
  int capacity = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 8) : 1 << 16;
  std::vector<std::uint8_t> input = in.ConsumeRemainingBytes<std::uint8_t>();
  std::vector<std::uint8_t> keys(static_cast<std::size_t>(capacity));
  bool complete = capacity == 1 << 16;

  ReportScanner scanner;
  int keyLength = 0;
  for (std::size_t at = 0; at < input.size(); ++at) {
    std::string before = Held(scanner) + static_cast<char>(input[at]);
    int keysBefore = keyLength;
    bool reported = platform::posix::ScanReportByte(scanner, input[at], keys.data(),
                                                    capacity, &keyLength);
    if (keyLength < keysBefore || keyLength > capacity) Fail("key count out of range", at);
    if (!complete) continue;
    std::string passed(reinterpret_cast<const char*>(keys.data()) + keysBefore,
                       static_cast<std::size_t>(keyLength - keysBefore));
    std::string held = Held(scanner);
    // before = passed keys, then a report if one ended here, then held.
    if (before.compare(0, passed.size(), passed) != 0) Fail("keys out of order", at);
    if (before.size() < passed.size() + held.size() ||
        before.compare(before.size() - held.size(), held.size(), held) != 0) {
      Fail("held bytes are not the last ones", at);
    }
    std::string middle =
        before.substr(passed.size(), before.size() - passed.size() - held.size());
    int row = 0;
    int column = 0;
    if (reported) {
      if (!IsReport(middle, &row, &column)) Fail("a report that is not one", at);
      if (row != scanner.row || column != scanner.column) Fail("the wrong position", at);
    } else if (!middle.empty()) {
      Fail("bytes lost", at);
    }
  }
  std::string held = Held(scanner);
  int keysBefore = keyLength;
  platform::posix::ReleaseHeldBytes(scanner, keys.data(), capacity, &keyLength);
  if (scanner.heldLength != 0) Fail("bytes still held after the release", input.size());
  if (complete && std::string(reinterpret_cast<const char*>(keys.data()) + keysBefore,
                              static_cast<std::size_t>(keyLength - keysBefore)) != held) {
    Fail("released bytes are not the held ones", input.size());
  }
  if (keyLength > capacity) Fail("key count out of range", input.size());
  return 0;
}
