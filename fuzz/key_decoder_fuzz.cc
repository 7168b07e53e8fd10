// The terminal key decoder over arbitrary bytes.
//
// The bytes are walked as the console input walks what the terminal sent:
// keys are decoded from the front while more bytes may still come, and what
// is left once the decoder waits for more is then taken as it stands.
// Properties: no fault; every byte is consumed exactly once, or held while
// more may come; a held rest is always taken once nothing more comes; each
// key gives as many key-ups as key-downs, and events of no other kind than
// key and focus; and a key once decided does not depend on what follows
// it: its own bytes alone, with nothing more to come, give the same events.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>

#include "platform/posix/key_decoder.h"

namespace {

using platform::posix::DecodedInput;
using platform::posix::DecodeTerminalInput;
using platform::posix::maxKeyEvents;

[[noreturn]] void Fail(const char* what, std::size_t at) {
  fprintf(stderr, "key_decoder_fuzz: %s (at byte %zu)\n", what, at);
  abort();
}

void CheckDecoded(const DecodedInput& decoded, int count, std::size_t at) {
  if (decoded.consumed < 0 || decoded.consumed > count) Fail("consumed out of range", at);
  if (decoded.eventCount < 0 || decoded.eventCount > maxKeyEvents) {
    Fail("event count out of range", at);
  }
  if (decoded.consumed == 0 && decoded.eventCount != 0) Fail("events from nothing", at);
  int downs = 0;
  int ups = 0;
  for (int i = 0; i < decoded.eventCount; ++i) {
    const platform::InputRecord& event = decoded.events[i];
    if (event.EventType == platform::KEY_EVENT) {
      (event.KeyEvent.bKeyDown ? downs : ups) += 1;
    } else if (event.EventType != platform::FOCUS_EVENT) {
      Fail("an event of another kind", at);
    }
  }
  if (downs != ups) Fail("key-downs and key-ups differ", at);
}

bool SameDecoding(const DecodedInput& a, const DecodedInput& b) {
  if (a.consumed != b.consumed || a.eventCount != b.eventCount) return false;
  return std::memcmp(a.events, b.events,
                     sizeof(platform::InputRecord) *
                         static_cast<std::size_t>(a.eventCount)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::size_t at = 0;
  bool complete = false;  // nothing more comes: the held rest is taken
  while (at < size) {
    int count = static_cast<int>(size - at);
    DecodedInput decoded = DecodeTerminalInput(data + at, count, complete);
    CheckDecoded(decoded, count, at);
    if (decoded.consumed == 0) {
      if (complete) Fail("a rest is held with nothing more to come", at);
      complete = true;
      continue;
    }
    // Bytes dropped as noise may be a key on their own: "ESC [" broken off
    // by another byte is dropped, "ESC [" alone is Alt with "[".
    if (decoded.eventCount > 0) {
      DecodedInput alone = DecodeTerminalInput(data + at, decoded.consumed, true);
      if (!SameDecoding(decoded, alone)) {
        Fail("a key depends on the bytes after it", at);
      }
    }
    at += static_cast<std::size_t>(decoded.consumed);
  }
  return 0;
}
