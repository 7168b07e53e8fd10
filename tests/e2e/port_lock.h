// A machine-wide lock on a fixed TCP port of 127.0.0.1, held for the life
// of the object, so that the tests that need the same port run one at a
// time, whichever build directory or ctest run they belong to.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

class PortLock {
 public:
  // Waits until no other test holds the port.
  explicit PortLock(int port) {
    std::string path = "/tmp/catalogo-e2e-" + std::to_string(port) + ".lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~PortLock() {
    if (fd_ >= 0) close(fd_);
  }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
