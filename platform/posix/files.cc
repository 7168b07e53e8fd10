// Files and standard handles on POSIX descriptors.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "platform/posix/terminal.h"

namespace platform {
namespace posix {
namespace {

// A write to a pipe whose reader has gone fails with EPIPE, which becomes
// ERROR_BROKEN_PIPE; it must never end the process by a signal.
struct IgnoreBrokenPipeSignal {
  IgnoreBrokenPipeSignal() { signal(SIGPIPE, SIG_IGN); }
} ignoreBrokenPipeSignal;

constexpr int handleSlots = 1024;
HandleEntry handleTable[handleSlots] = {
    {HandleKind::file, 0, 0, false, 0},
    {HandleKind::file, 1, 0, false, 0},
    {HandleKind::file, 2, 0, false, 0},
};

thread_local std::uint32_t lastError;

Handle HandleOfSlot(int slot) {
  return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(slot + 1) * 4);
}

int SlotOfHandle(Handle handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value % 4 != 0) return -1;
  std::uintptr_t slot = value / 4 - 1;
  return slot < handleSlots ? static_cast<int>(slot) : -1;
}

bool IsTerminalHandle(int fd) { return (fd == 1 || fd == 2) && isatty(fd); }

// True when the directory part of `path` exists, so that a missing path is
// a missing file rather than a missing directory on the way.
bool ParentDirectoryExists(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return true;
  std::size_t length = static_cast<std::size_t>(slash - path);
  if (length == 0) return true;
  char parent[4096];
  if (length >= sizeof parent) return false;
  std::memcpy(parent, path, length);
  parent[length] = 0;
  struct stat info;
  return stat(parent, &info) == 0 && S_ISDIR(info.st_mode);
}

// ---------------------------------------------------------------------------
// Read-ahead
// ---------------------------------------------------------------------------

// A caller that reads a file in small pieces (the text streams ask for 256
// bytes at a time) costs a system call per piece. A regular file opened for
// reading only and with share mode 0 holds the exclusive lock, so nothing
// that honours it changes the file meanwhile: its bytes can be read in
// larger blocks and handed out from memory. Terminals, pipes, sockets and
// shared opens are always read directly, a call for a call.
constexpr std::uint32_t readAheadSize = 16 * 1024;

}  // namespace

struct ReadAhead {
  std::uint32_t start;  // the next byte to hand out
  std::uint32_t count;  // bytes held
  bool endSeen;         // the last block read came back short
  std::uint8_t bytes[readAheadSize];
};

namespace {

// ReadFile on a handle with read-ahead: the same bytes and the same counts
// as one read of `bytesToRead` from the descriptor. A request is filled
// from the block, then from further blocks, until it is whole or the file
// ends; a block that came back short marks the end for this request, as a
// single read would have stopped there. A request at least a block long
// with nothing held goes straight to the descriptor.
bool ReadAheadRead(HandleEntry& entry, std::uint8_t* buffer,
                   std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
  ReadAhead& held = *entry.readAhead;
  std::uint32_t done = 0;
  while (done < bytesToRead) {
    if (held.start == held.count) {
      if (held.endSeen && done > 0) break;
      std::uint32_t wanted = bytesToRead - done;
      bool direct = wanted >= readAheadSize;
      std::uint8_t* target = direct ? buffer + done : held.bytes;
      std::uint32_t size = direct ? wanted : readAheadSize;
      ssize_t count;
      do {
        count = read(entry.fd, target, size);
      } while (count < 0 && errno == EINTR);
      if (count < 0) {
        // What was already handed over stands; the failure comes with the
        // next call, which reads again.
        if (done > 0) break;
        SetLastError(WindowsErrorFromErrno(errno));
        return false;
      }
      held.endSeen = static_cast<std::uint32_t>(count) < size;
      if (count == 0) break;
      if (direct) {
        done += static_cast<std::uint32_t>(count);
        continue;
      }
      held.start = 0;
      held.count = static_cast<std::uint32_t>(count);
    }
    std::uint32_t piece = held.count - held.start;
    if (piece > bytesToRead - done) piece = bytesToRead - done;
    std::memcpy(buffer + done, held.bytes + held.start, piece);
    held.start += piece;
    done += piece;
  }
  *bytesRead = done;
  return true;
}

}  // namespace

