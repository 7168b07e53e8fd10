// Child processes: kernel32 as it is.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

bool CreateProcessA(const char* applicationName, char* commandLine,
                    SecurityAttributes* processAttributes,
                    SecurityAttributes* threadAttributes, bool inheritHandles,
                    std::uint32_t creationFlags, void* environment,
                    const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
  (void)processAttributes;
  (void)threadAttributes;
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
