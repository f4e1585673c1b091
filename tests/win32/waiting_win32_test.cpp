// The report window while its survey waits for a slow volume, on the Win32
// backend: it repaints (an uncovered window shows again on the X screen
// mid-wait), and the clicks and close requests that come meanwhile run
// nothing, neither inside the survey nor after it. Leaves pictures (BMP).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "tests/scripted_query.h"
#include "toolkit/references.h"
#include "toolkit/toolkit_win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tk::backend::DevicePixels;

HWND Hwnd(const tk::Form& form) { return static_cast<HWND>(tk::backend::NativeWindow(form)); }

template <class Control>
HWND ChildOf(const tk::Form& form, const Control& control) {
  const tk::Rect& r = control.design().rect;
  POINT point{DevicePixels(r.left) + 1, DevicePixels(r.top) + 1};
  return ChildWindowFromPointEx(Hwnd(form), point, CWP_ALL);
}

void Pump(std::chrono::milliseconds length) {
  const auto start = Clock::now();
  do {
    tk::backend::ProcessPendingMessages();
    std::this_thread::sleep_for(10ms);
  } while (Clock::now() - start < length);
}

// Clicks as a user does, through the system's input queue.
void Click(HWND window, int times) {
  RECT r;
  GetWindowRect(window, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  std::vector<INPUT> inputs;
  for (int i = 0; i < times; ++i) {
    for (const DWORD flags : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
      INPUT input{};
      input.type = INPUT_MOUSE;
      input.mi.dwFlags = flags;
      inputs.push_back(input);
    }
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

constexpr char kImport[] = "Z:\\usr\\bin\\import";

// A window's area as the X server shows it, read by ImageMagick's import on
// the host: what Wine has really put on the screen, not its own copy of the
// window. Saved as a BMP for review; the pixels are 24-bit.
std::vector<std::uint8_t> Screen(HWND window, const std::string& name) {
  RECT r;
  GetWindowRect(window, &r);
  std::string dir = TAMBERLODE_SCREENSHOT_DIR;
  const std::string file = dir + "/" + name;
  if (!dir.empty() && dir.front() == '/') dir = "Z:" + dir;  // Wine's drive for the host's root
  CreateDirectoryA(dir.c_str(), nullptr);
  DeleteFileA((dir + "/" + name).c_str());
  std::string command = std::string(kImport) + " -window root -crop " +
                        std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) +
                        "+" + std::to_string(r.left) + "+" + std::to_string(r.top) +
                        " -type TrueColor bmp3:" + file;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command;
    return {};
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine gives no handle to wait on for a host program: the picture is
  // there when the file has its full size.
  const int width = r.right - r.left, height = r.bottom - r.top;
  const auto size = static_cast<std::size_t>((width * 3 + 3) & ~3) * height;
  std::vector<std::uint8_t> pixels;
  for (int tries = 0; tries < 200 && pixels.size() != size; ++tries) {
    std::this_thread::sleep_for(50ms);
    pixels.clear();
    if (std::FILE* in = std::fopen((dir + "/" + name).c_str(), "rb")) {
      std::uint8_t header[54];
      if (std::fread(header, 1, sizeof header, in) == sizeof header) {
        for (int c; (c = std::fgetc(in)) != EOF;) pixels.push_back(static_cast<std::uint8_t>(c));
      }
      std::fclose(in);
    }
  }
  return pixels;
}

double WhiteShare(const std::vector<std::uint8_t>& pixels) {
  std::size_t white = 0;
  for (std::uint8_t byte : pixels) white += byte == 255;
  return pixels.empty() ? 0 : static_cast<double>(white) / static_cast<double>(pixels.size());
}

TEST(Win32ReportWindowWaiting, RepaintsAndDropsTheClicksThatComeMeanwhile) {
  if (GetFileAttributesA(kImport) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "needs ImageMagick's import on the host to read the screen";
  }
  Form1& notice = tk::Use<Form1>();  // hidden, its Timer1 ticking all along
  notice.Show();
  notice.Hide();
  Form2& form = tk::Use<Form2>();
  testing_survey::ScriptedQuery drives;
  drives.answers = {{'c', {8, 512, 1000000, 2000000}}};  // 3906MB, then 625MB
  form.freeSpaceQuery = drives.Query();
  form.Show();
  const HWND window = Hwnd(form);
  const HWND refresh = ChildOf(form, form.Command1);
  RECT place;
  GetWindowRect(window, &place);

  // A black window over the report, taken away while the survey waits.
  const HWND cover = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | SS_BLACKRECT,
                                     place.left, place.top, place.right - place.left,
                                     place.bottom - place.top, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(cover);
  ShowWindow(cover, SW_SHOWNOACTIVATE);
  Pump(300ms);
  ASSERT_LT(WhiteShare(Screen(window, "report-covered.bmp")), 0.01) << "the cover is not over it";

  drives.answers['c'].freeClusters = 160000;
  bool slow = true, clickAtEnd = true;
  std::string countBefore, countAfter;
  std::thread closer;  // another program asking the window to close
  double white = 0;
  drives.onCall = [&](const survey::WhileWaiting& whileWaiting) {
    const char drive = drives.calls.back().drive;
    if (drive == 'i' && clickAtEnd) {
      clickAtEnd = false;
      Click(refresh, 1);  // still queued when the survey ends
      std::this_thread::sleep_for(300ms);
    }
    if (drive != 'd' || !slow) return;
    slow = false;
    countBefore = notice.Label1.Caption();
    testing_survey::SlowVolume(1500ms, whileWaiting, [&](std::chrono::milliseconds elapsed) {
      if (elapsed == 0ms) ShowWindow(cover, SW_HIDE);
      if (elapsed >= 300ms && elapsed < 300ms + testing_survey::kSlice) {
        Click(refresh, 5);
        closer = std::thread([window] { SendMessageW(window, WM_CLOSE, 0, 0); });
      }
    });
    countAfter = notice.Label1.Caption();
    white = WhiteShare(Screen(window, "report-mid-wait.bmp"));
  };
  SendMessageW(refresh, BM_CLICK, 0, 0);
  Pump(500ms);
  closer.join();
  EXPECT_EQ(drives.calls.size(), 18u) << "a click during the survey ran another one";
  EXPECT_TRUE(form.Visible()) << "a close request during the survey closed the window";
  EXPECT_GT(white, 0.5) << "the uncovered window was not repainted during the wait";
  EXPECT_EQ(countAfter, countBefore) << "the notice's timer ran inside the survey";

  // After the survey, clicks and the timer work again.
  Click(refresh, 1);
  Pump(1200ms);
  EXPECT_EQ(drives.calls.size(), 27u) << "a click after the survey ran no survey";
  EXPECT_NE(notice.Label1.Caption(), countAfter);

  DestroyWindow(cover);
  for (tk::Form* f : std::initializer_list<tk::Form*>{&notice, &form, &tk::Use<frmAbout>()})
    f->Unload();
  tk::backend::ProcessPendingMessages();
}

// Each caption write that reaches a result label, and whether the label
// could paint it at once (a static control draws its new text right away
// while it is visible).
struct CaptionWrite {
  HWND label;
  bool couldPaint;
};
std::vector<CaptionWrite> captionWrites;
std::map<HWND, WNDPROC> labelProcs;

LRESULT CALLBACK NotingLabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) captionWrites.push_back({hwnd, IsWindowVisible(hwnd) != FALSE});
  return CallWindowProcW(labelProcs.at(hwnd), hwnd, message, wParam, lParam);
}

