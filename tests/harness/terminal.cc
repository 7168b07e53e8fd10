#include "tests/harness/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

extern char** environ;

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

int ColorValue(const VTermColor& color, bool foreground) {
  if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&color)
                 : VTERM_COLOR_IS_DEFAULT_BG(&color)) {
    return defaultColor;
  }
  if (VTERM_COLOR_IS_INDEXED(&color)) return color.indexed.idx;
  return rgbFlag | (color.rgb.red << 16) | (color.rgb.green << 8) |
         color.rgb.blue;
}

// The environment of the child: the test's own, with `extra` entries added
// or replacing those of the same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  std::vector<std::string> additions = {"TERM=xterm-256color"};
  additions.insert(additions.end(), extra.begin(), extra.end());
  for (const std::string& entry : additions) {
    std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(entries, [&](const std::string& existing) {
      return existing.compare(0, name.size(), name) == 0;
    });
    entries.push_back(entry);
  }
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(const char* slavePath, const Options& options,
                            char* const* argv, char* const* envp,
                            int errorPipe) {
  auto fail = [&](const char* what) {
    int error = errno;
    (void)!write(errorPipe, what, std::strlen(what));
    (void)!write(errorPipe, ": ", 2);
    const char* text = strerror(error);
    (void)!write(errorPipe, text, std::strlen(text));
    _exit(127);
  };
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP,
                  SIGTTIN, SIGTTOU, SIGCHLD, SIGWINCH}) {
    signal(sig, SIG_DFL);
  }
  if (setsid() < 0) fail("setsid");
  int slave = open(slavePath, O_RDWR);
  if (slave < 0) fail("open terminal");
  if (ioctl(slave, TIOCSCTTY, 0) < 0) fail("TIOCSCTTY");

  switch (options.standardInput) {
    case Options::Input::terminal:
      if (dup2(slave, 0) < 0) fail("dup2 stdin");
      break;
    case Options::Input::file: {
      int in = open(options.standardInputFile.c_str(), O_RDONLY);
      if (in < 0) fail("open standard input file");
      if (dup2(in, 0) < 0) fail("dup2 stdin");
      if (in != 0) close(in);
      break;
    }
    case Options::Input::closed:
      close(0);
      break;
  }
  if (options.standardOutputFile.empty()) {
    if (dup2(slave, 1) < 0) fail("dup2 stdout");
  } else {
    int out = open(options.standardOutputFile.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) fail("open standard output file");
    if (dup2(out, 1) < 0) fail("dup2 stdout");
    if (out != 1) close(out);
  }
  if (dup2(slave, 2) < 0) fail("dup2 stderr");
  if (slave > 2) close(slave);
  if (options.standardInput == Options::Input::closed) close(0);

  if (!options.workingDirectory.empty() &&
      chdir(options.workingDirectory.c_str()) < 0) {
    fail("chdir");
  }
  execvpe(argv[0], argv, envp);
  fail("exec");
  _exit(127);
}

}  // namespace

