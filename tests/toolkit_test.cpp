// The toolkit layer on the real Qt backend: window states, single instances,
// timers, unloading inside a handler, the end of the program and the
// unhandled-error path.
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "identity/icon.h"
#include "toolkit/backend.h"
#include "toolkit/bitmaps.h"
#include "toolkit/references.h"
#include "toolkit/testing.h"
#include "toolkit/toolkit_qt.h"
#include "window_testing.h"

namespace {

using testing_windows::PressKey;
using testing_windows::Pump;

// A small test window: a label, two buttons and a timer.
class TestWindow : public tk::Form {
 public:
  TestWindow()
      : tk::Form(
            {.caption = "Test", .clientWidth = 1500, .clientHeight = 900, .left = 0, .top = 0}) {}

  tk::Label Label1{*this, {.caption = "design", .rect = {15, 30, 750, 255}}};
  tk::CommandButton Command1{*this,
                             {.caption = "Go", .rect = {15, 300, 600, 300}, .tabIndex = 1},
                             &TestWindow::Command1_Click};
  tk::CommandButton Command2{*this,
                             {.caption = "Stop", .rect = {615, 300, 600, 300}, .tabIndex = 0},
                             &TestWindow::Command2_Click};
  tk::Timer Timer1{*this, {.interval = 0}, &TestWindow::Timer1_Timer};

  int loads = 0;
  int ticks = 0;
  std::vector<std::string> steps;
  std::function<void()> onClick;

  void Command1_Click() {
    if (onClick) onClick();
  }
  void Command2_Click() {}
  void Timer1_Timer() { ++ticks; }

 protected:
  void Form_Load() override { ++loads; }
};

class Toolkit : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = tk::SetUnhandledErrorHandler([this](const tk::Error& e) { errors.push_back(e); });
  }
  void TearDown() override {
    window.Unload();
    Pump(0);
    tk::SetUnhandledErrorHandler(previous_);
  }
  QPushButton* Button(int index) {
    return tk::backend::NativeWindow(window)->findChild<QPushButton*>(
        QStringLiteral("control%1").arg(index));
  }

  TestWindow window;
  std::vector<tk::Error> errors;

 private:
  tk::UnhandledErrorHandler previous_;
};

TEST_F(Toolkit, WindowStatesFollowShowHideAndUnload) {
  struct Step {
    const char* action;
    bool loaded, visible;
    int loads;
  };
  const Step steps[] = {
      {"created", false, false, 0}, {"show", true, true, 1},  {"show", true, true, 1},
      {"hide", true, false, 1},     {"show", true, true, 1},  {"unload", false, false, 1},
      {"unload", false, false, 1},  {"hide", true, false, 2}, {"unload", false, false, 2},
      {"show", true, true, 3},
  };
  const int before = tk::LoadedWindows();
  for (const Step& step : steps) {
    const std::string action = step.action;
    if (action == "show") window.Show();
    if (action == "hide") window.Hide();
    if (action == "unload") window.Unload();
    EXPECT_EQ(window.Loaded(), step.loaded) << action << " #" << window.loads;
    EXPECT_EQ(window.Visible(), step.visible) << action;
    EXPECT_EQ(window.loads, step.loads) << action;
    EXPECT_EQ(tk::LoadedWindows(), before + (step.loaded ? 1 : 0)) << action;
  }
}

TEST_F(Toolkit, UnloadRestoresTheDesignOnTheNextLoad) {
  window.Show();
  window.Label1.SetCaption("changed");
  window.SetCaption("Other");
  auto* native = tk::backend::NativeWindow(window);
  EXPECT_EQ(native->findChild<QLabel*>("control0")->text(), "changed");
  EXPECT_EQ(native->windowTitle(), "Other");
  window.Unload();
  window.Show();
  EXPECT_EQ(window.Label1.Caption(), "design");
  EXPECT_EQ(tk::backend::NativeWindow(window)->windowTitle(), "Test");
}

struct Probe : TestWindow {};

TEST_F(Toolkit, EachWindowClassHasOneInstanceMadeOnFirstUse) {
  EXPECT_FALSE(tk::Reference<Probe>());
  Probe& first = tk::Use<Probe>();
  EXPECT_FALSE(first.Loaded()) << "first use only creates the object";
  EXPECT_EQ(first.loads, 0);
  first.Show();
  tk::Use<Probe>().Show();
  EXPECT_EQ(&tk::Use<Probe>(), &first);
  EXPECT_EQ(first.loads, 1);
  first.Unload();
  EXPECT_EQ(&tk::Use<Probe>(), &first) << "the reference outlives the unload";
}

