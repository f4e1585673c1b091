// Qt-only helpers of the Qt backend, for its tests.
#pragma once

#include <QFont>
#include <QIcon>
#include <QWidget>

#include "toolkit/toolkit.h"

namespace tk::backend {

// Twips to Qt's device-independent pixels, 15 to a pixel whatever the
// screen: Qt itself scales them for high-DPI screens.
int LogicalPixels(int twips);
// Room a button's frame takes from its caption, in pixels.
extern const int kButtonMargins;
QFont ToQtFont(const Font& font);
QIcon ProgramIcon();
// The native window of a loaded form, or null.
QWidget* NativeWindow(const Form& form);

}  // namespace tk::backend
