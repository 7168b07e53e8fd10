// Console input events from the terminal.
//
// The console's input is the terminal behind the standard input, when it is
// the terminal of the standard output too. Its bytes are decoded into the
// key events a Windows console would deliver and queued; the queue is what
// GetNumberOfConsoleInputEvents counts and ReadConsoleInputA takes from. Any
// other handle, and the standard input when it is no such terminal, is no
// console: both calls fail, as on Windows.
//
// The key reader polls every millisecond while it waits for a key, so a
// poll that finds nothing costs one read of the terminal and nothing more.
// The sleep between two such polls waits on the terminal's input instead:
// it ends at the first byte typed, so a key is taken at once, and while
// nothing is typed the process wakes twenty times a second rather than a
// thousand (see Sleep).
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "platform/posix/key_decoder.h"
#include "platform/posix/terminal.h"

namespace platform {
namespace {

// A process started with its standard input closed: descriptor 0 is free,
// and the next descriptor the process opens (the terminal, a catalogue
// file) would become its standard input. /dev/null takes it at start, so
// that reads of the standard input see the end of the data at once, as
// they fail on Windows when there is no standard input.
struct KeepStandardInputClosed {
  KeepStandardInputClosed() {
    if (fcntl(STDIN_FILENO, F_GETFD) == -1 && errno == EBADF) {
      int fd = open("/dev/null", O_RDONLY);
      if (fd > STDIN_FILENO) close(fd);
    }
  }
} keepStandardInputClosed;

// How long an ESC waits for the rest of an escape sequence before it is
// taken as the Esc key (or as Alt with what follows). A terminal sends a
// sequence in one write, so its bytes come together; a person cannot type
// ESC and the next key this close together.
constexpr int escapeWaitMs = 50;

// Bytes read and not decoded yet: an unfinished sequence, or what did not
// fit in the event queue.
std::uint8_t pendingBytes[256];
int pendingByteCount;

// How long a sleep of the key reader waits for the terminal's input at
// most: a bound, in case anything but a byte on the input should make a
// poll worth while.
constexpr int keyWaitMs = 50;

// The last event count found the console's queue empty: the key reader is
// waiting for a key, and its next sleep may wait on the input.
bool awaitingKey;

// Decoded events, oldest first.
constexpr int eventCapacity = 64;
InputRecord events[eventCapacity];
int eventCount;

bool IsConsoleInput(Handle handle) {
  static const bool inputIsTerminal = posix::InputIsTerminal();
  return inputIsTerminal && handle == posix::StandardHandle(0);
}

// Decodes pending bytes while the queue has room for a key's events. With
// `complete`, an unfinished sequence at the end is taken as it stands.
void DecodePendingBytes(bool complete) {
  int start = 0;
  while (start < pendingByteCount &&
         eventCount + posix::maxKeyEvents <= eventCapacity) {
    posix::DecodedInput decoded = posix::DecodeTerminalInput(
        pendingBytes + start, pendingByteCount - start, complete);
    if (decoded.consumed == 0) break;
    std::memcpy(events + eventCount, decoded.events,
                sizeof(InputRecord) * static_cast<std::size_t>(decoded.eventCount));
    eventCount += decoded.eventCount;
    start += decoded.consumed;
  }
  pendingByteCount -= start;
  std::memmove(pendingBytes, pendingBytes + start,
               static_cast<std::size_t>(pendingByteCount));
}

// Appends what the terminal has, waiting at most `timeoutMs`. False when
// the terminal is at its end or unusable.
bool ReadMoreBytes(int timeoutMs, int* received) {
  *received = 0;
  int room = static_cast<int>(sizeof pendingBytes) - pendingByteCount;
  if (room == 0) return true;
  int count =
      posix::ReadTerminalInput(pendingBytes + pendingByteCount, room, timeoutMs);
  if (count < 0) return false;
  pendingByteCount += count;
  *received = count;
  return true;
}

// Reads and decodes what the terminal has, waiting at most `timeoutMs` for
// the first bytes. When all that is left is the start of an escape sequence
// (or of a UTF-8 character), waits a short while for its rest, and takes it
// as it stands if none comes. False when the terminal is gone and nothing
// is queued.
bool FillEventQueue(int timeoutMs) {
  int received = 0;
  bool alive = ReadMoreBytes(timeoutMs, &received);
  DecodePendingBytes(false);
  while (alive && eventCount == 0 && pendingByteCount > 0) {
    alive = ReadMoreBytes(escapeWaitMs, &received);
    DecodePendingBytes(!alive || received == 0);
  }
  if (!alive) DecodePendingBytes(true);
  return alive || eventCount > 0;
}

}  // namespace

bool GetNumberOfConsoleInputEvents(Handle console, std::uint32_t* count) {
  *count = 0;
  if (!IsConsoleInput(console)) {
    posix::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (eventCount == 0 && !FillEventQueue(0)) {
    posix::SetLastError(ERROR_BROKEN_PIPE);
    return false;
  }
  *count = static_cast<std::uint32_t>(eventCount);
  awaitingKey = eventCount == 0;
  return true;
}

// Waits until at least one event is there, as on Windows.
bool ReadConsoleInputA(Handle console, InputRecord* records,
                       std::uint32_t length, std::uint32_t* read) {
  *read = 0;
  if (!IsConsoleInput(console)) {
    posix::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  while (eventCount == 0) {
    if (!FillEventQueue(1000)) {
      posix::SetLastError(ERROR_BROKEN_PIPE);
      return false;
    }
  }
  int taken = static_cast<int>(length) < eventCount ? static_cast<int>(length)
                                                    : eventCount;
  std::memcpy(records, events, sizeof(InputRecord) * static_cast<std::size_t>(taken));
  eventCount -= taken;
  std::memmove(events, events + taken,
               sizeof(InputRecord) * static_cast<std::size_t>(eventCount));
  *read = static_cast<std::uint32_t>(taken);
  return true;
}

// A sleep right after an empty event count is the key reader's wait for
// a key: it waits on the terminal's input for keyWaitMs (or `milliseconds`
// when longer) and ends as soon as a byte arrives, which stays queued for
// the next count. Every other sleep lasts its time.
void Sleep(std::uint32_t milliseconds) {
  if (awaitingKey) {
    awaitingKey = false;
    int wait = milliseconds > keyWaitMs ? static_cast<int>(milliseconds)
                                        : keyWaitMs;
    int received = 0;
    if (ReadMoreBytes(wait, &received)) return;
  }
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

}  // namespace platform
