#include "textio/text_stream.h"

#include <cstring>

#include "runtime/run.h"
#include "textio/console.h"
#include "textio/line_editor.h"

using platform::Handle;

std::uint16_t pendingIoCode;

TextStream ConsoleInput;
TextStream ConsoleOutput;
TextStream DiagnosticOutput;
TextStream StandardOutput;
TextStream StandardError;

Handle standardInputHandle;
Handle standardOutputHandle;
Handle standardErrorHandle;

namespace {

constexpr std::uint16_t codeShortWrite = 101;
constexpr std::uint16_t codeNeverBound = 102;
constexpr std::uint16_t codeNotOpen = 103;
constexpr std::uint16_t codeNotOpenForReading = 104;
constexpr std::uint16_t codeNotOpenForWriting = 105;

bool IsStandardHandle(Handle handle) {
  return handle == standardInputHandle || handle == standardOutputHandle ||
         handle == standardErrorHandle;
}

void SetPendingFromLastError() {
  pendingIoCode = MapWindowsError(platform::GetLastError());
}

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

// One ReadFile of up to a buffer's worth. A broken pipe is the end of the
// data, not a failure.
void RefillFromHandle(TextStream& stream) {
  std::uint32_t received = 0;
  if (!platform::ReadFile(stream.handle, stream.buffer, streamBufferSize,
                          &received)) {
    std::uint32_t error = platform::GetLastError();
    if (error != platform::ERROR_BROKEN_PIPE) {
      pendingIoCode = MapWindowsError(error);
    }
    received = 0;
  }
  stream.bufIndex = 0;
  stream.bufCount = received;
}

void Refill(TextStream& stream) {
  if (stream.device == Device::consoleInput) {
    EditLine(stream);
  } else {
    RefillFromHandle(stream);
  }
}

void WriteOutToHandle(TextStream& stream) {
  if (stream.bufIndex == 0) return;
  std::uint32_t written = 0;
  bool ok = platform::WriteFile(stream.handle, stream.buffer, stream.bufIndex,
                                &written);
  if (!ok) SetPendingFromLastError();
  if (!ok || written != stream.bufIndex) pendingIoCode = codeShortWrite;
  stream.bufIndex = 0;
}

void WriteOut(TextStream& stream) {
  switch (stream.device) {
    case Device::consoleOutput:
      WriteWindow(stream);
      break;
    case Device::consoleInput:
      break;
    case Device::diskFile:
    case Device::standardHandle:
      WriteOutToHandle(stream);
      break;
  }
}

void CloseDevice(TextStream& stream) {
  if (stream.device != Device::diskFile) return;
  if (platform::GetFileType(stream.handle) != platform::FILE_TYPE_CHAR) {
    platform::CloseHandle(stream.handle);
  }
  stream.handle = platform::INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------
// Shared preparations
// ---------------------------------------------------------------------------

// The start of ReadChar, ReadString and SkipLine. False when the operation
// ends here.
bool PrepareRead(TextStream& stream) {
  if (pendingIoCode != 0) return false;
  if (stream.state == StreamState::writing) {
    pendingIoCode = codeNotOpenForReading;
    return false;
  }
  if (stream.state != StreamState::reading) {
    pendingIoCode = codeNotOpen;
    return false;
  }
  if (stream.bufIndex >= stream.bufCount) Refill(stream);
  return true;
}

bool PrepareWrite(TextStream& stream) {
  if (pendingIoCode != 0) return false;
  if (stream.state == StreamState::reading) {
    pendingIoCode = codeNotOpenForWriting;
    return false;
  }
  if (stream.state != StreamState::writing) {
    pendingIoCode = codeNotOpen;
    return false;
  }
  return true;
}

// Puts bytes into a write stream, writing out each time the buffer fills.
void PutBytes(TextStream& stream, const std::uint8_t* bytes,
              std::uint32_t count) {
  while (count > streamBufferSize - stream.bufIndex) {
    std::uint32_t room = streamBufferSize - stream.bufIndex;
    std::memcpy(stream.buffer + stream.bufIndex, bytes, room);
    stream.bufIndex = streamBufferSize;
    bytes += room;
    count -= room;
    WriteOut(stream);
  }
  std::memcpy(stream.buffer + stream.bufIndex, bytes, count);
  stream.bufIndex += count;
}

void PutSpaces(TextStream& stream, std::int32_t count) {
  static const std::uint8_t spaces[32] = {
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  while (count > 0) {
    std::uint32_t piece = count < 32 ? static_cast<std::uint32_t>(count) : 32;
    PutBytes(stream, spaces, piece);
    count -= static_cast<std::int32_t>(piece);
  }
}

void PutText(TextStream& stream, std::string_view text, std::int32_t width) {
  if (width > static_cast<std::int32_t>(text.size())) {
    PutSpaces(stream, width - static_cast<std::int32_t>(text.size()));
  }
  PutBytes(stream, reinterpret_cast<const std::uint8_t*>(text.data()),
           static_cast<std::uint32_t>(text.size()));
}

}  // namespace

// ---------------------------------------------------------------------------
// Binding and opening
// ---------------------------------------------------------------------------

void BindStream(TextStream& stream, const ShortText& fileName) {
  std::memset(&stream, 0, sizeof stream);
  stream.state = StreamState::closed;
  stream.handle = platform::INVALID_HANDLE_VALUE;
  stream.device = Device::diskFile;
  stream.newline[0] = 13;
  stream.newline[1] = 10;
  stream.name = fileName;
}

void OpenForReading(TextStream& stream) {
  if (pendingIoCode != 0) return;
  if (stream.state == StreamState::reading ||
      stream.state == StreamState::writing) {
    CloseStream(stream);
  } else if (stream.state == StreamState::unbound) {
    pendingIoCode = codeNeverBound;
    return;
  }
  stream.state = StreamState::reading;
  stream.bufIndex = 0;
  stream.bufCount = 0;

  for (std::uint32_t i = 0; i < stream.name.length; ++i) {
    if (stream.name.bytes[i] == '/') stream.name.bytes[i] = '\\';
  }

  if (stream.name.Empty()) {
    stream.handle = standardInputHandle;
    return;
  }
  char path[ShortText::capacity + 1];
  std::memcpy(path, stream.name.bytes, stream.name.length);
  path[stream.name.length] = 0;
  platform::SecurityAttributes security{12, nullptr, true};
  stream.handle = platform::CreateFileA(
      path, platform::GENERIC_READ, 0, &security, platform::OPEN_EXISTING,
      platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream.handle == platform::INVALID_HANDLE_VALUE) {
    SetPendingFromLastError();
    stream.state = StreamState::closed;
  }
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

bool AtEnd(TextStream& stream) {
  if (pendingIoCode != 0) return true;
  if (stream.state == StreamState::writing) {
    pendingIoCode = codeNotOpenForReading;
    return true;
  }
  if (stream.state != StreamState::reading) {
    pendingIoCode = codeNotOpen;
    return true;
  }
  if (stream.bufIndex >= stream.bufCount) Refill(stream);
  if (stream.bufIndex >= stream.bufCount) return true;
  return stream.buffer[stream.bufIndex] == endOfDataByte;
}

std::uint8_t ReadChar(TextStream& stream) {
  if (!PrepareRead(stream)) return 0;
  if (stream.bufIndex < stream.bufCount) {
    return stream.buffer[stream.bufIndex++];
  }
  return endOfDataByte;
}

ShortText ReadString(TextStream& stream, std::uint32_t max) {
  ShortText result{};
  if (!PrepareRead(stream)) return result;
  if (max > ShortText::capacity) max = ShortText::capacity;
  std::uint32_t count = 0;
  while (count < max) {
    if (stream.bufIndex >= stream.bufCount) {
      Refill(stream);
      if (stream.bufIndex >= stream.bufCount) break;
    }
    std::uint32_t start = stream.bufIndex;
    std::uint32_t limit = stream.bufCount - start;
    if (limit > max - count) limit = max - count;
    std::uint32_t scanned = 0;
    bool stopped = false;
    while (scanned < limit) {
      std::uint8_t b = stream.buffer[start + scanned];
      if (b == 10 || b == 13 || b == endOfDataByte) {
        stopped = true;
        break;
      }
      ++scanned;
    }
    std::memcpy(result.bytes + count, stream.buffer + start, scanned);
    count += scanned;
    stream.bufIndex += scanned;
    if (stopped) break;
  }
  result.length = static_cast<std::uint8_t>(count);
  return result;
}

void SkipLine(TextStream& stream) {
  if (!PrepareRead(stream)) return;
  if (stream.bufIndex >= stream.bufCount) return;
  if (stream.buffer[stream.bufIndex] == endOfDataByte) return;
  for (;;) {
    std::uint8_t b = stream.buffer[stream.bufIndex++];
    if (b == 10) return;
    if (stream.bufIndex >= stream.bufCount) {
      Refill(stream);
      if (stream.bufIndex >= stream.bufCount) return;
    }
    if (stream.buffer[stream.bufIndex] == endOfDataByte) return;
    if (b == 13) {
      if (stream.buffer[stream.bufIndex] == 10) ++stream.bufIndex;
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

void WriteText(TextStream& stream, const ShortText& text, std::int32_t width) {
  if (!PrepareWrite(stream)) return;
  PutText(stream, text.View(), width);
}

void WriteNumber(TextStream& stream, std::uint32_t value, std::int32_t width) {
  if (pendingIoCode != 0) return;
  char digits[10];
  std::uint32_t count = 0;
  do {
    digits[sizeof digits - 1 - count] = static_cast<char>('0' + value % 10);
    value /= 10;
    ++count;
  } while (value != 0);
  if (!PrepareWrite(stream)) return;
  PutText(stream, std::string_view(digits + sizeof digits - count, count),
          width);
}

void WriteLine(TextStream& stream) {
  if (!PrepareWrite(stream)) return;
  PutBytes(stream, stream.newline, 2);
  PushStream(stream);
}

void PushStream(TextStream& stream) {
  switch (stream.device) {
    case Device::consoleOutput:
      WriteWindow(stream);
      break;
    case Device::standardHandle:
      if (stream.pushWritesOut) WriteOutToHandle(stream);
      break;
    case Device::diskFile:
    case Device::consoleInput:
      break;
  }
}

void FlushStream(TextStream& stream) {
  if (pendingIoCode != 0) return;
  switch (stream.state) {
    case StreamState::writing:
      WriteOut(stream);
      break;
    case StreamState::reading:
      pendingIoCode = codeNotOpenForWriting;
      break;
    case StreamState::closed:
    case StreamState::unbound:
      pendingIoCode = codeNotOpen;
      break;
  }
}

void CloseStream(TextStream& stream) {
  if (pendingIoCode != 0) return;
  if (stream.state != StreamState::reading &&
      stream.state != StreamState::writing) {
    pendingIoCode = codeNotOpen;
    return;
  }
  if (stream.state == StreamState::writing) WriteOut(stream);
  if (!IsStandardHandle(stream.handle)) CloseDevice(stream);
  stream.state = StreamState::closed;
  stream.bufIndex = 0;
  stream.bufCount = 0;
}

// ---------------------------------------------------------------------------
// Codes and CheckIo
// ---------------------------------------------------------------------------

std::uint16_t MapWindowsError(std::uint32_t windowsCode) {
  if (windowsCode >= 19 && windowsCode <= 31) {
    return static_cast<std::uint16_t>(windowsCode + 131);
  }
  if (windowsCode == 32 || windowsCode == 145 || windowsCode == 183) return 5;
  return static_cast<std::uint16_t>(windowsCode & 0xFFFF);
}

// The word at our own frame address is the saved frame link: the frame of
// the routine whose check failed.
__attribute__((noinline)) void StopForPendingIo() {
  std::uint16_t code = pendingIoCode;
  pendingIoCode = 0;
  void* callerFrame = *static_cast<void**>(__builtin_frame_address(0));
  StopWithRuntimeError(code, __builtin_return_address(0), callerFrame);
}

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

namespace {

void BindStandard(TextStream& stream, Handle handle, StreamState state) {
  BindStream(stream, ShortText{});
  stream.device = Device::standardHandle;
  stream.handle = handle;
  stream.state = state;
  if (state == StreamState::writing) {
    stream.pushWritesOut =
        platform::GetFileType(handle) == platform::FILE_TYPE_CHAR;
  }
}

}  // namespace

void BindStandardStreams() {
  standardInputHandle = platform::GetStdHandle(platform::STD_INPUT_HANDLE);
  standardOutputHandle = platform::GetStdHandle(platform::STD_OUTPUT_HANDLE);
  standardErrorHandle = platform::GetStdHandle(platform::STD_ERROR_HANDLE);

  BindStandard(ConsoleInput, standardInputHandle, StreamState::reading);
  BindStandard(ConsoleOutput, standardOutputHandle, StreamState::writing);
  BindStandard(DiagnosticOutput, standardErrorHandle, StreamState::writing);
  BindStandard(StandardOutput, standardOutputHandle, StreamState::writing);
  BindStandard(StandardError, standardErrorHandle, StreamState::writing);
}
