// The Windows build's catalogo.exe as a file: a console program for x64
// that needs no DLL beyond the system's, with the application icon
// "MAINICON" in four sizes. Read with our own PE reader, checked against
// MinGW's objdump and Debian's wrestool where they are installed.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ci.h"
#include "tests/wine/pe_image.h"

namespace {

namespace fs = std::filesystem;

const std::string executable = CATALOGO_WINDOWS_EXE;
const std::string iconFile = CATALOGO_ICON;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The standard output of a shell command, and whether it ran and ended 0.
bool Capture(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  output->clear();
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output->append(buffer, n);
  }
  return pclose(pipe) == 0;
}

std::string MissingTool(const std::string& tool) {
  std::string ignored;
  return Capture("command -v " + tool + " >/dev/null 2>&1", &ignored)
             ? ""
             : tool + " is not installed (scripts/install-deps)";
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

class WindowsExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_PRESENT(fs::exists(executable)
                            ? ""
                            : "no Windows executable at " + executable +
                                  " (build it, or set CATALOGO_WINDOWS_EXE)");
    ASSERT_EQ(pe::LoadImage(executable, &image_), "");
  }

  // The resources of one type and name; fails the test if there are none.
  std::vector<pe::Resource> Find(std::uint16_t type, const pe::ResourceId& name) {
    std::vector<pe::Resource> all;
    EXPECT_EQ(pe::Resources(image_, &all), "");
    std::vector<pe::Resource> found;
    for (pe::Resource& r : all) {
      if (r.type == pe::ResourceId(type) && r.name == name) found.push_back(r);
    }
    return found;
  }

  pe::Image image_;
};

TEST_F(WindowsExecutable, IsAConsoleProgramForX64) {
  EXPECT_EQ(image_.machine, pe::machineAmd64);
  // A console program: started from Explorer it gets a console window.
  EXPECT_EQ(image_.subsystem, pe::subsystemWindowsConsole);
}

// ---------------------------------------------------------------------------
// DLLs
// ---------------------------------------------------------------------------

// DLLs that every Windows installation has. The C++ runtime's own DLLs
// (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) are not among them: they
// must be linked in.
const std::set<std::string> systemDlls = {
    "kernel32.dll", "user32.dll",  "gdi32.dll",  "advapi32.dll",
    "shell32.dll",  "ole32.dll",   "ntdll.dll",  "msvcrt.dll",
    "ws2_32.dll",   "version.dll", "bcrypt.dll", "ucrtbase.dll",
};

TEST_F(WindowsExecutable, ImportsOnlySystemDlls) {
  std::vector<std::string> dlls;
  ASSERT_EQ(pe::ImportedDlls(image_, &dlls), "");
  ASSERT_FALSE(dlls.empty());
  for (const std::string& dll : dlls) {
    std::string name = Lower(dll);
    bool apiSet = name.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(systemDlls.count(name) == 1 || apiSet)
        << dll << " is not a system DLL: a Windows user would not have it";
  }
  EXPECT_NE(std::find_if(dlls.begin(), dlls.end(),
                         [](const std::string& d) { return Lower(d) == "kernel32.dll"; }),
            dlls.end());
}

// Our reader's imports and image base (which the Wine tests add to report
// offsets for addr2line) are objdump's.
TEST_F(WindowsExecutable, ImportsAndImageBaseAgreeWithObjdump) {
  SKIP_UNLESS_PRESENT(MissingTool("x86_64-w64-mingw32-objdump"));
  std::string listing;
  ASSERT_TRUE(Capture("x86_64-w64-mingw32-objdump -p '" + executable + "'", &listing));
  std::multiset<std::string> theirs;
  const std::string label = "DLL Name: ";
  for (std::size_t at = listing.find(label); at != std::string::npos;
       at = listing.find(label, at + 1)) {
    std::size_t end = listing.find('\n', at);
    theirs.insert(listing.substr(at + label.size(), end - at - label.size()));
  }
  std::vector<std::string> dlls;
  ASSERT_EQ(pe::ImportedDlls(image_, &dlls), "");
  EXPECT_EQ(std::multiset<std::string>(dlls.begin(), dlls.end()), theirs) << listing;

  char base[40];
  snprintf(base, sizeof base, "ImageBase\t\t%016llx\n",
                static_cast<unsigned long long>(image_.imageBase));
  EXPECT_NE(image_.imageBase, 0u);
  EXPECT_NE(listing.find(base), std::string::npos) << base << listing;
}

// ---------------------------------------------------------------------------
// The icon
// ---------------------------------------------------------------------------

