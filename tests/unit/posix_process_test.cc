// The POSIX implementation of the Windows process calls, with real child
// processes: what the child is given, where it is found, what its end
// reports.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

using namespace platform;

const std::string driverDir = TEST_DRIVER_DIR;

class PosixProcess : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    if (const char* path = getenv("PATH")) savedPath_ = path;
  }
  void TearDown() override {
    if (savedPath_) {
      setenv("PATH", savedPath_->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
    ScratchDir::TearDown();
  }

  // Starts `commandLine`; the error code when it cannot start.
  std::optional<std::uint32_t> Start(std::string commandLine,
                                     ProcessInformation* started,
                                     void* environment = nullptr,
                                     const char* directory = nullptr) {
    StartupInfo startup{68, 0, SW_SHOWNORMAL};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, false,
                       NORMAL_PRIORITY_CLASS, environment, directory,
                       &startup, started)) {
      return std::nullopt;
    }
    return GetLastError();
  }

  // Starts `commandLine`, waits for it and closes its handles. Its exit
  // code, or the start's error code with `startError` set.
  std::uint32_t Run(const std::string& commandLine, bool* startError = nullptr,
                    void* environment = nullptr,
                    const char* directory = nullptr) {
    ProcessInformation started{};
    if (auto error = Start(commandLine, &started, environment, directory)) {
      if (startError) *startError = true;
      return *error;
    }
    if (startError) *startError = false;
    EXPECT_EQ(WaitForSingleObject(started.hProcess, INFINITE), WAIT_OBJECT_0);
    std::uint32_t code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeProcess(started.hProcess, &code));
    EXPECT_TRUE(CloseHandle(started.hProcess));
    EXPECT_TRUE(CloseHandle(started.hThread));
    return code;
  }

  // What record_arguments wrote in `dir`.
  std::vector<std::string> Recorded(const std::filesystem::path& dir) {
    std::ifstream in(dir / "arguments.out", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != bytes.npos;
         start = end + 1) {
      arguments.push_back(bytes.substr(start, end - start));
    }
    return arguments;
  }

  void WriteProgram(const std::filesystem::path& path, const std::string& body,
                    mode_t mode = 0755) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), mode);
  }

  std::optional<std::string> savedPath_;
};

TEST_F(PosixProcess, ChildGetsTheArgumentsTheWindowsRulesGive) {
  setenv("PATH", driverDir.c_str(), 1);
  struct Case {
    const char* name;
    std::string tail;
    std::vector<std::string> arguments;
  } cases[] = {
      {"plain words", "-O 1.zvd http://h/1.zvd", {"-O", "1.zvd", "http://h/1.zvd"}},
      {"quoted space and option-like words", "\"http://h/a b -O x\"",
       {"http://h/a b -O x"}},
      {"escaped quote and backslashes", "a\\\"b c\\\\d \"e\\\\\"",
       {"a\"b", "c\\\\d", "e\\"}},
      {"shell characters are plain bytes", "$HOME;ls|x `y` *", {"$HOME;ls|x", "`y`", "*"}},
      {"no arguments", "", {}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "arguments.out");
    EXPECT_EQ(Run("\"record_arguments.exe\"  " + c.tail), 0u) << c.name;
    EXPECT_EQ(Recorded(dir_), c.arguments) << c.name;
  }
}

TEST_F(PosixProcess, ChildRunsInTheGivenDirectoryAndEnvironment) {
  setenv("PATH", driverDir.c_str(), 1);
  std::filesystem::create_directory(dir_ / "elsewhere");
  char block[] = "PROBE=found\0OTHER=1\0";
  EXPECT_EQ(Run("record_arguments x", nullptr, block, "elsewhere"), 0u);
  EXPECT_EQ(Recorded(dir_ / "elsewhere"),
            (std::vector<std::string>{"x", "PROBE=found"}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "arguments.out"));
}

