// The Win32 backend: native windows and controls made from the designs,
// keys as in a dialog box, unloading inside a window's own handler, timers,
// pictures and the services.
#include "toolkit/toolkit_win32.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "identity/icon.h"
#include "notice/pictures.h"
#include "toolkit/toolkit.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, which it needs.
#include <oleacc.h>
#undef CreateWindow
#undef MessageBox

namespace {

using tk::backend::DevicePixels;

class TestForm final : public tk::Form {
 public:
  explicit TestForm(tk::Frame frame = tk::Frame::Sizable, bool withCancel = true)
      : tk::Form({.caption = "Größe – test",
                  .backColor = tk::kWhite,
                  .clientWidth = 3900,
                  .clientHeight = 2745,
                  .frame = frame,
                  .left = 225,
                  .top = 510}),
        ok(*this,
           {.caption = "OK",
            .rect = {1365, 2100, 1260, 345},
            .tabIndex = 2,
            .isDefault = true,
            .cancel = withCancel},
           &TestForm::OkClick) {}

  // clang-format off
  tk::Label left{*this, {.caption = "Left & more", .rect = {120, 120, 2415, 255}, .tabIndex = 4}};
  tk::Label right{*this, {.caption = "Right", .rect = {120, 360, 2415, 255}, .tabIndex = 5, .alignment = tk::Alignment::Right}};
  tk::Label big{*this, {.caption = "5", .rect = {1800, 600, 375, 495}, .tabIndex = 6, .alignment = tk::Alignment::Center,
                        .font = tk::Font{.name = "Comic Sans MS", .points = 21.75, .underline = true},
                        .foreColor = tk::Rgb(0, 0, 192)}};
  tk::CommandButton other{*this, {.caption = "&Other", .rect = {120, 2400, 855, 255}, .tabIndex = 0}, &TestForm::OtherClick};
  tk::PictureBox picture{*this, {.rect = {360, 1200, 3255, 375}, .tabIndex = 1, .picture = notice::BannerBmp(), .description = "the banner"}};
  tk::PictureBox icon{*this, {.rect = {240, 1680, 480, 480}, .tabIndex = 3, .picture = identity::IconIco()}};
  tk::Timer timer{*this, {.interval = 0}, &TestForm::Tick};
  tk::Line grey{*this, {.x1 = 0, .y1 = 1140, .x2 = 3900, .y2 = 1140, .color = tk::Rgb(128, 128, 128), .width = 1}};
  tk::Line white{*this, {.x1 = 1950, .y1 = 1050, .x2 = 1950, .y2 = 1185, .color = tk::Rgb(255, 0, 0), .width = 2}};
  // clang-format on
  tk::CommandButton ok;

  // Unloads while the controls still exist: Form's own destructor runs
  // after they are gone.
  ~TestForm() override { Unload(); }

  void OkClick() {
    ++okClicks;
    if (unloadOnOk) {
      Unload();
      // The handler goes on after its own window is gone.
      stillRunningAfterUnload = !Loaded();
    }
  }
  void OtherClick() { ++otherClicks; }
  void Tick() { ++ticks; }

