// The report window on the real Qt backend.
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "screenshot.h"
#include "scripted_query.h"
#include "toolkit/references.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;
using namespace std::chrono_literals;

class ReportWindow : public testing::Test {
 protected:
  void SetUp() override {
    form.freeSpaceQuery = drives.Query();
    // Whether any window of the program was visible during a query.
    drives.onCall = [this](const survey::WhileWaiting&) {
      sawVisibleWindow = sawVisibleWindow || tk::Use<Form1>().Visible() ||
                         tk::Use<Form2>().Visible() || tk::Use<frmAbout>().Visible();
    };
    drives.answers = {{'c', {8, 512, 1000000, 2000000}}, {'d', {1, 2048, 0, 300000}}};
  }
  void TearDown() override {
    for (tk::Form* f :
         std::initializer_list<tk::Form*>{&tk::Use<Form1>(), &form, &tk::Use<frmAbout>()}) {
      f->Unload();
    }
    Pump();
    ASSERT_EQ(tk::LoadedWindows(), 0);
  }
  std::vector<std::string> Results() {
    std::vector<std::string> texts;
    for (tk::Label* l : {&form.lbla, &form.lblb, &form.lbl1, &form.lbl2, &form.lbl3, &form.lbl4,
                         &form.lbl5, &form.lbl6, &form.lbl7}) {
      texts.push_back(Native<QLabel>(*l)->text().toStdString());
    }
    return texts;
  }

  testing_survey::ScriptedQuery drives;
  bool sawVisibleWindow = false;
  Form2& form = tk::Use<Form2>();
};

TEST_F(ReportWindow, ControlsStandWhereTheDesignPutsThem) {
  form.Show();
  QWidget* window = tk::backend::NativeWindow(form);
  EXPECT_EQ(window->windowTitle(), "Free Space on Drives A: to I:");
  EXPECT_EQ(window->size(), QSize(260, 183));
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(255, 255, 255));
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_LT(window->minimumWidth(), window->maximumWidth()) << "the frame is sizable";
  int labels = 0, buttons = 0;
  for (tk::Control* control : form.controls()) {
    if (auto* label = dynamic_cast<tk::Label*>(control)) {
      ++labels;
      EXPECT_EQ(Native(*label)->geometry(), Pixels(label->design().rect))
          << label->design().caption;
      EXPECT_EQ(Native(*label)->focusPolicy(), Qt::NoFocus);
    } else if (auto* button = dynamic_cast<tk::CommandButton*>(control)) {
      ++buttons;
      EXPECT_EQ(Native(*button)->geometry(), Pixels(button->design().rect));
    }
  }
  EXPECT_EQ(labels, 18);
  EXPECT_EQ(buttons, 3);
  EXPECT_EQ(Pixels(form.lblFreeI.design().rect), QRect(8, 136, 161, 17));
  EXPECT_EQ(Pixels(form.Command3.design().rect), QRect(192, 160, 57, 17));
}

TEST_F(ReportWindow, FocusMovesAmongTheButtonsOnlyRefreshFirst) {
  form.Show();
  Activate(form);
  auto* refresh = Native<QPushButton>(form.Command1);
  auto* about = Native<QPushButton>(form.Command2);
  auto* exit = Native<QPushButton>(form.Command3);
  EXPECT_EQ(QApplication::focusWidget(), refresh);
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), about);
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), exit);
  PressKey(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), refresh);
}

TEST_F(ReportWindow, EveryTextFitsItsBoxWithTheInstalledFonts) {
  form.Show();
  std::vector<std::string> texts;
  for (tk::Control* control : form.controls()) {
    if (auto* label = dynamic_cast<tk::Label*>(control)) {
      auto* native = Native<QLabel>(*label);
      EXPECT_TRUE(Fits(QString::fromStdString(label->design().caption), native->font(),
                       native->size(), false))
          << label->design().caption;
      // The widest results a drive line shows.
      for (const char* result : {"1.39MB", "3906MB", "9999999MB", "n/a"}) {
        EXPECT_TRUE(Fits(result, native->font(), native->size(), false)) << result;
      }
    } else if (auto* button = dynamic_cast<tk::CommandButton*>(control)) {
      auto* native = Native<QPushButton>(*button);
      EXPECT_TRUE(Fits(native->text(), native->font(),
                       native->size() - QSize(tk::backend::kButtonMargins, 4), false))
          << button->design().caption;
    }
  }
}

