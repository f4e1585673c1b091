// Free-space figures too wide for the design's result box, on the Win32
// backend: the whole figure shows, its box grows to the right and the window
// with it; figures that fit keep the design's layout. Leaves a picture of
// each window (BMP, turned into PNG by the Wine run) for review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "report/form2.h"
#include "toolkit/references.h"
#include "toolkit/toolkit.h"
#include "toolkit/toolkit_win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

using tk::backend::DevicePixels;

HWND Hwnd(const tk::Form& form) { return static_cast<HWND>(tk::backend::NativeWindow(form)); }

HWND LabelOf(const tk::Form& form, const tk::Label& label) {
  const tk::Rect& r = label.design().rect;
  POINT point{DevicePixels(r.left) + 1, DevicePixels(r.top) + 1};
  return ChildWindowFromPointEx(Hwnd(form), point, CWP_ALL);
}

RECT PlaceOf(HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string TextOf(HWND hwnd) {
  char buffer[256] = "";
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

int TextWidth(HWND label) {
  const std::string text = TextOf(label);
  HDC dc = GetDC(label);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return size.cx;
}

// The client area as painted on screen, as a 24-bit BMP.
void SaveClientArea(HWND hwnd, const std::string& name) {
  std::string dir = TAMBERLODE_SCREENSHOT_DIR;
  if (!dir.empty() && dir.front() == '/') dir = "Z:" + dir;  // Wine's drive for the host's root
  CreateDirectoryA(dir.c_str(), nullptr);
  RECT client;
  GetClientRect(hwnd, &client);
  const int width = client.right, height = client.bottom;
  HDC source = GetDC(hwnd);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  GdiFlush();
  const auto stride = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
  const std::uint32_t size = stride * static_cast<std::uint32_t>(height);
  BITMAPFILEHEADER file{0x4D42, 54 + size, 0, 0, 54};
  if (std::FILE* out = std::fopen((dir + "/" + name).c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, 1, size, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwnd, source);
}

struct Volume {
  std::int32_t sectorsPerCluster, bytesPerSector, freeClusters;
};

TEST(Win32WideFigures, TheWholeFigureShowsAndOnlyItsBoxAndTheWindowGrow) {
  struct Case {
    Volume volume;
    const char* figure;
  };
  const Case cases[] = {
      {{8, 512, 1000000}, "3906MB"},
      {{2048, 512, 999999}, "999999MB"},  // 1 MiB clusters: the figure is the count
      {{2048, 512, 16660147}, "16660147MB"},
      {{2048, 512, 104126418}, "104126418MB"},
      {{2048, 512, 2147483647}, "2147483647MB"},
      {{65536, 32768, 2147483647}, "4398046509056MB"},
  };
  Form2& form = tk::Use<Form2>();
  Volume c{};
  form.freeSpaceQuery = [&c](const std::string& root, std::int32_t& spc, std::int32_t& bps,
                             std::int32_t& nfc, std::int32_t& tnc) -> std::int32_t {
    if (root.front() != 'c') return 0;
    spc = c.sectorsPerCluster, bps = c.bytesPerSector, nfc = c.freeClusters, tnc = nfc;
    return 1;
  };
  const tk::Rect design = form.lbl1.design().rect;
  const int designWidth = DevicePixels(design.width);
  const int windowWidth = DevicePixels(3900);
  const int margin = windowWidth - DevicePixels(design.left) - designWidth;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.figure);
    c = k.volume;
    form.Show();
    tk::backend::ProcessPendingMessages();
    const HWND label = LabelOf(form, form.lbl1);
    ASSERT_EQ(TextOf(label), k.figure);
    const RECT place = PlaceOf(label);
    RECT client;
    GetClientRect(Hwnd(form), &client);
    const int text = TextWidth(label);
    EXPECT_LE(text, place.right - place.left) << "the figure is cut";
    EXPECT_EQ(place.left, DevicePixels(design.left));
    EXPECT_EQ(place.top, DevicePixels(design.top));
    EXPECT_EQ(place.bottom - place.top, DevicePixels(design.height));
    EXPECT_LE(place.right, client.right) << "the box sticks out";
    if (text <= designWidth) {
      EXPECT_EQ(place.right - place.left, designWidth) << "a figure that fits keeps its box";
      EXPECT_EQ(client.right, windowWidth);
    } else {
      EXPECT_GE(client.right - place.right, margin) << "the design's margin on the right";
    }
    const RECT other = PlaceOf(LabelOf(form, form.lbl2));
    EXPECT_EQ(other.right - other.left, designWidth) << "the other lines keep their boxes";
    InvalidateRect(Hwnd(form), nullptr, TRUE);
    UpdateWindow(Hwnd(form));
    SaveClientArea(Hwnd(form), "win-figure-" + std::to_string(std::string(k.figure).size() - 2) +
                                   "-digits.bmp");
    form.Unload();
    tk::backend::ProcessPendingMessages();
  }
}

}  // namespace
