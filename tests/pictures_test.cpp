// The committed pictures of the start notice window, read as BMP files.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "artwork_files.h"

namespace {

using artwork_test::Le;
using artwork_test::ReadBytes;
using artwork_test::SourcePath;

struct Rgb {
  int r, g, b;
  auto operator<=>(const Rgb&) const = default;
};

struct PictureCase {
  const char* file;
  int width;
  int height;
  Rgb ink;
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.file; }

const PictureCase kPictures[] = {
    {"notice/pictures/banner.bmp", 220, 28, {120, 6, 6}},
    {"notice/pictures/credit.bmp", 234, 25, {63, 0, 63}},
    {"notice/pictures/email.bmp", 252, 20, {0, 63, 0}},
};

class Picture : public testing::TestWithParam<PictureCase> {
 protected:
  void SetUp() override {
    bmp_ = ReadBytes(SourcePath(GetParam().file));
    ASSERT_GE(bmp_.size(), 54u) << GetParam().file << " missing";
  }
  std::size_t Stride() const {
    return (static_cast<std::size_t>(GetParam().width) * 3 + 3) / 4 * 4;
  }
  // (x, y) from the top-left corner; BMP rows are stored bottom-up.
  Rgb At(int x, int y) const {
    const std::size_t at = Le(bmp_, 10, 4) +
                           static_cast<std::size_t>(GetParam().height - 1 - y) * Stride() +
                           static_cast<std::size_t>(x) * 3;
    return {bmp_.at(at + 2), bmp_.at(at + 1), bmp_.at(at)};
  }
  std::vector<std::uint8_t> bmp_;
};

TEST_P(Picture, HeaderIsUncompressed24BitOfTheRightSize) {
  const PictureCase& c = GetParam();
  EXPECT_EQ(bmp_[0], 'B');
  EXPECT_EQ(bmp_[1], 'M');
  EXPECT_EQ(Le(bmp_, 2, 4), bmp_.size()) << "file size field";
  const std::uint32_t header = Le(bmp_, 14, 4);
  EXPECT_EQ(header, 40u) << "BITMAPINFOHEADER";
  EXPECT_EQ(Le(bmp_, 10, 4), 14 + header) << "pixels right after the headers, no palette";
  EXPECT_EQ(Le(bmp_, 18, 4), static_cast<std::uint32_t>(c.width));
  EXPECT_EQ(Le(bmp_, 22, 4), static_cast<std::uint32_t>(c.height)) << "bottom-up rows";
  EXPECT_EQ(Le(bmp_, 26, 2), 1u) << "planes";
  EXPECT_EQ(Le(bmp_, 28, 2), 24u) << "bits per pixel";
  EXPECT_EQ(Le(bmp_, 30, 4), 0u) << "BI_RGB";
  EXPECT_EQ(bmp_.size(), 54 + Stride() * static_cast<std::size_t>(c.height));
}

TEST_P(Picture, WhiteBackgroundWithLetteringThatFitsInside) {
  ASSERT_EQ(bmp_.size(), 54 + Stride() * static_cast<std::size_t>(GetParam().height));
  const int w = GetParam().width, h = GetParam().height;
  const Rgb white{255, 255, 255};
  int white_pixels = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
      if (edge) {
        EXPECT_EQ(At(x, y), white) << "lettering touches the edge at " << x << "," << y;
      }
      if (At(x, y) == white) ++white_pixels;
    }
  }
  EXPECT_GT(white_pixels, w * h * 6 / 10);
  EXPECT_LT(white_pixels, w * h * 97 / 100) << "too little lettering";
}

TEST_P(Picture, LetteringIsTheColourAndAFewLighterTintsOfIt) {
  ASSERT_EQ(bmp_.size(), 54 + Stride() * static_cast<std::size_t>(GetParam().height));
  const Rgb ink = GetParam().ink;
  int full = 0;
  std::set<Rgb> tints;
  for (int y = 0; y < GetParam().height; ++y) {
    for (int x = 0; x < GetParam().width; ++x) {
      const Rgb p = At(x, y);
      if (p == Rgb{255, 255, 255}) continue;
      if (p == ink) {
        ++full;
        continue;
      }
      // A tint lies on the line from the colour to white: the same fraction
      // t of the way in every channel, give or take rounding.
      const double t = static_cast<double>(p.r + p.g + p.b - ink.r - ink.g - ink.b) /
                       (3 * 255 - ink.r - ink.g - ink.b);
      EXPECT_GT(t, 0.0) << x << "," << y;
      EXPECT_LT(t, 1.0) << x << "," << y;
      for (auto [have, base] : {std::pair{p.r, ink.r}, {p.g, ink.g}, {p.b, ink.b}}) {
        EXPECT_NEAR(have, base + t * (255 - base), 1.5) << "not a tint at " << x << "," << y;
      }
      tints.insert(p);
    }
  }
  EXPECT_GE(full, 100) << "too few pixels of the lettering colour";
  EXPECT_GE(tints.size(), 2u) << "no smoothing";
  EXPECT_LE(tints.size(), 8u) << "more than a few tints";
}

INSTANTIATE_TEST_SUITE_P(Notice, Picture, testing::ValuesIn(kPictures),
                         [](const testing::TestParamInfo<PictureCase>& info) {
                           const std::string file = info.param.file;
                           const std::size_t slash = file.rfind('/');
                           return file.substr(slash + 1, file.size() - slash - 5);
                         });

}  // namespace
