// What screen readers see of the Win32 backend's picture boxes. The COM
// side lives here, apart from the window glue.
#pragma once

#include <windows.h>

namespace tk::backend {

// The answer to a screen reader's WM_GETOBJECT for a picture box, 0 if none.
LRESULT PictureAccessible(HWND hwnd, WPARAM wParam);

}  // namespace tk::backend
