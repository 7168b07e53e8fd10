// The catalogue: one entry per line of "1.zvd" (keys), "2.zvd" (names) and
// "3.zvd" (paths), read from the current directory.
#pragma once

#include <cstdint>

#include "textio/short_text.h"

constexpr int catalogueSlots = 1000;  // slot 0 is never used

struct Catalogue {
  std::uint8_t keys[catalogueSlots];
  ShortText names[catalogueSlots];
  ShortText paths[catalogueSlots];
  // While a file is read: the slot the next line fills. After loading: one
  // more than the number of entries.
  std::int16_t nextIndex;
};

extern Catalogue catalogue;

// Reads the three files into `catalogue`, or ends the run through CheckIo.
void LoadCatalogue();
