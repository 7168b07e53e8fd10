// The Windows build under Wine in a real terminal: the wget.exe bridge,
// and catalogo.exe drawing its screen through Wine's console, compared
// cell for cell with the native build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/harness/terminal.h"
#include "tests/wine/wine_bed.h"

namespace {

namespace fs = std::filesystem;
using winebed::Build;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Names in Windows-1252, as a Spanish server holds them.
const std::vector<winebed::Entry> catalogue = {
    {"1", "Canci\xf3n de cuna", "archivos/cancion.txt"},
    {"2", "Mapa de Espa\xf1" "a", "archivos/mapa.txt"},
    {"g", "Gu\xed" "a de la ciudad", "guia.txt"},
};

// ---------------------------------------------------------------------------
// The bridge
// ---------------------------------------------------------------------------

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
      EXPECT_EQ(ReadFile(saved), ReadFile(stage.Served("archivos/mapa.txt")));
    }
    // The quiet configuration reached wget: nothing of it on the screen.
    EXPECT_EQ(terminal.Screen(), std::string(terminal.Rows(), '\n'));
  }
}

// ---------------------------------------------------------------------------
// catalogo.exe in the terminal
// ---------------------------------------------------------------------------

// Up to the prompt: the catalogue fetched by the real wget, the console
// cleared, the menu and the prompt written through the console writer.
const winebed::Scenario menuScenario = {
    "menu and prompt", 10, 50, {{">", "", harness::Position{4, 2}}}, false};

TEST(WineBed, WindowsBuildDrawsTheMenu) {
  WINEBED_REQUIRE(Build::windows);
  winebed::Stage stage;
  stage.ServeCatalogue(catalogue);
  ASSERT_TRUE(stage.StartServer());

  winebed::Outcome windows = stage.Run(Build::windows, menuScenario);
  ASSERT_EQ(windows.failure, "") << windows.description;
  std::vector<std::string> rows;
  for (const auto& row : windows.cells) {
    std::string text;
    for (const harness::Cell& cell : row) text += cell.text.empty() ? " " : cell.text;
    rows.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
  }
  // The terminal shows them in UTF-8.
  EXPECT_EQ(rows[0], "1 para descargar Canción de cuna");
  EXPECT_EQ(rows[1], "2 para descargar Mapa de España");
  EXPECT_EQ(rows[2], "g para descargar Guía de la ciudad");
  EXPECT_EQ(rows[3], "");
  EXPECT_EQ(rows[4], ">");
  for (const char* file : {"1.zvd", "2.zvd", "3.zvd"}) {
    EXPECT_EQ(ReadFile(stage.Work(Build::windows) / file), ReadFile(stage.Served(file)))
        << file;
  }
}

TEST(WineBed, BothBuildsLeaveTheSameMenuScreen) {
  WINEBED_REQUIRE(Build::native);
  WINEBED_REQUIRE(Build::windows);
  winebed::Stage stage;
  stage.ServeCatalogue(catalogue);
  ASSERT_TRUE(stage.StartServer());

  winebed::Outcome native = stage.Run(Build::native, menuScenario);
  winebed::Outcome windows = stage.Run(Build::windows, menuScenario);
  EXPECT_EQ(winebed::Differences(native, windows), "");
}

}  // namespace
