// The whole program, end to end: a real catalogue server on 127.0.0.1, the
// real wget, and the program in a real terminal.
//
// The program under test is a copy built for the test server's address
// (http://127.0.0.1:<CATALOGO_E2E_PORT>/catalogo/), so that the tests need
// neither the demo's port nor the product's address. The port is fixed, so
// the tests take a machine-wide lock on it, one at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/catalogue_files.h"
#include "tests/e2e/catalogue_server.h"
#include "tests/e2e/files.h"
#include "tests/e2e/port_lock.h"
#include "tests/harness/terminal.h"

namespace {

namespace fs = std::filesystem;

const std::string programPath = CATALOGO_E2E_PATH;
const std::string serverPort = std::to_string(CATALOGO_E2E_PORT);
const std::string python = PYTHON3_PATH;
const std::string wget = WGET_PATH;
// The path of the test copy's base address on the server.
const std::string basePath = "/catalogo/";

constexpr int rows = 40;
constexpr int columns = 100;

using e2e::Entry;

std::vector<std::string> MenuOf(const std::vector<Entry>& entries) {
  std::vector<std::string> lines;
  for (const Entry& e : entries) {
    lines.push_back(e.key + " para descargar " + Shown(e.name));
  }
  return lines;
}

using e2e::ReadBytes;
using e2e::WriteBytes;

class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_PRESENT(python.empty() || wget.empty() ? "wget or python3" : "");
    lock_ = std::make_unique<PortLock>(CATALOGO_E2E_PORT);
    ASSERT_TRUE(lock_->Held());

    char pattern[] = "/tmp/catalogo-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(Served(""));
    fs::create_directories(Work(""));
    // wget reads no configuration but ours, and goes through no proxy.
    WriteBytes(dir_ / "wgetrc", "use_proxy = off\n");
    WriteBytes(dir_ / "system-wgetrc", "");
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy",
                              "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
      unsetenv(proxy);
    }
  }

  void TearDown() override {
    terminal_.reset();
    server_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
    lock_.reset();
  }

  fs::path Served(const std::string& path) { return dir_ / "root" / "catalogo" / path; }
  fs::path Work(const std::string& name) { return dir_ / "work" / name; }

  // Serves `entries`, each with a small file of its own at its path.
  void ServeCatalogue(const std::vector<Entry>& entries) {
    e2e::WriteCatalogue(Served(""), entries);
    for (const Entry& e : entries) {
      WriteBytes(Served(e.path), "contenido de " + e.path + "\r\n\x01\xff");
    }
  }

  void StartServer(const std::vector<std::string>& faults = {}) {
    server_ = std::make_unique<CatalogueServer>(
        python, dir_ / "root", dir_ / "requests.log", CATALOGO_E2E_PORT, faults);
    ASSERT_TRUE(server_->Listening())
        << "the test server could not listen on 127.0.0.1:" << serverPort;
  }

  // Starts the program in the work directory; `path` is its PATH.
  void StartProgram(const std::string& path = "") {
    harness::Options options;
    options.argv = {programPath};
    options.rows = rows;
    options.columns = columns;
    options.workingDirectory = Work("").string();
    options.environment = {
        "PATH=" + (path.empty() ? fs::path(wget).parent_path().string() : path),
        "HOME=" + dir_.string(),
        "WGETRC=" + (dir_ / "wgetrc").string(),
        "SYSTEM_WGETRC=" + (dir_ / "system-wgetrc").string(),
        "LC_ALL=C",
    };
    terminal_ = std::make_unique<harness::Terminal>(options);
    ASSERT_TRUE(terminal_->Started()) << terminal_->StartError();
  }

  // Waits for the menu of `lines` lines and the prompt below it.
  void WaitForMenu(const std::vector<std::string>& lines) {
    int promptRow = static_cast<int>(lines.size()) + 1;
    ASSERT_TRUE(terminal_->WaitFor([&] {
      return terminal_->Row(promptRow) == ">" &&
             terminal_->Cursor() == harness::Position{promptRow, 2};
    })) << terminal_->Describe();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(terminal_->Row(static_cast<int>(i)), lines[i]) << i;
    }
    EXPECT_EQ(terminal_->Row(promptRow - 1), "");
  }

  // Starts the server and the program and waits for the menu of `entries`.
  void StartAtMenu(const std::vector<Entry>& entries,
                   const std::vector<std::string>& faults = {},
                   const std::string& path = "") {
    ASSERT_NO_FATAL_FAILURE(StartServer(faults));
    ASSERT_NO_FATAL_FAILURE(StartProgram(path));
    ASSERT_NO_FATAL_FAILURE(WaitForMenu(MenuOf(entries)));
  }

  // Types the choice and waits for the request to confirm.
  void Choose(const std::string& typed) {
    terminal_->Type(typed);
    ASSERT_TRUE(WaitForRow("Pulsa ENTER para continuar."))
        << terminal_->Describe();
  }

  // Types `typed` and waits for the run to end.
  void TypeToTheEnd(const std::string& typed) {
    terminal_->Type(typed);
    ASSERT_TRUE(terminal_->WaitForExit()) << terminal_->Describe();
  }

  // The row that shows `text` whole, the last one if several do; -1 if none.
  int RowOf(const std::string& text) {
    for (int row = rows - 1; row >= 0; --row) {
      if (terminal_->Row(row) == text) return row;
    }
    return -1;
  }

  bool WaitForRow(const std::string& text) {
    return terminal_->WaitFor([&] { return RowOf(text) >= 0; });
  }

  // The request paths the server was asked for, in order.
  std::vector<std::string> Requests() {
    std::vector<std::string> paths;
    std::ifstream in(dir_ / "requests.log", std::ios::binary);
    for (std::string line; std::getline(in, line);) paths.push_back(line);
    return paths;
  }

  std::vector<std::string> CatalogueRequests() {
    return {basePath + "1.zvd", basePath + "2.zvd", basePath + "3.zvd"};
  }

  // The files in the work directory, sorted.
  std::vector<std::string> WorkFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Work(""))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::unique_ptr<PortLock> lock_;
  std::unique_ptr<CatalogueServer> server_;
  std::unique_ptr<harness::Terminal> terminal_;
};

