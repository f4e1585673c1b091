// The About window on the real Qt backend.
#include <malloc.h>

#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <algorithm>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "screenshot.h"
#include "toolkit/references.h"
#include "toolkit/testing.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;

// A registry with no keys: every System Info press ends in the message.
class NoRegistry final : public about::Registry {
 public:
  std::int32_t RegOpenKeyExA(about::RegistryKey, const char*, std::uint32_t, std::uint32_t,
                             about::RegistryKey&) override {
    return 2;
  }
  std::int32_t RegQueryValueExA(about::RegistryKey, const char*, std::uint32_t*, std::uint32_t&,
                                unsigned char*, std::uint32_t&) override {
    return 2;
  }
  std::int32_t RegCloseKey(about::RegistryKey) override { return 6; }
};

const std::string kUnavailable = "System Information Is Unavailable At This Time";

class AboutWindow : public testing::Test {
 protected:
  void SetUp() override {
    form.registry = &registry;
    previousHook_ =
        tk::testing::SetMessageBoxHook([this](const std::string& p) { prompts.push_back(p); });
    tk::Use<Form2>().freeSpaceQuery = [this](const std::string&, std::int32_t&, std::int32_t&,
                                             std::int32_t&, std::int32_t&) {
      ++queries;
      return 0;
    };
  }
  void TearDown() override {
    tk::testing::SetMessageBoxHook(previousHook_);
    form.registry = nullptr;
    form.Unload();
    tk::Use<Form2>().Unload();
    Pump();
    ASSERT_EQ(tk::LoadedWindows(), 0);
  }
  void Open() {
    form.Show();
    Activate(form);
  }

  frmAbout& form = tk::Use<frmAbout>();
  NoRegistry registry;
  std::vector<std::string> prompts;
  int queries = 0;

 private:
  tk::testing::MessageBoxHook previousHook_;
};

TEST_F(AboutWindow, AFixedDialogWithTheDesignsGeometry) {
  Open();
  QWidget* window = tk::backend::NativeWindow(form);
  EXPECT_EQ(window->size(), QSize(269, 237));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Native(form.picIcon)->geometry(), QRect(16, 16, 32, 32)) << "exactly the icon's size";
  EXPECT_EQ(Native(form.cmdOK)->geometry(), QRect(91, 175, 84, 23));
  EXPECT_EQ(Native(form.cmdSysInfo)->geometry(), QRect(92, 205, 83, 23));
  EXPECT_EQ(Native(form.lblDescription)->geometry(), QRect(8, 88, 235, 62));
  EXPECT_EQ(Native(form.lblTitle)->geometry(), QRect(72, 16, 115, 32));
  EXPECT_EQ(Native(form.lblVersion)->geometry(), QRect(72, 48, 115, 15));
  // The icon's 16-colour image, not its 2-colour one.
  const QImage icon = Native(form.picIcon)->grab().toImage();
  QSet<QRgb> colours;
  for (int y = 0; y < icon.height(); ++y) {
    for (int x = 0; x < icon.width(); ++x) colours.insert(icon.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 4);
  EXPECT_EQ(form.Line1(1).design().color, tk::Rgb(128, 128, 128));
  EXPECT_EQ(form.Line1(0).design().width, 2);
  for (tk::Label* label : {&form.lblDescription, &form.lblTitle, &form.lblVersion}) {
    auto* native = Native<QLabel>(*label);
    EXPECT_TRUE(Fits(native->text(), native->font(), native->size(), true))
        << label->design().caption;
  }
}

TEST_F(AboutWindow, TabOrderIsOkIconSystemInfoWithOkFocused) {
  Open();
  EXPECT_EQ(QApplication::focusWidget(), Native(form.cmdOK));
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Native(form.picIcon));
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Native(form.cmdSysInfo));
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Native(form.cmdOK));
}

TEST_F(AboutWindow, LoadWritesTitleAndVersionFromTheIdentity) {
  Open();
  QWidget* window = tk::backend::NativeWindow(form);
  EXPECT_EQ(window->windowTitle(), "About Tamberlode");
  EXPECT_EQ(Native<QLabel>(form.lblTitle)->text(), "Tamberlode");
  EXPECT_EQ(Native<QLabel>(form.lblVersion)->text(), "Version 0.1.0");
  EXPECT_EQ(Native<QPushButton>(form.cmdSysInfo)->text(), "&System Info...");
}

