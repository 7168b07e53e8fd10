// The program flow: fetch the catalogue, show the menu, take the choice and
// download the chosen entry.
#pragma once

#include <cstdint>

#include "textio/short_text.h"

// The main body: runs once and ends the run through EndRun.
void MainBody();
void DownloadChoice(std::uint8_t choice);
void RunDownloader(const ShortText& program, const ShortText& arguments);
