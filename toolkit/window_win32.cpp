// The Win32 backend of the toolkit layer, the window glue: forms, controls,
// the loop and the message box on user32 and gdi32. The screen readers' view
// (access_win32.cpp), the font fitting (fonts_win32.cpp) and the system
// services (system_win32.cpp) live beside it.
//
// Texts: the program's strings are UTF-8; this backend hands them to the
// wide (W) functions as UTF-16 and converts what it reads back, so no
// character is lost to the ANSI code page. (The registry and the free-space
// query use the A functions on their own, as their callers expect.)
#include "toolkit/toolkit_win32.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> makes these macros; here they are the backend's own functions.
#undef CreateWindow
#undef MessageBox

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "identity/icon.h"
#include "identity/identity.h"
#include "toolkit/access_win32.h"
#include "toolkit/backend.h"
#include "toolkit/bitmaps.h"
#include "toolkit/fonts_win32.h"
#include "win32/text.h"

namespace tk::backend {
namespace {

constexpr wchar_t kFormClass[] = L"TamberlodeForm";
constexpr wchar_t kPictureClass[] = L"TamberlodePicture";
constexpr wchar_t kReaperClass[] = L"TamberlodeReaper";
// Posted to the reaper window: delete the FormState in lParam.
constexpr UINT kReapMessage = WM_APP + 1;
// Control ids start above IDOK, IDCANCEL and the other dialog ids, so the
// dialog manager's IDOK/IDCANCEL commands never name a control.
constexpr int kFirstControlId = 100;

// The backend's state between Start and Stop.
struct Session {
  HINSTANCE instance = nullptr;
  HWND reaper = nullptr;
  int dpi = 96;
  bool started = false;
  bool busy = false;  // the busy cursor shows over the program's windows
};
Session session;

using win32::Utf8;
using win32::Wide;

std::optional<SystemCause> lastFailure;

// The status of a failed native call: the call's name and the system's
// error go with it to the message.
int Failed(const char* call) {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? Utf8(text) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  lastFailure = SystemCause{call, error, message};
  return kBackendFailure;
}

COLORREF ToColorRef(const Color& color) {
  if (color.kind == Color::Kind::Rgb) return RGB(color.red, color.green, color.blue);
  return GetSysColor(color.systemIndex);
}

// A system colour as the user's scheme has it now.
Color SystemRgb(int systemIndex) {
  const COLORREF colour = GetSysColor(systemIndex);
  return Rgb(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

HFONT MakeFont(const Font& font) { return fonts::Make(font, session.dpi); }
using fonts::BoxedText;
int ButtonInset() { return fonts::ButtonInset(session.dpi); }

// The image of `size` pixels with the most colours, at most `maxBits` deep.
HICON IconFromIco(Picture ico, int size, int maxBits) {
  const std::optional<bitmaps::IcoImage> best = bitmaps::BestIcoImage(ico, size, maxBits);
  if (!best) return nullptr;
  auto* data = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(best->data.data()));
  return CreateIconFromResourceEx(data, static_cast<DWORD>(best->data.size()), TRUE, 0x00030000,
                                  size, size, LR_DEFAULTCOLOR);
}

// The program icon: resource 1 of the executable (from the .rc), else the
// embedded .ico (test executables carry no resources).
HICON ProgramIcon(int size) {
  auto icon = static_cast<HICON>(
      LoadImageW(session.instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  return icon ? icon : IconFromIco(identity::IconIco(), size, 32);
}

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

// Stretches with `draw` (a StretchBlt or StretchDIBits into `dc`): pixels
// repeated for a whole factor, blended for any other.
template <class Draw>
void Stretched(HDC dc, bool smooth, Draw draw) {
  const int mode = SetStretchBltMode(dc, smooth ? HALFTONE : COLORONCOLOR);
  POINT origin{};
  SetBrushOrgEx(dc, 0, 0, &origin);  // HALFTONE wants it set after the mode
  draw();
  SetBrushOrgEx(dc, origin.x, origin.y, nullptr);
  SetStretchBltMode(dc, mode);
}

void PaintBmp(HDC dc, Picture bmp) {
  const std::optional<bitmaps::Bmp> read = bitmaps::ReadBmp(bmp);
  if (!read) return;
  const int width = read->width, height = read->height;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(read->info.data());
  const PictureScale scale = ScalePicture(width, height, session.dpi);
  if (scale.width == width && scale.height == height) {
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), read->bits.data(), info, DIB_RGB_COLORS);
    return;
  }
  Stretched(dc, scale.smooth, [&] {
    StretchDIBits(dc, 0, 0, scale.width, scale.height, 0, 0, width, height, read->bits.data(), info,
                  DIB_RGB_COLORS, SRCCOPY);
  });
}

void PaintIcon(HDC dc, const PictureState& state) {
  if (state.iconImage == state.iconSize) {
    DrawIconEx(dc, 0, 0, state.icon, state.iconSize, state.iconSize, 0, nullptr, DI_NORMAL);
    return;
  }
  // Drawn on the box's ground at its own size, then grown as a picture.
  const int image = state.iconImage;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, image, image);
  if (!memory || !bitmap) {
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    return;
  }
  const HGDIOBJ old = SelectObject(memory, bitmap);
  const RECT all{0, 0, image, image};
  FillRect(memory, &all, state.back);
  DrawIconEx(memory, 0, 0, state.icon, image, image, 0, nullptr, DI_NORMAL);
  Stretched(dc, state.iconSize % image != 0, [&] {
    StretchBlt(dc, 0, 0, state.iconSize, state.iconSize, memory, 0, 0, image, image, SRCCOPY);
  });
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

void PaintPicture(HWND hwnd, HDC dc, const PictureState& state) {
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, state.back);
  if (state.icon) {
    PaintIcon(dc, state);
  } else {
    PaintBmp(dc, state.bmp);
  }
  // The focus mark of the native controls, where the window shows them.
  if (GetFocus() == hwnd && !(SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
    DrawFocusRect(dc, &state.focus);
  }
}

// What both of our window classes do with a message they leave alone: the
// window's state pointer goes with its last message.
LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<PictureState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole box
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      if (state) PaintPicture(hwnd, dc, *state);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (state) PaintPicture(hwnd, reinterpret_cast<HDC>(wParam), *state);
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:  // the focus mark comes or goes
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_GETOBJECT:
      if (static_cast<LONG>(lParam) == OBJID_CLIENT) {
        if (const LRESULT reader = PictureAccessible(hwnd, wParam)) return reader;
      }
      break;
    default:
      break;
  }
  return DefaultProc(hwnd, message, wParam, lParam);
}

struct LabelColours {
  COLORREF fore;
  HBRUSH back;
  COLORREF backColour;
};

// Everything one loaded window needs. It lives until after the handler
// that unloads the window has returned (see the reaper).
struct FormState {
  Form* form = nullptr;
  HWND hwnd = nullptr;
  bool dead = false;
  bool shownOnce = false;
  HBRUSH back = nullptr;
  COLORREF backColour = 0;
  HICON bigIcon = nullptr, smallIcon = nullptr;
  HFONT defaultFont = nullptr;
  std::vector<HFONT> fonts;
  std::vector<HBRUSH> brushes;
  std::vector<std::unique_ptr<PictureState>> pictures;
  std::vector<Line::Design> lines;        // painted in creation order
  std::map<int, CommandButton*> buttons;  // by control id
  std::map<UINT_PTR, Timer*> timers;      // by timer id
  std::map<HWND, LabelColours> labels;
  std::vector<std::pair<int, HWND>> tabOrder;  // design tab index, control
  HWND defaultButton = nullptr, cancelButton = nullptr, savedFocus = nullptr;
  int nextId = kFirstControlId;
  std::vector<BoxedText> texts;  // the design texts, fitted once all controls exist

