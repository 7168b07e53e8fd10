// A plain reader of text-stream semantics over bytes held whole in memory:
// no buffer, no refill. The fuzz targets hold the product's stream reads
// against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ReferenceReader {
  std::vector<std::uint8_t> data;
  std::size_t position = 0;

  static constexpr std::uint8_t endOfData = 26;

  bool AtData() const { return position < data.size(); }

  // At the end of the bytes, or in front of a byte 26.
  bool AtEnd() const { return !AtData() || data[position] == endOfData; }

  // The next byte, whatever it is; 26 without consuming at the end.
  std::uint8_t ReadChar() {
    return AtData() ? data[position++] : endOfData;
  }

  // The bytes in front of the next CR, LF or 26, at most `max` (and never
  // more than 255); the stopping byte stays unread.
  std::string ReadString(std::uint32_t max) {
    if (max > 255) max = 255;
    std::string text;
    while (text.size() < max && AtData()) {
      std::uint8_t b = data[position];
      if (b == 10 || b == 13 || b == endOfData) break;
      text.push_back(static_cast<char>(b));
      ++position;
    }
    return text;
  }

  // Consumes through the next LF, CR LF or lone CR; stops in front of a 26.
  void SkipLine() {
    while (AtData()) {
      std::uint8_t b = data[position];
      if (b == endOfData) return;
      ++position;
      if (b == 10) return;
      if (b == 13) {
        if (AtData() && data[position] == 10) ++position;
        return;
      }
    }
  }
};

// The lines of a catalogue file as a reader that stops at the first byte 26
// sees them: ended by LF, CR LF or a lone CR, the last one with or without
// its end.
inline std::vector<std::string> SplitLines(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // bytes taken since the last line end
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::uint8_t b = bytes[i];
    if (b == 26) break;
    if (b == 10 || b == 13) {
      lines.push_back(line);
      line.clear();
      open = false;
      if (b == 13 && i + 1 < bytes.size() && bytes[i + 1] == 10) ++i;
    } else {
      line.push_back(static_cast<char>(b));
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}