  int okClicks = 0, otherClicks = 0, ticks = 0;
  bool unloadOnOk = false, stillRunningAfterUnload = false;
};

HWND Hwnd(const tk::Form& form) { return static_cast<HWND>(tk::backend::NativeWindow(form)); }

// The native child of `form` at design position `rect` (twips).
HWND ChildAt(const tk::Form& form, const tk::Rect& rect) {
  POINT point{DevicePixels(rect.left) + 1, DevicePixels(rect.top) + 1};
  return ChildWindowFromPointEx(Hwnd(form), point, CWP_ALL);
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = L"";
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[64] = L"";
  GetClassNameW(hwnd, buffer, 64);
  return buffer;
}

RECT ClientRectOf(HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Feeds one key press to the window as the program's message loop does.
void PressKey(HWND window, WPARAM key) {
  MSG message{GetFocus() ? GetFocus() : window, WM_KEYDOWN, key, 0, 0, {}};
  ASSERT_TRUE(IsDialogMessageW(window, &message)) << "the dialog manager ignored key " << key;
  tk::backend::ProcessPendingMessages();
}

class Win32Backend : public testing::Test {
 protected:
  void TearDown() override {
    tk::backend::ProcessPendingMessages();
    tk::SetUnhandledErrorHandler(nullptr);
  }
};

TEST_F(Win32Backend, FramesHoldTheDesignClientArea) {
  struct Case {
    tk::Frame frame;
    DWORD wanted, unwanted, exWanted;
  };
  const Case cases[] = {
      {tk::Frame::Sizable, WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU, 0, 0},
      {tk::Frame::FixedDialog, WS_CAPTION | WS_SYSMENU,
       WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, WS_EX_DLGMODALFRAME},
  };
  for (const Case& c : cases) {
    TestForm form(c.frame);
    form.Show();
    const HWND hwnd = Hwnd(form);
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, DevicePixels(3900));
    EXPECT_EQ(client.bottom, DevicePixels(2745));
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    EXPECT_EQ(origin.x, DevicePixels(225));
    EXPECT_EQ(origin.y, DevicePixels(510));
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ(style & c.wanted, c.wanted);
    EXPECT_EQ(style & c.unwanted, 0u);
    EXPECT_EQ(exStyle & c.exWanted, c.exWanted);
    EXPECT_EQ(TextOf(hwnd), L"Größe – test");
    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0) << "no window icon";
    form.Unload();
    EXPECT_FALSE(IsWindow(hwnd));
  }
}

TEST_F(Win32Backend, ControlsAreNativeAtTheirDesignPlaces) {
  TestForm form;
  form.Show();
  struct Case {
    const char* name;
    tk::Rect rect;
    const wchar_t* windowClass;
    const wchar_t* text;
    DWORD style, styleMask;
  };
  const Case cases[] = {
      {"left label", form.left.design().rect, L"Static", L"Left & more", SS_LEFT | SS_NOPREFIX,
       SS_TYPEMASK | SS_NOPREFIX},
      {"right label", form.right.design().rect, L"Static", L"Right", SS_RIGHT, SS_TYPEMASK},
      {"centred label", form.big.design().rect, L"Static", L"5", SS_CENTER, SS_TYPEMASK},
      {"default button", form.ok.design().rect, L"Button", L"OK",
       BS_DEFPUSHBUTTON | BS_MULTILINE | WS_TABSTOP, BS_TYPEMASK | BS_MULTILINE | WS_TABSTOP},
      {"plain button", form.other.design().rect, L"Button", L"&Other",
       BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP, BS_TYPEMASK | BS_MULTILINE | WS_TABSTOP},
      {"picture box", form.picture.design().rect, L"TamberlodePicture", L"the banner", WS_TABSTOP,
       WS_TABSTOP},
  };
  for (const Case& c : cases) {
    const HWND child = ChildAt(form, c.rect);
    ASSERT_NE(child, Hwnd(form)) << c.name << ": nothing there";
    EXPECT_EQ(ClassOf(child), c.windowClass) << c.name;
    EXPECT_EQ(TextOf(child), c.text) << c.name;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    // The focus logic may have moved the default mark; compare the rest.
    const DWORD mask = c.styleMask & ~static_cast<DWORD>(BS_DEFPUSHBUTTON);
    EXPECT_EQ(style & mask, c.style & mask) << c.name;
    const RECT rect = ClientRectOf(child);
    EXPECT_EQ(rect.left, DevicePixels(c.rect.left)) << c.name;
    EXPECT_EQ(rect.top, DevicePixels(c.rect.top)) << c.name;
    EXPECT_EQ(rect.right - rect.left, DevicePixels(c.rect.width)) << c.name;
    EXPECT_EQ(rect.bottom - rect.top, DevicePixels(c.rect.height)) << c.name;
  }
}

