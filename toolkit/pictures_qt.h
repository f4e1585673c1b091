// Pictures in the Qt backend: the picture boxes, the decoding of their BMP
// and ICO bytes, and the program's icon at the screen's scale.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include "toolkit/convert_qt.h"
#include "toolkit/toolkit.h"

namespace tk::backend {

// A BMP as it is; from an icon file the 32x32 image with the most colours.
QImage LoadPicture(Picture picture);

// A picture box: its picture from the top-left, one image pixel to a
// logical pixel (Qt scales logical pixels to the screen), clipped to the
// box, on its ground (see PictureGround).
class PictureWidget final : public QWidget {
 public:
  PictureWidget(QWidget* parent, const PictureBox& picture, const Color& windowBack)
      : QWidget(parent),
        image_(LoadPicture(picture.design().picture)),
        back_(ToQt(PictureGround(picture.design().backColor, windowBack, SystemRgb))) {
    const PictureBox::Design& d = picture.design();
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(ToQt(d.description));
    // The focus mark keeps to the box's own area, where no neighbour paints.
    const Rect own = picture.FocusArea();
    focusArea_ = QRect(QPoint(LogicalPixels(own.left) - LogicalPixels(d.rect.left),
                              LogicalPixels(own.top) - LogicalPixels(d.rect.top)),
                       QPoint(LogicalPixels(own.left + own.width) - LogicalPixels(d.rect.left) - 1,
                              LogicalPixels(own.top + own.height) - LogicalPixels(d.rect.top) - 1));
  }
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QImage image_;
  QColor back_;
  QRect focusArea_;
};

}  // namespace tk::backend
