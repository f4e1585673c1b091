#include "toolkit/bitmaps.h"

#include <cstdint>
#include <cstdlib>

namespace tk::bitmaps {
namespace {

std::uint16_t Read16(Picture bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
std::uint32_t Read32(Picture bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Read16(bytes, at)) |
         (static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16);
}

}  // namespace

bool IsIco(Picture bytes) {
  return bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0;
}

std::vector<IcoImage> IcoImages(Picture ico) {
  std::vector<IcoImage> images;
  if (ico.size() < 6 || Read16(ico, 0) != 0 || Read16(ico, 2) != 1) return images;
  const int count = Read16(ico, 4);
  for (int i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    if (entry + 16 > ico.size()) break;
    IcoImage image;
    image.width = ico[entry] == 0 ? 256 : ico[entry];
    image.height = ico[entry + 1] == 0 ? 256 : ico[entry + 1];
    const int colours = ico[entry + 2];
    image.bitCount = Read16(ico, entry + 6);
    if (image.bitCount == 0) image.bitCount = colours == 2 ? 1 : colours == 16 ? 4 : 8;
    const std::size_t size = Read32(ico, entry + 8);
    const std::size_t offset = Read32(ico, entry + 12);
    if (offset + size > ico.size()) continue;
    image.data = ico.subspan(offset, size);
    images.push_back(image);
  }
  return images;
}

std::optional<IcoImage> BestIcoImage(Picture ico, int size, int maxBits) {
  std::optional<IcoImage> best;
  for (const IcoImage& image : IcoImages(ico)) {
    if (image.width != size || image.height != size || image.bitCount > maxBits) continue;
    if (!best || image.bitCount > best->bitCount) best = image;
  }
  return best;
}

std::optional<Bmp> ReadBmp(Picture bmp) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return std::nullopt;
  const std::uint32_t bitsOffset = Read32(bmp, 10);
  if (bitsOffset >= bmp.size()) return std::nullopt;
  Bmp read;
  read.info = bmp.subspan(14);
  read.bits = bmp.subspan(bitsOffset);
  read.width = static_cast<std::int32_t>(Read32(bmp, 18));
  read.height = std::abs(static_cast<std::int32_t>(Read32(bmp, 22)));
  return read;
}

}  // namespace tk::bitmaps
