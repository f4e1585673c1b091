#include "tools/iconkit.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace iconkit {
namespace {

[[noreturn]] void Fail(int line, const std::string& what) {
  throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

int ParseNumber(const std::string& word, int line, int lo, int hi) {
  int value = 0;
  std::size_t used = 0;
  try {
    value = std::stoi(word, &used);
  } catch (const std::exception&) {
    Fail(line, "not a number: " + word);
  }
  if (used != word.size() || value < lo || value > hi) Fail(line, "out of range: " + word);
  return value;
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Put32BigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// DIB rows are padded to whole 32-bit words.
std::size_t RowBytes(int width, int bits) {
  return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

// BITMAPINFOHEADER, palette, XOR bitmap and AND mask, rows bottom-up; the
// header's height counts both bitmaps, as icons require.
std::vector<std::uint8_t> EncodeDib(const IconImage& image) {
  const PixelMap& map = image.map;
  const int bits = image.bits_per_pixel;
  const std::size_t xor_row = RowBytes(map.width, bits);
  const std::size_t and_row = RowBytes(map.width, 1);
  const std::size_t rows = static_cast<std::size_t>(map.height);
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(map.width));
  Put32(out, static_cast<std::uint32_t>(map.height * 2));
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<std::uint32_t>((xor_row + and_row) * rows));
  for (int i = 0; i < 4; ++i) Put32(out, 0);  // resolution, colours used and important

  if (bits == 1) {
    for (Rgb c : {Rgb{0, 0, 0}, Rgb{255, 255, 255}}) out.insert(out.end(), {c.b, c.g, c.r, 0});
  } else {
    for (Rgb c : kVgaPalette) out.insert(out.end(), {c.b, c.g, c.r, 0});
  }

  std::vector<std::uint8_t> xor_bits(xor_row * rows), and_bits(and_row * rows);
  for (int y = 0; y < map.height; ++y) {
    const std::size_t row = rows - 1 - static_cast<std::size_t>(y);
    for (int x = 0; x < map.width; ++x) {
      const int p = map.At(x, y);
      const auto ux = static_cast<std::size_t>(x);
      if (p == kTransparent) {
        and_bits[row * and_row + ux / 8] |= static_cast<std::uint8_t>(0x80 >> (ux % 8));
        continue;  // XOR stays 0 (black), so the background shows unchanged
      }
      if (bits == 1) {
        if (p != 0) xor_bits[row * xor_row + ux / 8] |= static_cast<std::uint8_t>(0x80 >> (ux % 8));
      } else {
        xor_bits[row * xor_row + ux / 2] |= static_cast<std::uint8_t>(ux % 2 == 0 ? p << 4 : p);
      }
    }
  }
  out.insert(out.end(), xor_bits.begin(), xor_bits.end());
  out.insert(out.end(), and_bits.begin(), and_bits.end());
  return out;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::vector<std::uint8_t>& data) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// A zlib stream of stored (uncompressed) deflate blocks: the images are tiny,
// so compression would buy nothing worth a dependency.
std::vector<std::uint8_t> ZlibStored(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::size_t pos = 0;
  do {
    const std::size_t len = std::min<std::size_t>(65535, data.size() - pos);
    const bool last = pos + len == data.size();
    out.push_back(last ? 1 : 0);
    Put16(out, static_cast<unsigned>(len));
    Put16(out, static_cast<unsigned>(~len & 0xFFFF));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + len));
    pos += len;
  } while (pos < data.size());
  Put32BigEndian(out, Adler32(data));
  return out;
}

