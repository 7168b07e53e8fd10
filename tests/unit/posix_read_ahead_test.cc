// ReadFile on POSIX reads an exclusively held file ahead of its caller. It
// must hand out exactly what reads straight from the descriptor would, in
// the same counts, up to and past the end of the file; a child that
// inherits the handle must find it where the caller stands; and an open
// that others may write must keep reading the file as it is now.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "scratch_dir.h"

namespace {

using namespace platform;

// The layer's read-ahead block (16 KiB): the files below cross it.
constexpr std::uint32_t block = 16 * 1024;
// FILE_SHARE_READ | FILE_SHARE_WRITE.
constexpr std::uint32_t shareReadWrite = 1 | 2;

std::string Pattern(std::size_t length) {
  std::string bytes(length, 0);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

class PosixReadAhead : public ScratchDir {
 protected:
  Handle Open(const char* name, std::uint32_t shareMode = 0) {
    SecurityAttributes security{12, nullptr, true};
    return CreateFileA(name, GENERIC_READ, shareMode, &security,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

// Each case reads a file of `fileLength` bytes with the request sizes
// given, the last size repeated until two reads have come back empty; the
// reference is read(2) on its own descriptor with the same sizes.
TEST_F(PosixReadAhead, SameBytesAndCountsAsDirectReads) {
  struct Case {
    const char* name;
    std::size_t fileLength;
    std::vector<std::uint32_t> sizes;
  } cases[] = {
      {"empty file", 0, {256}},
      {"one byte at a time over a block edge", block + 10, {1}},
      {"stream refills, file ends mid-block", 2 * block + 1000, {256}},
      {"requests that straddle the block edge", 2 * block + 7, {300}},
      {"file exactly one block", block, {256}},
      {"file ends exactly where a request does", 1024, {256}},
      {"request larger than a block, nothing held", 3 * block + 5, {20000}},
      {"large request after a small one", 3 * block + 5, {100, 40000, 256}},
      {"request of exactly a block", 2 * block + 3, {block}},
      {"mixed sizes", 2 * block + 999, {1, 255, block - 1, 2, 5000, 0, 256}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string content = Pattern(c.fileLength);
    WriteFile("data", content);
    Handle handle = Open("data");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    int reference = open("data", O_RDONLY);
    ASSERT_GE(reference, 0);

    std::string received;
    int empties = 0;
    for (std::size_t step = 0; empties < 2; ++step) {
      ASSERT_LT(step, 100000u) << "the reads never reach the end";
      std::uint32_t size = c.sizes[std::min(step, c.sizes.size() - 1)];
      std::vector<char> ours(size + 1, 'x');
      std::vector<char> theirs(size + 1, 'y');
      std::uint32_t count = 0xFFFF;
      ASSERT_TRUE(ReadFile(handle, ours.data(), size, &count));
      ssize_t expected = read(reference, theirs.data(), size);
      ASSERT_EQ(static_cast<ssize_t>(count), expected) << "read " << step;
      ASSERT_EQ(std::string(ours.data(), count),
                std::string(theirs.data(), count))
          << "read " << step;
      EXPECT_EQ(ours[count], 'x') << "wrote past the count, read " << step;
      received.append(ours.data(), count);
      if (step >= c.sizes.size() - 1 && count == 0) ++empties;
    }
    EXPECT_EQ(received, content);
    close(reference);
    EXPECT_TRUE(CloseHandle(handle));
  }
}

// A child that inherits the handle reads from where the caller stands, and
// the caller goes on from where the child left the shared position.
TEST_F(PosixReadAhead, InheritingChildFindsTheCallersPosition) {
  std::string content = Pattern(3 * block);
  WriteFile("data", content);
  Handle handle = Open("data");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  char first[100];
  std::uint32_t count = 0;
  ASSERT_TRUE(ReadFile(handle, first, sizeof first, &count));
  ASSERT_EQ(count, sizeof first);

  // dd reads exactly one 10-byte block from the inherited descriptor.
  int fd = posix::LookUpHandle(handle)->fd;
  std::string command = "/bin/sh -c \"dd bs=10 count=1 status=none <&" +
                        std::to_string(fd) + " >child.out\"";
  StartupInfo startup{};
  ProcessInformation child{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, true,
                             0, nullptr, nullptr, &startup, &child));
  ASSERT_EQ(WaitForSingleObject(child.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);

  std::ifstream out(dir_ / "child.out", std::ios::binary);
  std::string childBytes((std::istreambuf_iterator<char>(out)),
                         std::istreambuf_iterator<char>());
  EXPECT_EQ(childBytes, content.substr(100, 10));

  char next[256];
  ASSERT_TRUE(ReadFile(handle, next, sizeof next, &count));
  ASSERT_EQ(count, sizeof next);
  EXPECT_EQ(std::string(next, count), content.substr(110, 256));
  CloseHandle(handle);
}

// An open that lets others write sees their change to bytes it has not
// reached yet, as it would reading straight from the file.
TEST_F(PosixReadAhead, SharedOpenSeesLaterChanges) {
  std::string content = Pattern(2 * block);
  WriteFile("data", content);
  Handle handle = Open("data", shareReadWrite);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  char bytes[256];
  std::uint32_t count = 0;
  ASSERT_TRUE(ReadFile(handle, bytes, sizeof bytes, &count));
  ASSERT_EQ(count, sizeof bytes);

  int writer = open("data", O_WRONLY);
  ASSERT_GE(writer, 0);
  std::string changed(256, 'Z');
  ASSERT_EQ(pwrite(writer, changed.data(), changed.size(), 256), 256);
  close(writer);

  ASSERT_TRUE(ReadFile(handle, bytes, sizeof bytes, &count));
  ASSERT_EQ(count, sizeof bytes);
  EXPECT_EQ(std::string(bytes, count), changed);
  CloseHandle(handle);
}

}  // namespace
