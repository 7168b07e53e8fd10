// The end-to-end scenarios of the program, written once and run against
// both builds: the native program and catalogo.exe under Wine, each in the
// real-terminal harness with the real wget and the test server. For every
// scenario the final screen of the two builds must agree cell for cell
// (colours included), and so must the cursor, the exit status and the
// files left in the working directory; the native run is also checked
// against the screen, status and files the scenario expects, so that the
// two cannot agree on a wrong result.
//
// wget is kept quiet by its configuration (see winebed::Stage), so that
// only the program's own text is compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/files.h"
#include "tests/wine/wine_bed.h"

namespace {

namespace fs = std::filesystem;
using harness::Position;
using winebed::Build;
using winebed::Entry;
using winebed::Step;

constexpr int rows = 14;
constexpr int columns = 60;

// Where the catalogue comes from.
enum class Source {
  served,            // the test server, through wget
  leftInDirectory,   // an earlier run's files; no wget to run
  none,              // neither: no wget and no catalogue files
};

struct Row {
  const char* name;
  std::vector<Entry> catalogue;
  Source source;
  std::vector<std::string> serverFaults;
  std::vector<Step> steps;
  int exitCode;
  // The final screen from the top (UTF-8, trailing blanks dropped); the
  // rows below are blank.
  std::vector<std::string> screen;
  // Served paths whose files the working directory holds afterwards,
  // beside the catalogue files.
  std::vector<std::string> downloaded;
  // The screen shows a run-time error report, whose addresses are offsets
  // in each build's own image: they are compared as "########".
  bool report = false;
};

// ---------------------------------------------------------------------------
// Catalogues
// ---------------------------------------------------------------------------

// Names in Windows-1252, as a Spanish server holds them.
const std::vector<Entry> spanish = {
    {"1", "Canci\xf3n de cuna", "archivos/cancion.txt"},
    {"2", "Mapa de Espa\xf1" "a", "archivos/mapa.txt"},
    {"g", "Gu\xed" "a de la ciudad", "guia.txt"},
};

const std::vector<std::string> spanishMenu = {
    "1 para descargar Canci\xc3\xb3n de cuna",
    "2 para descargar Mapa de Espa\xc3\xb1" "a",
    "g para descargar Gu\xc3\xad" "a de la ciudad",
    "",
};

const std::vector<Entry> sharedKey = {
    {"k", "primero", "primero.txt"},
    {"a", "otro", "otro.txt"},
    {"k", "segundo", "segundo.txt"},
};

const std::vector<Entry> upperCaseKey = {{"A", "Agenda", "agenda.txt"}};

// Keys that are letters of Windows-1252 beyond ASCII: "ñ" (0xF1) and
// "€" (0x80).
const std::vector<Entry> accentedKeys = {
    {"\xf1", "\xd1" "and\xfa", "nandu.txt"},
    {"\x80", "Euros", "euros.txt"},
    {"n", "Nada", "nada.txt"},
};

std::vector<std::string> Lines(std::vector<std::string> head,
                               const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The prompt's row below a menu of `entries` lines.
Position Prompt(std::size_t entries) { return {static_cast<int>(entries) + 1, 2}; }

const std::string announceMap = "Estas a punto de descargar Mapa de Espa\xc3\xb1" "a.";
const std::string announceSong = "Estas a punto de descargar Canci\xc3\xb3n de cuna.";
const std::string announceGuide = "Estas a punto de descargar Gu\xc3\xad" "a de la ciudad.";
const std::string confirm = "Pulsa ENTER para continuar.";
const std::string noMatch = "No hay ninguna entrada con esa tecla.";

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

const Row scenarios[] = {
    // Text before Enter at the confirmation: the final pause takes the
    // rest of that line and the run ends right after "Listo.".
    {"NormalRun",
     spanish, Source::served, {},
     {{">", "2\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     0,
     Lines(spanishMenu, {"> 2", "", announceMap, confirm, "x", "Listo."}),
     {"archivos/mapa.txt"}},

    // Plain Enter at the confirmation: one more line after "Listo.".
    {"PlainEnterAtTheConfirmationNeedsOneMoreEnter",
     spanish, Source::served, {},
     {{">", "1\r", Prompt(3)},
      {confirm, "\r", Position{8, 0}},
      {"Listo.", "z", Position{10, 0}},
      {"z", "\r", Position{10, 1}}},
     0,
     Lines(spanishMenu, {"> 1", "", announceSong, confirm, "", "Listo.", "z"}),
     {"archivos/cancion.txt"}},

    {"OnlyTheFirstTypedByteCounts",
     spanish, Source::served, {},
     {{">", "1g2\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     0,
     Lines(spanishMenu, {"> 1g2", "", announceSong, confirm, "x", "Listo."}),
     {"archivos/cancion.txt"}},

    {"OfEntriesSharingAKeyTheLastIsDownloaded",
     sharedKey, Source::served, {},
     {{">", "k\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     0,
     {"k para descargar primero", "a para descargar otro",
      "k para descargar segundo", "", "> k", "",
      "Estas a punto de descargar segundo.", confirm, "x", "Listo."},
     {"segundo.txt"}},

    // What the terminal sends for a typed letter is its Windows-1252 byte:
    // "€" chooses the entry whose key is 0x80, and both letters echo.
    {"TypedLettersAreWindows1252Bytes",
     accentedKeys, Source::served, {},
     {{">", "\xe2\x82\xac\xc3\xb1\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     0,
     {"\xc3\xb1 para descargar \xc3\x91" "and\xc3\xba", "\xe2\x82\xac para descargar Euros",
      "n para descargar Nada", "", "> \xe2\x82\xac\xc3\xb1", "",
      "Estas a punto de descargar Euros.", confirm, "x", "Listo."},
     {"euros.txt"}},

    // A key of no entry is said so; nothing is downloaded; the final
    // pause; exit status 1.
    {"KeyOfNoEntryDownloadsNothing",
     upperCaseKey, Source::served, {},
     {{">", "a\r", Prompt(1)},
      {noMatch, "q", Position{5, 0}},
      {"q", "\r", Position{5, 1}}},
     1,
     {"A para descargar Agenda", "", "> a", "", noMatch, "q"},
     {}},

    {"EnterAloneAtThePromptIsNoKey",
     upperCaseKey, Source::served, {},
     {{">", "\r", Prompt(1)}, {noMatch, "\r", Position{5, 0}}},
     1,
     {"A para descargar Agenda", "", ">", "", noMatch},
     {}},

    {"EmptyCatalogue",
     {}, Source::served, {},
     {{">", "1\r", Prompt(0)}, {noMatch, "\r", Position{4, 0}}},
     1,
     {"", "> 1", "", noMatch},
     {}},

    // The server answers 404 for the entry: wget fails, and the program
    // says so instead of "Listo.".
    {"MissingItemIsAFailedDownload",
     spanish, Source::served, {"--status", "/catalogo/archivos/mapa.txt=404"},
     {{">", "2\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     1,
     Lines(spanishMenu, {"> 2", "", announceMap, confirm, "x",
                         "La descarga ha fallado."}),
     {}},

    // No wget to run: the catalogue of an earlier run is shown, and the
    // download cannot start.
    {"NoDownloaderCannotStart",
     spanish, Source::leftInDirectory, {},
     {{">", "1\r", Prompt(3)}, {confirm, "x\r", Position{8, 0}}},
     1,
     Lines(spanishMenu, {"> 1", "", announceSong, confirm, "x",
                         "No se pudo iniciar wget.exe."}),
     {}},

    // The line editor's keys at the prompt and at both pauses: Backspace
    // (DEL and Ctrl-H), Left, End, Home, typing over, Esc and Ctrl-Y.
    {"EditingKeysAtThePromptAndBothPauses",
     spanish, Source::served, {},
     {{">", "abc", Prompt(3)},
      {"> abc", "\x7f", Position{4, 5}},
      {"> ab", "\x1b[D\x1b[Dg", Position{4, 4}},
      {"> gb", "\x1b[F", Position{4, 3}},
      {"> gb", "\x1b", Position{4, 4}},
      {">", "1x", Position{4, 2}},
      {"> 1x", "\x1b[Hg", Position{4, 4}},
      {"> gx", "\r", Position{4, 3}},
      // "x" taken back: a plain Enter, so the final pause waits.
      {confirm, "x", Position{8, 0}},
      {"x", "\x08\r", Position{8, 1}},
      {"Listo.", "\x1b[Dyz", Position{10, 0}},
      {"yz", "\x19", Position{10, 2}},
      {"Listo.", "w\r", Position{10, 0}}},
     0,
     Lines(spanishMenu, {"> gx", "", announceGuide, confirm, "", "Listo.", "w"}),
     {"guia.txt"}},

    // The worked case of the run-time error report: no wget, no "1.zvd".
    // The check in the loader, its call in the main body, the main body's
    // call in the start-up code, an empty line; exit status 2.
    {"MissingCatalogueStopsWithTheReport",
     {}, Source::none, {},
     {},
     2,
     {"Runtime error 2 at $########", "  $########", "  $########",
      "  $########", ""},
     {},
     true},
};

// A row shows as its name in test names and messages.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Scenario : public ::testing::TestWithParam<Row> {};

TEST_P(Scenario, BothBuildsAgree) {
  const Row& row = GetParam();
  WINEBED_REQUIRE(Build::native);
  WINEBED_REQUIRE(Build::windows);

  winebed::Stage stage;
  std::map<std::string, std::string> files;
  if (row.source == Source::served) {
    stage.ServeCatalogue(row.catalogue);
    ASSERT_TRUE(stage.StartServer(row.serverFaults));
    for (const char* name : {"1.zvd", "2.zvd", "3.zvd"}) {
      files[name] = e2e::ReadBytes(stage.Served(name));
    }
  } else if (row.source == Source::leftInDirectory) {
    stage.LeaveCatalogue(row.catalogue);
    for (const char* name : {"1.zvd", "2.zvd", "3.zvd"}) {
      files[name] = e2e::ReadBytes(stage.Work(Build::native) / name);
    }
  }
  for (const std::string& path : row.downloaded) {
    files[fs::path(path).filename().string()] = e2e::ReadBytes(stage.Served(path));
  }

  winebed::Scenario scenario{row.name, rows, columns, row.steps, true,
                             row.source == Source::served};
  winebed::Outcome native = stage.Run(Build::native, scenario);
  winebed::Outcome windows = stage.Run(Build::windows, scenario);
  ASSERT_EQ(native.failure, "") << native.description;
  ASSERT_EQ(windows.failure, "") << windows.description;
  if (row.report) {
    winebed::MaskReportAddresses(&native);
    winebed::MaskReportAddresses(&windows);
  }

  // What the scenario expects, on the native build.
  EXPECT_EQ(native.exitCode, row.exitCode) << native.description;
  for (int r = 0; r < rows; ++r) {
    std::size_t i = static_cast<std::size_t>(r);
    EXPECT_EQ(winebed::RowText(native, r), i < row.screen.size() ? row.screen[i] : "")
        << "row " << r << "\n" << native.description;
  }
  EXPECT_EQ(native.files, files);

  // And the Windows build does the same.
  EXPECT_EQ(winebed::Differences(native, windows), "");
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, Scenario, ::testing::ValuesIn(scenarios),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