TEST_F(Win32Backend, FontsComeFromTheDesignAtTheSystemDpi) {
  TestForm form;
  form.Show();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  struct Case {
    const char* name;
    HWND control;
    const wchar_t* face;
    int height;
    bool underline;
  };
  const Case cases[] = {
      {"default font", ChildAt(form, form.left.design().rect), L"MS Sans Serif",
       -MulDiv(825, dpi, 7200), false},
      {"design font", ChildAt(form, form.big.design().rect), L"Comic Sans MS",
       -MulDiv(2175, dpi, 7200), true},
      {"button", ChildAt(form, form.ok.design().rect), L"MS Sans Serif", -MulDiv(825, dpi, 7200),
       false},
  };
  for (const Case& c : cases) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(c.control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << c.name;
    LOGFONTW logFont{};
    ASSERT_EQ(GetObjectW(font, sizeof logFont, &logFont), static_cast<int>(sizeof logFont));
    EXPECT_STREQ(logFont.lfFaceName, c.face) << c.name;
    EXPECT_EQ(logFont.lfHeight, c.height) << c.name;
    EXPECT_EQ(logFont.lfUnderline != 0, c.underline) << c.name;
    EXPECT_EQ(logFont.lfWeight, 400) << c.name;
  }
}

TEST_F(Win32Backend, LabelColoursComeThroughCtlColorStatic) {
  TestForm form;
  form.Show();
  const HWND label = ChildAt(form, form.big.design().rect);
  HDC dc = GetDC(label);
  const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(Hwnd(form), WM_CTLCOLORSTATIC,
                                                           reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(label)));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 192));
  EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
  ReleaseDC(label, dc);
  LOGBRUSH logBrush{};
  ASSERT_NE(brush, nullptr);
  GetObjectW(brush, sizeof logBrush, &logBrush);
  EXPECT_EQ(logBrush.lbColor, RGB(255, 255, 255));
}

TEST_F(Win32Backend, CaptionsAndVisibilityReachTheNativeControls) {
  TestForm form;
  form.Show();
  const HWND label = ChildAt(form, form.right.design().rect);
  form.right.SetCaption("Überall 17825792MB");
  EXPECT_EQ(TextOf(label), L"Überall 17825792MB");
  EXPECT_EQ(form.right.Caption(), "Überall 17825792MB");
  form.SetCaption("About Tamberlode");
  EXPECT_EQ(TextOf(Hwnd(form)), L"About Tamberlode");

  const HWND button = ChildAt(form, form.other.design().rect);
  form.other.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(button));
  form.other.SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(button));
  form.right.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(label));

  form.Hide();
  EXPECT_FALSE(IsWindowVisible(Hwnd(form)));
  EXPECT_TRUE(form.Loaded());
  form.Show();
  EXPECT_TRUE(IsWindowVisible(Hwnd(form)));
}

// A native call that fails keeps its name and the system's error for the
// message, instead of a blanket "Out of memory".
TEST_F(Win32Backend, AFailedNativeCallNamesItselfAndTheSystemsError) {
  TestForm form;
  form.Show();
  ASSERT_TRUE(DestroyWindow(ChildAt(form, form.right.design().rect)));
  try {
    form.right.SetCaption("gone");
    ADD_FAILURE() << "no error for a caption set on a destroyed control";
  } catch (const tk::Error& error) {
    EXPECT_EQ(error.code(), tk::kBackendFailure);
    ASSERT_TRUE(error.cause());
    EXPECT_EQ(error.cause()->call, "SetWindowTextW");
    EXPECT_EQ(error.cause()->error, static_cast<unsigned long>(ERROR_INVALID_WINDOW_HANDLE));
    const std::string text = tk::DescribeError(error);
    EXPECT_NE(text.find("SetWindowTextW failed: system error 1400"), std::string::npos) << text;
    EXPECT_EQ(text.find("Out of memory"), std::string::npos) << text;
  }
}

