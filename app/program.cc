#include "app/program.h"

#include <cstring>

#include "app/catalogue.h"
#include "platform/command_line.h"
#include "platform/platform.h"
#include "runtime/run.h"
#include "textio/console.h"
#include "textio/text_stream.h"

Flow flow;

namespace {

// ---------------------------------------------------------------------------
// Fixed values
// ---------------------------------------------------------------------------

constexpr std::string_view DownloaderProgram = "wget.exe";
// Set at build time (CMake cache variable CATALOGUE_BASE_ADDRESS).
constexpr std::string_view CatalogueBaseAddress = CATALOGUE_BASE_ADDRESS;
constexpr std::string_view catalogueFileNames[] = {"1.zvd", "2.zvd", "3.zvd"};

constexpr std::string_view menuLineMiddle = " para descargar ";
constexpr std::string_view prompt = "> ";
constexpr std::string_view announcementHead = "Estas a punto de descargar ";
constexpr std::string_view announcementTail = ".";
constexpr std::string_view confirmRequest = "Pulsa ENTER para continuar.";
constexpr std::string_view doneMessage = "Listo.";
constexpr std::string_view noMatchMessage =
    "No hay ninguna entrada con esa tecla.";
constexpr std::string_view notStartedMessage = "No se pudo iniciar wget.exe.";
constexpr std::string_view failedMessage = "La descarga ha fallado.";

static_assert(CatalogueBaseAddress.size() + ShortText::capacity <=
                  LongText::capacity,
              "CATALOGUE_BASE_ADDRESS is too long: at most 769 bytes");

// The quoted download address, and the command line built from the
// program part (at most 255 bytes), two spaces and an argument text.
char downloadArguments[platform::QuotedRoom(LongText::capacity)];
char commandLine[ShortText::capacity + 2 +
                 platform::QuotedRoom(LongText::capacity) + 1];

// ---------------------------------------------------------------------------
// Console steps. Inlined, so that each CheckIo sits in the routine of the
// step and a failure is reported at its place there.
// ---------------------------------------------------------------------------

// Writes `text` and a line end, which shows it.
inline __attribute__((always_inline)) void WriteTextLine(std::string_view text) {
  WriteText(ConsoleOutput, MakeText(text), 0);
  CheckIo();
  WriteLine(ConsoleOutput);
  CheckIo();
}

inline __attribute__((always_inline)) void WriteTextLine(const ShortText& text) {
  WriteText(ConsoleOutput, text, 0);
  CheckIo();
  WriteLine(ConsoleOutput);
  CheckIo();
}

inline __attribute__((always_inline)) void WriteEmptyLine() {
  WriteLine(ConsoleOutput);
  CheckIo();
}

// Waits for a line and discards it; when the line read before still holds
// bytes, they are that line and nothing is waited for.
inline __attribute__((always_inline)) void FinalPause() {
  flow.pauseByte = ReadChar(ConsoleInput);
  CheckIo();
  SkipLine(ConsoleInput);
  CheckIo();
}

}  // namespace

void Append(LongText& text, std::string_view piece) {
  std::size_t room = LongText::capacity - text.length;
  std::size_t count = piece.size() < room ? piece.size() : room;
  std::memcpy(text.bytes + text.length, piece.data(), count);
  text.length = static_cast<std::uint16_t>(text.length + count);
}

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

__attribute__((noinline)) void MainBody() {
  BindStandardStreams();
  StartConsole();

  for (std::string_view file : catalogueFileNames) {
    LongText arguments{};
    Append(arguments, "-O ");
    Append(arguments, file);
    Append(arguments, " ");
    Append(arguments, CatalogueBaseAddress);
    Append(arguments, file);
    RunDownloader(MakeText(DownloaderProgram), arguments.View());
  }

  ClearScreen();
  LoadCatalogue();

  for (flow.menuIndex = 1; flow.menuIndex <= catalogue.nextIndex - 1;
       ++flow.menuIndex) {
    ShortText line{};
    AppendByte(line, catalogue.keys[flow.menuIndex]);
    Append(line, menuLineMiddle);
    Append(line, catalogue.names[flow.menuIndex]);
    WriteTextLine(line);
  }
  WriteEmptyLine();

  WriteText(ConsoleOutput, MakeText(prompt), 0);
  CheckIo();
  PushStream(ConsoleOutput);
  CheckIo();
  flow.choice = ReadChar(ConsoleInput);
  CheckIo();
  SkipLine(ConsoleInput);
  CheckIo();

  DownloadChoice(flow.choice);
  EndRun();
}

