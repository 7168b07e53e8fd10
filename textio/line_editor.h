// The console line editor and the key reader under it.
//
// ConsoleInput is refilled by EditLine, which reads keys until Enter and
// leaves the typed line with CR LF in the stream's buffer.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

extern std::uint8_t pendingKey;  // 0 = none
extern bool pendingExtended;     // a 0 is delivered before pendingKey
extern bool altCodeActive;
extern std::uint8_t altCode;

bool PollKey();
std::uint8_t NextKey();
std::uint8_t ExtendedKeyCode(std::uint8_t scan, std::uint8_t keyState);

// The refill of the console input device.
void EditLine(TextStream& stream);
