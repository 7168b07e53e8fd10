// Windows handles over POSIX objects. Internal to platform/posix/.
//
// A handle is a slot in one process-wide table; the standard handles are
// the slots of descriptors 0, 1 and 2. A handle's value is (slot + 1) * 4,
// so that it is never null and never INVALID_HANDLE_VALUE, as on Windows.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/platform.h"

namespace platform::posix {

enum class HandleKind : std::uint8_t { free = 0, file, process, thread };

struct ReadAhead;

struct HandleEntry {
  HandleKind kind;
  int fd;           // file: the descriptor
  pid_t pid;        // process: the child
  bool reaped;      // process: its exit status is known
  std::uint32_t exitCode;
  // file: bytes read from the descriptor ahead of the caller, for a regular
  // file opened for reading only and without sharing (files.cc); null for
  // every other handle.
  ReadAhead* readAhead = nullptr;
};

// A new handle for `entry`, or null with ERROR_TOO_MANY_OPEN_FILES set when
// the table is full.
Handle NewHandle(const HandleEntry& entry);
// The entry of a live handle, or null with ERROR_INVALID_HANDLE set.
HandleEntry* LookUpHandle(Handle handle);
void FreeHandle(Handle handle);

// Puts every descriptor read ahead back at the position its caller has
// reached, dropping what was read ahead, so that a child that inherits one
// finds it where the handle stands.
void SettleReadAhead();

// The descriptor behind the standard handle `fd` (0, 1 or 2).
Handle StandardHandle(int fd);

void SetLastError(std::uint32_t code);

// The Windows error code a Windows user would get for the failure that
// errno `error` reports. `path`, when given, tells a missing file (2) from a
// missing directory on the way (3). An errno with no Windows counterpart
// gives unknownErrnoCode.
std::uint32_t WindowsErrorFromErrno(int error, const char* path = nullptr);

// ERROR_GEN_FAILURE: "a device attached to the system is not functioning".
constexpr std::uint32_t unknownErrnoCode = 31;

}  // namespace platform::posix
