// The committed program icon: its structure read straight from the files, and
// its agreement with what the generator makes of the text sources now.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "artwork_files.h"
#include "tools/iconkit.h"

namespace {

using artwork_test::Le;
using artwork_test::ReadBytes;
using artwork_test::SourcePath;

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b.at(at)} << 24) | (std::uint32_t{b.at(at + 1)} << 16) |
         (std::uint32_t{b.at(at + 2)} << 8) | b.at(at + 3);
}

struct IcoImageCase {
  int width;
  int height;
  int bits;
};

// The order is part of the contract: 2-colour 32x32 first.
const IcoImageCase kImages[] = {{32, 32, 1}, {32, 32, 4}, {16, 16, 4}};

std::size_t RowBytes(int width, int bits) {
  return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

class IcoFile : public testing::Test {
 protected:
  void SetUp() override {
    ico_ = ReadBytes(SourcePath("identity/icon/tamberlode.ico"));
    ASSERT_GE(ico_.size(), 6u + 16 * std::size(kImages)) << "identity/icon/tamberlode.ico missing";
  }
  std::vector<std::uint8_t> ico_;
};

TEST_F(IcoFile, DirectoryHoldsThreeIconImages) {
  EXPECT_EQ(Le(ico_, 0, 2), 0u);  // reserved
  EXPECT_EQ(Le(ico_, 2, 2), 1u);  // icon
  EXPECT_EQ(Le(ico_, 4, 2), std::size(kImages));
}

TEST_F(IcoFile, EachImageHasItsSizeDepthPaletteAndMasks) {
  std::size_t expected_offset = 6 + 16 * std::size(kImages);
  for (std::size_t i = 0; i < std::size(kImages); ++i) {
    const IcoImageCase& c = kImages[i];
    SCOPED_TRACE(testing::Message()
                 << "image " << i << ": " << c.width << "x" << c.height << " " << c.bits << "-bit");
    const std::size_t entry = 6 + 16 * i;
    EXPECT_EQ(ico_[entry], c.width);
    EXPECT_EQ(ico_[entry + 1], c.height);
    EXPECT_EQ(ico_[entry + 2], 1 << c.bits);  // colour count
    EXPECT_EQ(Le(ico_, entry + 4, 2), 1u);    // planes
    EXPECT_EQ(Le(ico_, entry + 6, 2), static_cast<std::uint32_t>(c.bits));
    const std::size_t size = Le(ico_, entry + 8, 4);
    const std::size_t offset = Le(ico_, entry + 12, 4);
    EXPECT_EQ(offset, expected_offset) << "images must follow each other without gaps";
    ASSERT_LE(offset + size, ico_.size());
    expected_offset = offset + size;

    // BITMAPINFOHEADER: the height counts the XOR bitmap and the AND mask.
    EXPECT_EQ(Le(ico_, offset, 4), 40u);
    EXPECT_EQ(Le(ico_, offset + 4, 4), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(Le(ico_, offset + 8, 4), static_cast<std::uint32_t>(2 * c.height));
    EXPECT_EQ(Le(ico_, offset + 12, 2), 1u);
    EXPECT_EQ(Le(ico_, offset + 14, 2), static_cast<std::uint32_t>(c.bits));
    EXPECT_EQ(Le(ico_, offset + 16, 4), 0u);  // BI_RGB
    const std::size_t palette = 4u << c.bits;
    const std::size_t xor_size = RowBytes(c.width, c.bits) * static_cast<std::size_t>(c.height);
    const std::size_t and_row = RowBytes(c.width, 1);
    const std::size_t and_size = and_row * static_cast<std::size_t>(c.height);
    ASSERT_EQ(size, 40 + palette + xor_size + and_size);

    for (std::size_t p = 0; p < (1u << c.bits); ++p) {
      const iconkit::Rgb want = c.bits == 1
                                    ? (p == 0 ? iconkit::Rgb{0, 0, 0} : iconkit::Rgb{255, 255, 255})
                                    : iconkit::kVgaPalette[p];
      const std::size_t at = offset + 40 + 4 * p;
      EXPECT_EQ((iconkit::Rgb{ico_[at + 2], ico_[at + 1], ico_[at]}), want) << "palette " << p;
    }

    // The mask must leave the figure opaque and the space around it clear,
    // and clear pixels must hold colour 0 so the background shows unchanged.
    const std::size_t xor_at = offset + 40 + palette;
    const std::size_t and_at = xor_at + xor_size;
    int transparent = 0, opaque = 0, tinted_clear = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const auto ux = static_cast<std::size_t>(x);
        const std::size_t row = static_cast<std::size_t>(y);
        const bool clear = (ico_[and_at + row * and_row + ux / 8] >> (7 - ux % 8)) & 1;
        const std::size_t bit = ux * static_cast<std::size_t>(c.bits);
        const int value =
            (ico_[xor_at + row * RowBytes(c.width, c.bits) + bit / 8] >> (8 - c.bits - bit % 8)) &
            ((1 << c.bits) - 1);
        (clear ? transparent : opaque)++;
        if (clear && value != 0) ++tinted_clear;
      }
    }
    const int pixels = c.width * c.height;
    EXPECT_GT(opaque, pixels / 3);
    EXPECT_GT(transparent, pixels / 20);
    EXPECT_EQ(tinted_clear, 0);
  }
}

