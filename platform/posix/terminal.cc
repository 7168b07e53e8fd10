// The terminal behind the standard output: the console's screen and its
// painting, the terminal's modes, its key bytes and the cursor report.
//
// The console exists when the standard output is a terminal. It starts on
// the first console call: the screen buffer takes the terminal's size, and
// the terminal goes into the console's mode (no echo, non-canonical, so
// that typed keys neither land on the screen behind the renderer's back nor
// wait for a line end). Application keypad mode is added the first time
// keys are read. Both are left before anything else writes to the terminal
// and at every way out, and the console takes the terminal again lazily,
// at its next call.
//
// When something else has written to the terminal, the layer knows neither
// its cells nor its cursor. The cursor it asks for (a cursor-position
// report) when a call needs it. A terminal that does not answer within
// reportWaitMs is taken to have its cursor at the left edge of its bottom
// row, where output that ended with a line end leaves it, and is not asked
// again; the next paint moves the cursor there, so that the assumption
// holds, and a late answer is dropped from the key bytes.
//
// Signals: SIGINT, SIGTERM, SIGHUP and SIGQUIT restore the terminal's mode
// and then end the process by the same signal; SIGTSTP restores it before
// the stop, and after a continue the console takes the terminal again and
// paints every cell it knows anew; SIGWINCH makes the next paint show the
// buffer on the terminal's new size. A signal that was ignored or handled
// when the console started is left as it was.
#include "platform/posix/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/handles.h"
#include "platform/posix/vt_renderer.h"

namespace platform::posix {

std::uint32_t consoleOutputCodePage = 437;

namespace {

// How long the layer waits for a cursor-position report.
constexpr int reportWaitMs = 500;
// How old a change may get before it is painted without a paint point.
constexpr long paintDelayNs = 10 * 1000 * 1000;
// How many console calls pass between two looks at the clock: a
// single-cell call costs a few nanoseconds, a look at the clock several
// times that, and 64 calls still come well inside a millisecond.
constexpr unsigned callsPerClockCheck = 64;
// Size taken when the terminal reports none.
constexpr int fallbackColumns = 80;
constexpr int fallbackRows = 24;
constexpr int maxSide = 1024;

// ---------------------------------------------------------------------------
// The process-wide record of the terminal
// ---------------------------------------------------------------------------

struct TerminalRecord {
  bool looked = false;   // the standard output has been looked at
  bool present = false;  // ... and is a terminal: the console exists
  dev_t device = 0;      // the terminal's device
  int inputFd = -1;      // where the terminal's bytes are read
  termios original{};

  ScreenBuffer screen;
  TerminalImage image;
  std::string paintBytes;

  bool keyMode = false;  // keys are being read: keypad mode wanted

  // Bytes that came while the layer waited for a cursor report.
  std::uint8_t typedAhead[4096];
  int typedAheadStart = 0;
  int typedAheadLength = 0;
  ReportScanner scanner;
  int reportsOutstanding = 0;
  bool silent = false;  // the terminal did not answer a report

  bool changePending = false;
  timespec changedSince{};
  unsigned callsSinceClock = 0;
};

TerminalRecord Terminal;

// What signal handlers read and change.
volatile sig_atomic_t consoleModeOn = 0;
volatile sig_atomic_t keypadOn = 0;
volatile sig_atomic_t resized = 0;
volatile sig_atomic_t resumed = 0;
termios originalMode;  // a copy for the handlers

// ---------------------------------------------------------------------------
// Start and modes
// ---------------------------------------------------------------------------

long NanosecondsSince(const timespec& then) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - then.tv_sec) * 1000000000L +
         (now.tv_nsec - then.tv_nsec);
}

void TerminalSize(int* columns, int* rows) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 ||
      size.ws_row == 0) {
    *columns = fallbackColumns;
    *rows = fallbackRows;
    return;
  }
  // A size beyond any real terminal is taken as its largest sensible part.
  *columns = size.ws_col < maxSide ? size.ws_col : maxSide;
  *rows = size.ws_row < maxSide ? size.ws_row : maxSide;
}

