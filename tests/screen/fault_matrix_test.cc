// The fault matrix: the whole program (the copy built for the test server,
// real wget, a real catalogue server on 127.0.0.1, a real terminal) under
// each fault a user may meet on the way.
//
// Every row of the table names a fault, says in words what the user sees
// then, arranges the fault, drives the run to its end and checks that end:
// the exit status, the run-time error report or its absence, the rows on
// the screen, the catalogue files and the downloaded file left in the
// current directory. Every wait is bounded: wget runs with one try and a
// short timeout, so that a slow server cannot hold a run. After every row
// the terminal must be as usable as before: echo and line editing on,
// keypad and cursor keys in their normal modes, the cursor shown, the
// title untouched and no cell coloured.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
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
const std::string holdFilePath = std::string(TEST_DRIVER_DIR) + "/hold_file";
const std::string python = PYTHON3_PATH;
const std::string wget = WGET_PATH;
const std::string basePath = "/catalogo/";

// The test's own PATH searched for `name`; empty if it is not there.
std::string FindProgram(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    start = end + 1;
  }
  return "";
}

// Root runs the unprivileged rows through it.
const std::string setpriv = FindProgram("setpriv");

constexpr int rows = 30;
constexpr int columns = 100;

// wget gives up after one try, and after this many seconds without an
// answer; a run under a slow server takes that long.
constexpr int wgetTimeoutSeconds = 3;

// ---------------------------------------------------------------------------
// Catalogues
// ---------------------------------------------------------------------------

using e2e::CatalogueFiles;
using e2e::Entry;
using e2e::FilesOf;

CatalogueFiles WithFile(CatalogueFiles files, int index,
                        const std::string& bytes) {
  files[index] = bytes;
  return files;
}

std::string FirstHalf(const std::string& bytes) {
  return bytes.substr(0, bytes.size() / 2);
}

const std::vector<Entry> servedCatalogue = {
    {"1", "Canci\xf3" "n de cuna", "archivos/cancion.txt"},
    {"2", "Mapa de Espa\xf1" "a", "archivos/mapa.txt"},
    {"g", "Gu\xed" "a de la ciudad", "guia.txt"},
};

// What an earlier run left in the current directory.
const std::vector<Entry> earlierCatalogue = {
    {"v", "Versi\xf3" "n anterior", "anterior.txt"},
};

// A name made of the sequences that would set the title, the colours, the
// cursor's visibility, the key modes and the alternate screen, reset the
// terminal, or start a sequence in its 8-bit form (byte 155).
const std::string escapeName =
    "\x1b]0;robado\x07\x1b]2;otro\x1b\\\x1b[31;44;1;4;7m\x1b[?25l"
    "\x1b[?1h\x1b=\x1b[?1049h\x9b" "32m\x1b" "c";
// As the console shows it: ESC as the console font's arrow, byte 155 as
// its Windows-1252 letter; the bell shows nothing.
const std::string escapeNameShown =
    "←]0;robado←]2;otro←\\←[31;44;1;4;7m←[?25l←[?1h←=←[?1049h›32m←c";
const std::vector<Entry> escapeCatalogue = {{"e", escapeName, "escapes.txt"}};

// ---------------------------------------------------------------------------
// The table's vocabulary
// ---------------------------------------------------------------------------

// The prompt: a row ">" with the cursor behind its space.
const std::string atPrompt = "> ";
const std::string confirm = "Pulsa ENTER para continuar.";
const std::string done = "Listo.";
const std::string noMatch = "No hay ninguna entrada con esa tecla.";
const std::string failed = "La descarga ha fallado.";
const std::string notStarted = "No se pudo iniciar wget.exe.";

// One thing the test does during a run, once a row of the screen shows
// `when` whole (atPrompt: the prompt; empty: at once).
struct Step {
  enum class Act { type, resize, stopServer };
  std::string when;
  Act act = Act::type;
  std::string bytes = {};
  int rows = 0;
  int columns = 0;
};

Step Type(const std::string& when, const std::string& bytes) {
  return {when, Step::Act::type, bytes};
}
Step WaitFor(const std::string& when) { return Type(when, ""); }
Step ResizeTo(const std::string& when, int newRows, int newColumns) {
  return {when, Step::Act::resize, "", newRows, newColumns};
}
Step StopServer(const std::string& when) {
  return {when, Step::Act::stopServer};
}

// Chooses `key` and confirms with text before Enter, so that the run ends
// right after the message that follows the download.
std::vector<Step> ChooseAndConfirm(const std::string& key) {
  return {Type(atPrompt, key + "\r"), Type(confirm, "x\r")};
}

