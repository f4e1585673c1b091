// The parts of ICO and BMP files a backend needs to draw them, read from
// the bytes alone: no platform, so the reading is tested everywhere.
#pragma once

#include <optional>
#include <vector>

#include "toolkit/toolkit.h"

namespace tk::bitmaps {

// Whether the bytes start as an .ico file does.
bool IsIco(Picture bytes);

// One image of an .ico file: its size and depth from the directory, and its
// data (a BMP without the file header, or a PNG) as the file holds it.
struct IcoImage {
  int width = 0, height = 0, bitCount = 0;
  Picture data{};
};
// The images whose data lies inside the file, in directory order.
std::vector<IcoImage> IcoImages(Picture ico);
// The image of `size` pixels with the most colours, at most `maxBits` deep.
std::optional<IcoImage> BestIcoImage(Picture ico, int size, int maxBits);

// A .bmp file as a device-independent bitmap is drawn: the info header with
// its colour table, the pixel bits, and the size (rows counted positive,
// whichever way they run).
struct Bmp {
  Picture info{}, bits{};
  int width = 0, height = 0;
};
std::optional<Bmp> ReadBmp(Picture bmp);

}  // namespace tk::bitmaps
