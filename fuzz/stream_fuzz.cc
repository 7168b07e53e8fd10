// The reads of a TextStream over arbitrary bytes arriving in arbitrary
// pieces, held against ReferenceReader.
//
// The stream reads through the real ReadFile from a sequenced-packet socket
// on the standard input, fed by a thread one packet per piece: each refill
// then receives exactly the next piece, whatever the timing, so a finding
// replays the same way. The input gives the piece sizes (a short pattern,
// repeated), the bytes, and a sequence of AtEnd, ReadChar, ReadString and
// SkipLine whose results and positions must agree with the reference; the
// rest is drained byte by byte and must agree as well.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/reference_reader.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace {

enum Operation : std::uint8_t { atEnd, readChar, readString, skipLine };

[[noreturn]] void Fail(const char* what, std::size_t step) {
  fprintf(stderr, "stream_fuzz: %s (step %zu)\n", what, step);
  abort();
}

// Sends the bytes one packet per piece, then ends the data.
void Feed(int socket, const std::vector<std::uint8_t>& bytes,
          const std::vector<std::size_t>& pieces) {
  std::size_t done = 0;
  for (std::size_t i = 0; done < bytes.size(); ++i) {
    std::size_t piece = pieces[i % pieces.size()];
    if (piece > bytes.size() - done) piece = bytes.size() - done;
    // Fails only when the reader has gone, which ends the feed.
    if (send(socket, bytes.data() + done, piece, MSG_NOSIGNAL) < 0) break;
    done += piece;
  }
  close(socket);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::size_t> pieces(provider.ConsumeIntegralInRange<std::size_t>(1, 8));
  for (std::size_t& piece : pieces) {
    piece = provider.ConsumeIntegralInRange<std::size_t>(1, streamBufferSize);
  }
  std::size_t length = provider.ConsumeIntegralInRange<std::size_t>(0, 4096);
  ReferenceReader reference{provider.ConsumeBytes<std::uint8_t>(length)};

  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0 ||
      dup2(ends[0], 0) != 0) {
    perror("stream_fuzz: socket");
    abort();
  }
  close(ends[0]);
  std::thread feeder(Feed, ends[1], std::cref(reference.data), std::cref(pieces));

  standardInputHandle = platform::GetStdHandle(platform::STD_INPUT_HANDLE);
  TextStream stream;
  BindStream(stream, ShortText{});
  OpenForReading(stream);

  std::size_t step = 0;
  for (; provider.remaining_bytes() > 0; ++step) {
    switch (provider.ConsumeIntegralInRange<std::uint8_t>(atEnd, skipLine)) {
      case atEnd:
        if (AtEnd(stream) != reference.AtEnd()) Fail("AtEnd differs", step);
        break;
      case readChar:
        if (ReadChar(stream) != reference.ReadChar()) Fail("ReadChar differs", step);
        break;
      case readString: {
        std::uint32_t max = provider.ConsumeIntegralInRange<std::uint32_t>(0, 300);
        if (ReadString(stream, max).View() != reference.ReadString(max)) {
          Fail("ReadString differs", step);
        }
        break;
      }
      case skipLine:
        SkipLine(stream);
        reference.SkipLine();
        break;
    }
    if (pendingIoCode != 0) Fail("a code is pending", step);
  }
  // Whatever is left must come out byte for byte, and then the end.
  while (reference.AtData()) {
    if (ReadChar(stream) != reference.ReadChar()) Fail("drained byte differs", step);
    ++step;
  }
  if (!AtEnd(stream) || ReadChar(stream) != ReferenceReader::endOfData) {
    Fail("data after the end", step);
  }
  if (pendingIoCode != 0) Fail("a code is pending", step);
  CloseStream(stream);

  // The reader goes first, so that a feeder still sending stops.
  int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nothing < 0 || dup2(nothing, 0) != 0) abort();
  close(nothing);
  feeder.join();
  return 0;
}
