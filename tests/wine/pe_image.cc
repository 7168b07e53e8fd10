#include "tests/wine/pe_image.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace pe {

namespace {

// ---------------------------------------------------------------------------
// Bounds-checked little-endian reads
// ---------------------------------------------------------------------------

bool Fits(const std::vector<std::uint8_t>& bytes, std::uint64_t offset,
          std::uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

std::optional<std::uint16_t> U16(const std::vector<std::uint8_t>& bytes,
                                 std::uint64_t offset) {
  if (!Fits(bytes, offset, 2)) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::optional<std::uint32_t> U32(const std::vector<std::uint8_t>& bytes,
                                 std::uint64_t offset) {
  if (!Fits(bytes, offset, 4)) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint32_t U32BigEndian(const std::vector<std::uint8_t>& bytes,
                           std::uint64_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) << 24 |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 3]);
}

// The file offset of a relative virtual address, through the section that
// holds it.
std::optional<std::uint64_t> FileOffset(const Image& image, std::uint32_t rva) {
  for (const Image::Section& section : image.sections) {
    // Only what the file holds: the zero-filled tail beyond rawSize has
    // no bytes to read.
    if (rva >= section.virtualAddress &&
        rva - section.virtualAddress < section.rawSize) {
      return static_cast<std::uint64_t>(section.rawOffset) +
             (rva - section.virtualAddress);
    }
  }
  return std::nullopt;
}

// A zero-terminated name at a relative virtual address.
std::optional<std::string> NameAt(const Image& image, std::uint32_t rva) {
  std::optional<std::uint64_t> offset = FileOffset(image, rva);
  if (!offset) return std::nullopt;
  std::string name;
  for (std::uint64_t at = *offset; at < image.bytes.size(); ++at) {
    if (image.bytes[at] == 0) return name;
    name.push_back(static_cast<char>(image.bytes[at]));
    if (name.size() > 4096) break;
  }
  return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------
// Headers
// ---------------------------------------------------------------------------

std::string ParseImage(std::vector<std::uint8_t> bytes, Image* image) {
  *image = Image{};
  image->bytes = std::move(bytes);
  const std::vector<std::uint8_t>& b = image->bytes;
  if (!Fits(b, 0, 64) || b[0] != 'M' || b[1] != 'Z') return "no MZ header";
  std::uint32_t pe = *U32(b, 0x3c);
  if (!Fits(b, pe, 24) || b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 ||
      b[pe + 3] != 0) {
    return "no PE signature";
  }
  std::uint64_t coff = pe + 4;
  image->machine = *U16(b, coff);
  std::uint16_t sectionCount = *U16(b, coff + 2);
  std::uint16_t optionalSize = *U16(b, coff + 16);
  std::uint64_t optional = coff + 20;
  std::optional<std::uint16_t> magic = U16(b, optional);
  if (!magic) return "truncated optional header";
  std::uint64_t countAt;
  std::uint64_t directoriesAt;
  std::optional<std::uint32_t> baseLow;
  std::optional<std::uint32_t> baseHigh = 0;
  if (*magic == 0x20b) {  // PE32+: a 64-bit image base
    countAt = optional + 108;
    directoriesAt = optional + 112;
    baseLow = U32(b, optional + 24);
    baseHigh = U32(b, optional + 28);
  } else if (*magic == 0x10b) {  // PE32
    countAt = optional + 92;
    directoriesAt = optional + 96;
    baseLow = U32(b, optional + 28);
  } else {
    return "unknown optional header magic";
  }
  std::optional<std::uint16_t> subsystem = U16(b, optional + 68);
  std::optional<std::uint32_t> directoryCount = U32(b, countAt);
  if (!subsystem || !directoryCount || !baseLow || !baseHigh ||
      directoriesAt > optional + optionalSize) {
    return "truncated optional header";
  }
  image->subsystem = *subsystem;
  image->imageBase = static_cast<std::uint64_t>(*baseHigh) << 32 | *baseLow;
  std::uint64_t room = (optional + optionalSize - directoriesAt) / 8;
  std::uint64_t count = *directoryCount < room ? *directoryCount : room;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::optional<std::uint32_t> rva = U32(b, directoriesAt + 8 * i);
    std::optional<std::uint32_t> size = U32(b, directoriesAt + 8 * i + 4);
    if (!rva || !size) return "truncated data directories";
    image->directories.push_back({*rva, *size});
  }
  std::uint64_t sectionAt = optional + optionalSize;
  for (std::uint16_t i = 0; i < sectionCount; ++i, sectionAt += 40) {
    if (!Fits(b, sectionAt, 40)) return "truncated section table";
    Image::Section section;
    const char* name = reinterpret_cast<const char*>(&b[sectionAt]);
    section.name.assign(name, name + 8);
    section.name.resize(section.name.find('\0') == std::string::npos
                            ? 8
                            : section.name.find('\0'));
    section.virtualSize = *U32(b, sectionAt + 8);
    section.virtualAddress = *U32(b, sectionAt + 12);
    section.rawSize = *U32(b, sectionAt + 16);
    section.rawOffset = *U32(b, sectionAt + 20);
    image->sections.push_back(section);
  }
  return "";
}

std::string LoadImage(const std::string& path, Image* image) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot open " + path;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  std::string error = ParseImage(std::move(bytes), image);
  return error.empty() ? "" : path + ": " + error;
}

