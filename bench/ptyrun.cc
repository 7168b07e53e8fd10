// Runs one command in a pseudo-terminal of 80x25 with libvterm behind it,
// until the screen shows the prompt "> ", and measures the command's own
// process there:
//
//   ptyrun [--dir DIR] [--idle SECONDS] [--finish TEXT] [--timeout SECONDS]
//          -- COMMAND [ARGUMENT...]
//
// Prints key=value lines on the standard output:
//   terminal_bytes, terminal_chunks  what reached the terminal up to the
//                                    prompt (the command and its children)
//   cursor_queries                   ESC [ 6 n among those bytes
//   cpu_to_prompt_us                 the process's own CPU time (all its
//                                    threads, not its children) at the prompt
//   idle_cpu_us                      its CPU time during --idle seconds at
//                                    the prompt
//   peak_rss_kb                      its peak resident set
//   whole_run_cpu_us                 with --finish: TEXT is typed at the
//                                    prompt, and this is its user plus
//                                    system time once it has ended
// Without --finish the process group is killed after the measurement.
// libvterm answers the terminal's queries (cursor position, attributes) as
// a terminal would. Exit status 1 when the prompt does not show in time,
// with the screen on the standard error.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vterm.h>

namespace {

constexpr int rows = 25;
constexpr int columns = 80;

struct Options {
  const char* directory = nullptr;
  double idleSeconds = 0;
  const char* finish = nullptr;
  double timeoutSeconds = 60;
  char** command = nullptr;
};

struct Session {
  int master = -1;
  pid_t child = -1;
  VTerm* terminal = nullptr;
  VTermScreen* screen = nullptr;
  std::uint64_t bytes = 0;
  std::uint64_t chunks = 0;
  std::uint64_t cursorQueries = 0;
  std::string queryTail;  // the end of the last chunk, for a split query
  bool ended = false;     // every writer to the terminal has gone
};

[[noreturn]] void Die(const char* what) {
  fprintf(stderr, "ptyrun: %s: %s\n", what, strerror(errno));
  exit(2);
}

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) break;
    if (option == "--dir") {
      options.directory = argv[++i];
    } else if (option == "--idle") {
      options.idleSeconds = atof(argv[++i]);
    } else if (option == "--finish") {
      options.finish = argv[++i];
    } else if (option == "--timeout") {
      options.timeoutSeconds = atof(argv[++i]);
    } else {
      break;
    }
  }
  if (i >= argc) {
    fprintf(stderr,
            "usage: ptyrun [--dir DIR] [--idle SECONDS] [--finish TEXT] "
            "[--timeout SECONDS] -- COMMAND [ARGUMENT...]\n");
    exit(2);
  }
  options.command = argv + i;
  return options;
}

// ---------------------------------------------------------------------------
// The command in its terminal
// ---------------------------------------------------------------------------

void Start(Session& session, const Options& options) {
  winsize size{};
  size.ws_row = rows;
  size.ws_col = columns;
  int slave;
  if (openpty(&session.master, &slave, nullptr, nullptr, &size) != 0) Die("openpty");
  session.child = fork();
  if (session.child < 0) Die("fork");
  if (session.child == 0) {
    setsid();
    if (ioctl(slave, TIOCSCTTY, 0) != 0) Die("TIOCSCTTY");
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    close(session.master);
    if (options.directory != nullptr && chdir(options.directory) != 0) Die("chdir");
    setenv("TERM", "xterm", 1);
    execvp(options.command[0], options.command);
    Die(options.command[0]);
  }
  close(slave);

  session.terminal = vterm_new(rows, columns);
  vterm_set_utf8(session.terminal, 1);
  session.screen = vterm_obtain_screen(session.terminal);
  vterm_screen_reset(session.screen, 1);
}

void WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t done = write(fd, bytes, count);
    if (done < 0) {
      if (errno == EINTR) continue;
      return;  // the terminal is gone; nothing left to answer
    }
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
}

void CountCursorQueries(Session& session, const char* bytes, std::size_t count) {
  static const std::string query = "\x1b[6n";
  std::string window = session.queryTail + std::string(bytes, count);
  for (std::size_t at = window.find(query); at != std::string::npos;
       at = window.find(query, at + query.size())) {
    ++session.cursorQueries;
  }
  std::size_t keep = query.size() - 1;
  // Shorter than a query, so never the whole of one already counted.
  session.queryTail = window.size() > keep ? window.substr(window.size() - keep) : window;
}

// Feeds what the command wrote into the terminal and sends back the
// terminal's answers. Waits at most `waitSeconds` for something to come.
void Pump(Session& session, double waitSeconds) {
  if (session.ended) return;
  pollfd poller{session.master, POLLIN, 0};
  int timeout = waitSeconds <= 0 ? 0 : static_cast<int>(waitSeconds * 1000) + 1;
  int ready = poll(&poller, 1, timeout);
  if (ready < 0 && errno != EINTR) Die("poll");
  if (ready <= 0) return;
  char bytes[65536];
  ssize_t count = read(session.master, bytes, sizeof bytes);
  if (count <= 0) {
    if (count < 0 && errno == EINTR) return;
    session.ended = true;  // EIO: no process holds the terminal any more
    return;
  }
  session.bytes += static_cast<std::uint64_t>(count);
  ++session.chunks;
  CountCursorQueries(session, bytes, static_cast<std::size_t>(count));
  vterm_input_write(session.terminal, bytes, static_cast<std::size_t>(count));
  char answer[4096];
  std::size_t length;
  while ((length = vterm_output_read(session.terminal, answer, sizeof answer)) > 0) {
    WriteAll(session.master, answer, length);
  }
}