const std::vector<Entry> spanishCatalogue = {
    {"1", "Canci\xf3" "n de cuna", "archivos/cancion.txt"},
    {"2", "Mapa de Espa\xf1" "a", "archivos/mapa.txt"},
    {"g", "Gu\xed" "a de la ciudad", "guia.txt"},
};

// ---------------------------------------------------------------------------
// A normal run and the two pauses
// ---------------------------------------------------------------------------

TEST_F(ProgramRun, NormalRunDownloadsTheChosenEntry) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(spanishCatalogue));
  EXPECT_EQ(Requests(), CatalogueRequests());

  ASSERT_NO_FATAL_FAILURE(Choose("2\r"));
  EXPECT_EQ(terminal_->Row(4), "> 2");
  EXPECT_EQ(terminal_->Row(5), "");
  EXPECT_EQ(terminal_->Row(6), "Estas a punto de descargar " +
                                   Shown("Mapa de Espa\xf1" "a") + ".");
  EXPECT_EQ(terminal_->Row(7), "Pulsa ENTER para continuar.");
  // Nothing is fetched before the confirmation.
  EXPECT_EQ(Requests().size(), 3u);

  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  // wget's own report shows between the confirmation and "Listo.".
  int done = RowOf("Listo.");
  ASSERT_GT(done, 8) << terminal_->Describe();
  EXPECT_NE(terminal_->Screen().find("mapa.txt"), std::string::npos);

  std::vector<std::string> expected = CatalogueRequests();
  expected.push_back(basePath + "archivos/mapa.txt");
  EXPECT_EQ(Requests(), expected);
  EXPECT_EQ(ReadBytes(Work("mapa.txt")), ReadBytes(Served("archivos/mapa.txt")));
  for (const char* file : {"1.zvd", "2.zvd", "3.zvd"}) {
    EXPECT_EQ(ReadBytes(Work(file)), ReadBytes(Served(file))) << file;
  }
  EXPECT_EQ(WorkFiles(),
            (std::vector<std::string>{"1.zvd", "2.zvd", "3.zvd", "mapa.txt"}));
}

TEST_F(ProgramRun, PlainEnterAtTheConfirmationNeedsOneMoreEnter) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(spanishCatalogue));
  ASSERT_NO_FATAL_FAILURE(Choose("1\r"));
  terminal_->Type("\r");
  ASSERT_TRUE(WaitForRow("Listo.")) << terminal_->Describe();
  // The program waits for a new line: its line editor echoes what is typed
  // below "Listo.".
  int done = RowOf("Listo.");
  terminal_->Type("z");
  ASSERT_TRUE(terminal_->WaitFor([&] {
    return terminal_->Row(done + 1) == "z";
  })) << terminal_->Describe();
  EXPECT_TRUE(terminal_->Running());
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  EXPECT_EQ(ReadBytes(Work("cancion.txt")),
            ReadBytes(Served("archivos/cancion.txt")));
}

