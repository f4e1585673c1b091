// The Win32 backend's common ground: its state between Start and Stop, the
// names of its window classes, the status of a failed native call, and the
// conversions of the layer's colours and fonts to GDI's.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> makes these macros; here they are the backend's own functions.
#undef CreateWindow
#undef MessageBox

#include "toolkit/backend.h"
#include "toolkit/fonts_win32.h"

namespace tk::backend {

inline constexpr wchar_t kFormClass[] = L"TamberlodeForm";
inline constexpr wchar_t kPictureClass[] = L"TamberlodePicture";
inline constexpr wchar_t kReaperClass[] = L"TamberlodeReaper";
// Posted to the reaper window: delete the FormState in lParam.
inline constexpr UINT kReapMessage = WM_APP + 1;

// The backend's state between Start and Stop.
struct Session {
  HINSTANCE instance = nullptr;
  HWND reaper = nullptr;
  int dpi = 96;
  bool started = false;
  bool busy = false;  // the busy cursor shows over the program's windows
};
extern Session session;

// The status of a failed native call: the call's name and the system's
// error go with it to the message (TakeFailure).
int Failed(const char* call);

COLORREF ToColorRef(const Color& color);
// A system colour as the user's scheme has it now.
Color SystemRgb(int systemIndex);
HFONT MakeFont(const Font& font);
int ButtonInset();

// What both of our window classes do with a message they leave alone: the
// window's state pointer goes with its last message.
LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tk::backend
