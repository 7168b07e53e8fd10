// Text streams over real files: reads over every line-end style, the
// refill boundary, the end-of-data byte, and every failure code.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "scratch_dir.h"
#include "textio/text_stream.h"

namespace {

class TextStreamTest : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    pendingIoCode = 0;
    stream = TextStream{};
  }
  void TearDown() override {
    if (stream.state == StreamState::reading ||
        stream.state == StreamState::writing) {
      pendingIoCode = 0;
      CloseStream(stream);
    }
    pendingIoCode = 0;
    ScratchDir::TearDown();
  }

  void Open(const std::string& name) {
    BindStream(stream, MakeText(name));
    OpenForReading(stream);
  }

  // Reads the open stream the way the catalogue loader does: per line,
  // AtEnd, ReadString(255), SkipLine.
  std::vector<std::string> ReadLines() {
    std::vector<std::string> lines;
    while (!AtEnd(stream) && lines.size() < 10000) {
      lines.push_back(ToString(ReadString(stream, 255)));
      SkipLine(stream);
    }
    return lines;
  }

  TextStream stream;
};

struct LinesCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const LinesCase& c, std::ostream* out) { *out << c.name; }

const std::string kSub(1, '\x1a');

std::vector<LinesCase> LineCases() {
  return {
      {"Empty", "", {}},
      {"LF", "ab\ncd\n", {"ab", "cd"}},
      {"CRLF", "ab\r\ncd\r\n", {"ab", "cd"}},
      {"LoneCR", "ab\rcd\r", {"ab", "cd"}},
      {"Mixed", "a\nb\r\nc\rd", {"a", "b", "c", "d"}},
      {"LastLineWithoutEnd", "ab\ncd", {"ab", "cd"}},
      {"LFThenCRIsTwoEnds", "a\n\rb", {"a", "", "b"}},
      {"CRCRLFGivesEmptyLine", "a\r\r\nb", {"a", "", "b"}},
      {"TwoEndsAtEnd", "a\n\n", {"a", ""}},
      {"SubAtStart", kSub + "ab\n", {}},
      {"SubBeginsLine", "ab\n" + kSub + "cd\n", {"ab"}},
      {"SubInsideLine", "ab" + kSub + "cd\nef\n", {"ab"}},
      {"SubAfterCR", "ab\r" + kSub + "cd", {"ab"}},
      {"ControlAndHighBytesAreContent",
       std::string("\t \x01\xff\x00z\n", 7),
       {std::string("\t \x01\xff\x00z", 6)}},
  };
}

class StreamLines : public TextStreamTest,
                    public ::testing::WithParamInterface<LinesCase> {};

