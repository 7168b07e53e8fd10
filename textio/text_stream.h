// Buffered text streams over disk files, standard handles and the console.
//
// A failed operation leaves a code in pendingIoCode; while a code is pending
// every operation but BindStream and PushStream does nothing. Callers run
// CheckIo right after each operation, which ends the run when a code is
// pending. Codes: a mapped Windows error code, or one of our own:
//   101 a write-out wrote fewer bytes than the stream held
//   102 OpenForReading on a stream that was never bound
//   103 an operation on a closed or never bound stream
//   104 a read on a stream open for writing
//   105 a write on a stream open for reading
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "textio/short_text.h"

enum class StreamState : std::uint8_t {
  unbound = 0,  // never bound: all fields zero
  closed,
  reading,
  writing,
};

enum class Device : std::uint8_t {
  diskFile,
  standardHandle,
  consoleOutput,
  consoleInput,
};

constexpr std::uint32_t streamBufferSize = 256;
constexpr std::uint8_t endOfDataByte = 26;  // Ctrl-Z

struct TextStream {
  StreamState state;
  ShortText name;
  Device device;
  // Standard-handle streams: the handle was a character device when the
  // stream was bound, so a push writes the buffer out.
  bool pushWritesOut;
  platform::Handle handle;
  std::uint8_t buffer[streamBufferSize];
  std::uint32_t bufIndex;  // reading: next byte; writing: bytes held
  std::uint32_t bufCount;  // reading: valid bytes in buffer
  std::uint8_t newline[2];
};

extern std::uint16_t pendingIoCode;

// The five process-wide streams.
extern TextStream ConsoleInput;
extern TextStream ConsoleOutput;
extern TextStream DiagnosticOutput;
extern TextStream StandardOutput;
extern TextStream StandardError;

// The standard handles as BindStandardStreams found them.
extern platform::Handle standardInputHandle;
extern platform::Handle standardOutputHandle;
extern platform::Handle standardErrorHandle;

// ---------------------------------------------------------------------------
// Stream operations
// ---------------------------------------------------------------------------

void BindStream(TextStream& stream, const ShortText& fileName);
void OpenForReading(TextStream& stream);
bool AtEnd(TextStream& stream);
std::uint8_t ReadChar(TextStream& stream);
ShortText ReadString(TextStream& stream, std::uint32_t max);
void SkipLine(TextStream& stream);
void WriteText(TextStream& stream, const ShortText& text, std::int32_t width);
void WriteNumber(TextStream& stream, std::uint32_t value, std::int32_t width);
void WriteLine(TextStream& stream);
void PushStream(TextStream& stream);
void FlushStream(TextStream& stream);
void CloseStream(TextStream& stream);

// The pendingIoCode for a Windows error code from GetLastError.
std::uint16_t MapWindowsError(std::uint32_t windowsCode);

// Start-up: remembers the standard handles and binds the five streams.
void BindStandardStreams();

// ---------------------------------------------------------------------------
// CheckIo
// ---------------------------------------------------------------------------

// Takes the pending code and stops the run with it. The place of the check
// is the return address of this call and the frame that of its caller, so
// it must stay a real call with a frame of its own.
[[noreturn]] void StopForPendingIo();

// Ends the run when a stream operation has left a code. Inlined, so that
// the call to StopForPendingIo sits in the routine that checks.
inline __attribute__((always_inline)) void CheckIo() {
  if (pendingIoCode != 0) StopForPendingIo();
}