Terminal::Terminal(const Options& options)
    : rows_(options.rows),
      columns_(options.columns),
      answerQueries_(options.answerQueries) {
  vterm_ = vterm_new(rows_, columns_);
  vterm_set_utf8(vterm_, 1);
  vterm_output_set_callback(vterm_, &Terminal::OnOutput, this);
  screen_ = vterm_obtain_screen(vterm_);
  static const VTermScreenCallbacks screenCallbacks = {
      nullptr,               // damage
      nullptr,               // moverect
      nullptr,               // movecursor
      &Terminal::OnTermProp,  // settermprop
      &Terminal::OnBell,      // bell
      nullptr,               // resize
      &Terminal::OnPushLine,  // sb_pushline
      nullptr,               // sb_popline
  };
  vterm_screen_set_callbacks(screen_, &screenCallbacks, this);
  static const VTermParserCallbacks fallbacks = {
      nullptr,                              // text
      &Terminal::OnUnrecognisedControl,     // control
      nullptr,                              // escape
      &Terminal::OnUnrecognisedCsi,         // csi
      &Terminal::OnUnrecognisedString,      // osc
      &Terminal::OnUnrecognisedString,      // dcs
      nullptr,                              // resize
  };
  vterm_screen_set_unrecognised_fallbacks(screen_, &fallbacks, this);
  vterm_screen_reset(screen_, 1);

  if (options.argv.empty()) {
    startError_ = "no program given";
    return;
  }
  startedMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
                   .count();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    startError_ = std::string("pseudo-terminal: ") + strerror(errno);
    return;
  }
  std::string slavePath = ptsname(master_);
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows_);
  size.ws_col = static_cast<unsigned short>(columns_);
  ioctl(master_, TIOCSWINSZ, &size);

  std::vector<std::string> arguments = options.argv;
  std::vector<std::string> environment = ChildEnvironment(options.environment);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);

  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    startError_ = std::string("pipe: ") + strerror(errno);
    return;
  }
  pid_t pid = fork();
  if (pid < 0) {
    startError_ = std::string("fork: ") + strerror(errno);
    close(errorPipe[0]);
    close(errorPipe[1]);
    return;
  }
  if (pid == 0) {
    close(errorPipe[0]);
    ExecChild(slavePath.c_str(), options, argv.data(), envp.data(),
              errorPipe[1]);
  }
  close(errorPipe[1]);
  // The pipe closes on a successful exec; otherwise it carries the reason.
  std::string failure;
  char chunk[256];
  for (;;) {
    ssize_t count = read(errorPipe[0], chunk, sizeof chunk);
    if (count > 0) {
      failure.append(chunk, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  close(errorPipe[0]);
  pid_ = pid;
  if (!failure.empty()) {
    startError_ = failure;
    Reap(true);
    pid_ = -1;
    return;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

Terminal::~Terminal() {
  if (pid_ > 0 && !reaped_) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    Reap(true);
  }
  if (pidFd_ >= 0) close(pidFd_);
  if (master_ >= 0) close(master_);
  vterm_free(vterm_);
}

// ---------------------------------------------------------------------------
// Emulator callbacks
// ---------------------------------------------------------------------------

void Terminal::OnOutput(const char* bytes, std::size_t length, void* user) {
  auto* self = static_cast<Terminal*>(user);
  if (self->capturing_) {
    self->captured_.append(bytes, length);
    return;
  }
  if (!self->answerQueries_) return;
  self->answerBytes_ += length;
  self->Note("answer " + std::to_string(length));
  self->WriteToProgram(std::string_view(bytes, length));
}

int Terminal::OnTermProp(VTermProp prop, VTermValue* value, void* user) {
  auto* self = static_cast<Terminal*>(user);
  if (prop == VTERM_PROP_TITLE) {
    self->title_ = value->string != nullptr ? value->string : "";
  } else if (prop == VTERM_PROP_CURSORVISIBLE) {
    self->cursorVisible_ = value->boolean != 0;
  }
  return 1;
}

int Terminal::OnBell(void* user) {
  ++static_cast<Terminal*>(user)->bells_;
  return 1;
}

int Terminal::OnPushLine(int, const VTermScreenCell*, void* user) {
  ++static_cast<Terminal*>(user)->linesScrolledOff_;
  return 1;
}

int Terminal::OnUnrecognisedControl(unsigned char, void* user) {
  ++static_cast<Terminal*>(user)->unrecognised_;
  return 1;
}

int Terminal::OnUnrecognisedCsi(const char*, const long[], int, const char*,
                                char, void* user) {
  ++static_cast<Terminal*>(user)->unrecognised_;
  return 1;
}

int Terminal::OnUnrecognisedString(const char*, std::size_t, void* user) {
  ++static_cast<Terminal*>(user)->unrecognised_;
  return 1;
}

// ---------------------------------------------------------------------------
// Input to the program
// ---------------------------------------------------------------------------

// Writes everything, waiting with a bound while the pseudo-terminal's input
// queue is full; meanwhile takes the program's output so that neither side
// blocks the other. Answers written from inside Feed do not pump again.
void Terminal::WriteToProgram(std::string_view bytes) {
  if (master_ < 0) return;
  Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(defaultTimeoutMs);
  static thread_local int depth = 0;
  ++depth;
  while (!bytes.empty()) {
    ssize_t count = write(master_, bytes.data(), bytes.size());
    if (count > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN) {
      Note(std::string("write failed: ") + strerror(errno));
      break;
    }
    int left = MillisecondsLeft(deadline);
    if (left == 0) break;
    pollfd fd{master_, static_cast<short>(POLLOUT | (depth == 1 ? POLLIN : 0)),
              0};
    if (poll(&fd, 1, left) > 0 && (fd.revents & POLLIN) != 0) {
      ReadAvailable();
    }
  }
  --depth;
}

void Terminal::Type(std::string_view bytes) { WriteToProgram(bytes); }

std::string Terminal::CapturedKey(VTermKey key) {
  capturing_ = true;
  captured_.clear();
  vterm_keyboard_key(vterm_, key, VTERM_MOD_NONE);
  capturing_ = false;
  return captured_;
}

void Terminal::PressKey(VTermKey key, VTermModifier modifiers) {
  capturing_ = true;
  captured_.clear();
  vterm_keyboard_key(vterm_, key, modifiers);
  capturing_ = false;
  Type(captured_);
}

void Terminal::TypeCharacter(std::uint32_t codePoint, VTermModifier modifiers) {
  capturing_ = true;
  captured_.clear();
  vterm_keyboard_unichar(vterm_, codePoint, modifiers);
  capturing_ = false;
  Type(captured_);
}

void Terminal::Resize(int rows, int columns) {
  rows_ = rows;
  columns_ = columns;
  vterm_set_size(vterm_, rows, columns);
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(columns);
  if (master_ >= 0) ioctl(master_, TIOCSWINSZ, &size);
}

bool Terminal::KeypadApplicationMode() {
  Pump(0);
  return CapturedKey(VTERM_KEY_KP_ENTER) == "\x1bOM";
}

bool Terminal::CursorKeysApplicationMode() {
  Pump(0);
  return CapturedKey(VTERM_KEY_UP) == "\x1bOA";
}

// ---------------------------------------------------------------------------
// Output of the program
// ---------------------------------------------------------------------------

void Terminal::Feed(const char* bytes, std::size_t length) {
  output_.append(bytes, length);
  vterm_input_write(vterm_, bytes, length);
  vterm_screen_flush_damage(screen_);
}

// Reads until nothing more is there. Returns true when bytes came.
bool Terminal::ReadAvailable() {
  if (master_ < 0 || masterClosed_) return false;
  bool any = false;
  char chunk[4096];
  for (;;) {
    ssize_t count = read(master_, chunk, sizeof chunk);
    if (count > 0) {
      ++readChunks_;
      any = true;
      Note("read " + std::to_string(count));
      Feed(chunk, static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    // EIO: every writer of the terminal has closed it, and all it wrote is
    // read.
    if (count == 0 || (count < 0 && errno == EIO)) {
      masterClosed_ = true;
      Note(count == 0 ? "terminal closed (end of data)"
                      : "terminal closed (EIO)");
    } else if (errno != EAGAIN) {
      Note(std::string("read failed: ") + strerror(errno));
    }
    break;
  }
  return any;
}

void Terminal::Note(const std::string& event) {
  constexpr std::size_t kept = 24;
  std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         Clock::now().time_since_epoch())
                         .count();
  if (events_.size() == kept) events_.erase(events_.begin());
  events_.push_back(std::to_string(now - startedMs_) + " " + event);
}

bool Terminal::Reap(bool block) {
  if (pid_ <= 0 || reaped_) return reaped_;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid_) {
    reaped_ = true;
    Note("program ended");
    if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
  }
  return reaped_;
}

void Terminal::Pump(int timeoutMs) {
  if (ReadAvailable() || timeoutMs <= 0) return;
  WaitFor([] { return false; }, timeoutMs);
}

bool Terminal::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs);
  ReadAvailable();
  Reap(false);
  for (;;) {
    if (condition()) return true;
    // Nothing can change any more once the program is gone and its
    // terminal drained.
    if (reaped_ && (masterClosed_ || master_ < 0)) return condition();
    int left = MillisecondsLeft(deadline);
    if (left == 0) return condition();
    pollfd fds[2];
    nfds_t count = 0;
    if (master_ >= 0 && !masterClosed_) fds[count++] = {master_, POLLIN, 0};
    bool watchExit = pidFd_ >= 0 && !reaped_;
    if (watchExit) fds[count++] = {pidFd_, POLLIN, 0};
    // Without a process descriptor the exit is noticed by looking again
    // every few milliseconds.
    int wait = (pidFd_ < 0 && !reaped_) ? std::min(left, 5) : left;
    if (count == 0) {
      if (reaped_) return condition();
      Reap(true);
      continue;
    }
    poll(fds, count, wait);
    ReadAvailable();
    Reap(false);
  }
}

bool Terminal::WaitForText(std::string_view text, int timeoutMs) {
  return WaitFor(
      [&] {
        for (int row = 0; row < rows_; ++row) {
          if (FullRow(row).find(text) != std::string::npos) return true;
        }
        return false;
      },
      timeoutMs);
}

bool Terminal::WaitForExit(int timeoutMs) {
  Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!WaitFor([&] { return reaped_; }, timeoutMs)) return false;
  // What the program wrote just before it ended is read up to the end of
  // the terminal; a descendant that still holds the terminal open bounds
  // this wait.
  WaitFor([&] { return masterClosed_; },
          std::min(MillisecondsLeft(deadline), 500));
  return true;
}