TEST_F(ProgramRun, TextBeforeEnterAtTheConfirmationEndsRightAfterListo) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(spanishCatalogue));
  ASSERT_NO_FATAL_FAILURE(Choose("g\r"));
  // No key after "Listo.".
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  EXPECT_GE(RowOf("Listo."), 0) << terminal_->Describe();
  EXPECT_EQ(ReadBytes(Work("guia.txt")), ReadBytes(Served("guia.txt")));
}

// ---------------------------------------------------------------------------
// The choice
// ---------------------------------------------------------------------------

TEST_F(ProgramRun, OnlyTheFirstTypedByteCounts) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(spanishCatalogue));
  ASSERT_NO_FATAL_FAILURE(Choose("1g2\r"));
  EXPECT_EQ(terminal_->Row(6), "Estas a punto de descargar " +
                                   Shown("Canci\xf3" "n de cuna") + ".");
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  EXPECT_EQ(Requests().back(), basePath + "archivos/cancion.txt");
}

TEST_F(ProgramRun, OfEntriesSharingAKeyTheLastIsDownloaded) {
  const std::vector<Entry> entries = {
      {"k", "primero", "primero.txt"},
      {"a", "otro", "otro.txt"},
      {"k", "segundo", "segundo.txt"},
  };
  ServeCatalogue(entries);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(entries));
  terminal_->Type("k\r");
  ASSERT_TRUE(WaitForRow("Estas a punto de descargar segundo."))
      << terminal_->Describe();
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  EXPECT_EQ(Requests().back(), basePath + "segundo.txt");
  EXPECT_FALSE(fs::exists(Work("primero.txt")));
}

// A key that no entry has is said so; nothing is downloaded, the program
// waits for Enter as after "Listo." and ends with exit status 1.
TEST_F(ProgramRun, KeyOfNoEntryIsSaidSoAndDownloadsNothing) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::string typed;
  } cases[] = {
      {"keys compare as exact bytes", {{"A", "Agenda", "agenda.txt"}}, "a\r"},
      {"Enter alone", {{"A", "Agenda", "agenda.txt"}}, "\r"},
      {"empty catalogue", {}, "1\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "root");
    fs::remove_all(Work(""));
    fs::create_directories(Work(""));
    fs::remove(dir_ / "requests.log");
    ServeCatalogue(c.entries);
    ASSERT_NO_FATAL_FAILURE(StartAtMenu(c.entries));
    int promptRow = static_cast<int>(c.entries.size()) + 1;
    terminal_->Type(c.typed);
    ASSERT_TRUE(WaitForRow("No hay ninguna entrada con esa tecla."))
        << terminal_->Describe();
    EXPECT_EQ(terminal_->Row(promptRow + 1), "");
    EXPECT_EQ(terminal_->Row(promptRow + 2),
              "No hay ninguna entrada con esa tecla.");
    EXPECT_EQ(RowOf("Pulsa ENTER para continuar."), -1);
    // The final pause: the line editor echoes, Enter ends the run.
    terminal_->Type("q");
    ASSERT_TRUE(terminal_->WaitFor([&] {
      return terminal_->Row(promptRow + 3) == "q";
    })) << terminal_->Describe();
    ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("\r"));
    EXPECT_EQ(terminal_->ExitCode(), 1);
    EXPECT_EQ(RowOf("Listo."), -1);
    EXPECT_EQ(Requests(), CatalogueRequests());
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"1.zvd", "2.zvd", "3.zvd"}));
    server_.reset();
  }
}

// ---------------------------------------------------------------------------
// The download address reaches wget whole and as one argument
// ---------------------------------------------------------------------------

