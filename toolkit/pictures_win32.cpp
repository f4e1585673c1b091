#include "toolkit/pictures_win32.h"

#include <optional>

#include "identity/icon.h"
#include "toolkit/access_win32.h"
#include "toolkit/bitmaps.h"

namespace tk::backend {

HICON IconFromIco(Picture ico, int size, int maxBits) {
  const std::optional<bitmaps::IcoImage> best = bitmaps::BestIcoImage(ico, size, maxBits);
  if (!best) return nullptr;
  auto* data = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(best->data.data()));
  return CreateIconFromResourceEx(data, static_cast<DWORD>(best->data.size()), TRUE, 0x00030000,
                                  size, size, LR_DEFAULTCOLOR);
}

HICON ProgramIcon(int size) {
  auto icon = static_cast<HICON>(
      LoadImageW(session.instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  return icon ? icon : IconFromIco(identity::IconIco(), size, 32);
}

namespace {

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

}  // namespace

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

}  // namespace tk::backend