TEST_F(Toolkit, TimersTickWhileHiddenAndStopOnUnload) {
  window.Show();
  window.Timer1.SetInterval(20);
  window.Hide();
  Pump(400);
  EXPECT_GT(window.ticks, 3) << "a hidden window's timer goes on";
  window.Unload();
  const int ticks = window.ticks;
  Pump(150);
  EXPECT_EQ(window.ticks, ticks) << "unload stops the timer";
  window.Show();
  Pump(150);
  EXPECT_EQ(window.ticks, ticks) << "the next load starts from the design interval, 0";
}

TEST_F(Toolkit, IntervalZeroNeverTicks) {
  window.Show();
  window.Timer1.SetInterval(30);
  window.Timer1.SetInterval(0);
  Pump(150);
  EXPECT_EQ(window.ticks, 0);
}

TEST_F(Toolkit, UnloadInsideTheWindowsOwnHandlerLetsItGoOn) {
  window.Show();
  window.onClick = [this] {
    window.Unload();
    window.steps.push_back("after unload");
    window.Label1.SetCaption("still here");
  };
  Button(1)->click();
  Pump(50);  // the native window is deleted now, after the handler returned
  EXPECT_FALSE(window.Loaded());
  EXPECT_EQ(window.steps, std::vector<std::string>{"after unload"});
  EXPECT_TRUE(errors.empty());
  window.Show();
  EXPECT_EQ(window.Label1.Caption(), "design");
}

TEST_F(Toolkit, AFailingStatusStopsTheHandlerAndReachesTheUnhandledErrorPath) {
  window.Show();
  window.onClick = [this] {
    window.steps.push_back("before");
    window.Label1.SetCaption("one");
    window.steps.push_back("between");
    window.Label1.SetCaption("two");
    window.steps.push_back("after");
  };
  tk::testing::FailNext("Caption", tk::kInvalidProperty);
  Button(1)->click();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].code(), tk::kInvalidProperty);
  EXPECT_EQ(errors[0].interface(), "Label");
  EXPECT_EQ(errors[0].operation(), "Caption");
  EXPECT_EQ(window.steps, std::vector<std::string>{"before"});
  EXPECT_EQ(window.Label1.Caption(), "design") << "the failed write changed nothing";
  const std::string text = tk::DescribeError(errors[0]);
  EXPECT_NE(text.find("380"), std::string::npos) << text;
  EXPECT_NE(text.find("Label.Caption"), std::string::npos) << text;
}

TEST(Errors, ABackendFailureShowsTheSystemsCauseWhereTheBackendKeptOne) {
  const std::string plain = tk::DescribeError(tk::Error(tk::kBackendFailure, "Form", "Load"));
  EXPECT_NE(plain.find("Out of memory"), std::string::npos) << plain;
  const tk::Error caused(tk::kBackendFailure, "Form", "Load",
                         tk::SystemCause{"CreateWindowExW", 1407, "Cannot find window class"});
  const std::string text = tk::DescribeError(caused);
  EXPECT_NE(text.find("CreateWindowExW failed: system error 1407 (Cannot find window class)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("(Form.Load)"), std::string::npos) << text;
  EXPECT_EQ(text.find("Out of memory"), std::string::npos) << text;
}

TEST_F(Toolkit, TheProgramGoesOnWhileAHiddenWindowIsLoadedAndEndsWhenNoneIs) {
  ASSERT_EQ(tk::LoadedWindows(), 0);
  window.Show();
  bool stillRunning = false;
  QTimer::singleShot(10, [&] { window.Hide(); });
  QTimer::singleShot(150, [&] {
    stillRunning = true;
    window.Unload();
  });
  QTimer::singleShot(2000, [] { QCoreApplication::exit(99); });  // guard
  EXPECT_EQ(tk::backend::RunLoop(), 0);
  EXPECT_TRUE(stillRunning);
}

TEST_F(Toolkit, TheDefaultUnhandledErrorShowsAMessageAndEndsTheLoopWithTheCode) {
  tk::SetUnhandledErrorHandler(nullptr);
  std::vector<std::string> prompts;
  auto hook = tk::testing::SetMessageBoxHook([&](const std::string& p) { prompts.push_back(p); });
  window.Show();
  window.onClick = [this] { window.Timer1.SetInterval(-5); };
  QTimer::singleShot(10, [&] { Button(1)->click(); });
  QTimer::singleShot(2000, [] { QCoreApplication::exit(99); });  // guard
  EXPECT_EQ(tk::backend::RunLoop(), tk::kInvalidProperty);
  tk::testing::SetMessageBoxHook(hook);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_NE(prompts[0].find("Timer.Interval"), std::string::npos) << prompts[0];
}

TEST(ToolkitLifetime, AWindowDestroyedWhileLoadedLetsGoOfItsNativeWindow) {
  const int before = tk::LoadedWindows();
  {
    TestWindow window;
    window.Show();
    EXPECT_EQ(tk::LoadedWindows(), before + 1);
  }  // its controls go first, then the window itself
  EXPECT_EQ(tk::LoadedWindows(), before);
  Pump();
}

TEST_F(Toolkit, GeometryIsInTwipsAtFifteenToAPixel) {
  window.Show();
  QWidget* native = tk::backend::NativeWindow(window);
  EXPECT_EQ(native->size(), QSize(100, 60));
  EXPECT_EQ(native->findChild<QLabel*>("control0")->geometry(), QRect(1, 2, 50, 17));
  EXPECT_EQ(Button(2)->geometry(), QRect(41, 20, 40, 20));
  EXPECT_EQ(tk::backend::LogicalPixels(5654), 377);
}

TEST_F(Toolkit, TabOrderFollowsTheTabIndexAndTheFirstButtonHoldsTheFocus) {
  window.Show();
  QApplication::setActiveWindow(tk::backend::NativeWindow(window));
  Pump(20);
  EXPECT_EQ(QApplication::focusWidget(), Button(2)) << "Command2 has tab index 0";
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Button(1));
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Button(2)) << "labels take no focus";
}

