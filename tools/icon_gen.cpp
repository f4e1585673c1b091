// Writes tamberlode.ico and tamberlode-SIZE.png (16, 32 and the icon theme's
// larger sizes) into the icon folder from the pixel maps tamberlode-32.txt
// and tamberlode-16.txt beside them.
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tools/iconkit.h"

namespace {

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ICON_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  try {
    const std::string source32 = iconkit::ReadFile(dir + "/tamberlode-32.txt");
    const std::string source16 = iconkit::ReadFile(dir + "/tamberlode-16.txt");
    const iconkit::Artwork art = iconkit::BuildArtwork(source32, source16);
    Write(dir + "/tamberlode.ico", art.ico);
    Write(dir + "/tamberlode-16.png", art.png16);
    Write(dir + "/tamberlode-32.png", art.png32);
    for (std::size_t i = 0; i < std::size(iconkit::kThemeSizes); ++i) {
      Write(dir + "/tamberlode-" + std::to_string(iconkit::kThemeSizes[i]) + ".png",
            art.themePngs[i]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "icon_gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
