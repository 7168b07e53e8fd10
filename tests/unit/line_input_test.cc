// The console input device when the standard input is no console: lines
// come from the handle's bytes, over real files, pipes and descriptors.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "tests/unit/scratch_dir.h"
#include "textio/line_editor.h"
#include "textio/text_stream.h"

namespace {

platform::Handle HandleOf(int fd) {
  return platform::posix::NewHandle(
      platform::posix::HandleEntry{platform::posix::HandleKind::file, fd, 0,
                                   false, 0});
}

// A console input stream over `handle`, as StartConsole binds ConsoleInput.
TextStream ConsoleInputOver(platform::Handle handle) {
  TextStream stream;
  BindStream(stream, ShortText{});
  stream.device = Device::consoleInput;
  stream.state = StreamState::reading;
  stream.handle = handle;
  return stream;
}

// Every refill up to the first that brings nothing (at most `limit`).
std::vector<std::string> AllLines(TextStream& stream, int limit = 20) {
  std::vector<std::string> lines;
  for (int i = 0; i < limit; ++i) {
    EditLine(stream);
    EXPECT_EQ(stream.bufIndex, 0u);
    if (stream.bufCount == 0) break;
    lines.emplace_back(reinterpret_cast<const char*>(stream.buffer),
                       stream.bufCount);
  }
  return lines;
}

class LineInput : public ScratchDir {
 protected:
  void TearDown() override {
    for (platform::Handle handle : handles_) platform::CloseHandle(handle);
    ScratchDir::TearDown();
  }

  platform::Handle OpenFile(const std::string& name) {
    int fd = open((dir_ / name).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    platform::Handle handle = HandleOf(fd);
    handles_.push_back(handle);
    return handle;
  }

  std::vector<platform::Handle> handles_;
};

TEST_F(LineInput, TakesLinesAsATypedLineWouldBe) {
  const std::string x300(300, 'x');
  const std::string x254(254, 'x');
  struct Row {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"empty input", "", {}},
      {"one line with LF", "2\n", {"2\r\n"}},
      {"CR LF ends a line once", "2\r\n\r\n", {"2\r\n", "\r\n"}},
      {"empty lines", "\n\n", {"\r\n", "\r\n"}},
      {"last line without its end", "a\nbc", {"a\r\n", "bc\r\n"}},
      {"a lone CR stays in the line", "a\rb\n", {"a\rb\r\n"}},
      {"CR CR LF keeps the first CR", "a\r\r\n", {"a\r\r\n"}},
      {"254 bytes are kept whole", x254 + "\r\nz\n", {x254 + "\r\n", "z\r\n"}},
      {"a longer line loses its rest, not the next line",
       x300 + "\r\nz\n", {x254 + "\r\n", "z\r\n"}},
      {"a CR past the limit is dropped with the rest",
       x254 + "\rq\n", {x254 + "\r\n"}},
      {"Ctrl-Z is a byte of the line", "a\x1a" "b\n", {"a\x1a" "b\r\n"}},
      {"NUL bytes are kept", std::string("a\0b\n", 4),
       {std::string("a\0b\r\n", 5)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile("input", row.input);
    TextStream stream = ConsoleInputOver(OpenFile("input"));
    EXPECT_EQ(AllLines(stream), row.lines);
    EXPECT_EQ(pendingIoCode, 0);
  }
}

// What follows the line stays in the pipe for whoever reads next.
TEST_F(LineInput, ReadsNothingPastTheLineEnd) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  const std::string input = "1\r\nrest of the input\n";
  ASSERT_EQ(write(fds[1], input.data(), input.size()),
            static_cast<ssize_t>(input.size()));
  close(fds[1]);
  platform::Handle handle = HandleOf(fds[0]);
  handles_.push_back(handle);

  TextStream stream = ConsoleInputOver(handle);
  EditLine(stream);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.buffer),
                        stream.bufCount),
            "1\r\n");
  char rest[64];
  ssize_t count = read(fds[0], rest, sizeof rest);
  EXPECT_EQ(std::string(rest, count > 0 ? static_cast<std::size_t>(count) : 0),
            "rest of the input\n");
}

// A closed descriptor, or no handle at all, is the end of the data: the
// refill brings nothing, sets no code, and comes back at once each time.
TEST_F(LineInput, AClosedDescriptorIsTheEndOfTheData) {
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  platform::Handle closed = HandleOf(fd);
  close(fd);
  for (platform::Handle handle :
       {closed, platform::INVALID_HANDLE_VALUE, platform::Handle{}}) {
    TextStream stream = ConsoleInputOver(handle);
    for (int i = 0; i < 3; ++i) {
      EditLine(stream);
      EXPECT_EQ(stream.bufCount, 0u);
    }
    EXPECT_EQ(pendingIoCode, 0);
  }
  platform::posix::FreeHandle(closed);
}

// The program's reads: the choice with ReadChar, then two pauses with
// SkipLine; at the end of the data every read comes back at once.
TEST_F(LineInput, ReadsTheChoiceAndThePausesThenSeesTheEnd) {
  WriteFile("input", "2\n\n");
  TextStream stream = ConsoleInputOver(OpenFile("input"));
  EXPECT_EQ(ReadChar(stream), '2');
  SkipLine(stream);
  EXPECT_FALSE(AtEnd(stream));
  SkipLine(stream);
  EXPECT_TRUE(AtEnd(stream));
  SkipLine(stream);
  EXPECT_EQ(ReadChar(stream), endOfDataByte);
  EXPECT_EQ(pendingIoCode, 0);
}

}  // namespace
