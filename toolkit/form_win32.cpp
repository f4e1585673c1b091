#include "toolkit/form_win32.h"

namespace tk::backend {
namespace {

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

}  // namespace

FormState* StateOf(HWND hwnd) {
  return reinterpret_cast<FormState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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

void Reap() {
  MSG message;
  while (session.reaper &&
         PeekMessageW(&message, session.reaper, kReapMessage, kReapMessage, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

}  // namespace tk::backend
