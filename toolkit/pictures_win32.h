// Pictures in the Win32 backend: the picture boxes (their state, painting
// and window procedure) and the program's icon.
#pragma once

#include "toolkit/session_win32.h"

namespace tk::backend {

// A picture box: the BMP, or the icon from its 16-colour image of the
// system's icon size (else its 32x32 one, grown to that size), from the
// top-left, clipped by the child window. Pictures grow with the DPI as the
// boxes do (see ScalePicture).
struct PictureState {
  Picture bmp{};
  HICON icon = nullptr;
  int iconImage = 32;  // the size of the icon's own image
  int iconSize = 32;   // the size it is drawn at
  HBRUSH back = nullptr;
  RECT focus{};  // where the focus mark goes: the box's own area
  ~PictureState() {
    if (icon) DestroyIcon(icon);
    if (back) DeleteObject(back);
  }
};

// The image of `size` pixels with the most colours, at most `maxBits` deep.
HICON IconFromIco(Picture ico, int size, int maxBits);
// The program icon: resource 1 of the executable (from the .rc), else the
// embedded .ico (test executables carry no resources).
HICON ProgramIcon(int size);

LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tk::backend
