#include "toolkit/convert_qt.h"

#include <QApplication>
#include <QPalette>
#include <cmath>

namespace tk::backend {

QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToQt(const Color& color) {
  if (color.kind == Color::Kind::Rgb) return QColor(color.red, color.green, color.blue);
  const QPalette palette = QApplication::palette();
  switch (color.systemIndex) {
    case 5:
      return palette.color(QPalette::Base);  // window background
    case 8:
      return palette.color(QPalette::Text);  // window text
    case 15:
      return palette.color(QPalette::Button);  // button face
    case 18:
      return palette.color(QPalette::ButtonText);
    default:
      return palette.color(QPalette::Window);
  }
}

Color SystemRgb(int systemIndex) {
  const QColor colour = ToQt(SystemColor(systemIndex));
  return Rgb(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
             static_cast<std::uint8_t>(colour.blue()));
}

QString WithoutAccessKeys(const QString& caption) {
  QString text;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    text += caption[i];
  }
  return text;
}

QRect ToLogicalPixels(const Rect& r) {
  return {LogicalPixels(r.left), LogicalPixels(r.top), LogicalPixels(r.width),
          LogicalPixels(r.height)};
}

int LogicalPixels(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

// The design's Windows fonts, mapped to installed open fonts. The open faces
// run wider than the originals at the same size, so they are scaled to set
// the design's texts in about the same width: 8.25 pt MS Sans Serif becomes
// 10-pixel Liberation Sans, 21.75 pt Comic Sans MS becomes 20 pt Comic Neue.
struct FontMapping {
  std::string_view design;
  const char* family;
  double scale;
};
constexpr FontMapping kFontMappings[] = {
    {"MS Sans Serif", "Liberation Sans", 7.5 / 8.25},
    {"Comic Sans MS", "Comic Neue", 20.0 / 21.75},
};

QFont ToQtFont(const Font& font) {
  QString family = ToQt(font.name);
  double points = font.points;
  for (const FontMapping& mapping : kFontMappings) {
    if (font.name == mapping.design) {
      family = QString::fromLatin1(mapping.family);
      points *= mapping.scale;
    }
  }
  QFont qfont(family);
  qfont.setPointSizeF(points);
  qfont.setWeight(static_cast<QFont::Weight>(font.weight));
  qfont.setItalic(font.italic);
  qfont.setUnderline(font.underline);
  return qfont;
}

}  // namespace tk::backend
