// Turns the icon's text pixel maps into the .ico and .png files the program
// carries. Standard library only, so the tests can rebuild the files in memory
// and compare them with the committed ones.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace iconkit {

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// The standard 16-colour VGA palette in the Windows order, which is also the
// palette stored in the 4-bit icon images.
inline constexpr std::array<Rgb, 16> kVgaPalette = {{
    {0, 0, 0},
    {128, 0, 0},
    {0, 128, 0},
    {128, 128, 0},
    {0, 0, 128},
    {128, 0, 128},
    {0, 128, 128},
    {192, 192, 192},
    {128, 128, 128},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {255, 255, 255},
}};

inline constexpr int kTransparent = -1;

// One icon image: palette indices row by row from the top, kTransparent where
// the mask lets the background show.
struct PixelMap {
  int width = 0;
  int height = 0;
  std::vector<int> pixels;
  int At(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// Reads the text format of identity/icon/*.txt (see identity/icon/README.md); throws
// std::runtime_error naming the line on any mistake.
PixelMap ParsePixelMap(std::string_view text);

// Opaque pixels whose luminance (0.299 R + 0.587 G + 0.114 B) is at least
// this become white in the 2-colour image, the others black.
inline constexpr int kMonochromeThreshold = 160;

// The 2-colour image derived from a 16-colour one: indices 0 (black) and
// 1 (white), same mask.
PixelMap ToMonochrome(const PixelMap& map);

struct IconImage {
  PixelMap map;
  int bits_per_pixel;  // 1 (palette black, white) or 4 (kVgaPalette)
};

std::vector<std::uint8_t> EncodeIco(const std::vector<IconImage>& images);

// 8-bit RGBA PNG, fully transparent where the mask is set.
std::vector<std::uint8_t> EncodePng(const PixelMap& map);

struct Artwork {
  std::vector<std::uint8_t> ico;
  std::vector<std::uint8_t> png16;
  std::vector<std::uint8_t> png32;
};

// Everything generated from the two sources: the .ico holds 32x32 1-bit,
// 32x32 4-bit and 16x16 4-bit, in that order.
Artwork BuildArtwork(std::string_view source32, std::string_view source16);

std::string ReadFile(const std::string& path);

}  // namespace iconkit