TEST_F(ReportWindow, LoadFillsTheNineLinesBeforeTheWindowIsShown) {
  form.Show();
  EXPECT_EQ(drives.calls.size(), 9u);
  EXPECT_FALSE(sawVisibleWindow) << "the survey ran while a window was on screen";
  EXPECT_EQ(Results(), (std::vector<std::string>{"n/a", "n/a", "3906MB", "0MB", "n/a", "n/a", "n/a",
                                                 "n/a", "n/a"}));
  for (tk::Control* control : form.controls()) {
    if (auto* label = dynamic_cast<tk::Label*>(control)) {
      EXPECT_EQ(Native<QLabel>(*label)->text().indexOf("sString"), -1);
    }
  }
}

TEST_F(ReportWindow, RefreshRecomputesEveryLineFromFreshQueries) {
  drives.answers = {{'c', {8, 512, 160000, 1}}};
  form.Show();
  EXPECT_EQ(Results()[0], "n/a");
  // An empty floppy goes into A:; B: repeats it and stays n/a.
  drives.answers['a'] = {1, 512, 2847, 2880};
  Native<QPushButton>(form.Command1)->click();
  EXPECT_EQ(drives.calls.size(), 18u);
  EXPECT_EQ(Results(), (std::vector<std::string>{"1.39MB", "n/a", "625MB", "n/a", "n/a", "n/a",
                                                 "n/a", "n/a", "n/a"}));
  drives.answers.clear();
  Native<QPushButton>(form.Command1)->click();
  EXPECT_EQ(Results(), (std::vector<std::string>{"n/a", "n/a", "0MB", "n/a", "n/a", "n/a", "n/a",
                                                 "n/a", "n/a"}));
}

TEST_F(ReportWindow, EachDriveLineNamesTheVolumeThatAnsweredForIt) {
  drives.volumes = {{'a', "No volume has the letter A:"}, {'c', "/ (/dev/sda2)"}};
  form.Show();
  // The volume goes, another takes its letter: the tooltip follows the answer.
  drives.volumes['c'] = "/ (/dev/sdb1)";
  drives.volumes['i'] = "/mnt/share (server:/export)";
  Native<QPushButton>(form.Command1)->click();
  const std::vector<std::tuple<tk::Label*, tk::Label*, QString>> lines = {
      {&form.lblFreeA, &form.lbla, "No volume has the letter A:"},
      {&form.lblFreeC, &form.lbl1, "/ (/dev/sdb1)"},
      {&form.lblFreeD, &form.lbl2, ""},
      {&form.lblFreeI, &form.lbl7, "/mnt/share (server:/export)"}};
  for (const auto& [caption, result, volume] : lines) {
    EXPECT_EQ(Native<QLabel>(*caption)->toolTip(), volume) << caption->design().caption;
    EXPECT_EQ(Native<QLabel>(*result)->toolTip(), volume) << caption->design().caption;
  }
  EXPECT_EQ(form.lblFreeA.Caption(), "Number of Free Megabytes on A:") << "captions never change";
}

// Notes the nine result texts each time one of the result labels paints.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(std::vector<QLabel*> labels) : labels_(std::move(labels)) {
    for (QLabel* label : labels_) label->installEventFilter(this);
  }
  std::vector<std::vector<QString>> seen;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      std::vector<QString> texts;
      for (QLabel* label : labels_) texts.push_back(label->text());
      seen.push_back(texts);
    }
    return false;
  }

 private:
  std::vector<QLabel*> labels_;
};

// A Refresh with a volume that answers in 3 s: in the middle of the wait the
// window still shows the figures from before, under the busy cursor; at the
// end all nine change in one repaint, and no paint ever shows a mix, a
// figure before its marking, or a design caption.
TEST_F(ReportWindow, ARefreshShowsOnlyTheFiguresBeforeItAndThenAllTheNewOnes) {
  form.Show();
  Pump(50);
  const std::vector<std::string> before = Results();
  std::vector<QLabel*> labels;
  for (tk::Label* l : {&form.lbla, &form.lblb, &form.lbl1, &form.lbl2, &form.lbl3, &form.lbl4,
                       &form.lbl5, &form.lbl6, &form.lbl7})
    labels.push_back(Native<QLabel>(*l));
  PaintedTexts painted(labels);

  // After the Refresh: A: an empty floppy, C: smaller, D: slow and full.
  drives.answers = {{'a', {1, 512, 2847, 2880}}, {'c', {8, 512, 160000, 1}}};
  std::vector<std::string> midWait;
  bool busyMidWait = false;
  drives.onCall = [&](const survey::WhileWaiting& whileWaiting) {
    if (drives.calls.back().drive != 'd') return;
    testing_survey::SlowVolume(3000ms, whileWaiting, [&](std::chrono::milliseconds elapsed) {
      if (elapsed < 1500ms || !midWait.empty()) return;
      midWait = Results();
      const QCursor* cursor = QApplication::overrideCursor();
      busyMidWait = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
      Screenshot(form, "report-mid-refresh.png");
    });
  };
  Native<QPushButton>(form.Command1)->click();
  Pump(50);
  const std::vector<std::string> after = Results();

  EXPECT_EQ(midWait, before) << "the window changed before the survey's answer was in";
  EXPECT_TRUE(busyMidWait) << "no busy cursor during the wait";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
  EXPECT_EQ(after, (std::vector<std::string>{"1.39MB", "n/a", "625MB", "n/a", "n/a", "n/a", "n/a",
                                             "n/a", "n/a"}));
  ASSERT_FALSE(painted.seen.empty()) << "the window never painted";
  for (const std::vector<QString>& texts : painted.seen) {
    std::vector<std::string> shown;
    for (const QString& text : texts) shown.push_back(text.toStdString());
    EXPECT_TRUE(shown == before || shown == after) << testing::PrintToString(shown);
  }
}