void SettleReadAhead() {
  for (HandleEntry& entry : handleTable) {
    if (entry.readAhead == nullptr) continue;
    ReadAhead& held = *entry.readAhead;
    if (held.start < held.count) {
      lseek(entry.fd, -static_cast<off_t>(held.count - held.start), SEEK_CUR);
    }
    held.start = 0;
    held.count = 0;
    held.endSeen = false;
  }
}

Handle NewHandle(const HandleEntry& entry) {
  for (int slot = 3; slot < handleSlots; ++slot) {
    if (handleTable[slot].kind == HandleKind::free) {
      handleTable[slot] = entry;
      return HandleOfSlot(slot);
    }
  }
  SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return nullptr;
}

HandleEntry* LookUpHandle(Handle handle) {
  int slot = SlotOfHandle(handle);
  if (slot < 0 || handleTable[slot].kind == HandleKind::free) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &handleTable[slot];
}

void FreeHandle(Handle handle) {
  int slot = SlotOfHandle(handle);
  if (slot >= 3) handleTable[slot] = HandleEntry{};
}

Handle StandardHandle(int fd) { return HandleOfSlot(fd); }

void SetLastError(std::uint32_t code) { lastError = code; }

std::uint32_t WindowsErrorFromErrno(int error, const char* path) {
  switch (error) {
    case ENOENT:
      if (path != nullptr && !ParentDirectoryExists(path)) {
        return ERROR_PATH_NOT_FOUND;
      }
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case EEXIST:
      return 80;  // ERROR_FILE_EXISTS
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
      return 1921;  // ERROR_CANT_RESOLVE_FILENAME
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    default:
      return unknownErrnoCode;
  }
}

}  // namespace posix

using posix::HandleEntry;
using posix::HandleKind;
using posix::LookUpHandle;
using posix::SetLastError;
using posix::WindowsErrorFromErrno;

Handle GetStdHandle(std::uint32_t which) {
  switch (which) {
    case STD_INPUT_HANDLE:
      return posix::StandardHandle(0);
    case STD_OUTPUT_HANDLE:
      return posix::StandardHandle(1);
    case STD_ERROR_HANDLE:
      return posix::StandardHandle(2);
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return INVALID_HANDLE_VALUE;
  }
}

