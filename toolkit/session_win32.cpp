#include "toolkit/session_win32.h"

#include <optional>
#include <string>
#include <utility>

#include "toolkit/toolkit_win32.h"
#include "win32/text.h"

namespace tk::backend {

Session session;

namespace {

std::optional<SystemCause> lastFailure;

}  // namespace

int Failed(const char* call) {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? win32::Utf8(text) : std::string();
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

Color SystemRgb(int systemIndex) {
  const COLORREF colour = GetSysColor(systemIndex);
  return Rgb(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

HFONT MakeFont(const Font& font) { return fonts::Make(font, session.dpi); }
int ButtonInset() { return fonts::ButtonInset(session.dpi); }

int DevicePixels(int twips) { return MulDiv(twips, session.dpi, 1440); }

LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::optional<SystemCause> TakeFailure() { return std::exchange(lastFailure, std::nullopt); }

}  // namespace tk::backend
