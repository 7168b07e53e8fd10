// The wget.exe bridge under Wine, which the Windows build's scenarios
// (scenarios_test.cc) run as their downloader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/files.h"
#include "tests/harness/terminal.h"
#include "tests/wine/wine_bed.h"

namespace {

namespace fs = std::filesystem;
using winebed::Build;

// Names in Windows-1252, as a Spanish server holds them.
const std::vector<winebed::Entry> catalogue = {
    {"1", "Canci\xf3n de cuna", "archivos/cancion.txt"},
    {"2", "Mapa de Espa\xf1" "a", "archivos/mapa.txt"},
    {"g", "Gu\xed" "a de la ciudad", "guia.txt"},
};

// wget.exe under Wine ends when Debian's wget has ended, with its exit
// status: the file is whole when the caller goes on.
TEST(WineBridge, WaitsForWgetAndEndsWithItsStatus) {
  WINEBED_REQUIRE(Build::windows);
  winebed::Stage stage;
  stage.ServeCatalogue(catalogue);
  ASSERT_TRUE(stage.StartServer());
  std::string base = CATALOGUE_BASE_ADDRESS;

  struct Case {
    const char* name;
    std::string address;
    int exitCode;  // wget's: 0 done, 8 the server answered with an error
  };
  const Case cases[] = {
      {"file served", base + "archivos/mapa.txt", 0},
      {"no such file", base + "archivos/nada.txt", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path saved = stage.Work(Build::windows) / "saved.txt";
    fs::remove(saved);
    harness::Terminal terminal(winebed::ProgramOptions(
        Build::windows,
        {(fs::path(WINE_BRIDGE_DIR) / "wget.exe").string(), "-O", "saved.txt", c.address},
        stage.Work(Build::windows).string(), stage.Environment()));
    ASSERT_TRUE(terminal.Started()) << terminal.StartError();
    ASSERT_TRUE(terminal.WaitForExit()) << terminal.Describe();
    EXPECT_EQ(terminal.ExitCode(), c.exitCode) << terminal.Describe();
    if (c.exitCode == 0) {
      EXPECT_EQ(e2e::ReadBytes(saved), e2e::ReadBytes(stage.Served("archivos/mapa.txt")));
    }
    // The quiet configuration reached wget: nothing of it on the screen.
    EXPECT_EQ(terminal.Screen(), std::string(terminal.Rows(), '\n'));
  }
}

}  // namespace
