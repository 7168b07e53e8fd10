// The POSIX implementation of the Windows file calls: the error codes a
// Windows user would get for the same failures, and the file types.
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "scratch_dir.h"

namespace {

using namespace platform;

class PosixFiles : public ScratchDir {
 protected:
  std::uint32_t OpenError(const std::string& name) {
    SecurityAttributes security{12, nullptr, true};
    Handle handle = CreateFileA(name.c_str(), GENERIC_READ, 0, &security,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      return 0;
    }
    return GetLastError();
  }
};

TEST_F(PosixFiles, OpenFailuresGiveWindowsCodes) {
  WriteFile("secret", "x");
  std::filesystem::create_directory(dir_ / "folder");
  struct Case {
    std::string name;
    std::uint32_t code;
  } cases[] = {
      {"missing", ERROR_FILE_NOT_FOUND},
      {"nodir\\missing", ERROR_PATH_NOT_FOUND},
      {"secret\\below", ERROR_PATH_NOT_FOUND},  // a file on the way
      {"folder", ERROR_ACCESS_DENIED},
      {std::string(300, 'n'), ERROR_FILENAME_EXCED_RANGE},
      {"secret", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenError(c.name), c.code) << c.name.substr(0, 20);
  }
}

TEST_F(PosixFiles, TooManyOpenFilesGives4) {
  for (int i = 0; i < 16; ++i) WriteFile("f" + std::to_string(i), "x");
  pid_t pid = fork();
  if (pid == 0) {
    rlimit limit{8, 8};
    setrlimit(RLIMIT_NOFILE, &limit);
    // Each open keeps a descriptor; the 9th cannot exist.
    for (int i = 0; i < 16; ++i) {
      SecurityAttributes security{12, nullptr, true};
      std::string name = "f" + std::to_string(i);
      Handle h = CreateFileA(name.c_str(), GENERIC_READ, 0, &security,
                             OPEN_EXISTING, 0, nullptr);
      if (h == INVALID_HANDLE_VALUE) _exit(GetLastError() == 4 ? 0 : 1);
    }
    _exit(2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Writes through descriptor 2 of a child whose descriptor 2 is `target`.
std::uint32_t WriteErrorInChild(int target) {
  int result[2];
  if (pipe(result) != 0) return 0xFFFFFFFF;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(target, 2);
    std::uint32_t written = 0;
    bool ok = platform::WriteFile(GetStdHandle(STD_ERROR_HANDLE), "data", 4,
                                  &written);
    std::uint32_t code = ok ? 0 : GetLastError();
    (void)!write(result[1], &code, sizeof code);
    _exit(0);
  }
  close(result[1]);
  std::uint32_t code = 0xFFFFFFFF;
  (void)!read(result[0], &code, sizeof code);
  close(result[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "the write must not kill the process";
  return code;
}

TEST(PosixWrite, DiskFullAndBrokenPipe) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(WriteErrorInChild(full), ERROR_DISK_FULL);
  close(full);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  EXPECT_EQ(WriteErrorInChild(fds[1]), ERROR_BROKEN_PIPE);
  close(fds[1]);
}

TEST(PosixErrno, UnknownErrnoHasAFixedNonZeroCode) {
  EXPECT_EQ(posix::WindowsErrorFromErrno(EPROTO), posix::unknownErrnoCode);
  EXPECT_NE(posix::unknownErrnoCode, 0u);
}

TEST_F(PosixFiles, FileTypes) {
  WriteFile("plain", "x");
  SecurityAttributes security{12, nullptr, true};
  Handle plain = CreateFileA("plain", GENERIC_READ, 0, &security,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(plain, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(plain), FILE_TYPE_DISK);
  CloseHandle(plain);

  Handle null = CreateFileA("/dev/null", GENERIC_READ, 0, &security,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(null, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(null), FILE_TYPE_CHAR);
  CloseHandle(null);

  // A pipe and a socket, seen through the standard error handle of a child.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  for (int target : {fds[1], sockets[0]}) {
    pid_t pid = fork();
    if (pid == 0) {
      dup2(target, 2);
      _exit(GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_PIPE ? 0
                                                                          : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int fd : {fds[0], fds[1], sockets[0], sockets[1]}) close(fd);
}

TEST(PosixHandles, StandardHandlesAreNeitherNullNorInvalid) {
  for (std::uint32_t which :
       {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    Handle h = GetStdHandle(which);
    EXPECT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
  }
  EXPECT_NE(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
}

}  // namespace