// Of several entries with the key, the last one counts. A key that no
// entry has is said so, and nothing is downloaded. The download's address
// goes to the downloader as one argument, whatever the path holds.
__attribute__((noinline)) void DownloadChoice(std::uint8_t choice) {
  bool matched = false;
  for (flow.scanIndex = 1; flow.scanIndex <= catalogue.nextIndex - 1;
       ++flow.scanIndex) {
    if (catalogue.keys[flow.scanIndex] != choice) continue;
    flow.downloadAddress = LongText{};
    Append(flow.downloadAddress, CatalogueBaseAddress);
    Append(flow.downloadAddress, catalogue.paths[flow.scanIndex].View());
    flow.announcement = Concat(announcementHead,
                               catalogue.names[flow.scanIndex],
                               announcementTail);
    matched = true;
  }

  WriteEmptyLine();
  if (!matched) {
    WriteTextLine(noMatchMessage);
    FinalPause();
    exitStatus = 1;
    return;
  }
  WriteTextLine(flow.announcement);
  WriteTextLine(confirmRequest);

  // The rest of this line stays in the buffer for the final pause.
  flow.pauseByte = ReadChar(ConsoleInput);
  CheckIo();
  PushStream(ConsoleInput);
  CheckIo();

  // A command line ends at a zero byte, and so does the address in it.
  std::string_view address = flow.downloadAddress.View();
  address = address.substr(0, address.find('\0'));
  std::size_t length = platform::QuoteArgument(address, downloadArguments);
  DownloaderOutcome outcome = RunDownloader(
      MakeText(DownloaderProgram), std::string_view(downloadArguments, length));

  switch (outcome) {
    case DownloaderOutcome::succeeded:
      WriteTextLine(doneMessage);
      break;
    case DownloaderOutcome::notStarted:
      WriteTextLine(notStartedMessage);
      break;
    case DownloaderOutcome::failed:
      WriteTextLine(failedMessage);
      break;
  }
  FinalPause();
  if (outcome != DownloaderOutcome::succeeded) exitStatus = 1;
}

// The child shares the console and the current directory, and runs in the
// program's environment; the program waits for it without a time limit.
DownloaderOutcome RunDownloader(const ShortText& program,
                                std::string_view arguments) {
  ShortText programPart = program;
  if (program.View().find('"') == std::string_view::npos) {
    programPart = Concat(std::string_view("\""), program, std::string_view("\""));
  }
  arguments = arguments.substr(0, arguments.find('\0'));
  if (arguments.size() > sizeof commandLine - ShortText::capacity - 3) {
    return DownloaderOutcome::notStarted;
  }
  std::size_t length = 0;
  std::memcpy(commandLine, programPart.bytes, programPart.length);
  length += programPart.length;
  std::memcpy(commandLine + length, "  ", 2);
  length += 2;
  std::memcpy(commandLine + length, arguments.data(), arguments.size());
  length += arguments.size();
  commandLine[length] = 0;

  platform::StartupInfo startup{};
  startup.cb = 68;
  startup.wShowWindow = platform::SW_SHOWNORMAL;
  platform::ProcessInformation started{};
  if (!platform::CreateProcessA(nullptr, commandLine, nullptr, nullptr, false,
                                platform::NORMAL_PRIORITY_CLASS, nullptr,
                                nullptr, &startup, &started)) {
    return DownloaderOutcome::notStarted;
  }
  std::uint32_t exitCode = 1;
  bool ended = platform::WaitForSingleObject(started.hProcess,
                                             platform::INFINITE) ==
                   platform::WAIT_OBJECT_0 &&
               platform::GetExitCodeProcess(started.hProcess, &exitCode);
  platform::CloseHandle(started.hProcess);
  platform::CloseHandle(started.hThread);
  return ended && exitCode == 0 ? DownloaderOutcome::succeeded
                                : DownloaderOutcome::failed;
}
