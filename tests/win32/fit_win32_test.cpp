// The three windows as the system draws them: every text that a window shows
// when it opens lies inside its box, measured with the face and size the
// system gives each control, at the screen's DPI (scripts/wine-tests.sh runs
// this at 96, 120 and 144 DPI). Prints what it measured. Where the system
// gives the design's own face, the text keeps the design size; only a
// stand-in face may be set smaller, and the test says where that happens.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "toolkit/toolkit.h"
#include "toolkit/toolkit_win32.h"
#include "win32/text.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef CreateWindow
#undef MessageBox

namespace {

using tk::backend::DevicePixels;

using win32::Utf8;
using win32::Wide;

struct Measured {
  std::string face;
  int width = 0, height = 0;  // of the laid-out text
  int oneLine = 0;            // the text's width on one line
  int em = 0;                 // the font's em height in pixels
};

// Lays `text` out as the control does: wrapped at word boundaries within
// `width` pixels, "&" an access-key marker on buttons only.
Measured Measure(HWND control, const std::string& text, int width, bool button) {
  HDC dc = GetDC(control);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  const HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  wchar_t face[LF_FACESIZE] = L"";
  GetTextFaceW(dc, LF_FACESIZE, face);
  LOGFONTW logFont{};
  if (font) GetObjectW(font, sizeof logFont, &logFont);
  RECT rect{0, 0, width, 0};
  const std::wstring wide = Wide(text);
  const UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | (button ? 0 : DT_NOPREFIX);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, format);
  RECT line{0, 0, 0, 0};
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &line, format & ~DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return {Utf8(face), static_cast<int>(rect.right - rect.left),
          static_cast<int>(rect.bottom - rect.top), static_cast<int>(line.right),
          std::abs(static_cast<int>(logFont.lfHeight))};
}

struct BoxSearch {
  RECT want;
  HWND found;
};

BOOL CALLBACK MatchBox(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<BoxSearch*>(data);
  RECT box;
  GetWindowRect(child, &box);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&box), 2);
  if (!EqualRect(&box, &search->want)) return TRUE;
  search->found = child;
  return FALSE;
}

