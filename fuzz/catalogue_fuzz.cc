// LoadCatalogue over three arbitrary files.
//
// The input is split into "1.zvd", "2.zvd" and "3.zvd", written into a
// directory of this process's own, and loaded. Properties: no fault and no
// stop; nextIndex - 1 is the number of lines of "3.zvd", at most 999; every
// stored key, name and path is what the line rules give (names and paths
// cut at 255 bytes); slot 0 and the slots beyond the lines stay zero.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "app/catalogue.h"
#include "fuzz/reference_reader.h"
#include "textio/text_stream.h"

namespace {

char workDirectory[] = "/tmp/catalogue_fuzz.XXXXXX";
const char* const fileNames[3] = {"1.zvd", "2.zvd", "3.zvd"};

void RemoveWorkDirectory() {
  for (const char* name : fileNames) unlink(name);
  if (chdir("/") == 0) rmdir(workDirectory);
}

void WriteWholeFile(const char* name, const std::vector<std::uint8_t>& bytes) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror(name);
    abort();
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
    if (count <= 0) {
      perror(name);
      abort();
    }
    done += static_cast<std::size_t>(count);
  }
  close(fd);
}

[[noreturn]] void Fail(const char* what, int slot) {
  fprintf(stderr, "catalogue_fuzz: %s (slot %d)\n", what, slot);
  abort();
}

// The keys as ReadChar and SkipLine take them: the first byte of what is
// left, then everything through the next line end.
std::vector<std::uint8_t> ExpectedKeys(const std::vector<std::uint8_t>& bytes) {
  ReferenceReader reader{bytes};
  std::vector<std::uint8_t> keys;
  while (!reader.AtEnd() && keys.size() < catalogueSlots - 1) {
    keys.push_back(reader.ReadChar());
    reader.SkipLine();
  }
  return keys;
}

std::vector<std::string> ExpectedTexts(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> lines = SplitLines(bytes);
  if (lines.size() > catalogueSlots - 1) lines.resize(catalogueSlots - 1);
  for (std::string& line : lines) {
    if (line.size() > ShortText::capacity) line.resize(ShortText::capacity);
  }
  return lines;
}

void CheckTexts(const ShortText* stored, const std::vector<std::string>& expected,
                const char* what) {
  for (int slot = 0; slot < catalogueSlots; ++slot) {
    std::string want;
    if (slot >= 1 && static_cast<std::size_t>(slot) <= expected.size()) {
      want = expected[slot - 1];
    }
    if (stored[slot].View() != want) Fail(what, slot);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(workDirectory) == nullptr || chdir(workDirectory) != 0) {
    perror("catalogue_fuzz: work directory");
    abort();
  }
  atexit(RemoveWorkDirectory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::uint8_t> files[3];
  // Lengths come from the tail of the input, contents from its head; the
  // third file takes whatever is left.
  std::size_t length1 = provider.ConsumeIntegral<std::uint16_t>();
  std::size_t length2 = provider.ConsumeIntegral<std::uint16_t>();
  files[0] = provider.ConsumeBytes<std::uint8_t>(length1);
  files[1] = provider.ConsumeBytes<std::uint8_t>(length2);
  files[2] = provider.ConsumeRemainingBytes<std::uint8_t>();
  for (int i = 0; i < 3; ++i) WriteWholeFile(fileNames[i], files[i]);

  std::memset(&catalogue, 0, sizeof catalogue);
  LoadCatalogue();  // a stop ends the process: a finding

  if (pendingIoCode != 0) Fail("a code is left pending", 0);
  std::vector<std::string> paths = ExpectedTexts(files[2]);
  if (catalogue.nextIndex - 1 != static_cast<int>(paths.size())) {
    Fail("nextIndex is not one more than the lines of 3.zvd", catalogue.nextIndex);
  }
  if (catalogue.nextIndex - 1 > 999) Fail("more than 999 entries", catalogue.nextIndex);

  std::vector<std::uint8_t> keys = ExpectedKeys(files[0]);
  for (int slot = 0; slot < catalogueSlots; ++slot) {
    std::uint8_t want = 0;
    if (slot >= 1 && static_cast<std::size_t>(slot) <= keys.size()) want = keys[slot - 1];
    if (catalogue.keys[slot] != want) Fail("key differs", slot);
    if (catalogue.keys[slot] == 26) Fail("key is byte 26", slot);
  }
  CheckTexts(catalogue.names, ExpectedTexts(files[1]), "name differs");
  CheckTexts(catalogue.paths, paths, "path differs");
  return 0;
}
