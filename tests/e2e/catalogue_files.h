// Catalogues for the end-to-end tests: entries, and the three files
// (keys, names, paths) that a server holds for them.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/files.h"

namespace e2e {

struct Entry {
  std::string key;
  std::string name;  // Windows-1252 bytes
  std::string path;
};

using CatalogueFiles = std::array<std::string, 3>;  // 1.zvd, 2.zvd, 3.zvd

// The three files as a Windows server holds them (CR LF).
inline CatalogueFiles FilesOf(const std::vector<Entry>& entries) {
  CatalogueFiles files;
  for (const Entry& e : entries) {
    files[0] += e.key + "\r\n";
    files[1] += e.name + "\r\n";
    files[2] += e.path + "\r\n";
  }
  return files;
}

inline void WriteCatalogue(const std::filesystem::path& directory,
                           const CatalogueFiles& files) {
  WriteBytes(directory / "1.zvd", files[0]);
  WriteBytes(directory / "2.zvd", files[1]);
  WriteBytes(directory / "3.zvd", files[2]);
}

inline void WriteCatalogue(const std::filesystem::path& directory,
                           const std::vector<Entry>& entries) {
  WriteCatalogue(directory, FilesOf(entries));
}

}  // namespace e2e