TEST_F(PosixProcess, ProgramIsSearchedOnPathOnly) {
  // "tool" exists in the current directory, in bin/ and as "both.exe" and
  // "both" in two directories; "plain" only without the extension.
  WriteProgram(dir_ / "tool", "echo cwd > ran");
  WriteProgram(dir_ / "tool.exe", "echo cwd > ran");
  WriteProgram(dir_ / "bin" / "tool", "echo bin > ran");
  WriteProgram(dir_ / "first" / "both", "echo bare > ran");
  WriteProgram(dir_ / "second" / "both.exe", "echo exe > ran");
  WriteProgram(dir_ / "bin" / "locked", "echo locked > ran", 0644);
  std::filesystem::create_directories(dir_ / "bin" / "folder");
  struct Case {
    const char* name;
    std::string path;
    std::string commandLine;
    std::string ran;  // what the program that ran wrote, or the start error
  } cases[] = {
      {"current directory is not searched", "/usr/bin:/bin", "tool.exe", "2"},
      {"nor for an empty PATH entry", ":/usr/bin::/bin:", "tool.exe", "2"},
      {"PATH names it", "/usr/bin:.", "tool.exe", "cwd"},
      {"PATH order", (dir_ / "bin").string() + ":.", "tool", "bin"},
      {".exe falls back to the bare name", (dir_ / "bin").string(), "tool.exe",
       "bin"},
      {"upper-case .EXE too", (dir_ / "bin").string(), "\"tool.EXE\"", "bin"},
      {"the full name first, in any directory",
       (dir_ / "first").string() + ":" + (dir_ / "second").string(),
       "both.exe", "exe"},
      {"a file that may not run", (dir_ / "bin").string(), "locked", "5"},
      {"a directory is no program", (dir_ / "bin").string(), "folder", "5"},
      {"missing everywhere", (dir_ / "bin").string(), "absent.exe", "2"},
      {"a name with a directory is not searched", "/nowhere", "bin\\tool",
       "bin"},
      {"empty program name", "/usr/bin", "\"\" x", "2"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "ran");
    setenv("PATH", c.path.c_str(), 1);
    bool startError = false;
    std::uint32_t code = Run(c.commandLine, &startError);
    std::string ran;
    if (startError) {
      ran = std::to_string(code);
    } else {
      EXPECT_EQ(code, 0u) << c.name;
      std::ifstream(dir_ / "ran") >> ran;
    }
    EXPECT_EQ(ran, c.ran) << c.name;
  }
}

TEST_F(PosixProcess, ExitCodesAndSignals) {
  setenv("PATH", "/usr/bin:/bin", 1);
  struct Case {
    const char* name;
    const char* commandLine;
    std::uint32_t code;
  } cases[] = {
      {"success", "sh -c \"exit 0\"", 0},
      {"failure", "sh -c \"exit 3\"", 3},
      {"high status", "sh -c \"exit 255\"", 255},
      {"killed: 128 + the signal", "sh -c \"kill -KILL $$\"", 128 + 9},
      // This process ignores SIGPIPE; the child must not inherit that.
      {"SIGPIPE is back to its default", "sh -c \"kill -PIPE $$; exit 7\"",
       128 + 13},
  };
  for (const Case& c : cases) {
    bool startError = true;
    EXPECT_EQ(Run(c.commandLine, &startError), c.code) << c.name;
    EXPECT_FALSE(startError) << c.name;
  }
}

TEST_F(PosixProcess, RunningChildIsStillActiveUntilItEnds) {
  setenv("PATH", "/usr/bin:/bin", 1);
  ASSERT_EQ(mkfifo("gate", 0600), 0);
  ProcessInformation started{};
  ASSERT_EQ(Start("cat gate", &started), std::nullopt);
  // The child blocks opening the fifo until this process opens it.
  std::uint32_t code = 0;
  EXPECT_EQ(WaitForSingleObject(started.hProcess, 0), 258u);  // WAIT_TIMEOUT
  ASSERT_TRUE(GetExitCodeProcess(started.hProcess, &code));
  EXPECT_EQ(code, 259u);  // STILL_ACTIVE
  int gate = open("gate", O_WRONLY);
  ASSERT_GE(gate, 0);
  close(gate);
  EXPECT_EQ(WaitForSingleObject(started.hProcess, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeProcess(started.hProcess, &code));
  EXPECT_EQ(code, 0u);
  // A second wait on an ended child returns at once with the same code.
  EXPECT_EQ(WaitForSingleObject(started.hProcess, INFINITE), WAIT_OBJECT_0);

  // Closing frees each handle once; a thread handle cannot be waited on.
  EXPECT_EQ(WaitForSingleObject(started.hThread, INFINITE), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(started.hProcess));
  EXPECT_TRUE(CloseHandle(started.hThread));
  EXPECT_FALSE(CloseHandle(started.hProcess));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetExitCodeProcess(started.hProcess, &code));
}

TEST_F(PosixProcess, HandlesOfEndedChildrenAreReused) {
  // More children than the handle table has slots, each closed after it
  // ended: none may fail for want of a handle.
  setenv("PATH", "/usr/bin:/bin", 1);
  for (int i = 0; i < 600; ++i) {
    bool startError = true;
    ASSERT_EQ(Run("true", &startError), 0u) << i;
    ASSERT_FALSE(startError) << i;
  }
}

}  // namespace
