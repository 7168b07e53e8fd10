// Child processes: CreateProcessA, WaitForSingleObject and
// GetExitCodeProcess over posix_spawn and waitpid.
//
// The command line is split by the Windows rules (platform/command_line.h),
// so a child gets the arguments that the same command line gives a Windows
// program. The program is looked up on PATH only: the current directory is
// searched only when PATH names it, because the program downloads files
// chosen by a server into it. A name ending in ".exe" that is not found is
// tried without it, so that "wget.exe" finds the system's wget.
//
// The child shares the terminal and the standard descriptors. While it runs
// the terminal is in the mode it was found in; once it has ended, the
// console layer knows that the cursor has moved.
//
// Handles: a process handle and a thread handle per child, both naming its
// pid. Closing either frees it (CloseHandle in files.cc); a child whose
// process handle is closed before it was waited for is not reaped.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "platform/posix/terminal.h"

extern char** environ;

namespace platform {
namespace posix {
namespace {

constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t STILL_ACTIVE = 259;

// Exit code of a child ended by a signal: 128 + the signal number, as a
// shell reports it; never 0.
constexpr std::uint32_t signalExitBase = 128;

bool EndsWithExe(std::string_view name) {
  if (name.size() <= 4) return false;
  std::string_view tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'e' && (tail[2] | 0x20) == 'x' &&
         (tail[3] | 0x20) == 'e';
}

// 0 when `path` is a regular file that we may execute, else the Windows
// code for why not. `exactError` false lets a missing file cost one lookup:
// every failure of stat then reads ERROR_FILE_NOT_FOUND, without the second
// lookup that tells a missing directory (ERROR_PATH_NOT_FOUND) apart.
std::uint32_t CheckProgram(const std::string& path, bool exactError = true) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return exactError ? WindowsErrorFromErrno(errno, path.c_str())
                      : ERROR_FILE_NOT_FOUND;
  }
  if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
  if (access(path.c_str(), X_OK) != 0) return ERROR_ACCESS_DENIED;
  return 0;
}

// Looks `name` up in the directories of PATH, in order. Empty entries are
// skipped: here they do not stand for the current directory.
std::uint32_t SearchPath(const std::string& name, std::string* found) {
  std::string searchPath;
  if (const char* variable = std::getenv("PATH")) {
    searchPath = variable;
  } else {
    std::size_t size = confstr(_CS_PATH, nullptr, 0);
    if (size > 0) {
      searchPath.resize(size);
      confstr(_CS_PATH, searchPath.data(), size);
      searchPath.resize(size - 1);
    }
  }
  std::uint32_t error = ERROR_FILE_NOT_FOUND;
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(':', start);
    if (end == std::string::npos) end = searchPath.size();
    if (end > start) {
      std::string candidate = searchPath.substr(start, end - start) + "/" + name;
      // Only a found program and ERROR_ACCESS_DENIED matter here; any
      // other failure reads as not found.
      std::uint32_t code = CheckProgram(candidate, false);
      if (code == 0) {
        *found = candidate;
        return 0;
      }
      // A file that is there but may not run is worth reporting over one
      // that is missing.
      if (code == ERROR_ACCESS_DENIED) error = code;
    }
    start = end + 1;
  }
  return error;
}

// The file to run for `name`: a name with a directory in it is taken as it
// is; any other is searched on PATH, and without ".exe" if need be.
std::uint32_t FindProgram(std::string name, std::string* found) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.empty()) return ERROR_FILE_NOT_FOUND;
  if (name.find('/') != std::string::npos) {
    *found = name;
    return CheckProgram(name);
  }
  std::uint32_t error = SearchPath(name, found);
  if (error != 0 && EndsWithExe(name)) {
    std::uint32_t bare = SearchPath(name.substr(0, name.size() - 4), found);
    if (bare == 0 || bare == ERROR_ACCESS_DENIED) error = bare;
  }
  return error;
}

