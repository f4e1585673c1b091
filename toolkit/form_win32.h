// A form in the Win32 backend: the state one loaded window keeps, its
// window procedure (painting its lines, dispatching its controls' events,
// the keys of a dialog box), and the reaper that deletes the state of an
// unloaded window once its handler has returned.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/pictures_win32.h"
#include "toolkit/session_win32.h"
#include "toolkit/toolkit_win32.h"
#include "win32/text.h"

namespace tk::backend {

// Control ids start above IDOK, IDCANCEL and the other dialog ids, so the
// dialog manager's IDOK/IDCANCEL commands never name a control.
constexpr int kFirstControlId = 100;

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
  std::vector<fonts::BoxedText> texts;  // the design texts, fitted once all controls exist

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
    texts.push_back({control, font.value_or(DefaultFont()), win32::Wide(text),
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

FormState* StateOf(HWND hwnd);
LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ReaperProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Deletes the states of unloaded windows whose delete message is waiting.
void Reap();

}  // namespace tk::backend