TEST_F(Win32Backend, TabOrderFollowsTheDesignTabIndex) {
  TestForm form;
  form.Show();
  const HWND hwnd = Hwnd(form);
  // Tab indexes: other 0, picture 1, ok 2, icon 3; labels take no focus.
  const std::array<HWND, 4> expected = {
      ChildAt(form, form.other.design().rect), ChildAt(form, form.picture.design().rect),
      ChildAt(form, form.ok.design().rect), ChildAt(form, form.icon.design().rect)};
  EXPECT_EQ(GetFocus(), expected[0]) << "the first tab stop holds the focus";
  HWND current = expected[0];
  for (std::size_t i = 1; i <= expected.size(); ++i) {
    current = GetNextDlgTabItem(hwnd, current, FALSE);
    EXPECT_EQ(current, expected[i % expected.size()]) << "tab stop " << i;
  }
  // A hidden button leaves the tab order.
  form.ok.SetVisible(false);
  EXPECT_EQ(GetNextDlgTabItem(hwnd, expected[1], FALSE), expected[3]);
}

TEST_F(Win32Backend, EnterPressesTheFocusedButtonElseTheDefaultAndEscTheCancel) {
  TestForm form;
  form.Show();
  const HWND hwnd = Hwnd(form);
  SetFocus(ChildAt(form, form.other.design().rect));
  PressKey(hwnd, VK_RETURN);
  EXPECT_EQ(form.otherClicks, 1);
  EXPECT_EQ(form.okClicks, 0);

  SetFocus(ChildAt(form, form.picture.design().rect));
  PressKey(hwnd, VK_RETURN);
  EXPECT_EQ(form.okClicks, 1) << "Enter on a picture box presses the default button";

  SetFocus(ChildAt(form, form.other.design().rect));
  PressKey(hwnd, VK_ESCAPE);
  EXPECT_EQ(form.okClicks, 2) << "Esc presses the cancel button";
  EXPECT_EQ(form.otherClicks, 1);

  MSG alt{hwnd, WM_SYSCHAR, 'o', 0x20000000, 0, {}};
  IsDialogMessageW(hwnd, &alt);
  tk::backend::ProcessPendingMessages();
  EXPECT_EQ(form.otherClicks, 2) << "Alt+O presses &Other";
}

TEST_F(Win32Backend, EscDoesNothingWithoutACancelButton) {
  TestForm form(tk::Frame::Sizable, /*withCancel=*/false);
  form.Show();
  SetFocus(ChildAt(form, form.picture.design().rect));
  PressKey(Hwnd(form), VK_ESCAPE);
  EXPECT_EQ(form.okClicks, 0);
  EXPECT_EQ(form.otherClicks, 0);
  EXPECT_TRUE(form.Loaded());
}

TEST_F(Win32Backend, UnloadInsideTheWindowsOwnHandlerIsSafe) {
  TestForm form;
  form.unloadOnOk = true;
  form.Show();
  const HWND first = Hwnd(form);
  SendMessageW(ChildAt(form, form.ok.design().rect), BM_CLICK, 0, 0);
  EXPECT_EQ(form.okClicks, 1);
  EXPECT_TRUE(form.stillRunningAfterUnload);
  EXPECT_FALSE(form.Loaded());
  EXPECT_FALSE(IsWindow(first));
  tk::backend::ProcessPendingMessages();  // the deferred clean-up runs here
  // The object outlives the unload: the next Show loads it afresh.
  form.unloadOnOk = false;
  form.right.SetCaption("changed before the reload");
  form.Show();
  ASSERT_TRUE(form.Loaded());
  EXPECT_TRUE(IsWindow(Hwnd(form)));
  EXPECT_EQ(TextOf(ChildAt(form, form.right.design().rect)), L"Right");
}

