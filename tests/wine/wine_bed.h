// The Wine test bed: runs the Windows build under Wine in the real-terminal
// harness, the same way as the native program, so that one scenario can
// run against both builds and their screens be compared cell for cell.
// Both builds run their copies for the end-to-end test server
// (catalogo_e2e and catalogo_e2e.exe), which differ from the product only
// in the base address.
//
// Under Wine the program runs in a private prefix in the build tree (made
// once by scripts/wine-prefix, a ctest fixture), headless (no display, the
// null graphics driver) and with Wine's debug output off. Wine's console
// draws its cells onto the pseudo-terminal with cursor-addressing
// sequences, sized from the terminal.
//
// "wget.exe" is found on Wine's search path (WINEPATH) in the bridge
// directory: a small Windows program of ours (wget_bridge.cc) that runs
// Debian's wget and waits for it, because Wine starts a Linux program from
// CreateProcessA without a process handle to wait on.
//
// Usage:
//
//   WINEBED_REQUIRE(winebed::Build::windows);
//   winebed::Stage stage;                  // scratch dir, port lock, wgetrc
//   stage.ServeCatalogue({{"a", "Alfa", "x/alfa.txt"}});
//   ASSERT_TRUE(stage.StartServer());
//   winebed::Scenario scenario{"menu", 10, 40, {{">", "a\r", {{2, 2}}}}};
//   winebed::Outcome windows = stage.Run(winebed::Build::windows, scenario);
//   winebed::Outcome native = stage.Run(winebed::Build::native, scenario);
//   EXPECT_EQ(winebed::Differences(native, windows), "");
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/ci.h"
#include "tests/e2e/catalogue_files.h"
#include "tests/harness/terminal.h"

class CatalogueServer;
class PortLock;

namespace winebed {

enum class Build { native, windows };
const char* BuildName(Build build);

// What keeps `build` from running here, or "" when nothing does.
std::string Missing(Build build);

// Skips the test when `build` cannot run here; fails it when CI=true.
#define WINEBED_REQUIRE(build) SKIP_UNLESS_PRESENT(::winebed::Missing(build))

// The executable of each build.
std::string ProgramPath(Build build);

// Drive Z: is Wine's view of the Unix root: "/a/b" is "Z:\a\b".
std::string WindowsPath(const std::filesystem::path& unixPath);

// The environment entries that run a Windows program under our Wine bed,
// with wget.exe on its search path when `downloader` is true.
std::vector<std::string> WineEnvironment(bool downloader = true);

// Terminal options that start `argv` (argv[0] a Windows executable when
// `build` is windows) in `workingDirectory`, with `environment` added.
// Without `downloader`, neither build finds a wget to run.
harness::Options ProgramOptions(Build build, std::vector<std::string> argv,
                                const std::string& workingDirectory,
                                const std::vector<std::string>& environment,
                                bool downloader = true);

// Waits with the bound until `condition` holds, looking again every few
// milliseconds even when the program writes nothing: the terminal's mode
// changes without a byte of output.
bool WaitLooking(harness::Terminal& terminal,
                 const std::function<bool()>& condition,
                 int timeoutMs = harness::defaultTimeoutMs);

// ---------------------------------------------------------------------------
// Scenarios
// ---------------------------------------------------------------------------

// Waits until a row shows `row` whole (trailing blanks aside; when not
// empty) with the cursor at `cursorAt` (when given), then types `keys`.
// A program draws a screen in many writes: the cursor's final place tells
// that a screen is whole. Keys are typed only once the program reads keys
// (the terminal no longer echoes): under Wine, keys that come earlier are
// echoed by the terminal behind the console's back.
struct Step {
  std::string row;
  std::string keys;
  std::optional<harness::Position> cursorAt;
};

struct Scenario {
  std::string name;
  int rows = 24;
  int columns = 80;
  std::vector<Step> steps;
  // True: the run ends by itself after the last step; false: the screen
  // is taken once the last step's row shows (the program may still wait
  // for keys, and is then ended).
  bool endsByItself = true;
  // False: neither build finds a wget to run.
  bool downloader = true;
};

struct Outcome {
  // Empty when every wait held.
  std::string failure;
  std::vector<std::vector<harness::Cell>> cells;
  harness::Position cursor{0, 0};
  int exitCode = -1;
  // The files in the working directory afterwards, by name.
  std::map<std::string, std::string> files;
  // The screen as text, for messages.
  std::string description;
};

// The row's text, trailing blanks dropped.
std::string RowText(const Outcome& outcome, int row);

// Hides the 8 hexadecimal digits after each "$" on the screen, the image
// offsets of a run-time error report, which differ between the builds'
// images.
void MaskReportAddresses(Outcome* outcome);

// The cells, cursor, exit code and files that differ, one line each; ""
// when the two outcomes agree.
std::string Differences(const Outcome& expected, const Outcome& actual);

using e2e::Entry;

// A scratch directory with a served tree, one working directory per build,
// a wget configuration that keeps wget quiet (its output would otherwise
// reach the terminal behind the console's back) and, once started, the
// test catalogue server on the port of the programs' base address. The
// port is locked machine-wide while the stage lives, as the other
// end-to-end tests lock it.
class Stage {
 public:
  Stage();
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Serves `entries` as the three catalogue files (CR LF lines), each
  // entry with a small file at its path.
  void ServeCatalogue(const std::vector<Entry>& entries);
  // Writes the three catalogue files into both working directories, as a
  // run that fetched them would have left them.
  void LeaveCatalogue(const std::vector<Entry>& entries);
  // `faults` are further arguments of the server (--status PATH=CODE...).
  bool StartServer(const std::vector<std::string>& faults = {});

  std::filesystem::path Served(const std::string& path) const;
  std::filesystem::path Work(Build build) const;

  // Runs `scenario` against `build` in its working directory.
  Outcome Run(Build build, const Scenario& scenario);

  // The environment every run gets: wget's configuration, no proxy.
  std::vector<std::string> Environment() const;

 private:
  std::filesystem::path directory_;
  std::unique_ptr<PortLock> lock_;
  std::unique_ptr<CatalogueServer> server_;
};

}  // namespace winebed
