// Runs a program to its end as a child process, with its standard output
// on a pipe, in a file, on /dev/full or closed, and its standard error on a
// pipe of its own; waits with a bound. For the tests of the run's end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

namespace runtime_test {

enum class OutputTo { pipe, file, deviceFull, closed };

struct ProcessOptions {
  std::vector<std::string> argv;
  // The whole environment of the child.
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
  std::string workingDirectory;  // empty: the test's own
  OutputTo output = OutputTo::pipe;
  std::string outputFile;        // for OutputTo::file
  int timeoutMs = 30000;
};

struct ProcessResult {
  std::string startError;  // non-empty: it did not start
  bool finished = false;   // false: killed at the bound
  int exitCode = -1;       // -1 unless it exited
  int signal = 0;          // 0 unless a signal ended it
  std::string output;      // OutputTo::pipe only
  std::string errorOutput;
};

inline ProcessResult RunProcess(const ProcessOptions& options) {
  ProcessResult result;
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(errPipe, O_CLOEXEC) != 0 ||
      (options.output == OutputTo::pipe && pipe2(outPipe, O_CLOEXEC) != 0)) {
    result.startError = "pipe failed";
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  switch (options.output) {
    case OutputTo::pipe:
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
      break;
    case OutputTo::file:
      posix_spawn_file_actions_addopen(&actions, 1, options.outputFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      break;
    case OutputTo::deviceFull:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case OutputTo::closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!options.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions,
                                         options.workingDirectory.c_str());
  }

  std::vector<char*> argv;
  for (const std::string& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : options.environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                          envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(errPipe[1]);
  if (outPipe[1] >= 0) close(outPipe[1]);
  if (error != 0) {
    result.startError = std::string("posix_spawn: ") + strerror(error);
    close(errPipe[0]);
    if (outPipe[0] >= 0) close(outPipe[0]);
    return result;
  }

  // Reads both pipes to their end and waits for the process, all within
  // the bound.
  int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(options.timeoutMs);
  int fds[2] = {outPipe[0], errPipe[0]};
  std::string* sinks[2] = {&result.output, &result.errorOutput};
  bool exited = false;
  while (pidFd >= 0 && (fds[0] >= 0 || fds[1] >= 0 || !exited)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd polled[3];
    int sources[3];
    nfds_t count = 0;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0) continue;
      polled[count] = pollfd{fds[i], POLLIN, 0};
      sources[count++] = i;
    }
    if (!exited) {
      polled[count] = pollfd{pidFd, POLLIN, 0};
      sources[count++] = 2;
    }
    if (poll(polled, count, static_cast<int>(left)) <= 0) continue;
    for (nfds_t k = 0; k < count; ++k) {
      if (polled[k].revents == 0) continue;
      int source = sources[k];
      if (source == 2) {
        exited = true;
        continue;
      }
      char buffer[4096];
      ssize_t n = read(fds[source], buffer, sizeof buffer);
      if (n > 0) {
        sinks[source]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[source]);
        fds[source] = -1;
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  if (pidFd >= 0) close(pidFd);
  int status = 0;
  if (!exited) {
    if (pidFd < 0) result.startError = "pidfd_open failed";
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return result;
  }
  waitpid(pid, &status, 0);
  result.finished = true;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// The functions addr2line names for `offset` in `binary`, innermost
// (inlined) first, demangled. Empty when addr2line could not run. `tool`
// may be another addr2line (MinGW's, which wants an address: the offset
// plus the image base).
inline std::vector<std::string> FunctionsAt(
    const std::string& binary, std::uint64_t offset,
    const char* tool = "/usr/bin/addr2line") {
  char hex[24];
  snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(offset));
  ProcessOptions options;
  options.argv = {tool, "-f", "-i", "-C", "-e", binary, hex};
  ProcessResult r = RunProcess(options);
  std::vector<std::string> functions;
  if (!r.finished || r.exitCode != 0) return functions;
  // Pairs of lines: a function, then its file and line.
  std::size_t start = 0;
  for (int line = 0; start < r.output.size(); ++line) {
    std::size_t end = r.output.find('\n', start);
    if (end == std::string::npos) end = r.output.size();
    if (line % 2 == 0) functions.push_back(r.output.substr(start, end - start));
    start = end + 1;
  }
  return functions;
}

// True when the tests that need `tool` may run; they must not be skipped
// in CI.
inline bool ToolPresent(const char* tool) { return access(tool, X_OK) == 0; }

}  // namespace runtime_test