// Writes every byte; a terminal left non-blocking by someone who shares it
// is waited for. A terminal that is gone takes nothing: the console calls
// report no failure.
void WriteAll(const char* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t count = write(STDOUT_FILENO, bytes, length);
    if (count < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        if (poll(&output, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return;
    }
    bytes += count;
    length -= static_cast<std::size_t>(count);
  }
}

void OnTerminatingSignal(int signalNumber) {
  int savedErrno = errno;
  RestoreTerminalMode();
  // The handler was reset on entry: the process dies by the signal.
  raise(signalNumber);
  errno = savedErrno;
}

void OnStopSignal(int) {
  int savedErrno = errno;
  RestoreTerminalMode();
  struct sigaction stop{};
  stop.sa_handler = SIG_DFL;
  sigaction(SIGTSTP, &stop, nullptr);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  raise(SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  // Continued: the console takes the terminal again at its next call.
  struct sigaction again{};
  again.sa_handler = OnStopSignal;
  again.sa_flags = SA_RESTART;
  sigaction(SIGTSTP, &again, nullptr);
  resumed = 1;
  errno = savedErrno;
}

void OnResize(int) { resized = 1; }

// Installs `handler` for `signalNumber` unless the signal is ignored or
// already handled by someone else.
void HandleSignal(int signalNumber, void (*handler)(int), int flags) {
  struct sigaction old{};
  if (sigaction(signalNumber, nullptr, &old) != 0) return;
  if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO) != 0) return;
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(signalNumber, &action, nullptr);
}

void InstallSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    HandleSignal(signalNumber, OnTerminatingSignal, SA_RESETHAND | SA_NODEFER);
  }
  HandleSignal(SIGTSTP, OnStopSignal, SA_RESTART);
  HandleSignal(SIGWINCH, OnResize, SA_RESTART);
}

bool SameTerminal(int fd, dev_t device) {
  struct stat info;
  return isatty(fd) && fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
         info.st_rdev == device;
}

// Looks at the standard output once; starts the console when it is a
// terminal.
bool StartTerminal() {
  TerminalRecord& t = Terminal;
  if (t.looked) return t.present;
  t.looked = true;
  struct stat info;
  if (!isatty(STDOUT_FILENO) || fstat(STDOUT_FILENO, &info) != 0 ||
      tcgetattr(STDOUT_FILENO, &t.original) != 0) {
    return false;
  }
  t.present = true;
  t.device = info.st_rdev;
  originalMode = t.original;
  if (SameTerminal(STDIN_FILENO, t.device)) {
    t.inputFd = STDIN_FILENO;
  } else {
    // The reports come on the terminal's input, which is not the standard
    // input: read them from the terminal itself.
    const char* name = ttyname(STDOUT_FILENO);
    t.inputFd = name != nullptr
                    ? open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)
                    : -1;
  }
  int columns;
  int rows;
  TerminalSize(&columns, &rows);
  ResetScreen(t.screen, columns, rows);
  ResetImage(t.image, t.screen, columns, rows);
  t.image.lineFeedReturns = (t.original.c_oflag & OPOST) != 0 &&
                            (t.original.c_oflag & ONLCR) != 0;
  InstallSignalHandlers();
  return true;
}

// The console's mode: no echo, no line editing, no flow control, CR as
// typed; signals stay on so that Ctrl+C still ends the process.
void EnterConsoleMode() {
  if (consoleModeOn) return;
  termios mode = Terminal.original;
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (tcsetattr(STDOUT_FILENO, TCSANOW, &mode) == 0) consoleModeOn = 1;
}

// Picks up what the signal handlers noted: a new terminal size, or a stop
// after which the shell wrote to the terminal.
void TakeSignalNotes() {
  TerminalRecord& t = Terminal;
  if (resized) {
    resized = 0;
    int columns;
    int rows;
    TerminalSize(&columns, &rows);
    if (columns != t.image.columns || rows != t.image.rows) {
      t.image.columns = columns;
      t.image.rows = rows;
      ForgetImage(t.image);
      t.screen.changed = true;
    }
  }
  if (resumed) {
    resumed = 0;
    t.keyMode = false;
    ForgetImage(t.image);
    t.screen.changed = true;
  }
}

// ---------------------------------------------------------------------------
// Cursor report and typed-ahead bytes
// ---------------------------------------------------------------------------

