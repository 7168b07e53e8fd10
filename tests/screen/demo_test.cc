// The README's first command, scripts/demo, as a user runs it: in a
// terminal, building the program, serving the demo catalogue on
// 127.0.0.1:8642 and running the program in a scratch directory.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>

#include "tests/e2e/catalogue_server.h"
#include "tests/e2e/port_lock.h"
#include "tests/harness/terminal.h"

namespace {

namespace fs = std::filesystem;

const fs::path sourceDir = CATALOGO_SOURCE_DIR;
constexpr int demoPort = 8642;
// The first run configures and builds the program.
constexpr int buildTimeoutMs = 600000;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A socket bound to the demo's port on 127.0.0.1, or -1 when it is taken.
int BindDemoPort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  // As the demo's server does: connections closing on the port do not count.
  int reuse = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(demoPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// A wgetrc of the user's or the system's must not change what wget does
// here: the demo runs with empty ones from `dir`.
harness::Options DemoOptions(const fs::path& dir) {
  harness::Options options;
  options.argv = {(sourceDir / "scripts" / "demo").string()};
  options.rows = 40;
  options.columns = 120;
  std::ofstream(dir / "wgetrc").flush();
  std::ofstream(dir / "system-wgetrc").flush();
  options.environment = {"WGETRC=" + (dir / "wgetrc").string(),
                         "SYSTEM_WGETRC=" + (dir / "system-wgetrc").string()};
  return options;
}

// Each test has the demo's port to itself: locked against the other tests,
// and checked free. The demo needs wget and python3 (scripts/install-deps).
class Demo : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_PRESENT(access("/usr/bin/wget", X_OK) != 0 ||
                                access("/usr/bin/python3", X_OK) != 0
                            ? "wget or python3"
                            : "");
    lock_ = std::make_unique<PortLock>(demoPort);
    ASSERT_TRUE(lock_->Held());
    int probe = BindDemoPort();
    ASSERT_GE(probe, 0) << "port " << demoPort << " is taken: is a demo running?";
    close(probe);
    char pattern[] = "/tmp/catalogo-demo-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::unique_ptr<PortLock> lock_;
  fs::path dir_;
};

TEST_F(Demo, RunsTheProgramAgainstTheDemoCatalogue) {
  harness::Terminal terminal(DemoOptions(dir_));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  // Five entries, an empty line, the prompt.
  ASSERT_TRUE(terminal.WaitFor(
      [&] {
        return terminal.Row(6) == ">" &&
               terminal.Cursor() == harness::Position{6, 2};
      },
      buildTimeoutMs))
      << terminal.Describe();
  EXPECT_EQ(terminal.Row(0), "1 para descargar Canción de cuna");
  EXPECT_EQ(terminal.Row(4), "p para descargar Poema del otoño");

  terminal.Type("p\r");
  ASSERT_TRUE(terminal.WaitForText("Pulsa ENTER para continuar."))
      << terminal.Describe();
  EXPECT_EQ(terminal.Row(8), "Estas a punto de descargar Poema del otoño.");
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForText("Listo.")) << terminal.Describe();
  terminal.Type("\r");
  ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
  EXPECT_EQ(terminal.ExitCode(), 0) << terminal.Describe();

  std::smatch found;
  std::string screen = terminal.Screen();
  ASSERT_TRUE(std::regex_search(screen, found,
                                std::regex("What it downloaded is in (\\S+):")))
      << terminal.Describe();
  fs::path downloads = found[1].str();
  EXPECT_EQ(ReadFile(downloads / "poema-otono.txt"),
            ReadFile(sourceDir / "demo" / "archivos" / "poema-otono.txt"));
  for (const char* file : {"1.zvd", "2.zvd", "3.zvd"}) {
    EXPECT_EQ(ReadFile(downloads / file), ReadFile(sourceDir / "demo" / file))
        << file;
  }
  fs::remove_all(downloads.parent_path());

  // The server has stopped with the program.
  int probe = BindDemoPort();
  EXPECT_GE(probe, 0) << "the demo server still listens";
  if (probe >= 0) close(probe);
}

TEST_F(Demo, SaysSoWhenThePortIsTaken) {
  int taken = BindDemoPort();
  ASSERT_GE(taken, 0);
  ASSERT_EQ(listen(taken, 1), 0);

  harness::Terminal terminal(DemoOptions(dir_));
  ASSERT_TRUE(terminal.Started()) << terminal.StartError();
  ASSERT_TRUE(terminal.WaitForExit(buildTimeoutMs)) << terminal.Describe();
  close(taken);
  EXPECT_EQ(terminal.ExitCode(), 1);
  EXPECT_NE(terminal.Screen().find("port 8642 on 127.0.0.1 is taken"),
            std::string::npos)
      << terminal.Describe();
}

}  // namespace
