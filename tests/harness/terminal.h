// A real terminal for screen tests.
//
// Starts a program in a pseudo-terminal of a chosen size and puts a real
// terminal emulator (libvterm) behind it: everything the program writes is
// fed to the emulator, and whatever the emulator answers (cursor-position
// reports, device attributes) is written back to the program, as a
// terminal does. A test types keys, waits with a bound until the screen
// shows what it expects, and reads rows, cells, the cursor, the title, the
// key modes and the exit status.
//
// Usage:
//
//   harness::Options options;
//   options.argv = {CATALOGO_PATH};          // or {"wine", "catalogo.exe"}
//   options.rows = 6;
//   options.columns = 20;
//   harness::Terminal terminal(options);
//   ASSERT_TRUE(terminal.Started()) << terminal.StartError();
//   ASSERT_TRUE(terminal.WaitForText("> ")) << terminal.Describe();
//   terminal.Type("2\r");
//   ASSERT_TRUE(terminal.WaitForExit());
//   EXPECT_EQ(terminal.ExitCode(), 0);
//   EXPECT_EQ(terminal.Row(0), "1 para descargar x");
//   EXPECT_EQ(terminal.Cursor(), (harness::Position{1, 0}));
//
// Every wait polls the pseudo-terminal and gives up at its bound; nothing
// sleeps. Rows and columns are 0-based. The program runs in a session of
// its own with the pseudo-terminal as its controlling terminal; the
// destructor kills what is still running of it.
#pragma once

#include <sys/types.h>
#include <vterm.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

// Long enough for a loaded CI machine, short enough that a hang fails fast.
constexpr int defaultTimeoutMs = 10000;

struct Options {
  // The program and its arguments; argv[0] is searched in PATH when it has
  // no slash.
  std::vector<std::string> argv;
  int rows = 6;
  int columns = 20;
  // Empty: the test's own working directory.
  std::string workingDirectory;
  // NAME=value entries added to (or replacing in) the test's environment.
  // TERM is xterm-256color unless given here.
  std::vector<std::string> environment;
  // Non-empty: the standard output goes to this file (created or
  // truncated) instead of the terminal; standard error stays on it.
  std::string standardOutputFile;
  enum class Input { terminal, file, closed };
  Input standardInput = Input::terminal;
  std::string standardInputFile;  // for Input::file
  // False: a terminal that never answers queries.
  bool answerQueries = true;
};

// A colour as the emulator holds it: defaultColor, an index 0-255 into the
// palette (0-7 the normal colours, 8-15 the bright ones), or rgbFlag | RGB.
constexpr int defaultColor = -1;
constexpr int rgbFlag = 0x1000000;

struct Cell {
  std::string text;  // UTF-8; "" for an empty cell
  int width = 1;
  int foreground = defaultColor;
  int background = defaultColor;
  bool bold = false;
  bool underline = false;
  bool reverse = false;
};

struct Position {
  int row;
  int column;
  bool operator==(const Position&) const = default;
};

class Terminal {
 public:
  explicit Terminal(const Options& options);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Started() const { return pid_ > 0; }
  const std::string& StartError() const { return startError_; }
  pid_t Pid() const { return pid_; }

  // Bytes as the user's keyboard sends them, straight into the terminal.
  void Type(std::string_view bytes);
  // A key or character encoded by the emulator in its current modes (the
  // keypad and cursor-key modes that the program set).
  void PressKey(VTermKey key, VTermModifier modifiers = VTERM_MOD_NONE);
  void TypeCharacter(std::uint32_t codePoint,
                     VTermModifier modifiers = VTERM_MOD_NONE);
  // Changes the terminal's size, as a user dragging the window (SIGWINCH).
  void Resize(int rows, int columns);

