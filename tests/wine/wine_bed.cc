#include "tests/wine/wine_bed.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <sstream>

#include "tests/e2e/catalogue_server.h"
#include "tests/e2e/files.h"
#include "tests/e2e/port_lock.h"

namespace winebed {

namespace fs = std::filesystem;

namespace {

// Set by the build (tests/wine/CMakeLists.txt).
const fs::path nativeProgram = CATALOGO_PATH;
const fs::path windowsProgram = CATALOGO_WINDOWS_EXE;
const fs::path winePrefix = WINE_PREFIX_DIR;
const fs::path bridgeDirectory = WINE_BRIDGE_DIR;
const fs::path serverScript = CATALOGUE_SERVER_SCRIPT;
const std::string baseAddress = CATALOGUE_BASE_ADDRESS;

// The stamp scripts/wine-prefix leaves in a prefix it has finished.
const char* const prefixStamp = ".catalogo-prefix";

// "http://127.0.0.1:PORT/PATH" -> PORT and "/PATH"; port 0 if the address
// is not on 127.0.0.1.
struct Address {
  int port = 0;
  std::string path;
};

Address ParseBaseAddress() {
  const std::string head = "http://127.0.0.1:";
  Address address;
  if (baseAddress.compare(0, head.size(), head) != 0) return address;
  std::size_t slash = baseAddress.find('/', head.size());
  if (slash == std::string::npos) return address;
  address.port = std::atoi(baseAddress.substr(head.size(), slash - head.size()).c_str());
  address.path = baseAddress.substr(slash);
  return address;
}

// The first PATH entry that holds an executable `name`; "" if none.
std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::stringstream entries(path != nullptr ? path : "");
  for (std::string entry; std::getline(entries, entry, ':');) {
    fs::path candidate = fs::path(entry.empty() ? "." : entry) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

}  // namespace

const char* BuildName(Build build) {
  return build == Build::native ? "native" : "windows";
}

std::string Missing(Build build) {
  if (build == Build::native) {
    if (!fs::exists(nativeProgram)) return "no native program at " + nativeProgram.string();
    return "";
  }
  if (FindOnPath("wine").empty()) return "wine is not installed (scripts/install-deps)";
  if (!fs::exists(windowsProgram)) {
    return "no Windows executable at " + windowsProgram.string() +
           " (build the Windows tree, or set CATALOGO_WINDOWS_EXE)";
  }
  if (!fs::exists(winePrefix / prefixStamp)) {
    return "no Wine prefix at " + winePrefix.string() +
           " (the wine_prefix test makes it: run ctest)";
  }
  if (!fs::exists(bridgeDirectory / "wget.exe")) {
    return "no wget.exe bridge in " + bridgeDirectory.string();
  }
  return "";
}

std::string ProgramPath(Build build) {
  return (build == Build::native ? nativeProgram : windowsProgram).string();
}

std::string WindowsPath(const fs::path& unixPath) {
  std::string path = "Z:" + fs::absolute(unixPath).lexically_normal().string();
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<std::string> WineEnvironment(bool downloader) {
  return {
      "WINEPREFIX=" + winePrefix.string(),
      "WINEARCH=win64",
      "WINEDEBUG=-all",
      // No offer to install Mono or Gecko.
      "WINEDLLOVERRIDES=mscoree,mshtml=",
      // Added to the prefix's search path. Wine does not search the Unix
      // PATH for Windows programs: without the bridge there is no wget.exe.
      "WINEPATH=" + (downloader ? WindowsPath(bridgeDirectory) : ""),
      "DISPLAY=",
      "WAYLAND_DISPLAY=",
  };
}

harness::Options ProgramOptions(Build build, std::vector<std::string> argv,
                                const std::string& workingDirectory,
                                const std::vector<std::string>& environment,
                                bool downloader) {
  harness::Options options;
  options.workingDirectory = workingDirectory;
  options.environment = environment;
  if (build == Build::windows) {
    argv.insert(argv.begin(), "wine");
    std::vector<std::string> wine = WineEnvironment(downloader);
    options.environment.insert(options.environment.end(), wine.begin(), wine.end());
  } else if (!downloader) {
    options.environment.push_back("PATH=/nonexistent");
  }
  options.argv = std::move(argv);
  return options;
}

bool WaitLooking(harness::Terminal& terminal,
                 const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(timeoutMs);
  while (!terminal.WaitFor(condition, 5)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Comparing outcomes
// ---------------------------------------------------------------------------

namespace {

std::string Show(const harness::Cell& cell) {
  std::ostringstream out;
  out << '"' << cell.text << '"';
  if (cell.foreground != harness::defaultColor) out << " fg " << cell.foreground;
  if (cell.background != harness::defaultColor) out << " bg " << cell.background;
  if (cell.bold) out << " bold";
  if (cell.underline) out << " underline";
  if (cell.reverse) out << " reverse";
  return out.str();
}

bool Same(const harness::Cell& a, const harness::Cell& b) {
  // An empty cell and a blank one look alike.
  auto text = [](const harness::Cell& c) { return c.text.empty() ? " " : c.text; };
  return text(a) == text(b) && a.width == b.width &&
         a.foreground == b.foreground && a.background == b.background &&
         a.bold == b.bold && a.underline == b.underline && a.reverse == b.reverse;
}

bool IsHexDigit(const std::string& text) {
  return text.size() == 1 && std::isxdigit(static_cast<unsigned char>(text[0])) &&
         !std::islower(static_cast<unsigned char>(text[0]));
}

}  // namespace

std::string RowText(const Outcome& outcome, int row) {
  std::string text;
  for (const harness::Cell& cell : outcome.cells.at(static_cast<std::size_t>(row))) {
    text += cell.text.empty() ? " " : cell.text;
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

void MaskReportAddresses(Outcome* outcome) {
  for (auto& row : outcome->cells) {
    for (std::size_t column = 0; column < row.size(); ++column) {
      if (row[column].text != "$") continue;
      for (std::size_t digit = column + 1;
           digit < row.size() && digit <= column + 8 && IsHexDigit(row[digit].text);
           ++digit) {
        row[digit].text = "#";
      }
    }
  }
}

std::string Differences(const Outcome& expected, const Outcome& actual) {
  std::ostringstream out;
  if (!expected.failure.empty()) out << "first run: " << expected.failure << "\n";
  if (!actual.failure.empty()) out << "second run: " << actual.failure << "\n";
  if (expected.cells.size() != actual.cells.size()) {
    out << "rows: " << expected.cells.size() << " vs " << actual.cells.size() << "\n";
  }
  for (std::size_t row = 0; row < expected.cells.size() && row < actual.cells.size(); ++row) {
    const auto& a = expected.cells[row];
    const auto& b = actual.cells[row];
    for (std::size_t column = 0; column < a.size() && column < b.size(); ++column) {
      if (!Same(a[column], b[column])) {
        out << "cell " << row << "," << column << ": " << Show(a[column])
            << " vs " << Show(b[column]) << "\n";
      }
    }
  }
  if (!(expected.cursor == actual.cursor)) {
    out << "cursor: " << expected.cursor.row << "," << expected.cursor.column
        << " vs " << actual.cursor.row << "," << actual.cursor.column << "\n";
  }
  if (expected.exitCode != actual.exitCode) {
    out << "exit code: " << expected.exitCode << " vs " << actual.exitCode << "\n";
  }
  for (const auto& [name, bytes] : expected.files) {
    auto other = actual.files.find(name);
    if (other == actual.files.end()) {
      out << "file " << name << ": only after the first run\n";
    } else if (other->second != bytes) {
      out << "file " << name << ": different bytes\n";
    }
  }
  for (const auto& [name, bytes] : actual.files) {
    if (expected.files.count(name) == 0) {
      out << "file " << name << ": only after the second run\n";
    }
  }
  if (!out.str().empty()) {
    out << "first screen:\n" << expected.description << "second screen:\n"
        << actual.description;
  }
  return out.str();
}

// ---------------------------------------------------------------------------
// Stage
// ---------------------------------------------------------------------------

Stage::Stage() {
  char pattern[] = "/tmp/catalogo-wine-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  directory_ = pattern;
  fs::create_directories(directory_ / "root");
  for (Build build : {Build::native, Build::windows}) fs::create_directories(Work(build));
  // wget reads our configuration only: quiet, one try, no proxy.
  e2e::WriteBytes(directory_ / "wgetrc", "quiet = on\ntries = 1\ntimeout = 30\nuse_proxy = off\n");
  e2e::WriteBytes(directory_ / "system-wgetrc", "");
}

Stage::~Stage() {
  server_.reset();
  lock_.reset();
  if (!directory_.empty()) fs::remove_all(directory_);
}

fs::path Stage::Served(const std::string& path) const {
  return directory_ / "root" / fs::path(ParseBaseAddress().path).relative_path() / path;
}

fs::path Stage::Work(Build build) const {
  return directory_ / (std::string("work-") + BuildName(build));
}

namespace {

// The three catalogue files of `entries` in `directory`, CR LF lines.
}  // namespace

void Stage::ServeCatalogue(const std::vector<Entry>& entries) {
  e2e::WriteCatalogue(Served(""), entries);
  for (const Entry& e : entries) {
    e2e::WriteBytes(Served(e.path), "contenido de " + e.path + "\r\n");
  }
}

void Stage::LeaveCatalogue(const std::vector<Entry>& entries) {
  for (Build build : {Build::native, Build::windows}) e2e::WriteCatalogue(Work(build), entries);
}

bool Stage::StartServer(const std::vector<std::string>& faults) {
  Address address = ParseBaseAddress();
  std::string python = FindOnPath("python3");
  if (address.port == 0 || python.empty()) return false;
  // The same lock as the other end-to-end tests that serve on this port.
  lock_ = std::make_unique<PortLock>(address.port);
  if (!lock_->Held()) return false;
  server_ = std::make_unique<CatalogueServer>(
      python, directory_ / "root", directory_ / "requests.log", address.port, faults);
  return server_->Listening();
}

std::vector<std::string> Stage::Environment() const {
  return {
      "HOME=" + directory_.string(),
      "WGETRC=" + (directory_ / "wgetrc").string(),
      "SYSTEM_WGETRC=" + (directory_ / "system-wgetrc").string(),
      "http_proxy=", "HTTP_PROXY=", "https_proxy=", "HTTPS_PROXY=",
      // Wine's console writes to the terminal in the locale's character
      // set: in plain C it shows accented letters as their bare ones.
      "LC_ALL=C.UTF-8",
  };
}

Outcome Stage::Run(Build build, const Scenario& scenario) {
  Outcome outcome;
  if (build == Build::windows &&
      e2e::ReadBytes(windowsProgram).find(baseAddress) == std::string::npos) {
    outcome.failure = windowsProgram.string() + " was not built for " + baseAddress;
    return outcome;
  }
  harness::Options options =
      ProgramOptions(build, {ProgramPath(build)}, Work(build).string(),
                     Environment(), scenario.downloader);
  options.rows = scenario.rows;
  options.columns = scenario.columns;
  harness::Terminal terminal(options);
  if (!terminal.Started()) {
    outcome.failure = terminal.StartError();
    return outcome;
  }
  for (const Step& step : scenario.steps) {
    auto rowShown = [&] {
      if (step.row.empty()) return true;
      for (int row = 0; row < terminal.Rows(); ++row) {
        if (terminal.Row(row) == step.row) return true;
      }
      return false;
    };
    bool shown = terminal.WaitFor([&] {
      return rowShown() && (!step.cursorAt || terminal.Cursor() == *step.cursorAt);
    });
    if (!shown) {
      outcome.failure = "\"" + step.row + "\" never showed" +
                        (step.cursorAt ? " with the cursor in place" : "");
      break;
    }
    if (step.keys.empty()) continue;
    if (!WaitLooking(terminal, [&] { return !terminal.EchoOn(); })) {
      outcome.failure = "the program never read keys after \"" + step.row + "\"";
      break;
    }
    terminal.Type(step.keys);
  }
  if (outcome.failure.empty() && scenario.endsByItself && !terminal.WaitForExit()) {
    outcome.failure = "the program did not end";
  }
  // The last bytes of a screen update may still be on their way.
  terminal.Pump(0);
  outcome.cells.resize(static_cast<std::size_t>(terminal.Rows()));
  for (int row = 0; row < terminal.Rows(); ++row) {
    for (int column = 0; column < terminal.Columns(); ++column) {
      outcome.cells[static_cast<std::size_t>(row)].push_back(terminal.CellAt(row, column));
    }
  }
  outcome.cursor = terminal.Cursor();
  outcome.exitCode = terminal.ExitCode();
  outcome.description = terminal.Describe();
  for (const auto& file : fs::directory_iterator(Work(build))) {
    outcome.files[file.path().filename().string()] = e2e::ReadBytes(file.path());
  }
  return outcome;
}

}  // namespace winebed
