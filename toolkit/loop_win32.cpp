// The Win32 backend's start, message loop and end, the message box, and a
// waiting handler's painting without input.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "identity/identity.h"
#include "toolkit/form_win32.h"
#include "toolkit/pictures_win32.h"
#include "toolkit/session_win32.h"
#include "win32/text.h"

namespace tk::backend {

using win32::Wide;

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;  // no loop runs here to end
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
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

}  // namespace tk::backend
