// The Win32 backend of the toolkit layer: user32 and gdi32 only.
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
// After <windows.h>, which it needs.
#include <oleacc.h>
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
#include "toolkit/backend.h"
#include "win32/bind.h"
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
};
Session session;

using win32::Utf8;
using win32::Wide;

COLORREF ToColorRef(const Color& color) {
  if (color.kind == Color::Kind::Rgb) return RGB(color.red, color.green, color.blue);
  return GetSysColor(color.systemIndex);
}

// A system colour as the user's scheme has it now.
Color SystemRgb(int systemIndex) {
  const COLORREF colour = GetSysColor(systemIndex);
  return Rgb(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

int FontHeight(double points) {
  return -static_cast<int>(std::lround(points * session.dpi / 72.0));
}

// `height` as CreateFont takes it: negative for the em height in pixels.
HFONT MakeFontOfHeight(const Font& font, int height) {
  return CreateFontW(height, 0, 0, 0, font.weight, font.italic, font.underline, FALSE,
                     static_cast<BYTE>(font.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(font.name).c_str());
}

HFONT MakeFont(const Font& font) { return MakeFontOfHeight(font, FontHeight(font.points)); }

// One text of a window as its control lays it out, for fitting the fonts.
struct BoxedText {
  HWND control;
  Font font;
  std::wstring text;
  int width, height;  // pixels the text may use
  UINT format;        // DrawText flags of the control
};

// A push button draws its caption inside 2 pixels of edge and 1 of room for
// the focus mark on each side (at 96 DPI).
int ButtonInset() { return MulDiv(3, session.dpi, 96); }

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

// One image of an .ico file: the directory entry's size and where its
// bitmap data lies in the file.
struct IcoImage {
  int width = 0, height = 0, bitCount = 0;
  std::size_t offset = 0, size = 0;
};

std::uint16_t Read16(Picture bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
std::uint32_t Read32(Picture bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Read16(bytes, at)) |
         (static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16);
}

std::vector<IcoImage> IcoImages(Picture ico) {
  std::vector<IcoImage> images;
  if (ico.size() < 6 || Read16(ico, 0) != 0 || Read16(ico, 2) != 1) return images;
  const int count = Read16(ico, 4);
  for (int i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    if (entry + 16 > ico.size()) break;
    IcoImage image;
    image.width = ico[entry] == 0 ? 256 : ico[entry];
    image.height = ico[entry + 1] == 0 ? 256 : ico[entry + 1];
    const int colours = ico[entry + 2];
    image.bitCount = Read16(ico, entry + 6);
    if (image.bitCount == 0) image.bitCount = colours == 2 ? 1 : colours == 16 ? 4 : 8;
    image.size = Read32(ico, entry + 8);
    image.offset = Read32(ico, entry + 12);
    if (image.offset + image.size > ico.size()) continue;
    images.push_back(image);
  }
  return images;
}

// The image of `size` pixels with the most colours, at most `maxBits` deep.
HICON IconFromIco(Picture ico, int size, int maxBits) {
  const IcoImage* best = nullptr;
  const std::vector<IcoImage> images = IcoImages(ico);
  for (const IcoImage& image : images) {
    if (image.width != size || image.height != size || image.bitCount > maxBits) continue;
    if (!best || image.bitCount > best->bitCount) best = &image;
  }
  if (!best) return nullptr;
  auto* data = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(ico.data() + best->offset));
  return CreateIconFromResourceEx(data, static_cast<DWORD>(best->size), TRUE, 0x00030000, size,
                                  size, LR_DEFAULTCOLOR);
}

// The program icon: resource 1 of the executable (from the .rc), else the
// embedded .ico (test executables carry no resources).
HICON ProgramIcon(int size) {
  auto icon = static_cast<HICON>(
      LoadImageW(session.instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  return icon ? icon : IconFromIco(identity::IconIco(), size, 32);
}

// A picture box: the BMP or the 32x32 16-colour icon image, unscaled from
// the top-left, clipped by the child window.
struct PictureState {
  Picture bmp{};
  HICON icon = nullptr;
  HBRUSH back = nullptr;
  ~PictureState() {
    if (icon) DestroyIcon(icon);
    if (back) DeleteObject(back);
  }
};

void PaintBmp(HDC dc, Picture bmp) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return;
  const std::uint32_t bitsOffset = Read32(bmp, 10);
  if (bitsOffset >= bmp.size()) return;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + 14);
  BITMAPINFOHEADER header;
  std::memcpy(&header, bmp.data() + 14, sizeof header);
  const DWORD height = static_cast<DWORD>(std::abs(header.biHeight));
  SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(header.biWidth), height, 0, 0, 0, height,
                    bmp.data() + bitsOffset, info, DIB_RGB_COLORS);
}

void PaintPicture(HWND hwnd, HDC dc, const PictureState& state) {
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, state.back);
  if (state.icon) {
    DrawIconEx(dc, 0, 0, state.icon, 32, 32, 0, nullptr, DI_NORMAL);
  } else {
    PaintBmp(dc, state.bmp);
  }
  // The focus mark of the native controls, where the window shows them.
  if (GetFocus() == hwnd && !(SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
    DrawFocusRect(dc, &client);
  }
}

// What screen readers need, bound by name when the first one asks: a program
// that never meets one loads none of it.
win32::Bound<decltype(&CoInitializeEx)> coInitializeEx{"ole32.dll", "CoInitializeEx"};
win32::Bound<decltype(&SysAllocString)> sysAllocString{"oleaut32.dll", "SysAllocString"};
win32::Bound<decltype(&CreateStdAccessibleObject)> createStdAccessibleObject{
    "oleacc.dll", "CreateStdAccessibleObject"};
win32::Bound<decltype(&LresultFromObject)> lresultFromObject{"oleacc.dll", "LresultFromObject"};

// A picture box as screen readers see it: the standard object of its window,
// but an image, named by the window's text (what the picture shows).
// Interface ids by __uuidof: the import library's IID_IAccessible is a stub's
// address, not the id.
class PictureReader final : public IAccessible {
 public:
  PictureReader(HWND hwnd, IAccessible* standard) : hwnd_(hwnd), standard_(standard) {}
  PictureReader(const PictureReader&) = delete;
  PictureReader& operator=(const PictureReader&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IDispatch)) ||
        IsEqualIID(id, __uuidof(IAccessible))) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return standard_->get_accRole(child, role);
    if (!role) return E_POINTER;
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_GRAPHIC;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return standard_->get_accName(child, name);
    if (!name) return E_POINTER;
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd_, text, 512);
    *name = sysAllocString(text).value_or(nullptr);
    return *name ? S_OK : E_OUTOFMEMORY;
  }

  // Everything else as the standard object has it.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return standard_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument) override {
    return standard_->Invoke(member, id, locale, flags, parameters, result, exception, argument);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override {
    return standard_->get_accChild(child, dispatch);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return standard_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return standard_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return standard_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return standard_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return standard_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return standard_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return standard_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~PictureReader() { standard_->Release(); }
  static bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
  }

  HWND hwnd_;
  IAccessible* standard_;
  LONG references_ = 1;
};

