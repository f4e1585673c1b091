#include "toolkit/pictures_qt.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <cmath>

#include "identity/icon.h"
#include "toolkit/toolkit_qt.h"

namespace tk::backend {
namespace {

// Distinct colours of an image, to tell an icon's 2-colour image from its
// 16-colour one after Qt has converted both to 32 bits.
int Colours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

}  // namespace

QImage LoadPicture(Picture picture) {
  QByteArray bytes(reinterpret_cast<const char*>(picture.data()),
                   static_cast<qsizetype>(picture.size()));
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer);
  QImage best;
  for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
    if (i > 0 && !reader.jumpToImage(i)) break;
    const QImage image = reader.read();
    if (best.isNull() || (image.size() == QSize(32, 32) &&
                          (best.size() != QSize(32, 32) || Colours(image) > Colours(best)))) {
      best = image;
    }
  }
  return best;
}

void PictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), back_);
  painter.drawImage(0, 0, image_);
  // The focus mark of the style's own controls, shown as they show it
  // (once the keyboard has moved the focus).
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = focusArea_;
    focus.backgroundColor = back_;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }
}

QIcon ProgramIcon(int scale) {
  // Decoded once, as PNG and nothing else: left to guess, Qt loads every
  // image format plugin to ask whether it knows the bytes.
  static const auto decode = [](Picture png) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(png.data()),
                                               static_cast<qsizetype>(png.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
  };
  static const QImage design16 = decode(identity::IconPng16());
  static const QImage design32 = decode(identity::IconPng32());
  const auto scaled = [](const QImage& design, int factor) {
    return QPixmap::fromImage(
        factor == 1
            ? design
            : design.scaled(design.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation));
  };
  // The title bar's 16 and the task switcher's 32 points in this screen's
  // pixels: the pixel designs scaled by whole factors, the larger design
  // wherever it fits, as in the icon theme.
  scale = std::max(1, scale);
  QIcon icon;
  icon.addPixmap(scale % 2 == 0 ? scaled(design32, scale / 2) : scaled(design16, scale));
  icon.addPixmap(scaled(design32, scale));
  return icon;
}

QIcon ProgramIcon() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return ProgramIcon(screen ? static_cast<int>(std::ceil(screen->devicePixelRatio())) : 1);
}

}  // namespace tk::backend
