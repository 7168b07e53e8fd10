// A small program on the real runtime that writes to ConsoleOutput as a
// script of steps says, so that screen tests can show each behaviour of
// the console writer:
//
//   console_writer_driver STEP...
//
//   text:T       WriteText(ConsoleOutput, T) without a push
//   push         PushStream(ConsoleOutput)
//   line         WriteLine(ConsoleOutput)
//   line:T       WriteText then WriteLine
//   clear        ClearScreen
//   menu:N       N menu lines as the program writes them, then an empty
//                line and the prompt "> " with a push
//   written      bytes 0-255 but 7, 8, 10 and 13 through WriteText, pushed
//   cells:R      bytes 0-255 straight into the cells from row R on
//                (WriteConsoleOutputCharacterA), no cursor change
//   stdout:T     T to StandardOutput, pushed (a write through the standard
//                output handle, past the console)
//   child:C      runs the command line C as a child process and waits
//   wait         waits for a typed line (ReadChar, SkipLine)
//   read         reads a typed line and writes "[line]" as a line
//   spin         makes console calls that change nothing until a byte can
//                be read from the standard input (which it leaves there)
//
// T and C take the escapes \n \r \t \e \\ and \xHH.
#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/run.h"
#include "textio/console.h"
#include "textio/text_stream.h"

namespace {

int stepCount;
char** steps;

std::string Unescape(const char* text) {
  std::string bytes;
  for (const char* p = text; *p != 0; ++p) {
    if (*p != '\\' || p[1] == 0) {
      bytes += *p;
      continue;
    }
    ++p;
    switch (*p) {
      case 'n':
        bytes += '\n';
        break;
      case 'r':
        bytes += '\r';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'e':
        bytes += '\x1b';
        break;
      case 'x': {
        char hex[3] = {p[1], p[1] != 0 ? p[2] : '\0', 0};
        bytes += static_cast<char>(std::strtol(hex, nullptr, 16));
        p += 2;
        break;
      }
      default:
        bytes += *p;
        break;
    }
  }
  return bytes;
}

// Writes any number of bytes, in ShortText pieces.
void Write(TextStream& stream, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += ShortText::capacity) {
    WriteText(stream, MakeText(std::string_view(bytes).substr(at, ShortText::capacity)), 0);
    CheckIo();
  }
}

void Menu(int count) {
  for (int i = 1; i <= count; ++i) {
    std::string line = std::string(1, static_cast<char>('a' + i % 26)) +
                       " para descargar entry number " + std::to_string(i);
    Write(ConsoleOutput, line);
    WriteLine(ConsoleOutput);
    CheckIo();
  }
  WriteLine(ConsoleOutput);
  CheckIo();
  Write(ConsoleOutput, "> ");
  PushStream(ConsoleOutput);
  CheckIo();
}

void RunChild(const std::string& commandLine) {
  std::string line = commandLine;
  platform::StartupInfo startup{};
  startup.cb = 68;
  platform::ProcessInformation process{};
  if (!platform::CreateProcessA(nullptr, line.data(), nullptr, nullptr, true,
                                platform::NORMAL_PRIORITY_CLASS, nullptr,
                                nullptr, &startup, &process)) {
    return;
  }
  platform::WaitForSingleObject(process.hProcess, platform::INFINITE);
  platform::CloseHandle(process.hProcess);
  platform::CloseHandle(process.hThread);
}

void Body() {
  BindStandardStreams();
  StartConsole();
  for (int i = 0; i < stepCount; ++i) {
    std::string step = steps[i];
    std::size_t colon = step.find(':');
    std::string name = step.substr(0, colon);
    std::string argument =
        colon == std::string::npos ? "" : Unescape(step.c_str() + colon + 1);
    if (name == "text") {
      Write(ConsoleOutput, argument);
    } else if (name == "push") {
      PushStream(ConsoleOutput);
      CheckIo();
    } else if (name == "line") {
      Write(ConsoleOutput, argument);
      WriteLine(ConsoleOutput);
      CheckIo();
    } else if (name == "clear") {
      ClearScreen();
    } else if (name == "menu") {
      Menu(std::atoi(argument.c_str()));
    } else if (name == "written") {
      std::string bytes;
      for (int b = 0; b < 256; ++b) {
        if (b != 7 && b != 8 && b != 10 && b != 13) bytes += static_cast<char>(b);
      }
      Write(ConsoleOutput, bytes);
      PushStream(ConsoleOutput);
      CheckIo();
    } else if (name == "cells") {
      char bytes[256];
      for (int b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
      std::uint32_t written = 0;
      platform::WriteConsoleOutputCharacterA(
          platform::GetStdHandle(platform::STD_OUTPUT_HANDLE), bytes, 256,
          platform::Coord{0, static_cast<std::int16_t>(std::atoi(argument.c_str()))},
          &written);
    } else if (name == "stdout") {
      Write(StandardOutput, argument);
      PushStream(StandardOutput);
      CheckIo();
    } else if (name == "child") {
      RunChild(argument);
    } else if (name == "wait") {
      ReadChar(ConsoleInput);
      CheckIo();
      SkipLine(ConsoleInput);
      CheckIo();
    } else if (name == "spin") {
      platform::ConsoleScreenBufferInfo info{};
      pollfd input{0, POLLIN, 0};
      while (poll(&input, 1, 0) == 0) {
        platform::GetConsoleScreenBufferInfo(
            platform::GetStdHandle(platform::STD_OUTPUT_HANDLE), &info);
      }
    } else if (name == "read") {
      ShortText line = ReadString(ConsoleInput, 255);
      CheckIo();
      SkipLine(ConsoleInput);
      CheckIo();
      Write(ConsoleOutput, "[" + std::string(line.View()) + "]");
      WriteLine(ConsoleOutput);
      CheckIo();
    }
  }
  EndRun();
}

}  // namespace

int main(int argc, char** argv) {
  stepCount = argc - 1;
  steps = argv + 1;
  StartRun(Body);
}