void KeepTypedAhead(const std::uint8_t* bytes, int length) {
  TerminalRecord& t = Terminal;
  int capacity = static_cast<int>(sizeof t.typedAhead);
  if (t.typedAheadStart > 0) {
    std::memmove(t.typedAhead, t.typedAhead + t.typedAheadStart,
                 static_cast<std::size_t>(t.typedAheadLength));
    t.typedAheadStart = 0;
  }
  int room = capacity - t.typedAheadLength;
  if (length > room) length = room;
  std::memcpy(t.typedAhead + t.typedAheadLength, bytes,
              static_cast<std::size_t>(length));
  t.typedAheadLength += length;
}

// Takes a report in terminal cells (1-based, as sent) as the cursor.
void TakeReport(int row, int column) {
  TerminalRecord& t = Terminal;
  int terminalRow = row - 1;
  int terminalColumn = column - 1;
  if (terminalRow < 0) terminalRow = 0;
  if (terminalColumn < 0) terminalColumn = 0;
  int bufferRow = terminalRow + t.image.viewTop;
  if (bufferRow >= t.screen.rows) bufferRow = t.screen.rows - 1;
  int bufferColumn = terminalColumn;
  if (bufferColumn >= t.screen.columns) bufferColumn = t.screen.columns - 1;
  t.screen.cursorKnown = true;
  t.screen.cursorRow = bufferRow;
  t.screen.cursorColumn = bufferColumn;
  // In the last column the terminal may be holding a wrap: only absolute
  // motion is sure from there.
  t.image.cursorKnown = terminalColumn < t.image.columns - 1;
  t.image.cursorRow = terminalRow;
  t.image.cursorColumn = terminalColumn;
  t.image.pendingWrap = false;
}

void AssumeCursor() {
  TerminalRecord& t = Terminal;
  t.screen.cursorKnown = true;
  t.screen.cursorRow = t.screen.rows - 1;
  t.screen.cursorColumn = 0;
  t.image.cursorKnown = false;
  t.screen.changed = true;
}

// Separates late reports from the key bytes in `bytes`; returns how many
// key bytes are left at its start.
int DropLateReports(std::uint8_t* bytes, int length) {
  TerminalRecord& t = Terminal;
  std::uint8_t keys[256];
  int keyLength = 0;
  int done = 0;
  for (int i = 0; i < length; ++i) {
    if (ScanReportByte(t.scanner, bytes[i], keys, sizeof keys, &keyLength) &&
        t.reportsOutstanding > 0) {
      --t.reportsOutstanding;
      t.silent = false;
    }
    if (keyLength == static_cast<int>(sizeof keys) || i == length - 1) {
      if (i == length - 1) {
        ReleaseHeldBytes(t.scanner, keys, sizeof keys, &keyLength);
      }
      std::memcpy(bytes + done, keys, static_cast<std::size_t>(keyLength));
      done += keyLength;
      keyLength = 0;
    }
  }
  return done;
}

}  // namespace

