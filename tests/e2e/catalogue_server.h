// The test catalogue server (catalogue_server.py beside this file) as a
// child of a test, and what the terminal shows for the catalogue's text.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/ci.h"
#include "tests/harness/terminal.h"

extern char** environ;

// Serves `root` on 127.0.0.1:`port` until stopped or destroyed, logging
// each request path to `log`. `faults` are further arguments of the script
// (--status PATH=CODE, --short PATH, --slow PATH).
class CatalogueServer {
 public:
  CatalogueServer(const std::string& python, const std::filesystem::path& root,
                  const std::filesystem::path& log, int port,
                  const std::vector<std::string>& faults = {}) {
    std::string portText = std::to_string(port);
    std::vector<std::string> argv = {python, CATALOGUE_SERVER_SCRIPT,
                                     "--root", root.string(),
                                     "--log", log.string(),
                                     "--port", portText};
    argv.insert(argv.end(), faults.begin(), faults.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, python.c_str(), &actions, nullptr, pointers.data(),
                    environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // It says "listening PORT" once it accepts connections, or ends.
    std::string said;
    pollfd ready{out[0], POLLIN, 0};
    while (said.find('\n') == std::string::npos &&
           poll(&ready, 1, harness::defaultTimeoutMs) == 1) {
      char bytes[64];
      ssize_t count = read(out[0], bytes, sizeof bytes);
      if (count <= 0) break;
      said.append(bytes, static_cast<std::size_t>(count));
    }
    close(out[0]);
    listening_ = said == "listening " + portText + "\n";
  }
  ~CatalogueServer() { Stop(); }
  CatalogueServer(const CatalogueServer&) = delete;
  CatalogueServer& operator=(const CatalogueServer&) = delete;

  bool Listening() const { return listening_; }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool listening_ = false;
};


// What the terminal shows for Windows-1252 text whose letters are all in
// the Latin-1 range (the accented letters of Spanish): their UTF-8.
inline std::string Shown(const std::string& windows1252) {
  std::string utf8;
  for (unsigned char c : windows1252) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}
