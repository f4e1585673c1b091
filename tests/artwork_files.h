// Reading the committed artwork, for the artwork tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace artwork_test {

inline std::string SourcePath(const std::string& relative) {
  return std::string(TAMBERLODE_SOURCE_DIR) + "/" + relative;
}

// Empty if the file cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A little-endian number of `bytes` bytes at `at`, as the BMP and ICO headers store them.
inline std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
  return v;
}

}  // namespace artwork_test
