// The Win32 backend of the toolkit layer, the window glue: the native
// controls and windows behind the layer's, on user32 and gdi32. Beside it:
// the forms' state and window procedure (form_win32.cpp), the picture boxes
// (pictures_win32.cpp), the start, loop and message box (loop_win32.cpp),
// the common ground (session_win32.cpp), the screen readers' view
// (access_win32.cpp), the font fitting (fonts_win32.cpp) and the system
// services (system_win32.cpp).
//
// Texts: the program's strings are UTF-8; this backend hands them to the
// wide (W) functions as UTF-16 and converts what it reads back, so no
// character is lost to the ANSI code page. (The registry and the free-space
// query use the A functions on their own, as their callers expect.)
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

#include "identity/identity.h"
#include "toolkit/backend.h"
#include "toolkit/bitmaps.h"
#include "toolkit/form_win32.h"
#include "toolkit/pictures_win32.h"
#include "toolkit/session_win32.h"
#include "toolkit/toolkit_win32.h"
#include "win32/text.h"

namespace tk::backend {
namespace {

using win32::Utf8;
using win32::Wide;

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

void* NativeWindow(const Form& form) {
  auto* peer = dynamic_cast<WindowPeerWin32*>(form.peer());
  return peer ? peer->hwnd() : nullptr;
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

}  // namespace tk::backend