  ~FormState() {
    for (HFONT font : fonts) DeleteObject(font);
    if (defaultFont) DeleteObject(defaultFont);
    for (HBRUSH brush : brushes) DeleteObject(brush);
    if (back) DeleteObject(back);
    if (bigIcon) DestroyIcon(bigIcon);
    if (smallIcon) DestroyIcon(smallIcon);
  }

  HFONT FontFor(const std::optional<Font>& font) {
    if (!font || *font == DefaultFont()) return defaultFont;
    fonts.push_back(MakeFont(*font));
    return fonts.back();
  }
  HBRUSH BrushFor(COLORREF colour) {
    if (colour == backColour) return back;
    brushes.push_back(CreateSolidBrush(colour));
    return brushes.back();
  }
  bool IsButton(HWND control) const {
    return std::any_of(buttons.begin(), buttons.end(),
                       [&](const auto& entry) { return GetDlgItem(hwnd, entry.first) == control; });
  }
  // Shows which button Enter presses: the focused one, else the default.
  void MarkDefault(HWND focused) {
    const HWND marked = focused && IsButton(focused) ? focused : defaultButton;
    for (const auto& entry : buttons) {
      const HWND button = GetDlgItem(hwnd, entry.first);
      const LONG style = button == marked ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      if ((GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) != style) {
        SendMessageW(button, BM_SETSTYLE, style, TRUE);
      }
    }
  }
  void AddText(HWND control, const std::optional<Font>& font, std::string_view text,
               const Rect& box, bool button, DWORD labelStyle) {
    if (text.empty()) return;
    const int inset = button ? ButtonInset() : 0;
    UINT format = DT_EXPANDTABS;
    if (!button) format |= DT_NOPREFIX;  // labels are SS_NOPREFIX
    if (button || (labelStyle & SS_TYPEMASK) != SS_LEFTNOWORDWRAP) format |= DT_WORDBREAK;
    texts.push_back({control, font.value_or(DefaultFont()), Wide(text),
                     DevicePixels(box.width) - 2 * inset, DevicePixels(box.height) - 2 * inset,
                     format});
  }
  void FitFonts() { fonts::Fit(hwnd, texts, session.dpi, fonts); }
  void FocusFirst() {
    for (const auto& [index, control] : tabOrder) {
      if ((GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(control) &&
          IsWindowEnabled(control)) {
        SetFocus(control);
        return;
      }
    }
  }
};

FormState* StateOf(HWND hwnd) {
  return reinterpret_cast<FormState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// A line wider than one pixel grows downwards (rightwards) from its
// coordinate, as the design means: the About box's white line lies below
// its grey one. GDI centres wide pens, which would cover the grey row.
bool PaintWideStraightLine(HDC dc, const Line::Design& line) {
  if (line.width <= 1 || (line.y1 != line.y2 && line.x1 != line.x2)) return false;
  const int x1 = DevicePixels(std::min(line.x1, line.x2)),
            x2 = DevicePixels(std::max(line.x1, line.x2));
  const int y1 = DevicePixels(std::min(line.y1, line.y2)),
            y2 = DevicePixels(std::max(line.y1, line.y2));
  const RECT rect =
      line.y1 == line.y2 ? RECT{x1, y1, x2, y1 + line.width} : RECT{x1, y1, x1 + line.width, y2};
  HBRUSH brush = CreateSolidBrush(ToColorRef(line.color));
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
  return true;
}

// The window's lines, in creation order, under its controls.
void PaintLines(HDC dc, const FormState& state) {
  for (const Line::Design& line : state.lines) {
    if (PaintWideStraightLine(dc, line)) continue;
    LOGBRUSH brush{BS_SOLID, ToColorRef(line.color), 0};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT,
                            static_cast<DWORD>(std::max(1, line.width)), &brush, 0, nullptr);
    const HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, DevicePixels(line.x1), DevicePixels(line.y1), nullptr);
    LineTo(dc, DevicePixels(line.x2), DevicePixels(line.y2));
    SelectObject(dc, old);
    DeleteObject(pen);
  }
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  FormState* state = StateOf(hwnd);
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  if (!state || state->dead) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, state->back);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      PaintLines(dc, *state);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(dc, &client, state->back);
      PaintLines(dc, *state);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      const auto found = state->labels.find(reinterpret_cast<HWND>(lParam));
      if (found == state->labels.end()) break;
      SetTextColor(dc, found->second.fore);
      SetBkColor(dc, found->second.backColour);
      return reinterpret_cast<LRESULT>(found->second.back);
    }
    case WM_CTLCOLORBTN:
      // The corners around a push button take the window's colour.
      return reinterpret_cast<LRESULT>(state->back);
    case DM_GETDEFID: {
      // Enter presses the focused button, else the default one.
      const HWND focus = GetFocus();
      HWND target =
          focus && state->IsButton(focus) && IsWindowVisible(focus) ? focus : state->defaultButton;
      if (target && IsWindowVisible(target)) {
        return MAKELRESULT(GetDlgCtrlID(target), DC_HASDEFID);
      }
      return 0;
    }
    case DM_SETDEFID:
      return TRUE;  // the design's default button stays the default
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDCANCEL && lParam == 0) {
        // Esc: the cancel button, if the window has a visible one.
        if (state->cancelButton && IsWindowVisible(state->cancelButton)) {
          const auto found = state->buttons.find(GetDlgCtrlID(state->cancelButton));
          if (found != state->buttons.end()) found->second->Press();
        }
        return 0;
      }
      const auto found = state->buttons.find(id);
      if (found == state->buttons.end()) break;
      if (code == BN_SETFOCUS) {
        state->MarkDefault(reinterpret_cast<HWND>(lParam));
      } else if (code == BN_KILLFOCUS) {
        state->MarkDefault(GetFocus());
      } else if (code == BN_CLICKED) {
        // May unload this window: nothing of `state` is used after Press.
        found->second->Press();
      }
      return 0;
    }
    case WM_TIMER: {
      const auto found = state->timers.find(wParam);
      if (found != state->timers.end()) found->second->Tick();
      return 0;
    }
    case WM_ACTIVATE: {
      // Keep the focus inside the window across activations, as dialogs do.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus)) state->savedFocus = focus;
      } else if (state->savedFocus && IsWindow(state->savedFocus) &&
                 IsWindowVisible(state->savedFocus)) {
        SetFocus(state->savedFocus);
      } else {
        state->FocusFirst();
      }
      return 0;
    }
    case WM_CLOSE: {
      Form& form = *state->form;
      Dispatch([&form] { form.Form_Close(); });
      return 0;
    }
    case WM_SETCURSOR:
      // The controls ask their window first, so this covers them too.
      if (!session.busy || LOWORD(lParam) != HTCLIENT) break;
      SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
      return TRUE;
    default:
      break;
  }
  return DefaultProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ReaperProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kReapMessage) {
    delete reinterpret_cast<FormState*>(lParam);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Deletes the states of unloaded windows whose delete message is waiting.
void Reap() {
  MSG message;
  while (session.reaper &&
         PeekMessageW(&message, session.reaper, kReapMessage, kReapMessage, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

// The label's width and its window's for its caption (tk::FitCaption). A
// hidden label is never seen and asks for nothing: no window changes size on
// its own (the notice's hidden count runs on below 0).
void FitCaption(HWND label, int designWidth) {
  if (!(GetWindowLongW(label, GWL_STYLE) & WS_VISIBLE)) return;
  const int length = GetWindowTextLengthW(label);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(label, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  const bool wraps = (GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK) != SS_LEFTNOWORDWRAP;
  int needed = 0;
  if (HDC dc = GetDC(label)) {
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find_first_of(wraps ? L" \n" : L"\n", start);
      if (end == std::wstring::npos) end = text.size();
      SIZE size{};
      if (end > start &&
          GetTextExtentPoint32W(dc, text.data() + start, static_cast<int>(end - start), &size)) {
        needed = std::max(needed, static_cast<int>(size.cx));
      }
      start = end + 1;
    }
    SelectObject(dc, old);
    ReleaseDC(label, dc);
  }
  const HWND window = GetParent(label);
  RECT box;
  GetWindowRect(label, &box);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
  const FormState* state = StateOf(window);
  const bool form = state && state->form;
  RECT client;
  GetClientRect(window, &client);
  const CaptionWidths fit =
      tk::FitCaption(box.left, designWidth, needed,
                     form ? DevicePixels(state->form->design().clientWidth) : 0, client.right);
  if (fit.label != box.right - box.left) {
    SetWindowPos(label, nullptr, 0, 0, fit.label, box.bottom - box.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!form || fit.window == client.right) return;
  // Never narrower: the window only grows, by its client area.
  const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  RECT frame{0, 0, fit.window, client.bottom};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ClientWidth(HWND hwnd) {
  RECT rect;
  GetClientRect(hwnd, &rect);
  return rect.right;
}

class LabelPeer final : public ControlPeer {
 public:
  explicit LabelPeer(HWND hwnd) : hwnd_(hwnd), designWidth_(ClientWidth(hwnd)) {
    FitCaption(hwnd_, designWidth_);
  }
  int SetCaption(std::string_view caption) override {
    if (!SetWindowTextW(hwnd_, Wide(caption).c_str())) return Failed("SetWindowTextW");
    FitCaption(hwnd_, designWidth_);
    return 0;
  }
  int SetVisible(bool visible) override {
    ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    // A caption changed while hidden is fitted when it shows.
    FitCaption(hwnd_, designWidth_);
    return 0;
  }
  // Windows drive letters need no explanation: no tooltips here.
  int SetToolTip(std::string_view) override { return 0; }

 private:
  HWND hwnd_;
  int designWidth_;
};

class ButtonPeer final : public ControlPeer {
 public:
  explicit ButtonPeer(HWND hwnd) : hwnd_(hwnd) {}
  int SetVisible(bool visible) override {
    ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    return 0;
  }

 private:
  HWND hwnd_;
};

class TimerPeer final : public ControlPeer {
 public:
  TimerPeer(HWND hwnd, UINT_PTR id) : hwnd_(hwnd), id_(id) {}
  ~TimerPeer() override { KillTimer(hwnd_, id_); }
  int SetInterval(int milliseconds) override {
    // Interval 0 never ticks.
    if (milliseconds <= 0) {
      KillTimer(hwnd_, id_);
      return 0;
    }
    return SetTimer(hwnd_, id_, static_cast<UINT>(milliseconds), nullptr) ? 0 : Failed("SetTimer");
  }

 private:
  HWND hwnd_;
  UINT_PTR id_;
};

class InertPeer final : public ControlPeer {};

class WindowPeerWin32 final : public WindowPeer {
 public:
  explicit WindowPeerWin32(FormState* state) : state_(state) {}

  ~WindowPeerWin32() override {
    // The handler that unloads may be running inside this window's procedure:
    // the window goes now, its state once control is back in the loop.
    state_->dead = true;
    for (const auto& entry : state_->timers) KillTimer(state_->hwnd, entry.first);
    DestroyWindow(state_->hwnd);
    if (!session.reaper ||
        !PostMessageW(session.reaper, kReapMessage, 0, reinterpret_cast<LPARAM>(state_))) {
      delete state_;
    }
  }

  HWND hwnd() const { return state_->hwnd; }

  int SetCaption(std::string_view caption) override {
    return SetWindowTextW(state_->hwnd, Wide(caption).c_str()) ? 0 : Failed("SetWindowTextW");
  }

  int Show() override {
    const HWND hwnd = state_->hwnd;
    if (IsWindowVisible(hwnd)) {
      SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    } else {
      ShowWindow(hwnd, SW_SHOWNORMAL);
    }
    if (!state_->shownOnce) {
      state_->shownOnce = true;
      state_->FocusFirst();
    }
    SetForegroundWindow(hwnd);
    UpdateWindow(hwnd);
    return 0;
  }

  int Hide() override {
    ShowWindow(state_->hwnd, SW_HIDE);
    return 0;
  }

  bool Visible() const override { return IsWindowVisible(state_->hwnd) != FALSE; }

  int HoldPainting(bool hold) override {
    // WM_SETREDRAW would show a hidden window again on release: only a
    // visible one is held (a hidden one paints nothing anyway).
    const HWND hwnd = state_->hwnd;
    if (hold) {
      held_ = IsWindowVisible(hwnd) != FALSE;
      if (held_) SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
      return 0;
    }
    if (!held_) return 0;
    held_ = false;
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    return RedrawWindow(hwnd, nullptr, nullptr,
                        RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW)
               ? 0
               : Failed("RedrawWindow");
  }

  std::unique_ptr<ControlPeer> CreateLabel(Label& label) override {
    const Label::Design& d = label.design();
    DWORD style = WS_CHILD | SS_NOPREFIX;
    if (label.Visible()) style |= WS_VISIBLE;
    if (!d.wordWrap)
      style |= SS_LEFTNOWORDWRAP;
    else if (d.alignment == Alignment::Right)
      style |= SS_RIGHT;
    else if (d.alignment == Alignment::Center)
      style |= SS_CENTER;
    else
      style |= SS_LEFT;
    const HWND hwnd = Child(L"STATIC", label.Caption(), style, d.rect, d.tabIndex, nullptr);
    if (!hwnd) return nullptr;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(state_->FontFor(d.font)), FALSE);
    state_->AddText(hwnd, d.font, label.Caption(), d.rect, false, style);
    const TextColors colors = ReadableColors(d.foreColor, d.backColor, SystemRgb);
    const COLORREF back = ToColorRef(colors.back);
    state_->labels[hwnd] = {ToColorRef(colors.fore), state_->BrushFor(back), back};
    return std::make_unique<LabelPeer>(hwnd);
  }

  std::unique_ptr<ControlPeer> CreateButton(CommandButton& button) override {
    const CommandButton::Design& d = button.design();
    DWORD style = WS_CHILD | WS_TABSTOP | BS_MULTILINE | BS_NOTIFY |
                  (d.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    if (button.Visible()) style |= WS_VISIBLE;
    const int id = state_->nextId;
    const HWND hwnd = Child(L"BUTTON", d.caption, style, d.rect, d.tabIndex, nullptr);
    if (!hwnd) return nullptr;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(state_->FontFor(d.font)), FALSE);
    state_->AddText(hwnd, d.font, d.caption, d.rect, true, 0);
    state_->buttons[id] = &button;
    if (d.isDefault) state_->defaultButton = hwnd;
    if (d.cancel) state_->cancelButton = hwnd;
    return std::make_unique<ButtonPeer>(hwnd);
  }

  std::unique_ptr<ControlPeer> CreateTimer(Timer& timer) override {
    const UINT_PTR id = static_cast<UINT_PTR>(state_->nextId++);
    state_->timers[id] = &timer;
    auto peer = std::make_unique<TimerPeer>(state_->hwnd, id);
    if (peer->SetInterval(timer.Interval()) != 0) return nullptr;
    return peer;
  }

  std::unique_ptr<ControlPeer> CreatePicture(PictureBox& picture) override {
    const PictureBox::Design& d = picture.design();
    auto data = std::make_unique<PictureState>();
    if (bitmaps::IsIco(d.picture)) {
      // The system's icon size for the DPI, from the icon's own image of
      // that size where it has one.
      data->iconSize = GetSystemMetrics(SM_CXICON);
      data->icon = IconFromIco(d.picture, data->iconSize, 4);
      data->iconImage = data->iconSize;
      if (!data->icon) {
        data->icon = IconFromIco(d.picture, 32, 4);
        data->iconImage = 32;
      }
    } else {
      data->bmp = d.picture;
    }
    const Color ground = PictureGround(d.backColor, state_->form->design().backColor, SystemRgb);
    data->back = CreateSolidBrush(ToColorRef(ground));
    const Rect own = picture.FocusArea();
    data->focus = {DevicePixels(own.left) - DevicePixels(d.rect.left),
                   DevicePixels(own.top) - DevicePixels(d.rect.top),
                   DevicePixels(own.left + own.width) - DevicePixels(d.rect.left),
                   DevicePixels(own.top + own.height) - DevicePixels(d.rect.top)};
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (d.border ? WS_BORDER : 0);
    // The window's text names the picture for screen readers.
    const HWND hwnd = Child(kPictureClass, d.description, style, d.rect, d.tabIndex, data.get());
    if (!hwnd) return nullptr;
    state_->pictures.push_back(std::move(data));
    return std::make_unique<InertPeer>();
  }

  std::unique_ptr<ControlPeer> CreateLine(Line& line) override {
    state_->lines.push_back(line.design());
    return std::make_unique<InertPeer>();
  }

  int FinishLoad() override {
    state_->FitFonts();
    // The tab order is the z-order of the children: sort by tab index.
    auto& order = state_->tabOrder;
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    HWND previous = HWND_TOP;
    for (const auto& [index, control] : order) {
      SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = control;
    }
    return 0;
  }

 private:
  HWND Child(const wchar_t* windowClass, std::string_view text, DWORD style, const Rect& rect,
             int tabIndex, void* parameter) {
    const int id = state_->nextId++;
    const HWND hwnd = CreateWindowExW(
        0, windowClass, Wide(text).c_str(), style, DevicePixels(rect.left), DevicePixels(rect.top),
        DevicePixels(rect.width), DevicePixels(rect.height), state_->hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), session.instance, parameter);
    if (hwnd)
      state_->tabOrder.emplace_back(tabIndex, hwnd);
    else
      Failed("CreateWindowExW");
    return hwnd;
  }

  FormState* state_;
  bool held_ = false;  // HoldPainting took the window's redraw away
};

}  // namespace

int DevicePixels(int twips) { return MulDiv(twips, session.dpi, 1440); }

void* NativeWindow(const Form& form) {
  auto* peer = dynamic_cast<WindowPeerWin32*>(form.peer());
  return peer ? peer->hwnd() : nullptr;
}

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;  // no loop runs here to end
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::unique_ptr<WindowPeer> CreateWindow(Form& form) {
  const Form::Design& d = form.design();
  const bool sizable = d.frame == Frame::Sizable;
  const DWORD style = WS_CLIPCHILDREN | (sizable ? WS_OVERLAPPEDWINDOW : WS_CAPTION | WS_SYSMENU);
  const DWORD exStyle = sizable ? 0 : WS_EX_DLGMODALFRAME;
  // The design sizes and places the client area; the frame goes around it.
  RECT frame{0, 0, DevicePixels(d.clientWidth), DevicePixels(d.clientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);

  auto state = std::make_unique<FormState>();
  state->form = &form;
  state->backColour = ToColorRef(d.backColor);
  state->back = CreateSolidBrush(state->backColour);
  state->defaultFont = MakeFont(DefaultFont());
  const HWND hwnd = CreateWindowExW(
      exStyle, kFormClass, Wide(form.Caption()).c_str(), style, DevicePixels(d.left) + frame.left,
      DevicePixels(d.top) + frame.top, frame.right - frame.left, frame.bottom - frame.top, nullptr,
      nullptr, session.instance, state.get());
  if (!hwnd) {
    Failed("CreateWindowExW");
    return nullptr;
  }
  state->hwnd = hwnd;
  if (d.icon) {
    state->bigIcon = ProgramIcon(GetSystemMetrics(SM_CXICON));
    state->smallIcon = ProgramIcon(GetSystemMetrics(SM_CXSMICON));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(state->bigIcon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(state->smallIcon));
  }
  return std::make_unique<WindowPeerWin32>(state.release());
}

int Start(int, char**) {
  if (session.started) return 0;
  session.instance = GetModuleHandleW(nullptr);
  if (HDC screen = GetDC(nullptr)) {
    session.dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
  }
  if (session.dpi <= 0) session.dpi = 96;

  WNDCLASSEXW form{};
  form.cbSize = sizeof form;
  form.style = CS_DBLCLKS;
  form.lpfnWndProc = FormProc;
  form.hInstance = session.instance;
  form.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  form.lpszClassName = kFormClass;
  WNDCLASSEXW picture = form;
  picture.lpfnWndProc = PictureProc;
  picture.lpszClassName = kPictureClass;
  WNDCLASSEXW reap{};
  reap.cbSize = sizeof reap;
  reap.lpfnWndProc = ReaperProc;
  reap.hInstance = session.instance;
  reap.lpszClassName = kReaperClass;
  if (!RegisterClassExW(&form) || !RegisterClassExW(&picture) || !RegisterClassExW(&reap)) {
    std::fprintf(stderr, "tamberlode: cannot register the window classes (error %lu)\n",
                 GetLastError());
    return 2;
  }
  session.reaper = CreateWindowExW(0, kReaperClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   session.instance, nullptr);
  if (!session.reaper) {
    std::fprintf(stderr, "tamberlode: cannot create a window (error %lu)\n", GetLastError());
    return 2;
  }
  session.started = true;
  return 0;
}

int RunLoop() {
  MSG message;
  int result;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    // Tab, Enter, Esc and access keys work in every window of ours as in a
    // dialog box.
    const HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    wchar_t className[32] = L"";
    if (root) GetClassNameW(root, className, 32);
    if (root && std::wcscmp(className, kFormClass) == 0 && IsDialogMessageW(root, &message)) {
      // A key that moved the focus to a control that is no button (the
      // About box's icon) leaves Wine's dialog manager with no button
      // framed; Windows' keeps the frame on the default button.
      if (FormState* state = StateOf(root); state && !state->dead) state->MarkDefault(GetFocus());
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Reap();
  return result < 0 ? 1 : static_cast<int>(message.wParam);
}

void Stop() {
  if (!session.started) return;
  // States of windows unloaded in the last handler are still waiting.
  Reap();
  DestroyWindow(session.reaper);
  session.reaper = nullptr;
  UnregisterClassW(kReaperClass, session.instance);
  UnregisterClassW(kPictureClass, session.instance);
  UnregisterClassW(kFormClass, session.instance);
  session.started = false;
}

void Quit(int status) { PostQuitMessage(status); }

namespace {

bool IsForm(HWND hwnd) {
  wchar_t className[32] = L"";
  return hwnd && GetClassNameW(hwnd, className, 32) && std::wcscmp(className, kFormClass) == 0;
}

// The program's other windows that take input now; the message box turns
// them off while it is up, as a task-modal box does.
BOOL CALLBACK CollectEnabled(HWND hwnd, LPARAM windows) {
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(hwnd);
  }
  return TRUE;
}

// The form the message box belongs to: the active one, else the front-most
// visible form of the program (EnumThreadWindows goes front to back).
BOOL CALLBACK FindFrontForm(HWND hwnd, LPARAM found) {
  if (!IsForm(hwnd) || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

}  // namespace

void MessageBox(const std::string& prompt) {
  // The box is owned by the active form: when it closes, that form is
  // active again and the focus is back where it was (an ownerless box
  // leaves no window active, and Esc and Enter go nowhere).
  HWND owner = GetActiveWindow();
  if (!IsForm(owner)) {
    owner = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindFrontForm, reinterpret_cast<LPARAM>(&owner));
  }
  const HWND focus = GetFocus();
  std::vector<HWND> others;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&others));
  std::erase(others, owner);
  for (HWND window : others) EnableWindow(window, FALSE);
  MessageBoxW(owner, Wide(prompt).c_str(), Wide(identity::kTitle).c_str(),
              MB_OK | (owner ? MB_APPLMODAL : MB_TASKMODAL));
  for (HWND window : others) {
    if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  if (owner && IsWindow(owner)) {
    SetActiveWindow(owner);
    if (focus && IsWindow(focus) && IsChild(owner, focus) && IsWindowVisible(focus)) {
      SetFocus(focus);
    }
  }
}

void PaintPending() {
  MSG message;
  // The user's keys and clicks (the title bar's close button too) that came
  // meanwhile are dropped, not queued to run after the waiting handler.
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
  }
  // Then painting (WM_PAINT, which sends WM_NCPAINT and WM_ERASEBKGND);
  // timers and posted messages wait for the loop, so no handler runs here.
  // Bounded, should a window leave its update region invalid.
  for (int i = 0; i < 256 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT); ++i)
    DispatchMessageW(&message);
}

void SetBusy(bool busy) {
  session.busy = busy;
  // At once where the pointer is over a window of ours; elsewhere the next
  // WM_SETCURSOR does it.
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
}

std::optional<SystemCause> TakeFailure() { return std::exchange(lastFailure, std::nullopt); }

}  // namespace tk::backend