TEST_F(ReportWindow, AboutTwiceGivesOneAboutBox) {
  form.Show();
  Native<QPushButton>(form.Command2)->click();
  frmAbout& about = tk::Use<frmAbout>();
  ASSERT_TRUE(about.Visible());
  QWidget* first = tk::backend::NativeWindow(about);
  about.lblTitle.SetCaption("marked");
  const int loaded = tk::LoadedWindows();
  Native<QPushButton>(form.Command2)->click();
  EXPECT_EQ(tk::backend::NativeWindow(about), first);
  EXPECT_EQ(tk::LoadedWindows(), loaded);
  EXPECT_EQ(about.lblTitle.Caption(), "marked") << "Form_Load ran again";
  EXPECT_TRUE(form.Visible()) << "the report stays usable";
  Native<QPushButton>(form.Command1)->click();
  EXPECT_EQ(drives.calls.size(), 18u);
}

TEST_F(ReportWindow, ExitUnloadsEveryWindowAndNeverShowsANewAboutBox) {
  Form1& notice = tk::Use<Form1>();
  notice.Show();
  notice.Hide();
  form.Show();
  const bool aboutWasLoaded = tk::Use<frmAbout>().Loaded();
  ASSERT_FALSE(aboutWasLoaded);
  Native<QPushButton>(form.Command3)->click();
  EXPECT_EQ(tk::LoadedWindows(), 0);
  EXPECT_FALSE(notice.Loaded());
  EXPECT_FALSE(tk::Use<frmAbout>().Loaded()) << "Exit loaded the About box";
}

TEST_F(ReportWindow, ExitWithTheAboutBoxOpenEndsTheProgram) {
  form.Show();
  Native<QPushButton>(form.Command2)->click();
  ASSERT_TRUE(tk::Use<frmAbout>().Visible());
  Native<QPushButton>(form.Command3)->click();
  EXPECT_EQ(tk::LoadedWindows(), 0);
}

TEST_F(ReportWindow, TheTitleBarCloseDoesWhatExitDoes) {
  tk::Use<Form1>().Show();
  tk::Use<Form1>().Hide();
  form.Show();
  Native<QPushButton>(form.Command2)->click();
  tk::backend::NativeWindow(form)->close();
  Pump();
  EXPECT_EQ(tk::LoadedWindows(), 0);
}

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

TEST_F(ReportWindow, TenThousandRefreshesDoNotGrowTheResidentMemory) {
  if (TAMBERLODE_SANITIZED)
    GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
  form.Show();
  auto* refresh = Native<QPushButton>(form.Command1);
  for (int i = 0; i < 500; ++i) refresh->click();  // let caches settle
  Pump();
  const long before = ResidentKilobytes();
  for (int i = 0; i < 10000; ++i) {
    drives.answers['e'] = {8, 512, i, 1};  // a line that changes every time
    drives.calls.clear();                  // the fake's own record must not grow
    refresh->click();
    if (i % 1000 == 0) Pump();
  }
  Pump();
  const long growth = ResidentKilobytes() - before;
  RecordProperty("resident_growth_kb", static_cast<int>(growth));
  EXPECT_LT(growth, 2048) << "resident memory grew by " << growth << " KiB";
}

TEST_F(ReportWindow, ScreenshotShowsEveryCaptionOnWhite) {
  form.Show();
  Pump(50);
  const QImage picture = Screenshot(form, "report.png");
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(CaptionsNotShown(picture, form), std::vector<std::string>());
  EXPECT_EQ(GroundNotWhite(picture, form), 0);
}

}  // namespace
