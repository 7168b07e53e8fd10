// Placeholder until processor faults land.
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/terminal.h"

namespace platform {

TopLevelExceptionFilter SetUnhandledExceptionFilter(TopLevelExceptionFilter) {
  return nullptr;
}
void ExitProcess(std::uint32_t exitCode) {
  posix::PaintConsole();
  posix::RestoreTerminalMode();
  _exit(static_cast<int>(exitCode & 0xFF));
}
void* GetModuleHandleA(const char*) { return nullptr; }
void GetCurrentThreadStackLimits(std::uintptr_t* low, std::uintptr_t* high) {
  *low = 0;
  *high = 0;
}

}  // namespace platform
