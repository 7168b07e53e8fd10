// Runs one command in a pseudo-terminal of 80x25 with libvterm behind it,
// until the screen shows the prompt "> ", and measures the command's own
// process there:
//
//   ptyrun [--dir DIR] [--expect TEXT] [--idle SECONDS] [--finish TEXT]
//          [--timeout SECONDS] -- COMMAND [ARGUMENT...]
//
// With --expect, the screen must show TEXT along with the prompt (the last
// menu line, say), or the run is no measurement of a working program.
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
// Without --finish the command is killed after the measurement.
// The terminal is the screen tests' harness: libvterm answers the queries
// (cursor position, attributes) as a terminal would. Exit status 1 when the
// prompt does not show in time, with the screen on the standard error.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/harness/terminal.h"

namespace {

struct Options {
  std::string directory;
  std::string expect;
  double idleSeconds = 0;
  const char* finish = nullptr;
  double timeoutSeconds = 60;
  std::vector<std::string> command;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i + 1 < argc; ++i) {
    std::string option = argv[i];
    if (option == "--") break;
    if (option == "--dir") {
      options.directory = argv[++i];
    } else if (option == "--expect") {
      options.expect = argv[++i];
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
  if (i + 1 >= argc || std::strcmp(argv[i], "--") != 0) {
    fprintf(stderr,
            "usage: ptyrun [--dir DIR] [--expect TEXT] [--idle SECONDS] "
            "[--finish TEXT] [--timeout SECONDS] -- COMMAND [ARGUMENT...]\n");
    exit(2);
  }
  options.command.assign(argv + i + 1, argv + argc);
  return options;
}

int Milliseconds(double seconds) { return static_cast<int>(seconds * 1000); }

// The cursor stands behind "> " on an otherwise empty row.
bool PromptShows(const harness::Terminal& terminal) {
  harness::Position cursor = terminal.Cursor();
  return cursor.column == 2 && terminal.Row(cursor.row) == ">";
}

std::uint64_t Occurrences(const std::string& text, const std::string& part) {
  std::uint64_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

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

[[noreturn]] void Fail(const char* what, const harness::Terminal& terminal) {
  fprintf(stderr, "ptyrun: %s\n%s", what, terminal.Describe().c_str());
  exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  signal(SIGPIPE, SIG_IGN);
  harness::Options terminalOptions;
  terminalOptions.argv = options.command;
  terminalOptions.rows = 25;
  terminalOptions.columns = 80;
  terminalOptions.workingDirectory = options.directory;
  harness::Terminal terminal(terminalOptions);
  if (!terminal.Started()) {
    fprintf(stderr, "ptyrun: %s\n", terminal.StartError().c_str());
    return 2;
  }
  pid_t pid = terminal.Pid();
  int timeoutMs = Milliseconds(options.timeoutSeconds);

  if (!terminal.WaitFor([&] { return PromptShows(terminal); }, timeoutMs)) {
    Fail("no prompt in time", terminal);
  }
  std::uint64_t cpuAtPrompt = CpuNanoseconds(pid);
  if (terminal.Screen().find(options.expect) == std::string::npos) {
    Fail("the screen does not show what was expected", terminal);
  }
  printf("terminal_bytes=%llu\nterminal_chunks=%llu\ncursor_queries=%llu\n",
         static_cast<unsigned long long>(terminal.BytesReceived()),
         static_cast<unsigned long long>(terminal.ReadChunks()),
         static_cast<unsigned long long>(Occurrences(terminal.Output(), "\x1b[6n")));
  printf("cpu_to_prompt_us=%.1f\n", static_cast<double>(cpuAtPrompt) / 1e3);

  if (options.idleSeconds > 0) {
    // The terminal is served all along: the command may ask it something.
    terminal.WaitFor([] { return false; }, Milliseconds(options.idleSeconds));
    if (!terminal.Running()) Fail("the command ended at the prompt", terminal);
    std::uint64_t cpuAfterIdle = CpuNanoseconds(pid);
    printf("idle_cpu_us=%.1f\nidle_seconds=%g\n",
           static_cast<double>(cpuAfterIdle - cpuAtPrompt) / 1e3,
           options.idleSeconds);
  }
  printf("peak_rss_kb=%ld\n", PeakRssKilobytes(pid));

  if (options.finish != nullptr) {
    terminal.Type(options.finish);
    if (!terminal.WaitForExit(timeoutMs)) Fail("no end after --finish", terminal);
    // The command is the only child this process has waited for.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    printf("whole_run_cpu_us=%.1f\n",
           static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec));
  }
  fflush(stdout);
  return 0;  // the terminal's end kills what still runs
}
