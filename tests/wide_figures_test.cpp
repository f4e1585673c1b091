// Free-space figures too wide for the design's result box (volumes of tens
// of terabytes and more): the whole figure shows, its box grows to the right
// and the window with it; figures that fit keep the design's layout.
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "screenshot.h"
#include "toolkit/references.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;

// C: answers with clusters of `clusterMiB` mebibytes, `freeClusters` of them
// free; every other drive gives no answer.
struct Volume {
  std::int32_t sectorsPerCluster, bytesPerSector, freeClusters;
};

class WideFigures : public testing::Test {
 protected:
  void SetUp() override {
    form.freeSpaceQuery = [this](const std::string& root, std::int32_t& spc, std::int32_t& bps,
                                 std::int32_t& nfc, std::int32_t& tnc) -> std::int32_t {
      if (root.front() != 'c') return 0;
      spc = c.sectorsPerCluster, bps = c.bytesPerSector, nfc = c.freeClusters, tnc = nfc;
      return 1;
    };
  }
  void TearDown() override {
    form.Unload();
    tk::Use<frmAbout>().Unload();
    Pump();
  }

  Form2& form = tk::Use<Form2>();
  Volume c{8, 512, 1000000};
};

TEST_F(WideFigures, TheWholeFigureShowsAndOnlyItsBoxAndTheWindowGrow) {
  struct Case {
    Volume volume;
    const char* figure;
    bool fitsTheDesign;
  };
  const Case cases[] = {
      {{8, 512, 1000000}, "3906MB", true},
      {{2048, 512, 9999999}, "9999999MB", true},         // 1 MiB clusters: the figure is the count
      {{2048, 512, 16660147}, "16660147MB", false},      // 16 TiB
      {{2048, 512, 104126418}, "104126418MB", false},    // 100 TiB
      {{2048, 512, 2147483647}, "2147483647MB", false},  // the most 1 MiB clusters there can be
      {{65536, 32768, 2147483647}, "4398046509056MB", false},  // the largest figure at all
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.figure);
    c = k.volume;
    form.Show();
    Native<QPushButton>(form.Command1)->click();  // a Refresh after a load, as a user would
    Pump(20);
    QWidget* window = tk::backend::NativeWindow(form);
    auto* label = Native<QLabel>(form.lbl1);
    ASSERT_EQ(label->text().toStdString(), k.figure);
    const QRect design = Pixels(form.lbl1.design().rect);
    EXPECT_TRUE(Fits(label->text(), label->font(), label->size(), true)) << "the figure is cut";
    EXPECT_EQ(label->geometry().topLeft(), design.topLeft());
    EXPECT_EQ(label->height(), design.height());
    EXPECT_LE(label->geometry().right(), window->width() - 1) << "the box sticks out";
    if (k.fitsTheDesign) {
      EXPECT_EQ(label->geometry(), design);
      EXPECT_EQ(window->size(), QSize(260, 183));
    } else {
      EXPECT_GT(label->width(), design.width());
      EXPECT_GE(window->width() - label->geometry().right() - 1, 260 - design.right() - 1)
          << "the design's margin on the right";
    }
    // The other lines keep their places.
    for (tk::Label* other : {&form.lbla, &form.lblFreeC, &form.lbl2, &form.lbl7}) {
      EXPECT_EQ(Native(*other)->geometry(), Pixels(other->design().rect));
    }
    Screenshot(form,
               "report-figure-" + std::to_string(std::string(k.figure).size() - 2) + "-digits.png");
    form.Unload();
    Pump();
  }
}

TEST_F(WideFigures, AFigureThatFitsAgainGetsTheDesignBoxBack) {
  c = {2048, 512, 104126418};
  form.Show();
  auto* label = Native<QLabel>(form.lbl1);
  const QRect design = Pixels(form.lbl1.design().rect);
  ASSERT_GT(label->width(), design.width());
  const int grown = tk::backend::NativeWindow(form)->width();
  c = {8, 512, 1000000};
  Native<QPushButton>(form.Command1)->click();
  EXPECT_EQ(label->text(), "3906MB");
  EXPECT_EQ(label->geometry(), design);
  EXPECT_EQ(tk::backend::NativeWindow(form)->width(), grown)
      << "the window never shrinks by itself";
}

}  // namespace
