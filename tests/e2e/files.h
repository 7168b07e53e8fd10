// Whole files as bytes, for tests that set up catalogues and compare what
// was downloaded with what was served.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace e2e {

// The file's bytes; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Writes exactly `bytes`, making the directories on the way.
inline void WriteBytes(const std::filesystem::path& path,
                       const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace e2e
