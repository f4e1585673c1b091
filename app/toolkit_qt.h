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
QIcon ProgramIcon();
// The native window of a loaded form, or null.
QWidget* NativeWindow(const Form& form);

}  // namespace tk::backend