  // Takes what the program wrote, waiting at most timeoutMs for the first
  // bytes (0: only what is there).
  void Pump(int timeoutMs = 0);
  // Pumps until condition() holds or timeoutMs has passed; the result is
  // condition() at the end.
  bool WaitFor(const std::function<bool()>& condition,
               int timeoutMs = defaultTimeoutMs);
  // Waits until a row holds `text` (trailing blanks of the row included).
  bool WaitForText(std::string_view text, int timeoutMs = defaultTimeoutMs);
  // Waits until the program has ended and everything it wrote is read.
  bool WaitForExit(int timeoutMs = defaultTimeoutMs);
  bool Running();

  int ExitCode() const { return exitCode_; }        // -1 unless it exited
  int TermSignal() const { return termSignal_; }    // 0 unless killed

  // Row text in UTF-8, with trailing blanks dropped; an empty cell reads
  // as a space.
  std::string Row(int row) const;
  // The same with its trailing blanks.
  std::string FullRow(int row) const;
  // Every row, each followed by '\n'.
  std::string Screen() const;
  Cell CellAt(int row, int column) const;
  Position Cursor() const;
  std::string Title() const { return title_; }
  bool CursorVisible() const { return cursorVisible_; }
  // Application keypad mode (DECKPAM) and cursor-key mode (DECCKM), read by
  // how the emulator would encode keypad Enter and Up.
  bool KeypadApplicationMode();
  bool CursorKeysApplicationMode();
  // The pseudo-terminal's line discipline as the program left it: echo of
  // typed bytes, and line editing (canonical mode).
  bool EchoOn() const;
  bool CanonicalOn() const;
  int Rows() const { return rows_; }
  int Columns() const { return columns_; }

  // Counters of what came from the program.
  std::uint64_t BytesReceived() const { return output_.size(); }
  std::uint64_t ReadChunks() const { return readChunks_; }
  // Bytes the emulator sent back (answers to queries).
  std::uint64_t AnswerBytes() const { return answerBytes_; }
  // Lines pushed off the top of the screen by scrolling.
  int LinesScrolledOff() const { return linesScrolledOff_; }
  // Control sequences the emulator did not recognise.
  int UnrecognisedSequences() const { return unrecognised_; }
  int Bells() const { return bells_; }
  // Every byte received, in order: for diagnostics, not for assertions.
  const std::string& Output() const { return output_; }

  // The screen with the cursor and exit state, for failure messages.
  std::string Describe() const;

 private:
  static void OnOutput(const char* bytes, std::size_t length, void* user);
  static int OnTermProp(VTermProp prop, VTermValue* value, void* user);
  static int OnBell(void* user);
  static int OnPushLine(int columns, const VTermScreenCell* cells, void* user);
  static int OnUnrecognisedControl(unsigned char control, void* user);
  static int OnUnrecognisedCsi(const char* leader, const long args[],
                               int count, const char* intermediates,
                               char command, void* user);
  static int OnUnrecognisedString(const char* command, std::size_t length,
                                  void* user);

  bool ReadAvailable();
  void Feed(const char* bytes, std::size_t length);
  void WriteToProgram(std::string_view bytes);
  bool Reap(bool block);
  std::string CapturedKey(VTermKey key);
  // Notes an event of the exchange with the program, for Describe().
  void Note(const std::string& event);

  int rows_;
  int columns_;
  bool answerQueries_;
  VTerm* vterm_ = nullptr;
  VTermScreen* screen_ = nullptr;
  int master_ = -1;
  int pidFd_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  bool masterClosed_ = false;
  int exitCode_ = -1;
  int termSignal_ = 0;
  std::string startError_;
  std::string output_;
  // What passed between the harness and the program, with the
  // milliseconds since the start: reads, answers, the end of the terminal
  // and of the program. The last entries are kept.
  std::vector<std::string> events_;
  std::int64_t startedMs_ = 0;
  std::uint64_t readChunks_ = 0;
  std::uint64_t answerBytes_ = 0;
  int linesScrolledOff_ = 0;
  int unrecognised_ = 0;
  int bells_ = 0;
  std::string title_;
  bool cursorVisible_ = true;
  bool capturing_ = false;
  std::string captured_;
};

}  // namespace harness
