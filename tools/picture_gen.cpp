// Draws the three pictures of the start notice window and writes them as
// 24-bit uncompressed BMP files: white background, lettering in one colour
// with a few lighter tints of it at the smoothed edges.
//
// Usage: picture_gen OUTPUT_DIR
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Picture {
  const char* file;
  int width, height;
  const char* text;
  const char* family;
  bool bold, italic;
  QRgb colour;
  // Blank pixels kept free at the right and bottom: the picture boxes are a
  // little narrower (and the banner's a little lower) than the pictures, so
  // lettering there would be cut off.
  int right_reserve, bottom_reserve;
};

const Picture kPictures[] = {
    {"banner.bmp", 220, 28, "Tamberlode v0.1a", "Liberation Serif", true, false, qRgb(120, 6, 6), 6,
     5},
    {"credit.bmp", 234, 25, "Produced by the Tamberlode developers", "Liberation Serif", false,
     true, qRgb(63, 0, 63), 4, 0},
    {"email.bmp", 252, 20, "tamberlode@example.org", "Liberation Sans", false, false,
     qRgb(0, 63, 0), 6, 0},
};

constexpr int kMargin = 2;  // blank pixels kept on every side besides the reserves

// Coverage is rounded to quarters, so the lettering has its full colour and
// three lighter tints rather than a smear of near-white pixels.
constexpr int kCoverageSteps = 4;

QFont MakeFont(const Picture& p, int pixel_size) {
  QFont font(p.family);
  font.setPixelSize(pixel_size);
  font.setBold(p.bold);
  font.setItalic(p.italic);
  font.setHintingPreference(QFont::PreferFullHinting);
  // Grey-scale smoothing only: subpixel colour fringes would add hues that
  // are not tints of the lettering colour.
  font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
  return font;
}

// The text drawn in opaque black on a transparent canvas larger than the
// picture; the alpha channel is the coverage.
QImage Coverage(const Picture& p, const QFont& font) {
  QImage canvas(p.width * 2, p.height * 3, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QPoint(p.height, p.height * 2), QString::fromUtf8(p.text));
  return canvas;
}

QRect InkBounds(const QImage& coverage) {
  QRect ink;
  for (int y = 0; y < coverage.height(); ++y) {
    for (int x = 0; x < coverage.width(); ++x) {
      if (qAlpha(coverage.pixel(x, y)) > 0) ink |= QRect(x, y, 1, 1);
    }
  }
  return ink;
}

bool Fits(const Picture& p, const QRect& ink) {
  return ink.width() <= p.width - 2 * kMargin - p.right_reserve &&
         ink.height() <= p.height - 2 * kMargin - p.bottom_reserve;
}

std::uint8_t Tint(int colour, int steps) {
  // steps of kCoverageSteps towards the colour from white
  return static_cast<std::uint8_t>(255 -
                                   ((255 - colour) * steps + kCoverageSteps / 2) / kCoverageSteps);
}

void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// BITMAPFILEHEADER + BITMAPINFOHEADER, then BGR rows bottom-up, each padded to
// a multiple of four bytes.
std::vector<std::uint8_t> EncodeBmp24(const QImage& image) {
  const auto w = static_cast<std::uint32_t>(image.width());
  const auto h = static_cast<std::uint32_t>(image.height());
  const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
  const std::uint32_t offset = 14 + 40;
  std::vector<std::uint8_t> out = {'B', 'M'};
  Put(out, offset + stride * h, 4);
  Put(out, 0, 4);
  Put(out, offset, 4);
  Put(out, 40, 4);
  Put(out, w, 4);
  Put(out, h, 4);
  Put(out, 1, 2);
  Put(out, 24, 2);
  Put(out, 0, 4);  // BI_RGB
  Put(out, stride * h, 4);
  for (int i = 0; i < 4; ++i) Put(out, 0, 4);  // resolution, palette counts
  for (int y = image.height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      out.insert(out.end(),
                 {static_cast<std::uint8_t>(qBlue(c)), static_cast<std::uint8_t>(qGreen(c)),
                  static_cast<std::uint8_t>(qRed(c))});
    }
    out.resize(out.size() + (stride - w * 3));
  }
  return out;
}

bool Render(const Picture& p, const std::string& dir) {
  // The largest whole pixel size whose lettering fits.
  QFont font;
  QImage coverage;
  QRect ink;
  int size = p.height * 2;
  for (; size > 6; --size) {
    font = MakeFont(p, size);
    coverage = Coverage(p, font);
    ink = InkBounds(coverage);
    if (Fits(p, ink)) break;
  }
  const QFontInfo info(font);
  if (info.family() != QString::fromUtf8(p.family) || info.italic() != p.italic) {
    std::fprintf(stderr, "%s: font \"%s\" is not installed (got \"%s\")\n", p.file, p.family,
                 qPrintable(info.family()));
    return false;
  }
  if (!Fits(p, ink)) {
    std::fprintf(stderr, "%s: text does not fit\n", p.file);
    return false;
  }

  // Centre the ink in the space left after the margins and reserves.
  const int left = kMargin + (p.width - 2 * kMargin - p.right_reserve - ink.width()) / 2;
  const int top = kMargin + (p.height - 2 * kMargin - p.bottom_reserve - ink.height()) / 2;
  QImage picture(p.width, p.height, QImage::Format_RGB32);
  picture.fill(Qt::white);
  for (int y = 0; y < ink.height(); ++y) {
    for (int x = 0; x < ink.width(); ++x) {
      const int alpha = qAlpha(coverage.pixel(ink.left() + x, ink.top() + y));
      const int steps = (alpha * kCoverageSteps + 127) / 255;
      if (steps == 0) continue;
      picture.setPixel(left + x, top + y,
                       qRgb(Tint(qRed(p.colour), steps), Tint(qGreen(p.colour), steps),
                            Tint(qBlue(p.colour), steps)));
    }
  }

  const std::string path = dir + "/" + p.file;
  const std::vector<std::uint8_t> bytes = EncodeBmp24(picture);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s: %d px %s, ink %dx%d at (%d,%d)\n", p.file, size, p.family, ink.width(),
              ink.height(), left, top);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  // Fonts need a GUI application but no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int app_argc = 1;
  QGuiApplication app(app_argc, argv);
  bool ok = true;
  for (const Picture& p : kPictures) ok = Render(p, argv[1]) && ok;
  return ok ? 0 : 1;
}
