// The start notice window on the real Qt backend.
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "format/format.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "screenshot.h"
#include "toolkit/references.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;

class NoticeWindow : public testing::Test {
 protected:
  void SetUp() override {
    tk::Use<Form2>().freeSpaceQuery = [this](const std::string&, std::int32_t&, std::int32_t&,
                                             std::int32_t&, std::int32_t&) {
      ++queries;
      visibleDuringSurvey = visibleDuringSurvey || form.Visible() || tk::Use<Form2>().Visible();
      return 0;
    };
  }
  void TearDown() override {
    form.Unload();
    tk::Use<Form2>().Unload();
    Pump();
    ASSERT_EQ(tk::LoadedWindows(), 0);
  }
  // What the count shows on screen: its text, or nothing when it is hidden.
  std::string Shown() {
    auto* label = Native<QLabel>(form.Label1);
    return label->isVisibleTo(tk::backend::NativeWindow(form)) ? label->text().toStdString() : "";
  }
  bool ButtonShown() {
    return Native<QPushButton>(form.Command1)->isVisibleTo(tk::backend::NativeWindow(form));
  }

  Form1& form = tk::Use<Form1>();
  int queries = 0;
  bool visibleDuringSurvey = false;
};

TEST_F(NoticeWindow, ControlsStandWithTheirFontsAndColours) {
  form.Show();
  QWidget* window = tk::backend::NativeWindow(form);
  EXPECT_EQ(window->windowTitle(), "Tamberlode v0.1a");
  EXPECT_EQ(window->size(), QSize(268, 343));
  EXPECT_FALSE(window->windowIcon().isNull());
  struct Expect {
    tk::Control* control;
    QRect pixels;
  };
  const Expect places[] = {
      {&form.Command1, {96, 280, 81, 41}}, {&form.Picture3, {24, 8, 217, 25}},
      {&form.Picture2, {8, 72, 249, 25}},  {&form.Picture1, {16, 40, 233, 33}},
      {&form.Label1, {120, 280, 25, 33}},  {&form.Label7, {8, 99, 253, 17}},
      {&form.Label4, {16, 216, 225, 65}},  {&form.Label3, {16, 128, 225, 97}},
  };
  for (const auto& [control, pixels] : places) EXPECT_EQ(Native(*control)->geometry(), pixels);

  auto* count = Native<QLabel>(form.Label1);
  EXPECT_EQ(count->font().family(), "Comic Neue");
  EXPECT_DOUBLE_EQ(count->font().pointSizeF(), 20.0);
  EXPECT_EQ(count->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  auto* web = Native<QLabel>(form.Label7);
  EXPECT_TRUE(web->font().underline());
  EXPECT_EQ(web->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_EQ(web->palette().color(QPalette::WindowText), QColor(0, 0, 192));
  EXPECT_EQ(web->palette().color(QPalette::Window), QColor(255, 255, 255));
  for (tk::Label* notice : {&form.Label3, &form.Label4}) {
    EXPECT_EQ(Native<QLabel>(*notice)->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_TRUE(Native<QLabel>(*notice)->wordWrap());
  }
  EXPECT_TRUE(Fits(web->text(), web->font(), web->size(), false)) << web->text().toStdString();
  EXPECT_TRUE(Fits("5", count->font(), count->size(), false));
  auto* start = Native<QPushButton>(form.Command1);
  EXPECT_EQ(start->text(), "Start the\nApplication") << "the caption wraps as a native one would";
  EXPECT_TRUE(Fits(start->text(), start->font(),
                   start->size() - QSize(tk::backend::kButtonMargins, 4), false));
}

TEST_F(NoticeWindow, OpensWithFiveNoButtonAndThePictureHoldingTheFocus) {
  form.Show();
  Activate(form);
  EXPECT_EQ(Shown(), "5");
  EXPECT_FALSE(ButtonShown());
  EXPECT_EQ(QApplication::focusWidget(), Native(form.Picture1));
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Native(form.Picture2)) << "the hidden button is skipped";
}

TEST_F(NoticeWindow, CountsDownToTheButtonAndNeverShowsZero) {
  form.Show();
  const std::vector<std::string> expected = {"4", "3", "2", "1", ""};
  for (const std::string& shown : expected) {
    form.Timer1.Tick();
    EXPECT_EQ(Shown(), shown);
    EXPECT_EQ(ButtonShown(), shown.empty()) << "after the tick that shows '" << shown << "'";
  }
  for (int tick = 0; tick < 10; ++tick) {
    form.Timer1.Tick();
    EXPECT_EQ(Shown(), "");
    EXPECT_TRUE(ButtonShown());
  }
  EXPECT_EQ(form.Label1.Caption(), "-10") << "the hidden count goes on";
}

TEST_F(NoticeWindow, TheRealTimerShowsTheButtonAfterAboutFiveSeconds) {
  QElapsedTimer clock;
  clock.start();
  form.Show();
  EXPECT_EQ(form.Timer1.Interval(), 1000);
  std::vector<std::string> seen;
  while (!ButtonShown() && clock.elapsed() < 10000) {
    if (seen.empty() || seen.back() != Shown()) seen.push_back(Shown());
    Pump(20);
  }
  const qint64 elapsed = clock.elapsed();
  EXPECT_TRUE(ButtonShown());
  EXPECT_GE(elapsed, 4700) << "the button came too early";
  EXPECT_LE(elapsed, 7000) << "the button came too late";
  EXPECT_EQ(seen, (std::vector<std::string>{"5", "4", "3", "2", "1"}));
  EXPECT_EQ(Shown(), "");
  int active = 0;
  for (QTimer* timer : tk::backend::NativeWindow(form)->findChildren<QTimer*>()) {
    active += timer->isActive() ? 1 : 0;
  }
  EXPECT_EQ(active, 1) << "Timer2 never runs";
  EXPECT_EQ(form.Timer2.Interval(), 0);
}

// The hidden count goes on below 0, one digit more now and then; the window
// a person waits in front of keeps its size and look. Ticks stand in for the
// seconds; the window measured is the real one.
TEST_F(NoticeWindow, HoldsStillWhileTheHiddenCountRunsOn) {
  form.Show();
  QWidget* window = tk::backend::NativeWindow(form);
  const auto at = [&](int seconds) {
    while (format::Val(form.Label1.Caption()) > 5 - seconds) form.Timer1.Tick();
    Pump(20);
    Screenshot(form, "notice-" + std::to_string(seconds) + "s.png");
    return window->grab().toImage();
  };
  const QImage three = at(3), twenty = at(20), later = at(115);
  ASSERT_EQ(form.Label1.Caption(), "-110");
  EXPECT_EQ(three.size(), QSize(268, 343));
  EXPECT_EQ(twenty.size(), three.size()) << "the window changed size by itself";
  EXPECT_EQ(later.size(), three.size()) << "the window changed size by itself";
  EXPECT_TRUE(later == twenty) << "the ready window changed on screen";
}

// The banner's lettering takes the same share of its box at any screen
// scale as the picture gives it pixel for pixel (ctest runs this also with
// QT_SCALE_FACTOR=1.5, as on a 144 DPI screen).
TEST_F(NoticeWindow, TheBannerFillsItsBoxAtTheScreensScale) {
  form.Show();
  Pump(20);
  QWidget* window = tk::backend::NativeWindow(form);
  const QImage shot = window->grab().toImage();
  const double scale = shot.devicePixelRatio();
  Screenshot(form, "notice-banner-x" + std::to_string(static_cast<int>(scale * 100)) + ".png");
  const tk::Picture bytes = form.Picture3.design().picture;
  const QImage banner = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "BMP");
  const QRect box = Native(form.Picture3)->geometry();
  // The ink's right end from the box's left, the picture's cut at the box.
  const auto inkEnd = [](const QImage& image, QRect area) {
    int end = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        if (qGray(image.pixel(x, y)) < 200) end = std::max(end, x - area.left() + 1);
      }
    }
    return end;
  };
  const int designed = inkEnd(banner, banner.rect() & QRect(QPoint(), box.size()));
  const QRect device(QPointF(box.topLeft() * scale).toPoint(), QSizeF(box.size() * scale).toSize());
  const int shown = inkEnd(shot, device);
  std::printf("  scale %.2f: the banner's ink ends at %d of %d pixels (%d of %d unscaled)\n", scale,
              shown, device.width(), designed, box.width());
  EXPECT_NEAR(static_cast<double>(shown) / device.width(),
              static_cast<double>(designed) / box.width(), 2.0 / device.width());
}

