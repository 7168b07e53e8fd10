// Terminal bytes to the key events a Windows console delivers for the same
// keys. Pure: no I/O, no state. Internal to platform/posix/.
//
// A key gives the events a Windows console gives on a US keyboard: the
// modifiers it was typed with pressed (Ctrl, Alt, Shift), its key-down, its
// key-up, the modifiers released. Virtual key code, scan code, character
// and control-key state are those Windows reports; characters beyond ASCII
// arrive as UTF-8 and become their Windows-1252 byte, "?" when there is
// none.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::posix {

// The most events one key gives: three modifiers down, the key down and
// up, three modifiers up.
constexpr int maxKeyEvents = 8;

struct DecodedInput {
  // Bytes taken from the front of the input; 0 when the input begins with
  // a sequence that more bytes may still complete.
  int consumed;
  int eventCount;  // 0 for sequences that stand for no key
  InputRecord events[maxKeyEvents];
};

// Decodes the key at the front of bytes[0, count). `complete` says that no
// more bytes are coming (the short wait after an ESC has passed): an
// unfinished sequence is then taken as it stands, so a lone ESC is the Esc
// key and ESC followed by a key is Alt with that key. With `complete`
// false an unfinished sequence consumes nothing.
DecodedInput DecodeTerminalInput(const std::uint8_t* bytes, int count,
                                 bool complete);

// The Windows-1252 byte of a Unicode code point, "?" when it has none.
std::uint8_t Windows1252FromCodePoint(std::uint32_t codePoint);

}  // namespace platform::posix