TEST_F(AboutWindow, KeysCloseItOrStartTheLauncherByWhereTheFocusIs) {
  struct Case {
    const char* name;
    int tabs;  // from cmdOK: 0 cmdOK, 1 picIcon, 2 cmdSysInfo
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool closes;
    bool launches;
  };
  const Case cases[] = {
      {"Enter on OK", 0, Qt::Key_Return, Qt::NoModifier, true, false},
      {"Enter on the icon", 1, Qt::Key_Return, Qt::NoModifier, true, false},
      {"Enter on System Info", 2, Qt::Key_Return, Qt::NoModifier, false, true},
      {"Esc on OK", 0, Qt::Key_Escape, Qt::NoModifier, true, false},
      {"Esc on the icon", 1, Qt::Key_Escape, Qt::NoModifier, true, false},
      {"Esc on System Info", 2, Qt::Key_Escape, Qt::NoModifier, true, false},
      {"Alt+S on OK", 0, Qt::Key_S, Qt::AltModifier, false, true},
      {"Alt+S on the icon", 1, Qt::Key_S, Qt::AltModifier, false, true},
  };
  for (const Case& c : cases) {
    prompts.clear();
    Open();
    for (int i = 0; i < c.tabs; ++i) PressKey(Qt::Key_Tab);
    PressKey(c.key, c.modifiers);
    EXPECT_EQ(!form.Loaded(), c.closes) << c.name;
    EXPECT_EQ(prompts,
              c.launches ? std::vector<std::string>{kUnavailable} : std::vector<std::string>{})
        << c.name;
    form.Unload();
  }
}

TEST_F(AboutWindow, SystemInfoLeavesTheWindowOpenAndUnchanged) {
  Open();
  Native<QPushButton>(form.cmdSysInfo)->click();
  Native<QPushButton>(form.cmdSysInfo)->click();
  EXPECT_EQ(prompts, (std::vector<std::string>{kUnavailable, kUnavailable}));
  EXPECT_TRUE(form.Visible());
  EXPECT_EQ(form.Caption(), "About Tamberlode");
}

TEST_F(AboutWindow, OkThenOpenAgainRunsTheLoadAgain) {
  Open();
  form.lblTitle.SetCaption("changed");
  Native<QPushButton>(form.cmdOK)->click();
  EXPECT_FALSE(form.Loaded());
  Open();
  EXPECT_EQ(form.lblTitle.Caption(), "Tamberlode");
  tk::backend::NativeWindow(form)->close();  // the title-bar close does what OK does
  Pump();
  EXPECT_FALSE(form.Loaded());
  EXPECT_EQ(&tk::Use<frmAbout>(), &form);
}

TEST_F(AboutWindow, TheReportStaysUsableWhileTheAboutBoxIsOpen) {
  Form2& report = tk::Use<Form2>();
  report.Show();
  Native<QPushButton>(report.Command2)->click();
  ASSERT_TRUE(form.Visible());
  Native<QPushButton>(report.Command1)->click();
  EXPECT_EQ(queries, 18);
  EXPECT_TRUE(form.Visible());
  Native<QPushButton>(report.Command3)->click();
  EXPECT_EQ(tk::LoadedWindows(), 0);
}

// Opened and closed all day, the About box must not grow the heap: the
// style's cache of button faces and Qt's accessibility cache once kept
// something of every button ever made (about 8 KiB a cycle at first).
TEST_F(AboutWindow, OpeningAndClosingAThousandTimesKeepsTheHeapFlat) {
  if (TAMBERLODE_SANITIZED) GTEST_SKIP() << "the sanitizer's allocator keeps its own count";
  Form2& report = tk::Use<Form2>();
  report.Show();
  const auto cycle = [&] {
    Native<QPushButton>(report.Command2)->click();
    Pump();
    tk::backend::NativeWindow(form)->grab();  // painted, as on screen
    Native<QPushButton>(form.cmdOK)->click();
    Pump();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  for (int i = 0; i < 100; ++i) cycle();  // fonts, styles and caches settle
  const std::size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 1000; ++i) cycle();
  const long growth = (static_cast<long>(mallinfo2().uordblks) - static_cast<long>(before)) / 1024;
  RecordProperty("heap_growth_kb", static_cast<int>(growth));
  EXPECT_LT(growth, 128) << "the heap grew by " << growth << " KiB over 1000 openings";
}

TEST_F(AboutWindow, ScreenshotShowsTheTextsAndTheSeparatorOnWhite) {
  Open();
  Pump(50);
  const QImage picture = Screenshot(form, "about.png");
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(CaptionsNotShown(picture, form), std::vector<std::string>());
  // The separator's grey shadow runs along one row from end to end (the row
  // of its design, or a neighbour where the scale rounds); the white
  // highlight below it is the ground's own colour.
  const qreal scale = picture.devicePixelRatio();
  const tk::Line::Design shadow = form.Line1(1).design();
  const int designed = qRound(shadow.y1 / 15.0 * scale);
  const int from = qRound(shadow.x1 / 15.0 * scale);
  const int to = std::min(qRound(shadow.x2 / 15.0 * scale), picture.width());
  ASSERT_LT(from + 100, to);
  int grey = 0;
  for (int row = designed - 2; row <= designed + 2; ++row) {
    int greyHere = 0;
    for (int x = from; x < to; ++x) greyHere += picture.pixel(x, row) == qRgb(128, 128, 128);
    grey = std::max(grey, greyHere);
  }
  EXPECT_EQ(grey, to - from) << "grey pixels of the separator near row " << designed;
  // Everything else outside the controls is the window's white.
  QList<int> lineRows;
  for (int y = designed - 2; y <= designed + qRound(3 * scale) + 2; ++y) lineRows << y;
  EXPECT_EQ(GroundNotWhite(picture, form, lineRows), 0);
}

}  // namespace
