// The catalogue loader over real files in a scratch directory.
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "scratch_dir.h"
#include "textio/text_stream.h"

namespace {

struct Entry {
  std::uint8_t key;
  std::string name;
  std::string path;
  bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* out) {
  *out << "{" << int(e.key) << ", \"" << e.name << "\", \"" << e.path << "\"}";
}

class CatalogueTest : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    catalogue = Catalogue{};
    pendingIoCode = 0;
  }

  void Write(const std::string& keys, const std::string& names,
             const std::string& paths) {
    WriteFile("1.zvd", keys);
    WriteFile("2.zvd", names);
    WriteFile("3.zvd", paths);
  }

  // Entries 1 .. nextIndex - 1, as the menu sees them.
  std::vector<Entry> Entries() {
    std::vector<Entry> entries;
    for (int i = 1; i < catalogue.nextIndex; ++i) {
      entries.push_back({catalogue.keys[i], ToString(catalogue.names[i]),
                         ToString(catalogue.paths[i])});
    }
    return entries;
  }
};

struct LoadCase {
  const char* name;
  std::string keys, names, paths;
  std::vector<Entry> entries;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

const std::string kSub(1, '\x1a');

std::vector<LoadCase> LoadCases() {
  return {
      {"LF", "1\n2\n", "uno\ndos\n", "a.bin\nb.bin\n",
       {{'1', "uno", "a.bin"}, {'2', "dos", "b.bin"}}},
      {"CRLF", "1\r\n2\r\n", "uno\r\ndos\r\n", "a.bin\r\nb.bin\r\n",
       {{'1', "uno", "a.bin"}, {'2', "dos", "b.bin"}}},
      {"LoneCR", "1\r2\r", "uno\rdos\r", "a.bin\rb.bin\r",
       {{'1', "uno", "a.bin"}, {'2', "dos", "b.bin"}}},
      {"LastLinesWithoutEnd", "1\n2", "uno\ndos", "a\nb",
       {{'1', "uno", "a"}, {'2', "dos", "b"}}},
      {"EmptyPathsFile", "1\n2\n", "uno\ndos\n", "", {}},
      {"ShorterKeysAndNames", "1\n", "", "a\nb\n",
       {{'1', "", "a"}, {0, "", "b"}}},
      {"LongerKeysAndNamesAreNotEntries", "1\n2\n3\n", "uno\ndos\ntres\n", "a\n",
       {{'1', "uno", "a"}}},
      {"EmptyLastLine", "1\n\n", "uno\n\n", "a\n\n",
       {{'1', "uno", "a"}, {10, "", ""}}},
      {"EmptyKeyLineCRLFStaysAligned", "1\r\n\r\n3\r\n", "x\ny\nz\n",
       "a\nb\nc\n", {{'1', "x", "a"}, {13, "y", "b"}, {'3', "z", "c"}}},
      {"EmptyKeyLineLFShiftsLaterKeys", "1\n\n3\n4\n", "w\nx\ny\nz\n",
       "a\nb\nc\nd\n",
       {{'1', "w", "a"}, {10, "x", "b"}, {'4', "y", "c"}, {0, "z", "d"}}},
      {"EmptyKeyLineCRShiftsLaterKeys", "1\r\r3\r4\r", "w\nx\ny\nz\n",
       "a\nb\nc\nd\n",
       {{'1', "w", "a"}, {13, "x", "b"}, {'4', "y", "c"}, {0, "z", "d"}}},
      {"SameKeyTwice", "a\na\n", "uno\ndos\n", "p\nq\n",
       {{'a', "uno", "p"}, {'a', "dos", "q"}}},
      {"SpacesAndHighBytesKept", "\xf1\n", "  Ni\xf1o  \n", " p q \n",
       {{0xf1, "  Ni\xf1o  ", " p q "}}},
      {"ByteOrderMarkKeptAsBytes", "\xef\xbb\xbf" "1\n", "\xef\xbb\xbfuno\n",
       "\xef\xbb\xbfp\n", {{0xef, "\xef\xbb\xbfuno", "\xef\xbb\xbfp"}}},
      {"SubStartsPathLine", "1\n2\n3\n", "x\ny\nz\n", "a\nb\n" + kSub + "c\n",
       {{'1', "x", "a"}, {'2', "y", "b"}}},
      {"SubInsidePathLine", "1\n2\n", "x\ny\n", "ab" + kSub + "cd\ne\n",
       {{'1', "x", "ab"}}},
      {"SubAfterFirstKeyByte", "1" + kSub + "\n2\n", "x\ny\n", "a\nb\n",
       {{'1', "x", "a"}, {0, "y", "b"}}},
  };
}

class CatalogueLoads : public CatalogueTest,
                       public ::testing::WithParamInterface<LoadCase> {};

TEST_P(CatalogueLoads, EntriesFromLinesOfTheThreeFiles) {
  const LoadCase& c = GetParam();
  Write(c.keys, c.names, c.paths);
  LoadCatalogue();
  EXPECT_EQ(Entries(), c.entries);
  EXPECT_EQ(catalogue.nextIndex, static_cast<int>(c.entries.size()) + 1);
}

INSTANTIATE_TEST_SUITE_P(Files, CatalogueLoads, ::testing::ValuesIn(LoadCases()),
                         [](const auto& param) { return param.param.name; });

TEST_F(CatalogueTest, NamesAndPathsKeepAtMost255Bytes) {
  std::string exact(255, 'n');
  std::string longer = std::string(255, 'p') + "TAIL";
  Write("1\n2\n", exact + "\n" + longer + "\n", exact + "\n" + longer + "\n");
  LoadCatalogue();
  ASSERT_EQ(catalogue.nextIndex, 3);
  EXPECT_EQ(ToString(catalogue.names[1]), exact);
  EXPECT_EQ(ToString(catalogue.names[2]), longer.substr(0, 255));
  EXPECT_EQ(ToString(catalogue.paths[2]), longer.substr(0, 255));
}

std::string Lines(int count, const std::string& prefix) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += prefix + std::to_string(i) + "\r\n";
  return text;
}

TEST_F(CatalogueTest, NineHundredNinetyNineLinesFillTheTables) {
  Write(Lines(999, "k"), Lines(999, "name "), Lines(999, "path/"));
  LoadCatalogue();
  EXPECT_EQ(catalogue.nextIndex, 1000);
  EXPECT_EQ(ToString(catalogue.names[999]), "name 999");
  EXPECT_EQ(ToString(catalogue.paths[999]), "path/999");
}

TEST_F(CatalogueTest, ReadingStopsBeforeLine1000) {
  Write(Lines(1500, "k"), Lines(1500, "name "), Lines(1500, "path/"));
  LoadCatalogue();
  EXPECT_EQ(catalogue.nextIndex, 1000);
  EXPECT_EQ(ToString(catalogue.paths[999]), "path/999");
  EXPECT_EQ(ToString(catalogue.paths[0]), "");  // slot 0 is never written
  EXPECT_EQ(pendingIoCode, 0);
}

// A missing file ends the run with code 2 at the first file that fails; the
// files after it are never opened.
TEST_F(CatalogueTest, MissingFilesEndTheRunWithCode2) {
  WriteFile("2.zvd", "x\n");
  WriteFile("3.zvd", "a\n");
  EXPECT_EXIT(LoadCatalogue(), ::testing::ExitedWithCode(2), "");

  WriteFile("1.zvd", "1\n");
  std::filesystem::remove(dir_ / "3.zvd");
  EXPECT_EXIT(LoadCatalogue(), ::testing::ExitedWithCode(2), "");
}

}  // namespace
