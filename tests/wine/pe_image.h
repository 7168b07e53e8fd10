// A small reader of Windows executables (PE32+ and PE32) for tests: the
// header fields a test checks, the DLLs the image imports, and the
// resource directory.
//
// Every read is bounds-checked against the file: a damaged or truncated
// image gives an error text, never a read outside the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pe {

constexpr std::uint16_t machineAmd64 = 0x8664;
constexpr std::uint16_t subsystemWindowsGui = 2;
constexpr std::uint16_t subsystemWindowsConsole = 3;

// Resource types of the icon resources.
constexpr std::uint16_t resourceIcon = 3;
constexpr std::uint16_t resourceGroupIcon = 14;

struct Image {
  std::vector<std::uint8_t> bytes;
  std::uint16_t machine = 0;
  std::uint16_t subsystem = 0;
  // The address the image is linked for: a relative virtual address plus
  // this is the address that the debug information and addr2line know.
  std::uint64_t imageBase = 0;
  struct Section {
    std::string name;
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;
    std::uint32_t rawSize;
  };
  std::vector<Section> sections;
  // Data directories by index (1 imports, 2 resources, 13 delay imports).
  struct Directory {
    std::uint32_t rva;
    std::uint32_t size;
  };
  std::vector<Directory> directories;
};

// Reads the headers of the image in `bytes`; the error text is empty on
// success.
std::string ParseImage(std::vector<std::uint8_t> bytes, Image* image);
std::string LoadImage(const std::string& path, Image* image);

// The names of the DLLs the image imports, ordinary and delay-loaded, in
// the order of the import tables.
std::string ImportedDlls(const Image& image, std::vector<std::string>* dlls);

// A resource type or name: a number, or a name (upper case as stored).
using ResourceId = std::variant<std::uint16_t, std::string>;
std::string ToString(const ResourceId& id);

struct Resource {
  ResourceId type;
  ResourceId name;
  std::uint16_t language;
  std::vector<std::uint8_t> data;
};

// Every resource of the image, walking the type / name / language tree.
std::string Resources(const Image& image, std::vector<Resource>* resources);

// One entry of an icon group (GRPICONDIR) or of an .ico file (ICONDIR).
struct IconEntry {
  int width;   // 256 where the byte holds 0
  int height;
  int bitCount;
  std::uint32_t bytesInResource;
  // The icon resource's number in a group; the image's file offset in an
  // .ico file.
  std::uint32_t idOrOffset;
};
std::string ParseIconGroup(const std::vector<std::uint8_t>& data,
                           std::vector<IconEntry>* entries);
std::string ParseIconFile(const std::vector<std::uint8_t>& data,
                          std::vector<IconEntry>* entries);

// The size an icon image declares itself: a PNG's header, or a bitmap's
// header (whose height counts the image and its mask).
struct ImageSize {
  int width;
  int height;
  bool png;
};
std::string IconImageSize(const std::vector<std::uint8_t>& data,
                          ImageSize* size);

}  // namespace pe
