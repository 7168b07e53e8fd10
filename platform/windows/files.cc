// Files and standard handles: kernel32 as it is.
//
// Our declarations come first: windows.h defines macros with the names of
// several of our constants, which must not reach platform.h.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

namespace {
::SECURITY_ATTRIBUTES* ToWindows(SecurityAttributes* ours,
                                 ::SECURITY_ATTRIBUTES* theirs) {
  if (ours == nullptr) return nullptr;
  theirs->nLength = sizeof *theirs;
  theirs->lpSecurityDescriptor = ours->lpSecurityDescriptor;
  theirs->bInheritHandle = ours->bInheritHandle ? TRUE : FALSE;
  return theirs;
}
}  // namespace

Handle GetStdHandle(std::uint32_t which) { return ::GetStdHandle(which); }

Handle CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, SecurityAttributes* security,
                   std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes, Handle templateFile) {
  ::SECURITY_ATTRIBUTES attributes;
  return ::CreateFileA(fileName, desiredAccess, shareMode,
                       ToWindows(security, &attributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

bool ReadFile(Handle handle, void* buffer, std::uint32_t bytesToRead,
              std::uint32_t* bytesRead) {
  DWORD count = 0;
  BOOL ok = ::ReadFile(handle, buffer, bytesToRead, &count, nullptr);
  *bytesRead = count;
  return ok != FALSE;
}

bool WriteFile(Handle handle, const void* buffer, std::uint32_t bytesToWrite,
               std::uint32_t* bytesWritten) {
  DWORD count = 0;
  BOOL ok = ::WriteFile(handle, buffer, bytesToWrite, &count, nullptr);
  *bytesWritten = count;
  return ok != FALSE;
}

bool CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

std::uint32_t GetFileType(Handle handle) { return ::GetFileType(handle); }

std::uint32_t GetLastError() { return ::GetLastError(); }

}  // namespace platform