struct PngCase {
  const char* file;
  std::uint32_t size;
};

class PngFile : public testing::TestWithParam<PngCase> {};

TEST_P(PngFile, IsRgbaWithTransparentCornersAndOpaqueFigure) {
  const std::vector<std::uint8_t> png = ReadBytes(SourcePath(GetParam().file));
  ASSERT_GT(png.size(), 33u) << GetParam().file << " missing";
  const std::vector<std::uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(Be32(png, 16), GetParam().size);
  EXPECT_EQ(Be32(png, 20), GetParam().size);
  EXPECT_EQ(png[24], 8);  // bits per channel
  EXPECT_EQ(png[25], 6);  // RGBA

  // The icon's pixels, which the generator writes as stored deflate blocks
  // right after the zlib header and one block header.
  const std::size_t idat = 8 + 25;
  ASSERT_EQ(std::string(png.begin() + idat + 4, png.begin() + idat + 8), "IDAT");
  const std::size_t data = idat + 8 + 2 + 5;
  const std::size_t stride = 1 + 4 * GetParam().size;
  auto alpha = [&](std::size_t x, std::size_t y) {
    return png.at(data + y * stride + 1 + 4 * x + 3);
  };
  const std::size_t last = GetParam().size - 1;
  EXPECT_EQ(alpha(0, 0), 0);
  EXPECT_EQ(alpha(last, last), 0);
  EXPECT_EQ(alpha(GetParam().size / 2, GetParam().size / 2), 255);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngFile,
                         testing::Values(PngCase{"identity/icon/tamberlode-16.png", 16},
                                         PngCase{"identity/icon/tamberlode-32.png", 32}));

TEST(IconSources, CommittedFilesMatchWhatTheGeneratorMakesOfThem) {
  const iconkit::Artwork art =
      iconkit::BuildArtwork(iconkit::ReadFile(SourcePath("identity/icon/tamberlode-32.txt")),
                            iconkit::ReadFile(SourcePath("identity/icon/tamberlode-16.txt")));
  const std::pair<const char*, const std::vector<std::uint8_t>*> outputs[] = {
      {"identity/icon/tamberlode.ico", &art.ico},
      {"identity/icon/tamberlode-16.png", &art.png16},
      {"identity/icon/tamberlode-32.png", &art.png32},
  };
  for (const auto& [file, bytes] : outputs) {
    EXPECT_TRUE(ReadBytes(SourcePath(file)) == *bytes)
        << file << " is stale: build the artwork target and commit the result";
  }
}

TEST(IconSources, BothSizesUseTheColoursOfTheFigure) {
  // white box, grey dots and shadow, cyan edge, magenta and purple gem,
  // yellow and olive slab, green slab, black outline
  const int wanted[] = {15, 7, 8, 14, 13, 5, 11, 3, 10, 2, 0};
  for (const char* file : {"identity/icon/tamberlode-32.txt", "identity/icon/tamberlode-16.txt"}) {
    const iconkit::PixelMap map = iconkit::ParsePixelMap(iconkit::ReadFile(SourcePath(file)));
    const std::set<int> used(map.pixels.begin(), map.pixels.end());
    for (int colour : wanted) EXPECT_TRUE(used.contains(colour)) << file << ": colour " << colour;
    EXPECT_TRUE(used.contains(iconkit::kTransparent)) << file;
  }
}

struct BadSource {
  const char* what;
  const char* text;
};

class PixelMapParser : public testing::TestWithParam<BadSource> {};

TEST_P(PixelMapParser, RejectsMistakes) {
  EXPECT_THROW(iconkit::ParsePixelMap(GetParam().text), std::runtime_error) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, PixelMapParser,
    testing::Values(BadSource{"short row", "size 2 2\ncolour . none\npixels\n..\n.\n"},
                    BadSource{"missing row", "size 2 2\ncolour . none\npixels\n..\n"},
                    BadSource{"extra row", "size 2 1\ncolour . none\npixels\n..\n..\n"},
                    BadSource{"unknown character", "size 2 1\ncolour . none\npixels\n.x\n"},
                    BadSource{"not a VGA colour", "size 1 1\ncolour a 1 2 3\npixels\na\n"},
                    BadSource{"character twice",
                              "size 1 1\ncolour a none\ncolour a none\n"
                              "pixels\na\n"},
                    BadSource{"no size", "colour . none\npixels\n.\n"},
                    BadSource{"stray line", "size 1 1\nfoo\npixels\n.\n"}),
    [](const testing::TestParamInfo<BadSource>& info) {
      std::string name = info.param.what;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(Monochrome, ThresholdSplitsThePaletteByLuminance) {
  // black, grey, silver, cyan, lime, magenta, yellow, white, clear
  const iconkit::PixelMap map{9, 1, {0, 8, 7, 14, 10, 13, 11, 15, iconkit::kTransparent}};
  EXPECT_EQ(iconkit::ToMonochrome(map).pixels,
            (std::vector<int>{0, 0, 1, 1, 0, 0, 1, 1, iconkit::kTransparent}));
}

}  // namespace