// A key of no entry; Enter at the final pause.
const std::vector<Step> chooseNothing = {Type(atPrompt, "1\r"),
                                         Type(noMatch, "\r")};

enum class Server { down, up };
enum class Downloader { onPath, missing };
enum class Output { terminal, devFull };
enum class Input { terminal, closed };
enum class Download { complete, partial, none };

struct Row {
  const char* fault;
  const char* outcome;

  // The arrangement. The server serves servedCatalogue (or `served`) and a
  // file of about 4 KB at every path of it and of earlierCatalogue.
  Server server = Server::up;
  std::vector<Entry> served = servedCatalogue;
  std::vector<std::string> serverFaults = {};  // catalogue_server.py options
  bool earlierRun = false;  // the current directory holds earlierCatalogue
  Downloader downloader = Downloader::onPath;
  bool unprivileged = false;  // run as nobody in a directory it cannot write
  std::string heldFile = {};  // held open by another process
  Output output = Output::terminal;
  Input input = Input::terminal;

  std::vector<Step> steps = {};

  // The outcome.
  int exitCode = 0;
  int reportCode = 0;  // the run-time error report's code; 0: no report
  std::vector<std::string> shows = {};   // whole rows the screen shows at the end
  std::vector<std::string> hidden = {};  // texts the screen does not show
  // The three catalogue files afterwards; none: not there.
  std::optional<CatalogueFiles> catalogueAfter = {};
  Download download = Download::none;
  std::string chosenPath = {};  // the path of the chosen entry on the server
};

std::string MenuLine(const Entry& e) {
  return e.key + " para descargar " + Shown(e.name);
}

std::string Announcement(const Entry& e) {
  return "Estas a punto de descargar " + Shown(e.name) + ".";
}

// ---------------------------------------------------------------------------
// The matrix
// ---------------------------------------------------------------------------

