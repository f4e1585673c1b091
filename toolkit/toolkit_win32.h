// Win32-only helpers of the Win32 backend, for its tests. Handles are passed
// as void* so this header does not pull <windows.h> into its includers.
#pragma once

#include "toolkit/toolkit.h"

namespace tk::backend {

// Twips to pixels at the system's DPI (15 twips to a pixel at 96 DPI).
int DevicePixels(int twips);
// The HWND of a loaded form, or null.
void* NativeWindow(const Form& form);
// Handles the messages waiting in the queue (tests that run no loop).
void ProcessPendingMessages();

}  // namespace tk::backend
