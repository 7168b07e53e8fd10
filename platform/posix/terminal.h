// The terminal behind the standard output, as the POSIX console layer uses
// it. Internal to platform/posix/: the files, process and exit code of this
// layer call these hooks so that the terminal is painted and in its
// original mode whenever something else reaches it.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/screen_buffer.h"

namespace platform::posix {

// Brings the terminal up to date with the console's screen buffer. Does
// nothing when the standard output is not a terminal.
void PaintConsole();

// Something other than the console layer is about to write to the terminal
// (a child process, a write through a standard handle): paints what is
// pending and puts the terminal back in the mode it was found in.
void BeginForeignOutput();

// ... and has written: the terminal's cursor and cells are no longer known.
void EndForeignOutput();

// Puts the terminal back in the mode it was found in. Async-signal-safe, so
// that fault and signal handlers may call it.
void RestoreTerminalMode();

// Key input. Puts the terminal in non-canonical mode without echo (signals
// left on; CR, Ctrl-S and Ctrl-Q arrive as typed) and in application keypad
// mode, and reads up to `max` bytes the user typed, waiting at most
// `timeoutMs` milliseconds (0: do not wait). Bytes that arrived while the
// layer waited for a cursor report come first. Returns the number of bytes,
// 0 when none came, -1 when the input is at its end or unusable.
int ReadTerminalInput(std::uint8_t* bytes, int max, int timeoutMs);

// True when the standard input is the same terminal as the standard output.
bool InputIsTerminal();

// ---------------------------------------------------------------------------
// For the console calls (console_output.cc)
// ---------------------------------------------------------------------------

// The screen buffer behind `console`, the console being started on first
// use; null, with ERROR_INVALID_HANDLE set, when the standard output is no
// terminal or `console` is not a handle of it.
ScreenBuffer* ConsoleScreen(Handle console);

// The console's cursor is needed: asks the terminal where it stands when
// the layer does not know.
void LearnConsoleCursor();

// After a console call that may have changed the screen: paints when the
// oldest change not yet shown is a few milliseconds old.
void ConsoleChanged();

// The output code page that GetConsoleOutputCP reports.
extern std::uint32_t consoleOutputCodePage;

}  // namespace platform::posix