TEST(Services, DirFindsNormalFilesOnly) {
  const std::string file = testing::TempDir() + "tamberlode dir test.exe";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_TRUE(f);
  std::fclose(f);
  EXPECT_EQ(tk::Dir(file), "tamberlode dir test.exe");
  EXPECT_EQ(tk::Dir(file + ".missing"), "");
  EXPECT_EQ(tk::Dir(testing::TempDir()), "") << "a folder is not a normal file";
  std::remove(file.c_str());
}

TEST(Services, ShellOfAMissingProgramRaisesFileNotFound) {
  try {
    tk::Shell("/nonexistent/tamberlode tool");
    FAIL() << "no error raised";
  } catch (const tk::Error& e) {
    EXPECT_EQ(e.code(), tk::kFileNotFound);
  }
  EXPECT_THROW(tk::Shell(""), tk::Error);
}

// What texts are drawn in under a scheme: system colours are resolved from
// the scheme, and a system colour set beside a fixed one returns to its
// default-scheme value only where the scheme leaves the pair unreadable.
TEST(Colours, TextsKeepTheDesignsContrastUnderAnyScheme) {
  const tk::Color dark = tk::Rgb(30, 30, 30), light = tk::Rgb(240, 240, 240);
  const tk::Color yellow = tk::Rgb(255, 255, 0), grey = tk::Rgb(85, 85, 85);
  struct Case {
    const char* name;
    tk::Color fore, back, schemeText, schemeWindow;
    tk::Color wantFore, wantBack;
  };
  const Case cases[] = {
      {"default scheme", tk::kWindowText, tk::kWhite, tk::kBlack, tk::kWhite, tk::kBlack,
       tk::kWhite},
      {"dark scheme, white label", tk::kWindowText, tk::kWhite, light, dark, tk::kBlack,
       tk::kWhite},
      {"high contrast, yellow text", tk::kWindowText, tk::kWhite, yellow, tk::kBlack, tk::kBlack,
       tk::kWhite},
      {"a readable scheme colour stays", tk::kWindowText, tk::kWhite, grey, tk::kWhite, grey,
       tk::kWhite},
      {"dark scheme, black text on the window", tk::kBlack, tk::kWindowBackground, light, dark,
       tk::kBlack, tk::kWhite},
      {"all the scheme's", tk::kWindowText, tk::kWindowBackground, light, dark, light, dark},
      {"all fixed", tk::Rgb(0, 0, 192), tk::kWhite, light, dark, tk::Rgb(0, 0, 192), tk::kWhite},
  };
  for (const Case& c : cases) {
    const auto scheme = [&](int index) {
      return index == tk::kWindowText.systemIndex ? c.schemeText : c.schemeWindow;
    };
    const tk::TextColors got = tk::ReadableColors(c.fore, c.back, scheme);
    EXPECT_EQ(got.fore, c.wantFore) << c.name;
    EXPECT_EQ(got.back, c.wantBack) << c.name;
  }
  EXPECT_NEAR(tk::ContrastRatio(tk::kBlack, tk::kWhite), 21.0, 1e-9);
  EXPECT_NEAR(tk::ContrastRatio(grey, tk::kWhite), 7.46, 0.01);
}