std::uint32_t CellChar(const Session& session, int row, int column) {
  VTermScreenCell cell;
  vterm_screen_get_cell(session.screen, VTermPos{row, column}, &cell);
  return cell.chars[0];
}

// The cursor stands behind "> " on an otherwise empty row.
bool PromptShows(const Session& session) {
  VTermPos cursor;
  vterm_state_get_cursorpos(vterm_obtain_state(session.terminal), &cursor);
  if (cursor.col != 2) return false;
  if (CellChar(session, cursor.row, 0) != '>') return false;
  for (int column = 1; column < columns; ++column) {
    std::uint32_t c = CellChar(session, cursor.row, column);
    if (c != 0 && c != ' ') return false;
  }
  return true;
}

void DumpScreen(const Session& session) {
  for (int row = 0; row < rows; ++row) {
    std::string line;
    for (int column = 0; column < columns; ++column) {
      std::uint32_t c = CellChar(session, row, column);
      line += c >= 32 && c < 127 ? static_cast<char>(c) : ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    fprintf(stderr, "|%s\n", line.c_str());
  }
}

// ---------------------------------------------------------------------------
// Measurements of the command's own process
// ---------------------------------------------------------------------------

// Nanoseconds on a processor, summed over the process's threads.
std::uint64_t CpuNanoseconds(pid_t pid) {
  std::string directory = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(directory.c_str());
  if (tasks == nullptr) return 0;
  std::uint64_t total = 0;
  while (dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::string path = directory + "/" + task->d_name + "/schedstat";
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) continue;
    unsigned long long onCpu = 0;
    if (fscanf(file, "%llu", &onCpu) == 1) total += onCpu;
    fclose(file);
  }
  closedir(tasks);
  return total;
}

long PeakRssKilobytes(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) return -1;
  char line[256];
  long peak = -1;
  while (fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) peak = atol(line + 6);
  }
  fclose(file);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  signal(SIGPIPE, SIG_IGN);
  Session session;
  Start(session, options);

  double deadline = Now() + options.timeoutSeconds;
  while (!PromptShows(session)) {
    double left = deadline - Now();
    if (left <= 0 || session.ended) {
      fprintf(stderr, "ptyrun: no prompt %s; the screen:\n",
              session.ended ? "before the terminal closed" : "in time");
      DumpScreen(session);
      kill(-session.child, SIGKILL);
      waitpid(session.child, nullptr, 0);
      return 1;
    }
    Pump(session, left);
  }
  std::uint64_t cpuAtPrompt = CpuNanoseconds(session.child);
  printf("terminal_bytes=%llu\nterminal_chunks=%llu\ncursor_queries=%llu\n",
         static_cast<unsigned long long>(session.bytes),
         static_cast<unsigned long long>(session.chunks),
         static_cast<unsigned long long>(session.cursorQueries));
  printf("cpu_to_prompt_us=%.1f\n", static_cast<double>(cpuAtPrompt) / 1e3);

  if (options.idleSeconds > 0) {
    // The terminal is served all along: the command may ask it something.
    double end = Now() + options.idleSeconds;
    for (double left = options.idleSeconds; left > 0 && !session.ended;
         left = end - Now()) {
      Pump(session, left);
    }
    std::uint64_t cpuAfterIdle = CpuNanoseconds(session.child);
    printf("idle_cpu_us=%.1f\nidle_seconds=%g\n",
           static_cast<double>(cpuAfterIdle - cpuAtPrompt) / 1e3,
           options.idleSeconds);
  }
  printf("peak_rss_kb=%ld\n", PeakRssKilobytes(session.child));

  int status = 0;
  rusage usage{};
  if (options.finish != nullptr) {
    WriteAll(session.master, options.finish, std::strlen(options.finish));
    // The terminal closes when the command has ended and left it.
    double end = Now() + options.timeoutSeconds;
    for (double left = options.timeoutSeconds; left > 0 && !session.ended;
         left = end - Now()) {
      Pump(session, left);
    }
    if (!session.ended) {
      fprintf(stderr, "ptyrun: the command did not end after --finish\n");
      kill(-session.child, SIGKILL);
      waitpid(session.child, nullptr, 0);
      return 1;
    }
    wait4(session.child, &status, 0, &usage);
    printf("whole_run_cpu_us=%.1f\n",
           static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec));
  } else {
    kill(-session.child, SIGKILL);
    waitpid(session.child, &status, 0);
  }
  fflush(stdout);
  vterm_free(session.terminal);
  return 0;
}
