#include "app/catalogue.h"

#include "textio/text_stream.h"

Catalogue catalogue;

namespace {

TextStream catalogueFile;

enum class Field { key, name, path };

struct CatalogueFile {
  const char* name;
  Field field;
};

constexpr CatalogueFile catalogueFiles[] = {
    {"1.zvd", Field::key},
    {"2.zvd", Field::name},
    {"3.zvd", Field::path},
};

}  // namespace

// Reads each file a line per entry from slot 1 on. The checks sit in this
// routine itself, so a failed read or open is reported at its place here.
// The tables hold 999 entries: reading stops before a file's 1000th line.
__attribute__((noinline)) void LoadCatalogue() {
  for (const CatalogueFile& file : catalogueFiles) {
    catalogue.nextIndex = 1;
    BindStream(catalogueFile, MakeText(file.name));
    OpenForReading(catalogueFile);
    CheckIo();
    for (;;) {
      bool atEnd = AtEnd(catalogueFile);
      CheckIo();
      if (atEnd || catalogue.nextIndex >= catalogueSlots) break;
      std::int16_t slot = catalogue.nextIndex;
      switch (file.field) {
        case Field::key:
          catalogue.keys[slot] = ReadChar(catalogueFile);
          break;
        case Field::name:
          catalogue.names[slot] = ReadString(catalogueFile, 255);
          break;
        case Field::path:
          catalogue.paths[slot] = ReadString(catalogueFile, 255);
          break;
      }
      CheckIo();
      SkipLine(catalogueFile);
      CheckIo();
      ++catalogue.nextIndex;
    }
    CloseStream(catalogueFile);
    CheckIo();
  }
}