// What a picture box is filled with: the scheme's window colour, unless the
// scheme sets it visibly apart from the fixed colour of the box's window.
TEST(Colours, PictureBoxesTakeTheirWindowsColourWhereTheSchemeSetsThemApart) {
  const tk::Color dark = tk::Rgb(30, 30, 30), nearWhite = tk::Rgb(252, 250, 255);
  const tk::Color cream = tk::Rgb(255, 250, 230);
  struct Case {
    const char* name;
    tk::Color box, window, schemeWindow, want;
  };
  const Case cases[] = {
      {"default scheme", tk::kWindowBackground, tk::kWhite, tk::kWhite, tk::kWhite},
      {"dark scheme", tk::kWindowBackground, tk::kWhite, dark, tk::kWhite},
      {"high contrast", tk::kWindowBackground, tk::kWhite, tk::kBlack, tk::kWhite},
      {"a tint on the window", tk::kWindowBackground, tk::kWhite, cream, tk::kWhite},
      {"within a display's rounding", tk::kWindowBackground, tk::kWhite, nearWhite, nearWhite},
      {"a window of the scheme's colour", tk::kWindowBackground, tk::kWindowBackground, dark, dark},
      {"a fixed box", tk::Rgb(0, 0, 192), tk::kWhite, dark, tk::Rgb(0, 0, 192)},
  };
  for (const Case& c : cases) {
    const auto scheme = [&](int) { return c.schemeWindow; };
    EXPECT_EQ(tk::PictureGround(c.box, c.window, scheme), c.want) << c.name;
  }
}

// The notice's credit picture under the e-mail picture, which overlaps its
// last row: the focus mark keeps to the rows that are the credit's alone.
TEST(Geometry, OwnAreaPushesInTheSideAnOverlappingBoxCoversLeast) {
  struct Case {
    const char* name;
    tk::Rect box;
    std::vector<tk::Rect> others;
    tk::Rect want;
  };
  const Case cases[] = {
      {"credit under e-mail",
       {240, 600, 3495, 495},
       {{120, 1080, 3735, 375}, {360, 120, 3255, 375}},
       {240, 600, 3495, 480}},
      {"a box over the top", {0, 100, 100, 100}, {{-10, 50, 200, 60}}, {0, 110, 100, 90}},
      {"a box at the right", {0, 0, 100, 100}, {{80, 10, 50, 20}}, {0, 0, 80, 100}},
      {"a box at the left", {0, 0, 100, 100}, {{-50, -10, 60, 200}}, {10, 0, 90, 100}},
      {"touching only", {0, 0, 100, 100}, {{0, 100, 100, 10}, {100, 0, 10, 100}}, {0, 0, 100, 100}},
      {"covering it all", {0, 0, 100, 100}, {{-10, -10, 200, 200}}, {0, 0, 100, 100}},
  };
  for (const Case& c : cases) {
    const tk::Rect got = tk::OwnArea(c.box, c.others);
    EXPECT_EQ(std::tie(got.left, got.top, got.width, got.height),
              std::tie(c.want.left, c.want.top, c.want.width, c.want.height))
        << c.name;
  }
}

// Pictures grow with the screen as the boxes do: pixel for pixel at 96 DPI,
// whole factors repeat pixels, other ratios blend them.
TEST(Geometry, PicturesScaleWithTheDpi) {
  struct Case {
    int dpi, width, height;
    bool smooth;
  };
  for (const Case& c : {Case{96, 220, 28, false}, Case{120, 275, 35, true},
                        Case{144, 330, 42, true}, Case{192, 440, 56, false}}) {
    const tk::PictureScale got = tk::ScalePicture(220, 28, c.dpi);
    EXPECT_EQ(std::tie(got.width, got.height, got.smooth), std::tie(c.width, c.height, c.smooth))
        << c.dpi << " DPI";
  }
}

// The caption-fit rule both backends measure for, in pixels: a label at 10
// with design width 50 in a window designed 100 wide (a margin of 40).
TEST(Captions, ALabelGrowsForItsCaptionAndItsWindowKeepsTheMargin) {
  struct Case {
    const char* name;
    int needed, clientWidth, wantLabel, wantWindow;
  };
  const Case cases[] = {
      {"fits", 30, 100, 50, 100},
      {"wider: the window grows to keep the margin", 70, 100, 70, 120},
      {"wider than the window", 120, 100, 120, 170},
      {"the window is wider already", 70, 300, 70, 300},
  };
  for (const Case& c : cases) {
    const tk::CaptionWidths got = tk::FitCaption(10, 50, c.needed, 100, c.clientWidth);
    EXPECT_EQ(got.label, c.wantLabel) << c.name;
    EXPECT_EQ(got.window, c.wantWindow) << c.name;
  }
  EXPECT_EQ(tk::FitCaption(90, 50, 60, 100, 100).window, 150) << "a label past the design's edge";
}