std::string Text(HWND window) {
  wchar_t text[64] = {};
  GetWindowTextW(window, text, 64);
  return std::string(text, text + wcslen(text));  // the results are ASCII
}

// A Refresh with a volume that answers in 3 s: in the middle of the wait
// the labels still hold the figures from before, under the busy cursor; at
// the end each label is written once, while the window's painting is held,
// so the nine change in one repaint and no half-done state reaches the
// screen.
TEST(Win32ReportWindowWaiting, ShowsTheFiguresFromBeforeUntilAllTheNewOnesAreIn) {
  Form2& form = tk::Use<Form2>();
  testing_survey::ScriptedQuery drives;
  drives.answers = {{'c', {8, 512, 1000000, 2000000}}};  // 3906MB
  form.freeSpaceQuery = drives.Query();
  form.Show();
  Pump(200ms);
  std::vector<HWND> labels;
  for (const tk::Label* label : {&form.lbla, &form.lblb, &form.lbl1, &form.lbl2, &form.lbl3,
                                 &form.lbl4, &form.lbl5, &form.lbl6, &form.lbl7})
    labels.push_back(ChildOf(form, *label));
  const auto texts = [&labels] {
    std::vector<std::string> all;
    for (const HWND label : labels) all.push_back(Text(label));
    return all;
  };
  const std::vector<std::string> before = texts();
  ASSERT_EQ(before[2], "3906MB");
  for (const HWND label : labels) {
    labelProcs[label] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NotingLabelProc)));
  }
  captionWrites.clear();

  drives.answers = {{'a', {1, 512, 2847, 2880}}, {'c', {8, 512, 160000, 1}}};
  std::vector<std::string> midWait;
  bool busyMidWait = false;
  drives.onCall = [&](const survey::WhileWaiting& whileWaiting) {
    if (drives.calls.back().drive != 'd') return;
    testing_survey::SlowVolume(3000ms, whileWaiting, [&](std::chrono::milliseconds elapsed) {
      if (elapsed < 1500ms || !midWait.empty()) return;
      midWait = texts();
      busyMidWait = GetCursor() == LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_WAIT
    });
  };
  SendMessageW(ChildOf(form, form.Command1), BM_CLICK, 0, 0);
  Pump(200ms);

  EXPECT_EQ(midWait, before) << "a label changed before the survey's answer was in";
  EXPECT_TRUE(busyMidWait) << "no busy cursor during the wait";
  EXPECT_NE(GetCursor(), LoadCursorW(nullptr, MAKEINTRESOURCEW(32514))) << "the busy cursor stayed";
  EXPECT_EQ(texts(), (std::vector<std::string>{"1.39MB", "n/a", "625MB", "n/a", "n/a", "n/a", "n/a",
                                               "n/a", "n/a"}));
  EXPECT_EQ(captionWrites.size(), labels.size()) << "each label is written once, with its result";
  for (const CaptionWrite& write : captionWrites)
    EXPECT_FALSE(write.couldPaint) << "a label painted its figure before the others were set";

  for (const HWND label : labels)
    SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(labelProcs.at(label)));
  labelProcs.clear();
  form.Unload();
  tk::Use<Form1>().Unload();
  tk::backend::ProcessPendingMessages();
}

}  // namespace
