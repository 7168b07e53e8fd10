// Child processes: kernel32, with a program search of our own.
//
// For a command line whose program has no directory, CreateProcessA would
// also look in the current directory, where the program downloads files
// chosen by a server; a downloaded "wget.exe" must never run. So the
// program is looked up here, in the system's order without the current
// directory, and handed to CreateProcessA by its full name.
#include "platform/platform.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/command_line.h"

namespace platform {
namespace {

std::string WithoutTrailingZeros(std::string text) {
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The directories of the system's program search, in its order, without
// the current directory: the program's own directory, the system
// directory, the Windows directory, then the entries of PATH (the current
// directory only where PATH names it; empty entries are dropped).
std::string SearchDirectories() {
  std::vector<std::string> directories;
  std::string buffer(MAX_PATH + 1, '\0');
  DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::string module = buffer.substr(0, length);
    std::size_t slash = module.find_last_of("\\/");
    if (slash != std::string::npos) directories.push_back(module.substr(0, slash));
  }
  buffer.assign(MAX_PATH + 1, '\0');
  if (::GetSystemDirectoryA(buffer.data(), MAX_PATH) > 0) {
    directories.push_back(WithoutTrailingZeros(buffer));
  }
  buffer.assign(MAX_PATH + 1, '\0');
  if (::GetWindowsDirectoryA(buffer.data(), MAX_PATH) > 0) {
    directories.push_back(WithoutTrailingZeros(buffer));
  }
  DWORD size = ::GetEnvironmentVariableA("PATH", nullptr, 0);
  if (size > 0) {
    std::string path(size, '\0');
    ::GetEnvironmentVariableA("PATH", path.data(), size);
    path = WithoutTrailingZeros(path);
    std::size_t start = 0;
    while (start <= path.size()) {
      std::size_t end = path.find(';', start);
      if (end == std::string::npos) end = path.size();
      if (end > start) directories.push_back(path.substr(start, end - start));
      start = end + 1;
    }
  }
  std::string list;
  for (const std::string& directory : directories) {
    if (!list.empty()) list += ';';
    list += directory;
  }
  return list;
}

// The full name of the program that the command line names, when it names
// one without a directory; an empty text when it names one with a
// directory, which CreateProcessA then takes as it is. False, with the
// error set, when the program is not found.
bool FindProgram(const char* commandLine, std::string* found) {
  std::string name = SplitCommandLine(commandLine)[0];
  found->clear();
  if (name.find_first_of("\\/:") != std::string::npos) return true;
  if (name.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::string directories = SearchDirectories();
  std::string buffer(MAX_PATH + 1, '\0');
  DWORD length = ::SearchPathA(directories.c_str(), name.c_str(), ".exe",
                               MAX_PATH, buffer.data(), nullptr);
  if (length == 0 || length >= MAX_PATH) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  *found = buffer.substr(0, length);
  return true;
}

}  // namespace

bool CreateProcessA(const char* applicationName, char* commandLine,
                    SecurityAttributes* processAttributes,
                    SecurityAttributes* threadAttributes, bool inheritHandles,
                    std::uint32_t creationFlags, void* environment,
                    const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
  (void)processAttributes;
  (void)threadAttributes;
  std::string program;
  if (applicationName == nullptr && commandLine != nullptr) {
    if (!FindProgram(commandLine, &program)) return false;
    if (!program.empty()) applicationName = program.c_str();
  }
  ::STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = startupInfo->dwFlags;
  startup.wShowWindow = startupInfo->wShowWindow;
  ::PROCESS_INFORMATION info{};
  BOOL ok = ::CreateProcessA(applicationName, commandLine, nullptr, nullptr,
                             inheritHandles ? TRUE : FALSE, creationFlags,
                             environment, currentDirectory, &startup, &info);
  processInformation->hProcess = info.hProcess;
  processInformation->hThread = info.hThread;
  processInformation->dwProcessId = info.dwProcessId;
  processInformation->dwThreadId = info.dwThreadId;
  return ok != FALSE;
}

std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
  DWORD code = 0;
  BOOL ok = ::GetExitCodeProcess(process, &code);
  *exitCode = code;
  return ok != FALSE;
}

}  // namespace platform
