// ShortText: a byte string of at most 255 bytes.
//
// Every text the program builds or reads into memory is a ShortText.
// Appending stops when the text is full, so a concatenation is exactly the
// first 255 bytes of the whole.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

struct ShortText {
  static constexpr std::uint32_t capacity = 255;

  std::uint8_t length;
  char bytes[capacity];

  std::string_view View() const { return {bytes, length}; }
  bool Empty() const { return length == 0; }
};

// Appends as many bytes of `piece` as still fit.
inline void Append(ShortText& text, std::string_view piece) {
  std::uint32_t room = ShortText::capacity - text.length;
  std::uint32_t count = piece.size() < room ? static_cast<std::uint32_t>(piece.size()) : room;
  std::memcpy(text.bytes + text.length, piece.data(), count);
  text.length = static_cast<std::uint8_t>(text.length + count);
}

inline void Append(ShortText& text, const ShortText& piece) {
  Append(text, piece.View());
}

// A single byte used as text.
inline void AppendByte(ShortText& text, std::uint8_t byte) {
  char c = static_cast<char>(byte);
  Append(text, std::string_view(&c, 1));
}

inline ShortText MakeText(std::string_view bytes) {
  ShortText text{};
  Append(text, bytes);
  return text;
}

// The concatenation of the pieces, cut at 255 bytes.
template <typename... Pieces>
ShortText Concat(const Pieces&... pieces) {
  ShortText text{};
  (Append(text, pieces), ...);
  return text;
}

inline std::string ToString(const ShortText& text) {
  return std::string(text.View());
}
