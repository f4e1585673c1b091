// Fonts of the Win32 backend: the design's fonts at the screen's DPI, and
// the fitting of stand-in faces to the design's boxes.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/toolkit.h"

namespace tk::backend::fonts {

// One text of a window as its control lays it out, for fitting the fonts.
struct BoxedText {
  HWND control;
  Font font;
  std::wstring text;
  int width, height;  // pixels the text may use
  UINT format;        // DrawText flags of the control
};

// `font` at its design size on a screen of `dpi` dots per inch.
HFONT Make(const Font& font, int dpi);

// A push button draws its caption inside 2 pixels of edge and 1 of room for
// the focus mark on each side (at 96 DPI).
int ButtonInset(int dpi);

// Where the system sets a design font in another face than the design's,
// the font is set smaller, a pixel at a time, until every text of the
// window in it fits its box: the stand-in faces run wider (the Qt backend
// scales its open faces for the same reason). The design's own face keeps
// the design size. Fonts of one name and size shrink together.
// Sets the fitted fonts on the texts' controls; the fonts it makes go into
// `made`, which the window deletes with it.
void Fit(HWND window, const std::vector<BoxedText>& texts, int dpi, std::vector<HFONT>& made);

}  // namespace tk::backend::fonts