std::vector<Row> Matrix() {
  const CatalogueFiles served = FilesOf(servedCatalogue);
  const CatalogueFiles earlier = FilesOf(earlierCatalogue);
  const CatalogueFiles emptied = {"", "", ""};
  const Entry& cancion = servedCatalogue[0];
  const Entry& mapa = servedCatalogue[1];
  const Entry& anterior = earlierCatalogue[0];
  return {
      {.fault = "server down for the catalogue",
       .outcome = "wget leaves three empty catalogue files: no menu line, "
                  "and any key is said to match no entry; exit status 1",
       .server = Server::down,
       .steps = chooseNothing,
       .exitCode = 1,
       .shows = {noMatch},
       .hidden = {"para descargar"},
       .catalogueAfter = emptied},
      {.fault = "server down for the catalogue after an earlier run",
       .outcome = "wget empties the earlier catalogue files before it "
                  "fails: as without them, no menu line; exit status 1",
       .server = Server::down,
       .earlierRun = true,
       .steps = chooseNothing,
       .exitCode = 1,
       .shows = {noMatch},
       .hidden = {"para descargar"},
       .catalogueAfter = emptied},
      {.fault = "server down for the entry",
       .outcome = "the menu and the announcement as usual, then "
                  "\"La descarga ha fallado.\" instead of \"Listo.\"; "
                  "exit status 1",
       .steps = {Type(atPrompt, "2\r"), StopServer(confirm),
                 Type("", "x\r")},
       .exitCode = 1,
       .shows = {MenuLine(mapa), Announcement(mapa), failed},
       .hidden = {done},
       .catalogueAfter = served,
       .download = Download::none,
       .chosenPath = mapa.path},
      {.fault = "404 for a catalogue file",
       .outcome = "an empty names file: menu lines without names; the "
                  "entry still downloads, \"Listo.\"; exit status 0",
       .serverFaults = {"--status", basePath + "2.zvd=404"},
       .steps = ChooseAndConfirm("2"),
       .exitCode = 0,
       .shows = {"1 para descargar", "2 para descargar", "g para descargar",
                 "Estas a punto de descargar .", done},
       .catalogueAfter = WithFile(served, 1, ""),
       .download = Download::complete,
       .chosenPath = mapa.path},
      {.fault = "404 for the entry",
       .outcome = "\"La descarga ha fallado.\", no file; exit status 1",
       .serverFaults = {"--status", basePath + mapa.path + "=404"},
       .steps = ChooseAndConfirm("2"),
       .exitCode = 1,
       .shows = {Announcement(mapa), failed},
       .hidden = {done},
       .catalogueAfter = served,
       .download = Download::none,
       .chosenPath = mapa.path},
      {.fault = "body of a catalogue file cut short",
       .outcome = "the entries whose paths began to arrive (two of three) "
                  "make the menu; the run goes on, \"Listo.\"; exit status 0",
       .serverFaults = {"--short", basePath + "3.zvd"},
       .steps = ChooseAndConfirm("1"),
       .exitCode = 0,
       .shows = {MenuLine(cancion), MenuLine(mapa), done},
       .hidden = {MenuLine(servedCatalogue[2])},
       .catalogueAfter = WithFile(served, 2, FirstHalf(served[2])),
       .download = Download::complete,
       .chosenPath = cancion.path},
      {.fault = "body of the entry cut short",
       .outcome = "wget gives up after its one try: \"La descarga ha "
                  "fallado.\", the half received left on disk; exit status 1",
       .serverFaults = {"--short", basePath + mapa.path},
       .steps = ChooseAndConfirm("2"),
       .exitCode = 1,
       .shows = {failed},
       .hidden = {done},
       .catalogueAfter = served,
       .download = Download::partial,
       .chosenPath = mapa.path},
      {.fault = "server answers the entry very slowly",
       .outcome = "wget's read timeout ends the wait: \"La descarga ha "
                  "fallado.\"; exit status 1",
       .serverFaults = {"--slow", basePath + mapa.path},
       .steps = ChooseAndConfirm("2"),
       .exitCode = 1,
       .shows = {failed},
       .hidden = {done},
       .catalogueAfter = served,
       .download = Download::none,
       .chosenPath = mapa.path},
      {.fault = "wget missing from PATH after an earlier run",
       .outcome = "the earlier catalogue's menu, then \"No se pudo iniciar "
                  "wget.exe.\"; the earlier files unchanged; exit status 1",
       .earlierRun = true,
       .downloader = Downloader::missing,
       .steps = ChooseAndConfirm("v"),
       .exitCode = 1,
       .shows = {MenuLine(anterior), Announcement(anterior), notStarted},
       .hidden = {done},
       .catalogueAfter = earlier,
       .download = Download::none,
       .chosenPath = anterior.path},
      {.fault = "wget missing from PATH without a catalogue",
       .outcome = "\"Runtime error 2 at $...\" (the keys file is missing); "
                  "exit status 2",
       .downloader = Downloader::missing,
       .exitCode = 2,
       .reportCode = 2,
       .hidden = {"para descargar"}},
      {.fault = "current directory not writable after an earlier run",
       .outcome = "wget cannot replace the earlier files, whose menu shows; "
                  "it cannot store the entry either: \"La descarga ha "
                  "fallado.\"; exit status 1",
       .earlierRun = true,
       .unprivileged = true,
       .steps = ChooseAndConfirm("v"),
       .exitCode = 1,
       .shows = {MenuLine(anterior), failed},
       .hidden = {done, MenuLine(mapa)},
       .catalogueAfter = earlier,
       .download = Download::none,
       .chosenPath = anterior.path},
      {.fault = "current directory not writable without a catalogue",
       .outcome = "wget can store no catalogue file: \"Runtime error 2 at "
                  "$...\"; exit status 2",
       .unprivileged = true,
       .exitCode = 2,
       .reportCode = 2,
       .hidden = {"para descargar"}},
      {.fault = "catalogue file held open by another process",
       .outcome = "the names file cannot be opened: \"Runtime error 5 at "
                  "$...\"; exit status 5",
       .earlierRun = true,
       .heldFile = "2.zvd",
       .exitCode = 5,
       .reportCode = 5,
       .hidden = {"para descargar"},
       .catalogueAfter = served},
      {.fault = "standard output on dev full",
       .outcome = "no console: nothing of the program's dialogue shows, "
                  "the keys typed ahead still choose and confirm, the entry "
                  "downloads; exit status 0",
       .output = Output::devFull,
       .steps = {Type("", "2\rx\r")},
       .exitCode = 0,
       .hidden = {"para descargar", "Estas a punto", done},
       .catalogueAfter = served,
       .download = Download::complete,
       .chosenPath = mapa.path},
      {.fault = "standard output on dev full and a stop",
       .outcome = "the report cannot be written and nothing shows; the "
                  "exit status is still the stop's, 2",
       .downloader = Downloader::missing,
       .output = Output::devFull,
       .exitCode = 2},
      {.fault = "standard input closed",
       .outcome = "the menu shows; the choice reads the end of the input, "
                  "which matches no entry, and the final pause ends at once; "
                  "exit status 1",
       .input = Input::closed,
       .exitCode = 1,
       .shows = {MenuLine(mapa), noMatch},
       .hidden = {confirm},
       .catalogueAfter = served},
      {.fault = "terminal resized while the menu shows",
       .outcome = "the run goes on on the smaller terminal: the menu stays "
                  "in view above the announcement, then \"Listo.\"; exit "
                  "status 0",
       .steps = {ResizeTo(atPrompt, 12, 60), Type("", "2\r"),
                 WaitFor(Announcement(mapa)), WaitFor(confirm),
                 Type(MenuLine(mapa), "x\r")},
       .exitCode = 0,
       .shows = {done},
       .catalogueAfter = served,
       .download = Download::complete,
       .chosenPath = mapa.path},
      {.fault = "catalogue name made of escape sequences",
       .outcome = "the name shows as the console's glyphs of its bytes; "
                  "title, colours, cursor and key modes stay as they were; "
                  "the entry downloads, \"Listo.\"; exit status 0",
       .served = escapeCatalogue,
       .steps = ChooseAndConfirm("e"),
       .exitCode = 0,
       .shows = {"e para descargar " + escapeNameShown,
                 "Estas a punto de descargar " + escapeNameShown + ".", done},
       .catalogueAfter = FilesOf(escapeCatalogue),
       .download = Download::complete,
       .chosenPath = "escapes.txt"},
  };
}