TEST_F(NoticeWindow, StartHidesTheNoticeAndShowsTheSurveyedReport) {
  form.Show();
  for (int tick = 0; tick < 5; ++tick) form.Timer1.Tick();
  Native<QPushButton>(form.Command1)->click();
  EXPECT_TRUE(form.Loaded());
  EXPECT_FALSE(form.Visible());
  EXPECT_TRUE(tk::Use<Form2>().Visible());
  EXPECT_EQ(queries, 9);
  EXPECT_FALSE(visibleDuringSurvey) << "a window was on screen between the notice and the report";
  const int interval = form.Timer1.Interval();
  EXPECT_EQ(interval, 1000) << "the hidden notice keeps ticking";
}

TEST_F(NoticeWindow, ClosingTheNoticeBeforeStartEndsTheProgram) {
  form.Show();
  tk::backend::NativeWindow(form)->close();
  Pump();
  EXPECT_EQ(tk::LoadedWindows(), 0);
  EXPECT_FALSE(tk::Use<Form2>().Loaded());
}

TEST_F(NoticeWindow, ScreenshotsShowTheCountThenTheStartButtonOnWhite) {
  form.Show();
  Pump(50);
  const QImage counting = Screenshot(form, "notice-counting.png");
  ASSERT_FALSE(counting.isNull());
  EXPECT_EQ(CaptionsNotShown(counting, form), std::vector<std::string>());
  EXPECT_EQ(GroundNotWhite(counting, form), 0);
  for (int tick = 0; tick < 5; ++tick) form.Timer1.Tick();
  Pump(50);
  const QImage ready = Screenshot(form, "notice-ready.png");
  ASSERT_FALSE(ready.isNull());
  EXPECT_EQ(CaptionsNotShown(ready, form), std::vector<std::string>());
  EXPECT_EQ(GroundNotWhite(ready, form), 0);
  // The start button's caption, where the count stood; while counting, the
  // hidden button's place was ground.
  EXPECT_GT(DarkPixels(ready, BoxIn(ready, Native(form.Command1))), 0);
}

}  // namespace