// ICO and BMP files as the Win32 backend draws them, read from the bytes.
TEST(Bitmaps, IcoDirectoriesAndBmpHeadersAreReadFromTheBytes) {
  using Bytes = std::vector<unsigned char>;
  const auto put = [](Bytes& b, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  // Four entries: 32x32 16 colours (depth from the colour count), 32x32 8
  // bits, "0" meaning 256 pixels, and one whose data runs past the end.
  struct Entry {
    int width, colours, bits, size;
  };
  const Entry entries[] = {{32, 16, 0, 4}, {32, 0, 8, 4}, {0, 0, 32, 4}, {32, 0, 4, 99}};
  Bytes ico(6 + 16 * 4 + 12, 0);
  put(ico, 2, 1, 2);
  put(ico, 4, 4, 2);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t entry = 6 + 16 * i;
    ico[entry] = ico[entry + 1] = static_cast<unsigned char>(entries[i].width);
    ico[entry + 2] = static_cast<unsigned char>(entries[i].colours);
    put(ico, entry + 6, entries[i].bits, 2);
    put(ico, entry + 8, entries[i].size, 4);
    put(ico, entry + 12, 70 + 4 * i, 4);
  }
  const std::vector<tk::bitmaps::IcoImage> images = tk::bitmaps::IcoImages(ico);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].bitCount, 4);
  EXPECT_EQ(images[2].width, 256);
  EXPECT_EQ(images[1].data.data(), ico.data() + 74);
  EXPECT_EQ(tk::bitmaps::BestIcoImage(ico, 32, 4)->bitCount, 4);
  EXPECT_EQ(tk::bitmaps::BestIcoImage(ico, 32, 32)->bitCount, 8);
  EXPECT_FALSE(tk::bitmaps::BestIcoImage(ico, 16, 32));
  // The picture box's image of the program icon: 32x32, 16 colours.
  EXPECT_TRUE(tk::bitmaps::IsIco(identity::IconIco()));
  EXPECT_EQ(tk::bitmaps::BestIcoImage(identity::IconIco(), 32, 4)->bitCount, 4);

  // A 2x3 BMP stored top-down (negative height), bits after the header.
  Bytes bmp(54 + 24, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(bmp, 10, 54, 4);
  put(bmp, 18, 2, 4);
  put(bmp, 22, static_cast<std::uint32_t>(-3), 4);
  const std::optional<tk::bitmaps::Bmp> read = tk::bitmaps::ReadBmp(bmp);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->width, 2);
  EXPECT_EQ(read->height, 3);
  EXPECT_EQ(read->bits.data(), bmp.data() + 54);
  EXPECT_EQ(read->info.data(), bmp.data() + 14);
  Bytes notBmp = bmp;
  notBmp[1] = 'X';
  Bytes bitsPastTheEnd = bmp;
  put(bitsPastTheEnd, 10, 200, 4);
  for (const Bytes& bad : {notBmp, bitsPastTheEnd, Bytes(bmp.begin(), bmp.begin() + 40)}) {
    EXPECT_FALSE(tk::bitmaps::ReadBmp(bad));
  }
}

// The window icon at each whole screen scale: 16 and 32 points in device
// pixels, each the very picture the icon theme installs at that size.
TEST(ProgramIcon, IsTheThemeIconAtTheScreensScale) {
  struct Case {
    int scale, small, large;
  };
  for (const Case& c : {Case{1, 16, 32}, Case{2, 32, 64}, Case{3, 48, 96}, Case{4, 64, 128}}) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale);
    const QIcon icon = tk::backend::ProgramIcon(c.scale);
    EXPECT_EQ(icon.availableSizes(),
              (QList<QSize>{QSize(c.small, c.small), QSize(c.large, c.large)}));
    for (int size : {c.small, c.large}) {
      const QString file =
          QStringLiteral(TAMBERLODE_SOURCE_DIR "/identity/icon/tamberlode-%1.png").arg(size);
      if (!QFile::exists(file)) continue;  // 96 px is no size of the icon theme
      const QImage want = QImage(file).convertToFormat(QImage::Format_ARGB32);
      ASSERT_FALSE(want.isNull()) << file.toStdString();
      EXPECT_EQ(icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32),
                want)
          << size << " px differs from " << file.toStdString();
    }
  }
}

}  // namespace