void LearnConsoleCursor() {
  TerminalRecord& t = Terminal;
  if (!t.present || t.screen.cursorKnown) return;
  if (t.silent || t.inputFd < 0) {
    AssumeCursor();
    return;
  }
  EnterConsoleMode();
  std::string query;
  AppendCursorPositionQuery(query);
  WriteAll(query.data(), query.size());
  ++t.reportsOutstanding;

  timespec asked;
  clock_gettime(CLOCK_MONOTONIC, &asked);
  std::uint8_t keys[sizeof t.typedAhead];
  int keyLength = 0;
  bool answered = false;
  while (!answered) {
    long leftMs = reportWaitMs - NanosecondsSince(asked) / 1000000L;
    if (leftMs <= 0) break;
    pollfd input{t.inputFd, POLLIN, 0};
    int ready = poll(&input, 1, static_cast<int>(leftMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    std::uint8_t chunk[256];
    ssize_t count = read(t.inputFd, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) break;
    for (ssize_t i = 0; i < count; ++i) {
      if (ScanReportByte(t.scanner, chunk[i], keys, sizeof keys, &keyLength) &&
          !answered) {
        answered = true;
        --t.reportsOutstanding;
        TakeReport(t.scanner.row, t.scanner.column);
      }
    }
  }
  ReleaseHeldBytes(t.scanner, keys, sizeof keys, &keyLength);
  KeepTypedAhead(keys, keyLength);
  if (!answered) {
    t.silent = true;
    AssumeCursor();
  }
}

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

namespace {

// Paints what changed, with `suffix` after it, in one write.
void PaintWith(const std::string& suffix) {
  TerminalRecord& t = Terminal;
  TakeSignalNotes();
  bool keypadWanted = t.keyMode && consoleModeOn;
  bool keypadChange = keypadWanted && !keypadOn;
  if (!t.screen.changed && !keypadChange && suffix.empty()) return;
  if (t.screen.changed && !t.screen.cursorKnown) LearnConsoleCursor();
  t.paintBytes.clear();
  if (keypadChange) {
    AppendKeypadApplicationMode(t.paintBytes);
    keypadOn = 1;
  }
  if (t.screen.changed) Paint(t.screen, t.image, t.paintBytes);
  t.paintBytes += suffix;
  t.changePending = false;
  WriteAll(t.paintBytes.data(), t.paintBytes.size());
}

}  // namespace

void PaintConsole() {
  if (!Terminal.present) return;
  PaintWith(std::string());
}

ScreenBuffer* ConsoleScreen(Handle console) {
  TerminalRecord& t = Terminal;
  if (!StartTerminal()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (console != StandardHandle(STDOUT_FILENO)) {
    HandleEntry* entry = LookUpHandle(console);
    if (entry == nullptr || entry->kind != HandleKind::file ||
        !SameTerminal(entry->fd, t.device)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  TakeSignalNotes();
  EnterConsoleMode();
  return &t.screen;
}

void ConsoleChanged() {
  TerminalRecord& t = Terminal;
  if (!t.screen.changed) return;
  if (!t.changePending) {
    t.changePending = true;
    t.callsSinceClock = 0;
    clock_gettime(CLOCK_MONOTONIC, &t.changedSince);
    return;
  }
  if (++t.callsSinceClock < callsPerClockCheck) return;
  t.callsSinceClock = 0;
  if (NanosecondsSince(t.changedSince) >= paintDelayNs) PaintConsole();
}

void BeginForeignOutput() {
  TerminalRecord& t = Terminal;
  if (!t.present) return;
  std::string suffix;
  if (keypadOn) AppendKeypadNumericMode(suffix);
  t.keyMode = false;  // so that the paint does not turn the keypad on
  PaintWith(suffix);
  keypadOn = 0;
  if (consoleModeOn) {
    tcsetattr(STDOUT_FILENO, TCSANOW, &t.original);
    consoleModeOn = 0;
  }
}

void EndForeignOutput() {
  TerminalRecord& t = Terminal;
  if (!t.present) return;
  ForgetScreen(t.screen);
  ForgetImage(t.image);
  t.changePending = false;
}

void RestoreTerminalMode() {
  if (keypadOn) {
    static const char numeric[] = "\x1b>";
    ssize_t ignored = write(STDOUT_FILENO, numeric, sizeof numeric - 1);
    (void)ignored;
    keypadOn = 0;
  }
  if (consoleModeOn) {
    tcsetattr(STDOUT_FILENO, TCSANOW, &originalMode);
    consoleModeOn = 0;
  }
}

// ---------------------------------------------------------------------------
// Key input
// ---------------------------------------------------------------------------

bool InputIsTerminal() {
  static int answer = -1;
  if (answer < 0) {
    answer = StartTerminal() && Terminal.inputFd == STDIN_FILENO ? 1 : 0;
  }
  return answer == 1;
}

int ReadTerminalInput(std::uint8_t* bytes, int max, int timeoutMs) {
  TerminalRecord& t = Terminal;
  if (!InputIsTerminal() || max <= 0) return -1;
  TakeSignalNotes();
  EnterConsoleMode();
  t.keyMode = true;
  PaintConsole();

  if (t.typedAheadLength > 0) {
    int count = t.typedAheadLength < max ? t.typedAheadLength : max;
    std::memcpy(bytes, t.typedAhead + t.typedAheadStart,
                static_cast<std::size_t>(count));
    t.typedAheadStart += count;
    t.typedAheadLength -= count;
    if (t.typedAheadLength == 0) t.typedAheadStart = 0;
    return count;
  }

  pollfd input{t.inputFd, POLLIN, 0};
  int ready = poll(&input, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  ssize_t count = read(t.inputFd, bytes, static_cast<std::size_t>(max));
  if (count < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  if (count == 0) return -1;
  int length = static_cast<int>(count);
  if (t.reportsOutstanding > 0) length = DropLateReports(bytes, length);
  return length;
}

}  // namespace platform::posix
