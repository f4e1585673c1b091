// Qt-only helpers of the Qt backend, for its tests.
#pragma once

#include <QFont>
#include <QIcon>
#include <QWidget>

#include "app/toolkit.h"

namespace tk::backend {

int Pixels(int twips);
// Room a button's frame takes from its caption, in pixels.
extern const int kButtonMargins;
QFont ToQtFont(const Font& font);
// The window icon for the primary screen's scale, and for a given whole
// scale (1 on a 96 dpi screen): 16 and 32 points in device pixels.
QIcon ProgramIcon();
QIcon ProgramIcon(int scale);
// The native window of a loaded form, or null.
QWidget* NativeWindow(const Form& form);

}  // namespace tk::backend
