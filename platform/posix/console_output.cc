// The console output calls on the terminal behind the standard output.
//
// Each call changes the console's screen buffer as the Windows call changes
// a console's cells; the renderer shows the changes on the terminal at the
// next paint point (a key wait, a child process, a write to a standard
// handle, the end of the process) or a few milliseconds after them. When
// the standard output is no terminal there is no console: every call fails
// with ERROR_INVALID_HANDLE, as on Windows with the output redirected.
#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "platform/posix/screen_buffer.h"
#include "platform/posix/terminal.h"

namespace platform {

using posix::ConsoleScreen;
using posix::ScreenBuffer;

namespace {

// A count the caller may not have asked for.
std::uint32_t* CountOrScratch(std::uint32_t* written) {
  static std::uint32_t scratch;
  return written != nullptr ? written : &scratch;
}

// The result of a call on the buffer: its error as the last error.
bool Finish(bool ok, std::uint32_t error) {
  if (!ok) posix::SetLastError(error);
  posix::ConsoleChanged();
  return ok;
}

}  // namespace

bool GetConsoleScreenBufferInfo(Handle console, ConsoleScreenBufferInfo* info) {
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  if (info == nullptr) {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  posix::LearnConsoleCursor();
  auto columns = static_cast<std::int16_t>(screen->columns);
  auto rows = static_cast<std::int16_t>(screen->rows);
  info->dwSize = Coord{columns, rows};
  info->dwCursorPosition = Coord{static_cast<std::int16_t>(screen->cursorColumn),
                                 static_cast<std::int16_t>(screen->cursorRow)};
  info->wAttributes = posix::defaultAttribute;
  info->srWindow = SmallRect{0, 0, static_cast<std::int16_t>(columns - 1),
                             static_cast<std::int16_t>(rows - 1)};
  info->dwMaximumWindowSize = Coord{columns, rows};
  posix::ConsoleChanged();
  return true;
}

bool SetConsoleCursorPosition(Handle console, Coord position) {
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  std::uint32_t error = 0;
  return Finish(posix::SetCursor(*screen, position, &error), error);
}

bool FillConsoleOutputCharacterA(Handle console, char character,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written) {
  written = CountOrScratch(written);
  *written = 0;
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  std::uint32_t error = 0;
  return Finish(posix::FillCharacters(*screen,
                                      static_cast<std::uint8_t>(character),
                                      length, first, written, &error),
                error);
}

bool FillConsoleOutputAttribute(Handle console, std::uint16_t attribute,
                                std::uint32_t length, Coord first,
                                std::uint32_t* written) {
  written = CountOrScratch(written);
  *written = 0;
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  std::uint32_t error = 0;
  return Finish(
      posix::FillAttributes(*screen, attribute, length, first, written, &error),
      error);
}

bool WriteConsoleOutputCharacterA(Handle console, const char* characters,
                                  std::uint32_t length, Coord first,
                                  std::uint32_t* written) {
  written = CountOrScratch(written);
  *written = 0;
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  if (characters == nullptr && length > 0) {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::uint32_t error = 0;
  return Finish(posix::WriteCharacters(*screen, characters, length, first,
                                       written, &error),
                error);
}

bool WriteConsoleOutputAttribute(Handle console,
                                 const std::uint16_t* attributes,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written) {
  written = CountOrScratch(written);
  *written = 0;
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  if (attributes == nullptr && length > 0) {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::uint32_t error = 0;
  return Finish(posix::WriteAttributes(*screen, attributes, length, first,
                                       written, &error),
                error);
}

bool ScrollConsoleScreenBufferA(Handle console, const SmallRect* scroll,
                                const SmallRect* clip, Coord destination,
                                const CharInfo* fill) {
  ScreenBuffer* screen = ConsoleScreen(console);
  if (screen == nullptr) return false;
  if (scroll == nullptr || fill == nullptr) {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::uint32_t error = 0;
  return Finish(
      posix::ScrollScreen(*screen, *scroll, clip, destination, *fill, &error),
      error);
}

// The console shows every cell in the ANSI code page; the output code page
// is only remembered, so that a caller that switches and restores it finds
// it as it left it.
std::uint32_t GetConsoleOutputCP() {
  if (ConsoleScreen(posix::StandardHandle(1)) == nullptr) return 0;
  return posix::consoleOutputCodePage;
}

bool SetConsoleOutputCP(std::uint32_t codePage) {
  if (ConsoleScreen(posix::StandardHandle(1)) == nullptr) return false;
  // The code pages a Windows console accepts for output.
  static const std::uint32_t known[] = {
      437,  737,  775,  850,  852,  855,  857,  858,   860,   861,   862,
      863,  864,  865,  866,  869,  874,  932,  936,   949,   950,   1250,
      1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 20127, 28591, 28592,
      28593, 28594, 28595, 28596, 28597, 28598, 28599, 28605, 65001};
  for (std::uint32_t page : known) {
    if (page == codePage) {
      posix::consoleOutputCodePage = codePage;
      return true;
    }
  }
  posix::SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

std::uint32_t GetACP() { return 1252; }

// There are no windows to activate on a terminal.
WindowHandle SetActiveWindow(WindowHandle) { return nullptr; }

}  // namespace platform
