// The Qt backend's conversions between the layer's values and Qt's: text,
// colours (system colours as the user's scheme has them), design twips to
// logical pixels, and the design's fonts to installed open ones.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <string_view>

#include "toolkit/toolkit.h"
#include "toolkit/toolkit_qt.h"

namespace tk::backend {

QString ToQt(std::string_view text);
QColor ToQt(const Color& color);
// A system colour as the scheme has it now.
Color SystemRgb(int systemIndex);
// A caption as it reads, without its access-key marks ("&&" is one "&").
QString WithoutAccessKeys(const QString& caption);
QRect ToLogicalPixels(const Rect& r);

}  // namespace tk::backend