TEST_F(ProgramRun, PathReachesTheServerAsOneRequestAndAddsNoOption) {
  // Unquoted, these would be several arguments: an address cut at the
  // first space, then "-O" and a file name of the server's choosing.
  struct Case {
    const char* name;
    std::string path;
    std::string request;  // as wget sends it
    std::string saved;    // the file wget writes
  } cases[] = {
      {"spaces", "mi archivo.txt", basePath + "mi%20archivo.txt",
       "mi archivo.txt"},
      {"option-like words", "x -O robado.txt --no-clobber",
       basePath + "x%20-O%20robado.txt%20--no-clobber",
       "x -O robado.txt --no-clobber"},
      {"quotes and backslashes", "di \\\"hola\\\".txt",
       basePath + "di%20%5C%22hola%5C%22.txt", "di \\\"hola\\\".txt"},
      {"tab, which wget escapes in the file name", "a\tb.txt",
       basePath + "a%09b.txt", "a%09b.txt"},
  };
  std::vector<Entry> entries;
  char key = 'a';
  for (const Case& c : cases) {
    entries.push_back({std::string(1, key++), c.name, c.path});
  }
  ServeCatalogue(entries);
  key = 'a';
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Work(""));
    fs::create_directories(Work(""));
    fs::remove(dir_ / "requests.log");
    ASSERT_NO_FATAL_FAILURE(StartAtMenu(entries));
    ASSERT_NO_FATAL_FAILURE(Choose(std::string(1, key++) + "\r"));
    ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
    EXPECT_EQ(terminal_->ExitCode(), 0) << terminal_->Describe();
    std::vector<std::string> expected = CatalogueRequests();
    expected.push_back(c.request);
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(ReadBytes(Work(c.saved)), ReadBytes(Served(c.path)));
    EXPECT_EQ(WorkFiles().size(), 4u);
    server_.reset();
  }
}

TEST_F(ProgramRun, LongAddressIsNotCut) {
  // A 255-byte path: with the base address, far beyond 255 bytes.
  std::string path = std::string(120, 'a') + "/" + std::string(120, 'b') +
                     "/" + std::string(13, 'c');
  ASSERT_EQ(path.size(), 255u);
  const std::vector<Entry> entries = {{"1", "Largo", path}};
  ServeCatalogue(entries);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(entries));
  ASSERT_NO_FATAL_FAILURE(Choose("1\r"));
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 0);
  EXPECT_EQ(Requests().back(), basePath + path);
  EXPECT_EQ(ReadBytes(Work(std::string(13, 'c'))), ReadBytes(Served(path)));
}

// ---------------------------------------------------------------------------
// A download that fails
// ---------------------------------------------------------------------------

TEST_F(ProgramRun, MissingItemIsAFailedDownload) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(
      spanishCatalogue, {"--status", basePath + "archivos/mapa.txt=404"}));
  ASSERT_NO_FATAL_FAILURE(Choose("2\r"));
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 1);
  EXPECT_GE(RowOf("La descarga ha fallado."), 0) << terminal_->Describe();
  EXPECT_EQ(RowOf("Listo."), -1);
  EXPECT_EQ(Requests().back(), basePath + "archivos/mapa.txt");
}

TEST_F(ProgramRun, StoppedServerIsAFailedDownload) {
  ServeCatalogue(spanishCatalogue);
  ASSERT_NO_FATAL_FAILURE(StartAtMenu(spanishCatalogue));
  ASSERT_NO_FATAL_FAILURE(Choose("1\r"));
  server_->Stop();
  terminal_->Type("\r");
  ASSERT_TRUE(WaitForRow("La descarga ha fallado.")) << terminal_->Describe();
  // Plain Enter at the confirmation: one more Enter ends the run.
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("\r"));
  EXPECT_EQ(terminal_->ExitCode(), 1);
  EXPECT_EQ(RowOf("Listo."), -1);
  EXPECT_FALSE(fs::exists(Work("cancion.txt")));
}

// Without wget on PATH the catalogue left by an earlier run is shown, and
// the download cannot start. A "wget.exe" or "wget" in the current
// directory, where downloads land, is never run.
TEST_F(ProgramRun, NoDownloaderOnPathCannotStart) {
  e2e::WriteCatalogue(Work(""), spanishCatalogue);
  for (const char* name : {"wget.exe", "wget"}) {
    // A shell redirection: the script's PATH holds no programs.
    WriteBytes(Work(name), "#!/bin/sh\n: > \"$0.ran\"\n");
    chmod(Work(name).c_str(), 0755);
  }
  fs::create_directories(dir_ / "empty");
  ASSERT_NO_FATAL_FAILURE(
      StartAtMenu(spanishCatalogue, {}, (dir_ / "empty").string()));
  ASSERT_NO_FATAL_FAILURE(Choose("1\r"));
  ASSERT_NO_FATAL_FAILURE(TypeToTheEnd("x\r"));
  EXPECT_EQ(terminal_->ExitCode(), 1);
  EXPECT_GE(RowOf("No se pudo iniciar wget.exe."), 0) << terminal_->Describe();
  EXPECT_EQ(RowOf("Listo."), -1);
  EXPECT_TRUE(Requests().empty());
  EXPECT_FALSE(fs::exists(Work("wget.exe.ran")));
  EXPECT_FALSE(fs::exists(Work("wget.ran")));
}

}  // namespace