// The answer to a screen reader's WM_GETOBJECT for a picture box, 0 if none.
LRESULT PictureAccessible(HWND hwnd, WPARAM wParam) {
  // Screen readers speak COM: the thread joins an apartment when one first asks.
  static const bool com = coInitializeEx(nullptr, COINIT_APARTMENTTHREADED).has_value();
  IAccessible* standard = nullptr;
  if (!com || createStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&standard)) != S_OK) {
    return 0;
  }
  auto* reader = new PictureReader(hwnd, standard);
  const LRESULT result = lresultFromObject(__uuidof(IAccessible), wParam, reader).value_or(0);
  reader->Release();
  return result > 0 ? result : 0;
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
      SendMessageW(button, BM_SETSTYLE, button == marked ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
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
  // Where the system sets a design font in another face than the design's,
  // the font is set smaller, a pixel at a time, until every text of the
  // window in it fits its box: the stand-in faces run wider (the Qt backend
  // scales its open faces for the same reason). The design's own face keeps
  // the design size. Fonts of one name and size shrink together.
  void FitFonts() {
    HDC dc = GetDC(hwnd);
    std::vector<bool> done(texts.size(), false);
    for (std::size_t first = 0; first < texts.size(); ++first) {
      if (done[first]) continue;
      const Font& design = texts[first].font;
      std::vector<const BoxedText*> group;
      for (std::size_t i = first; i < texts.size(); ++i) {
        if (!done[i] && texts[i].font.name == design.name &&
            texts[i].font.points == design.points) {
          group.push_back(&texts[i]);
          done[i] = true;
        }
      }
      const int designHeight = FontHeight(design.points);
      HFONT probe = MakeFont(design);
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
        fonts.push_back(MakeFontOfHeight(text->font, height));
        SendMessageW(text->control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.back()), FALSE);
      }
    }
    ReleaseDC(hwnd, dc);
  }
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
      Dispatch(form, [&form] { form.Form_Close(); });
      return 0;
    }
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

