// Placeholder until the console layer lands: no console, as on Windows
// with the standard output redirected.
#include "platform/platform.h"
#include "platform/posix/handles.h"

namespace platform {

bool GetConsoleScreenBufferInfo(Handle, ConsoleScreenBufferInfo*) {
  posix::SetLastError(ERROR_INVALID_HANDLE);
  return false;
}
bool SetConsoleCursorPosition(Handle, Coord) { return false; }
bool FillConsoleOutputCharacterA(Handle, char, std::uint32_t, Coord,
                                 std::uint32_t* written) {
  *written = 0;
  return false;
}
bool FillConsoleOutputAttribute(Handle, std::uint16_t, std::uint32_t, Coord,
                                std::uint32_t* written) {
  *written = 0;
  return false;
}
bool WriteConsoleOutputCharacterA(Handle, const char*, std::uint32_t, Coord,
                                  std::uint32_t* written) {
  *written = 0;
  return false;
}
bool WriteConsoleOutputAttribute(Handle, const std::uint16_t*, std::uint32_t,
                                 Coord, std::uint32_t* written) {
  *written = 0;
  return false;
}
bool ScrollConsoleScreenBufferA(Handle, const SmallRect*, const SmallRect*,
                                Coord, const CharInfo*) {
  return false;
}
std::uint32_t GetConsoleOutputCP() { return 0; }
bool SetConsoleOutputCP(std::uint32_t) { return false; }
std::uint32_t GetACP() { return 1252; }
WindowHandle SetActiveWindow(WindowHandle) { return nullptr; }

}  // namespace platform
