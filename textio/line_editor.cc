// Placeholder until the line editor lands: takes the next line from the
// standard input's bytes, without echo.
#include "textio/line_editor.h"

std::uint8_t pendingKey;
bool pendingExtended;
bool altCodeActive;
std::uint8_t altCode;

bool PollKey() { return false; }
std::uint8_t NextKey() { return 0; }
std::uint8_t ExtendedKeyCode(std::uint8_t scan, std::uint8_t) { return scan; }

void EditLine(TextStream& stream) {
  stream.bufIndex = 0;
  stream.bufCount = 0;
  for (;;) {
    std::uint8_t byte = 0;
    std::uint32_t received = 0;
    if (!platform::ReadFile(stream.handle, &byte, 1, &received) ||
        received == 0) {
      break;
    }
    if (byte == 10) {
      stream.buffer[stream.bufCount++] = 13;
      stream.buffer[stream.bufCount++] = 10;
      break;
    }
    if (byte != 13 && stream.bufCount < 254) {
      stream.buffer[stream.bufCount++] = byte;
    }
  }
}