// ---------------------------------------------------------------------------
// Imports
// ---------------------------------------------------------------------------

std::string ImportedDlls(const Image& image, std::vector<std::string>* dlls) {
  dlls->clear();
  // IMAGE_IMPORT_DESCRIPTOR: 20 bytes, the name's RVA at 12; a zero entry
  // ends the table. IMAGE_DELAYLOAD_DESCRIPTOR: 32 bytes, the name's RVA
  // at 4.
  struct Table {
    std::size_t directory;
    std::uint32_t entrySize;
    std::uint32_t nameAt;
  };
  for (Table table : {Table{1, 20, 12}, Table{13, 32, 4}}) {
    if (image.directories.size() <= table.directory) continue;
    const Image::Directory& directory = image.directories[table.directory];
    if (directory.rva == 0) continue;
    std::optional<std::uint64_t> at = FileOffset(image, directory.rva);
    if (!at) return "import table outside every section";
    for (;; *at += table.entrySize) {
      if (!Fits(image.bytes, *at, table.entrySize)) {
        return "import table runs past the end of the file";
      }
      bool allZero = true;
      for (std::uint32_t i = 0; i < table.entrySize; ++i) {
        if (image.bytes[*at + i] != 0) allZero = false;
      }
      if (allZero) break;
      std::optional<std::string> name =
          NameAt(image, *U32(image.bytes, *at + table.nameAt));
      if (!name) return "import name outside the file";
      dlls->push_back(*name);
    }
  }
  return "";
}

// ---------------------------------------------------------------------------
// Resources
// ---------------------------------------------------------------------------

std::string ToString(const ResourceId& id) {
  if (const std::uint16_t* number = std::get_if<std::uint16_t>(&id)) {
    return "#" + std::to_string(*number);
  }
  return std::get<std::string>(id);
}

namespace {

struct ResourceWalk {
  const Image& image;
  std::uint64_t base;  // file offset of the resource directory
  std::vector<Resource>* resources;
  int directoriesSeen = 0;

