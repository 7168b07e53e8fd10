// Another process that holds a file open, as the runtime opens files:
//
//   hold_file NAME
//
// Opens NAME through the platform layer for reading with share mode 0 (no
// sharing), says "held" and a line end on its standard output, and keeps
// the file open until its standard input ends. When the open fails it
// says "failed CODE" (the last error) and ends with status 1.
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace {

void Say(const std::string& text) {
  std::uint32_t written = 0;
  platform::WriteFile(platform::GetStdHandle(platform::STD_OUTPUT_HANDLE),
                      text.data(), static_cast<std::uint32_t>(text.size()),
                      &written);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    Say("usage: hold_file NAME\n");
    return 2;
  }
  platform::SecurityAttributes security{12, nullptr, true};
  platform::Handle file = platform::CreateFileA(
      argv[1], platform::GENERIC_READ, 0, &security, platform::OPEN_EXISTING,
      platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == platform::INVALID_HANDLE_VALUE) {
    Say("failed " + std::to_string(platform::GetLastError()) + "\n");
    return 1;
  }
  Say("held\n");

  platform::Handle input = platform::GetStdHandle(platform::STD_INPUT_HANDLE);
  char bytes[64];
  std::uint32_t count = 0;
  while (platform::ReadFile(input, bytes, sizeof bytes, &count) && count > 0) {
  }
  platform::CloseHandle(file);
  return 0;
}