// The native control whose box is exactly `rect`: boxes may overlap (the
// count lies inside the hidden start button).
HWND ChildAt(const tk::Form& form, const tk::Rect& rect) {
  const int left = DevicePixels(rect.left), top = DevicePixels(rect.top);
  BoxSearch search{{left, top, left + DevicePixels(rect.width), top + DevicePixels(rect.height)},
                   nullptr};
  EnumChildWindows(static_cast<HWND>(tk::backend::NativeWindow(form)), MatchBox,
                   reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// A push button draws its caption inside its frame: 2 pixels of edge and
// 1 of room for the focus mark on each side, at 96 DPI.
int ButtonInset() { return MulDiv(3, ScreenDpi(), 96); }

TEST(Win32Fonts, EveryTextFitsItsBoxWithTheFontTheSystemGives) {
  Form1 notice;
  Form2 report;
  frmAbout about;
  std::vector<tk::Form*> forms = {&notice, &report, &about};
  std::printf("  screen DPI %d\n", ScreenDpi());
  int checked = 0;
  for (tk::Form* form : forms) {
    form->Show();
    for (tk::Control* control : form->controls()) {
      std::string text;
      tk::Rect box;
      tk::Font font;
      bool button = false;
      if (const auto* label = dynamic_cast<tk::Label*>(control)) {
        // The result labels' design texts are replaced before anyone sees
        // them; their figures are another matter.
        if (label->design().caption.rfind("sString = ", 0) == 0) continue;
        text = label->Caption();
        box = label->design().rect;
        font = label->design().font.value_or(tk::DefaultFont());
      } else if (const auto* command = dynamic_cast<tk::CommandButton*>(control)) {
        text = command->Caption();
        box = command->design().rect;
        font = command->design().font.value_or(tk::DefaultFont());
        button = true;
      } else {
        continue;
      }
      if (text.empty()) continue;
      const HWND hwnd = ChildAt(*form, box);
      ASSERT_NE(hwnd, nullptr) << "no control in the box of \"" << text << "\"";
      const int inset = button ? ButtonInset() : 0;
      const int width = DevicePixels(box.width) - 2 * inset;
      const int height = DevicePixels(box.height) - 2 * inset;
      const Measured m = Measure(hwnd, text, width, button);
      const int lineHeight = Measure(hwnd, "X", width, button).height;
      // One line may be taller than its box (the box clips the empty part of
      // the cell); more lines must all lie inside.
      const bool fits = m.width <= width && (m.height <= height || m.height == lineHeight);
      const int designEm = static_cast<int>(std::lround(font.points * ScreenDpi() / 72.0));
      const bool ownFace = _stricmp(m.face.c_str(), font.name.c_str()) == 0;
      std::printf("  %-32s %s %2d px (%s): box %3dx%-3d one line %3d, laid out %3dx%-3d %s\n",
                  ("\"" + text + "\"").c_str(), m.face.c_str(), m.em,
                  m.em == designEm ? "design size"
                  : ownFace        ? "SHRUNK in the design's own face"
                                   : ("shrunk: stand-in for " + font.name).c_str(),
                  width, height, m.oneLine, m.width, m.height, fits ? "fits" : "DOES NOT FIT");
      EXPECT_TRUE(fits) << "\"" << text << "\" in " << m.face << ": " << m.width << "x" << m.height
                        << " px in a box of " << width << "x" << height;
      if (ownFace) {
        EXPECT_EQ(m.em, designEm) << "\"" << text << "\": the design's own face " << font.name
                                  << " keeps the design size";
      } else {
        EXPECT_LE(m.em, designEm) << "\"" << text << "\" in the stand-in " << m.face;
      }
      ++checked;
    }
  }
  EXPECT_GE(checked, 17) << "the captions, buttons and About texts were measured";
  for (tk::Form* form : forms) form->Unload();
  tk::backend::ProcessPendingMessages();
}

// One word too wide for its box at any size the shrink may choose.
class TooWide final : public tk::Form {
 public:
  explicit TooWide(const char* face)
      : tk::Form({.caption = "too wide", .clientWidth = 3000, .clientHeight = 1000}),
        word(*this, {.caption = "WWWWWWWWWWWWWWWWWWWW",
                     .rect = {120, 120, 900, 255},
                     .font = tk::Font{.name = face, .points = 8.25}}) {}
  tk::Label word;
};

// The shrink acts for a face the system lacks (Wine sets a stand-in) and
// never for the classic face, whatever the text.
TEST(Win32Fonts, OnlyAStandInFaceIsSetSmaller) {
  const int designEm = static_cast<int>(std::lround(8.25 * ScreenDpi() / 72.0));
  struct Case {
    const char* face;
    bool shrinks;
  };
  for (const Case& c : {Case{"MS Sans Serif", false}, Case{"Tamberlode No Such Face", true}}) {
    TooWide form(c.face);
    form.Show();
    // The form's one control.
    const HWND hwnd = GetWindow(static_cast<HWND>(tk::backend::NativeWindow(form)), GW_CHILD);
    ASSERT_NE(hwnd, nullptr);
    const Measured m = Measure(hwnd, form.word.Caption(), 60, false);
    std::printf("  %s given as %s: %d px, design %d px: %s\n", c.face, m.face.c_str(), m.em,
                designEm, m.em < designEm ? "the shrink acts" : "the shrink does not act");
    if (c.shrinks) {
      EXPECT_LT(m.em, designEm) << c.face << " stands in as " << m.face;
    } else {
      EXPECT_STRCASEEQ(m.face.c_str(), c.face) << "fonts-wine gives the classic face";
      EXPECT_EQ(m.em, designEm) << c.face;
    }
    form.Unload();
  }
  tk::backend::ProcessPendingMessages();
}

}  // namespace