// gtest prints a failing row by its fault.
void PrintTo(const Row& row, std::ostream* out) { *out << row.fault; }

// "server down for the entry" -> "ServerDownForTheEntry".
std::string TestName(const char* fault) {
  std::string name;
  bool wordStart = true;
  for (const char* c = fault; *c != 0; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += wordStart ? static_cast<char>(std::toupper(*c)) : *c;
      wordStart = false;
    } else {
      wordStart = true;
    }
  }
  return name;
}

// ---------------------------------------------------------------------------
// Files and processes
// ---------------------------------------------------------------------------

using e2e::ReadBytes;
using e2e::WriteBytes;

using e2e::WriteCatalogue;

// tests/drivers/hold_file, holding a file open (share mode 0) until it is
// released or destroyed.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& file) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string name = file.string();
    char* argv[] = {const_cast<char*>(holdFilePath.c_str()), name.data(),
                    nullptr};
    if (posix_spawn(&pid_, holdFilePath.c_str(), &actions, nullptr, argv,
                    environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    pollfd ready{out[0], POLLIN, 0};
    while (said_.find('\n') == std::string::npos &&
           poll(&ready, 1, harness::defaultTimeoutMs) == 1) {
      char bytes[64];
      ssize_t count = read(out[0], bytes, sizeof bytes);
      if (count <= 0) break;
      said_.append(bytes, static_cast<std::size_t>(count));
    }
    close(out[0]);
  }
  ~HeldFile() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) {
      // It ends at the end of its input; a bound in case it does not.
      for (int i = 0; i < 1000 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
        poll(nullptr, 0, 10);
      }
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool Held() const { return said_ == "held\n"; }
  const std::string& Said() const { return said_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::string said_;
};

// ---------------------------------------------------------------------------
// The test
// ---------------------------------------------------------------------------

class FaultMatrix : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    SKIP_UNLESS_PRESENT(python.empty() || wget.empty() ? "wget or python3" : "");
    lock_ = std::make_unique<PortLock>(CATALOGO_E2E_PORT);
    ASSERT_TRUE(lock_->Held());
    char pattern[] = "/tmp/catalogo-faults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(Work(""));
    fs::create_directories(dir_ / "empty");
    // wget reads no configuration but ours, goes through no proxy, tries
    // once and waits a bounded time.
    WriteBytes(dir_ / "wgetrc", "use_proxy = off\nhsts = off\ntries = 1\n"
                               "timeout = " +
                                   std::to_string(wgetTimeoutSeconds) + "\n");
    WriteBytes(dir_ / "system-wgetrc", "");
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy",
                              "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
      unsetenv(proxy);
    }
  }

  void TearDown() override {
    terminal_.reset();
    held_.reset();
    server_.reset();
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::permissions(Work(""), fs::perms::owner_all, fs::perm_options::add,
                      ignored);
      fs::remove_all(dir_, ignored);
    }
    lock_.reset();
  }

  fs::path Served(const std::string& path) {
    return dir_ / "root" / "catalogo" / path;
  }
  fs::path Work(const std::string& name) { return dir_ / "work" / name; }

  void Arrange(const Row& row) {
    WriteCatalogue(Served(""), FilesOf(row.served));
    for (const auto* entries : {&row.served, &earlierCatalogue}) {
      for (const Entry& e : *entries) {
        WriteBytes(Served(e.path),
                  "contenido de " + e.path + "\r\n" + std::string(4000, 'x'));
      }
    }
    if (row.earlierRun) WriteCatalogue(Work(""), FilesOf(earlierCatalogue));
    if (row.server == Server::up) {
      server_ = std::make_unique<CatalogueServer>(
          python, dir_ / "root", dir_ / "requests.log", CATALOGO_E2E_PORT,
          row.serverFaults);
      ASSERT_TRUE(server_->Listening())
          << "the test server could not listen on 127.0.0.1:"
          << CATALOGO_E2E_PORT;
    }
    if (!row.heldFile.empty()) {
      held_ = std::make_unique<HeldFile>(Work(row.heldFile));
      ASSERT_TRUE(held_->Held()) << held_->Said();
    }
  }

  harness::Options ProgramOptions(const Row& row) {
    harness::Options options;
    options.argv = {programPath};
    options.rows = rows;
    options.columns = columns;
    options.workingDirectory = Work("").string();
    std::string path = row.downloader == Downloader::onPath
                           ? fs::path(wget).parent_path().string()
                           : (dir_ / "empty").string();
    options.environment = {
        "PATH=" + path,
        "HOME=" + dir_.string(),
        "WGETRC=" + (dir_ / "wgetrc").string(),
        "SYSTEM_WGETRC=" + (dir_ / "system-wgetrc").string(),
        "LC_ALL=C",
    };
    if (row.output == Output::devFull) options.standardOutputFile = "/dev/full";
    if (row.input == Input::closed) {
      options.standardInput = harness::Options::Input::closed;
    }
    if (row.unprivileged) MakeUnprivileged(options);
    return options;
  }

  // The directory tree is the test's; the user may read it and run a copy
  // of the program in it, but write nowhere in it. Root, who may write
  // anywhere, runs the program as nobody; another user is held by the
  // permissions as they are.
  void MakeUnprivileged(harness::Options& options) {
    fs::create_directories(dir_ / "bin");
    fs::copy_file(programPath, dir_ / "bin" / "catalogo");
    const auto readable = fs::perms::owner_all | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read |
                          fs::perms::others_exec;
    for (const fs::path& p : {dir_, dir_ / "bin", dir_ / "bin" / "catalogo"}) {
      fs::permissions(p, readable);
    }
    for (const char* name : {"wgetrc", "system-wgetrc"}) {
      fs::permissions(dir_ / name, fs::perms::others_read, fs::perm_options::add);
    }
    for (const auto& entry : fs::directory_iterator(Work(""))) {
      fs::permissions(entry.path(), fs::perms::others_read,
                      fs::perm_options::add);
    }
    fs::permissions(Work(""), readable & ~fs::perms::owner_write);
    options.argv = {(dir_ / "bin" / "catalogo").string()};
    if (geteuid() == 0) {
      options.argv.insert(options.argv.begin(),
                          {setpriv, "--reuid=nobody", "--regid=nogroup",
                           "--clear-groups"});
    }
  }

  // Waits until the screen shows `text` (see Step) and does what the step
  // says.
  void Do(const Step& step) {
    if (step.when == atPrompt) {
      ASSERT_TRUE(terminal_->WaitFor([&] {
        harness::Position cursor = terminal_->Cursor();
        return cursor.column == 2 && terminal_->Row(cursor.row) == ">";
      })) << "waiting for the prompt\n" << terminal_->Describe();
    } else if (!step.when.empty()) {
      ASSERT_TRUE(terminal_->WaitFor([&] { return Shows(step.when); }))
          << "waiting for \"" << step.when << "\"\n" << terminal_->Describe();
    }
    switch (step.act) {
      case Step::Act::type:
        terminal_->Type(step.bytes);
        break;
      case Step::Act::resize:
        terminal_->Resize(step.rows, step.columns);
        break;
      case Step::Act::stopServer:
        server_->Stop();
        break;
    }
  }

  bool Shows(const std::string& text) {
    for (int row = 0; row < terminal_->Rows(); ++row) {
      if (terminal_->Row(row) == text) return true;
    }
    return false;
  }

  void CheckTerminalUsable() {
    EXPECT_TRUE(terminal_->EchoOn());
    EXPECT_TRUE(terminal_->CanonicalOn());
    EXPECT_FALSE(terminal_->KeypadApplicationMode());
    EXPECT_FALSE(terminal_->CursorKeysApplicationMode());
    EXPECT_TRUE(terminal_->CursorVisible());
    EXPECT_EQ(terminal_->Title(), "");
    EXPECT_EQ(terminal_->Bells(), 0);
    for (int row = 0; row < terminal_->Rows(); ++row) {
      for (int column = 0; column < terminal_->Columns(); ++column) {
        harness::Cell cell = terminal_->CellAt(row, column);
        bool plain = cell.foreground == harness::defaultColor &&
                     cell.background == harness::defaultColor &&
                     !cell.bold && !cell.underline && !cell.reverse;
        ASSERT_TRUE(plain) << "cell " << row << "," << column << "\n"
                           << terminal_->Describe();
      }
    }
  }

  void CheckFiles(const Row& row) {
    if (row.catalogueAfter) {
      const char* names[] = {"1.zvd", "2.zvd", "3.zvd"};
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(fs::exists(Work(names[i]))) << names[i];
        EXPECT_EQ(ReadBytes(Work(names[i])), (*row.catalogueAfter)[i])
            << names[i];
      }
    } else {
      for (const char* name : {"1.zvd", "2.zvd", "3.zvd"}) {
        EXPECT_FALSE(fs::exists(Work(name))) << name;
      }
    }
    if (row.chosenPath.empty()) return;
    fs::path saved = Work(fs::path(row.chosenPath).filename().string());
    std::string whole = ReadBytes(Served(row.chosenPath));
    switch (row.download) {
      case Download::complete:
        EXPECT_EQ(ReadBytes(saved), whole);
        break;
      case Download::partial: {
        ASSERT_TRUE(fs::exists(saved));
        std::string part = ReadBytes(saved);
        EXPECT_LT(part.size(), whole.size());
        EXPECT_EQ(part, whole.substr(0, part.size()));
        break;
      }
      case Download::none:
        EXPECT_FALSE(fs::exists(saved));
        break;
    }
  }

  fs::path dir_;
  std::unique_ptr<PortLock> lock_;
  std::unique_ptr<CatalogueServer> server_;
  std::unique_ptr<HeldFile> held_;
  std::unique_ptr<harness::Terminal> terminal_;
};

