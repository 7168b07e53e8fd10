// The program flow: fetch the catalogue, show the menu, take the choice and
// download the chosen entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "textio/short_text.h"

// A text too long for a ShortText: a download address (the base address
// and a whole stored path, never cut) or an argument text built from one.
struct LongText {
  static constexpr std::size_t capacity = 1024;

  std::uint16_t length;
  char bytes[capacity];

  std::string_view View() const { return {bytes, length}; }
};

// Appends as many bytes of `piece` as still fit.
void Append(LongText& text, std::string_view piece);

// What became of one run of the downloader.
enum class DownloaderOutcome : std::uint8_t {
  notStarted,  // the program could not be started
  failed,      // it ended with a non-zero exit status
  succeeded,
};

// The values of the flow, zero when the run starts.
struct Flow {
  std::uint8_t choice;       // the byte typed at the prompt
  LongText downloadAddress;  // the base address and the chosen entry's path
  ShortText announcement;
  std::uint8_t pauseByte;    // read at the pauses; nothing looks at it
  std::int16_t menuIndex;
  std::int16_t scanIndex;
};

extern Flow flow;

// The main body: runs once and ends the run through EndRun, with exit
// status 0 after a download that succeeded and 1 when the choice matched no
// entry or the download failed.
void MainBody();

// Announces the entry whose key is `choice`, waits for Enter, downloads it
// and waits for Enter once more.
void DownloadChoice(std::uint8_t choice);

// Starts `program` with the argument text `arguments` (a Windows command
// line's tail, up to its first zero byte) and waits for it to end.
DownloaderOutcome RunDownloader(const ShortText& program,
                                std::string_view arguments);
