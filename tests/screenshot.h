// Pictures of the windows for review, left in the build folder's
// screenshots/ (TAMBERLODE_SCREENSHOT_DIR, defined for the test targets
// that take them).
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "toolkit/toolkit.h"
#include "toolkit/toolkit_qt.h"

namespace testing_windows {

// Writes a picture of the window for review and returns it, so that a test
// can check what it shows.
inline QImage Screenshot(const tk::Form& form, const std::string& name) {
  QWidget* window = tk::backend::NativeWindow(form);
  EXPECT_TRUE(window);
  if (window == nullptr) return {};
  const QImage picture = window->grab().toImage();
  const QString dir = QStringLiteral(TAMBERLODE_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  EXPECT_TRUE(picture.save(dir + "/" + QString::fromStdString(name)));
  return picture;
}

// A widget's box within its window's picture, in the picture's pixels.
inline QRect BoxIn(const QImage& picture, const QWidget* widget) {
  const qreal scale = picture.devicePixelRatio();
  const QRect box = widget->geometry();
  return QRect(qRound(box.x() * scale), qRound(box.y() * scale), qRound(box.width() * scale),
               qRound(box.height() * scale))
      .intersected(picture.rect());
}

// How many pixels of `area` are dark, as a text's strokes on a light ground.
inline int DarkPixels(const QImage& picture, const QRect& area) {
  int dark = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) dark += qGray(picture.pixel(x, y)) < 96;
  }
  return dark;
}

// The pixels of the window's own ground, outside every visible control, that
// are not white; rows in `skipRows` (where the window draws lines) aside.
inline int GroundNotWhite(const QImage& picture, const tk::Form& form,
                          const QList<int>& skipRows = {}) {
  QRegion controls;
  for (const QWidget* child :
       tk::backend::NativeWindow(form)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isVisible()) controls += BoxIn(picture, child);
  }
  int other = 0;
  for (int y = 0; y < picture.height(); ++y) {
    if (skipRows.contains(y)) continue;
    for (int x = 0; x < picture.width(); ++x) {
      other += !controls.contains(QPoint(x, y)) && picture.pixel(x, y) != qRgb(255, 255, 255);
    }
  }
  return other;
}

// The captions of the visible labels whose boxes in the picture hold no dark
// pixel: texts that were not drawn, drawn elsewhere or drawn too light.
inline std::vector<std::string> CaptionsNotShown(const QImage& picture, const tk::Form& form) {
  std::vector<std::string> missing;
  for (const QLabel* label :
       tk::backend::NativeWindow(form)->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label->isVisible() && !label->text().isEmpty() &&
        DarkPixels(picture, BoxIn(picture, label)) == 0)
      missing.push_back(label->text().toStdString());
  }
  return missing;
}

}  // namespace testing_windows