TEST_P(FaultMatrix, EndsWithItsDocumentedOutcome) {
  const Row& row = GetParam();
  SCOPED_TRACE(std::string(row.fault) + ": " + row.outcome);
  if (row.unprivileged && geteuid() == 0) {
    SKIP_UNLESS_PRESENT(setpriv.empty() ? "setpriv" : "");
  }
  ASSERT_NO_FATAL_FAILURE(Arrange(row));
  terminal_ = std::make_unique<harness::Terminal>(ProgramOptions(row));
  ASSERT_TRUE(terminal_->Started()) << terminal_->StartError();
  for (const Step& step : row.steps) ASSERT_NO_FATAL_FAILURE(Do(step));
  ASSERT_TRUE(terminal_->WaitForExit()) << terminal_->Describe();

  EXPECT_EQ(terminal_->TermSignal(), 0);
  EXPECT_EQ(terminal_->ExitCode(), row.exitCode) << terminal_->Describe();
  const std::regex report(row.reportCode == 0
                              ? "Runtime error.*"
                              : "Runtime error " +
                                    std::to_string(row.reportCode) +
                                    " at \\$[0-9A-F]{8}");
  bool reported = false;
  for (int r = 0; r < terminal_->Rows(); ++r) {
    reported = reported || std::regex_match(terminal_->Row(r), report);
  }
  EXPECT_EQ(reported, row.reportCode != 0) << terminal_->Describe();
  for (const std::string& text : row.shows) {
    EXPECT_TRUE(Shows(text)) << "no row \"" << text << "\"\n"
                             << terminal_->Describe();
  }
  for (const std::string& text : row.hidden) {
    EXPECT_EQ(terminal_->Screen().find(text), std::string::npos)
        << "\"" << text << "\" shows\n" << terminal_->Describe();
  }
  CheckTerminalUsable();
  CheckFiles(row);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix, ::testing::ValuesIn(Matrix()),
    [](const ::testing::TestParamInfo<Row>& info) {
      return TestName(info.param.fault);
    });

}  // namespace
