// Placeholder until the program flow lands: start-up and the catalogue.
#include "app/program.h"

#include "app/catalogue.h"
#include "runtime/run.h"
#include "textio/console.h"
#include "textio/text_stream.h"

void MainBody() {
  BindStandardStreams();
  StartConsole();
  LoadCatalogue();
  EndRun();
}

void DownloadChoice(std::uint8_t) {}
void RunDownloader(const ShortText&, const ShortText&) {}
