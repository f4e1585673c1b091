// Start-up and shut-down of Tamberlode.exe against the smallest Win32
// program with one window (startup_empty_win32.cpp), both started from here
// under one warm wineserver, in alternating runs:
//   start:  from CreateProcess to the first window painted (visible, with no
//           part of it left to paint), for Tamberlode.exe its start notice;
//   report: Tamberlode.exe only, from the press of the notice's "Start the
//           Application" to the report window painted, its survey done;
//           set against the empty program's start, a window painted;
//   exit:   from the press of Exit (Tamberlode.exe: the report window's Exit
//           button; the empty program: its close box) to the end of the
//           process.
// Prints each run and the medians and their ratios.
// Usage: wine_startup.exe TAMBERLODE_EXE EMPTY_EXE [RUNS]
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Polls every millisecond, for at most `seconds`, until `found` gives a window.
template <class Find>
HWND WaitFor(Find found, double seconds) {
  const double until = Now() + seconds;
  while (Now() < until) {
    if (HWND hwnd = found()) return hwnd;
    Sleep(1);
  }
  return nullptr;
}

// A visible top-level window of `process` titled `title`, painted in full.
HWND Painted(DWORD process, const wchar_t* title) {
  HWND hwnd = FindWindowW(nullptr, title);
  DWORD owner = 0;
  if (hwnd == nullptr || !IsWindowVisible(hwnd)) return nullptr;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != process || GetUpdateRect(hwnd, nullptr, FALSE)) return nullptr;
  return hwnd;
}

HWND VisibleButton(HWND parent, const wchar_t* caption) {
  HWND button = FindWindowExW(parent, nullptr, L"Button", caption);
  return button != nullptr && IsWindowVisible(button) ? button : nullptr;
}

struct Run {
  double start = 0, report = 0, exit = 0;
};

bool Measure(const std::wstring& exe, bool tamberlode, Run& run) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + exe + L"\"";
  const double started = Now();
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  const DWORD id = process.dwProcessId;
  const wchar_t* title = tamberlode ? L"Tamberlode v0.1a" : L"Empty window";
  HWND window = WaitFor([&] { return Painted(id, title); }, 30);
  run.start = Now() - started;
  bool ok = window != nullptr;
  if (ok && tamberlode) {
    // The notice's button shows when its count is down; the report window
    // then holds Exit.
    HWND start = WaitFor([&] { return VisibleButton(window, L"Start the Application"); }, 15);
    const double clicked = Now();
    if (start) PostMessageW(start, BM_CLICK, 0, 0);
    HWND report = WaitFor([&] { return Painted(id, L"Free Space on Drives A: to I:"); }, 30);
    run.report = Now() - clicked;
    HWND exit = report ? WaitFor([&] { return VisibleButton(report, L"Exit"); }, 5) : nullptr;
    ok = exit != nullptr;
    window = exit;
  }
  const double pressed = Now();
  if (ok) PostMessageW(window, tamberlode ? BM_CLICK : WM_CLOSE, 0, 0);
  ok = ok && WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  run.exit = Now() - pressed;
  if (!ok) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ok;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring Wide(const char* text) {
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  wide.pop_back();
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wine_startup.exe TAMBERLODE_EXE EMPTY_EXE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  const std::wstring programs[2] = {Wide(argv[1]), Wide(argv[2])};
  std::vector<double> start[2], report, exit[2];
  // One run of each first, unmeasured: the server and the files warm up.
  for (int i = -2; i < 2 * runs; ++i) {
    const int which = (i + 2) % 2;  // 0 Tamberlode.exe, 1 the empty program, in turn
    Run run;
    if (!Measure(programs[which], which == 0, run)) {
      std::fprintf(stderr, "run %d of %s failed\n", i, which == 0 ? "Tamberlode.exe" : "empty");
      return 1;
    }
    if (i < 0) continue;
    std::printf("%-14s start %7.1f ms  report %7.1f ms  exit %7.1f ms\n",
                which == 0 ? "Tamberlode.exe" : "empty", run.start * 1000, run.report * 1000,
                run.exit * 1000);
    start[which].push_back(run.start);
    if (which == 0) report.push_back(run.report);
    exit[which].push_back(run.exit);
  }
  const double s0 = Median(start[0]), s1 = Median(start[1]);
  const double e0 = Median(exit[0]), e1 = Median(exit[1]);
  const double r0 = Median(report);
  std::printf("median start: Tamberlode.exe %.1f ms, empty %.1f ms, ratio %.2f\n", s0 * 1000,
              s1 * 1000, s0 / s1);
  std::printf("median report: Tamberlode.exe %.1f ms, empty (its start) %.1f ms, ratio %.2f\n",
              r0 * 1000, s1 * 1000, r0 / s1);
  std::printf("median exit:  Tamberlode.exe %.1f ms, empty %.1f ms, ratio %.2f\n", e0 * 1000,
              e1 * 1000, e0 / e1);
  return 0;
}