TEST_F(Win32Backend, CloseBoxGoesThroughFormClose) {
  TestForm form;
  form.Show();
  const HWND hwnd = Hwnd(form);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(form.Loaded());
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Win32Backend, TimersTickAtTheirIntervalAndStopAtZero) {
  TestForm form;
  form.Show();
  form.timer.SetInterval(20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (form.ticks < 3 && std::chrono::steady_clock::now() < deadline) {
    tk::backend::ProcessPendingMessages();
    Sleep(5);
  }
  EXPECT_GE(form.ticks, 3);
  form.timer.SetInterval(0);
  tk::backend::ProcessPendingMessages();
  const int stopped = form.ticks;
  for (int i = 0; i < 20; ++i) {
    tk::backend::ProcessPendingMessages();
    Sleep(10);
  }
  EXPECT_EQ(form.ticks, stopped) << "interval 0 never ticks";
  // Ticking also goes on while the window is hidden, and stops with Unload.
  form.timer.SetInterval(20);
  form.Hide();
  const int hidden = form.ticks;
  for (int i = 0; i < 40 && form.ticks == hidden; ++i) {
    tk::backend::ProcessPendingMessages();
    Sleep(10);
  }
  EXPECT_GT(form.ticks, hidden);
  form.Unload();
  const int unloaded = form.ticks;
  for (int i = 0; i < 10; ++i) {
    tk::backend::ProcessPendingMessages();
    Sleep(10);
  }
  EXPECT_EQ(form.ticks, unloaded);
}

// Renders a child through WM_PRINTCLIENT into a 32-bit bitmap.
std::vector<COLORREF> Render(HWND hwnd, int width, int height) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

TEST_F(Win32Backend, PictureBoxesDrawTheBmpUnscaledAndClipped) {
  TestForm form;
  form.Show();
  const tk::Picture bmp = notice::BannerBmp();
  const auto read32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 |
                                     bmp[at + 3] << 24);
  };
  const int bmpWidth = read32(18), bmpHeight = read32(22);
  ASSERT_EQ(bmp[28], 24) << "the banner is a 24-bit BMP";
  const std::size_t stride = (static_cast<std::size_t>(bmpWidth) * 3 + 3) & ~std::size_t{3};
  const auto bmpPixel = [&](int x, int y) {
    const std::size_t row = static_cast<std::size_t>(bmpHeight - 1 - y);  // bottom-up
    const std::size_t at = static_cast<std::size_t>(read32(10)) + row * stride + x * 3u;
    return RGB(bmp[at + 2], bmp[at + 1], bmp[at]);
  };
  const tk::Rect rect = form.picture.design().rect;
  const int width = DevicePixels(rect.width), height = DevicePixels(rect.height);
  const std::vector<COLORREF> pixels = Render(ChildAt(form, rect), width, height);
  int compared = 0, coloured = 0;
  for (int y = 0; y < std::min(height, bmpHeight); ++y) {
    for (int x = 0; x < std::min(width, bmpWidth); ++x) {
      const COLORREF want = bmpPixel(x, y);
      ASSERT_EQ(pixels[static_cast<std::size_t>(y * width + x)], want) << x << "," << y;
      ++compared;
      if (want != RGB(255, 255, 255)) ++coloured;
    }
  }
  EXPECT_GT(coloured, 50) << "the banner's lettering was compared";
  EXPECT_GT(compared, 1000);
}

TEST_F(Win32Backend, PictureBoxesAreNamedImagesWithAFocusMark) {
  TestForm form;
  form.Show();
  const tk::Rect rect = form.picture.design().rect;
  const HWND picture = ChildAt(form, rect);
  IAccessible* reader = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(picture, static_cast<DWORD>(OBJID_CLIENT),
                                       __uuidof(IAccessible), reinterpret_cast<void**>(&reader)),
            S_OK);
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  VARIANT role;
  VariantInit(&role);
  EXPECT_EQ(reader->get_accRole(self, &role), S_OK);
  EXPECT_EQ(role.lVal, ROLE_SYSTEM_GRAPHIC) << "a picture box is an image";
  BSTR name = nullptr;
  EXPECT_EQ(reader->get_accName(self, &name), S_OK);
  EXPECT_EQ(std::wstring(name ? name : L""), L"the banner");
  SysFreeString(name);
  reader->Release();

  const int width = DevicePixels(rect.width), height = DevicePixels(rect.height);
  const std::vector<COLORREF> unfocused = Render(picture, width, height);
  SetFocus(picture);
  // As after a key press: the window shows its focus marks.
  SendMessageW(Hwnd(form), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  EXPECT_NE(Render(picture, width, height), unfocused) << "no focus mark on the focused picture";
  SetFocus(ChildAt(form, form.ok.design().rect));
  EXPECT_EQ(Render(picture, width, height), unfocused) << "the mark stays after the focus";
}