void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
  Put32BigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32BigEndian(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

PixelMap ParsePixelMap(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::map<char, int> legend;
  PixelMap map;
  bool in_pixels = false;
  int line_no = 0;
  for (std::string line; std::getline(in, line);) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (in_pixels) {
      if (static_cast<int>(map.pixels.size()) == map.width * map.height) {
        if (!Words(line).empty()) Fail(line_no, "more pixel rows than the size says");
        continue;
      }
      if (static_cast<int>(line.size()) != map.width) {
        Fail(line_no, "row is " + std::to_string(line.size()) + " pixels wide, expected " +
                          std::to_string(map.width));
      }
      for (char c : line) {
        const auto it = legend.find(c);
        if (it == legend.end()) Fail(line_no, std::string("character not in the legend: ") + c);
        map.pixels.push_back(it->second);
      }
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> w = Words(line);
    if (w.empty()) continue;
    if (w[0] == "size" && w.size() == 3) {
      map.width = ParseNumber(w[1], line_no, 1, 256);
      map.height = ParseNumber(w[2], line_no, 1, 256);
    } else if (w[0] == "colour" && w.size() >= 3 && w[1].size() == 1) {
      const char c = w[1][0];
      if (legend.contains(c)) Fail(line_no, std::string("character defined twice: ") + c);
      if (w[2] == "none") {
        legend[c] = kTransparent;
        continue;
      }
      if (w.size() < 5) Fail(line_no, "colour needs a character and red, green, blue");
      const Rgb rgb{static_cast<std::uint8_t>(ParseNumber(w[2], line_no, 0, 255)),
                    static_cast<std::uint8_t>(ParseNumber(w[3], line_no, 0, 255)),
                    static_cast<std::uint8_t>(ParseNumber(w[4], line_no, 0, 255))};
      int index = -1;
      for (std::size_t i = 0; i < kVgaPalette.size(); ++i) {
        if (kVgaPalette[i] == rgb) index = static_cast<int>(i);
      }
      if (index < 0) Fail(line_no, "colour is not in the 16-colour VGA palette");
      legend[c] = index;
    } else if (w[0] == "pixels" && w.size() == 1) {
      if (map.width == 0) Fail(line_no, "pixels before size");
      in_pixels = true;
    } else {
      Fail(line_no, "expected size, colour or pixels");
    }
  }
  if (!in_pixels || static_cast<int>(map.pixels.size()) != map.width * map.height) {
    Fail(line_no, "fewer pixel rows than the size says");
  }
  return map;
}

PixelMap ToMonochrome(const PixelMap& map) {
  PixelMap mono = map;
  for (int& p : mono.pixels) {
    if (p == kTransparent) continue;
    const Rgb c = kVgaPalette[static_cast<std::size_t>(p)];
    const int luminance = (299 * c.r + 587 * c.g + 114 * c.b) / 1000;
    p = luminance >= kMonochromeThreshold ? 1 : 0;
  }
  return mono;
}

PixelMap Scale(const PixelMap& map, int factor) {
  PixelMap big{map.width * factor, map.height * factor, {}};
  big.pixels.reserve(static_cast<std::size_t>(big.width * big.height));
  for (int y = 0; y < big.height; ++y) {
    for (int x = 0; x < big.width; ++x) big.pixels.push_back(map.At(x / factor, y / factor));
  }
  return big;
}

std::vector<std::uint8_t> EncodeIco(const std::vector<IconImage>& images) {
  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon, not cursor
  Put16(out, static_cast<unsigned>(images.size()));
  std::vector<std::vector<std::uint8_t>> dibs;
  for (const IconImage& image : images) dibs.push_back(EncodeDib(image));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    const PixelMap& map = images[i].map;
    out.push_back(static_cast<std::uint8_t>(map.width));
    out.push_back(static_cast<std::uint8_t>(map.height));
    out.push_back(static_cast<std::uint8_t>(1 << images[i].bits_per_pixel));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(images[i].bits_per_pixel));
    Put32(out, static_cast<std::uint32_t>(dibs[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(dibs[i].size());
  }
  for (const auto& dib : dibs) out.insert(out.end(), dib.begin(), dib.end());
  return out;
}

std::vector<std::uint8_t> EncodePng(const PixelMap& map) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  Put32BigEndian(header, static_cast<std::uint32_t>(map.width));
  Put32BigEndian(header, static_cast<std::uint32_t>(map.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no filter, no interlace
  PutChunk(out, "IHDR", header);

  std::vector<std::uint8_t> raw;
  for (int y = 0; y < map.height; ++y) {
    raw.push_back(0);  // filter type None
    for (int x = 0; x < map.width; ++x) {
      const int p = map.At(x, y);
      if (p == kTransparent) {
        raw.insert(raw.end(), {0, 0, 0, 0});
      } else {
        const Rgb c = kVgaPalette[static_cast<std::size_t>(p)];
        raw.insert(raw.end(), {c.r, c.g, c.b, 255});
      }
    }
  }
  PutChunk(out, "IDAT", ZlibStored(raw));
  PutChunk(out, "IEND", {});
  return out;
}

Artwork BuildArtwork(std::string_view source32, std::string_view source16) {
  auto parse = [](std::string_view source, const char* name) {
    try {
      return ParsePixelMap(source);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(std::string(name) + ", " + e.what());
    }
  };
  const PixelMap map32 = parse(source32, "32x32 source");
  const PixelMap map16 = parse(source16, "16x16 source");
  if (map32.width != 32 || map32.height != 32 || map16.width != 16 || map16.height != 16) {
    throw std::runtime_error("icon sources must be 32x32 and 16x16");
  }
  Artwork art;
  art.ico = EncodeIco({{ToMonochrome(map32), 1}, {map32, 4}, {map16, 4}});
  art.png16 = EncodePng(map16);
  art.png32 = EncodePng(map32);
  for (int size : kThemeSizes) {
    art.themePngs.push_back(
        EncodePng(size % 32 == 0 ? Scale(map32, size / 32) : Scale(map16, size / 16)));
  }
  return art;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace iconkit