// A caption wider than its label is not clipped: the label grows to the
// right, and its window with it where the label would stick out, keeping the
// design's margin on the right. A caption that fits keeps the design's
// width. Where the label wraps, only its widest word counts.
void FitCaption(HWND label, int designWidth) {
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
  const int width = std::max(designWidth, needed);
  if (width != box.right - box.left) {
    SetWindowPos(label, nullptr, 0, 0, width, box.bottom - box.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const FormState* state = StateOf(window);
  if (!state || !state->form) return;
  const int margin = std::max(0, DevicePixels(state->form->design().clientWidth) -
                                     static_cast<int>(box.left) - designWidth);
  RECT client;
  GetClientRect(window, &client);
  const int room = box.left + width + margin;
  if (client.right >= room) return;
  // Never narrower: the window only grows, by its client area.
  const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  RECT frame{0, 0, room, client.bottom};
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
    if (!SetWindowTextW(hwnd_, Wide(caption).c_str())) return kBackendFailure;
    FitCaption(hwnd_, designWidth_);
    return 0;
  }
  int SetVisible(bool visible) override {
    ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
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
    return SetTimer(hwnd_, id_, static_cast<UINT>(milliseconds), nullptr) ? 0 : kBackendFailure;
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
    return SetWindowTextW(state_->hwnd, Wide(caption).c_str()) ? 0 : kBackendFailure;
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
    const bool isIco = d.picture.size() >= 4 && d.picture[0] == 0 && d.picture[1] == 0 &&
                       d.picture[2] == 1 && d.picture[3] == 0;
    if (isIco)
      data->icon = IconFromIco(d.picture, 32, 4);
    else
      data->bmp = d.picture;
    data->back = CreateSolidBrush(ToColorRef(d.backColor));
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
    if (hwnd) state_->tabOrder.emplace_back(tabIndex, hwnd);
    return hwnd;
  }

  FormState* state_;
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
  if (!hwnd) return nullptr;
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
  // An empty floppy drive fails its query quietly instead of asking.
  SetErrorMode(SEM_FAILCRITICALERRORS);
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

// "C:\..." or a UNC name "\\server\share\..." (also "\\?\" and "\\.\"):
// a path that names one file wherever the program runs. "tool.exe",
// "bin\tool.exe", "\tool.exe" and "C:tool.exe" all depend on the current
// drive or folder.
bool FullyQualified(const std::string& path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

int Launch(const std::string& programPath) {
  // The path is the program itself: never split at spaces, never a shell,
  // and never a name the current folder (or the search path) resolves.
  if (!FullyQualified(programPath)) return kFileNotFound;
  const std::wstring application = Wide(programPath);
  std::wstring commandLine = L"\"" + application + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return kFileNotFound;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
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

std::string FileName(const std::string& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(Wide(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  std::string name;
  do {
    // Normal files only: no folders, hidden or system files.
    constexpr DWORD kExcluded =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((found.dwFileAttributes & kExcluded) == 0) {
      name = Utf8(found.cFileName);
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return name;
}

}  // namespace tk::backend