TEST_F(Win32Backend, IconPictureBoxDrawsThe32PixelImage) {
  TestForm form;
  form.Show();
  const tk::Rect rect = form.icon.design().rect;
  const int size = DevicePixels(rect.width);
  const std::vector<COLORREF> pixels = Render(ChildAt(form, rect), size, size);
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  int inside = 0, outside = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (pixels[static_cast<std::size_t>(y * size + x)] == background) continue;
      (x < 32 && y < 32 ? inside : outside)++;
    }
  }
  EXPECT_GT(inside, 100) << "the icon's figure is drawn at the top-left";
  EXPECT_EQ(outside, 0) << "nothing is drawn beyond 32x32";
}

TEST_F(Win32Backend, LinesArePaintedInCreationOrder) {
  TestForm form;
  form.Show();
  RECT client;
  GetClientRect(Hwnd(form), &client);
  const std::vector<COLORREF> pixels = Render(Hwnd(form), client.right, client.bottom);
  const auto at = [&](int x, int y) {
    return pixels[static_cast<std::size_t>(y * client.right + x)];
  };
  EXPECT_EQ(at(DevicePixels(300), DevicePixels(1140)), RGB(128, 128, 128));
  // The red line, made after the grey one, lies over it where they cross.
  EXPECT_EQ(at(DevicePixels(1950), DevicePixels(1140)), RGB(255, 0, 0));
  EXPECT_EQ(at(DevicePixels(300), DevicePixels(900)), RGB(255, 255, 255))
      << "white window background";
}

class Win32Services : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::filesystem::path(temp) /
              ("tamberlode services " + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_ / "a folder.exe");
    std::ofstream(folder_ / "normal file.txt") << "x";
    std::ofstream(folder_ / "hidden.txt") << "x";
    SetFileAttributesW((folder_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
  void TearDown() override {
    SetFileAttributesW((folder_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  std::filesystem::path folder_;
};

TEST_F(Win32Services, DirFindsNormalFilesOnly) {
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {Path("normal file.txt"), "normal file.txt"},
      {Path("hidden.txt"), ""},
      {Path("a folder.exe"), ""},
      {Path("missing.txt"), ""},
      {Path("*.txt"), "normal file.txt"},
      {folder_.string() + "\\\\normal file.txt", "normal file.txt"},  // doubled backslash
  };
  for (const Case& c : cases) EXPECT_EQ(tk::Dir(c.path), c.expected) << c.path;
}

TEST_F(Win32Services, ShellStartsTheExactPathAndFailsOnAMissingOne) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::filesystem::path marker = std::filesystem::path(self).parent_path() / "marker.exe";
  if (!std::filesystem::exists(marker)) GTEST_SKIP() << "marker.exe is not beside the tests";
  // A path with spaces that would start "...\tamberlode" if it were split.
  const std::filesystem::path copy = folder_ / "tool with spaces.exe";
  std::filesystem::copy_file(marker, copy);
  const std::filesystem::path note = folder_ / "started.txt";
  SetEnvironmentVariableW(L"TAMBERLODE_MARKER", note.c_str());
  tk::Shell(copy.string());
  SetEnvironmentVariableW(L"TAMBERLODE_MARKER", nullptr);
  // The marker's file is there before its line is: wait for the whole line.
  std::string line;
  for (int i = 0; i < 400; ++i, Sleep(25)) {
    std::ifstream in(note);
    if (std::getline(in, line) && !in.eof()) break;
    line.clear();
  }
  ASSERT_FALSE(line.empty()) << "the started program left no marker";
  EXPECT_NE(line.find("tool with spaces.exe"), std::string::npos) << line;

  try {
    tk::Shell(Path("no such program.exe"));
    ADD_FAILURE() << "a failed start raises an error";
  } catch (const tk::Error& error) {
    EXPECT_EQ(error.code(), tk::kFileNotFound);
  }
}

}  // namespace