TEST_F(WindowsExecutable, HasMainIconInFourSizes) {
  std::vector<pe::Resource> groups =
      Find(pe::resourceGroupIcon, pe::ResourceId(std::string("MAINICON")));
  ASSERT_EQ(groups.size(), 1u) << "one icon group named MAINICON";
  std::vector<pe::IconEntry> entries;
  ASSERT_EQ(pe::ParseIconGroup(groups[0].data, &entries), "");

  std::vector<int> sizes;
  for (const pe::IconEntry& entry : entries) {
    SCOPED_TRACE(std::to_string(entry.width) + " pixels");
    sizes.push_back(entry.width);
    EXPECT_EQ(entry.height, entry.width);
    EXPECT_EQ(entry.bitCount, 32);
    // The group names each image by its number among the icon resources.
    std::vector<pe::Resource> images = Find(
        pe::resourceIcon, pe::ResourceId(static_cast<std::uint16_t>(entry.idOrOffset)));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].data.size(), entry.bytesInResource);
    pe::ImageSize size;
    ASSERT_EQ(pe::IconImageSize(images[0].data, &size), "");
    EXPECT_EQ(size.width, entry.width);
    EXPECT_EQ(size.height, entry.height);
    // Windows keeps its 256-pixel icons as PNG.
    EXPECT_EQ(size.png, entry.width == 256);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
}

// The executable carries the images of res/catalogo.ico as they are: a
// stale build or a lost image shows here.
TEST_F(WindowsExecutable, IconImagesAreThoseOfTheIconFile) {
  std::vector<std::uint8_t> ico = ReadBytes(iconFile);
  std::vector<pe::IconEntry> fileEntries;
  ASSERT_EQ(pe::ParseIconFile(ico, &fileEntries), "") << iconFile;
  std::vector<pe::Resource> groups =
      Find(pe::resourceGroupIcon, pe::ResourceId(std::string("MAINICON")));
  ASSERT_EQ(groups.size(), 1u);
  std::vector<pe::IconEntry> groupEntries;
  ASSERT_EQ(pe::ParseIconGroup(groups[0].data, &groupEntries), "");
  ASSERT_EQ(groupEntries.size(), fileEntries.size());

  for (std::size_t i = 0; i < fileEntries.size(); ++i) {
    const pe::IconEntry& inFile = fileEntries[i];
    const pe::IconEntry& inGroup = groupEntries[i];
    SCOPED_TRACE(std::to_string(inFile.width) + " pixels");
    EXPECT_EQ(inGroup.width, inFile.width);
    ASSERT_LE(std::uint64_t{inFile.idOrOffset} + inFile.bytesInResource, ico.size());
    std::vector<std::uint8_t> expected(ico.begin() + inFile.idOrOffset,
                                       ico.begin() + inFile.idOrOffset + inFile.bytesInResource);
    std::vector<pe::Resource> images = Find(
        pe::resourceIcon, pe::ResourceId(static_cast<std::uint16_t>(inGroup.idOrOffset)));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0].data == expected) << "the image differs from " << iconFile;
  }
}

TEST_F(WindowsExecutable, ResourceListAgreesWithWrestool) {
  SKIP_UNLESS_PRESENT(MissingTool("wrestool"));
  std::string listing;
  ASSERT_TRUE(Capture("wrestool --list '" + executable + "'", &listing));
  // "--type=14 --name='MAINICON' --language=1033 [...]", "--type=3 --name=1 ..."
  std::multiset<std::string> theirs;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string type, name;
    words >> type >> name;
    name = name.substr(std::string("--name=").size());
    if (name.size() >= 2 && name.front() == '\'') name = name.substr(1, name.size() - 2);
    theirs.insert(type.substr(std::string("--type=").size()) + " " + name);
  }
  std::vector<pe::Resource> resources;
  ASSERT_EQ(pe::Resources(image_, &resources), "");
  std::multiset<std::string> ours;
  for (const pe::Resource& r : resources) {
    std::string type = pe::ToString(r.type);
    std::string name = pe::ToString(r.name);
    ours.insert((type[0] == '#' ? type.substr(1) : type) + " " +
                (name[0] == '#' ? name.substr(1) : name));
  }
  EXPECT_EQ(ours, theirs) << listing;
}

// ---------------------------------------------------------------------------
// The reader on damaged files
// ---------------------------------------------------------------------------

// Cut copies of the real executable: each must give an error, never a
// read past the bytes that are there.
TEST_F(WindowsExecutable, ReaderReportsCutFiles) {
  const pe::Image::Section* resources = nullptr;
  for (const pe::Image::Section& s : image_.sections) {
    if (s.name == ".rsrc") resources = &s;
  }
  ASSERT_NE(resources, nullptr);
  std::uint32_t peOffset = image_.bytes[0x3c] | image_.bytes[0x3d] << 8;
  struct Case {
    const char* name;
    std::size_t length;
    bool headersFail;
  };
  const Case cases[] = {
      {"empty", 0, true},
      {"DOS header only", 0x40, true},
      {"cut in the optional header", peOffset + 40, true},
      {"cut in the section table", peOffset + 24 + 240 + 20, true},
      {"cut in the resources", resources->rawOffset + 64, false},
      {"cut before the last icon image", resources->rawOffset + resources->rawSize / 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes(image_.bytes.begin(),
                                    image_.bytes.begin() + std::min(c.length, image_.bytes.size()));
    pe::Image cut;
    std::string error = pe::ParseImage(bytes, &cut);
    if (c.headersFail) {
      EXPECT_NE(error, "");
      continue;
    }
    ASSERT_EQ(error, "");
    std::vector<pe::Resource> found;
    EXPECT_NE(pe::Resources(cut, &found), "");
  }
}

}  // namespace