// Share mode 0 (no sharing) takes an exclusive advisory lock on the file, a
// sharing open a shared one, so that a second open through this layer
// fails with ERROR_SHARING_VIOLATION while the first holds the file. The
// lock is advisory: it binds only processes that take it, that is, other
// programs built on this layer.
Handle CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, SecurityAttributes* security,
                   std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes, Handle templateFile) {
  (void)flagsAndAttributes;
  (void)templateFile;

  char path[4096];
  std::size_t length = std::strlen(fileName);
  if (length >= sizeof path) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  for (std::size_t i = 0; i <= length; ++i) {
    path[i] = fileName[i] == '\\' ? '/' : fileName[i];
  }

  int flags = 0;
  bool reading = (desiredAccess & GENERIC_READ) != 0;
  bool writing = (desiredAccess & GENERIC_WRITE) != 0;
  if (reading && writing) {
    flags = O_RDWR;
  } else if (writing) {
    flags = O_WRONLY;
  } else {
    flags = O_RDONLY;
  }
  switch (creationDisposition) {
    case 1:  // CREATE_NEW
      flags |= O_CREAT | O_EXCL;
      break;
    case 2:  // CREATE_ALWAYS
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case 4:  // OPEN_ALWAYS
      flags |= O_CREAT;
      break;
    case 5:  // TRUNCATE_EXISTING
      flags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  bool inherit = security != nullptr && security->bInheritHandle;
  if (!inherit) flags |= O_CLOEXEC;
  flags |= O_NOCTTY;

  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastError(WindowsErrorFromErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }

  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISREG(info.st_mode)) {
    int lock = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (flock(fd, lock) != 0) {
      std::uint32_t code = errno == EWOULDBLOCK
                               ? ERROR_SHARING_VIOLATION
                               : WindowsErrorFromErrno(errno);
      close(fd);
      SetLastError(code);
      return INVALID_HANDLE_VALUE;
    }
  }

  HandleEntry entry{HandleKind::file, fd, 0, false, 0};
  if (S_ISREG(info.st_mode) && shareMode == 0 && reading && !writing) {
    // Without memory for it the file is simply read directly.
    entry.readAhead =
        static_cast<posix::ReadAhead*>(std::malloc(sizeof(posix::ReadAhead)));
    if (entry.readAhead != nullptr) {
      entry.readAhead->start = 0;
      entry.readAhead->count = 0;
      entry.readAhead->endSeen = false;
    }
  }
  Handle handle = posix::NewHandle(entry);
  if (handle == nullptr) {
    std::free(entry.readAhead);
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool ReadFile(Handle handle, void* buffer, std::uint32_t bytesToRead,
              std::uint32_t* bytesRead) {
  *bytesRead = 0;
  HandleEntry* entry = LookUpHandle(handle);
  if (entry == nullptr) return false;
  if (entry->kind != HandleKind::file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (entry->readAhead != nullptr) {
    return posix::ReadAheadRead(*entry, static_cast<std::uint8_t*>(buffer),
                                bytesToRead, bytesRead);
  }
  ssize_t count;
  do {
    count = read(entry->fd, buffer, bytesToRead);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    SetLastError(WindowsErrorFromErrno(errno));
    return false;
  }
  *bytesRead = static_cast<std::uint32_t>(count);
  return true;
}

// Writes all the bytes or fails. A write to the terminal through a standard
// handle goes past the console layer, which paints first and afterwards no
// longer knows what the terminal shows.
bool WriteFile(Handle handle, const void* buffer, std::uint32_t bytesToWrite,
               std::uint32_t* bytesWritten) {
  *bytesWritten = 0;
  HandleEntry* entry = LookUpHandle(handle);
  if (entry == nullptr) return false;
  if (entry->kind != HandleKind::file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  bool terminal = posix::IsTerminalHandle(entry->fd);
  if (terminal) posix::BeginForeignOutput();
  const char* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  bool ok = true;
  while (done < bytesToWrite) {
    ssize_t count = write(entry->fd, bytes + done, bytesToWrite - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      SetLastError(WindowsErrorFromErrno(errno));
      ok = false;
      break;
    }
    done += static_cast<std::uint32_t>(count);
  }
  if (terminal) posix::EndForeignOutput();
  *bytesWritten = done;
  return ok;
}

bool CloseHandle(Handle handle) {
  HandleEntry* entry = LookUpHandle(handle);
  if (entry == nullptr) return false;
  // The standard handles stay open: the runtime never closes them, and a
  // child process or a later write may still need them.
  if (posix::SlotOfHandle(handle) < 3) return true;
  if (entry->kind == HandleKind::file) close(entry->fd);
  std::free(entry->readAhead);
  posix::FreeHandle(handle);
  return true;
}

std::uint32_t GetFileType(Handle handle) {
  HandleEntry* entry = LookUpHandle(handle);
  if (entry == nullptr) return FILE_TYPE_UNKNOWN;
  if (entry->kind != HandleKind::file) return FILE_TYPE_UNKNOWN;
  struct stat info;
  if (fstat(entry->fd, &info) != 0) {
    SetLastError(WindowsErrorFromErrno(errno));
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

std::uint32_t GetLastError() { return posix::lastError; }

}  // namespace platform
