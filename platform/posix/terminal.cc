// Placeholder until the console layer lands: no console on POSIX yet.
#include "platform/posix/terminal.h"

namespace platform::posix {

void PaintConsole() {}
void BeginForeignOutput() {}
void EndForeignOutput() {}
void RestoreTerminalMode() {}
int ReadTerminalInput(std::uint8_t*, int, int) { return -1; }
bool InputIsTerminal() { return false; }

}  // namespace platform::posix
