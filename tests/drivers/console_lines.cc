// A small program on the real runtime that reads lines from ConsoleInput,
// as the program reads its choice and its pauses, and reports each:
//
//   console_lines [COUNT]
//
// Up to COUNT times (default 20): shows the prompt "> " on ConsoleOutput,
// stops at the end of the data (AtEnd), else reads the line's text with
// ReadString, skips the rest with SkipLine, and writes "[text]" and a line
// end to StandardOutput. At the end it writes "end". Bytes outside 32 to
// 126 are written as their number in angle brackets ("<241>"). The
// line "stop" stops the run as a failed open does (code 2).
#include <cstdlib>
#include <string>

#include "runtime/run.h"
#include "textio/console.h"
#include "textio/text_stream.h"

namespace {

int lineCount = 20;

void Write(const ShortText& text) {
  WriteText(StandardOutput, text, 0);
  CheckIo();
}

// The line may fill a ShortText on its own: written in pieces.
void Show(const ShortText& line) {
  Write(MakeText("["));
  for (std::uint32_t i = 0; i < line.length; ++i) {
    auto byte = static_cast<std::uint8_t>(line.bytes[i]);
    ShortText shown{};
    if (byte < 32 || byte > 126) {
      Append(shown, "<");
      Append(shown, std::to_string(byte));
      Append(shown, ">");
    } else {
      AppendByte(shown, byte);
    }
    Write(shown);
  }
  Write(MakeText("]"));
  WriteLine(StandardOutput);
  CheckIo();
}

void Body() {
  BindStandardStreams();
  StartConsole();
  for (int i = 0; i < lineCount; ++i) {
    WriteText(ConsoleOutput, MakeText("> "), 0);
    CheckIo();
    PushStream(ConsoleOutput);
    CheckIo();
    bool atEnd = AtEnd(ConsoleInput);
    CheckIo();
    if (atEnd) break;
    ShortText line = ReadString(ConsoleInput, 255);
    CheckIo();
    SkipLine(ConsoleInput);
    CheckIo();
    if (line.View() == "stop") {
      TextStream missing;
      BindStream(missing, MakeText("missing-file-of-console-lines"));
      OpenForReading(missing);
      CheckIo();
    }
    Show(line);
  }
  Write(MakeText("end"));
  WriteLine(StandardOutput);
  CheckIo();
  EndRun();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) lineCount = std::atoi(argv[1]);
  StartRun(Body);
}