TEST_P(StreamLines, ReadsLinesAsWritten) {
  WriteFile("f.txt", GetParam().bytes);
  Open("f.txt");
  ASSERT_EQ(pendingIoCode, 0);
  EXPECT_EQ(ReadLines(), GetParam().lines);
  EXPECT_EQ(pendingIoCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Styles, StreamLines, ::testing::ValuesIn(LineCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(TextStreamTest, CRLFSplitByRefillIsOneLineEnd) {
  // 255 bytes, then CR as byte 256 and LF as byte 257 of the file.
  std::string first(255, 'x');
  WriteFile("f.txt", first + "\r\nnext\n");
  Open("f.txt");
  EXPECT_EQ(ReadLines(), (std::vector<std::string>{first, "next"}));
}

TEST_F(TextStreamTest, LongLineKeepsFirst255AndLeavesRestForSkipLine) {
  std::string line;
  for (int i = 0; i < 300; ++i) line += static_cast<char>('a' + i % 26);
  WriteFile("f.txt", line + "\r\nnext\r\n");
  Open("f.txt");
  EXPECT_EQ(ToString(ReadString(stream, 255)), line.substr(0, 255));
  EXPECT_EQ(ReadChar(stream), static_cast<std::uint8_t>(line[255]));
  SkipLine(stream);
  EXPECT_EQ(ToString(ReadString(stream, 255)), "next");
}

TEST_F(TextStreamTest, ReadCharHandsOutLineEndsAndStopsAtEndOfData) {
  WriteFile("f.txt", std::string("\r\n") + kSub);
  Open("f.txt");
  EXPECT_EQ(ReadChar(stream), 13);
  EXPECT_EQ(ReadChar(stream), 10);
  EXPECT_TRUE(AtEnd(stream));
  EXPECT_EQ(ReadChar(stream), 26);  // the byte 26 itself
  EXPECT_EQ(ReadChar(stream), 26);  // end of data, nothing consumed
  EXPECT_EQ(ReadChar(stream), 26);
  EXPECT_EQ(pendingIoCode, 0);
}

TEST_F(TextStreamTest, SkipLineStopsInFrontOfEndOfDataByte) {
  WriteFile("f.txt", "ab" + kSub + "\ncd");
  Open("f.txt");
  SkipLine(stream);
  EXPECT_TRUE(AtEnd(stream));
  EXPECT_EQ(ReadChar(stream), 26);
  EXPECT_FALSE(AtEnd(stream));  // beyond the 26, the data goes on
}

TEST_F(TextStreamTest, NameWithSlashIsOpenedWithBackslashes) {
  std::filesystem::create_directory(dir_ / "sub");
  WriteFile("sub/f.txt", "x\n");
  Open("sub/f.txt");
  EXPECT_EQ(pendingIoCode, 0);
  EXPECT_EQ(ToString(stream.name), "sub\\f.txt");
  EXPECT_EQ(ReadChar(stream), 'x');
}

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

TEST_F(TextStreamTest, OpenFailuresLeaveTheirCodeAndAClosedStream) {
  struct Case {
    const char* name;
    std::uint16_t code;
  } cases[] = {
      {"missing.txt", 2},
      {"nodir/missing.txt", 3},
      {"nodir\\missing.txt", 3},
      {".", 5},  // a directory
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pendingIoCode = 0;
    Open(c.name);
    EXPECT_EQ(pendingIoCode, c.code);
    EXPECT_EQ(stream.state, StreamState::closed);
  }
}

TEST_F(TextStreamTest, NeverBoundStreamGives102) {
  OpenForReading(stream);
  EXPECT_EQ(pendingIoCode, 102);
}

TEST_F(TextStreamTest, OperationsOnClosedStreamGive103) {
  using Op = void (*)(TextStream&);
  Op ops[] = {
      [](TextStream& s) { AtEnd(s); },
      [](TextStream& s) { ReadChar(s); },
      [](TextStream& s) { ReadString(s, 255); },
      [](TextStream& s) { SkipLine(s); },
      [](TextStream& s) { WriteText(s, MakeText("x"), 0); },
      [](TextStream& s) { WriteNumber(s, 1, 0); },
      [](TextStream& s) { WriteLine(s); },
      [](TextStream& s) { FlushStream(s); },
      [](TextStream& s) { CloseStream(s); },
  };
  for (Op op : ops) {
    for (bool bound : {false, true}) {
      stream = TextStream{};
      if (bound) BindStream(stream, MakeText("f.txt"));
      pendingIoCode = 0;
      op(stream);
      EXPECT_EQ(pendingIoCode, 103);
    }
  }
}

TEST_F(TextStreamTest, ReadingAWriteStreamGives104WritingAReadStream105) {
  WriteFile("f.txt", "x\n");
  Open("f.txt");
  using Op = void (*)(TextStream&);
  Op writes[] = {
      [](TextStream& s) { WriteText(s, MakeText("x"), 0); },
      [](TextStream& s) { WriteNumber(s, 7, 0); },
      [](TextStream& s) { WriteLine(s); },
      [](TextStream& s) { FlushStream(s); },
  };
  for (Op op : writes) {
    pendingIoCode = 0;
    op(stream);
    EXPECT_EQ(pendingIoCode, 105);
  }
  pendingIoCode = 0;

  TextStream out{};
  BindStream(out, ShortText{});
  out.state = StreamState::writing;
  out.handle = platform::INVALID_HANDLE_VALUE;
  Op reads[] = {
      [](TextStream& s) { AtEnd(s); },
      [](TextStream& s) { ReadChar(s); },
      [](TextStream& s) { ReadString(s, 255); },
      [](TextStream& s) { SkipLine(s); },
  };
  for (Op op : reads) {
    pendingIoCode = 0;
    op(out);
    EXPECT_EQ(pendingIoCode, 104);
  }
  pendingIoCode = 0;
}

TEST_F(TextStreamTest, PendingCodeMakesOperationsDoNothing) {
  WriteFile("f.txt", "abc\n");
  Open("f.txt");
  pendingIoCode = 77;
  EXPECT_TRUE(AtEnd(stream));
  EXPECT_EQ(ReadChar(stream), 0);
  EXPECT_TRUE(ReadString(stream, 255).Empty());
  SkipLine(stream);
  CloseStream(stream);
  EXPECT_EQ(stream.state, StreamState::reading);
  EXPECT_EQ(pendingIoCode, 77);
  pendingIoCode = 0;
  EXPECT_EQ(ReadChar(stream), 'a');
}

// A stream writing to a descriptor of this process through a standard-handle
// binding, as BindStandardStreams makes them.
TextStream WriterOn(int fd) {
  TextStream out{};
  BindStream(out, ShortText{});
  out.device = Device::standardHandle;
  out.state = StreamState::writing;
  out.handle = platform::GetStdHandle(
      fd == 1 ? platform::STD_OUTPUT_HANDLE : platform::STD_ERROR_HANDLE);
  return out;
}

// Runs `body` in a child whose descriptor 2 is `target`, and returns the
// pendingIoCode it ends with as its exit status.
int CodeInChild(int target, void (*body)()) {
  pid_t pid = fork();
  if (pid == 0) {
    dup2(target, 2);
    pendingIoCode = 0;
    body();
    _exit(pendingIoCode & 0xFF);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TextStreamWrite, ShortWriteGives101AndEmptiesTheBuffer) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(CodeInChild(full, [] {
              TextStream out = WriterOn(2);
              WriteText(out, MakeText("hello"), 0);
              FlushStream(out);
              if (out.bufIndex != 0) _exit(99);
            }),
            101);
  close(full);
}

TEST(TextStreamWrite, ClosedPipeGives101AndDoesNotKillTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  EXPECT_EQ(CodeInChild(fds[1], [] {
              TextStream out = WriterOn(2);
              WriteLine(out);
              FlushStream(out);
            }),
            101);
  close(fds[1]);
}

TEST(TextStreamWrite, TextAndNumbersWithWidthAndOverflow) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    TextStream out = WriterOn(2);
    WriteText(out, MakeText("ab"), 5);
    WriteNumber(out, 0, 0);
    WriteNumber(out, 4294967295u, 12);
    WriteLine(out);  // not a character device: no push
    if (out.bufIndex != 20) _exit(1);
    std::string big(300, 'z');
    WriteText(out, MakeText(big), 0);  // 255 bytes: overflows once
    if (out.bufIndex != 20 + 255 - 256) _exit(2);
    FlushStream(out);
    _exit(pendingIoCode);
  }
  close(fds[1]);
  std::string got;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(got, "   ab0  4294967295\r\n" + std::string(255, 'z'));
}

// ---------------------------------------------------------------------------
// Sharing
// ---------------------------------------------------------------------------

TEST_F(TextStreamTest, FileHeldOpenByAnotherProcessGives5) {
  WriteFile("held.txt", "x\n");
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t pid = fork();
  if (pid == 0) {
    TextStream holder{};
    BindStream(holder, MakeText("held.txt"));
    OpenForReading(holder);
    char byte = pendingIoCode == 0 ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  Open("held.txt");
  EXPECT_EQ(pendingIoCode, 5);
  EXPECT_EQ(stream.state, StreamState::closed);
  (void)!write(release[1], &byte, 1);
  waitpid(pid, nullptr, 0);

  // Once the other process has let go, the open succeeds.
  pendingIoCode = 0;
  Open("held.txt");
  EXPECT_EQ(pendingIoCode, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// ---------------------------------------------------------------------------
// Mapping of Windows codes
// ---------------------------------------------------------------------------

TEST(MapWindowsError, MapsAsDocumented) {
  struct Case {
    std::uint32_t windows;
    std::uint16_t code;
  } cases[] = {
      {2, 2},     {3, 3},     {5, 5},     {18, 18},   {19, 150},
      {31, 162},  {32, 5},    {33, 33},   {145, 5},   {183, 5},
      {112, 112}, {0x12345, 0x2345},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapWindowsError(c.windows), c.code) << c.windows;
  }
}

}  // namespace