bool Terminal::Running() {
  ReadAvailable();
  Reap(false);
  return pid_ > 0 && !reaped_;
}

// ---------------------------------------------------------------------------
// The screen
// ---------------------------------------------------------------------------

Cell Terminal::CellAt(int row, int column) const {
  VTermScreenCell cell{};
  vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
  Cell result;
  for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
    AppendUtf8(result.text, cell.chars[i]);
  }
  result.width = cell.width;
  result.foreground = ColorValue(cell.fg, true);
  result.background = ColorValue(cell.bg, false);
  result.bold = cell.attrs.bold != 0;
  result.underline = cell.attrs.underline != 0;
  result.reverse = cell.attrs.reverse != 0;
  return result;
}

std::string Terminal::Row(int row) const {
  std::string text = FullRow(row);
  std::size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string Terminal::FullRow(int row) const {
  std::string text;
  for (int column = 0; column < columns_;) {
    Cell cell = CellAt(row, column);
    text += cell.text.empty() ? " " : cell.text;
    column += cell.width > 0 ? cell.width : 1;
  }
  return text;
}

std::string Terminal::Screen() const {
  std::string text;
  for (int row = 0; row < rows_; ++row) {
    text += Row(row);
    text += '\n';
  }
  return text;
}

bool Terminal::EchoOn() const {
  termios mode{};
  return master_ >= 0 && tcgetattr(master_, &mode) == 0 &&
         (mode.c_lflag & ECHO) != 0;
}

bool Terminal::CanonicalOn() const {
  termios mode{};
  return master_ >= 0 && tcgetattr(master_, &mode) == 0 &&
         (mode.c_lflag & ICANON) != 0;
}

Position Terminal::Cursor() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &pos);
  return Position{pos.row, pos.col};
}

std::string Terminal::Describe() const {
  std::string text = "screen " + std::to_string(rows_) + "x" +
                     std::to_string(columns_) + ":\n";
  for (int row = 0; row < rows_; ++row) {
    text += "  |" + Row(row) + "\n";
  }
  Position cursor = Cursor();
  text += "cursor row " + std::to_string(cursor.row) + " column " +
          std::to_string(cursor.column) + "\n";
  if (!startError_.empty()) text += "start error: " + startError_ + "\n";
  if (reaped_) {
    text += termSignal_ != 0 ? "killed by signal " + std::to_string(termSignal_)
                             : "exit code " + std::to_string(exitCode_);
    text += "\n";
  } else {
    text += "still running\n";
  }
  text += std::to_string(output_.size()) + " bytes received in " +
          std::to_string(readChunks_) + " reads\n";
  if (!events_.empty()) {
    text += "last events (ms since start):";
    for (const std::string& event : events_) text += "\n  " + event;
    text += "\n";
  }
  return text;
}

}  // namespace harness
