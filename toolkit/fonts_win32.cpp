// Fonts of the Win32 backend.
#include "toolkit/fonts_win32.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "win32/text.h"

namespace tk::backend::fonts {
namespace {

using win32::Wide;

int FontHeight(double points, int dpi) {
  return -static_cast<int>(std::lround(points * dpi / 72.0));
}

// `height` as CreateFont takes it: negative for the em height in pixels.
HFONT MakeFontOfHeight(const Font& font, int height) {
  return CreateFontW(height, 0, 0, 0, font.weight, font.italic, font.underline, FALSE,
                     static_cast<BYTE>(font.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(font.name).c_str());
}

// Whether `text` lies inside its box when set in `font`: no wider than the
// box, and no more lines than the box holds (a single line may be taller
// than its box: only the empty part of the cell is cut).
bool Fits(HDC dc, HFONT font, const BoxedText& text) {
  const HGDIOBJ old = SelectObject(dc, font);
  RECT laid{0, 0, text.width, 0};
  DrawTextW(dc, text.text.c_str(), static_cast<int>(text.text.size()), &laid,
            text.format | DT_CALCRECT);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  const int height = laid.bottom - laid.top;
  return laid.right - laid.left <= text.width &&
         (height <= text.height || height <= metrics.tmHeight);
}

// The face the system gives for `font`: on Windows the design's own; under
// Wine "MS Sans Serif" becomes a wider open face.
std::wstring GivenFace(HDC dc, HFONT font) {
  const HGDIOBJ old = SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = L"";
  GetTextFaceW(dc, LF_FACESIZE, face);
  SelectObject(dc, old);
  return face;
}

}  // namespace

HFONT Make(const Font& font, int dpi) {
  return MakeFontOfHeight(font, FontHeight(font.points, dpi));
}

int ButtonInset(int dpi) { return MulDiv(3, dpi, 96); }

void Fit(HWND window, const std::vector<BoxedText>& texts, int dpi, std::vector<HFONT>& made) {
  HDC dc = GetDC(window);
  std::vector<bool> done(texts.size(), false);
  for (std::size_t first = 0; first < texts.size(); ++first) {
    if (done[first]) continue;
    const Font& design = texts[first].font;
    std::vector<const BoxedText*> group;
    for (std::size_t i = first; i < texts.size(); ++i) {
      if (!done[i] && texts[i].font.name == design.name && texts[i].font.points == design.points) {
        group.push_back(&texts[i]);
        done[i] = true;
      }
    }
    const int designHeight = FontHeight(design.points, dpi);
    HFONT probe = Make(design, dpi);
    const bool ownFace = _wcsicmp(GivenFace(dc, probe).c_str(), Wide(design.name).c_str()) == 0;
    DeleteObject(probe);
    if (ownFace) continue;
    // Never below two thirds of the design size: past that a text that
    // still does not fit is better cut than unreadable.
    const int smallest = std::min(-1, designHeight * 2 / 3);
    int height = designHeight;
    for (; height < smallest; ++height) {
      HFONT font = MakeFontOfHeight(design, height);
      const bool all = std::all_of(group.begin(), group.end(),
                                   [&](const BoxedText* text) { return Fits(dc, font, *text); });
      DeleteObject(font);
      if (all) break;
    }
    if (height == designHeight) continue;
    for (const BoxedText* text : group) {
      made.push_back(MakeFontOfHeight(text->font, height));
      SendMessageW(text->control, WM_SETFONT, reinterpret_cast<WPARAM>(made.back()), FALSE);
    }
  }
  ReleaseDC(window, dc);
}

}  // namespace tk::backend::fonts