// A Windows environment block, "NAME=value" strings each ending in a zero
// byte and the block in a second one.
std::vector<std::string> SplitEnvironmentBlock(const char* block) {
  std::vector<std::string> variables;
  while (*block != 0) {
    variables.emplace_back(block);
    block += variables.back().size() + 1;
  }
  return variables;
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::uint32_t ExitCodeOfStatus(int status) {
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    return signalExitBase + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return signalExitBase;
}

// Records the child's end; the terminal is the console layer's again.
void Reaped(HandleEntry* entry, int status) {
  entry->reaped = true;
  entry->exitCode = ExitCodeOfStatus(status);
  EndForeignOutput();
}

// Reaps the child of `entry` if it has ended; with `block`, waits for it.
// False when waitpid fails.
bool Reap(HandleEntry* entry, bool block) {
  if (entry->reaped) return true;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(entry->pid, &status, block ? 0 : WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    SetLastError(WindowsErrorFromErrno(errno));
    return false;
  }
  if (result == entry->pid) Reaped(entry, status);
  return true;
}

HandleEntry* LookUpProcess(Handle handle) {
  HandleEntry* entry = LookUpHandle(handle);
  if (entry == nullptr) return nullptr;
  if (entry->kind != HandleKind::process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return entry;
}

// posix_spawn with the child's signal state reset: the mask empty and
// SIGPIPE, which this layer ignores, back to its default.
int Spawn(pid_t* pid, const std::string& path, char* const* argv,
          char* const* envp, const char* directory) {
  posix_spawnattr_t attributes;
  int error = posix_spawnattr_init(&attributes);
  if (error != 0) return error;
  posix_spawn_file_actions_t actions;
  error = posix_spawn_file_actions_init(&actions);
  if (error != 0) {
    posix_spawnattr_destroy(&attributes);
    return error;
  }
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &defaults);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (error == 0 && directory != nullptr) {
    error = posix_spawn_file_actions_addchdir_np(&actions, directory);
  }
  if (error == 0) {
    error = posix_spawn(pid, path.c_str(), &actions, &attributes, argv, envp);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error;
}

}  // namespace
}  // namespace posix

using posix::HandleEntry;
using posix::HandleKind;
using posix::SetLastError;

// The security attributes, creation flags and startup record have no
// POSIX counterpart and are not looked at: no descriptor but the standard
// ones reaches the child (the layer opens every file close-on-exec unless
// asked to let it be inherited), and the child shares the terminal.
bool CreateProcessA(const char* applicationName, char* commandLine,
                    SecurityAttributes* processAttributes,
                    SecurityAttributes* threadAttributes, bool inheritHandles,
                    std::uint32_t creationFlags, void* environment,
                    const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
  (void)processAttributes;
  (void)threadAttributes;
  (void)inheritHandles;
  (void)creationFlags;
  (void)startupInfo;
  if (applicationName == nullptr && commandLine == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }

  std::vector<std::string> arguments =
      SplitCommandLine(commandLine != nullptr ? commandLine : applicationName);
  std::string path;
  std::uint32_t error;
  if (applicationName != nullptr) {
    // An application name is a file name, never searched for.
    path = applicationName;
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    error = posix::CheckProgram(path);
  } else {
    error = posix::FindProgram(arguments[0], &path);
  }
  if (error != 0) {
    SetLastError(error);
    return false;
  }

  std::vector<char*> argv = posix::PointerArray(arguments);
  std::vector<std::string> variables;
  std::vector<char*> envp;
  if (environment != nullptr) {
    variables = posix::SplitEnvironmentBlock(static_cast<const char*>(environment));
    envp = posix::PointerArray(variables);
  }

  Handle process =
      posix::NewHandle(HandleEntry{HandleKind::process, -1, 0, false, 0});
  if (process == nullptr) return false;
  Handle thread =
      posix::NewHandle(HandleEntry{HandleKind::thread, -1, 0, false, 0});
  if (thread == nullptr) {
    posix::FreeHandle(process);
    return false;
  }

  posix::BeginForeignOutput();
  posix::SettleReadAhead();
  pid_t pid = 0;
  int spawnError =
      posix::Spawn(&pid, path, argv.data(),
                   environment != nullptr ? envp.data() : environ,
                   currentDirectory);
  if (spawnError != 0) {
    posix::EndForeignOutput();
    posix::FreeHandle(thread);
    posix::FreeHandle(process);
    SetLastError(posix::WindowsErrorFromErrno(spawnError, path.c_str()));
    return false;
  }
  posix::LookUpHandle(process)->pid = pid;
  posix::LookUpHandle(thread)->pid = pid;
  processInformation->hProcess = process;
  processInformation->hThread = thread;
  processInformation->dwProcessId = static_cast<std::uint32_t>(pid);
  processInformation->dwThreadId = static_cast<std::uint32_t>(pid);
  return true;
}

// Waits on a process handle: INFINITE until the child ends, 0 not at all,
// any other time in steps of a millisecond. Thread handles cannot be waited
// on here.
std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  HandleEntry* entry = posix::LookUpProcess(handle);
  if (entry == nullptr) return WAIT_FAILED;
  if (milliseconds == INFINITE) {
    return posix::Reap(entry, true) ? WAIT_OBJECT_0 : WAIT_FAILED;
  }
  for (std::uint32_t waited = 0;; ++waited) {
    if (!posix::Reap(entry, false)) return WAIT_FAILED;
    if (entry->reaped) return WAIT_OBJECT_0;
    if (waited == milliseconds) return posix::WAIT_TIMEOUT;
    Sleep(1);
  }
}

bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
  HandleEntry* entry = posix::LookUpProcess(process);
  if (entry == nullptr) return false;
  if (!posix::Reap(entry, false)) return false;
  *exitCode = entry->reaped ? entry->exitCode : posix::STILL_ACTIVE;
  return true;
}

}  // namespace platform
