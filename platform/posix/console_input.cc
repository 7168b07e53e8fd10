// Placeholder until the key reader lands.
#include <time.h>

#include "platform/platform.h"
#include "platform/posix/handles.h"

namespace platform {

bool GetNumberOfConsoleInputEvents(Handle, std::uint32_t* count) {
  *count = 0;
  posix::SetLastError(ERROR_INVALID_HANDLE);
  return false;
}
bool ReadConsoleInputA(Handle, InputRecord*, std::uint32_t,
                       std::uint32_t* read) {
  *read = 0;
  posix::SetLastError(ERROR_INVALID_HANDLE);
  return false;
}
void Sleep(std::uint32_t milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

}  // namespace platform