  // An entry's name or number: a name's offset has the high bit set and
  // points at a length-prefixed UTF-16 string.
  std::optional<ResourceId> Id(std::uint32_t field) {
    if ((field & 0x80000000u) == 0) {
      return ResourceId(static_cast<std::uint16_t>(field));
    }
    std::uint64_t at = base + (field & 0x7fffffffu);
    std::optional<std::uint16_t> length = U16(image.bytes, at);
    if (!length || !Fits(image.bytes, at + 2, 2ull * *length)) {
      return std::nullopt;
    }
    std::string name;
    for (std::uint16_t i = 0; i < *length; ++i) {
      std::uint16_t unit = *U16(image.bytes, at + 2 + 2ull * i);
      name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return ResourceId(name);
  }

  // IMAGE_RESOURCE_DIRECTORY: 16 bytes, the named and the numbered entry
  // counts at 12 and 14, then 8-byte entries (id, offset; a subdirectory's
  // offset has the high bit set). Level 0 is the type, 1 the name, 2 the
  // language.
  std::string Walk(std::uint64_t offset, int level, Resource resource) {
    if (++directoriesSeen > 10000) return "resource directory loops";
    std::optional<std::uint16_t> named = U16(image.bytes, base + offset + 12);
    std::optional<std::uint16_t> numbered = U16(image.bytes, base + offset + 14);
    if (!named || !numbered) return "resource directory outside the file";
    for (int i = 0; i < *named + *numbered; ++i) {
      std::uint64_t entry = base + offset + 16 + 8ull * i;
      std::optional<std::uint32_t> idField = U32(image.bytes, entry);
      std::optional<std::uint32_t> target = U32(image.bytes, entry + 4);
      if (!idField || !target) return "resource entry outside the file";
      std::optional<ResourceId> id = Id(*idField);
      if (!id) return "resource name outside the file";
      bool subdirectory = (*target & 0x80000000u) != 0;
      if (level == 0) resource.type = *id;
      if (level == 1) resource.name = *id;
      if (level == 2) {
        if (subdirectory) return "resource tree deeper than three levels";
        resource.language = std::get_if<std::uint16_t>(&*id) != nullptr
                                ? std::get<std::uint16_t>(*id)
                                : 0;
        std::string error = Leaf(*target, resource);
        if (!error.empty()) return error;
        continue;
      }
      if (!subdirectory) return "resource leaf above the language level";
      std::string error = Walk(*target & 0x7fffffffu, level + 1, resource);
      if (!error.empty()) return error;
    }
    return "";
  }

  // IMAGE_RESOURCE_DATA_ENTRY: the data's RVA and size.
  std::string Leaf(std::uint32_t offset, Resource resource) {
    std::optional<std::uint32_t> rva = U32(image.bytes, base + offset);
    std::optional<std::uint32_t> size = U32(image.bytes, base + offset + 4);
    if (!rva || !size) return "resource data entry outside the file";
    std::optional<std::uint64_t> at = FileOffset(image, *rva);
    if (!at || !Fits(image.bytes, *at, *size)) {
      return "resource data outside the file";
    }
    resource.data.assign(image.bytes.begin() + *at,
                         image.bytes.begin() + *at + *size);
    resources->push_back(std::move(resource));
    return "";
  }
};

}  // namespace

std::string Resources(const Image& image, std::vector<Resource>* resources) {
  resources->clear();
  if (image.directories.size() <= 2 || image.directories[2].rva == 0) {
    return "no resource directory";
  }
  std::optional<std::uint64_t> base = FileOffset(image, image.directories[2].rva);
  if (!base) return "resource directory outside every section";
  ResourceWalk walk{image, *base, resources};
  return walk.Walk(0, 0, Resource{});
}

// ---------------------------------------------------------------------------
// Icons
// ---------------------------------------------------------------------------

namespace {

// GRPICONDIR and ICONDIR: reserved 0, type 1, count; then the entries,
// 14 bytes in a group (ending in a 16-bit id), 16 in a file (ending in a
// 32-bit offset).
std::string ParseIconDirectory(const std::vector<std::uint8_t>& data,
                               std::uint32_t entrySize,
                               std::vector<IconEntry>* entries) {
  entries->clear();
  std::optional<std::uint16_t> reserved = U16(data, 0);
  std::optional<std::uint16_t> type = U16(data, 2);
  std::optional<std::uint16_t> count = U16(data, 4);
  if (!reserved || !type || !count || *reserved != 0 || *type != 1) {
    return "not an icon directory";
  }
  if (!Fits(data, 6, static_cast<std::uint64_t>(entrySize) * *count)) {
    return "icon directory truncated";
  }
  for (std::uint16_t i = 0; i < *count; ++i) {
    std::uint64_t at = 6 + static_cast<std::uint64_t>(entrySize) * i;
    IconEntry entry;
    entry.width = data[at] == 0 ? 256 : data[at];
    entry.height = data[at + 1] == 0 ? 256 : data[at + 1];
    entry.bitCount = *U16(data, at + 6);
    entry.bytesInResource = *U32(data, at + 8);
    entry.idOrOffset = entrySize == 14 ? *U16(data, at + 12) : *U32(data, at + 12);
    entries->push_back(entry);
  }
  return "";
}

}  // namespace

std::string ParseIconGroup(const std::vector<std::uint8_t>& data,
                           std::vector<IconEntry>* entries) {
  return ParseIconDirectory(data, 14, entries);
}

std::string ParseIconFile(const std::vector<std::uint8_t>& data,
                          std::vector<IconEntry>* entries) {
  return ParseIconDirectory(data, 16, entries);
}

std::string IconImageSize(const std::vector<std::uint8_t>& data,
                          ImageSize* size) {
  static const std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G',
                                               '\r', '\n', 0x1a, '\n'};
  if (Fits(data, 0, 24) &&
      std::equal(pngSignature, pngSignature + 8, data.begin()) &&
      data[12] == 'I' && data[13] == 'H' && data[14] == 'D' && data[15] == 'R') {
    *size = {static_cast<int>(U32BigEndian(data, 16)),
             static_cast<int>(U32BigEndian(data, 20)), true};
    return "";
  }
  // BITMAPINFOHEADER: its size (40) first, then width and height.
  std::optional<std::uint32_t> headerSize = U32(data, 0);
  std::optional<std::uint32_t> width = U32(data, 4);
  std::optional<std::uint32_t> height = U32(data, 8);
  if (!headerSize || *headerSize != 40 || !width || !height) {
    return "neither a PNG nor a bitmap";
  }
  *size = {static_cast<int>(*width), static_cast<int>(*height / 2), false};
  return "";
}

}  // namespace pe
